#pragma once

// What the tests that run real programs share: child processes and their output lines,
// orbelo with a configuration folder of its own, orbelo-emissor, a TLS-PSK peer in the
// test itself, /proc probes and H.264 streams made with ffmpeg.
#include <sys/types.h>

#include <chrono>
#include <deque>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Fonte.hpp"
#include "Servidor.hpp"
#include "protocolo/LeitorMensagens.hpp"
#include "protocolo/Mensagens.hpp"

namespace orbelo::teste {

using namespace std::chrono_literals;
inline constexpr std::string_view codigoTeste = "123456";

// A child process with its standard input, output and error on pipes; ended with it.
class Processo {
 public:
  explicit Processo(const std::vector<std::string>& argumentos,
                    const std::vector<std::string>& ambiente = {});
  Processo(const Processo&) = delete;
  Processo& operator=(const Processo&) = delete;
  virtual ~Processo();

  pid_t id() const { return pid; }
  void escrever(VistaBytes dados);
  // Output bytes that arrive within `espera`; empty at the end of the output.
  Bytes ler(std::chrono::milliseconds espera);
  bool saidaTerminou() const { return fimSaida; }
  // The first line from now on that starts with one of `prefixos`, waiting up to `espera`.
  std::optional<std::string> esperarLinha(std::initializer_list<std::string_view> prefixos,
                                          std::chrono::milliseconds espera = 30s);
  std::optional<std::string> esperarLinha(std::string_view prefixo, std::chrono::milliseconds espera = 30s) {
    return esperarLinha({prefixo}, espera);
  }
  const std::vector<std::string>& linhas() const { return todas; }
  // Exit status (128 + signal when killed), waiting up to `espera`; none while it runs.
  std::optional<int> esperarFim(std::chrono::milliseconds espera = 15s);
  std::string erros();

 private:
  pid_t pid = -1;
  int entrada = -1, saida = -1, erro = -1;
  bool fimSaida = false;
  std::string pendente;
  std::vector<std::string> todas;
  std::size_t lidas = 0;
  std::optional<int> status;
};

// A fresh folder, removed with whatever is in it; open to others, so that a child without
// privileges reaches what a test prepares inside.
class PastaTemporaria {
 public:
  PastaTemporaria();
  PastaTemporaria(const PastaTemporaria&) = delete;
  PastaTemporaria& operator=(const PastaTemporaria&) = delete;
  ~PastaTemporaria();
  const std::filesystem::path& caminho() const { return caminho_; }
  std::filesystem::path operator/(std::string_view nome) const { return caminho_ / nome; }

 private:
  std::filesystem::path caminho_;
};

// Starts (idempotently) D-Bus, avahi-daemon on loopback and the X display named by
// DISPLAY, or the script's own, which it then exports. Returns the display.
std::string prepararServicos();

// orbelo with `configuracao` as its XDG_CONFIG_HOME and, as XDG_RUNTIME_DIR, `execucao` or a
// private folder of its own inside `configuracao`, so that only receivers given the same
// `execucao` see each other as already open, and `mais` added to its environment. When it
// goes, it checks what a person would:
// nothing on standard error, and only the receiver's own lines on standard output.
class Orbelo : public Processo {
 public:
  Orbelo(const std::filesystem::path& configuracao, std::vector<std::string> argumentos,
         const std::optional<std::filesystem::path>& execucao = std::nullopt,
         std::vector<std::string> mais = {});
  ~Orbelo() override;
};

// orbelo's arguments to dial a sender on this machine, in a window, with the test code.
std::vector<std::string> discar(std::uint16_t porta);

// orbelo-emissor with the test code, on a free loopback port unless `argumentos` name one, run
// under the command `sob` when given; ready once constructed: it has printed "Ouvindo em <address>:<port>".
class Emissor : public Processo {
 public:
  explicit Emissor(const std::vector<std::string>& argumentos, bool anunciar = false,
                   std::vector<std::string> sob = {});
  std::uint16_t porta() const { return porta_; }

 private:
  std::uint16_t porta_ = 0;
};

// The pre-shared key of a pairing code, in hex, as openssl's command line takes it.
std::string chaveHex(std::string_view codigo);

// The reference sender's TLS-PSK server on 127.0.0.1, for the test code.
std::unique_ptr<emissor::Servidor> servidorPsk(std::uint16_t porta = 0,
                                               std::string_view codigo = codigoTeste);

// One receiver's connection to such a server, read message by message.
class SessaoPsk {
 public:
  // The next receiver to come; closed when its handshake fails.
  explicit SessaoPsk(emissor::Servidor& servidor) : conexao(servidor.aceitar()) {}
  bool aberta() const { return conexao != nullptr; }
  // The whole buffer, or false when the receiver is gone.
  bool enviar(VistaBytes dados) { return conexao->enviar(dados); }
  // The next complete message; none on timeout or at the end of the stream.
  std::optional<Mensagem> receber(std::chrono::milliseconds espera);

 private:
  std::shared_ptr<emissor::CanalTls> conexao;
  LeitorMensagens leitor;
  std::deque<Mensagem> recebidas;
};

// What the kernel says about a running process.
struct Memoria {
  long rssKib = 0;    // resident now
  long picoKib = 0;   // highest resident so far
  long dadosKib = 0;  // data and heap mappings, touched or not
};
Memoria memoria(pid_t processo);
// Its TCP and UDP sockets as "tcp 0100007F:1CFC 0A": protocol, local address, state (0A: LISTEN).
std::vector<std::string> soquetes(pid_t processo);

bool esperar(const std::function<bool()>& condicao, std::chrono::milliseconds espera = 20s);

Bytes lerArquivo(const std::filesystem::path& arquivo);
std::string conteudo(const std::filesystem::path& arquivo);
// Creates the folders on the way.
void escrever(const std::filesystem::path& arquivo, const std::string& texto);
std::vector<std::string> nomesEm(const std::filesystem::path& pasta);
// Runs `acao` in a child process that file permissions bind (as root it first becomes
// nobody) and returns the lines it printed through the printer it was given.
std::vector<std::string> semPrivilegios(
    const std::function<void(const std::function<void(std::string_view)>&)>& acao);
// `ffmpeg -y ARGUMENTOS`, quietly; throws when it fails.
void ffmpeg(const std::string& argumentos);

// A stream as a sender delivers it: parameter sets apart, one picture per frame.
struct FluxoH264 {
  Mensagens::Parametros parametros;
  std::vector<emissor::QuadroCodificado> quadros;  // NAL units behind 4-byte big-endian lengths
  std::filesystem::path arquivo;                   // the Annex B file it came from
};
// The lavfi graph `fonte` encoded with libx264 as a live sender does (no B-frames), plus `opcoes`.
FluxoH264 codificar(const PastaTemporaria& pasta, const std::string& fonte, const std::string& opcoes);

}  // namespace orbelo::teste
