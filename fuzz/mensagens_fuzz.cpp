// The receiver's receive loop and message handling, every platform service faked, driven by
// a script of chunks, stream ends, errors, decoder failures and time. Whatever the sender
// says, the receiver answers only with well-formed messages of its own types, answers each
// ping it was given, in order, with the ping's own payload, and prints single lines.
//
// Input: records of [operation][length, 2 bytes big-endian][body].

#include <cstdlib>
#include <map>
#include <string>

#include "receptor/Bancada.hpp"

namespace {

using namespace orbelo;
using namespace orbelo::teste;

void exigir(bool condicao) {
  if (!condicao) {
    std::abort();
  }
}

enum Operacao : std::uint8_t {
  anexarMensagem,  // body: type byte, then payload
  anexarBytes,     // body: raw stream bytes
  entregar,
  entregarComFim,
  entregarComErro,
  entregarComErroTls,
  falharDecodificacao,  // body: non-empty gives the layer an error text
  esperar,              // body[0] × 100 ms
  totalOperacoes
};

struct Roteiro {
  Bancada bancada;
  Bytes pendente;
  // Per connection: the pings in what it was handed, cut by a reader of our own.
  std::map<std::size_t, std::pair<LeitorMensagens, std::vector<Bytes>>> pings;

  Roteiro() {
    bancada.opcoes.codigo = "123456";
    bancada.opcoes.host = "127.0.0.1";
    bancada.lancar();
    tornarPronta();
  }

  // A new attempt that is waiting becomes ready, as a sender that accepts at once.
  void tornarPronta() {
    auto& conexoes = bancada.transporte.conexoes;
    if (!conexoes.empty() && !conexoes.back()->cancelada && conexoes.back()->aoMudar) {
      bancada.mudar(EstadoConexao::pronta);
    }
  }

  void enviarPendente(bool completo, std::optional<ErroRede> erro) {
    auto& conexoes = bancada.transporte.conexoes;
    const auto quantas = conexoes.size();
    if (!conexoes.empty() && conexoes.back()->aoReceber) {
      anotarPings(conexoes.size() - 1, pendente);
      bancada.receber(std::exchange(pendente, {}), completo, std::move(erro));
    }
    pendente.clear();
    // Lost links are retried after a second.
    bancada.agenda.rodar(std::chrono::milliseconds(1100));
    if (conexoes.size() != quantas) {
      tornarPronta();
    }
  }

  void anotarPings(std::size_t conexao, const Bytes& entregues) {
    auto& [leitor, lista] = pings[conexao];
    try {
      for (auto& [tipo, payload] : leitor.alimentar(entregues)) {
        if (tipo == TipoMensagem::ping) {
          lista.push_back(std::move(payload));
        }
      }
    } catch (const ErroProtocolo&) {
      // The receiver drops this connection too.
    }
  }

  void executar(std::uint8_t operacao, VistaBytes corpo) {
    switch (operacao % totalOperacoes) {
      case anexarMensagem: {
        if (corpo.empty()) {
          return;
        }
        Bytes quadro = Protocolo::empacotar(TipoMensagem::ping, corpo.subspan(1));
        quadro[4] = corpo[0];
        pendente.insert(pendente.end(), quadro.begin(), quadro.end());
        return;
      }
      case anexarBytes:
        pendente.insert(pendente.end(), corpo.begin(), corpo.end());
        return;
      case entregar:
        return enviarPendente(false, std::nullopt);
      case entregarComFim:
        return enviarPendente(true, std::nullopt);
      case entregarComErro:
        return enviarPendente(false, erroPosix("Connection reset by peer"));
      case entregarComErroTls:
        return enviarPendente(false, erroTls);
      case falharDecodificacao:
        bancada.camada.estado = CamadaVideo::Status::falhou;
        bancada.camada.erroAtual = corpo.empty() ? std::nullopt : std::optional<std::string>("Invalid data");
        return;
      case esperar:
        bancada.agenda.rodar(std::chrono::milliseconds(100) * (corpo.empty() ? 1 : corpo[0]));
        tornarPronta();
        return;
    }
  }

  void conferir() {
    const auto& conexoes = bancada.transporte.conexoes;
    for (std::size_t i = 0; i < conexoes.size(); ++i) {
      LeitorMensagens leitor;
      std::vector<Mensagem> enviadas;
      std::vector<Bytes> pongs;
      for (const auto& bytes : conexoes[i]->enviados) {
        // Each send is exactly one whole message.
        const auto cortadas = leitor.alimentar(bytes);
        exigir(cortadas.size() == 1);
        enviadas.insert(enviadas.end(), cortadas.begin(), cortadas.end());
      }
      for (const auto& [tipo, payload] : enviadas) {
        switch (tipo) {
          case TipoMensagem::pong:
            pongs.push_back(payload);
            break;
          case TipoMensagem::pedirKeyframe:
            exigir(payload.empty());
            break;
          case TipoMensagem::exibicao:
            exigir(payload.size() == 2);
            break;
          case TipoMensagem::telaReceptor:
            exigir(payload == Bytes({0, 0, 0x0A, 0, 0, 0, 0x05, 0xA0, 0, 0, 0, 1}));
            break;
          default:
            std::abort();
        }
      }
      exigir(pongs == pings[i].second);
    }
    for (const auto& linha : bancada.linhas) {
      exigir(!linha.empty() && linha.find('\n') == std::string::npos);
    }
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* dados, std::size_t tamanho) {
  Roteiro roteiro;
  VistaBytes resto(dados, tamanho);
  while (resto.size() >= 3) {
    const auto comprimento = std::min<std::size_t>(lerBE<std::uint16_t>(resto, 1), resto.size() - 3);
    roteiro.executar(resto[0], resto.subspan(3, comprimento));
    resto = resto.subspan(3 + comprimento);
  }
  roteiro.enviarPendente(false, std::nullopt);
  roteiro.conferir();
  return 0;
}
