#include <gtest/gtest.h>

#include <filesystem>

#include "apoio/Apoio.hpp"
#include "receptor/plataforma/rede/PlacasRede.hpp"

namespace orbelo {
namespace {

namespace fs = std::filesystem;

TEST(Interfaces, OnlyEthernetBackedByADeviceAndNotWirelessCountsAsWired) {
  // A stand-in for /sys/class/net: name, type, folders, wired.
  const std::vector<std::tuple<std::string, std::string, std::vector<const char*>, bool>> casos = {
      {"eth0", "1", {"device"}, true},
      {"wlan0", "1", {"device", "wireless"}, false},
      {"wlp2s0", "1", {"device", "phy80211"}, false},
      {"docker0", "1", {"bridge"}, false},  // virtual, no device
      {"ib0", "32", {"device"}, false},     // InfiniBand
  };
  const teste::PastaTemporaria sysfs;
  const auto& raiz = sysfs.caminho();
  for (const auto& [nome, tipo, pastas, cabeada] : casos) {
    teste::escrever(raiz / nome / "type", tipo + "\n");
    for (const auto* pasta : pastas) {
      fs::create_directories(raiz / nome / pasta);
    }
    EXPECT_EQ(placaCabeada(nome, raiz), cabeada) << nome;
  }
  EXPECT_FALSE(placaCabeada("naoexiste", raiz));
  // eth0 reached through a path must not be taken for an interface.
  EXPECT_FALSE(placaCabeada("../" + raiz.filename().string() + "/eth0", raiz));
  EXPECT_FALSE(placaCabeada("..", raiz / "eth0"));
  EXPECT_FALSE(placaCabeada("", raiz / "eth0"));
}

}  // namespace
}  // namespace orbelo
