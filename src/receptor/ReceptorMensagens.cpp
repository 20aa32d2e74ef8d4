#include <cassert>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>

#include "Receptor.hpp"
#include "protocolo/Mensagens.hpp"
#include "protocolo/Pareamento.hpp"

namespace orbelo {

namespace {

constexpr std::size_t recebimentoMinimo = 1;
constexpr std::size_t recebimentoMaximo = std::size_t{1024} * 1024;
// What a small task posted to the main thread holds, counted against the cap on what waits.
constexpr std::size_t custoTarefa = 128;

}  // namespace

void Receptor::receber(const std::shared_ptr<Conexao>& esta) {
  afirmarNaFila();
  esta->receber(recebimentoMinimo, recebimentoMaximo,
                [fraco = weak_from_this(), origem = std::weak_ptr<Conexao>(esta)](
                    VistaBytes dados, bool completo, const std::optional<ErroRede>& erro) {
                  auto eu = fraco.lock();
                  auto esta = origem.lock();
                  if (eu && esta) {
                    eu->aoReceber(esta, dados, completo, erro);
                  }
                });
}

void Receptor::aoReceber(const std::shared_ptr<Conexao>& origem, VistaBytes dados, bool completo,
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
    case TipoMensagem::config:
      return tratarConfig(dados);
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

void Receptor::tratarConfig(VistaBytes dados) {
  const auto config = Mensagens::Config::ler(dados);
  if (!config) {
    return;
  }
  imprimir("Emissor em " + std::to_string(config->largura) + "x" + std::to_string(config->altura) + ".");
  // Only the ratio is used, and a picture with a zero side has none.
  std::optional<Tamanho> tamanho;
  if (config->largura > 0 && config->altura > 0) {
    tamanho = Tamanho{static_cast<double>(config->largura), static_cast<double>(config->altura)};
  }
  // A flood of these must not pile up behind a busy main thread either.
  entregar(custoTarefa);
  principal.executar([eu = shared_from_this(), tamanho] {
    eu->tamanhoVideo = tamanho;
    eu->posicionarCursor();
    eu->devolver(custoTarefa);
  });
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
  const auto quadro = Mensagens::Quadro::ler(dados);
  if (!quadro || !formato) {
    return;
  }
  if (aguardandoKeyframe && !quadro->keyframe) {
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
  ++quadrosRecentes;
  bytesRecentes += static_cast<std::int64_t>(tamanho);
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
  const auto cursor = Mensagens::Cursor::ler(dados);
  if (!cursor) {
    return;
  }
  bool aCaminho = false;
  {
    std::lock_guard trava(travaPosicao);
    aCaminho = posicaoPendente.has_value();
    posicaoPendente = PosicaoCursor{cursor->x, cursor->y, cursor->visivel};
  }
  // A move already on its way will carry this newer position.
  if (!aCaminho) {
    principal.executar([eu = shared_from_this()] { eu->moverCursor(); });
  }
}

void Receptor::tratarImagemCursor(Bytes dados) {
  const auto mensagem = Mensagens::ImagemCursor::ler(dados);
  if (!mensagem || dados.size() > limiteImagemCursor) {
    return;
  }
  const std::uint64_t numero = ++imagemCursorMaisNova;
  const auto tamanho = dados.size();
  entregar(tamanho);
  decodificacao.executar(
      [eu = shared_from_this(), payload = std::move(dados), forma = mensagem->forma, numero, tamanho] {
        eu->decodificarImagemCursor(payload, forma, numero);
        eu->devolver(tamanho);
      });
}

void Receptor::decodificarImagemCursor(const Bytes& payload, FormaCursor forma, std::uint64_t numero) {
  assert(decodificacao.atual());
  if (numero != imagemCursorMaisNova.load()) {
    return;
  }
  auto imagem = imagens.decodificar(VistaBytes(payload).subspan(Mensagens::ImagemCursor::cabecalho));
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
  pronta.enviar(Mensagens::TelaReceptor{static_cast<std::uint32_t>(telaPixels->largura),
                                        static_cast<std::uint32_t>(telaPixels->altura), Recursos::cursorLocal}
                    .empacotar());
}

void Receptor::pedirKeyframe() {
  afirmarNaFila();
  if (conexao) {
    conexao->enviar(Protocolo::empacotar(TipoMensagem::pedirKeyframe, {}));
  }
}

}  // namespace orbelo
