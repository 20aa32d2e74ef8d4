// orbelo-emissor driven as a user or a receiver would: through its command line, its
// standard output and a real TLS peer (openssl s_client); its frames decoded by libavcodec.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <future>
#include <iostream>
#include <thread>

#include "Tentativas.hpp"
#include "apoio/Apoio.hpp"
#include "protocolo/Pareamento.hpp"
#include "receptor/Receptor.hpp"
#include "receptor/plataforma/video/DecodificadorH264.hpp"

using namespace orbelo;
using namespace orbelo::teste;

namespace {

// A receiver played by `openssl s_client` with the pairing code's pre-shared key; `extras`
// go at the end of its command line, where they override earlier options.
class ClienteTls : public Processo {
 public:
  explicit ClienteTls(std::uint16_t porta, const std::string& extras = "")
      : Processo({"sh", "-c",
                  "exec openssl s_client -quiet -psk " + chaveHex(codigoTeste) +
                      " -psk_identity varovia -tls1_2 -connect 127.0.0.1:" + std::to_string(porta) + " " +
                      extras}) {}

  // The next message (of this type, when given); none on timeout or at the end of the stream.
  // Throws ErroProtocolo on a corrupt stream.
  std::optional<Mensagem> proxima(std::optional<TipoMensagem> tipo = {}) {
    const auto limite = std::chrono::steady_clock::now() + 10s;
    while (std::chrono::steady_clock::now() < limite) {
      while (!recebidas.empty()) {
        auto mensagem = std::move(recebidas.front());
        recebidas.pop_front();
        if (!tipo || mensagem.first == *tipo) {
          return mensagem;
        }
      }
      if (saidaTerminou()) {
        break;
      }
      for (auto& mensagem : leitor.alimentar(ler(100ms))) {
        recebidas.push_back(std::move(mensagem));
      }
    }
    return std::nullopt;
  }

  // Every connection opens with config, parametros and the pointer image, in this order.
  std::optional<std::array<Bytes, 3>> abertura() {
    std::array<Bytes, 3> payloads;
    for (int i = 0;
         auto tipo : {TipoMensagem::config, TipoMensagem::parametros, TipoMensagem::imagemCursor}) {
      auto mensagem = proxima();
      if (!mensagem || mensagem->first != tipo) {
        return std::nullopt;
      }
      payloads[i++] = std::move(mensagem->second);
    }
    return payloads;
  }
  std::vector<Bytes> quadros(int quantos) {
    std::vector<Bytes> lidos;
    while (static_cast<int>(lidos.size()) < quantos) {
      auto quadro = proxima(TipoMensagem::quadro);
      if (!quadro) {
        break;
      }
      lidos.push_back(std::move(quadro->second));
    }
    return lidos;
  }

 private:
  LeitorMensagens leitor;
  std::deque<Mensagem> recebidas;
};

// From 127.0.0.2, the start of a TLS record one byte a second, never finished: how long the
// sender kept the connection, or none when it still held it after `limite`.
std::optional<std::chrono::milliseconds> gotejar(emissor::Descritor socket, std::chrono::seconds limite) {
  const auto inicio = std::chrono::steady_clock::now();
  const Bytes registro{0x16, 0x03, 0x01, 0x02, 0x00, 0x01};
  for (std::size_t i = 0; std::chrono::steady_clock::now() < inicio + limite; ++i) {
    const std::uint8_t byte = i < registro.size() ? registro[i] : 0;
    pollfd fechado{socket.get(), POLLIN, 0};
    if (send(socket.get(), &byte, 1, MSG_NOSIGNAL) < 0 || poll(&fechado, 1, 1000) > 0) {
      return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - inicio);
    }
  }
  return std::nullopt;
}

emissor::Descritor conectarDe127002(std::uint16_t porta) {
  emissor::Descritor socket(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  sockaddr_in local{.sin_family = AF_INET, .sin_port = 0, .sin_addr = {htonl(0x7F000002)}, .sin_zero = {}};
  sockaddr_in remoto{
      .sin_family = AF_INET, .sin_port = htons(porta), .sin_addr = {htonl(INADDR_LOOPBACK)}, .sin_zero = {}};
  EXPECT_EQ(bind(socket.get(), reinterpret_cast<sockaddr*>(&local), sizeof local), 0);
  EXPECT_EQ(connect(socket.get(), reinterpret_cast<sockaddr*>(&remoto), sizeof remoto), 0);
  return socket;
}

// The receiver's own decoder, which reports what libavcodec rejects.
struct Decodificador {
  explicit Decodificador(const Bytes& parametros) : formato(Receptor::criarFormato(parametros)) {}
  // One `quadro` payload, flag byte included: libavcodec's error; `largura` is that of its picture.
  int decodificar(const Bytes& quadro) {
    largura = 0;
    int erro = h264.prepararPara(formato);
    if (erro == 0) {
      erro = h264.enviar(VistaBytes(quadro).subspan(1));
    }
    for (; h264.receber(*imagem) == 0; av_frame_unref(imagem.get())) {
      largura = imagem->width;
    }
    return erro;
  }
  int largura = 0;
  DecodificadorH264 h264;
  std::shared_ptr<const FormatoVideo> formato;
  Imagem imagem{av_frame_alloc()};
};

}  // namespace

TEST(EmissorComUmReceptor, TakesOnlyTheCodesKeyWithItsIdentityInEachOfTheThreeSuites) {
  Emissor emissor({"--tamanho", "160x120"});
  for (const auto& extras : {"-psk " + chaveHex("654321"), std::string("-psk_identity outro"),
                             std::string("-cipher PSK-AES256-GCM-SHA384")}) {
    ClienteTls recusado(emissor.porta(), extras);
    EXPECT_FALSE(recusado.proxima());
    EXPECT_NE(recusado.esperarFim(), 0);
    EXPECT_TRUE(emissor.esperarLinha("Falha de TLS com 127.0.0.1:")) << extras;
  }
  for (const auto& suite : Pareamento::suites) {
    const std::string nome(suite.nomeImpresso);
    ClienteTls cliente(emissor.porta(), "-cipher " + std::string(suite.nomeOpenssl));
    EXPECT_TRUE(cliente.abertura()) << nome;
    const auto linha = emissor.esperarLinha("Receptor conectado: ");
    EXPECT_TRUE(linha && linha->ends_with(" (" + nome + ")")) << nome;
  }
}

// A peer on 127.0.0.2 trickles a handshake, then guesses at the code; receivers on 127.0.0.1 come meanwhile.
TEST(EmissorComUmReceptor, NeitherATricklerNorAGuesserKeepsOutAReceiverAndTheGuesserWaitsLongerEachTime) {
  using Relogio = std::chrono::steady_clock;
  const auto ms = [](Relogio::duration d) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(d).count();
  };
  Emissor emissor({"--tamanho", "160x120"});
  const auto porta = emissor.porta();
  const auto conectar = [&](const std::string& extras = "") {
    return ClienteTls(porta, extras).abertura().has_value();
  };
  const std::string de127002 = "-bind 127.0.0.2:0 ";

  auto gotejador = std::async(std::launch::async, gotejar, conectarDe127002(porta), 30s);
  auto inicio = Relogio::now();
  EXPECT_TRUE(conectar()) << "beside a trickling handshake";
  std::cout << "receiver served in " << ms(Relogio::now() - inicio) << " ms beside a trickling peer\n";
  const auto gotejado = gotejador.get();
  ASSERT_TRUE(gotejado) << "the trickling peer was kept 30 s";
  std::cout << "trickling peer dropped after " << gotejado->count() << " ms\n";
  EXPECT_TRUE(emissor.esperarLinha("Falha de TLS com 127.0.0.2:"));

  // Wrong codes back to back; the trickle was the first failure. Each one that gets a handshake
  // past the free ones holds the address back twice as long as the one before.
  int falhas = 1, tentativas = 0;
  std::vector<std::string> bloqueios;
  inicio = Relogio::now();
  while (bloqueios.size() < 2 && tentativas < 200) {
    ClienteTls palpite(porta, de127002 + "-psk " + chaveHex("654321"));
    palpite.esperarFim();
    ++tentativas;
    if (palpite.erros().find("alert") != std::string::npos && ++falhas >= emissor::Tentativas::falhasLivres) {
      bloqueios.push_back(emissor.esperarLinha("Falhas demais de ").value_or("none"));
    }
  }
  std::cout << tentativas << " wrong codes from one address in " << ms(Relogio::now() - inicio) << " ms, "
            << falhas - 1 << " of them reached a handshake\n";
  EXPECT_EQ(bloqueios, (std::vector<std::string>{"Falhas demais de 127.0.0.2: conexões recusadas por 1 s.",
                                                 "Falhas demais de 127.0.0.2: conexões recusadas por 2 s."}));
  EXPECT_FALSE(conectar(de127002)) << "the right code is refused too while held back";
  inicio = Relogio::now();
  EXPECT_TRUE(conectar()) << "another address";
  std::cout << "receiver on another address served in " << ms(Relogio::now() - inicio) << " ms\n";

  // Once the wait is over the right code connects, and the count of failures starts again.
  std::this_thread::sleep_for(2s);
  EXPECT_TRUE(conectar(de127002));
  EXPECT_FALSE(ClienteTls(porta, de127002 + "-psk " + chaveHex("654321")).abertura());
  EXPECT_TRUE(conectar(de127002));
  EXPECT_TRUE(emissor.esperarLinha("Receptor conectado: 127.0.0.2:"));
  EXPECT_EQ(
      std::ranges::count_if(emissor.linhas(), [](const auto& l) { return l.starts_with("Falhas demais"); }),
      2);
}

TEST(EmissorTentativas, HoldBackAnAddressTwiceAsLongAfterEachFailureBeyondTheFreeOnesUntilASuccess) {
  using emissor::Tentativas;
  const Tentativas::Relogio::time_point inicio{};
  // Failures in a row, the refusal the last one starts.
  for (const auto& [falhas, bloqueio] :
       {std::pair{4, 0s}, {5, 1s}, {6, 2s}, {9, 16s}, {13, 256s}, {14, 300s}, {1000, 300s}}) {
    Tentativas tentativas;
    std::optional<std::chrono::seconds> ultimo;
    for (int i = 0; i < falhas; ++i) {
      ultimo = tentativas.registrarFalha("10.0.0.9", inicio);
    }
    EXPECT_EQ(ultimo.value_or(0s), bloqueio) << falhas;
    EXPECT_EQ(tentativas.liberado("10.0.0.9", inicio + std::chrono::milliseconds(bloqueio) / 2),
              bloqueio == 0s)
        << falhas;
    EXPECT_TRUE(tentativas.liberado("10.0.0.9", inicio + bloqueio)) << falhas;
    EXPECT_TRUE(tentativas.liberado("10.0.0.10", inicio)) << falhas;
    tentativas.registrarSucesso("10.0.0.9");
    EXPECT_FALSE(tentativas.registrarFalha("10.0.0.9", inicio)) << falhas;
  }

  // A guesser that tries whenever it is let in, for an hour.
  Tentativas tentativas;
  int palpites = 0;
  for (auto agora = inicio; agora < inicio + 1h; ++palpites) {
    agora += tentativas.registrarFalha("10.0.0.9", agora).value_or(0s);
  }
  std::cout << palpites << " guesses in an hour from one address, of a million codes\n";
  EXPECT_LT(palpites, 30);

  // A crowd of addresses failing once each: the table forgets the least held back first.
  tentativas.registrarFalha("10.0.0.9", inicio + 1h);
  for (int i = 0; i < Tentativas::falhasLivres - 1; ++i) {
    tentativas.registrarFalha("10.0.0.10", inicio);
  }
  for (int i = 0; i < 1000; ++i) {
    tentativas.registrarFalha("10.1." + std::to_string(i / 256) + "." + std::to_string(i % 256), inicio + 1h);
  }
  EXPECT_FALSE(tentativas.liberado("10.0.0.9", inicio + 1h + 1s)) << "the guesser is still held back";
  EXPECT_FALSE(tentativas.registrarFalha("10.0.0.10", inicio + 1h)) << "its earlier failures were forgotten";
}

// The other faults end the stream after the chosen number of frames, each its own way: option,
// end of the line it prints, whether the next length field is broken, whether the connection is reset.
using Falha = std::tuple<std::string, std::string, bool, bool>;
class EmissorComFalhas : public ::testing::TestWithParam<Falha> {};

TEST_P(EmissorComFalhas, EndTheStreamAfterTheChosenNumberOfFramesAndTheNextReceiverIsServed) {
  const auto& [opcao, fimLinha, corrompe, reinicia] = GetParam();
  Emissor emissor({"--tamanho", "160x120", opcao, "3"});
  {
    ClienteTls cliente(emissor.porta());
    ASSERT_TRUE(cliente.abertura());
    int quadros = 0;
    bool corrompido = false;
    try {
      while (auto mensagem = cliente.proxima()) {
        quadros += mensagem->first == TipoMensagem::quadro;
      }
    } catch (const ErroProtocolo&) {
      corrompido = true;
    }
    EXPECT_EQ(quadros, 3);
    EXPECT_EQ(corrompido, corrompe);
    if (!corrompe) {
      EXPECT_EQ(cliente.esperarFim() != 0, reinicia);
      EXPECT_EQ(cliente.erros().find("errno=104") != std::string::npos, reinicia)
          << "connection reset by peer";
    }
    const auto linha = emissor.esperarLinha("Falha injetada: ");
    EXPECT_TRUE(linha && linha->ends_with(fimLinha)) << linha.value_or("");
  }
  ClienteTls seguinte(emissor.porta());
  EXPECT_TRUE(seguinte.abertura());
  EXPECT_EQ(seguinte.quadros(3).size(), 3u);
}

INSTANTIATE_TEST_SUITE_P(Falhas, EmissorComFalhas,
                         ::testing::Values(Falha{"--falha-comprimento", ": comprimento corrompido", true,
                                                 false},
                                           Falha{"--falha-fechar", " fechada", false, false},
                                           Falha{"--falha-reset", " reiniciada", false, true}),
                         [](const auto& info) { return std::get<0>(info.param).substr(8); });

TEST(EmissorFontes, AnX11ScreenIsSentWithItsOwnPointerAndTheOverlayHidden) {
  Emissor emissor({"--x11", prepararServicos(), "--fps", "10"});
  ClienteTls cliente(emissor.porta());
  auto abertura = cliente.abertura();
  ASSERT_TRUE(abertura);
  EXPECT_EQ(lerBE<std::uint64_t>((*abertura)[0], 0), std::uint64_t{1920} << 32 | 1080) << "config: 1920x1080";
  Decodificador decodificador((*abertura)[1]);
  for (const auto& q : cliente.quadros(3)) {
    decodificador.decodificar(q);
    EXPECT_EQ(decodificador.largura, 1920);
  }
  auto cursor = cliente.proxima(TipoMensagem::cursor);
  ASSERT_TRUE(cursor);
  EXPECT_EQ(cursor->second.at(8), 0);
}
