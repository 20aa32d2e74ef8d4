#include "PlacasRede.hpp"

#include <ifaddrs.h>
#include <netinet/in.h>

#include <asio/ip/udp.hpp>
#include <cstring>
#include <fstream>
#include <memory>

namespace orbelo {
namespace {

constexpr int tipoEthernet = 1;  // ARPHRD_ETHER

struct LiberarInterfaces {
  void operator()(ifaddrs* lista) const { freeifaddrs(lista); }
};

bool mesmoEndereco(const sockaddr* endereco, const asio::ip::address& procurado) {
  if (endereco == nullptr) {
    return false;
  }
  if (endereco->sa_family == AF_INET && procurado.is_v4()) {
    const auto& v4 = reinterpret_cast<const sockaddr_in*>(endereco)->sin_addr;
    const auto bytes = procurado.to_v4().to_bytes();
    return std::memcmp(&v4, bytes.data(), bytes.size()) == 0;
  }
  if (endereco->sa_family == AF_INET6 && procurado.is_v6()) {
    const auto* v6 = reinterpret_cast<const sockaddr_in6*>(endereco);
    const auto procurado6 = procurado.to_v6();
    const auto bytes = procurado6.to_bytes();
    if (std::memcmp(&v6->sin6_addr, bytes.data(), bytes.size()) != 0) {
      return false;
    }
    // The same link-local address may sit on several interfaces; the scope tells them apart.
    return !procurado6.is_link_local() || procurado6.scope_id() == 0 ||
           procurado6.scope_id() == v6->sin6_scope_id;
  }
  return false;
}

}  // namespace

bool placaCabeada(const std::string& nome, const std::filesystem::path& raiz) {
  if (nome.empty() || nome == "." || nome == ".." || nome.find('/') != std::string::npos) {
    return false;
  }
  const auto pasta = raiz / nome;
  std::error_code erro;
  if (!std::filesystem::exists(pasta / "device", erro) || std::filesystem::exists(pasta / "wireless", erro) ||
      std::filesystem::exists(pasta / "phy80211", erro)) {
    return false;
  }
  std::ifstream arquivoTipo(pasta / "type");
  int tipo = 0;
  return static_cast<bool>(arquivoTipo >> tipo) && tipo == tipoEthernet;
}

std::optional<std::string> placaDoEndereco(const asio::ip::address& local) {
  ifaddrs* lista = nullptr;
  if (getifaddrs(&lista) != 0) {
    return std::nullopt;
  }
  const std::unique_ptr<ifaddrs, LiberarInterfaces> dono(lista);
  for (const ifaddrs* item = lista; item != nullptr; item = item->ifa_next) {
    if (mesmoEndereco(item->ifa_addr, local)) {
      return std::string(item->ifa_name);
    }
  }
  return std::nullopt;
}

std::optional<std::string> placaDaRota(asio::io_context& contexto, const asio::ip::address& destino) {
  // Connecting a datagram socket only picks the route and the local address.
  asio::ip::udp::socket sonda(contexto);
  asio::error_code erro;
  sonda.open(destino.is_v4() ? asio::ip::udp::v4() : asio::ip::udp::v6(), erro);
  if (!erro) {
    sonda.connect({destino, 9}, erro);
  }
  if (erro) {
    return std::nullopt;
  }
  const auto local = sonda.local_endpoint(erro);
  if (erro) {
    return std::nullopt;
  }
  return placaDoEndereco(local.address());
}

}  // namespace orbelo
