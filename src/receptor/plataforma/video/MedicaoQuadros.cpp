#include "MedicaoQuadros.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace orbelo {

namespace {

constexpr const char* variavelAmbiente = "ORBELO_MEDIR";
constexpr const char* cabecalho =
    "quadro,chegada_ns,inicio_decodificacao_ns,fim_decodificacao_ns,apresentado_ns\n";

long long nanossegundos(MedicaoQuadros::Instante instante) {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(instante.time_since_epoch()).count();
}

double milissegundos(std::chrono::steady_clock::duration duracao) {
  return std::chrono::duration<double, std::milli>(duracao).count();
}

// The nearest-rank percentile; none of nothing.
std::optional<double> percentil(std::vector<double>& valores, double fracao) {
  if (valores.empty()) {
    return std::nullopt;
  }
  const auto posicao = static_cast<std::size_t>(std::ceil(fracao * static_cast<double>(valores.size()))) - 1;
  const auto alvo = valores.begin() + static_cast<std::ptrdiff_t>(std::min(posicao, valores.size() - 1));
  std::nth_element(valores.begin(), alvo, valores.end());
  return *alvo;
}

struct FecharArquivo {
  void operator()(std::FILE* arquivo) const { std::fclose(arquivo); }
};

}  // namespace

MedicaoQuadros* MedicaoQuadros::doProcesso() {
  static const std::unique_ptr<MedicaoQuadros> medicao = []() -> std::unique_ptr<MedicaoQuadros> {
    const char* caminho = std::getenv(variavelAmbiente);
    return std::make_unique<MedicaoQuadros>(caminho == nullptr ? "" : caminho);
  }();
  return medicao.get();
}

MedicaoQuadros::MedicaoQuadros(std::filesystem::path arquivo, std::size_t limite)
    : arquivo(std::move(arquivo)), limite(limite) {}

void MedicaoQuadros::decodificado(std::uint64_t numero, Instante chegada, Instante inicio, Instante fim) {
  const Linha linha{
      .decodificado = true, .chegada = chegada, .inicio = inicio, .fim = fim, .apresentado = {}};
  std::lock_guard guarda(trava);
  if (aoVivo.load(std::memory_order_relaxed)) {
    if (recentes.size() == limiteRecentes) {
      recentes.pop_front();
    }
    recentes.push_back({numero, linha});
  }
  if (arquivo.empty() || numero >= limite) {
    return;
  }
  if (numero >= linhas.size()) {
    linhas.resize(numero + 1);
  }
  linhas[numero] = linha;
}

void MedicaoQuadros::apresentado(std::uint64_t numero, Instante quando) {
  std::lock_guard guarda(trava);
  // Only the first time counts: the same picture is drawn again for pointer moves.
  if (numero < linhas.size() && linhas[numero].apresentado == Instante{}) {
    linhas[numero].apresentado = quando;
  }
  // The picture shown is nearly always the newest decoded, so the search is short.
  for (auto recente = recentes.rbegin(); recente != recentes.rend(); ++recente) {
    if (recente->numero == numero) {
      if (recente->linha.apresentado == Instante{}) {
        recente->linha.apresentado = quando;
      }
      break;
    }
  }
}

void MedicaoQuadros::medirAoVivo(bool ligado) {
  std::lock_guard guarda(trava);
  aoVivo.store(ligado, std::memory_order_relaxed);
  recentes.clear();
  inicioAoVivo = std::chrono::steady_clock::now();
}

ResumoVideo MedicaoQuadros::resumo(Instante agora) const {
  std::vector<double> decodificacoes;
  std::vector<double> chegadasATela;
  ResumoVideo resumo;
  std::chrono::steady_clock::duration periodo = janelaAoVivo;
  {
    std::lock_guard guarda(trava);
    // Just turned on, the window is not full yet: the rate is over the time measured.
    periodo = std::clamp(agora - inicioAoVivo,
                         std::chrono::steady_clock::duration(std::chrono::milliseconds(1)), periodo);
    bool mostradoDepois = false;
    for (auto recente = recentes.rbegin(); recente != recentes.rend(); ++recente) {
      const Linha& linha = recente->linha;
      if (linha.chegada < agora - janelaAoVivo) {
        break;
      }
      decodificacoes.push_back(milissegundos(linha.fim - linha.inicio));
      const bool mostrado = linha.apresentado != Instante{};
      if (mostrado) {
        chegadasATela.push_back(milissegundos(linha.apresentado - linha.chegada));
      } else if (mostradoDepois) {
        ++resumo.pulados;
      }
      mostradoDepois = mostradoDepois || mostrado;
    }
  }
  resumo.quadrosMostradosPorSegundo =
      static_cast<double>(chegadasATela.size()) / std::chrono::duration<double>(periodo).count();
  resumo.decodificacaoP50Ms = percentil(decodificacoes, 0.50);
  resumo.chegadaATelaP50Ms = percentil(chegadasATela, 0.50);
  resumo.chegadaATelaP99Ms = percentil(chegadasATela, 0.99);
  return resumo;
}

bool MedicaoQuadros::gravar() const {
  if (arquivo.empty()) {
    return true;
  }
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
