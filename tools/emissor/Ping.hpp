#pragma once

#include <chrono>
#include <optional>

#include "protocolo/Protocolo.hpp"

// A `ping` carries its send time, so that the `pong` that echoes it gives the round trip.
namespace orbelo::emissor::Ping {

Bytes empacotar(std::chrono::steady_clock::time_point agora);

// Round trip of a `pong` payload; none when it is not one of our pings.
std::optional<std::chrono::nanoseconds> idaEVolta(VistaBytes pong,
                                                  std::chrono::steady_clock::time_point agora);

}  // namespace orbelo::emissor::Ping
