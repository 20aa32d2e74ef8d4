#pragma once

#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Libav.hpp"
#include "Processo.hpp"
#include "protocolo/LeitorMensagens.hpp"

namespace orbelo::teste {

inline constexpr std::string_view codigoTeste = "123456";

// orbelo-emissor on a free loopback port, ready to accept.
class EmissorTeste {
 public:
  // Adds --codigo, --porta 0 and --sem-anuncio unless `padroes` is false.
  explicit EmissorTeste(std::vector<std::string> argumentos, bool padroes = true,
                        const std::vector<std::string>& ambiente = {});
  Processo& processo() { return *emissor; }
  std::uint16_t porta() const { return porta_; }

 private:
  std::unique_ptr<Processo> emissor;
  std::uint16_t porta_ = 0;
};

// A receiver played by `openssl s_client` with the pairing code's pre-shared key.
class ClienteTls {
 public:
  // `extras` go at the end of s_client's command line, where they override earlier options.
  explicit ClienteTls(std::uint16_t porta, std::string_view codigo = codigoTeste,
                      const std::string& host = "127.0.0.1", const std::vector<std::string>& extras = {});

  // The next message; none when nothing came in `espera` or the stream ended.
  // Throws ErroProtocolo on a corrupt stream.
  std::optional<Mensagem> proxima(std::chrono::milliseconds espera = 10s);
  // The next message of this type, skipping the others.
  std::optional<Mensagem> proximaDoTipo(TipoMensagem tipo, std::chrono::milliseconds espera = 10s);
  void enviar(TipoMensagem tipo, VistaBytes payload = {});
  // Waits for the end of the stream, dropping what still comes; false on timeout.
  bool esperarFim(std::chrono::milliseconds espera = 10s);
  Processo& processo() { return cliente; }

 private:
  Processo cliente;
  LeitorMensagens leitor;
  std::deque<Mensagem> fila;
};

// libavcodec's H.264 decoder built the way a receiver builds it: the two records of a
// `parametros` payload as avcC extradata with 4-byte NAL lengths, errors reported.
class DecodificadorTeste {
 public:
  explicit DecodificadorTeste(VistaBytes parametros);

  struct Resultado {
    int erro = 0;
    int imagens = 0;  // pictures that came out
    int largura = 0;
    int altura = 0;
  };
  // One `quadro` payload's frame bytes (the flag byte already removed).
  Resultado decodificar(VistaBytes unidades);

 private:
  emissor::CodecPtr contexto;
  emissor::PacotePtr pacote;
  emissor::QuadroPtr imagem;
};

// The frame bytes of a `quadro` payload and its key-frame flag.
inline VistaBytes unidadesDe(const Bytes& quadro) {
  return VistaBytes(quadro).subspan(1);
}

Bytes payloadTela(std::uint32_t largura, std::uint32_t altura, std::uint32_t recursos);

}  // namespace orbelo::teste
