#include <gtest/gtest.h>
#include <net/if.h>

#include <algorithm>
#include <cstdlib>

#include "Pares.hpp"
#include "receptor/plataforma/rede/TransporteAsio.hpp"

namespace orbelo {
namespace {

using namespace std::chrono_literals;
using teste::naFila;

// A type of our own, so that these services never reach another test browsing for the real one.
constexpr std::string_view tipoTeste = "_orbelo-rede._tcp";

// Every result set a browser reported, in order.
struct Relatos {
  std::mutex trava;
  std::vector<std::vector<ResultadoBusca>> conjuntos;

  std::optional<ResultadoBusca> ultimoCom(const std::string& nome) {
    const std::lock_guard guarda(trava);
    if (conjuntos.empty()) return std::nullopt;
    const auto achado = std::ranges::find(conjuntos.back(), nome, &ResultadoBusca::nome);
    return achado == conjuntos.back().end() ? std::nullopt : std::optional(*achado);
  }
  // Waits until the latest set holds (or, with `presente` false, no longer holds) that name.
  std::optional<ResultadoBusca> esperar(const std::string& nome, bool presente = true) {
    teste::esperar([&] { return ultimoCom(nome).has_value() == presente; }, 15s);
    return ultimoCom(nome);
  }
  bool algumCom(const std::string& nome) {
    const std::lock_guard guarda(trava);
    return std::ranges::any_of(conjuntos, [&](const auto& conjunto) {
      return std::ranges::find(conjunto, nome, &ResultadoBusca::nome) != conjunto.end();
    });
  }
};

std::string nomeUnico() {
  static int contador = 0;
  return "orbelo-rede-" + std::to_string(getpid()) + "-" + std::to_string(++contador);
}

std::unique_ptr<teste::Processo> publicar(const std::string& nome, std::uint16_t porta) {
  return std::make_unique<teste::Processo>(
      std::vector<std::string>{"avahi-publish", "-s", nome, std::string(tipoTeste), std::to_string(porta)});
}

class NavegadorAvahi : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    const auto comando = std::string("bash ") + ORBELO_FONTE + "/scripts/servicos-teste.sh >/dev/null 2>&1";
    ASSERT_EQ(std::system(comando.c_str()), 0);
  }

  std::shared_ptr<Navegador> navegar(Transporte& transporte, const std::shared_ptr<Relatos>& relatos,
                                     bool exigirCabo = false) {
    return naFila(fila_, [&] {
      ParametrosTls parametros;
      parametros.exigirCabo = exigirCabo;
      auto navegador = transporte.navegador(tipoTeste, parametros);
      navegador->aoMudarResultados([relatos](const auto& resultados) {
        const std::lock_guard guarda(relatos->trava);
        relatos->conjuntos.push_back(resultados);
      });
      navegador->iniciar();
      return navegador;
    });
  }
  void cancelar(const std::shared_ptr<Navegador>& navegador) {
    naFila(fila_, [&] { navegador->cancelar(); });
  }

  FilaAsio fila_;
};

TEST_F(NavegadorAvahi, ReportsAServiceOnLoopbackThatLeadsToItsServerThenItsRemovalAndNothingOnceCancelled) {
  teste::ServidorTls servidor;
  TransporteAsio transporte(fila_);
  auto relatos = std::make_shared<Relatos>();
  auto cancelado = std::make_shared<Relatos>();
  auto navegador = navegar(transporte, relatos);
  cancelar(navegar(transporte, cancelado));
  const auto nome = nomeUnico();
  auto publicacao = publicar(nome, servidor.porta);

  const auto resultado = relatos->esperar(nome);
  ASSERT_TRUE(resultado.has_value());
  EXPECT_EQ(resultado->endereco, "127.0.0.1");
  EXPECT_EQ(resultado->porta, servidor.porta);
  EXPECT_EQ(resultado->interfaceNome, "lo");
  EXPECT_EQ(resultado->interfaceIndice, static_cast<int>(if_nametoindex("lo")));

  auto registro = std::make_shared<teste::Registro>();
  auto conexao = naFila(fila_, [&] {
    auto conexao = transporte.conexao(*resultado, Pareamento::parametros("123456"));
    conexao->aoMudarEstado(registro->anotarEstado());
    conexao->iniciar();
    return conexao;
  });
  const auto estado = registro->primeiroEstado();
  EXPECT_TRUE(estado && estado->first == EstadoConexao::pronta);
  EXPECT_EQ(naFila(fila_, [&] { return conexao->endpoint(); }), "127.0.0.1:" + std::to_string(servidor.porta));
  naFila(fila_, [&] { conexao->cancelar(); });

  publicacao->sinalizar(SIGTERM);
  EXPECT_FALSE(relatos->esperar(nome, false).has_value());
  cancelar(navegador);
  EXPECT_TRUE(cancelado->conjuntos.empty());
}

TEST_F(NavegadorAvahi, AWiredBrowseReportsOnlyWhatIsSeenOnWiredInterfaces) {
  std::vector<std::string> perguntadas;  // only on `fila_`
  TransporteAsio semCabo(fila_, [&perguntadas](const std::string& nome) {
    perguntadas.push_back(nome);
    return false;
  });
  TransporteAsio comCabo(fila_, [](const std::string& nome) { return nome == "lo"; });
  auto nenhum = std::make_shared<Relatos>();
  auto todos = std::make_shared<Relatos>();
  auto navegadorSemCabo = navegar(semCabo, nenhum, true);
  auto navegadorComCabo = navegar(comCabo, todos, true);
  const auto nome = nomeUnico();
  auto publicacao = publicar(nome, 7420);

  EXPECT_TRUE(todos->esperar(nome).has_value());
  // Give the other browser as long again to (wrongly) report it.
  std::this_thread::sleep_for(1s);
  cancelar(navegadorSemCabo);
  cancelar(navegadorComCabo);
  EXPECT_FALSE(nenhum->algumCom(nome));
  EXPECT_EQ(naFila(fila_, [&] { return std::ranges::count(perguntadas, "lo") > 0; }), true);
}

// The stand-alone browser (the system bus address is read once per process) on a given bus,
// printing each result set as one line.
struct NavegadorAvulso {
  NavegadorAvulso(const std::string& barramento, int milissegundos)
      : processo({"env", "DBUS_SYSTEM_BUS_ADDRESS=" + barramento, NAVEGADOR_AVULSO, std::string(tipoTeste),
                  std::to_string(milissegundos)},
                 false, saida, erros) {}
  ~NavegadorAvulso() {
    std::remove(saida.c_str());
    std::remove(erros.c_str());
  }
  // Waits for a further line that names (or does not name) `nome`.
  bool relatou(const std::string& nome, bool presente) {
    return teste::esperar(
        [&] {
          const auto texto = teste::lerArquivo(saida);
          for (std::size_t fim; (fim = texto.find('\n', lido)) != std::string::npos;) {
            const bool nomeia = texto.substr(lido, fim - lido).find(nome) != std::string::npos;
            lido = fim + 1;
            if (nomeia == presente) return true;
          }
          return false;
        },
        15s);
  }
  std::string saida = teste::arquivoTemporario("saida"), erros = teste::arquivoTemporario("erros");
  std::size_t lido = 0;
  teste::Processo processo;
};

TEST_F(NavegadorAvahi, WithoutADaemonReportsNothingQuietlyAndFindsOneThatAppearsOrRestarts) {
  const auto nome = nomeUnico();
  auto publicacao = publicar(nome, 7420);
  // A D-Bus of our own where the test decides whether an avahi-daemon runs.
  const auto caminho = teste::arquivoTemporario("barramento");
  const auto barramento = "unix:path=" + caminho;
  teste::Processo dbus({"dbus-daemon", "--session", "--nofork", "--address=" + barramento});
  ASSERT_TRUE(teste::esperar([&] { return access(caminho.c_str(), F_OK) == 0; }));
  // On loopback only and publishing nothing, with its runtime folder in a mount namespace of
  // its own so that it does not meet the shared daemon's.
  const auto configuracao = teste::arquivoTemporario("avahi.conf");
  std::ofstream(configuracao) << "[server]\nuse-ipv4=yes\nuse-ipv6=no\nallow-interfaces=lo\n"
                                 "[wide-area]\nenable-wide-area=no\n"
                                 "[publish]\ndisable-publishing=yes\npublish-addresses=no\n"
                                 "publish-hinfo=no\npublish-workstation=no\npublish-domain=no\n";
  const auto iniciarAvahi = [&] {
    return std::make_unique<teste::Processo>(std::vector<std::string>{
        "env", "DBUS_SYSTEM_BUS_ADDRESS=" + barramento, "unshare", "--mount", "--propagation", "private", "sh",
        "-c",
        "mount -t tmpfs tmpfs /run/avahi-daemon && exec avahi-daemon --no-drop-root --no-rlimits --no-chroot -f " +
            configuracao});
  };

  NavegadorAvulso semBarramento("unix:path=/nonexistent/orbelo", 2000);
  EXPECT_EQ(semBarramento.processo.esperarFim(20s), 0);
  EXPECT_EQ(teste::lerArquivo(semBarramento.saida) + teste::lerArquivo(semBarramento.erros), "");

  NavegadorAvulso navegador(barramento, 60000);
  std::this_thread::sleep_for(1500ms);
  EXPECT_EQ(teste::lerArquivo(navegador.saida), "");
  auto avahi = iniciarAvahi();
  EXPECT_TRUE(navegador.relatou(nome, true));
  // The daemon dies: what it had found goes with it.
  avahi.reset();
  EXPECT_TRUE(navegador.relatou(nome, false));
  avahi = iniciarAvahi();
  EXPECT_TRUE(navegador.relatou(nome, true));
  avahi.reset();
  navegador.processo.sinalizar(SIGKILL);
  navegador.processo.esperarFim(5s);
  EXPECT_EQ(teste::lerArquivo(navegador.erros), "");
  std::remove(configuracao.c_str());
  std::remove(caminho.c_str());
}

}  // namespace
}  // namespace orbelo
