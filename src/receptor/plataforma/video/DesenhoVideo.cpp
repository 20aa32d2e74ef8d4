#include "DesenhoVideo.hpp"

#include <cmath>

#include "receptor/Geometria.hpp"

namespace orbelo {

namespace {

ArranjoVertices criarArranjo() {
  GLuint nome = 0;
  glGenVertexArrays(1, &nome);
  return ArranjoVertices(nome);
}

}  // namespace

std::unique_ptr<DesenhoVideo> DesenhoVideo::criar(DecodificadorVideo& decodificador) {
  auto programa = ProgramaYuv::criar();
  if (!programa) {
    return nullptr;
  }
  return std::make_unique<DesenhoVideo>(decodificador, std::move(*programa));
}

DesenhoVideo::DesenhoVideo(DecodificadorVideo& decodificador, ProgramaYuv programa)
    : decodificador(decodificador),
      programa(std::move(programa)),
      arranjo(criarArranjo()),
      quadro(av_frame_alloc()) {}

void DesenhoVideo::atualizar() {
  switch (decodificador.tomarImagem(*quadro)) {
    case ImagemMaisNova::Novidade::nova:
      texturas.enviar(*quadro);
      conversao = conversaoPara(*quadro);
      larguraImagem = quadro->width;
      alturaImagem = quadro->height;
      temImagem = true;
      // The textures hold a copy now; the buffer goes back to the decoder's pool.
      av_frame_unref(quadro.get());
      break;
    case ImagemMaisNova::Novidade::removida:
      temImagem = false;
      break;
    case ImagemMaisNova::Novidade::nenhuma:
      break;
  }
}

bool DesenhoVideo::desenhar(int largura, int altura) {
  atualizar();

  glViewport(0, 0, largura, altura);
  glDisable(GL_SCISSOR_TEST);
  glClearColor(0, 0, 0, 1);
  glClear(GL_COLOR_BUFFER_BIT);
  if (!temImagem || largura <= 0 || altura <= 0) {
    return false;
  }

  const Retangulo area =
      ajustarProporcao(larguraImagem, alturaImagem, Retangulo{0, 0, double(largura), double(altura)});
  // Whole pixels, rounding the edges rather than the size so the bars stay even.
  const auto x0 = std::lround(area.x);
  const auto y0 = std::lround(area.y);
  const auto x1 = std::lround(area.x + area.largura);
  const auto y1 = std::lround(area.y + area.altura);
  glViewport(static_cast<GLint>(x0), static_cast<GLint>(y0), static_cast<GLsizei>(x1 - x0),
             static_cast<GLsizei>(y1 - y0));

  glDisable(GL_BLEND);
  glDisable(GL_DEPTH_TEST);
  glDisable(GL_CULL_FACE);
  programa.usar(conversao);
  texturas.ligar();
  glBindVertexArray(arranjo.nome());
  glDrawArrays(GL_TRIANGLE_STRIP, 0, 4);
  glBindVertexArray(0);
  glViewport(0, 0, largura, altura);
  return true;
}

}  // namespace orbelo
