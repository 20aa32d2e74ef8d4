// The real orbelo, in a window on the test display, against senders that misbehave: the test
// itself as a TLS peer that breaks the rules, and the reference sender at full speed.
// Each case prints the figure it measures.
#include <gtest/gtest.h>
#include <sys/ptrace.h>
#include <sys/wait.h>

#include <future>
#include <limits>
#include <thread>

#include "ImagensHostis.hpp"
#include "apoio/Apoio.hpp"
#include "apoio/Tela.hpp"

namespace orbelo::teste {
namespace {

std::string mib(long kib) {
  return std::to_string(kib / 1024) + "." + std::to_string(kib % 1024 * 10 / 1024) + " MiB";
}

// Pings `marca` until its pong comes back, reading past everything else the receiver sends:
// proof that it still reads, handles and answers. A receiver whose output is full may drop
// pongs, so the ping is repeated.
bool responde(SessaoPsk& sessao, std::string_view marca) {
  const Bytes payload(marca.begin(), marca.end());
  for (int rodada = 0; rodada < 40 && sessao.enviar(TipoMensagem::ping, payload); ++rodada) {
    for (const auto fim = std::chrono::steady_clock::now() + 500ms; std::chrono::steady_clock::now() < fim;) {
      if (const auto m = sessao.receber(100ms); m && m->first == TipoMensagem::pong && m->second == payload) {
        return true;
      }
    }
  }
  return false;
}

// One thread of a process held still by ptrace while the others run on: to the rest of the
// program, a main thread that cannot keep up (a slow driver, say).
class LinhaRetida {
 public:
  explicit LinhaRetida(pid_t linha) : linha(linha) {
    int status = 0;
    retida = ptrace(PTRACE_SEIZE, linha, nullptr, nullptr) == 0 &&
             ptrace(PTRACE_INTERRUPT, linha, nullptr, nullptr) == 0 &&
             waitpid(linha, &status, __WALL) == linha;
  }
  ~LinhaRetida() {
    if (retida) {
      ptrace(PTRACE_DETACH, linha, nullptr, nullptr);
    }
  }
  bool retida = false;

 private:
  pid_t linha;
};

class HostilTeste : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { prepararServicos(); }

  // The receiver in a window, dialling `porta`, or the test's own server.
  Orbelo& abrirOrbelo(std::uint16_t porta = 0) {
    orbelo.reset();
    orbelo = std::make_unique<Orbelo>(configuracao.caminho(), discar(porta ? porta : servidor->porta()));
    return *orbelo;
  }
  // The receiver's next connection once it answers a ping; none within 30 s.
  std::unique_ptr<SessaoPsk> aceitar() {
    auto aceita = std::async(std::launch::async, [this] {
      while (!servidor->fechado()) {
        if (auto sessao = std::make_unique<SessaoPsk>(*servidor);
            sessao->aberta() && responde(*sessao, "pronto")) {
          return sessao;
        }
      }
      return std::unique_ptr<SessaoPsk>();
    });
    if (aceita.wait_for(30s) != std::future_status::ready) {
      servidor->fechar();
    }
    return aceita.get();
  }
  pid_t pid() const { return orbelo->id(); }
  bool vivo() { return !orbelo->esperarFim(0ms).has_value(); }
  // AddressSanitizer holds freed blocks back for a while, so under it resident memory
  // measures its quarantine too: the figures are printed, not judged.
  bool memoriaConfiavel() const {
    const auto mapas = lerArquivo("/proc/" + std::to_string(pid()) + "/maps");
    if (std::string(mapas.begin(), mapas.end()).find("libasan") == std::string::npos) {
      return true;
    }
    std::cout << "(sanitizer build: resident memory includes its quarantine and is not judged)\n";
    return false;
  }
  // Escape as a person presses it, on the receiver's window; how long the receiver took to end,
  // printed, not judged: a loaded machine under a sanitizer takes its time.
  void fecharComEsc(const std::string& caso) {
    EXPECT_TRUE(xdotool("windowfocus --sync \"$(xdotool search --sync --onlyvisible --pid " +
                        std::to_string(pid()) + " | head -n 1)\""));
    const auto inicio = std::chrono::steady_clock::now();
    EXPECT_TRUE(xdotool("key Escape"));
    EXPECT_EQ(orbelo->esperarFim(60s), 0) << caso;
    std::cout << caso << ": Escape ended it in " << (std::chrono::steady_clock::now() - inicio) / 1ms
              << " ms\n";
  }

  PastaTemporaria configuracao;
  std::unique_ptr<emissor::Servidor> servidor = servidorPsk();
  std::unique_ptr<Orbelo> orbelo;
};

TEST_F(HostilTeste,
       TheLargestFrameAnnouncedAndCutOffTakesNoRoomAndTheSenderGoneIsDialledAgainOnNoSocketOfItsOwn) {
  auto& receptor = abrirOrbelo();
  auto sessao = aceitar();
  ASSERT_TRUE(sessao);
  Bytes inicio;
  anexarBE(inicio, Protocolo::comprimentoMaximo);
  inicio.insert(inicio.end(), {static_cast<std::uint8_t>(TipoMensagem::quadro), 1});
  inicio.resize(inicio.size() + 512 * 1024, 0);
  const auto antes = memoria(pid());
  ASSERT_TRUE(sessao->enviar(inicio));
  std::this_thread::sleep_for(8s);
  const auto depois = memoria(pid());
  std::cout << "64 MiB frame, 512 KiB of it sent: resident " << mib(antes.rssKib) << " -> "
            << mib(depois.rssKib) << ", peak " << mib(depois.picoKib) << ", data " << mib(antes.dadosKib)
            << " -> " << mib(depois.dadosKib) << "\n";
  EXPECT_LT(depois.dadosKib - antes.dadosKib, 16 * 1024) << "room was made for the announced frame";
  if (memoriaConfiavel()) {
    EXPECT_LT(depois.picoKib - antes.picoKib, 16 * 1024);
  }

  // Gone mid-frame without a word, as a killed sender goes.
  const auto queda = std::chrono::steady_clock::now();
  sessao.reset();
  ASSERT_TRUE(receptor.esperarLinha("Conexão encerrada")) << "the broken link went unnoticed";
  std::cout << "sender gone mid-frame: noticed in " << (std::chrono::steady_clock::now() - queda) / 1ms
            << " ms\n";
  sessao = aceitar();
  ASSERT_TRUE(sessao) << "not dialled again";
  EXPECT_TRUE(receptor.esperarLinha("Conectado a 127.0.0.1:"));
  bool conectado = false;
  for (const auto& soquete : soquetes(pid())) {
    conectado = conectado || (soquete.starts_with("tcp ") && soquete.ends_with(" 01"));
    EXPECT_FALSE(soquete.ends_with(" 0A")) << "listening: " << soquete;
    EXPECT_FALSE(soquete.starts_with("udp")) << "bound: " << soquete;
  }
  EXPECT_TRUE(conectado) << "the connection to the sender was not found, so nothing was looked at";
  fecharComEsc("announced frame");
}

TEST_F(HostilTeste, APingFloodNobodyReadsTheAnswersToIsAnsweredWithinBoundedMemory) {
  abrirOrbelo();
  auto sessao = aceitar();
  ASSERT_TRUE(sessao);
  std::this_thread::sleep_for(1s);
  const auto antes = memoria(pid());
  const Bytes payload(1024, 0xAB);
  long enviados = 0;
  // Nothing is read meanwhile: the receiver's answers pile up on its side.
  for (const auto fim = std::chrono::steady_clock::now() + 5s;
       std::chrono::steady_clock::now() < fim && sessao->enviar(TipoMensagem::ping, payload);) {
    ++enviados;
  }
  const auto depois = memoria(pid());
  EXPECT_TRUE(responde(*sessao, "vivo")) << "the receiver stopped answering";
  std::cout << enviados << " pings of 1 KiB in 5 s, none read back: peak resident " << mib(antes.picoKib)
            << " -> " << mib(depois.picoKib) << "\n";
  if (memoriaConfiavel()) {
    EXPECT_LT(depois.picoKib - antes.picoKib, 64 * 1024) << "unanswered pongs piled up";
  }
  EXPECT_TRUE(vivo());
}

// Pointer images are decoded on a thread of their own and drawn by the window's: a reader
// stuck in a file cut short or filling memory, or pointer values that are not numbers, would
// freeze, swell or break the receiver.
TEST_F(HostilTeste, HugeOrCutPointerImagesNonFiniteValuesAndZeroSidedConfigsAreSurvivedInBoundedMemory) {
  using namespace Mensagens;
  constexpr float nan = std::numeric_limits<float>::quiet_NaN(), inf = std::numeric_limits<float>::infinity(),
                  enorme = std::numeric_limits<float>::max();
  const auto imagens = [](Bytes arquivo, int vezes) {
    std::vector<Bytes> mensagens{Config{1920, 1080}.empacotar(), Cursor{0.5F, 0.5F, true}.empacotar()};
    mensagens.insert(mensagens.end(), vezes,
                     ImagemCursor{{0.02F, 0.03F, 0, 0}, std::move(arquivo)}.empacotar());
    return mensagens;
  };
  auto cortado = pngDeUmPixel(8, 8);
  cortado.resize(41);  // after the second chunk's header
  const auto pixel = pngDeUmPixel();
  std::vector<Bytes> naoFinitos{Config{1920, 1080}.empacotar(),
                                ImagemCursor{{0.02F, 0.03F, 0, 0}, pixel}.empacotar()};
  for (const auto& [x, y] :
       {std::pair{nan, 0.5F}, {0.5F, inf}, {-inf, nan}, {enorme, -enorme}, {0.5F, 0.5F}}) {
    naoFinitos.push_back(Cursor{x, y, true}.empacotar());
  }
  for (const float valor : {nan, inf, -inf, enorme, -enorme}) {
    naoFinitos.push_back(ImagemCursor{{valor, 0.03F, 0, 0}, pixel}.empacotar());
    naoFinitos.push_back(ImagemCursor{{0.02F, 0.03F, valor, valor}, pixel}.empacotar());
  }
  std::vector<Bytes> configZero{ImagemCursor{{0.02F, 0.03F, 0.5F, 0.5F}, pixel}.empacotar(),
                                Cursor{0.5F, 0.5F, true}.empacotar()};
  for (const auto& [largura, altura] : {std::pair{0u, 0u}, {0u, 1080u}, {1920u, 0u}, {4294967295u, 1u}}) {
    configZero.push_back(Config{largura, altura}.empacotar());
    configZero.push_back(Cursor{0.25F, 0.75F, true}.empacotar());
  }
  const std::vector<std::tuple<std::string, std::vector<Bytes>, std::vector<std::string>>> casos{
      {"PNG declaring 50000x50000, 200 times", imagens(pngDeUmPixel(50000, 50000), 200), {}},
      {"PNG cut after a chunk header", imagens(cortado, 3), {}},
      {"1x1 PNG inflating to 2 GiB", imagens(bombaPng(2048), 3), {}},
      {"TIFF 1x1 to a careless reader, 40000x40000 to libtiff", imagens(tiffDisfarcado(), 3), {}},
      {"5 MiB file", imagens(bombaPng(5120), 2), {}},
      {"non-finite values", naoFinitos, {}},
      {"zero-sided configs", configZero, {"Emissor em 0x0.", "Emissor em 4294967295x1."}}};
  for (const auto& [caso, mensagens, linhas] : casos) {
    auto& receptor = abrirOrbelo();
    auto sessao = aceitar();
    ASSERT_TRUE(sessao) << caso;
    const auto antes = memoria(pid());
    for (const auto& mensagem : mensagens) {
      sessao->enviar(mensagem);
    }
    EXPECT_TRUE(responde(*sessao, "vivo")) << caso;
    for (const auto& linha : linhas) {
      EXPECT_TRUE(receptor.esperarLinha(linha)) << caso;
    }
    // The last image may still be decoding after the pong.
    std::this_thread::sleep_for(2s);
    const auto depois = memoria(pid());
    EXPECT_TRUE(vivo()) << caso;
    std::cout << caso << ": peak resident " << mib(antes.picoKib) << " -> " << mib(depois.picoKib) << "\n";
    // A decode's own budget, 24 MiB, and the copies of the file.
    if (memoriaConfiavel()) {
      EXPECT_LT(depois.picoKib - antes.picoKib, 48 * 1024) << caso;
    }
    fecharComEsc(caso);
  }
}

// Each cycle lasts about four seconds (a second's pause, then three on a cable loopback is
// not); ORBELO_RECONEXOES=1000 is the long run by hand.
TEST_F(HostilTeste, ReconnectionsInARowLeaveMemoryAndDescriptorsFlat) {
  const char* pedidas = std::getenv("ORBELO_RECONEXOES");
  const int vezes = pedidas ? std::atoi(pedidas) : 40;
  const int aquecimento = std::min(10, vezes / 2);
  ASSERT_GT(vezes, aquecimento);
  auto& receptor = abrirOrbelo();
  Memoria inicio{}, fim{};
  int descritoresInicio = 0, descritoresFim = 0;
  for (int i = 1; i <= vezes; ++i) {
    auto sessao = aceitar();
    ASSERT_TRUE(sessao) << "connection " << i;
    // Reading the receiver's lines as they come keeps its output from filling up.
    ASSERT_TRUE(receptor.esperarLinha("Conectado a ")) << "connection " << i;
    if (i == aquecimento) {
      inicio = memoria(pid()), descritoresInicio = descritores(pid());
    }
    if (i == vezes) {
      fim = memoria(pid()), descritoresFim = descritores(pid());
    }
    sessao->fechar();
  }
  std::cout << vezes << " connections: open descriptors " << descritoresInicio << " at connection "
            << aquecimento << ", " << descritoresFim << " at the last; resident " << mib(inicio.rssKib)
            << " -> " << mib(fim.rssKib) << "\n";
  EXPECT_LE(descritoresFim, descritoresInicio);
  if (memoriaConfiavel()) {
    EXPECT_LT(fim.rssKib - inicio.rssKib, 16 * 1024);
  }
  EXPECT_TRUE(vivo());
}

// The sender streams as fast as the link goes while the receiver's main thread is held: the
// socket is left unread once what waits for that thread passes its cap, so TCP slows the
// sender down instead of memory growing at link speed.
TEST_F(HostilTeste, AMainThreadHeldStillUnderAFullSpeedStreamKeepsMemoryBounded) {
  PastaTemporaria pasta;
  const auto arquivo = pasta / "ruido.h264";
  ffmpeg(
      "-f lavfi -i 'nullsrc=s=1280x720:r=30,geq=lum=random(1)*255:cb=128:cr=128' -frames:v 20 "
      "-c:v libx264 -preset ultrafast -qp 0 -g 1 -f h264 '" +
      arquivo.string() + "'");
  Emissor emissor({"--arquivo", arquivo.string(), "--fps", "240"});
  auto& receptor = abrirOrbelo(emissor.porta());
  ASSERT_TRUE(receptor.esperarLinha("Conectado a "));
  ASSERT_TRUE(emissor.esperarLinha("Exibição: ")) << "no picture was shown";
  const auto antes = memoria(pid());
  Memoria retido;
  {
    LinhaRetida linha(pid());
    ASSERT_TRUE(linha.retida) << "ptrace is not allowed here";
    std::this_thread::sleep_for(6s);
    retido = memoria(pid());
  }
  std::cout << "main thread held 6 s under a full-speed stream: resident " << mib(antes.rssKib) << " -> "
            << mib(retido.rssKib) << "\n";
  if (memoriaConfiavel()) {
    EXPECT_LT(retido.rssKib - antes.rssKib, 96 * 1024) << "memory grew with the link";
  }
  EXPECT_TRUE(vivo());
  fecharComEsc("main thread held");
}

}  // namespace
}  // namespace orbelo::teste
