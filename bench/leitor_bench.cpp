// The frame reader against a plain copy of the same bytes in the same chunks:
// the reader copies each payload once, so it should stay within a few times memcpy.
#include <benchmark/benchmark.h>

#include <cstring>

#include "protocolo/LeitorMensagens.hpp"

namespace {

constexpr std::size_t tamanhoQuadro = 100 * 1024;
constexpr std::size_t tamanhoPedaco = 64 * 1024;
constexpr std::size_t quantidadeQuadros = 64;

const orbelo::Bytes& fluxo() {
  static const orbelo::Bytes bytes = [] {
    orbelo::Bytes todos;
    const orbelo::Bytes payload(tamanhoQuadro, 0x5A);
    for (std::size_t i = 0; i < quantidadeQuadros; ++i) {
      const auto quadro = orbelo::Protocolo::empacotar(orbelo::TipoMensagem::quadro, payload);
      todos.insert(todos.end(), quadro.begin(), quadro.end());
    }
    return todos;
  }();
  return bytes;
}

void BM_Leitor(benchmark::State& estado) {
  const orbelo::VistaBytes bytes(fluxo());
  for (auto _ : estado) {
    orbelo::LeitorMensagens leitor;
    std::size_t mensagens = 0;
    for (std::size_t inicio = 0; inicio < bytes.size(); inicio += tamanhoPedaco) {
      auto saida = leitor.alimentar(bytes.subspan(inicio, std::min(tamanhoPedaco, bytes.size() - inicio)));
      benchmark::DoNotOptimize(saida.data());
      mensagens += saida.size();
    }
    if (mensagens != quantidadeQuadros) {
      estado.SkipWithError("frames lost");
    }
  }
  estado.SetBytesProcessed(static_cast<std::int64_t>(estado.iterations() * bytes.size()));
}
BENCHMARK(BM_Leitor);

void BM_Memcpy(benchmark::State& estado) {
  const orbelo::VistaBytes bytes(fluxo());
  orbelo::Bytes destino(bytes.size());
  for (auto _ : estado) {
    for (std::size_t inicio = 0; inicio < bytes.size(); inicio += tamanhoPedaco) {
      std::memcpy(destino.data() + inicio, bytes.data() + inicio,
                  std::min(tamanhoPedaco, bytes.size() - inicio));
    }
    benchmark::DoNotOptimize(destino.data());
    benchmark::ClobberMemory();
  }
  estado.SetBytesProcessed(static_cast<std::int64_t>(estado.iterations() * bytes.size()));
}
BENCHMARK(BM_Memcpy);

}  // namespace

BENCHMARK_MAIN();
