#pragma once

#include <string>
#include <vector>

#include "Cenario.hpp"
#include "protocolo/Protocolo.hpp"

// A sender's stream written by the test itself, for peers that only relay bytes.
namespace orbelo::e2e {

struct FluxoH264 {
  Bytes parametros;            // `parametros` payload: SPS and PPS records
  std::vector<Bytes> quadros;  // `quadro` payloads: key-frame flag, then length-prefixed NAL units
};

// Cuts an Annex B byte stream into the two messages' payloads: one frame per picture,
// flag 1 on frames holding an IDR slice.
FluxoH264 separarAnexoB(VistaBytes anexoB);

// `quadros` pictures of the ffmpeg filter graph `filtro`, encoded with libx264 and tagged
// BT.709 limited range, so that colours on screen can be checked.
FluxoH264 codificar(const std::string& filtro, int quadros, const PastaTemporaria& pasta);

// A PNG of one colour (ffmpeg colour syntax, e.g. "0xFF00FF"), `lado` pixels square.
Bytes pngLiso(const std::string& cor, int lado, const PastaTemporaria& pasta);

namespace Mensagem {
Bytes config(std::uint32_t largura, std::uint32_t altura);
Bytes parametros(const FluxoH264& fluxo);
Bytes quadro(const Bytes& payload);
// `config`, `parametros` and every frame, as a sender opens a connection.
Bytes abertura(std::uint32_t largura, std::uint32_t altura, const FluxoH264& fluxo);
Bytes imagemCursor(float largura, float altura, float pontaX, float pontaY, const Bytes& imagem);
Bytes cursor(float x, float y, bool visivel);
}  // namespace Mensagem

}  // namespace orbelo::e2e
