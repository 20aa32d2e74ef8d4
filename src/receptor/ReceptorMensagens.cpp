#include <cassert>
#include <chrono>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>

#include "Receptor.hpp"
#include "protocolo/Pareamento.hpp"

namespace orbelo {

namespace {

constexpr std::size_t recebimentoMinimo = 1;
constexpr std::size_t recebimentoMaximo = std::size_t{1024} * 1024;

constexpr std::size_t tamanhoConfig = 8;
constexpr std::size_t tamanhoCursor = 9;
constexpr std::size_t cabecalhoImagemCursor = 16;
constexpr std::uint8_t marcaKeyframe = 1;
constexpr std::uint8_t marcaVisivel = 1;

}  // namespace

void Receptor::receber(const std::shared_ptr<Conexao>& esta) {
  afirmarNaFila();
  esta->receber(recebimentoMinimo, recebimentoMaximo,
                [fraco = weak_from_this(), origem = std::weak_ptr<Conexao>(esta)](
                    Bytes dados, bool completo, const std::optional<ErroRede>& erro) {
                  auto eu = fraco.lock();
                  auto esta = origem.lock();
                  if (eu && esta) {
                    eu->aoReceber(esta, std::move(dados), completo, erro);
                  }
                });
}

void Receptor::aoReceber(const std::shared_ptr<Conexao>& origem, Bytes dados, bool completo,
                         const std::optional<ErroRede>& erro) {
  afirmarNaFila();
  if (origem != conexao) {
    return;
  }
  std::vector<Mensagem> mensagens;
  try {
    mensagens = leitor.alimentar(dados);
  } catch (const ErroProtocolo& falha) {
    imprimir(std::string("Dados inválidos do emissor: ") + falha.what() + ".");
    reconectar();
    return;
  }
  // Messages that came with the end of the stream or an error still count.
  for (auto& [tipo, payload] : mensagens) {
    tratar(tipo, std::move(payload));
  }
  // Once the link is up the code has been accepted: a TLS fault now is a broken link.
  if (erro && !estabelecida && Pareamento::ehErroDeCodigo(*erro)) {
    recusado(*erro);
    return;
  }
  if (erro || completo) {
    imprimir("Conexão encerrada" + (erro ? ": " + erro->texto : std::string(" pelo emissor")) + ".");
    reconectar();
    return;
  }
  if (bytesEmEspera.load() > limiteEmEspera) {
    recepcaoSuspensa = origem;
    return;
  }
  receber(origem);
}

void Receptor::retomarRecepcao() {
  afirmarNaFila();
  if (recepcaoSuspensa && recepcaoSuspensa == conexao) {
    receber(conexao);
  }
  recepcaoSuspensa.reset();
}

void Receptor::tratar(TipoMensagem tipo, Bytes dados) {
  afirmarNaFila();
  switch (tipo) {
    case TipoMensagem::config: {
      if (dados.size() < tamanhoConfig) {
        return;
      }
      const auto largura = lerBE<std::uint32_t>(dados, 0);
      const auto altura = lerBE<std::uint32_t>(dados, 4);
      imprimir("Emissor em " + std::to_string(largura) + "x" + std::to_string(altura) + ".");
      // Only the ratio is used, and a picture with a zero side has none.
      std::optional<Tamanho> tamanho;
      if (largura > 0 && altura > 0) {
        tamanho = Tamanho{static_cast<double>(largura), static_cast<double>(altura)};
      }
      principal.executar([eu = shared_from_this(), tamanho] {
        eu->tamanhoVideo = tamanho;
        eu->posicionarCursor();
      });
      return;
    }
    case TipoMensagem::parametros:
      return tratarParametros(dados);
    case TipoMensagem::quadro:
      return tratarQuadro(std::move(dados));
    case TipoMensagem::cursor:
      return tratarCursor(dados);
    case TipoMensagem::imagemCursor:
      return tratarImagemCursor(std::move(dados));
    case TipoMensagem::ping:
      if (conexao) {
        conexao->enviar(Protocolo::empacotar(TipoMensagem::pong, dados));
      }
      return;
    case TipoMensagem::pedirKeyframe:
    case TipoMensagem::telaReceptor:
    case TipoMensagem::pong:
    case TipoMensagem::exibicao:
      return;
  }
}

void Receptor::tratarParametros(VistaBytes dados) {
  auto novo = criarFormato(dados);
  // The same sets sent again change nothing: reopening the decoder would break the frames
  // that follow until the next key frame.
  if (novo && formato && *novo == *formato) {
    return;
  }
  if (novo && !formatoUtilizavel(*novo)) {
    novo.reset();
  }
  formato = std::move(novo);
  if (!formato) {
    imprimir("SPS/PPS inválidos.");
  }
}

void Receptor::tratarQuadro(Bytes dados) {
  if (dados.size() < 2 || !formato) {
    return;
  }
  if (aguardandoKeyframe && dados[0] != marcaKeyframe) {
    return;
  }
  aguardandoKeyframe = false;
  const auto tamanho = dados.size();
  auto amostra = criarAmostra(std::move(dados), formato);
  if (!amostra) {
    return;
  }
  amostra->chegada = std::chrono::steady_clock::now();
  medidor.registrar(static_cast<std::int64_t>(tamanho));
  ++exibidos;
  if (avisoVisivel) {
    mostrarAviso(std::nullopt, false);
  }
  entregar(tamanho);
  principal.executar([eu = shared_from_this(), amostra = std::move(*amostra), tamanho]() mutable {
    eu->exibir(std::move(amostra));
    eu->devolver(tamanho);
  });
}

void Receptor::tratarCursor(VistaBytes dados) {
  if (dados.size() < tamanhoCursor) {
    return;
  }
  const float x = lerFloatBE(dados, 0);
  const float y = lerFloatBE(dados, 4);
  if (!std::isfinite(x) || !std::isfinite(y)) {
    return;
  }
  bool aCaminho = false;
  {
    std::lock_guard trava(travaPosicao);
    aCaminho = posicaoPendente.has_value();
    posicaoPendente = PosicaoCursor{x, y, dados[8] == marcaVisivel};
  }
  // A move already on its way will carry this newer position.
  if (!aCaminho) {
    principal.executar([eu = shared_from_this()] { eu->moverCursor(); });
  }
}

void Receptor::tratarImagemCursor(Bytes dados) {
  if (dados.size() <= cabecalhoImagemCursor || dados.size() > limiteImagemCursor) {
    return;
  }
  const FormaCursor forma{lerFloatBE(dados, 0), lerFloatBE(dados, 4), lerFloatBE(dados, 8),
                          lerFloatBE(dados, 12)};
  if (!std::isfinite(forma.largura) || !std::isfinite(forma.altura) || !std::isfinite(forma.pontaX) ||
      !std::isfinite(forma.pontaY)) {
    return;
  }
  const std::uint64_t numero = ++imagemCursorMaisNova;
  const auto tamanho = dados.size();
  entregar(tamanho);
  decodificacao.executar([eu = shared_from_this(), payload = std::move(dados), forma, numero, tamanho] {
    eu->decodificarImagemCursor(payload, forma, numero);
    eu->devolver(tamanho);
  });
}

void Receptor::decodificarImagemCursor(const Bytes& payload, FormaCursor forma, std::uint64_t numero) {
  assert(decodificacao.atual());
  if (numero != imagemCursorMaisNova.load()) {
    return;
  }
  auto imagem = imagens.decodificar(VistaBytes(payload).subspan(cabecalhoImagemCursor));
  if (!imagem) {
    return;
  }
  principal.executar([eu = shared_from_this(), imagem = std::move(imagem), forma] {
    eu->aceitarImagemCursor(imagem, forma);
  });
}

void Receptor::informarTela(Conexao& pronta) {
  afirmarNaFila();
  if (!telaPixels) {
    return;
  }
  Bytes payload;
  payload.reserve(12);
  anexarBE(payload, static_cast<std::uint32_t>(telaPixels->largura));
  anexarBE(payload, static_cast<std::uint32_t>(telaPixels->altura));
  anexarBE(payload, Recursos::cursorLocal);
  pronta.enviar(Protocolo::empacotar(TipoMensagem::telaReceptor, payload));
}

void Receptor::pedirKeyframe() {
  afirmarNaFila();
  if (conexao) {
    conexao->enviar(Protocolo::empacotar(TipoMensagem::pedirKeyframe, {}));
  }
}

}  // namespace orbelo
