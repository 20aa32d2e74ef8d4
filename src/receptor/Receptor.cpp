#include "Receptor.hpp"

#include <cassert>
#include <utility>

#include "protocolo/Saida.hpp"

namespace orbelo {

std::shared_ptr<Receptor> Receptor::criar(OpcoesReceptor opcoes, const DependenciasReceptor& dependencias) {
  return std::make_shared<Receptor>(Passe{}, std::move(opcoes), dependencias);
}

Receptor::Receptor(Passe, OpcoesReceptor opcoes, const DependenciasReceptor& dependencias)
    : opcoes(std::move(opcoes)),
      fila(dependencias.fila),
      principal(dependencias.principal),
      decodificacao(dependencias.decodificacao),
      transporte(dependencias.transporte),
      formatoUtilizavel(dependencias.formatoUtilizavel),
      preferencias(dependencias.preferencias),
      inicioAutomatico(dependencias.inicioAutomatico),
      imprimir(dependencias.imprimir ? dependencias.imprimir : imprimirLinha),
      medidor("Recebido", dependencias.relogio, imprimir),
      camada(dependencias.camada),
      imagens(dependencias.imagens),
      cursorLocal(dependencias.cursorLocal),
      tela(dependencias.tela) {}

void Receptor::afirmarNaFila() const {
  assert(fila.atual());
}

void Receptor::afirmarNoPrincipal() const {
  assert(principal.atual());
}

void Receptor::entregar(std::size_t bytes) {
  bytesEmEspera += bytes;
}

void Receptor::devolver(std::size_t bytes) {
  const std::size_t antes = bytesEmEspera.fetch_sub(bytes);
  // Only the drop below the cap wakes the reader, which stopped at a value above it.
  if (antes > limiteEmEspera && antes - bytes <= limiteEmEspera) {
    fila.executar([eu = shared_from_this()] { eu->retomarRecepcao(); });
  }
}

}  // namespace orbelo
