#pragma once

#include <memory>
#include <variant>

#include "Codificador.hpp"

namespace orbelo::emissor {

// A synthetic moving picture: colour bands, a drifting gradient and a bouncing square.
class FontePadrao : public FonteVideo {
 public:
  static std::variant<std::unique_ptr<FonteVideo>, std::string> abrir(Tamanho tamanho, int quadrosPorSegundo);

  FontePadrao(Codificador codificador, Imagem imagem, Tamanho tamanho, int quadrosPorSegundo);

  Tamanho tamanho() const override { return tamanho_; }
  std::chrono::nanoseconds intervalo() const override;
  const Mensagens::Parametros& parametros() const override { return codificador.parametros(); }
  Lote proximos(bool keyframe) override;

 private:
  void desenhar();

  Codificador codificador;
  Imagem imagem;
  // Rows the picture is copied from: the luma gradient and the chroma of the colour bands.
  Bytes rampa;
  Bytes linhaU;
  Bytes linhaV;
  Tamanho tamanho_;
  int quadrosPorSegundo;
  std::int64_t numero = 0;
};

}  // namespace orbelo::emissor
