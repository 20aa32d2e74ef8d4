#include "TexturaRgb.hpp"

#include <cstddef>
#include <cstdint>

namespace orbelo {

namespace {

constexpr int bytesPorPixel = 4;

template <typename Objeto>
Objeto gerar(void (*criar)(GLsizei, GLuint*)) {
  GLuint nome = 0;
  criar(1, &nome);
  return Objeto(nome);
}

}  // namespace

TexturaRgb::TexturaRgb()
    : textura(gerar<Textura>(glGenTextures)),
      pixels(gerar<Buffer>(glGenBuffers)),
      leitura(gerar<Framebuffer>(glGenFramebuffers)) {
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

  glBindBuffer(GL_PIXEL_UNPACK_BUFFER, pixels.nome());
  glBufferData(GL_PIXEL_UNPACK_BUFFER,
               static_cast<GLsizeiptr>(std::size_t(largura) * std::size_t(altura) * bytesPorPixel), nullptr,
               GL_STREAM_DRAW);
  glBindBuffer(GL_PIXEL_UNPACK_BUFFER, 0);
  largura_ = largura;
  altura_ = altura;
}

bool TexturaRgb::enviar(const AVFrame& quadro, ConversaoRgb& conversao) {
  if (quadro.width <= 0 || quadro.height <= 0) {
    return false;
  }
  if (quadro.width != largura_ || quadro.height != altura_) {
    alocar(quadro.width, quadro.height);
  }
  const int passo = largura_ * bytesPorPixel;
  const auto tamanho = static_cast<GLsizeiptr>(std::size_t(passo) * std::size_t(altura_));
  glBindBuffer(GL_PIXEL_UNPACK_BUFFER, pixels.nome());
  // Invalidating lets the driver hand out fresh memory instead of waiting for
  // the previous upload to finish reading it.
  auto* destino = static_cast<std::uint8_t*>(
      glMapBufferRange(GL_PIXEL_UNPACK_BUFFER, 0, tamanho, GL_MAP_WRITE_BIT | GL_MAP_INVALIDATE_BUFFER_BIT));
  bool convertido = destino != nullptr && conversao.converter(quadro, destino, passo);
  if (destino != nullptr && glUnmapBuffer(GL_PIXEL_UNPACK_BUFFER) != GL_TRUE) {
    convertido = false;
  }
  if (convertido) {
    glPixelStorei(GL_UNPACK_ALIGNMENT, bytesPorPixel);
    glBindTexture(GL_TEXTURE_2D, textura.nome());
    glTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, largura_, altura_, GL_BGRA, GL_UNSIGNED_BYTE, nullptr);
    glBindTexture(GL_TEXTURE_2D, 0);
  }
  glBindBuffer(GL_PIXEL_UNPACK_BUFFER, 0);
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
