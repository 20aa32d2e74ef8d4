#include <utility>

#include "Receptor.hpp"

namespace orbelo {

void Receptor::mostrarAviso(std::optional<std::string> texto, bool comBotao) {
  afirmarNaFila();
  avisoVisivel = texto.has_value();
  principal.executar([eu = shared_from_this(), texto = std::move(texto), comBotao] {
    EstadoTela& tela = eu->tela;
    tela.avisoOculto = !texto;
    tela.textoAviso = texto.value_or("");
    tela.botaoAvisoOculto = !texto || !comBotao;
    // A notice with the button needs the pointer; otherwise it only hides the picture.
    // Only one hide is ever outstanding, so a single show undoes it.
    if (!eu->opcoes.janela) {
      const bool esconder = !texto || !comBotao;
      if (eu->cursorEscondido != esconder) {
        if (esconder) {
          eu->cursorLocal.esconder();
        } else {
          eu->cursorLocal.mostrar();
        }
        eu->cursorEscondido = esconder;
      }
    }
    eu->posicionarCursor();
  });
}

}  // namespace orbelo
