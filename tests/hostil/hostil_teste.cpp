// The real orbelo, in a window on the test display, against the test itself as a TLS peer that
// breaks the rules. Memory is bounded loosely and the figures are printed.
#include <thread>

#include "e2e/Caso.hpp"

namespace orbelo::teste {
namespace {

// AddressSanitizer holds freed blocks back, so under it resident memory is printed, not judged.
#ifdef __SANITIZE_ADDRESS__
constexpr bool memoriaConfiavel = false;
#else
constexpr bool memoriaConfiavel = true;
#endif

// Pings `marca` until its pong comes back, reading past everything else: proof that the
// receiver still reads, handles and answers. One whose output is full may drop pongs, so the
// ping is repeated.
bool responde(SessaoPsk& sessao, std::string_view marca) {
  const Bytes payload(marca.begin(), marca.end());
  for (int rodada = 0; rodada < 40 && sessao.enviar(Protocolo::empacotar(TipoMensagem::ping, payload));
       ++rodada) {
    for (const auto fim = std::chrono::steady_clock::now() + 500ms; std::chrono::steady_clock::now() < fim;) {
      if (const auto m = sessao.receber(100ms); m && m->first == TipoMensagem::pong && m->second == payload) {
        return true;
      }
    }
  }
  return false;
}

using HostilTeste = CasoE2E;

TEST_F(HostilTeste,
       TheLargestFrameCutOffAndAPingFloodTakeNoRoomAndTheSenderGoneIsDialledAgainOnNoSocketOfItsOwn) {
  const auto servidor = servidorPsk();
  Orbelo orbelo(configuracao.caminho(), discar(servidor->porta()));
  auto sessao = std::make_unique<SessaoPsk>(*servidor);
  ASSERT_TRUE(sessao->aberta() && responde(*sessao, "pronto"));
  Bytes inicio = Protocolo::cabecalho(TipoMensagem::quadro, Protocolo::comprimentoMaximo - 1);
  inicio.resize(inicio.size() + 512 * 1024, 0);
  auto antes = memoria(orbelo.id());
  ASSERT_TRUE(sessao->enviar(inicio));
  std::this_thread::sleep_for(8s);
  auto depois = memoria(orbelo.id());
  std::cout << "64 MiB frame, 512 KiB of it sent, in KiB: resident " << antes.rssKib << " -> "
            << depois.rssKib << ", peak " << depois.picoKib << ", data " << antes.dadosKib << " -> "
            << depois.dadosKib << "\n";
  EXPECT_LT(depois.dadosKib - antes.dadosKib, 16 * 1024) << "room was made for the announced frame";
  EXPECT_TRUE(!memoriaConfiavel || depois.picoKib - antes.picoKib < 16 * 1024);

  // Gone mid-frame without a word, as a killed sender goes.
  sessao.reset();
  ASSERT_TRUE(orbelo.esperarLinha("Conexão encerrada")) << "the broken link went unnoticed";
  sessao = std::make_unique<SessaoPsk>(*servidor);
  ASSERT_TRUE(sessao->aberta() && responde(*sessao, "pronto")) << "not dialled again";
  EXPECT_TRUE(orbelo.esperarLinha("Conectado a 127.0.0.1:"));
  // Its one socket is the connection to the sender: none listens, none is bound for UDP.
  EXPECT_THAT(soquetes(orbelo.id()),
              testing::ElementsAre(testing::AllOf(testing::StartsWith("tcp "), testing::EndsWith(" 01"))));

  // Pings nobody reads the answers to: the receiver's pongs pile up on its side.
  antes = memoria(orbelo.id());
  long enviados = 0;
  for (const auto fim = std::chrono::steady_clock::now() + 5s;
       std::chrono::steady_clock::now() < fim &&
       sessao->enviar(Protocolo::empacotar(TipoMensagem::ping, Bytes(1024, 0xAB)));) {
    ++enviados;
  }
  depois = memoria(orbelo.id());
  EXPECT_TRUE(responde(*sessao, "vivo")) << "the receiver stopped answering";
  std::cout << enviados << " pings of 1 KiB in 5 s, none read back: peak resident " << antes.picoKib << " -> "
            << depois.picoKib << " KiB\n";
  EXPECT_TRUE(!memoriaConfiavel || depois.picoKib - antes.picoKib < 64 * 1024) << "unanswered pongs piled up";
}

}  // namespace
}  // namespace orbelo::teste
