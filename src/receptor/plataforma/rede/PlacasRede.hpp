#pragma once

#include <asio/io_context.hpp>
#include <asio/ip/address.hpp>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>

namespace orbelo {

// Says whether an interface, by name, is a wired one.
using EhCabo = std::function<bool(const std::string& interfaceNome)>;

// Ethernet (type 1) backed by a device and not wireless, as the kernel lists it under `raiz`.
bool placaCabeada(const std::string& nome, const std::filesystem::path& raiz = "/sys/class/net");

// Name of the interface that holds a local address.
std::optional<std::string> placaDoEndereco(const asio::ip::address& local);

// Name of the interface the route to `destino` leaves by; nothing is sent.
std::optional<std::string> placaDaRota(asio::io_context& contexto, const asio::ip::address& destino);

}  // namespace orbelo
