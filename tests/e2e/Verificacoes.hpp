#pragma once

#include <array>
#include <optional>
#include <string>

#include "Tela.hpp"

// What a person checks on the screen, as verdicts for `esperarTela`.
namespace orbelo::e2e {

// orbelo-emissor's test pattern fitted in `video`: black bars around it and its six
// colour bands, left to right, each in its own colour.
Verificacao padraoDoEmissor(Caixa video);
// The picture in `video` changed since `antes`, and still shows the test pattern.
Verificacao padraoEmMovimento(Caixa video, const Captura& antes);

// Four flat quadrants (top-left, top-right, bottom-left, bottom-right) of these colours.
inline constexpr std::array<Rgb, 4> coresQuadrantes{
    {{200, 60, 30}, {30, 140, 60}, {60, 80, 200}, {220, 220, 220}}};
// An ffmpeg filter graph drawing them on a picture of this size.
std::string filtroQuadrantes(int largura, int altura);
// The quadrants fitted in `video`, black around them.
Verificacao quadrantesEm(Caixa video);

// A flat magenta pointer filling exactly `cursor`, over the quadrants in `video`.
inline constexpr Rgb magenta{255, 0, 255};
Verificacao cursorEm(Caixa cursor, Caixa video);

// The pairing panel, centred in the window, with or without its red error line, and its
// code field empty (showing its placeholder) or holding a code.
enum class CampoCodigo { vazio, preenchido };
Verificacao painel(bool comErro, CampoCodigo codigo);
// Nothing but the grey of a notice in the window: no picture, no pointer, no panel.
Verificacao soAviso();

// Middle of the notice's button, when one is on the screen.
std::optional<std::pair<int, int>> centroBotaoAviso(const Captura& tela);

}  // namespace orbelo::e2e
