#include "TexturaYuv.hpp"

namespace orbelo {

std::optional<TexturaYuv> TexturaYuv::criar() {
  auto programa = ProgramaYuv::criar();
  if (!programa) {
    return std::nullopt;
  }
  return TexturaYuv(std::move(*programa));
}

TexturaYuv::TexturaYuv(ProgramaYuv programa) : programa(std::move(programa)) {
  for (std::size_t i = 0; i < planos.size(); ++i) {
    GLuint nome = 0;
    glGenTextures(1, &nome);
    planos[i] = Textura(nome);
    glBindTexture(GL_TEXTURE_2D, nome);
    // Each chroma sample covers its block of pixels, as in swscale's converter, so that
    // both paths show the same pixels at colour edges.
    const GLint filtro = i == 0 ? GL_LINEAR : GL_NEAREST;
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, filtro);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, filtro);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
  }
  glBindTexture(GL_TEXTURE_2D, 0);
}

bool TexturaYuv::aceita(const AVFrame& imagem) {
  switch (imagem.format) {
    case AV_PIX_FMT_YUV420P:
    case AV_PIX_FMT_YUVJ420P:
      break;
    default:
      return false;
  }
  // Rows bottom-up (a negative step) are left to swscale.
  for (int i = 0; i < 3; ++i) {
    if (!imagem.data[i] || imagem.linesize[i] <= 0) {
      return false;
    }
  }
  return imagem.width > 0 && imagem.height > 0;
}

bool TexturaYuv::enviar(const AVFrame& imagem) {
  if (!aceita(imagem)) {
    return false;
  }
  cores = coresDe(imagem);
  largura_ = imagem.width;
  altura_ = imagem.height;
  // Straight from the decoder's buffers, whose rows may be padded: nothing is staged.
  glBindBuffer(GL_PIXEL_UNPACK_BUFFER, 0);
  glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
  for (int i = 0; i < 3; ++i) {
    const bool croma = i > 0;
    const int largura = croma ? (largura_ + 1) / 2 : largura_;
    const int altura = croma ? (altura_ + 1) / 2 : altura_;
    const auto indice = static_cast<std::size_t>(i);
    glBindTexture(GL_TEXTURE_2D, planos[indice].nome());
    // Storage is kept while the size stays.
    if (larguras[indice] != largura || alturas[indice] != altura) {
      glTexImage2D(GL_TEXTURE_2D, 0, GL_R8, largura, altura, 0, GL_RED, GL_UNSIGNED_BYTE, nullptr);
      larguras[indice] = largura;
      alturas[indice] = altura;
    }
    glPixelStorei(GL_UNPACK_ROW_LENGTH, imagem.linesize[i]);
    glTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, largura, altura, GL_RED, GL_UNSIGNED_BYTE, imagem.data[i]);
  }
  glPixelStorei(GL_UNPACK_ROW_LENGTH, 0);
  glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
  glBindTexture(GL_TEXTURE_2D, 0);
  return true;
}

void TexturaYuv::desenhar(int x0, int y0, int x1, int y1) {
  GLint anterior[4] = {};
  glGetIntegerv(GL_VIEWPORT, anterior);
  glViewport(x0, y0, x1 - x0, y1 - y0);
  glDisable(GL_BLEND);
  for (std::size_t i = 0; i < planos.size(); ++i) {
    glActiveTexture(GL_TEXTURE0 + static_cast<GLenum>(i));
    glBindTexture(GL_TEXTURE_2D, planos[i].nome());
  }
  programa.desenhar(cores);
  for (std::size_t i = planos.size(); i-- > 0;) {
    glActiveTexture(GL_TEXTURE0 + static_cast<GLenum>(i));
    glBindTexture(GL_TEXTURE_2D, 0);
  }
  glViewport(anterior[0], anterior[1], anterior[2], anterior[3]);
}

}  // namespace orbelo
