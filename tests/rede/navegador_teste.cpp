#include <gtest/gtest.h>
#include <net/if.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "Pares.hpp"
#include "receptor/plataforma/rede/TransporteAsio.hpp"

namespace orbelo {
namespace {

using namespace std::chrono_literals;
using teste::naFila;

// A type of our own, so that these services never reach another test browsing for the real one.
constexpr std::string_view tipoTeste = "_orbelo-rede._tcp";

// Every result set a browser reported, in order.
class Relatos {
 public:
  void anotar(const std::vector<ResultadoBusca>& resultados) {
    {
      const std::lock_guard guarda(trava_);
      conjuntos_.push_back(resultados);
    }
    mudou_.notify_all();
  }
  // The latest set holds (or, with `presente` false, no longer holds) a service of that name.
  std::optional<ResultadoBusca> esperar(const std::string& nome, bool presente = true,
                                        std::chrono::milliseconds limite = 15s) {
    std::unique_lock guarda(trava_);
    std::optional<ResultadoBusca> achado;
    mudou_.wait_for(guarda, limite, [&] {
      achado = ultimoCom(nome);
      return achado.has_value() == presente;
    });
    return ultimoCom(nome);
  }
  bool algumCom(const std::string& nome) {
    const std::lock_guard guarda(trava_);
    return std::ranges::any_of(conjuntos_, [&](const auto& conjunto) {
      return std::ranges::any_of(conjunto, [&](const auto& resultado) { return resultado.nome == nome; });
    });
  }
  std::size_t quantos() {
    const std::lock_guard guarda(trava_);
    return conjuntos_.size();
  }

 private:
  std::optional<ResultadoBusca> ultimoCom(const std::string& nome) const {
    if (conjuntos_.empty()) return std::nullopt;
    for (const auto& resultado : conjuntos_.back()) {
      if (resultado.nome == nome) return resultado;
    }
    return std::nullopt;
  }

  std::mutex trava_;
  std::condition_variable mudou_;
  std::vector<std::vector<ResultadoBusca>> conjuntos_;
};

class NavegadorAvahi : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    const auto comando = std::string("bash ") + ORBELO_FONTE + "/scripts/servicos-teste.sh >/dev/null 2>&1";
    ASSERT_EQ(std::system(comando.c_str()), 0);
  }

  std::string nomeUnico() {
    static int contador = 0;
    return "orbelo-rede-" + std::to_string(getpid()) + "-" + std::to_string(++contador);
  }

  static std::unique_ptr<teste::Processo> publicar(const std::string& nome, std::uint16_t porta) {
    return std::make_unique<teste::Processo>(
        std::vector<std::string>{"avahi-publish", "-s", nome, std::string(tipoTeste), std::to_string(porta)},
        teste::Processo::Opcoes{});
  }

  std::shared_ptr<Navegador> navegar(Transporte& transporte, const std::shared_ptr<Relatos>& relatos,
                                     bool exigirCabo = false) {
    return naFila(fila_, [&] {
      ParametrosTls parametros;
      parametros.exigirCabo = exigirCabo;
      auto navegador = transporte.navegador(tipoTeste, parametros);
      navegador->aoMudarResultados([relatos](const auto& resultados) { relatos->anotar(resultados); });
      navegador->iniciar();
      return navegador;
    });
  }

  void cancelar(const std::shared_ptr<Navegador>& navegador) {
    naFila(fila_, [&] { navegador->cancelar(); });
  }

  FilaAsio fila_;
};

TEST_F(NavegadorAvahi, ReportsAPublishedServiceWithItsLoopbackAddressAndThenItsRemoval) {
  TransporteAsio transporte(fila_);
  auto relatos = std::make_shared<Relatos>();
  auto navegador = navegar(transporte, relatos);
  const auto nome = nomeUnico();
  auto publicacao = publicar(nome, 7420);

  const auto resultado = relatos->esperar(nome);
  ASSERT_TRUE(resultado.has_value());
  EXPECT_EQ(resultado->endereco, "127.0.0.1");
  EXPECT_EQ(resultado->porta, 7420);
  EXPECT_EQ(resultado->interfaceNome, "lo");
  EXPECT_EQ(resultado->interfaceIndice, static_cast<int>(if_nametoindex("lo")));

  publicacao->sinalizar(SIGTERM);
  EXPECT_FALSE(relatos->esperar(nome, false).has_value());
  cancelar(navegador);
}

TEST_F(NavegadorAvahi, AResultLeadsToTheServerListeningOnItsPort) {
  const auto chave = teste::chaveAleatoria();
  teste::OpcoesServidor opcoes;
  opcoes.chave = chave;
  teste::ServidorTls servidor(opcoes);
  TransporteAsio transporte(fila_);
  auto relatos = std::make_shared<Relatos>();
  auto navegador = navegar(transporte, relatos);
  const auto nome = nomeUnico();
  auto publicacao = publicar(nome, servidor.porta);
  const auto resultado = relatos->esperar(nome);
  ASSERT_TRUE(resultado.has_value());
  cancelar(navegador);

  auto registro = std::make_shared<teste::Registro>();
  auto conexao = naFila(fila_, [&] {
    auto conexao = transporte.conexao(*resultado, teste::parametrosCom(chave));
    conexao->aoMudarEstado([registro](EstadoConexao estado, const std::optional<ErroRede>& erro) {
      registro->estado(estado, erro);
    });
    conexao->iniciar();
    return conexao;
  });
  ASSERT_TRUE(registro->esperar([&] { return !registro->estados.empty(); }));
  EXPECT_EQ(registro->estados.front().first, EstadoConexao::pronta);
  EXPECT_EQ(naFila(fila_, [&] { return conexao->endpoint(); }),
            "127.0.0.1:" + std::to_string(servidor.porta));
  naFila(fila_, [&] { conexao->cancelar(); });
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
  const auto vistas = naFila(fila_, [&] { return perguntadas; });
  EXPECT_NE(std::ranges::find(vistas, "lo"), vistas.end());
}

TEST_F(NavegadorAvahi, OnceCancelledReportsNothingMore) {
  TransporteAsio transporte(fila_);
  auto testemunha = std::make_shared<Relatos>();
  auto cancelado = std::make_shared<Relatos>();
  auto navegadorTestemunha = navegar(transporte, testemunha);
  auto navegador = navegar(transporte, cancelado);
  cancelar(navegador);
  const auto nome = nomeUnico();
  auto publicacao = publicar(nome, 7420);
  EXPECT_TRUE(testemunha->esperar(nome).has_value());
  publicacao->sinalizar(SIGTERM);
  EXPECT_FALSE(testemunha->esperar(nome, false).has_value());
  cancelar(navegadorTestemunha);
  naFila(fila_, [] {});
  EXPECT_EQ(cancelado->quantos(), 0u);
}

// A D-Bus of our own where the tests decide whether an avahi-daemon runs.
class BarramentoPrivado {
 public:
  BarramentoPrivado()
      : caminho_("/tmp/orbelo-rede-barramento-" + std::to_string(getpid())),
        processo_({"dbus-daemon", "--session", "--nofork", "--address=unix:path=" + caminho_},
                  teste::Processo::Opcoes{}) {
    for (int i = 0; i < 500 && access(caminho_.c_str(), F_OK) != 0; ++i) std::this_thread::sleep_for(10ms);
  }
  ~BarramentoPrivado() { unlink(caminho_.c_str()); }

  std::string endereco() const { return "unix:path=" + caminho_; }

  // avahi-daemon on this bus, on loopback only and publishing nothing, with its runtime
  // folder in a mount namespace of its own so that it does not meet the shared daemon's.
  std::unique_ptr<teste::Processo> iniciarAvahi() const {
    const auto configuracao = "/tmp/orbelo-rede-avahi-" + std::to_string(getpid()) + ".conf";
    std::ofstream(configuracao) << "[server]\nuse-ipv4=yes\nuse-ipv6=no\nallow-interfaces=lo\n"
                                   "[wide-area]\nenable-wide-area=no\n"
                                   "[publish]\ndisable-publishing=yes\npublish-addresses=no\n"
                                   "publish-hinfo=no\npublish-workstation=no\npublish-domain=no\n";
    teste::Processo::Opcoes opcoes;
    opcoes.ambiente = {{"DBUS_SYSTEM_BUS_ADDRESS", endereco()}};
    return std::make_unique<teste::Processo>(
        std::vector<std::string>{"unshare", "--mount", "--propagation", "private", "sh", "-c",
                                 "mount -t tmpfs tmpfs /run/avahi-daemon && exec avahi-daemon --no-drop-root "
                                 "--no-rlimits --no-chroot -f " +
                                     configuracao},
        opcoes);
  }

 private:
  std::string caminho_;
  teste::Processo processo_;
};

// The browser in a process of its own, pointed at a given system bus.
std::unique_ptr<teste::Processo> navegarEm(const std::string& endereco, int milissegundos) {
  teste::Processo::Opcoes opcoes;
  opcoes.saida = true;
  opcoes.erros = true;
  opcoes.ambiente = {{"DBUS_SYSTEM_BUS_ADDRESS", endereco}};
  return std::make_unique<teste::Processo>(
      std::vector<std::string>{NAVEGADOR_AVULSO, std::string(tipoTeste), std::to_string(milissegundos)},
      opcoes);
}

// Waits for a reported set that does (or does not) name `nome`.
bool relatou(teste::Processo& navegador, const std::string& nome, bool presente,
             std::chrono::milliseconds limite = 15s) {
  const auto fim = std::chrono::steady_clock::now() + limite;
  while (const auto linha = navegador.lerLinha(
             std::chrono::duration_cast<std::chrono::milliseconds>(fim - std::chrono::steady_clock::now()))) {
    if ((linha->find(nome) != std::string::npos) == presente) return true;
  }
  return false;
}

TEST_F(NavegadorAvahi, WithoutADaemonReportsNothingAndWritesNothingToStandardError) {
  const auto nome = nomeUnico();
  auto publicacao = publicar(nome, 7420);
  BarramentoPrivado semAvahi;

  // The real bus first: the service is seen there, so silence below means the daemon was missed.
  auto comDaemon = navegarEm("unix:path=/run/dbus/system_bus_socket", 2000);
  EXPECT_TRUE(relatou(*comDaemon, nome, true));
  for (const auto& endereco : {semAvahi.endereco(), std::string("unix:path=/nonexistent/orbelo")}) {
    auto navegador = navegarEm(endereco, 2000);
    const auto saida = navegador->lerSaidaAteOFim(20s);
    const auto erros = navegador->lerErrosAteOFim(5s);
    EXPECT_EQ(navegador->esperarFim(5s), 0) << endereco;
    EXPECT_EQ(std::string(saida.begin(), saida.end()), "") << endereco;
    EXPECT_EQ(std::string(erros.begin(), erros.end()), "") << endereco;
  }
}

TEST_F(NavegadorAvahi, ADaemonThatAppearsLaterIsFoundAndOneThatRestartsIsFoundAgain) {
  const auto nome = nomeUnico();
  auto publicacao = publicar(nome, 7420);
  BarramentoPrivado barramento;
  auto navegador = navegarEm(barramento.endereco(), 60000);
  EXPECT_EQ(navegador->lerLinha(1500ms), std::nullopt);

  auto avahi = barramento.iniciarAvahi();
  EXPECT_TRUE(relatou(*navegador, nome, true));
  // The daemon dies: what it had found goes with it.
  avahi.reset();
  EXPECT_TRUE(relatou(*navegador, nome, false));
  avahi = barramento.iniciarAvahi();
  EXPECT_TRUE(relatou(*navegador, nome, true));

  avahi.reset();
  navegador->sinalizar(SIGKILL);
  const auto erros = navegador->lerErrosAteOFim(5s);
  EXPECT_EQ(std::string(erros.begin(), erros.end()), "");
}

}  // namespace
}  // namespace orbelo
