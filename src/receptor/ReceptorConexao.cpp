#include <chrono>
#include <string_view>
#include <utility>

#include "Lembranca.hpp"
#include "Receptor.hpp"
#include "protocolo/Pareamento.hpp"

namespace orbelo {

namespace {

using namespace std::chrono_literals;

// A wired attempt gets little time: when the cable leads nowhere, any network may.
constexpr auto esperaCabo = 3s;
constexpr auto esperaQualquerRede = 8s;
constexpr auto esperaNovaTentativa = 1s;

constexpr std::string_view textoCaboFalhou = "O cabo não levou ao MacBook; tentando por qualquer rede.";
constexpr std::string_view textoSemAvahi =
    "A procura pelo MacBook precisa do avahi-daemon; tentando de novo.";
constexpr std::string_view textoRecusa =
    "O MacBook recusou esse código. Confira o código no ícone do Velaro, na barra de menus dele.";

std::string sufixoCabo(bool cabo) {
  return cabo ? " pelo cabo" : "";
}

}  // namespace

void Receptor::iniciar(std::string novoCodigo, std::optional<std::string> novoHost, bool salvo) {
  afirmarNaFila();
  parar();
  codigo = std::move(novoCodigo);
  host = std::move(novoHost);
  codigoVeioSalvo = salvo;
  parado = false;
  caboFalhou = false;
  conectar();
}

void Receptor::conectar() {
  afirmarNaFila();
  if (!codigo || parado) {
    return;
  }
  usandoCabo = !caboFalhou;
  estabelecida = false;
  const std::int64_t numero = ++tentativa;
  const std::string sufixo = sufixoCabo(usandoCabo);
  ParametrosTls parametros = Pareamento::parametros(*codigo);
  parametros.exigirCabo = usandoCabo;

  if (host) {
    mostrarAviso("Conectando a " + *host + sufixo + "…", true);
    abrir(transporte.conexao(*host, opcoes.porta, parametros));
  } else {
    mostrarAviso("Procurando o MacBook" + sufixo + "…\nAbra o Velaro nele.", true);
    navegador = transporte.navegador(Protocolo::tipoServico, parametros);
    navegador->aoMudarResultados(
        [fraco = weak_from_this(), origem = std::weak_ptr<Navegador>(navegador), sufixo,
         codigoDaTentativa = *codigo](const std::vector<ResultadoBusca>& resultados) {
          auto eu = fraco.lock();
          // Held so that the browser outlives its own callback even when this one releases it.
          auto este = origem.lock();
          if (eu && este) {
            eu->aoEncontrar(este, resultados, sufixo, codigoDaTentativa);
          }
        });
    // Each attempt finds the daemon missing again; saying so once is enough.
    navegador->aoFaltarServico([fraco = weak_from_this()] {
      auto eu = fraco.lock();
      if (eu && !std::exchange(eu->avisouSemAvahi, true)) {
        eu->imprimir(textoSemAvahi);
      }
    });
    navegador->iniciar();
  }

  fila.executarDepois(usandoCabo ? esperaCabo : esperaQualquerRede, [fraco = weak_from_this(), numero] {
    if (auto eu = fraco.lock()) {
      eu->vigiar(numero);
    }
  });
}

void Receptor::vigiar(std::int64_t numero) {
  afirmarNaFila();
  if (parado || tentativa != numero || estabelecida) {
    return;
  }
  if (usandoCabo) {
    imprimir(textoCaboFalhou);
    caboFalhou = true;
  }
  cancelarTentativa();
  conectar();
}

void Receptor::aoEncontrar(const std::shared_ptr<Navegador>& origem,
                           const std::vector<ResultadoBusca>& resultados, const std::string& sufixo,
                           const std::string& codigoDaTentativa) {
  afirmarNaFila();
  if (parado || conexao || origem != navegador || resultados.empty()) {
    return;
  }
  ParametrosTls parametros = Pareamento::parametros(codigoDaTentativa);
  parametros.exigirCabo = usandoCabo;
  // No preference among several senders: the browser's first one, taken before the browser stops.
  auto nova = transporte.conexao(resultados.front(), parametros);
  std::exchange(navegador, nullptr)->cancelar();
  mostrarAviso("Conectando" + sufixo + "…", true);
  abrir(nova);
}

void Receptor::abrir(const std::shared_ptr<Conexao>& nova) {
  afirmarNaFila();
  conexao = nova;
  leitor = LeitorMensagens{};
  formato.reset();
  aguardandoKeyframe = true;
  nova->aoMudarEstado([fraco = weak_from_this(), origem = std::weak_ptr<Conexao>(nova)](
                          EstadoConexao estado, const std::optional<ErroRede>& erro) {
    auto eu = fraco.lock();
    // Held so that the connection outlives its own callback even when this one releases it.
    auto esta = origem.lock();
    if (eu && esta) {
      eu->aoMudarEstado(esta, estado, erro);
    }
  });
  nova->iniciar();
  receber(nova);
}

void Receptor::aoMudarEstado(const std::shared_ptr<Conexao>& origem, EstadoConexao estado,
                             const std::optional<ErroRede>& erro) {
  afirmarNaFila();
  if (origem != conexao) {
    return;
  }
  if (estado == EstadoConexao::pronta) {
    aoFicarPronta();
  } else if (estado == EstadoConexao::falhou) {
    // A failure always ends the attempt, even one the transport could not explain.
    aoFalhar(erro.value_or(ErroRede{.texto = "?"}));
  } else if (estado == EstadoConexao::esperando && erro) {
    aoFalhar(*erro);
  }
}

void Receptor::aoFalhar(const ErroRede& erro) {
  afirmarNaFila();
  // Only a handshake can refuse the code; later TLS faults are a broken link.
  if (!estabelecida && Pareamento::ehErroDeCodigo(erro)) {
    recusado(erro);
    return;
  }
  imprimir("Falha na conexão" + sufixoCabo(usandoCabo) + ": " + erro.texto);
  if (usandoCabo) {
    caboFalhou = true;
  }
  reconectar();
}

void Receptor::aoFicarPronta() {
  afirmarNaFila();
  estabelecida = true;
  ++conexoesProntas;
  const std::optional<std::string> interfaceNome = conexao->nomeInterface();
  const std::string nome = interfaceNome && !interfaceNome->empty() ? *interfaceNome : "?";
  imprimir("Conectado a " + conexao->endpoint() + " por " + nome + ", cifrado com " +
           Pareamento::suiteNegociada(conexao->suiteNegociada()) + ".");
  if (codigo) {
    Lembranca::salvar(preferencias, *codigo, host);
  }
  if (!preferencias.booleano(Lembranca::preferenciaInicioConfigurado) && inicioAutomatico.instalado()) {
    inicioAutomatico.ligar();
    preferencias.gravarBooleano(Lembranca::preferenciaInicioConfigurado, true);
  }
  mostrarAviso("Conectado. Esperando a imagem…", false);
  informarTela(*conexao);
}

void Receptor::recusado(const ErroRede& erro) {
  afirmarNaFila();
  imprimir("O MacBook recusou o código " + codigo.value_or("?") + " (" + erro.texto + ").");
  parar();
  // A remembered code the sender no longer takes must not be tried at the next start.
  if (codigoVeioSalvo) {
    preferencias.remover(Lembranca::preferenciaCodigo);
  }
  principal.executar([eu = shared_from_this(), hostEmUso = host] {
    eu->mostrarPareamento("", hostEmUso, std::string(textoRecusa));
  });
}

void Receptor::reconectar() {
  afirmarNaFila();
  if (parado) {
    return;
  }
  // A link that worked and broke may have been the cable: try it again.
  if (estabelecida) {
    caboFalhou = false;
  }
  estabelecida = false;
  if (conexao) {
    std::exchange(conexao, nullptr)->cancelar();
  }
  principal.executar([eu = shared_from_this()] { eu->camada.descarregarERemoverImagem(); });
  mostrarAviso("Conexão perdida. Tentando de novo…", true);
  fila.executarDepois(esperaNovaTentativa, [fraco = weak_from_this(), numero = tentativa] {
    auto eu = fraco.lock();
    // An attempt started meanwhile (a watchdog's, or a new start) makes this retry redundant.
    if (eu && !eu->conexao && eu->tentativa == numero) {
      eu->conectar();
    }
  });
}

void Receptor::encerrar() {
  fila.executar([eu = shared_from_this()] { eu->parar(); });
}

void Receptor::parar() {
  afirmarNaFila();
  parado = true;
  cancelarTentativa();
}

void Receptor::cancelarTentativa() {
  if (navegador) {
    std::exchange(navegador, nullptr)->cancelar();
  }
  if (conexao) {
    std::exchange(conexao, nullptr)->cancelar();
  }
}

}  // namespace orbelo
