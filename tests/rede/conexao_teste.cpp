// The receiver's TLS context, and its connection against openssl s_server on loopback.
#include <gtest/gtest.h>
#include <openssl/ssl.h>

#include <algorithm>
#include <asio/ip/tcp.hpp>
#include <cerrno>
#include <cstring>
#include <future>
#include <random>

#include "apoio/Apoio.hpp"
#include "protocolo/Pareamento.hpp"
#include "receptor/plataforma/rede/ContextoTls.hpp"
#include "receptor/plataforma/rede/TransporteAsio.hpp"

namespace orbelo::teste {
namespace {

TEST(ConfigurarContexto, OffersExactlyTheThreeSuitesInOrderEvenOnAStricterSystem) {
  // The context reads its key from the parameters during each handshake: they outlive it.
  const auto parametros = Pareamento::parametros(std::string(codigoTeste));
  const std::unique_ptr<SSL_CTX, decltype(&SSL_CTX_free)> contexto(SSL_CTX_new(TLS_client_method()),
                                                                   SSL_CTX_free);
  // The lowest level above the default, already enough to drop the suite without forward secrecy.
  SSL_CTX_set_security_level(contexto.get(), 3);
  ASSERT_EQ(configurarContexto(contexto.get(), parametros), std::nullopt);
  const std::unique_ptr<SSL, decltype(&SSL_free)> ssl(SSL_new(contexto.get()), SSL_free);
  STACK_OF(SSL_CIPHER)* lista = SSL_get1_supported_ciphers(ssl.get());
  std::vector<std::uint32_t> oferecidas;
  for (int i = 0; i < sk_SSL_CIPHER_num(lista); ++i) {
    oferecidas.push_back(SSL_CIPHER_get_protocol_id(sk_SSL_CIPHER_value(lista, i)));
  }
  sk_SSL_CIPHER_free(lista);
  EXPECT_EQ(oferecidas, (std::vector<std::uint32_t>{0xCCAC, 0xC035, 0x00A8}));
}

std::uint16_t portaLivre() {
  asio::io_context contexto;
  return asio::ip::tcp::acceptor(contexto, {asio::ip::make_address("127.0.0.1"), 0}).local_endpoint().port();
}

struct OpcoesServidor {
  std::string codigo{codigoTeste};
  std::string suite{Pareamento::suites[0].nomeOpenssl};
  std::string versao = "-tls1_2";
  std::string endereco = "127.0.0.1";
  std::uint16_t porta = portaLivre();

  // Where the server puts what it receives.
  std::string arquivo() const { return "/tmp/orbelo-s_server-" + std::to_string(porta); }
};

// openssl s_server for one connection, keyed by `codigo` as the sender keys it. What the client
// sends goes to a file, so the server never waits on a full pipe.
struct ServidorTls : OpcoesServidor, Processo {
  explicit ServidorTls(const OpcoesServidor& o = {})
      : OpcoesServidor(o),
        Processo({"sh", "-c",
                  "exec openssl s_server -quiet -nocert -psk " + chaveHex(codigo) +
                      " -psk_identity varovia " + versao + " -accept '" + endereco + ":" +
                      std::to_string(porta) + "' -naccept 1 " +
                      (versao == "-tls1_3" ? "-ciphersuites " : "-cipher ") + suite + " >" + arquivo()}) {
    EXPECT_TRUE(esperar([this] {
      return std::ranges::any_of(soquetes(id()), [](const std::string& s) { return s.ends_with(" 0A"); });
    })) << "s_server is not listening";
  }
  ~ServidorTls() override { std::filesystem::remove(arquivo()); }
};

Bytes bytesAleatorios(std::size_t quantos) {
  std::mt19937 gerador(static_cast<unsigned>(quantos));
  Bytes dados(quantos);
  std::ranges::generate(dados, [&] { return static_cast<std::uint8_t>(gerador()); });
  return dados;
}

// Runs `tarefa` on `fila` and waits for it.
template <typename F>
auto naFila(Executor& fila, F tarefa) {
  std::packaged_task<decltype(tarefa())()> pacote(std::move(tarefa));
  auto futuro = pacote.get_future();
  fila.executar([&pacote] { pacote(); });
  return futuro.get();
}

// What a connection reported; touched only on its `fila`, so the test reads it through `naFila`.
struct Registro {
  std::vector<EstadoConexao> estados;
  std::optional<ErroRede> erroEstado;
  Bytes bytes;
  std::size_t recepcoes = 0, maiorEntrega = 0;

  void recebido(VistaBytes dados, bool, const std::optional<ErroRede>&) {
    bytes.insert(bytes.end(), dados.begin(), dados.end());
    ++recepcoes;
    maiorEntrega = std::max(maiorEntrega, dados.size());
  }
};

class ConexaoTls : public ::testing::Test {
 protected:
  ConexaoTls() { parametros.exigirCabo = true; }
  ~ConexaoTls() override { fechar(); }

  // Makes a connection and starts it; `antes` runs on `fila` right after the start.
  void abrir(
      std::uint16_t porta, const std::string& host = "127.0.0.1",
      const std::function<void()>& antes = [] {}) {
    fechar();
    registro = std::make_shared<Registro>();
    naFila(fila, [&] {
      conexao = transporte.conexao(host, porta, parametros);
      conexao->aoMudarEstado(
          [registro = registro](EstadoConexao estado, const std::optional<ErroRede>& erro) {
            registro->estados.push_back(estado);
            registro->erroEstado = registro->erroEstado ? registro->erroEstado : erro;
          });
      conexao->iniciar();
      antes();
    });
  }
  void fechar() {
    if (conexao) {
      naFila(fila, [this] { conexao->cancelar(); });
    }
  }
  // The first state reported, once there is one.
  std::optional<EstadoConexao> primeiroEstado(std::chrono::milliseconds limite = 10s) {
    esperar([&] { return naFila(fila, [this] { return !registro->estados.empty(); }); }, limite);
    return naFila(fila, [this] {
      return registro->estados.empty() ? std::nullopt : std::optional(registro->estados.front());
    });
  }
  bool pronta() { return primeiroEstado() == EstadoConexao::pronta; }
  ErroRede falha() {
    EXPECT_EQ(primeiroEstado(), EstadoConexao::falhou);
    return naFila(fila, [this] { return registro->erroEstado.value_or(ErroRede{}); });
  }
  // Keeps one receive pending, recording into `registro`, until the stream ends.
  void receberSempre(std::size_t maximo = 1024 * 1024) {
    conexao->receber(1, maximo,
                     [this, registro = registro, maximo](VistaBytes dados, bool completo,
                                                         const std::optional<ErroRede>& erro) {
                       registro->recebido(dados, completo, erro);
                       if (!completo && !erro) {
                         receberSempre(maximo);
                       }
                     });
  }
  // Whatever the connection is still to report has been reported (or dropped) once this returns.
  void assentar(std::chrono::milliseconds espera) {
    std::this_thread::sleep_for(espera);
    naFila(fila, [] {});
  }

  FilaAsio fila;
  // Every dial asks for a wired interface, and loopback is the one the transport takes for wired:
  // the test is asked about the interface the route goes through.
  std::string cabo = "lo";
  TransporteAsio transporte{fila, [this](const std::string& nome) { return nome == cabo; }};
  std::shared_ptr<Registro> registro;
  std::shared_ptr<Conexao> conexao;
  ParametrosTls parametros = Pareamento::parametros(std::string(codigoTeste));
};

// Each suite over another way to the server: by name, over IPv6, by address.
TEST_F(ConexaoTls, EachSuiteBecomesReadyByNameOverIpv6OrByAddressAndCarriesAMebibyteEachWayIntactAndInOrder) {
  const std::array<std::tuple<const char*, const char*, const char*>, 3> destinos{
      {{"127.0.0.1", "localhost", "127.0.0.1:"},
       {"[::1]", "::1", "[::1]:"},
       {"127.0.0.1", "127.0.0.1", "127.0.0.1:"}}};
  const auto paraOCliente = bytesAleatorios(1024 * 1024 + 12345);
  const auto doCliente = bytesAleatorios(1024 * 1024 + 54321);
  for (std::size_t i = 0; i < destinos.size(); ++i) {
    const auto& [endereco, host, esperado] = destinos.at(i);
    const auto& suite = Pareamento::suites.at(i);
    ServidorTls servidor({.suite = std::string(suite.nomeOpenssl), .endereco = endereco});
    // The first receive and the first messages go in before the handshake is over.
    abrir(servidor.porta, host, [&] {
      receberSempre(4096);
      for (std::size_t inicio = 0, tamanho; inicio < doCliente.size(); inicio += tamanho) {
        tamanho = std::min<std::size_t>(1 + (inicio * 7919) % 70000, doCliente.size() - inicio);
        conexao->enviar(Bytes(doCliente.begin() + inicio, doCliente.begin() + inicio + tamanho));
      }
    });
    ASSERT_TRUE(pronta()) << host;
    const auto descricao = [this] {
      return conexao->endpoint() + " " + conexao->nomeInterface().value_or("?") + " " +
             Pareamento::suiteNegociada(conexao->suiteNegociada());
    };
    EXPECT_EQ(naFila(fila, descricao),
              esperado + std::to_string(servidor.porta) + " lo " + std::string(suite.nomeImpresso));
    // The client reads all along, so the server always gets its stdin through.
    servidor.escrever(paraOCliente);
    esperar([&] { return lerArquivo(servidor.arquivo()).size() >= doCliente.size(); }, 30s);
    EXPECT_TRUE(esperar(
        [&] { return naFila(fila, [&] { return registro->bytes.size() >= paraOCliente.size(); }); }, 30s));
    fechar();
    EXPECT_TRUE(lerArquivo(servidor.arquivo()) == doCliente)
        << lerArquivo(servidor.arquivo()).size() << " bytes";
    EXPECT_TRUE(registro->bytes == paraOCliente) << registro->bytes.size() << " bytes at the client";
    EXPECT_LE(registro->maiorEntrega, 4096u);
    EXPECT_EQ(registro->estados.size(), 1u);
  }
}

TEST_F(ConexaoTls,
       AnotherCodeOrVersionAClosedPortAHangUpAndNoKnownSuiteEachFailTheirOwnWayAndAnUnwiredRouteWaits) {
  // TLS 1.1 would still take the CBC suite, which Debian's default level keeps from s_server.
  const std::string cbc = "ECDHE-PSK-AES128-CBC-SHA:@SECLEVEL=0";
  for (const auto& opcoes :
       {OpcoesServidor{.codigo = "654321"}, OpcoesServidor{.suite = cbc, .versao = "-tls1_1"},
        OpcoesServidor{.suite = "TLS_AES_128_GCM_SHA256", .versao = "-tls1_3"}}) {
    ServidorTls servidor(opcoes);
    abrir(servidor.porta);
    const auto erro = falha();
    EXPECT_TRUE(Pareamento::ehErroDeCodigo(erro) && !erro.texto.empty())
        << opcoes.versao << ": " << erro.texto;
  }
  abrir(portaLivre());
  const auto erro = falha();
  EXPECT_EQ(erro.tipo, ErroRede::Tipo::posix);
  EXPECT_EQ(erro.texto, std::strerror(ECONNREFUSED));

  // No alert came, so nothing says the code was wrong: a sender going away mid-handshake
  // must not cost the user a remembered code.
  asio::io_context contexto;
  asio::ip::tcp::acceptor ouvinte(contexto, {asio::ip::make_address("127.0.0.1"), 0});
  std::thread atender([&] { ouvinte.accept().close(); });
  abrir(ouvinte.local_endpoint().port());
  atender.join();
  EXPECT_FALSE(Pareamento::ehErroDeCodigo(falha()));

  // Off a wired interface a wired dial neither fails nor goes out: it waits, and no server hears of it.
  cabo = "eth0";
  ServidorTls servidor;
  abrir(servidor.porta);
  EXPECT_FALSE(primeiroEstado(1500ms).has_value());
  EXPECT_FALSE(servidor.esperarFim(0ms));

  // A list with nothing OpenSSL knows fails at once rather than fall back to its defaults.
  parametros.suites = {0x1301, 0x002F};
  abrir(portaLivre());
  EXPECT_TRUE(falha().texto.ends_with("no cipher match"));
}

TEST_F(ConexaoTls, NoCallbackRunsOnceCancelled) {
  // Cancelled from inside its own ready handler, with a receive pending. The server sees
  // the close and ends; whatever was in flight has landed by then.
  ServidorTls servidor;
  abrir(servidor.porta, "127.0.0.1", [&] {
    conexao->aoMudarEstado([this, registro = registro](EstadoConexao estado, const std::optional<ErroRede>&) {
      registro->estados.push_back(estado);
      conexao->cancelar();
    });
    receberSempre();
  });
  ASSERT_TRUE(pronta());
  EXPECT_TRUE(servidor.esperarFim(10s));
  assentar(200ms);
  EXPECT_EQ(registro->estados.size(), 1u);
  EXPECT_EQ(registro->recepcoes, 0u);

  // Cancelled from inside a receive completion while more data streams in: that one is the last.
  ServidorTls fluindo;
  abrir(fluindo.porta);
  ASSERT_TRUE(pronta());
  naFila(fila, [&] {
    conexao->receber(1, 1000, [this](VistaBytes dados, bool completo, const std::optional<ErroRede>& erro) {
      registro->recebido(dados, completo, erro);
      conexao->cancelar();
    });
    conexao->receber(1, 1000, std::bind_front(&Registro::recebido, registro));
  });
  // Less than a pipe holds, so the write is done before the server can end.
  fluindo.escrever(bytesAleatorios(60000));
  EXPECT_TRUE(fluindo.esperarFim(10s));
  assentar(200ms);
  EXPECT_EQ(registro->recepcoes, 1u);

  // Cancelled in the task that started it, so the refusal of a closed port cannot win: nothing is reported.
  abrir(portaLivre(), "127.0.0.1", [&] {
    receberSempre();
    conexao->cancelar();
  });
  assentar(500ms);
  EXPECT_TRUE(registro->estados.empty());
  EXPECT_EQ(registro->recepcoes, 0u);
}

}  // namespace
}  // namespace orbelo::teste
