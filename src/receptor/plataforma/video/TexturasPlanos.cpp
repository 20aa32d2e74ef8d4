#include "TexturasPlanos.hpp"

extern "C" {
#include <libavutil/common.h>
#include <libavutil/pixdesc.h>
}

namespace orbelo {

TexturasPlanos::TexturasPlanos() {
  for (auto& plano : planos) {
    GLuint nome = 0;
    glGenTextures(1, &nome);
    plano.textura = Textura(nome);
    glBindTexture(GL_TEXTURE_2D, nome);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
  }
  glBindTexture(GL_TEXTURE_2D, 0);
}

void TexturasPlanos::enviar(const AVFrame& quadro) {
  const AVPixFmtDescriptor* descricao = av_pix_fmt_desc_get(static_cast<AVPixelFormat>(quadro.format));
  glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
  for (int i = 0; i < 3; ++i) {
    Plano& plano = planos[i];
    const int largura = i == 0 ? quadro.width : AV_CEIL_RSHIFT(quadro.width, descricao->log2_chroma_w);
    const int altura = i == 0 ? quadro.height : AV_CEIL_RSHIFT(quadro.height, descricao->log2_chroma_h);
    // Decoder rows are padded; the row length skips the padding without a copy.
    glPixelStorei(GL_UNPACK_ROW_LENGTH, quadro.linesize[i]);
    glBindTexture(GL_TEXTURE_2D, plano.textura.nome());
    if (largura == plano.largura && altura == plano.altura) {
      glTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, largura, altura, GL_RED, GL_UNSIGNED_BYTE, quadro.data[i]);
    } else {
      glTexImage2D(GL_TEXTURE_2D, 0, GL_R8, largura, altura, 0, GL_RED, GL_UNSIGNED_BYTE, quadro.data[i]);
      plano.largura = largura;
      plano.altura = altura;
    }
  }
  // Back to the defaults that other drawing on this context expects.
  glPixelStorei(GL_UNPACK_ROW_LENGTH, 0);
  glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
  glBindTexture(GL_TEXTURE_2D, 0);
}

void TexturasPlanos::ligar() const {
  for (int i = 0; i < 3; ++i) {
    glActiveTexture(GL_TEXTURE0 + i);
    glBindTexture(GL_TEXTURE_2D, planos[i].textura.nome());
  }
  glActiveTexture(GL_TEXTURE0);
}

}  // namespace orbelo
