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
  if (erro && Pareamento::ehErroDeCodigo(*erro)) {
    recusado(*erro);
    return;
  }
  if (erro || completo) {
    imprimir("Conexão encerrada" + (erro ? ": " + erro->texto : std::string(" pelo emissor")) + ".");
    reconectar();
    return;
  }
  receber(origem);
}

void Receptor::tratar(TipoMensagem tipo, Bytes dados) {
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
      formato = criarFormato(dados);
      if (!formato) {
        imprimir("SPS/PPS inválidos.");
      }
      return;
    case TipoMensagem::quadro: {
      if (dados.size() < 2 || !formato) {
        return;
      }
      if (aguardandoKeyframe && dados[0] != marcaKeyframe) {
        return;
      }
      aguardandoKeyframe = false;
      const auto tamanho = static_cast<std::int64_t>(dados.size());
      auto amostra = criarAmostra(std::move(dados), formato);
      if (!amostra) {
        return;
      }
      amostra->chegada = std::chrono::steady_clock::now();
      medidor.registrar(tamanho);
      ++exibidos;
      if (avisoVisivel) {
        mostrarAviso(std::nullopt, false);
      }
      principal.executar([eu = shared_from_this(), amostra = std::move(*amostra)]() mutable {
        eu->exibir(std::move(amostra));
      });
      return;
    }
    case TipoMensagem::cursor: {
      if (dados.size() < tamanhoCursor) {
        return;
      }
      const float x = lerFloatBE(dados, 0);
      const float y = lerFloatBE(dados, 4);
      if (!std::isfinite(x) || !std::isfinite(y)) {
        return;
      }
      const PosicaoCursor posicao{x, y, dados[8] == marcaVisivel};
      principal.executar([eu = shared_from_this(), posicao] {
        eu->cursorPosicao = posicao;
        eu->posicionarCursor();
      });
      return;
    }
    case TipoMensagem::imagemCursor: {
      if (dados.size() <= cabecalhoImagemCursor) {
        return;
      }
      const FormaCursor forma{lerFloatBE(dados, 0), lerFloatBE(dados, 4), lerFloatBE(dados, 8),
                              lerFloatBE(dados, 12)};
      if (!std::isfinite(forma.largura) || !std::isfinite(forma.altura) || !std::isfinite(forma.pontaX) ||
          !std::isfinite(forma.pontaY)) {
        return;
      }
      dados.erase(dados.begin(), dados.begin() + cabecalhoImagemCursor);
      principal.executar([eu = shared_from_this(), arquivo = std::move(dados), forma]() mutable {
        eu->aceitarImagemCursor(std::move(arquivo), forma);
      });
      return;
    }
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

void Receptor::informarTela(Conexao& pronta) {
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
  if (conexao) {
    conexao->enviar(Protocolo::empacotar(TipoMensagem::pedirKeyframe, {}));
  }
}

}  // namespace orbelo
