#include <gtest/gtest.h>
#include <signal.h>

#include "apoio/Apoio.hpp"

namespace orbelo::teste {
namespace {

// A type of our own, so that these services never reach another test browsing for the real one.
constexpr std::string_view tipoTeste = "_orbelo-rede._tcp";

// The stand-alone browser on the bus at `barramento`, for `milissegundos`.
struct NavegadorAvulso : Processo {
  NavegadorAvulso(const std::string& barramento, int milissegundos)
      : Processo({"env", "DBUS_SYSTEM_BUS_ADDRESS=" + barramento, NAVEGADOR_AVULSO, std::string(tipoTeste),
                  std::to_string(milissegundos)}) {}
  // Waits for a further result set that names (or does not name) `nome`.
  bool relatou(const std::string& nome, bool presente) {
    while (const auto linha = esperarLinha("", 15s)) {
      if (linha->starts_with("-") && (linha->find(nome) != std::string::npos) == presente) {
        return true;
      }
    }
    return false;
  }
};

TEST(NavegadorAvahi, WithoutADaemonSaysSoEachTimeAndFindsOneThatAppearsOrRestarts) {
  prepararServicos();
  const auto nome = "orbelo-rede-" + std::to_string(getpid());
  Processo publicacao({"avahi-publish", "-s", nome, std::string(tipoTeste), "7420"});
  // A D-Bus of our own where the test decides whether an avahi-daemon runs.
  const PastaTemporaria pasta;
  const auto barramento = "unix:path=" + (pasta / "barramento").string();
  Processo dbus({"dbus-daemon", "--session", "--nofork", "--address=" + barramento});
  ASSERT_TRUE(esperar([&] { return std::filesystem::exists(pasta / "barramento"); }));
  // On loopback only and publishing nothing, with its runtime folder in a mount namespace of
  // its own so that it does not meet the shared daemon's.
  escrever(pasta / "avahi.conf",
           "[server]\nuse-ipv4=yes\nuse-ipv6=no\nallow-interfaces=lo\n[wide-area]\nenable-wide-area=no\n"
           "[publish]\ndisable-publishing=yes\n");
  const auto iniciarAvahi = [&] {
    return std::make_unique<Processo>(
        std::vector<std::string>{"env", "DBUS_SYSTEM_BUS_ADDRESS=" + barramento, "unshare", "--mount",
                                 "--propagation", "private", "sh", "-c",
                                 "mount -t tmpfs tmpfs /run/avahi-daemon && exec avahi-daemon --no-drop-root "
                                 "--no-rlimits --no-chroot -f " +
                                     (pasta / "avahi.conf").string()});
  };

  NavegadorAvulso semBarramento("unix:path=/nonexistent/orbelo", 2000);
  EXPECT_EQ(semBarramento.esperarFim(20s), 0);
  EXPECT_EQ(semBarramento.esperarLinha("", 1s), "sem serviço");
  EXPECT_FALSE(semBarramento.esperarLinha("", 1s));
  EXPECT_EQ(semBarramento.erros(), "");

  NavegadorAvulso navegador(barramento, 60000);
  EXPECT_EQ(navegador.esperarLinha("", 1500ms), "sem serviço");
  auto avahi = iniciarAvahi();
  EXPECT_TRUE(navegador.relatou(nome, true));
  // The daemon dies: what it had found goes with it.
  kill(avahi->id(), SIGKILL);
  avahi.reset();
  EXPECT_TRUE(navegador.relatou(nome, false));
  EXPECT_EQ(navegador.esperarLinha("", 15s), "sem serviço");
  avahi = iniciarAvahi();
  EXPECT_TRUE(navegador.relatou(nome, true));
  EXPECT_EQ(navegador.erros(), "");
}

}  // namespace
}  // namespace orbelo::teste
