#include "MedicaoQuadros.hpp"

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

namespace orbelo {

namespace {

constexpr const char* variavelAmbiente = "ORBELO_MEDIR";
constexpr const char* cabecalho =
    "quadro,chegada_ns,inicio_decodificacao_ns,fim_decodificacao_ns,apresentado_ns\n";

long long nanossegundos(MedicaoQuadros::Instante instante) {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(instante.time_since_epoch()).count();
}

struct FecharArquivo {
  void operator()(std::FILE* arquivo) const { std::fclose(arquivo); }
};

}  // namespace

MedicaoQuadros* MedicaoQuadros::doProcesso() {
  static const std::unique_ptr<MedicaoQuadros> medicao = []() -> std::unique_ptr<MedicaoQuadros> {
    const char* caminho = std::getenv(variavelAmbiente);
    if (caminho == nullptr || *caminho == '\0') {
      return nullptr;
    }
    return std::make_unique<MedicaoQuadros>(caminho);
  }();
  return medicao.get();
}

MedicaoQuadros::MedicaoQuadros(std::filesystem::path arquivo, std::size_t limite)
    : arquivo(std::move(arquivo)), limite(limite) {}

void MedicaoQuadros::decodificado(std::uint64_t numero, Instante chegada, Instante inicio, Instante fim) {
  std::lock_guard guarda(trava);
  if (numero >= limite) {
    return;
  }
  if (numero >= linhas.size()) {
    linhas.resize(numero + 1);
  }
  Linha& linha = linhas[numero];
  linha.decodificado = true;
  linha.chegada = chegada;
  linha.inicio = inicio;
  linha.fim = fim;
}

void MedicaoQuadros::apresentado(std::uint64_t numero, Instante quando) {
  std::lock_guard guarda(trava);
  // Only the first time counts: the same picture is drawn again for pointer moves.
  if (numero < linhas.size() && linhas[numero].apresentado == Instante{}) {
    linhas[numero].apresentado = quando;
  }
}

bool MedicaoQuadros::gravar() const {
  std::unique_ptr<std::FILE, FecharArquivo> saida(std::fopen(arquivo.c_str(), "w"));
  if (!saida) {
    return false;
  }
  std::lock_guard guarda(trava);
  bool certo = std::fputs(cabecalho, saida.get()) >= 0;
  for (std::size_t numero = 0; numero < linhas.size() && certo; ++numero) {
    const Linha& linha = linhas[numero];
    if (!linha.decodificado) {
      continue;
    }
    const std::string apresentado =
        linha.apresentado == Instante{} ? std::string() : std::to_string(nanossegundos(linha.apresentado));
    certo = std::fprintf(saida.get(), "%zu,%lld,%lld,%lld,%s\n", numero, nanossegundos(linha.chegada),
                         nanossegundos(linha.inicio), nanossegundos(linha.fim), apresentado.c_str()) > 0;
  }
  return std::fclose(saida.release()) == 0 && certo;
}

}  // namespace orbelo
