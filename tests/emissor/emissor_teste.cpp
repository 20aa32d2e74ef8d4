// orbelo-emissor driven as a user or a receiver would: through its command line, its
// standard output and a real TLS peer (openssl s_client); its frames decoded by libavcodec.
#include <gtest/gtest.h>

#include <algorithm>
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
struct ClienteTls : Processo {
  explicit ClienteTls(std::uint16_t porta, const std::string& extras = "")
      : Processo({"sh", "-c",
                  "exec openssl s_client -quiet -psk " + chaveHex(codigoTeste) +
                      " -psk_identity varovia -tls1_2 -connect 127.0.0.1:" + std::to_string(porta) + " " +
                      extras}) {}

  // The next message (of this type, when given); none on timeout or at the end of the stream.
  std::optional<Mensagem> proxima(std::optional<TipoMensagem> tipo = {}) {
    for (const auto limite = std::chrono::steady_clock::now() + 10s;
         std::chrono::steady_clock::now() < limite;) {
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
      std::ranges::move(leitor.alimentar(ler(100ms)), std::back_inserter(recebidas));
    }
    return std::nullopt;
  }
  // Every connection opens with config, parametros and the pointer image, in this order; their
  // payloads go to `abertura`.
  bool abriu() {
    for (const auto tipo : {TipoMensagem::config, TipoMensagem::parametros, TipoMensagem::imagemCursor}) {
      auto mensagem = proxima();
      if (!mensagem || mensagem->first != tipo) {
        return false;
      }
      abertura.push_back(std::move(mensagem->second));
    }
    return true;
  }

  std::vector<Bytes> abertura;
  LeitorMensagens leitor;
  std::deque<Mensagem> recebidas;
};

}  // namespace

TEST(EmissorComUmReceptor, TakesOnlyTheCodesKeyInItsSuitesAndNeitherATricklerNorAGuesserKeepsOutAReceiver) {
  Emissor emissor({"--tamanho", "160x120"});
  const auto conectar = [&](const std::string& extras = "") {
    return ClienteTls(emissor.porta(), extras).abriu();
  };
  // A wrong code is the guesser's, below.
  for (const auto& extras :
       {std::string("-psk_identity outro"), std::string("-cipher PSK-AES256-GCM-SHA384")}) {
    EXPECT_FALSE(conectar(extras));
    EXPECT_TRUE(emissor.esperarLinha("Falha de TLS com 127.0.0.1:")) << extras;
  }
  for (const auto& suite : Pareamento::suites) {
    const std::string nome(suite.nomeImpresso);
    EXPECT_TRUE(conectar("-cipher " + std::string(suite.nomeOpenssl))) << nome;
    EXPECT_TRUE(emissor.esperarLinha("Receptor conectado: ").value_or("").ends_with(" (" + nome + ")"))
        << nome;
  }

  // A peer that starts a handshake and trickles it a byte a second, for up to 30 s, until the
  // sender lets it go.
  const auto inicio = std::chrono::steady_clock::now();
  Processo gotejador(
      {"bash", "-c",
       "exec 3<>/dev/tcp/127.0.0.1/" + std::to_string(emissor.porta()) +
           "; printf '\\x16\\x03\\x01\\x02\\x00\\x01' >&3; echo conectado; for i in {1..30}; do "
           "read -t 1 -u 3; [ $? -gt 128 ] || exit 0; printf '\\x00' >&3; done; exit 1"});
  ASSERT_TRUE(gotejador.esperarLinha("conectado"));
  EXPECT_TRUE(conectar()) << "beside a trickling handshake";
  EXPECT_EQ(gotejador.esperarFim(35s), 0) << "the trickling peer was kept 30 s";
  const std::chrono::duration<double> gotejado = std::chrono::steady_clock::now() - inicio;
  std::cout << "trickling peer dropped after " << gotejado.count() << " s\n";
  EXPECT_TRUE(emissor.esperarLinha("Falha de TLS com 127.0.0.1:"));

  // A guesser on 127.0.0.2 uses up the free failures; receivers on 127.0.0.1 come meanwhile.
  const std::string de127002 = "-bind 127.0.0.2:0 ";
  for (int falhas = 0; falhas < emissor::Tentativas::falhasLivres; ++falhas) {
    EXPECT_FALSE(conectar(de127002 + "-psk " + chaveHex("654321")));
  }
  EXPECT_EQ(emissor.esperarLinha("Falhas demais de "),
            "Falhas demais de 127.0.0.2: conexões recusadas por 1 s.");
  EXPECT_FALSE(conectar(de127002)) << "the right code is refused too while held back";
  EXPECT_TRUE(conectar()) << "another address";
  std::this_thread::sleep_for(1s);
  EXPECT_TRUE(conectar(de127002));
}

TEST(EmissorTentativas, HoldBackAnAddressTwiceAsLongAfterEachFailureBeyondTheFreeOnesUntilASuccess) {
  using emissor::Tentativas;
  const Tentativas::Relogio::time_point inicio{};
  // Failures in a row from a guesser that tries again as soon as it is let in, the refusal the
  // last one starts: the count outlives each refusal.
  for (const auto& [falhas, bloqueio] :
       {std::pair{4, 0s}, {5, 1s}, {6, 2s}, {9, 16s}, {13, 256s}, {14, 300s}, {1000, 300s}}) {
    Tentativas tentativas;
    auto agora = inicio;
    std::optional<std::chrono::seconds> ultimo;
    for (int i = 0; i < falhas; ++i) {
      agora += ultimo.value_or(0s);
      ultimo = tentativas.registrarFalha("10.0.0.9", agora);
    }
    EXPECT_EQ(ultimo.value_or(0s), bloqueio) << falhas;
    EXPECT_EQ(tentativas.liberado("10.0.0.9", agora + std::chrono::milliseconds(bloqueio) / 2),
              bloqueio == 0s)
        << falhas;
    EXPECT_TRUE(tentativas.liberado("10.0.0.9", agora + bloqueio)) << falhas;
    tentativas.registrarSucesso("10.0.0.9");
    EXPECT_FALSE(tentativas.registrarFalha("10.0.0.9", agora)) << falhas;
  }

  // A crowd of addresses failing once each: the table forgets the least held back first.
  Tentativas tentativas;
  for (int i = 0; i < Tentativas::falhasLivres - 1; ++i) {
    tentativas.registrarFalha("10.0.0.9", inicio + 1h);
    tentativas.registrarFalha("10.0.0.10", inicio);
  }
  tentativas.registrarFalha("10.0.0.9", inicio + 1h);
  for (int i = 0; i < 1000; ++i) {
    tentativas.registrarFalha("10.1." + std::to_string(i / 256) + "." + std::to_string(i % 256), inicio + 1h);
  }
  EXPECT_FALSE(tentativas.liberado("10.0.0.9", inicio + 1h)) << "the guesser is still held back";
  EXPECT_FALSE(tentativas.registrarFalha("10.0.0.10", inicio + 1h)) << "its earlier failures were forgotten";
}

TEST(EmissorFontes, AnX11ScreenIsSentWithItsOwnPointerAndTheOverlayHidden) {
  Emissor emissor({"--x11", prepararServicos(), "--fps", "10"});
  ClienteTls cliente(emissor.porta());
  ASSERT_TRUE(cliente.abriu());
  EXPECT_EQ(lerBE<std::uint64_t>(cliente.abertura[0], 0), std::uint64_t{1920} << 32 | 1080)
      << "config: 1920x1080";
  // The receiver's own decoder, which reports what libavcodec rejects.
  DecodificadorH264 h264;
  ASSERT_EQ(h264.prepararPara(Receptor::criarFormato(cliente.abertura[1])), 0);
  const Imagem imagem{av_frame_alloc()};
  for (int i = 0; i < 3; ++i) {
    const auto quadro = cliente.proxima(TipoMensagem::quadro);
    ASSERT_TRUE(quadro);
    EXPECT_EQ(h264.enviar(VistaBytes(quadro->second).subspan(1)), 0);
    EXPECT_EQ(h264.receber(*imagem), 0);
    EXPECT_EQ(imagem->width, 1920);
  }
  const auto cursor = cliente.proxima(TipoMensagem::cursor);
  ASSERT_TRUE(cursor);
  EXPECT_EQ(cursor->second.at(8), 0);
}
