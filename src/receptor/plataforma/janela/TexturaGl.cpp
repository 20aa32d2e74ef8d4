#include "TexturaGl.hpp"

namespace orbelo {

TexturaGl::TexturaGl(const ImagemCursor& imagem) {
  glGenTextures(1, &id_);
  glBindTexture(GL_TEXTURE_2D, id_);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR_MIPMAP_LINEAR);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
  // The video path may leave its own unpacking state behind.
  glPixelStorei(GL_UNPACK_ROW_LENGTH, 0);
  glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
  glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, imagem.largura, imagem.altura, 0, GL_RGBA, GL_UNSIGNED_BYTE,
               imagem.rgba.data());
  glGenerateMipmap(GL_TEXTURE_2D);
}

TexturaGl::~TexturaGl() {
  glDeleteTextures(1, &id_);
}

}  // namespace orbelo
