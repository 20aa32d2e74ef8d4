// The decode-only floor: every frame of an H.264 file through the receiver's own
// decoder set-up and nothing else, one frame every 1/FPS seconds as the sender
// paces them (so that the decoder sleeps between frames as it does in the
// receiver), or back to back when FPS is 0. Prints the frames decoded and the
// process's CPU time (user + system, every thread) per frame.
// Usage: orbelo_bench_piso ARQUIVO.h264 FPS
#include <sys/resource.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include "UnidadesAcesso.hpp"
#include "receptor/plataforma/video/DecodificadorH264.hpp"

namespace {

double segundosCpu() {
  rusage uso{};
  getrusage(RUSAGE_SELF, &uso);
  auto segundos = [](const timeval& t) { return double(t.tv_sec) + double(t.tv_usec) / 1e6; };
  return segundos(uso.ru_utime) + segundos(uso.ru_stime);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::puts("Uso: orbelo_bench_piso ARQUIVO.h264 FPS");
    return 2;
  }
  const auto fluxo = orbelo::bancada::lerFluxo(argv[1]);
  const long fps = std::strtol(argv[2], nullptr, 10);
  if (!fluxo || fps < 0) {
    std::printf("Arquivo H.264 ilegível ou FPS inválido: %s %s\n", argv[1], argv[2]);
    return 2;
  }
  orbelo::DecodificadorH264 decodificador;
  orbelo::Quadro quadro(av_frame_alloc());
  // Opening the decoder is start-up, left out as it is for the receiver.
  if (decodificador.prepararPara(fluxo->formato) != 0) {
    std::puts("O decodificador não abriu.");
    return 1;
  }
  const auto intervalo =
      fps > 0 ? std::chrono::nanoseconds(std::chrono::seconds(1)) / fps : std::chrono::nanoseconds(0);
  auto prazo = std::chrono::steady_clock::now();
  const double inicio = segundosCpu();
  std::int64_t decodificados = 0;
  for (const auto& unidade : fluxo->unidades) {
    std::this_thread::sleep_until(prazo);
    prazo += intervalo;
    if (decodificador.enviar(unidade.comprimentos, decodificados) != 0) {
      continue;
    }
    while (decodificador.receber(*quadro) == 0) {
      ++decodificados;
      av_frame_unref(quadro.get());
    }
  }
  const double cpu = segundosCpu() - inicio;
  std::printf("quadros %lld cpu_s %.4f por_quadro_ms %.4f\n", static_cast<long long>(decodificados), cpu,
              decodificados > 0 ? cpu * 1e3 / double(decodificados) : 0.0);
  return decodificados > 0 ? 0 : 1;
}
