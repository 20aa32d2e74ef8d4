#include "TexturaRgb.hpp"

#include <algorithm>
#include <cstddef>

namespace orbelo {

namespace {

constexpr int bytesPorPixel = 4;
// swscale's SIMD converters write whole blocks of pixels, past the width of a row
// that is not a multiple of the block: rows are padded to a multiple of 64 pixels.
constexpr int alinhamentoLinha = 64 * bytesPorPixel;

template <typename Objeto>
Objeto gerar(void (*criar)(GLsizei, GLuint*)) {
  GLuint nome = 0;
  criar(1, &nome);
  return Objeto(nome);
}

}  // namespace

TexturaRgb::TexturaRgb()
    : textura(gerar<Textura>(glGenTextures)), leitura(gerar<Framebuffer>(glGenFramebuffers)) {
  glBindTexture(GL_TEXTURE_2D, textura.nome());
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
  glBindTexture(GL_TEXTURE_2D, 0);
}

void TexturaRgb::alocar(int largura, int altura) {
  // Unsized GL_RGBA with BGRA bytes lets the driver keep the bytes as they come,
  // so neither the upload nor the blit converts anything.
  glBindTexture(GL_TEXTURE_2D, textura.nome());
  glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, largura, altura, 0, GL_BGRA, GL_UNSIGNED_BYTE, nullptr);
  glBindTexture(GL_TEXTURE_2D, 0);

  GLint anterior = 0;
  glGetIntegerv(GL_READ_FRAMEBUFFER_BINDING, &anterior);
  glBindFramebuffer(GL_READ_FRAMEBUFFER, leitura.nome());
  glFramebufferTexture2D(GL_READ_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, textura.nome(), 0);
  glBindFramebuffer(GL_READ_FRAMEBUFFER, static_cast<GLuint>(anterior));

  passo = (largura * bytesPorPixel + alinhamentoLinha - 1) / alinhamentoLinha * alinhamentoLinha;
  faixa.assign(std::size_t(passo) * ConversaoRgb::linhasPorFaixa, 0);
  largura_ = largura;
  altura_ = altura;
}

bool TexturaRgb::enviar(const AVFrame& imagem, ConversaoRgb& conversao) {
  if (imagem.width <= 0 || imagem.height <= 0) {
    return false;
  }
  if (imagem.width != largura_ || imagem.height != altura_) {
    alocar(imagem.width, imagem.height);
  }
  // Client memory, not a pixel buffer: the driver copies each band at once, so the
  // call never waits for the GPU, and the band is reused right away.
  glBindBuffer(GL_PIXEL_UNPACK_BUFFER, 0);
  glPixelStorei(GL_UNPACK_ROW_LENGTH, passo / bytesPorPixel);
  glPixelStorei(GL_UNPACK_ALIGNMENT, bytesPorPixel);
  glBindTexture(GL_TEXTURE_2D, textura.nome());
  bool convertido = true;
  for (int primeira = 0; primeira < altura_ && convertido; primeira += ConversaoRgb::linhasPorFaixa) {
    const int linhas = std::min(ConversaoRgb::linhasPorFaixa, altura_ - primeira);
    convertido = conversao.converter(imagem, primeira, linhas, faixa.data(), passo);
    if (convertido) {
      glTexSubImage2D(GL_TEXTURE_2D, 0, 0, primeira, largura_, linhas, GL_BGRA, GL_UNSIGNED_BYTE,
                      faixa.data());
    }
  }
  glPixelStorei(GL_UNPACK_ROW_LENGTH, 0);
  glBindTexture(GL_TEXTURE_2D, 0);
  return convertido;
}

void TexturaRgb::copiar(int x0, int y0, int x1, int y1) const {
  GLint anterior = 0;
  glGetIntegerv(GL_READ_FRAMEBUFFER_BINDING, &anterior);
  glBindFramebuffer(GL_READ_FRAMEBUFFER, leitura.nome());
  // Texture row 0 is the picture's top row, hence the destination's y runs down.
  const bool mesmoTamanho = x1 - x0 == largura_ && y1 - y0 == altura_;
  glBlitFramebuffer(0, 0, largura_, altura_, x0, y1, x1, y0, GL_COLOR_BUFFER_BIT,
                    mesmoTamanho ? GL_NEAREST : GL_LINEAR);
  glBindFramebuffer(GL_READ_FRAMEBUFFER, static_cast<GLuint>(anterior));
}

}  // namespace orbelo
