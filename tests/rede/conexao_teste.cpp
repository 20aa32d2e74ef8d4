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
namespace {

using namespace std::chrono_literals;
using teste::naFila;
using teste::Registro;

constexpr std::size_t mebibyte = std::size_t{1024} * 1024;

// A connection made on `fila`, started at once, with its states recorded.
std::shared_ptr<Conexao> abrir(FilaAsio& fila, Transporte& transporte, const std::string& host,
                               std::uint16_t porta, const ParametrosTls& parametros,
                               const std::shared_ptr<Registro>& registro) {
  return naFila(fila, [&] {
    auto conexao = transporte.conexao(host, porta, parametros);
    conexao->aoMudarEstado([registro](EstadoConexao estado, const std::optional<ErroRede>& erro) {
      registro->estado(estado, erro);
    });
    conexao->iniciar();
    return conexao;
  });
}

teste::OpcoesServidor comChave(const std::array<std::uint8_t, 32>& chave) {
  teste::OpcoesServidor opcoes;
  opcoes.chave = chave;
  return opcoes;
}

bool algumEstado(const std::shared_ptr<Registro>& registro) {
  return registro->esperar([&] { return !registro->estados.empty(); });
}

}  // namespace

// Names the suite in test output instead of dumping its bytes.
void PrintTo(const Suite& suite, std::ostream* saida) {
  *saida << suite.nomeImpresso;
}

namespace {

class ConexaoTlsSuite : public ::testing::TestWithParam<Suite> {};

TEST_P(ConexaoTlsSuite, BecomesReadyNamesTheSuiteAndCarriesAMebibyteEachWayIntactAndInOrder) {
  const auto suite = GetParam();
  const auto chave = teste::chaveAleatoria();
  const auto paraOCliente = teste::bytesAleatorios(mebibyte + 12345);
  const auto doCliente = teste::bytesAleatorios(mebibyte + 54321);
  auto opcoes = comChave(chave);
  opcoes.suite = suite.nomeOpenssl;
  teste::ServidorTls servidor(opcoes);

  FilaAsio fila;
  TransporteAsio transporte(fila);
  auto registro = std::make_shared<Registro>();
  auto conexao = abrir(fila, transporte, "127.0.0.1", servidor.porta, teste::parametrosCom(chave), registro);
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

  ASSERT_TRUE(algumEstado(registro));
  ASSERT_EQ(registro->estados.front().first, EstadoConexao::pronta);
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
  naFila(fila, [&] { conexao->cancelar(); });
  EXPECT_TRUE(registro->bytes == paraOCliente) << registro->bytes.size() << " bytes at the client";
  EXPECT_LE(registro->maiorEntrega, mebibyte);
  EXPECT_FALSE(registro->erroRecepcao.has_value());
  EXPECT_EQ(registro->estados.size(), 1u);
}

INSTANTIATE_TEST_SUITE_P(CadaSuite, ConexaoTlsSuite, ::testing::ValuesIn(Pareamento::suites),
                         [](const auto& info) { return std::string(info.param.nomeImpresso); });

TEST(ConexaoTls, AServerHoldingAnotherKeyFailsTheHandshakeInTheTlsLayer) {
  teste::ServidorTls servidor(comChave(teste::chaveAleatoria()));
  FilaAsio fila;
  TransporteAsio transporte(fila);
  auto registro = std::make_shared<Registro>();
  auto conexao = abrir(fila, transporte, "127.0.0.1", servidor.porta,
                       teste::parametrosCom(teste::chaveAleatoria()), registro);

  ASSERT_TRUE(algumEstado(registro));
  const auto [estado, erro] = registro->estados.front();
  EXPECT_EQ(estado, EstadoConexao::falhou);
  ASSERT_TRUE(erro.has_value());
  EXPECT_EQ(erro->tipo, ErroRede::Tipo::tls) << erro->texto;
  EXPECT_FALSE(erro->texto.empty());
  naFila(fila, [&] { conexao->cancelar(); });
}

TEST(ConexaoTls, AServerThatOnlySpeaksTls13FailsTheHandshakeInTheTlsLayer) {
  const auto chave = teste::chaveAleatoria();
  auto opcoes = comChave(chave);
  opcoes.suite = "TLS_AES_128_GCM_SHA256";
  opcoes.versao = "-tls1_3";
  teste::ServidorTls servidor(opcoes);
  FilaAsio fila;
  TransporteAsio transporte(fila);
  auto registro = std::make_shared<Registro>();
  auto conexao = abrir(fila, transporte, "127.0.0.1", servidor.porta, teste::parametrosCom(chave), registro);

  ASSERT_TRUE(algumEstado(registro));
  const auto [estado, erro] = registro->estados.front();
  EXPECT_EQ(estado, EstadoConexao::falhou);
  ASSERT_TRUE(erro.has_value());
  EXPECT_EQ(erro->tipo, ErroRede::Tipo::tls) << erro->texto;
  naFila(fila, [&] { conexao->cancelar(); });
}

TEST(ConexaoTls, AClosedPortFailsWithTheSystemsConnectionRefused) {
  FilaAsio fila;
  TransporteAsio transporte(fila);
  auto registro = std::make_shared<Registro>();
  auto conexao = abrir(fila, transporte, "127.0.0.1", teste::portaLivre(),
                       teste::parametrosCom(teste::chaveAleatoria()), registro);

  ASSERT_TRUE(algumEstado(registro));
  const auto [estado, erro] = registro->estados.front();
  EXPECT_EQ(estado, EstadoConexao::falhou);
  ASSERT_TRUE(erro.has_value());
  EXPECT_EQ(erro->tipo, ErroRede::Tipo::posix);
  EXPECT_EQ(erro->codigo, ECONNREFUSED);
  EXPECT_EQ(erro->texto, std::strerror(ECONNREFUSED));
  EXPECT_FALSE(Pareamento::ehErroDeCodigo(*erro));
  naFila(fila, [&] { conexao->cancelar(); });
}

TEST(ConexaoTls, APeerHangingUpDuringTheHandshakeIsAnOrdinaryFailureNotARefusal) {
  // No alert came, so nothing says the code was wrong: a sender going away mid-handshake
  // must not cost the user a remembered code.
  asio::io_context contexto;
  asio::ip::tcp::acceptor ouvinte(contexto, {asio::ip::make_address("127.0.0.1"), 0});
  std::thread atender([&] { ouvinte.accept().close(); });
  FilaAsio fila;
  TransporteAsio transporte(fila);
  auto registro = std::make_shared<Registro>();
  auto conexao = abrir(fila, transporte, "127.0.0.1", ouvinte.local_endpoint().port(),
                       teste::parametrosCom(teste::chaveAleatoria()), registro);
  atender.join();

  ASSERT_TRUE(algumEstado(registro));
  const auto [estado, erro] = registro->estados.front();
  EXPECT_EQ(estado, EstadoConexao::falhou);
  ASSERT_TRUE(erro.has_value());
  EXPECT_FALSE(Pareamento::ehErroDeCodigo(*erro)) << erro->texto;
  naFila(fila, [&] { conexao->cancelar(); });
}

TEST(ConexaoTls, ADialByNameAndOneOverIpv6ReachTheServer) {
  for (const auto& [endereco, host, esperado] :
       {std::tuple("127.0.0.1", "localhost", "127.0.0.1:"), std::tuple("::1", "::1", "[::1]:")}) {
    const auto chave = teste::chaveAleatoria();
    auto opcoes = comChave(chave);
    opcoes.endereco = endereco;
    teste::ServidorTls servidor(opcoes);
    FilaAsio fila;
    TransporteAsio transporte(fila);
    auto registro = std::make_shared<Registro>();
    auto conexao = abrir(fila, transporte, host, servidor.porta, teste::parametrosCom(chave), registro);

    ASSERT_TRUE(algumEstado(registro)) << host;
    EXPECT_EQ(registro->estados.front().first, EstadoConexao::pronta) << host;
    EXPECT_EQ(naFila(fila, [&] { return conexao->endpoint(); }), esperado + std::to_string(servidor.porta));
    EXPECT_EQ(naFila(fila, [&] { return conexao->nomeInterface(); }), "lo");
    naFila(fila, [&] { conexao->cancelar(); });
  }
}

TEST(ConexaoTls, APeerClosingWithCloseNotifyEndsTheStreamAfterItsLastBytes) {
  const auto chave = teste::chaveAleatoria();
  // Without -quiet the server closes the session once its stdin ends.
  auto opcoes = comChave(chave);
  opcoes.silencioso = false;
  teste::ServidorTls servidor(opcoes);
  FilaAsio fila;
  TransporteAsio transporte(fila);
  auto registro = std::make_shared<Registro>();
  auto conexao = abrir(fila, transporte, "127.0.0.1", servidor.porta, teste::parametrosCom(chave), registro);
  naFila(fila, [&] { teste::receberSempre(conexao, registro); });
  ASSERT_TRUE(algumEstado(registro));

  const Bytes ultimas{'a', 'd', 'e', 'u', 's', '\n'};
  servidor.processo.escrever(ultimas);
  servidor.processo.fecharEntrada();
  ASSERT_TRUE(registro->esperar([&] { return registro->completo || registro->erroRecepcao; }));
  naFila(fila, [&] { conexao->cancelar(); });
  EXPECT_TRUE(registro->bytes == ultimas);
  EXPECT_FALSE(registro->erroRecepcao.has_value()) << registro->erroRecepcao->texto;
}

TEST(ConexaoTls, APeerThatVanishesWithoutCloseNotifyAlsoEndsTheStreamWithoutError) {
  const auto chave = teste::chaveAleatoria();
  teste::ServidorTls servidor(comChave(chave));
  FilaAsio fila;
  TransporteAsio transporte(fila);
  auto registro = std::make_shared<Registro>();
  auto conexao = abrir(fila, transporte, "127.0.0.1", servidor.porta, teste::parametrosCom(chave), registro);
  naFila(fila, [&] { teste::receberSempre(conexao, registro); });
  ASSERT_TRUE(algumEstado(registro));

  servidor.processo.sinalizar(SIGKILL);
  ASSERT_TRUE(registro->esperar([&] { return registro->completo || registro->erroRecepcao; }));
  naFila(fila, [&] { conexao->cancelar(); });
  EXPECT_TRUE(registro->completo);
  EXPECT_FALSE(registro->erroRecepcao.has_value()) << registro->erroRecepcao->texto;
}

TEST(ConexaoTls, AReceiveNeverDeliversMoreThanItsMaximum) {
  const auto chave = teste::chaveAleatoria();
  teste::ServidorTls servidor(comChave(chave));
  const auto dados = teste::bytesAleatorios(20000);
  FilaAsio fila;
  TransporteAsio transporte(fila);
  auto registro = std::make_shared<Registro>();
  auto conexao = abrir(fila, transporte, "127.0.0.1", servidor.porta, teste::parametrosCom(chave), registro);
  naFila(fila, [&] { teste::receberSempre(conexao, registro, 100); });
  ASSERT_TRUE(algumEstado(registro));
  servidor.processo.escrever(dados);

  EXPECT_TRUE(registro->esperar([&] { return registro->bytes.size() >= dados.size(); }));
  naFila(fila, [&] { conexao->cancelar(); });
  EXPECT_TRUE(registro->bytes == dados);
  EXPECT_LE(registro->maiorEntrega, 100u);
  EXPECT_GE(registro->recepcoes, dados.size() / 100);
}

TEST(ConexaoTls, NoCallbackRunsOnceCancelled) {
  const auto chave = teste::chaveAleatoria();
  teste::ServidorTls servidor(comChave(chave));
  FilaAsio fila;
  TransporteAsio transporte(fila);
  auto registro = std::make_shared<Registro>();
  // Cancelled from inside its own ready handler, with a receive pending and data on the way.
  auto conexao = naFila(fila, [&] {
    auto conexao = transporte.conexao("127.0.0.1", servidor.porta, teste::parametrosCom(chave));
    conexao->aoMudarEstado([registro, fraca = std::weak_ptr(conexao)](EstadoConexao estado,
                                                                      const std::optional<ErroRede>& erro) {
      registro->estado(estado, erro);
      if (const auto conexao = fraca.lock()) conexao->cancelar();
    });
    conexao->iniciar();
    teste::receberSempre(conexao, registro);
    return conexao;
  });
  ASSERT_TRUE(algumEstado(registro));
  // The server sees the close and ends; whatever was in flight has landed by then.
  EXPECT_TRUE(servidor.processo.esperarFim(10s).has_value());
  std::this_thread::sleep_for(200ms);
  naFila(fila, [] {});
  EXPECT_EQ(registro->estados.size(), 1u);
  EXPECT_EQ(registro->recepcoes, 0u);

  // Cancelled from inside a receive completion while more data streams in: that one is the last.
  teste::ServidorTls fluindo(comChave(chave));
  auto umaSo = std::make_shared<Registro>();
  auto segunda = abrir(fila, transporte, "127.0.0.1", fluindo.porta, teste::parametrosCom(chave), umaSo);
  ASSERT_TRUE(algumEstado(umaSo));
  fluindo.processo.escreverAoFundo(teste::bytesAleatorios(300000));
  naFila(fila, [&] {
    segunda->receber(
        1, 1000, [umaSo, segunda](const Bytes& dados, bool completo, const std::optional<ErroRede>& erro) {
          umaSo->recebido(dados, completo, erro);
          segunda->cancelar();
        });
    segunda->receber(1, 1000,
                     [umaSo](const Bytes& dados, bool completo, const std::optional<ErroRede>& erro) {
                       umaSo->recebido(dados, completo, erro);
                     });
  });
  EXPECT_TRUE(fluindo.processo.esperarFim(10s).has_value());
  std::this_thread::sleep_for(200ms);
  naFila(fila, [] {});
  EXPECT_EQ(umaSo->recepcoes, 1u);

  // Cancelled while still connecting: nothing at all is reported.
  teste::ServidorTls outro(comChave(chave));
  auto nada = std::make_shared<Registro>();
  naFila(fila, [&] {
    auto conexao = transporte.conexao("127.0.0.1", outro.porta, teste::parametrosCom(chave));
    conexao->aoMudarEstado(
        [nada](EstadoConexao estado, const std::optional<ErroRede>& erro) { nada->estado(estado, erro); });
    conexao->iniciar();
    teste::receberSempre(conexao, nada);
    conexao->cancelar();
  });
  std::this_thread::sleep_for(500ms);
  naFila(fila, [] {});
  EXPECT_TRUE(nada->estados.empty());
  EXPECT_EQ(nada->recepcoes, 0u);
}

TEST(ConexaoTls, AWiredDialGoesOnlyOverAnInterfaceTheWiredTestAccepts) {
  const auto chave = teste::chaveAleatoria();
  auto parametros = teste::parametrosCom(chave);
  parametros.exigirCabo = true;
  FilaAsio fila;

  // Loopback is not wired here: the attempt stays waiting and the server never hears of it.
  {
    teste::ServidorTls servidor(comChave(chave));
    std::vector<std::string> perguntadas;
    TransporteAsio transporte(fila, [&perguntadas](const std::string& nome) {
      perguntadas.push_back(nome);
      return false;
    });
    auto registro = std::make_shared<Registro>();
    auto conexao = abrir(fila, transporte, "127.0.0.1", servidor.porta, parametros, registro);
    EXPECT_FALSE(registro->esperar([&] { return !registro->estados.empty(); }, 1500ms));
    EXPECT_FALSE(servidor.processo.esperarFim(0ms).has_value());
    naFila(fila, [&] { conexao->cancelar(); });
    EXPECT_EQ(perguntadas, std::vector<std::string>{"lo"});
  }
  // Loopback counts as wired: the same dial connects.
  {
    teste::ServidorTls servidor(comChave(chave));
    TransporteAsio transporte(fila, [](const std::string& nome) { return nome == "lo"; });
    auto registro = std::make_shared<Registro>();
    auto conexao = abrir(fila, transporte, "127.0.0.1", servidor.porta, parametros, registro);
    ASSERT_TRUE(algumEstado(registro));
    EXPECT_EQ(registro->estados.front().first, EstadoConexao::pronta);
    naFila(fila, [&] { conexao->cancelar(); });
  }
}

}  // namespace
}  // namespace orbelo
