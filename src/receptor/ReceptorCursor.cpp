#include <utility>

#include "Geometria.hpp"
#include "Receptor.hpp"

namespace orbelo {

void Receptor::moverCursor() {
  afirmarNoPrincipal();
  {
    std::lock_guard trava(travaPosicao);
    cursorPosicao = posicaoPendente;
    posicaoPendente.reset();
  }
  posicionarCursor();
}

void Receptor::posicionarCursor() {
  afirmarNoPrincipal();
  if (!tamanhoVideo || !cursorPosicao || !cursorForma || !cursorPosicao->visivel || !tela.avisoOculto ||
      !tela.pareamentoOculto) {
    tela.cursorOculto = true;
    return;
  }
  // Where the aspect-fit picture lands; the content's origin is its bottom-left corner.
  const Retangulo video = ajustarProporcao(tamanhoVideo->largura, tamanhoVideo->altura,
                                           Retangulo{0, 0, tela.larguraConteudo, tela.alturaConteudo});
  const double largura = cursorForma->largura * video.largura;
  const double altura = cursorForma->altura * video.altura;
  const double pontaX = video.x + cursorPosicao->x * video.largura;
  // The wire's y grows downward, ours upward.
  const double pontaY = video.y + video.altura - cursorPosicao->y * video.altura;
  tela.retanguloCursor = Retangulo{pontaX - cursorForma->pontaX * largura,
                                   pontaY - altura + cursorForma->pontaY * altura, largura, altura};
  tela.cursorOculto = false;
}

void Receptor::aceitarImagemCursor(std::shared_ptr<const ImagemCursor> imagem, FormaCursor forma) {
  afirmarNoPrincipal();
  tela.imagemCursor = std::move(imagem);
  cursorForma = forma;
  posicionarCursor();
}

void Receptor::redimensionar(double largura, double altura) {
  afirmarNoPrincipal();
  tela.larguraConteudo = largura;
  tela.alturaConteudo = altura;
  posicionarCursor();
}

}  // namespace orbelo
