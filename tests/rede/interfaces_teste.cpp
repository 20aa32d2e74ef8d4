#include <gtest/gtest.h>
#include <unistd.h>

#include <asio/io_context.hpp>
#include <filesystem>
#include <fstream>

#include "receptor/plataforma/rede/Interfaces.hpp"

namespace orbelo {
namespace {

namespace fs = std::filesystem;

// A stand-in for /sys/class/net with the kinds of interface a desktop shows.
class RedeFalsa : public ::testing::Test {
 protected:
  void SetUp() override {
    raiz_ = fs::temp_directory_path() / ("orbelo-sysfs-" + std::to_string(getpid()));
    interface("eth0", "1", {"device"});
    interface("enx00e04c680001", "1", {"device"});  // USB Ethernet adapter
    interface("wlan0", "1", {"device", "wireless"});
    interface("wlp2s0", "1", {"device", "phy80211"});
    interface("docker0", "1", {"bridge"});  // virtual, no device
    interface("lo", "772", {});
    interface("ib0", "32", {"device"});  // InfiniBand
    interface("semtipo", "", {"device"});
  }
  void TearDown() override { fs::remove_all(raiz_); }

  void interface(const std::string& nome, const std::string& tipo,
                 std::initializer_list<const char*> pastas) {
    fs::create_directories(raiz_ / nome);
    std::ofstream(raiz_ / nome / "type") << tipo << "\n";
    for (const auto* pasta : pastas) fs::create_directories(raiz_ / nome / pasta);
  }

  fs::path raiz_;
};

TEST_F(RedeFalsa, OnlyEthernetBackedByADeviceAndNotWirelessCountsAsWired) {
  EXPECT_TRUE(interfaceCabeada("eth0", raiz_));
  EXPECT_TRUE(interfaceCabeada("enx00e04c680001", raiz_));
  EXPECT_FALSE(interfaceCabeada("wlan0", raiz_));
  EXPECT_FALSE(interfaceCabeada("wlp2s0", raiz_));
  EXPECT_FALSE(interfaceCabeada("docker0", raiz_));
  EXPECT_FALSE(interfaceCabeada("lo", raiz_));
  EXPECT_FALSE(interfaceCabeada("ib0", raiz_));
  EXPECT_FALSE(interfaceCabeada("semtipo", raiz_));
  EXPECT_FALSE(interfaceCabeada("naoexiste", raiz_));
}

TEST_F(RedeFalsa, ANameThatWouldLeaveTheFolderIsNotWired) {
  // eth0 reached through a path: must not be taken for an interface.
  EXPECT_FALSE(interfaceCabeada("../" + raiz_.filename().string() + "/eth0", raiz_));
  EXPECT_FALSE(interfaceCabeada("..", raiz_ / "eth0"));
  EXPECT_FALSE(interfaceCabeada("", raiz_ / "eth0"));
}

TEST(Interfaces, TheLoopbackAddressesAndTheRoutesToThemBelongToLo) {
  asio::io_context contexto;
  EXPECT_EQ(interfaceDoEndereco(asio::ip::make_address("127.0.0.1")), "lo");
  EXPECT_EQ(interfaceDoEndereco(asio::ip::make_address("::1")), "lo");
  EXPECT_EQ(interfaceDoEndereco(asio::ip::make_address("192.0.2.77")), std::nullopt);
  EXPECT_EQ(interfaceDaRota(contexto, asio::ip::make_address("127.0.0.1")), "lo");
  EXPECT_EQ(interfaceDaRota(contexto, asio::ip::make_address("::1")), "lo");
  EXPECT_FALSE(interfaceCabeada("lo"));
}

}  // namespace
}  // namespace orbelo
