#pragma once

#include <array>
#include <cstdint>

#include "CoresQuadro.hpp"
#include "RecursosFfmpeg.hpp"

namespace orbelo {

// Turns decoded pictures into 8-bit BGRA rows, one band of rows at a time, with
// the picture's own colour matrix and range (coresDe). The set-up is kept while
// pictures keep their size, format and colours.
class ConversaoRgb {
 public:
  // Rows per band: few enough that a band of a 4K picture stays in the CPU's
  // cache between its conversion and its upload.
  static constexpr int linhasPorFaixa = 32;

  // Converts rows [primeira, primeira + linhas) of `imagem` into `destino`, rows of
  // `passo` bytes, at least 4 × width each. `primeira` is a multiple of
  // linhasPorFaixa and `linhas` at most that. False when swscale cannot convert
  // the picture's format.
  bool converter(const AVFrame& imagem, int primeira, int linhas, std::uint8_t* destino, int passo);

 private:
  SwsContext* contextoPara(const AVFrame& imagem, int linhas);

  // A whole band, and the shorter last band of a picture whose height is no
  // multiple of the band's.
  std::array<Escala, 2> contextos;
  std::array<int, 2> linhasContexto{};
  int formato = -1;
  int largura = 0;
  CoresQuadro cores;
};

}  // namespace orbelo
