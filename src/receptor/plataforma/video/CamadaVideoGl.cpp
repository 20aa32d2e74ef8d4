#include "CamadaVideoGl.hpp"

#include <cassert>
#include <chrono>
#include <utility>

namespace orbelo {

// The task wakes the loop, which then finds the picture through `mudou`; it needs to do nothing.
CamadaVideoGl::CamadaVideoGl(Executor& principal, MedicaoQuadros* medicao)
    : principal(principal),
      medicao(medicao),
      decodificador([&principal] { principal.executar([] {}); }, medicao),
      desenho(decodificador, medicao) {}

void CamadaVideoGl::afirmarNoPrincipal() const {
  assert(principal.atual());
}

void CamadaVideoGl::enfileirar(Amostra amostra) {
  afirmarNoPrincipal();
  decodificador.enfileirar(std::move(amostra));
}

CamadaVideo::Status CamadaVideoGl::status() const {
  afirmarNoPrincipal();
  return decodificador.status();
}

std::optional<std::string> CamadaVideoGl::erro() const {
  afirmarNoPrincipal();
  return decodificador.erro();
}

void CamadaVideoGl::descarregar() {
  afirmarNoPrincipal();
  decodificador.descarregar();
}

void CamadaVideoGl::descarregarERemoverImagem() {
  afirmarNoPrincipal();
  decodificador.descarregarERemoverImagem();
}

void CamadaVideoGl::medirAoVivo(bool ligado) {
  afirmarNoPrincipal();
  if (medicao) {
    medicao->medirAoVivo(ligado);
  }
}

ResumoVideo CamadaVideoGl::resumo() const {
  afirmarNoPrincipal();
  ResumoVideo resumo = medicao ? medicao->resumo(std::chrono::steady_clock::now()) : ResumoVideo{};
  resumo.conversao = desenho.conversaoUsada();
  return resumo;
}

bool CamadaVideoGl::mudou() const {
  afirmarNoPrincipal();
  return decodificador.mudou();
}

bool CamadaVideoGl::imagemACaminho() const {
  afirmarNoPrincipal();
  return decodificador.imagemACaminho();
}

void CamadaVideoGl::desenhar(int largura, int altura) {
  afirmarNoPrincipal();
  desenho.desenhar(largura, altura);
}

void CamadaVideoGl::apresentado() {
  afirmarNoPrincipal();
  desenho.apresentado();
}

}  // namespace orbelo
