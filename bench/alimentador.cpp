// Writes an H.264 file to standard output in real time, one frame every 1/FPS
// seconds, as a live source would: the peer a user might run instead of the
// receiver is fed through it. Ends after QUADROS frames (looping the file), or
// when the reader goes away.
// Usage: orbelo_bench_alimentador ARQUIVO.h264 FPS QUADROS
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include "UnidadesAcesso.hpp"

namespace {

bool escreverTudo(orbelo::VistaBytes bytes) {
  while (!bytes.empty()) {
    const ssize_t escrito = write(STDOUT_FILENO, bytes.data(), bytes.size());
    if (escrito < 0 && errno == EINTR) {
      continue;
    }
    if (escrito <= 0) {
      return false;
    }
    bytes = bytes.subspan(static_cast<std::size_t>(escrito));
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fputs("Uso: orbelo_bench_alimentador ARQUIVO.h264 FPS QUADROS\n", stdout);
    return 2;
  }
  const auto fluxo = orbelo::bancada::lerFluxo(argv[1]);
  const long fps = std::strtol(argv[2], nullptr, 10);
  const long quadros = std::strtol(argv[3], nullptr, 10);
  if (!fluxo || fps <= 0 || quadros <= 0) {
    std::fputs("Arquivo, FPS ou quantidade inválidos.\n", stdout);
    return 2;
  }
  // A reader that goes away ends the feed with an error from write(), not a signal.
  std::signal(SIGPIPE, SIG_IGN);
  const auto intervalo = std::chrono::nanoseconds(std::chrono::seconds(1)) / fps;
  auto prazo = std::chrono::steady_clock::now();
  for (long i = 0; i < quadros; ++i) {
    std::this_thread::sleep_until(prazo);
    if (!escreverTudo(fluxo->unidades[static_cast<std::size_t>(i) % fluxo->unidades.size()].anexoB)) {
      return 1;
    }
    prazo += intervalo;
  }
  return 0;
}
