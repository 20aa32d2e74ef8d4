#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace orbelo::hostil {

// What the kernel says about a running process, from /proc.
struct Memoria {
  long rssKib = 0;    // resident now
  long picoKib = 0;   // highest resident so far
  long dadosKib = 0;  // data and heap mappings, touched or not
};
Memoria memoria(pid_t processo);

// Open file descriptors.
int descritores(pid_t processo);

// The process's TCP and UDP sockets as "tcp 0100007F:1CFC 0A" (protocol, local address,
// state in hex, 0A being LISTEN), matched through the socket inodes of its descriptors.
std::vector<std::string> soquetes(pid_t processo);

}  // namespace orbelo::hostil
