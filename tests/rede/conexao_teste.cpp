#include <gtest/gtest.h>

#include <asio/ip/tcp.hpp>
#include <cerrno>
#include <cstring>

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

class ConexaoTls : public ::testing::Test {
 protected:
  ~ConexaoTls() override { fechar(); }

  // Makes a connection through `por` and starts it; `antes` runs on `fila` right after the start.
  void abrir(std::uint16_t porta, ParametrosTls parametros, const std::string& host = "127.0.0.1",
             Transporte* por = nullptr, const std::function<void()>& antes = [] {}) {
    fechar();
    registro = std::make_shared<teste::Registro>();
    conexao = naFila(fila, [&] {
      conexao = (por != nullptr ? *por : transporte).conexao(host, porta, parametros);
      conexao->aoMudarEstado(registro->anotarEstado());
      conexao->iniciar();
      antes();
      return conexao;
    });
  }
  void fechar() {
    if (conexao) naFila(fila, [this] { conexao->cancelar(); });
  }
  ErroRede falha() {
    const auto primeiro = registro->primeiroEstado();
    EXPECT_TRUE(primeiro && primeiro->first == EstadoConexao::falhou && primeiro->second);
    return primeiro && primeiro->second ? *primeiro->second : ErroRede{};
  }
  bool pronta() {
    const auto primeiro = registro->primeiroEstado();
    return primeiro && primeiro->first == EstadoConexao::pronta;
  }
  // Whatever the connection is still to report has been reported (or dropped) once this returns.
  void assentar(std::chrono::milliseconds espera) {
    std::this_thread::sleep_for(espera);
    naFila(fila, [] {});
  }

  FilaAsio fila;
  TransporteAsio transporte{fila};
  std::shared_ptr<teste::Registro> registro;
  std::shared_ptr<Conexao> conexao;
  const ParametrosTls parametros = Pareamento::parametros("123456");
};

class ConexaoTlsSuite : public ConexaoTls, public ::testing::WithParamInterface<Suite> {};

TEST_P(ConexaoTlsSuite, BecomesReadyNamesTheSuiteAndCarriesAMebibyteEachWayIntactAndInOrder) {
  const auto paraOCliente = teste::bytesAleatorios(1024 * 1024 + 12345);
  const auto doCliente = teste::bytesAleatorios(1024 * 1024 + 54321);
  teste::ServidorTls servidor({.suite = std::string(GetParam().nomeOpenssl)});
  // The first receive and the first messages go in before the handshake is over.
  abrir(servidor.porta, parametros, "127.0.0.1", nullptr, [&] {
    teste::receberSempre(conexao, registro, 4096);
    for (std::size_t inicio = 0, tamanho; inicio < doCliente.size(); inicio += tamanho) {
      tamanho = std::min<std::size_t>(1 + (inicio * 7919) % 70000, doCliente.size() - inicio);
      conexao->enviar(Bytes(doCliente.begin() + inicio, doCliente.begin() + inicio + tamanho));
    }
  });
  ASSERT_TRUE(pronta());
  servidor.escrever(paraOCliente);
  EXPECT_EQ(Pareamento::suiteNegociada(naFila(fila, [&] { return conexao->suiteNegociada(); })),
            GetParam().nomeImpresso);
  Bytes noServidor;
  teste::esperar([&] { return (noServidor = teste::lerArquivo(servidor.saida)).size() >= doCliente.size(); }, 30s);
  EXPECT_TRUE(noServidor == doCliente) << noServidor.size() << " bytes";
  EXPECT_TRUE(registro->esperar([&] { return registro->bytes.size() >= paraOCliente.size(); }, 30s));
  fechar();
  EXPECT_TRUE(registro->bytes == paraOCliente) << registro->bytes.size() << " bytes at the client";
  EXPECT_LE(registro->maiorEntrega, 4096u);
  EXPECT_FALSE(registro->erroRecepcao.has_value());
  EXPECT_EQ(registro->estados.size(), 1u);
}

INSTANTIATE_TEST_SUITE_P(CadaSuite, ConexaoTlsSuite, ::testing::ValuesIn(Pareamento::suites),
                         [](const auto& info) { return std::string(info.param.nomeImpresso); });

TEST_F(ConexaoTls, AnotherCodeOrATls13OnlyServerFailsInTheTlsLayerAndAClosedPortIsRefused) {
  for (const auto& opcoes : {teste::OpcoesServidor{.codigo = "654321"},
                             teste::OpcoesServidor{.suite = "TLS_AES_128_GCM_SHA256", .versao = "-tls1_3"}}) {
    teste::ServidorTls servidor(opcoes);
    abrir(servidor.porta, parametros);
    const auto erro = falha();
    EXPECT_EQ(erro.tipo, ErroRede::Tipo::tls) << opcoes.versao << ": " << erro.texto;
    EXPECT_FALSE(erro.texto.empty());
    EXPECT_TRUE(Pareamento::ehErroDeCodigo(erro));
  }
  abrir(teste::portaLivre(), parametros);
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
  abrir(ouvinte.local_endpoint().port(), parametros);
  atender.join();
  EXPECT_FALSE(Pareamento::ehErroDeCodigo(falha()));
}

TEST_F(ConexaoTls, ADialByNameAndOneOverIpv6ReachTheServer) {
  for (const auto& [endereco, host, esperado] :
       {std::tuple("127.0.0.1", "localhost", "127.0.0.1:"), std::tuple("[::1]", "::1", "[::1]:")}) {
    teste::ServidorTls servidor({.endereco = endereco});
    abrir(servidor.porta, parametros, host);
    ASSERT_TRUE(pronta()) << host;
    EXPECT_EQ(naFila(fila, [&] { return conexao->endpoint() + " " + conexao->nomeInterface().value_or("?"); }),
              esperado + std::to_string(servidor.porta) + " lo");
  }
}

TEST_F(ConexaoTls, NoCallbackRunsOnceCancelled) {
  const auto cancelarAo = [](const std::shared_ptr<Conexao>& alvo) {
    return [fraca = std::weak_ptr(alvo)] {
      if (const auto alvo = fraca.lock()) alvo->cancelar();
    };
  };
  // Cancelled from inside its own ready handler, with a receive pending. The server sees
  // the close and ends; whatever was in flight has landed by then.
  teste::ServidorTls servidor;
  abrir(servidor.porta, parametros, "127.0.0.1", nullptr, [&] {
    conexao->aoMudarEstado([anotar = registro->anotarEstado(), cancelar = cancelarAo(conexao)](
                               EstadoConexao estado, const std::optional<ErroRede>& erro) {
      anotar(estado, erro);
      cancelar();
    });
    teste::receberSempre(conexao, registro);
  });
  ASSERT_TRUE(pronta());
  EXPECT_TRUE(servidor.terminou(10s));
  assentar(200ms);
  EXPECT_EQ(registro->estados.size(), 1u);
  EXPECT_EQ(registro->recepcoes, 0u);

  // Cancelled from inside a receive completion while more data streams in: that one is the last.
  teste::ServidorTls fluindo;
  abrir(fluindo.porta, parametros);
  ASSERT_TRUE(pronta());
  fluindo.escrever(teste::bytesAleatorios(300000));
  naFila(fila, [&] {
    const auto anotar = std::bind_front(&teste::Registro::recebido, registro);
    conexao->receber(1, 1000, [anotar, cancelar = cancelarAo(conexao)](const Bytes& dados, bool completo,
                                                                       const std::optional<ErroRede>& erro) {
      anotar(dados, completo, erro);
      cancelar();
    });
    conexao->receber(1, 1000, anotar);
  });
  EXPECT_TRUE(fluindo.terminou(10s));
  assentar(200ms);
  EXPECT_EQ(registro->recepcoes, 1u);

  // Cancelled in the task that started it, so the handshake cannot win: nothing is reported.
  teste::ServidorTls outro;
  abrir(outro.porta, parametros, "127.0.0.1", nullptr, [&] {
    teste::receberSempre(conexao, registro);
    conexao->cancelar();
  });
  assentar(500ms);
  EXPECT_TRUE(registro->estados.empty());
  EXPECT_EQ(registro->recepcoes, 0u);
}

TEST_F(ConexaoTls, AWiredDialGoesOnlyOverAnInterfaceTheWiredTestAccepts) {
  auto comCabo = parametros;
  comCabo.exigirCabo = true;
  // Loopback is not wired here: the attempt stays waiting and the server never hears of it.
  teste::ServidorTls servidor;
  std::vector<std::string> perguntadas;  // only on `fila`
  TransporteAsio semCaboAqui(fila, [&perguntadas](const std::string& nome) {
    perguntadas.push_back(nome);
    return false;
  });
  abrir(servidor.porta, comCabo, "127.0.0.1", &semCaboAqui);
  EXPECT_FALSE(registro->primeiroEstado(1500ms).has_value());
  EXPECT_FALSE(servidor.terminou(0ms));
  EXPECT_EQ(naFila(fila, [&] { return perguntadas; }), std::vector<std::string>{"lo"});

  TransporteAsio loCabeada(fila, [](const std::string& nome) { return nome == "lo"; });
  abrir(servidor.porta, comCabo, "127.0.0.1", &loCabeada);
  EXPECT_TRUE(pronta());
  fechar();  // while its transport is still there
}

}  // namespace
}  // namespace orbelo
