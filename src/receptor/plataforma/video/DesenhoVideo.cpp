#include "DesenhoVideo.hpp"

#include <chrono>
#include <cmath>

#include "EscolhaConversao.hpp"
#include "receptor/Geometria.hpp"

namespace orbelo {

namespace {

// Black over one rectangle, if it has any area; the scissor test must be on.
void limpar(int x, int y, int largura, int altura) {
  if (largura <= 0 || altura <= 0) {
    return;
  }
  glScissor(x, y, largura, altura);
  glClear(GL_COLOR_BUFFER_BIT);
}

}  // namespace

DesenhoVideo::DesenhoVideo(DecodificadorVideo& decodificador, MedicaoQuadros* medicao)
    : decodificador(decodificador),
      medicao(medicao),
      texturaYuv(conversaoDoContexto() == Conversao::gpu ? TexturaYuv::criar() : std::nullopt),
      imagem(av_frame_alloc()) {}

void DesenhoVideo::atualizar() {
  switch (decodificador.tomarImagem(*imagem)) {
    case ImagemMaisNova::Novidade::nova:
      // A picture that cannot be converted is not shown: black rather than half a picture.
      naGpu = texturaYuv && TexturaYuv::aceita(*imagem);
      temImagem = naGpu ? texturaYuv->enviar(*imagem) : textura.enviar(*imagem, conversao);
      if (temImagem) {
        aApresentar = imagem->pts;
      } else {
        aApresentar.reset();
      }
      // The texture holds a copy now; the buffer goes back to the decoder's pool.
      av_frame_unref(imagem.get());
      break;
    case ImagemMaisNova::Novidade::removida:
      temImagem = false;
      aApresentar.reset();
      break;
    case ImagemMaisNova::Novidade::nenhuma:
      break;
  }
}

void DesenhoVideo::apresentado() {
  if (medicao && medicao->ligada() && aApresentar) {
    medicao->apresentado(static_cast<std::uint64_t>(*aApresentar), std::chrono::steady_clock::now());
  }
  aApresentar.reset();
}

void DesenhoVideo::desenhar(int largura, int altura) {
  atualizar();
  glViewport(0, 0, largura, altura);
  glClearColor(0, 0, 0, 1);
  if (!temImagem || largura <= 0 || altura <= 0) {
    glDisable(GL_SCISSOR_TEST);
    glClear(GL_COLOR_BUFFER_BIT);
    return;
  }

  const Retangulo area = ajustarProporcao(naGpu ? texturaYuv->largura() : textura.largura(),
                                          naGpu ? texturaYuv->altura() : textura.altura(),
                                          Retangulo{0, 0, double(largura), double(altura)});
  // Whole pixels, rounding the edges rather than the size so the bars stay even.
  const auto x0 = static_cast<int>(std::lround(area.x));
  const auto y0 = static_cast<int>(std::lround(area.y));
  const auto x1 = static_cast<int>(std::lround(area.x + area.largura));
  const auto y1 = static_cast<int>(std::lround(area.y + area.altura));

  // Only the bars are cleared: under the picture every pixel would be written twice.
  glEnable(GL_SCISSOR_TEST);
  limpar(0, 0, x0, altura);
  limpar(x1, 0, largura - x1, altura);
  limpar(x0, 0, x1 - x0, y0);
  limpar(x0, y1, x1 - x0, altura - y1);
  // The blit and the quad honour the scissor too.
  glDisable(GL_SCISSOR_TEST);
  if (naGpu) {
    texturaYuv->desenhar(x0, y0, x1, y1);
  } else {
    textura.copiar(x0, y0, x1, y1);
  }
}

}  // namespace orbelo
