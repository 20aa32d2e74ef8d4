#include <gtest/gtest.h>
#include <signal.h>

#include <asio/ip/tcp.hpp>
#include <cerrno>
#include <cstring>
#include <memory>
#include <string>
#include <thread>

#include "Pares.hpp"
#include "receptor/plataforma/rede/TransporteAsio.hpp"

namespace orbelo {

// Names the suite in test output instead of dumping its bytes.
void PrintTo(const Suite& suite, std::ostream* saida) {
  *saida << suite.nomeImpresso;
}

namespace {

using namespace std::chrono_literals;
using teste::naFila;

constexpr std::size_t mebibyte = std::size_t{1024} * 1024;

teste::OpcoesServidor comChave(const std::array<std::uint8_t, 32>& chave) {
  teste::OpcoesServidor opcoes;
  opcoes.chave = chave;
  return opcoes;
}

class ConexaoTls : public ::testing::Test {
 protected:
  ~ConexaoTls() override { fechar(); }

  // Makes a connection on `fila` through `por` and starts it, recording into a fresh `registro`.
  void abrir(std::uint16_t porta, const ParametrosTls& parametros, const std::string& host = "127.0.0.1",
             Transporte* por = nullptr) {
    fechar();
    registro = std::make_shared<teste::Registro>();
    conexao = naFila(fila, [&, registro = registro] {
      auto nova = (por != nullptr ? *por : transporte).conexao(host, porta, parametros);
      nova->aoMudarEstado([registro](EstadoConexao estado, const std::optional<ErroRede>& erro) {
        registro->estado(estado, erro);
      });
      nova->iniciar();
      return nova;
    });
  }
  void fechar() {
    if (conexao) naFila(fila, [this] { conexao->cancelar(); });
  }
  // Whatever the connection is still to report has been reported (or dropped) once this returns.
  void assentar(std::chrono::milliseconds espera) {
    std::this_thread::sleep_for(espera);
    naFila(fila, [] {});
  }
  ErroRede falha() {
    const auto primeiro = registro->primeiroEstado();
    if (!primeiro || primeiro->first != EstadoConexao::falhou || !primeiro->second) {
      ADD_FAILURE() << "the connection did not fail with an error";
      return {};
    }
    return *primeiro->second;
  }
  bool pronta() {
    const auto primeiro = registro->primeiroEstado();
    return primeiro && primeiro->first == EstadoConexao::pronta;
  }

  FilaAsio fila;
  TransporteAsio transporte{fila};
  std::shared_ptr<teste::Registro> registro;
  std::shared_ptr<Conexao> conexao;
};

class ConexaoTlsSuite : public ConexaoTls, public ::testing::WithParamInterface<Suite> {};

TEST_P(ConexaoTlsSuite, BecomesReadyNamesTheSuiteAndCarriesAMebibyteEachWayIntactAndInOrder) {
  const auto suite = GetParam();
  const auto chave = teste::chaveAleatoria();
  const auto paraOCliente = teste::bytesAleatorios(mebibyte + 12345);
  const auto doCliente = teste::bytesAleatorios(mebibyte + 54321);
  auto opcoes = comChave(chave);
  opcoes.suite = suite.nomeOpenssl;
  teste::ServidorTls servidor(opcoes);

  abrir(servidor.porta, teste::parametrosCom(chave));
  // The first receive and the first messages go in before the handshake is over.
  naFila(fila, [&] {
    teste::receberSempre(conexao, registro);
    for (std::size_t inicio = 0; inicio < doCliente.size();) {
      const auto tamanho = std::min<std::size_t>(1 + (inicio * 7919) % 70000, doCliente.size() - inicio);
      const auto pedaco = VistaBytes(doCliente).subspan(inicio, tamanho);
      conexao->enviar(Bytes(pedaco.begin(), pedaco.end()));
      inicio += tamanho;
    }
  });
  ASSERT_TRUE(pronta());
  servidor.processo.escreverAoFundo(paraOCliente);
  const auto [negociada, interface, endpoint] = naFila(fila, [&] {
    return std::tuple(conexao->suiteNegociada(), conexao->nomeInterface(), conexao->endpoint());
  });
  EXPECT_EQ(negociada, suite.numero);
  EXPECT_EQ(Pareamento::suiteNegociada(negociada), suite.nomeImpresso);
  EXPECT_EQ(interface, "lo");
  EXPECT_EQ(endpoint, "127.0.0.1:" + std::to_string(servidor.porta));

  const auto recebidoPeloServidor = servidor.processo.lerSaida(doCliente.size(), 30s);
  EXPECT_TRUE(recebidoPeloServidor == doCliente) << recebidoPeloServidor.size() << " bytes at the server";
  EXPECT_TRUE(registro->esperar([&] { return registro->bytes.size() >= paraOCliente.size(); }, 30s));
  fechar();
  EXPECT_TRUE(registro->bytes == paraOCliente) << registro->bytes.size() << " bytes at the client";
  EXPECT_LE(registro->maiorEntrega, mebibyte);
  EXPECT_FALSE(registro->erroRecepcao.has_value());
  EXPECT_EQ(registro->estados.size(), 1u);
}

INSTANTIATE_TEST_SUITE_P(CadaSuite, ConexaoTlsSuite, ::testing::ValuesIn(Pareamento::suites),
                         [](const auto& info) { return std::string(info.param.nomeImpresso); });

TEST_F(ConexaoTls, AServerWithAnotherKeyOrOnlyTls13FailsInTheTlsLayerWhichReadsAsARefusal) {
  auto outraChave = comChave(teste::chaveAleatoria());
  auto soTls13 = comChave(teste::chaveAleatoria());
  soTls13.suite = "TLS_AES_128_GCM_SHA256";
  soTls13.versao = "-tls1_3";
  for (const auto& [opcoes, chaveCliente] :
       {std::pair(outraChave, teste::chaveAleatoria()), std::pair(soTls13, soTls13.chave)}) {
    teste::ServidorTls servidor(opcoes);
    abrir(servidor.porta, teste::parametrosCom(chaveCliente));
    const auto erro = falha();
    EXPECT_EQ(erro.tipo, ErroRede::Tipo::tls) << opcoes.versao << ": " << erro.texto;
    EXPECT_FALSE(erro.texto.empty());
    EXPECT_TRUE(Pareamento::ehErroDeCodigo(erro));
  }
}

TEST_F(ConexaoTls, AClosedPortFailsWithTheSystemsConnectionRefused) {
  abrir(teste::portaLivre(), teste::parametrosCom(teste::chaveAleatoria()));
  const auto erro = falha();
  EXPECT_EQ(erro.tipo, ErroRede::Tipo::posix);
  EXPECT_EQ(erro.codigo, ECONNREFUSED);
  EXPECT_EQ(erro.texto, std::strerror(ECONNREFUSED));
}

TEST_F(ConexaoTls, APeerHangingUpDuringTheHandshakeIsAnOrdinaryFailureNotARefusal) {
  // No alert came, so nothing says the code was wrong: a sender going away mid-handshake
  // must not cost the user a remembered code.
  asio::io_context contexto;
  asio::ip::tcp::acceptor ouvinte(contexto, {asio::ip::make_address("127.0.0.1"), 0});
  std::thread atender([&] { ouvinte.accept().close(); });
  abrir(ouvinte.local_endpoint().port(), teste::parametrosCom(teste::chaveAleatoria()));
  atender.join();
  const auto erro = falha();
  EXPECT_FALSE(Pareamento::ehErroDeCodigo(erro)) << erro.texto;
}

TEST_F(ConexaoTls, ADialByNameAndOneOverIpv6ReachTheServer) {
  for (const auto& [endereco, host, esperado] :
       {std::tuple("127.0.0.1", "localhost", "127.0.0.1:"), std::tuple("::1", "::1", "[::1]:")}) {
    const auto chave = teste::chaveAleatoria();
    auto opcoes = comChave(chave);
    opcoes.endereco = endereco;
    teste::ServidorTls servidor(opcoes);
    abrir(servidor.porta, teste::parametrosCom(chave), host);
    ASSERT_TRUE(pronta()) << host;
    EXPECT_EQ(naFila(fila, [&] { return conexao->endpoint(); }), esperado + std::to_string(servidor.porta));
    EXPECT_EQ(naFila(fila, [&] { return conexao->nomeInterface(); }), "lo");
  }
}

TEST_F(ConexaoTls, TheStreamEndsWithoutErrorWhetherThePeerSaysGoodbyeOrJustVanishes) {
  const Bytes ultimas{'a', 'd', 'e', 'u', 's', '\n'};
  for (const bool vaiEmbora : {false, true}) {
    const auto chave = teste::chaveAleatoria();
    // Without -quiet the server sends close_notify once its stdin ends.
    auto opcoes = comChave(chave);
    opcoes.silencioso = vaiEmbora;
    teste::ServidorTls servidor(opcoes);
    abrir(servidor.porta, teste::parametrosCom(chave));
    naFila(fila, [&] { teste::receberSempre(conexao, registro); });
    ASSERT_TRUE(pronta());
    if (vaiEmbora) {
      servidor.processo.sinalizar(SIGKILL);
    } else {
      servidor.processo.escrever(ultimas);
      servidor.processo.fecharEntrada();
    }
    ASSERT_TRUE(registro->esperar([&] { return registro->completo || registro->erroRecepcao; }));
    fechar();
    EXPECT_FALSE(registro->erroRecepcao.has_value()) << registro->erroRecepcao->texto;
    if (!vaiEmbora) {
      EXPECT_TRUE(registro->bytes == ultimas);
    }
  }
}

TEST_F(ConexaoTls, AReceiveNeverDeliversMoreThanItsMaximum) {
  const auto chave = teste::chaveAleatoria();
  teste::ServidorTls servidor(comChave(chave));
  const auto dados = teste::bytesAleatorios(20000);
  abrir(servidor.porta, teste::parametrosCom(chave));
  naFila(fila, [&] { teste::receberSempre(conexao, registro, 100); });
  ASSERT_TRUE(pronta());
  servidor.processo.escrever(dados);

  EXPECT_TRUE(registro->esperar([&] { return registro->bytes.size() >= dados.size(); }));
  fechar();
  EXPECT_TRUE(registro->bytes == dados);
  EXPECT_LE(registro->maiorEntrega, 100u);
}

TEST_F(ConexaoTls, NoCallbackRunsOnceCancelled) {
  const auto chave = teste::chaveAleatoria();
  registro = std::make_shared<teste::Registro>();
  const auto cancelarAo = [](const std::shared_ptr<Conexao>& alvo) {
    return [fraca = std::weak_ptr(alvo)] {
      if (const auto alvo = fraca.lock()) alvo->cancelar();
    };
  };

  // Cancelled from inside its own ready handler, with a receive pending.
  teste::ServidorTls servidor(comChave(chave));
  conexao = naFila(fila, [&, registro = registro] {
    auto nova = transporte.conexao("127.0.0.1", servidor.porta, teste::parametrosCom(chave));
    nova->aoMudarEstado(
        [registro, cancelar = cancelarAo(nova)](EstadoConexao estado, const std::optional<ErroRede>& erro) {
          registro->estado(estado, erro);
          cancelar();
        });
    nova->iniciar();
    teste::receberSempre(nova, registro);
    return nova;
  });
  ASSERT_TRUE(pronta());
  // The server sees the close and ends; whatever was in flight has landed by then.
  EXPECT_TRUE(servidor.processo.esperarFim(10s).has_value());
  assentar(200ms);
  EXPECT_EQ(registro->estados.size(), 1u);
  EXPECT_EQ(registro->recepcoes, 0u);

  // Cancelled from inside a receive completion while more data streams in: that one is the last.
  teste::ServidorTls fluindo(comChave(chave));
  abrir(fluindo.porta, teste::parametrosCom(chave));
  ASSERT_TRUE(pronta());
  fluindo.processo.escreverAoFundo(teste::bytesAleatorios(300000));
  naFila(fila, [&] {
    const auto anotar = [registro = registro](const Bytes& dados, bool completo,
                                              const std::optional<ErroRede>& erro) {
      registro->recebido(dados, completo, erro);
    };
    conexao->receber(1, 1000,
                     [anotar, cancelar = cancelarAo(conexao)](const Bytes& dados, bool completo,
                                                              const std::optional<ErroRede>& erro) {
                       anotar(dados, completo, erro);
                       cancelar();
                     });
    conexao->receber(1, 1000, anotar);
  });
  EXPECT_TRUE(fluindo.processo.esperarFim(10s).has_value());
  assentar(200ms);
  EXPECT_EQ(registro->recepcoes, 1u);

  // Cancelled while still connecting (in the same task that started it, so the handshake
  // cannot win the race): nothing at all is reported.
  teste::ServidorTls outro(comChave(chave));
  fechar();
  registro = std::make_shared<teste::Registro>();
  conexao = naFila(fila, [&, registro = registro] {
    auto nova = transporte.conexao("127.0.0.1", outro.porta, teste::parametrosCom(chave));
    nova->aoMudarEstado([registro](EstadoConexao estado, const std::optional<ErroRede>& erro) {
      registro->estado(estado, erro);
    });
    nova->iniciar();
    teste::receberSempre(nova, registro);
    nova->cancelar();
    return nova;
  });
  assentar(500ms);
  EXPECT_TRUE(registro->estados.empty());
  EXPECT_EQ(registro->recepcoes, 0u);
}

TEST_F(ConexaoTls, AWiredDialGoesOnlyOverAnInterfaceTheWiredTestAccepts) {
  const auto chave = teste::chaveAleatoria();
  auto parametros = teste::parametrosCom(chave);
  parametros.exigirCabo = true;

  // Loopback is not wired here: the attempt stays waiting and the server never hears of it.
  teste::ServidorTls servidor(comChave(chave));
  std::vector<std::string> perguntadas;  // only on `fila`
  TransporteAsio semCabo(fila, [&perguntadas](const std::string& nome) {
    perguntadas.push_back(nome);
    return false;
  });
  abrir(servidor.porta, parametros, "127.0.0.1", &semCabo);
  EXPECT_FALSE(registro->primeiroEstado(1500ms).has_value());
  EXPECT_FALSE(servidor.processo.esperarFim(0ms).has_value());
  EXPECT_EQ(naFila(fila, [&] { return perguntadas; }), std::vector<std::string>{"lo"});

  // Loopback counts as wired: the same dial connects.
  TransporteAsio comCabo(fila, [](const std::string& nome) { return nome == "lo"; });
  abrir(servidor.porta, parametros, "127.0.0.1", &comCabo);
  EXPECT_TRUE(pronta());
  fechar();
}

}  // namespace
}  // namespace orbelo
