#include <gtest/gtest.h>

#include <cstdlib>

#include "Pares.hpp"

namespace orbelo {
namespace {

using namespace std::chrono_literals;

// A type of our own, so that these services never reach another test browsing for the real one.
constexpr std::string_view tipoTeste = "_orbelo-rede._tcp";

// The stand-alone browser (the system bus address is read once per process) on a given bus.
struct NavegadorAvulso {
  NavegadorAvulso(const std::string& barramento, int milissegundos)
      : processo({"env", "DBUS_SYSTEM_BUS_ADDRESS=" + barramento, NAVEGADOR_AVULSO, std::string(tipoTeste),
                  std::to_string(milissegundos)},
                 saida, erros) {}
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

TEST(NavegadorAvahi, WithoutADaemonReportsNothingQuietlyAndFindsOneThatAppearsOrRestarts) {
  const auto servicos = std::string("bash ") + ORBELO_FONTE + "/scripts/servicos-teste.sh >/dev/null 2>&1";
  ASSERT_EQ(std::system(servicos.c_str()), 0);
  const auto nome = "orbelo-rede-" + std::to_string(getpid());
  teste::Processo publicacao({"avahi-publish", "-s", nome, std::string(tipoTeste), "7420"});
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
  navegador.processo.matar();
  EXPECT_EQ(teste::lerArquivo(navegador.erros), "");
  std::remove(configuracao.c_str());
  std::remove(caminho.c_str());
}

}  // namespace
}  // namespace orbelo
