#pragma once

#include <memory>
#include <variant>

#include "Codificador.hpp"
#include "Entrada.hpp"

namespace orbelo::emissor {

// Any decodable input (a file in another codec, an X11 screen) decoded, scaled to
// YUV420P and encoded again. A file loops at its end.
class FonteTranscodificada : public FonteVideo {
 public:
  static std::variant<std::unique_ptr<FonteVideo>, std::string> abrir(Entrada entrada, int quadrosPorSegundo,
                                                                      bool ponteiroSeparado);

  FonteTranscodificada(Entrada entrada, ContextoCodec decodificador, Codificador codificador, Tamanho tamanho,
                       int quadrosPorSegundo, bool ponteiroSeparado);

  Tamanho tamanho() const override { return tamanho_; }
  std::chrono::nanoseconds intervalo() const override;
  const Mensagens::Parametros& parametros() const override { return codificador.parametros(); }
  bool ponteiroSeparado() const override { return ponteiroSeparado_; }
  Lote proximos(bool keyframe) override;

 private:
  // Decodes until a picture comes out, feeding packets and starting the input over at its end.
  std::optional<std::string> decodificar();
  bool escalar();

  Entrada entrada;
  ContextoCodec decodificador;
  Codificador codificador;
  Escala escala;
  Pacote pacote;
  Imagem decodificado;
  Imagem imagem;
  Tamanho tamanho_;
  int quadrosPorSegundo;
  bool ponteiroSeparado_;
};

}  // namespace orbelo::emissor
