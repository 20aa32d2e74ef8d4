#include <array>
#include <string_view>
#include <utility>

#include "Lembranca.hpp"
#include "Receptor.hpp"
#include "protocolo/Pareamento.hpp"

namespace orbelo {

namespace {

constexpr std::string_view textoCodigoCurto = "O código tem 6 dígitos.";

// The tab and every Unicode space separator, in UTF-8; line breaks are not blanks here.
constexpr std::array<std::string_view, 18> brancos{
    "\t",     " ",      "\u00A0", "\u1680", "\u2000", "\u2001", "\u2002", "\u2003", "\u2004",
    "\u2005", "\u2006", "\u2007", "\u2008", "\u2009", "\u200A", "\u202F", "\u205F", "\u3000"};

std::string_view aparar(std::string_view texto) {
  for (bool mudou = true; mudou;) {
    mudou = false;
    for (const std::string_view branco : brancos) {
      if (texto.starts_with(branco)) {
        texto.remove_prefix(branco.size());
        mudou = true;
      }
      if (texto.ends_with(branco)) {
        texto.remove_suffix(branco.size());
        mudou = true;
      }
    }
  }
  return texto;
}

}  // namespace

void Receptor::mostrarPareamento(std::string codigoMostrado, const std::optional<std::string>& hostMostrado,
                                 const std::optional<std::string>& erro) {
  afirmarNoPrincipal();
  camada.descarregarERemoverImagem();
  tela.pilhaAvisoOculta = true;
  tela.campoCodigo = std::move(codigoMostrado);
  tela.campoHost = hostMostrado.value_or("");
  tela.erroPareamentoOculto = !erro;
  tela.erroPareamento = erro.value_or("");
  // Until the user has once chosen, opening at login is offered switched on.
  tela.opcaoInicio =
      !preferencias.booleano(Lembranca::preferenciaInicioConfigurado) || inicioAutomatico.existe();
  tela.cursorOculto = true;
  tela.pareamentoOculto = false;
  if (!opcoes.janela && cursorEscondido) {
    cursorLocal.mostrar();
    cursorEscondido = false;
  }
  tela.focarCodigo = true;
}

void Receptor::abrirPareamento() {
  afirmarNoPrincipal();
  fila.executar([eu = shared_from_this()] {
    eu->parar();
    eu->principal.executar([eu, codigoEmUso = eu->codigo.value_or(""), hostEmUso = eu->host] {
      eu->mostrarPareamento(codigoEmUso, hostEmUso, std::nullopt);
    });
  });
}

void Receptor::confirmarPareamento() {
  afirmarNoPrincipal();
  auto normalizado = Pareamento::normalizar(tela.campoCodigo);
  if (!normalizado) {
    tela.erroPareamento = textoCodigoCurto;
    tela.erroPareamentoOculto = false;
    return;
  }
  std::optional<std::string> hostDigitado;
  if (const std::string_view aparado = aparar(tela.campoHost); !aparado.empty()) {
    hostDigitado = std::string(aparado);
  }
  if (inicioAutomatico.instalado()) {
    if (tela.opcaoInicio) {
      inicioAutomatico.ligar();
    } else {
      inicioAutomatico.desligar();
    }
    preferencias.gravarBooleano(Lembranca::preferenciaInicioConfigurado, true);
  }
  tela.pareamentoOculto = true;
  tela.pilhaAvisoOculta = false;
  fila.executar([eu = shared_from_this(), codigoNovo = std::move(*normalizado),
                 hostNovo = std::move(hostDigitado)] { eu->iniciar(codigoNovo, hostNovo, false); });
}

}  // namespace orbelo
