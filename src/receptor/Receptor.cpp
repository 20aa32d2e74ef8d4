#include "Receptor.hpp"

#include <utility>

#include "protocolo/Saida.hpp"

namespace orbelo {

std::shared_ptr<Receptor> Receptor::criar(OpcoesReceptor opcoes, const DependenciasReceptor& dependencias) {
  return std::make_shared<Receptor>(Chave{}, std::move(opcoes), dependencias);
}

Receptor::Receptor(Chave, OpcoesReceptor opcoes, const DependenciasReceptor& dependencias)
    : opcoes(std::move(opcoes)),
      fila(dependencias.fila),
      principal(dependencias.principal),
      transporte(dependencias.transporte),
      preferencias(dependencias.preferencias),
      inicioAutomatico(dependencias.inicioAutomatico),
      imprimir(dependencias.imprimir ? dependencias.imprimir : imprimirLinha),
      medidor("Recebido", dependencias.relogio, imprimir),
      camada(dependencias.camada),
      imagens(dependencias.imagens),
      cursorLocal(dependencias.cursorLocal),
      tela(dependencias.tela) {}

}  // namespace orbelo
