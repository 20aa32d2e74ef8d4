#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <initializer_list>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "emissor/Processo.hpp"
#include "protocolo/Protocolo.hpp"

// The real programs and peers an end-to-end case puts together, each ended when its
// owner goes out of scope.
namespace orbelo::e2e {

using namespace std::chrono_literals;
using teste::Processo;

inline constexpr std::string_view codigoCerto = "123456";
// Long enough for a wired attempt to give way (3 s) and a dial to finish on a loaded machine.
inline constexpr auto esperaLinha = 30s;

// D-Bus, avahi-daemon on loopback only and the X display named by DISPLAY (or the
// services script's own when DISPLAY is unset). Idempotent.
void prepararServicos();

// A TCP port on 127.0.0.1 that nothing listens on right now.
std::uint16_t portaLivre();
bool escutando(std::uint16_t porta);

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

// orbelo with its own configuration folder. When it goes, it checks what a person
// would: nothing on standard error, and only the receiver's own lines on standard output.
class Orbelo {
 public:
  Orbelo(const PastaTemporaria& configuracao, std::vector<std::string> argumentos);
  Orbelo(const Orbelo&) = delete;
  Orbelo& operator=(const Orbelo&) = delete;
  ~Orbelo();

  std::optional<std::string> esperarLinha(const std::string& prefixo,
                                          std::chrono::milliseconds espera = esperaLinha);
  // The next line that starts with any of `prefixos`.
  std::optional<std::string> esperarLinha(std::initializer_list<std::string_view> prefixos,
                                          std::chrono::milliseconds espera = esperaLinha);
  // Exit status once it has ended by itself within `espera`.
  std::optional<int> fim(std::chrono::milliseconds espera) { return processo.esperarFim(espera); }

 private:
  Processo processo;
};

// orbelo-emissor on loopback, ready to accept once constructed.
class Emissor {
 public:
  struct Opcoes {
    std::vector<std::string> extras;
    std::uint16_t porta = 0;  // 0: any free port
    bool anunciar = false;    // through avahi-daemon
  };
  explicit Emissor(Opcoes opcoes);

  std::optional<std::string> esperarLinha(const std::string& prefixo,
                                          std::chrono::milliseconds espera = esperaLinha);
  std::uint16_t porta() const { return porta_; }

 private:
  std::unique_ptr<Processo> processo;
  std::uint16_t porta_ = 0;
};

// `openssl s_server` with the pre-shared key of a code: what it writes to the receiver
// comes from its standard input, what the receiver sends appears on its standard output.
class ServidorPsk {
 public:
  explicit ServidorPsk(std::string_view codigo = codigoCerto);

  std::uint16_t porta() const { return porta_; }
  // The first `quantos` bytes the receiver sent, or fewer when time ran out.
  Bytes recebidos(std::size_t quantos, std::chrono::milliseconds espera = esperaLinha);
  // Payload of the first message of this type the receiver sent, searched from the start.
  std::optional<Bytes> mensagem(TipoMensagem tipo, std::chrono::milliseconds espera = esperaLinha);
  void enviar(VistaBytes dados) { processo->escrever(dados); }
  // Gone at once, as a sender that crashes.
  void encerrar() { processo.reset(); }

 private:
  // False once the time is up or the output has ended.
  bool receberMais(std::chrono::steady_clock::time_point limite);

  std::uint16_t porta_;
  std::unique_ptr<Processo> processo;
  Bytes recebidos_;
};

// A TCP listener that accepts and never answers: a sender stuck before the handshake.
class OuvinteMudo {
 public:
  OuvinteMudo();
  OuvinteMudo(const OuvinteMudo&) = delete;
  OuvinteMudo& operator=(const OuvinteMudo&) = delete;
  ~OuvinteMudo();

  std::uint16_t porta() const { return porta_; }
  // Waits for a peer and the first bytes it sends; false on timeout.
  bool aceitar(std::chrono::milliseconds espera = esperaLinha);
  // The accepted peer closed its end within `espera`.
  bool pareFechou(std::chrono::milliseconds espera);
  // Another peer knocked within `espera`.
  bool outraConexao(std::chrono::milliseconds espera);

 private:
  int escuta = -1;
  int par = -1;
  std::uint16_t porta_ = 0;
};

// The receiver's preferences file in `configuracao`; none when missing or not JSON.
std::optional<nlohmann::json> lerPreferencias(const PastaTemporaria& configuracao);
std::filesystem::path caminhoPreferencias(const PastaTemporaria& configuracao);

}  // namespace orbelo::e2e
