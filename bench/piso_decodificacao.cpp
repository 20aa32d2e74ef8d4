// The floors under the receiver's cost. Every frame of an H.264 file goes through
// the receiver's own decoder set-up and nothing else, one frame every 1/FPS seconds
// as the sender paces them (so that the decoder sleeps between frames as it does in
// the receiver), or back to back when FPS is 0. With --desenhar, each picture is
// also converted, uploaded and copied to a full-screen window by the receiver's own
// drawing code and the buffers swapped: what any OpenGL program must pay to show it.
// Prints the frames decoded and the process's CPU time (user + system, every
// thread) per frame.
// Usage: orbelo_bench_piso ARQUIVO.h264 FPS [--desenhar]
#include <SDL.h>
#include <sys/resource.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string_view>
#include <thread>

#include "UnidadesAcesso.hpp"
#include "receptor/plataforma/janela/AtributosGl.hpp"
#include "receptor/plataforma/video/ConversaoRgb.hpp"
#include "receptor/plataforma/video/DecodificadorH264.hpp"
#include "receptor/plataforma/video/TexturaRgb.hpp"

namespace {

double segundosCpu() {
  rusage uso{};
  getrusage(RUSAGE_SELF, &uso);
  auto segundos = [](const timeval& t) { return double(t.tv_sec) + double(t.tv_usec) / 1e6; };
  return segundos(uso.ru_utime) + segundos(uso.ru_stime);
}

// A window over the whole screen with the receiver's OpenGL set-up.
class Tela {
 public:
  bool abrir() {
    if (SDL_Init(SDL_INIT_VIDEO) != 0) {
      return false;
    }
    orbelo::pedirAtributosGl();
    SDL_Rect area{};
    SDL_GetDisplayBounds(0, &area);
    janela = SDL_CreateWindow("piso", area.x, area.y, area.w, area.h,
                              SDL_WINDOW_OPENGL | SDL_WINDOW_FULLSCREEN_DESKTOP | SDL_WINDOW_BORDERLESS);
    contexto = janela ? SDL_GL_CreateContext(janela) : nullptr;
    if (!contexto) {
      return false;
    }
    if (SDL_GL_SetSwapInterval(1) != 0) {
      SDL_GL_SetSwapInterval(0);
    }
    SDL_GL_GetDrawableSize(janela, &largura, &altura);
    return true;
  }
  ~Tela() {
    // Its names go while the context that made them is still there.
    textura.reset();
    if (contexto) {
      SDL_GL_DeleteContext(contexto);
    }
    if (janela) {
      SDL_DestroyWindow(janela);
    }
    SDL_Quit();
  }

  void mostrar(const AVFrame& imagem) {
    if (!textura) {
      textura.emplace();
    }
    SDL_PumpEvents();
    if (textura->enviar(imagem, conversao)) {
      glBindFramebuffer(GL_DRAW_FRAMEBUFFER, 0);
      textura->copiar(0, 0, largura, altura);
    }
    SDL_GL_SwapWindow(janela);
  }

 private:
  SDL_Window* janela = nullptr;
  SDL_GLContext contexto = nullptr;
  int largura = 0;
  int altura = 0;
  orbelo::ConversaoRgb conversao;
  std::optional<orbelo::TexturaRgb> textura;
};

}  // namespace

int main(int argc, char** argv) {
  const bool desenhar = argc == 4 && std::string_view(argv[3]) == "--desenhar";
  if (argc != 3 && !desenhar) {
    std::puts("Uso: orbelo_bench_piso ARQUIVO.h264 FPS [--desenhar]");
    return 2;
  }
  const auto fluxo = orbelo::bancada::lerFluxo(argv[1]);
  const long fps = std::strtol(argv[2], nullptr, 10);
  if (!fluxo || fps < 0) {
    std::printf("Arquivo H.264 ilegível ou FPS inválido: %s %s\n", argv[1], argv[2]);
    return 2;
  }
  // Opening the decoder and the window is start-up, left out as it is for the receiver.
  Tela tela;
  if (desenhar && !tela.abrir()) {
    std::printf("A janela não abriu: %s\n", SDL_GetError());
    return 1;
  }
  orbelo::DecodificadorH264 decodificador;
  orbelo::Imagem imagem(av_frame_alloc());
  if (decodificador.prepararPara(fluxo->formato) != 0) {
    std::puts("O decodificador não abriu.");
    return 1;
  }
  const auto intervalo =
      fps > 0 ? std::chrono::nanoseconds(std::chrono::seconds(1)) / fps : std::chrono::nanoseconds(0);
  auto prazo = std::chrono::steady_clock::now();
  const double inicio = segundosCpu();
  std::int64_t decodificados = 0;
  for (const auto& unidade : fluxo->unidades) {
    std::this_thread::sleep_until(prazo);
    prazo += intervalo;
    if (decodificador.enviar(unidade.comprimentos, decodificados) != 0) {
      continue;
    }
    while (decodificador.receber(*imagem) == 0) {
      ++decodificados;
      if (desenhar) {
        tela.mostrar(*imagem);
      }
      av_frame_unref(imagem.get());
    }
  }
  const double cpu = segundosCpu() - inicio;
  std::printf("quadros %lld cpu_s %.4f por_quadro_ms %.4f\n", static_cast<long long>(decodificados), cpu,
              decodificados > 0 ? cpu * 1e3 / double(decodificados) : 0.0);
  return decodificados > 0 ? 0 : 1;
}
