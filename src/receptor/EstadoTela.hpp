#pragma once

#include <memory>
#include <optional>
#include <string>

#include "ImagemCursor.hpp"

namespace orbelo {

// A rectangle in the window's content, in pixels, origin at the BOTTOM-left
// (y grows upward), as the pointer placement rule is stated.
struct Retangulo {
  double x = 0;
  double y = 0;
  double largura = 0;
  double altura = 0;

  bool operator==(const Retangulo&) const = default;
};

// What the window draws every frame. Only on the main thread: the receiver's logic
// writes it, the window reads it.
struct EstadoTela {
  // Content size of the window (the video layer's frame), in pixels.
  double larguraConteudo = 0;
  double alturaConteudo = 0;

  // Notice stack: label and button under it.
  bool pilhaAvisoOculta = false;
  std::string textoAviso;
  bool avisoOculto = false;
  bool botaoAvisoOculto = true;

  // Pairing panel.
  bool pareamentoOculto = true;
  std::string campoCodigo;
  std::string campoHost;
  std::string erroPareamento;
  bool erroPareamentoOculto = true;
  bool opcaoInicio = true;
  bool opcaoInicioOculta = true;
  bool focarCodigo = false;  // the window gives the code field the keyboard, then clears this

  // Remote pointer overlay.
  bool cursorOculto = true;
  Retangulo retanguloCursor;
  std::shared_ptr<const ImagemCursor> imagemCursor;

  // Statistics overlay: one figure per line.
  bool estatisticasVisiveis = false;
  std::string textoEstatisticas;

  // The window compares what it drew last with the present state to skip frames that
  // would look the same.
  bool operator==(const EstadoTela&) const = default;
};

}  // namespace orbelo
