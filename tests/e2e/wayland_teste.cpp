#include <sys/stat.h>

#include <cstdlib>
#include <string>

#include "e2e/Caso.hpp"

namespace orbelo::teste {
namespace {

// A Wayland desktop with its monitor scaled to 200 %: weston inside an Xvfb of its own,
// whose root shows weston's output at its real pixels. While it lives, the test's display
// is that Xvfb and receivers find weston through WAYLAND_DISPLAY (an absolute path, so
// that orbelo's private runtime folder does not hide it). Receivers keep the test's first
// X display, so that one that took X11 would not show here.
class DesktopWayland {
 public:
  DesktopWayland()
      : xvfb({"Xvfb", tela, "-screen", "0", "3840x2160x24", "-nolisten", "tcp"}),
        weston({"weston", "--backend=x11-backend.so", "--socket=orbelo", "--width=1920", "--height=1080",
                "--scale=2", "--use-pixman", "--idle-time=0", "--no-config"},
               {"DISPLAY=" + tela, "XDG_RUNTIME_DIR=" + pasta.caminho().string()}),
        displayAntes(std::getenv("DISPLAY") ? std::getenv("DISPLAY") : "") {
    ::chmod(pasta.caminho().c_str(), 0700);
    ::setenv("DISPLAY", tela.c_str(), 1);
    pronto = esperar([&] { return std::filesystem::exists(soquete()) && capturar().largura == 3840; }, 20s);
    ::setenv("WAYLAND_DISPLAY", soquete().c_str(), 1);
  }
  ~DesktopWayland() {
    ::unsetenv("WAYLAND_DISPLAY");
    ::setenv("DISPLAY", displayAntes.c_str(), 1);
  }
  std::filesystem::path soquete() const { return pasta / "orbelo"; }
  std::vector<std::string> ambiente() const { return {"DISPLAY=" + displayAntes}; }

  bool pronto = false;

 private:
  inline static const std::string tela = ":63";
  PastaTemporaria pasta;
  Processo xvfb;
  Processo weston;
  std::string displayAntes;
};

// Columns one pixel wide, white and black in turn: any scaling on the way blurs them grey.
std::string colunasDeUmPixel(const Captura& tela) {
  const int y = tela.altura / 2;
  for (int x = tela.largura / 4; x < tela.largura / 4 + 400; ++x) {
    const Rgb cor = tela.em(x, y);
    const bool claro = cor.r > 200 && cor.g > 200 && cor.b > 200;
    const bool escuro = cor.r < 55 && cor.g < 55 && cor.b < 55;
    if (!(x % 2 == 0 ? escuro : claro)) {
      return "pixel " + std::to_string(x) + " is " + texto(cor);
    }
  }
  return {};
}

// The height of the pairing panel's Conectar button, in screen pixels, once it shows.
std::optional<int> alturaDoBotao(const std::string& nome) {
  std::optional<int> altura;
  esperarTela(nome, [&](const Captura& tela) {
    const auto botao =
        tela.extensao([](Rgb c) { return perto(c, azulConectar, 3); }, {0, 0, tela.largura, tela.altura});
    altura = botao ? std::optional(botao->altura) : std::nullopt;
    return altura ? std::string() : "no panel";
  });
  return altura;
}

using WaylandE2E = CasoE2E;

// On a monitor scaled to 200 % the sender is told the real pixels, a 1-pixel pattern
// reaches the screen 1:1, the panel is drawn at the scale, and Escape ends the program.
TEST_F(WaylandE2E, AtScaleTwoTheSenderIsToldTheRealPixelsThePictureIsOneToOneAndThePanelDoubles) {
  // The panel at scale 1 first, on the X display, for its size in pixels.
  const auto alturaX11 = [&] {
    Orbelo orbelo(configuracao.caminho(), {});
    return alturaDoBotao("painel-x11");
  }();
  ASSERT_TRUE(alturaX11);

  DesktopWayland desktop;
  ASSERT_TRUE(desktop.pronto) << "weston did not start";
  PastaTemporaria pasta;
  const auto fluxo = codificar(pasta, "nullsrc=s=3840x2160:r=30,geq=lum='255*mod(X,2)':cb=128:cr=128",
                               "-pix_fmt yuv420p -qp 0 -frames:v 30");
  Emissor emissor({"--arquivo", fluxo.arquivo.string()});
  {
    Orbelo orbelo(configuracao.caminho(),
                  {"--codigo", std::string(codigoTeste), "--host", "127.0.0.1", "--porta",
                   std::to_string(emissor.porta())},
                  std::nullopt, desktop.ambiente());
    EXPECT_TRUE(emissor.esperarLinha("Tela do receptor: 3840x2160"));
    EXPECT_EQ(esperarTela("wayland-colunas", colunasDeUmPixel), "");
    ASSERT_TRUE(xdotool("key Escape"));
    EXPECT_EQ(orbelo.esperarFim(), 0);
  }
  PastaTemporaria outra;
  Orbelo orbelo(outra.caminho(), {}, std::nullopt, desktop.ambiente());
  const auto alturaWayland = alturaDoBotao("painel-wayland");
  ASSERT_TRUE(alturaWayland);
  EXPECT_NEAR(*alturaWayland, 2 * *alturaX11, 2);
}

}  // namespace
}  // namespace orbelo::teste
