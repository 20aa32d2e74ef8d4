#pragma once

#include <gmock/gmock.h>

#include <array>

#include "apoio/Apoio.hpp"
#include "apoio/Tela.hpp"

namespace orbelo::teste {

// Every case owns the one X screen while it runs: the services are up, no receiver
// window is left from before, and the mouse rests outside any window.
class CasoE2E : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { prepararServicos(); }

  void SetUp() override {
    ASSERT_TRUE(esperar([] { return !xdotool("search --name '^Velaro$'"); }, 10s))
        << "a receiver window from elsewhere is still on the screen";
    ASSERT_TRUE(xdotool("mousemove 1 1"));
  }

  std::filesystem::path preferencias() const { return configuracao / "orbelo/preferencias.json"; }

  PastaTemporaria configuracao;
};

// What a person checks on the screen, as verdicts for `esperarTela`.

// orbelo-emissor's test pattern fitted in `video`: black bars around it and its six
// colour bands, left to right, each in its own colour.
Verificacao padraoDoEmissor(Caixa video);
// The picture in `video` changed since the verdict was made, and still shows the test pattern.
Verificacao padraoEmMovimento(Caixa video);

// Four flat quadrants (top-left, top-right, bottom-left, bottom-right) of these colours.
inline constexpr std::array<Rgb, 4> coresQuadrantes{
    {{200, 60, 30}, {30, 140, 60}, {60, 80, 200}, {220, 220, 220}}};
// `quadros` pictures of them, 640x480, tagged BT.709 limited range so that colours on
// screen can be checked.
FluxoH264 quadrantes(const PastaTemporaria& pasta, int quadros);

// A flat magenta pointer filling exactly `cursor`, over the quadrants in `video`, each in its
// colour away from its edges.
inline constexpr Rgb magenta{255, 0, 255};
Verificacao cursorEm(Caixa cursor, Caixa video);

// The pairing panel's Conectar button.
inline constexpr Rgb azulConectar{10, 117, 235};
// The pairing panel, centred in the window, with or without its red error line.
Verificacao painel(bool comErro);
// Nothing but the grey of a notice in the window: no picture, no pointer, no panel.
Verificacao soAviso();
// The notice's button, when one shows.
std::optional<Caixa> botaoAviso(const Captura& tela);

}  // namespace orbelo::teste
