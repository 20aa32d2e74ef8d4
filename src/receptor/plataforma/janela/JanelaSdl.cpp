#include "JanelaSdl.hpp"

#include <backends/imgui_impl_opengl3.h>
#include <backends/imgui_impl_sdl.h>
#include <epoxy/gl.h>
#include <imgui.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <string_view>
#include <vector>

#include "AtributosGl.hpp"
#include "DecodificadorImagemArquivo.hpp"
#include "Fontes.hpp"
#include "Icone.hpp"
#include "PainelEstatisticas.hpp"
#include "PainelPareamento.hpp"
#include "PilhaAvisos.hpp"
#include "receptor/Geometria.hpp"

namespace orbelo {
namespace {

constexpr const char* tituloJanela = "Velaro";
constexpr const char* motivoTelaAcesa = "Exibindo a varovia";
constexpr SDL_Rect telaPadrao{0, 0, 1920, 1080};

// ImGui needs a second frame to settle after input (a click is seen pressed, then
// released; a focus request lands a frame later).
constexpr int pinturasAposEntrada = 2;

bool ehTeclado(const SDL_Event& evento) {
  return evento.type == SDL_KEYDOWN || evento.type == SDL_KEYUP || evento.type == SDL_TEXTINPUT;
}

bool ehConfirmar(SDL_Keycode tecla) {
  return tecla == SDLK_RETURN || tecla == SDLK_KP_ENTER;
}

// Ctrl+Alt+Shift+S, as other streaming clients have it.
bool ehAtalhoEstatisticas(const SDL_Keysym& tecla) {
  return tecla.sym == SDLK_s && (tecla.mod & KMOD_CTRL) != 0 && (tecla.mod & KMOD_ALT) != 0 &&
         (tecla.mod & KMOD_SHIFT) != 0;
}

// Where SDL reports no pixel density of its own (X11), the display's DPI does, in half
// steps so that an odd physical size does not blur everything by a few percent.
float unidadesPorPonto(SDL_Window* janela) {
  float dpi = 0;
  if (SDL_GetDisplayDPI(SDL_GetWindowDisplayIndex(janela), &dpi, nullptr, nullptr) != 0 || dpi <= 0) {
    return 1;
  }
  return std::clamp(std::round(dpi / 96 * 2) / 2, 1.0f, 3.0f);
}

// The monitor the user is looking at is the one holding the mouse pointer.
// Under a Wayland session SDL would still pick X11, where a scaled monitor is drawn at
// scale 1 and enlarged: blurred, and announced at half its pixels. Wayland first, X11 if
// that fails; a driver the user chose stays the only one (null: SDL's own choice).
std::vector<const char*> driversAtentar() {
  const char* pedido = std::getenv("SDL_VIDEODRIVER");
  const char* wayland = std::getenv("WAYLAND_DISPLAY");
  if ((pedido != nullptr && *pedido != '\0') || wayland == nullptr || *wayland == '\0') {
    return {nullptr};
  }
  return {"wayland", "x11"};
}

SDL_Rect retanguloTela() {
  std::vector<SDL_Rect> telas;
  std::vector<Retangulo> monitores;
  for (int indice = 0; indice < SDL_GetNumVideoDisplays(); ++indice) {
    SDL_Rect tela;
    if (SDL_GetDisplayBounds(indice, &tela) != 0) {
      continue;
    }
    telas.push_back(tela);
    monitores.push_back({double(tela.x), double(tela.y), double(tela.w), double(tela.h)});
  }
  if (telas.empty()) {
    return telaPadrao;
  }
  int x = 0, y = 0;
  SDL_GetGlobalMouseState(&x, &y);
  return telas[monitorDoPonto(monitores, x, y)];
}

}  // namespace

std::unique_ptr<JanelaSdl> JanelaSdl::abrir(bool janelaComum, EstadoTela& estado,
                                            ExecutorPrincipal& principal, AcoesJanela acoes,
                                            std::string& erro) {
  SDL_SetHint(SDL_HINT_SCREENSAVER_INHIBIT_ACTIVITY_NAME, motivoTelaAcesa);
  // The sender's user works on the other computer: our window losing focus must not
  // take the second display away.
  SDL_SetHint(SDL_HINT_VIDEO_MINIMIZE_ON_FOCUS_LOSS, "0");
  std::unique_ptr<JanelaSdl> janela(new JanelaSdl(estado, principal, std::move(acoes)));
  if (!janela->criar(janelaComum, erro)) {
    return nullptr;
  }
  return janela;
}

JanelaSdl::JanelaSdl(EstadoTela& estado, ExecutorPrincipal& principal, AcoesJanela acoes)
    : estado(estado), principal(principal), acoes(std::move(acoes)) {}

bool JanelaSdl::criar(bool janelaComum, std::string& erro) {
  // A full-screen window has no title bar to draw: on Wayland, libdecor and the toolkit it
  // loads (pango, cairo, a font thread of their own) would only cost start-up time.
  if (!janelaComum) {
    SDL_SetHint(SDL_HINT_VIDEO_WAYLAND_ALLOW_LIBDECOR, "0");
  }
  for (const char* driver : driversAtentar()) {
    if (driver != nullptr) {
      SDL_SetHint(SDL_HINT_VIDEODRIVER, driver);
    }
    if (criarCom(janelaComum, erro)) {
      return true;
    }
    // Released in reverse before the next driver is tried.
    contextoGl.reset();
    janela.reset();
    video.reset();
  }
  return false;
}

bool JanelaSdl::criarCom(bool janelaComum, std::string& erro) {
  video.emplace(SDL_INIT_VIDEO);
  if (!video->ativo()) {
    erro = SDL_GetError();
    return false;
  }
  // SDL falls back to drivers that show nothing when no display server answers; a
  // receiver whose picture nobody can see has failed.
  const std::string_view driver = SDL_GetCurrentVideoDriver();
  if (driver == "offscreen" || driver == "dummy") {
    erro = "nenhuma tela disponível (driver de vídeo " + std::string(driver) + ")";
    return false;
  }
  pedirAtributosGl();

  const SDL_Rect tela = retanguloTela();
  Uint32 opcoes = SDL_WINDOW_OPENGL | SDL_WINDOW_ALLOW_HIGHDPI;
  SDL_Rect area = tela;
  if (janelaComum) {
    // Two thirds of the screen each way, centred.
    area = {tela.x + tela.w / 6, tela.y + tela.h / 6, tela.w - 2 * (tela.w / 6), tela.h - 2 * (tela.h / 6)};
    opcoes |= SDL_WINDOW_RESIZABLE;
  } else {
    opcoes |= SDL_WINDOW_FULLSCREEN_DESKTOP | SDL_WINDOW_BORDERLESS;
  }
  janela.reset(SDL_CreateWindow(tituloJanela, area.x, area.y, area.w, area.h, opcoes));
  if (!janela) {
    erro = SDL_GetError();
    return false;
  }
  contextoGl.reset(SDL_GL_CreateContext(janela.get()));
  if (!contextoGl) {
    erro = SDL_GetError();
    return false;
  }
  if (SDL_GL_SetSwapInterval(1) != 0) {
    SDL_GL_SetSwapInterval(0);
  }
  SDL_DisableScreenSaver();
  prepararInterface();
  SDL_RaiseWindow(janela.get());
  return true;
}

void JanelaSdl::prepararInterface() {
  int largura = 0, altura = 0, larguraPixels = 0, alturaPixels = 0;
  SDL_GetWindowSize(janela.get(), &largura, &altura);
  SDL_GL_GetDrawableSize(janela.get(), &larguraPixels, &alturaPixels);
  escalaFramebuffer = largura > 0 ? static_cast<float>(larguraPixels) / static_cast<float>(largura) : 1;
  // A desktop that already gives more pixels than window units has done the scaling.
  const float unidades = escalaFramebuffer > 1.01f ? 1 : unidadesPorPonto(janela.get());

  imgui.emplace(janela.get(), contextoGl.get(), unidades);
  aparencia.fontes = carregarFontes(unidades, escalaFramebuffer);
  aparencia.unidades = unidades;

  if (auto icone = DecodificadorImagemArquivo().decodificar(iconePng())) {
    texturaIcone.emplace(*icone);
    aparencia.icone = reinterpret_cast<ImTextureID>(static_cast<std::uintptr_t>(texturaIcone->id()));
    SuperficiePtr superficie(SDL_CreateRGBSurfaceWithFormatFrom(const_cast<std::uint8_t*>(icone->rgba.data()),
                                                                icone->largura, icone->altura, 32,
                                                                icone->largura * 4, SDL_PIXELFORMAT_RGBA32));
    if (superficie) {
      SDL_SetWindowIcon(janela.get(), superficie.get());
    }
  }
}

std::optional<TamanhoTela> JanelaSdl::telaDoMonitor() const {
  // Full screen, the drawable is the monitor in pixels; on a scaled desktop the mode and
  // the window count points, fewer than the sender should render.
  int largura = 0, altura = 0;
  SDL_GL_GetDrawableSize(janela.get(), &largura, &altura);
  if (largura > 0 && altura > 0) {
    return TamanhoTela{largura, altura};
  }
  const int indice = SDL_GetWindowDisplayIndex(janela.get());
  SDL_DisplayMode modo;
  if (indice < 0 || SDL_GetDesktopDisplayMode(indice, &modo) != 0) {
    return std::nullopt;
  }
  return TamanhoTela{modo.w, modo.h};
}

void JanelaSdl::mostrarVideo(VideoNaJanela& video) {
  videoMostrado = &video;
}

void JanelaSdl::trazerParaFrente() {
  // Raising alone leaves a minimized full-screen window hidden, and without a window
  // manager nothing hands the raised window the focus.
  if ((SDL_GetWindowFlags(janela.get()) & SDL_WINDOW_MINIMIZED) != 0) {
    SDL_RestoreWindow(janela.get());
  }
  SDL_RaiseWindow(janela.get());
  SDL_SetWindowInputFocus(janela.get());
}

void JanelaSdl::rodar() {
  redimensionar();
  pinturasPendentes = pinturasAposEntrada;
  for (;;) {
    coletarEventos();
    // ImGui 1.86 samples the keys once per frame, so a press and its release in the
    // same frame would be lost: one key press per frame, the rest waits in order.
    bool teclaNaPintura = false;
    while (!lote.empty()) {
      const SDL_Event evento = lote.front();
      if (teclaNaPintura && ehTeclado(evento)) {
        break;
      }
      lote.pop_front();
      if (!tratar(evento)) {
        return;
      }
      teclaNaPintura = teclaNaPintura || evento.type == SDL_KEYDOWN;
    }
    // Most tasks come with each video frame and change nothing on screen (the sample
    // only goes to the decoder); a full-screen frame costs too much to draw for them.
    const bool rodou = principal.executarPendentes();
    const bool videoMudou = videoMostrado && videoMostrado->mudou();
    if (videoMudou || (rodou && !(estado == desenhado))) {
      if (!videoMudou && !adiadoAte && videoMostrado && videoMostrado->imagemACaminho()) {
        adiadoAte = std::chrono::steady_clock::now() + esperaMaximaImagem;
      }
      if (videoMudou || !adiadoAte) {
        pinturasPendentes = std::max(pinturasPendentes, estado.pareamentoOculto ? 1 : pinturasAposEntrada);
      }
    }
    if (adiadoAte && std::chrono::steady_clock::now() >= *adiadoAte) {
      pinturasPendentes = std::max(pinturasPendentes, 1);
    }
    if (!lote.empty()) {
      pinturasPendentes = std::max(pinturasPendentes, 1);
    }
    if (pinturasPendentes > 0) {
      desenhar();
      --pinturasPendentes;
    }
  }
}

void JanelaSdl::coletarEventos() {
  SDL_Event evento;
  if (lote.empty() && pinturasPendentes == 0) {
    auto espera = principal.esperaAteProximo();
    if (adiadoAte) {
      const auto ateDesenhar = std::max(*adiadoAte - std::chrono::steady_clock::now(), {});
      espera = espera ? std::min(*espera, ateDesenhar) : ateDesenhar;
    }
    bool chegou = false;
    if (espera) {
      // Rounded up: waking a little early would only spin until the task is due.
      auto ms = std::chrono::ceil<std::chrono::milliseconds>(*espera).count();
      chegou = SDL_WaitEventTimeout(&evento, static_cast<int>(std::min<decltype(ms)>(ms, INT_MAX)));
    } else {
      chegou = SDL_WaitEvent(&evento);
    }
    if (chegou) {
      lote.push_back(evento);
    }
  }
  while (SDL_PollEvent(&evento)) {
    lote.push_back(evento);
  }
}

bool JanelaSdl::tratar(const SDL_Event& evento) {
  if (evento.type == principal.tipoEvento()) {
    return true;
  }
  switch (evento.type) {
    case SDL_QUIT:
      return false;
    case SDL_KEYDOWN:
      if (evento.key.keysym.sym == SDLK_ESCAPE) {
        return false;
      }
      if (ehAtalhoEstatisticas(evento.key.keysym)) {
        if (acoes.alternarEstatisticas) {
          acoes.alternarEstatisticas();
        }
        return true;
      }
      if (ehConfirmar(evento.key.keysym.sym)) {
        // Kept from ImGui, which would take the field's focus away; confirmed after the
        // next frame, once the characters typed before it are in the fields.
        confirmarPedido = !estado.pareamentoOculto;
        pinturasPendentes = std::max(pinturasPendentes, pinturasAposEntrada);
        return true;
      }
      break;
    case SDL_KEYUP:
      if (ehConfirmar(evento.key.keysym.sym)) {
        return true;
      }
      break;
    case SDL_WINDOWEVENT:
      if (evento.window.event == SDL_WINDOWEVENT_SIZE_CHANGED) {
        redimensionar();
      }
      if (evento.window.event == SDL_WINDOWEVENT_DISPLAY_CHANGED) {
        mudarDeMonitor();
      }
      break;
    default:
      break;
  }
  ImGui_ImplSDL2_ProcessEvent(&evento);
  if (evento.type == SDL_KEYDOWN || evento.type == SDL_KEYUP) {
    // The back end reads the modifiers as they are now, after every queued event; the
    // event's own say whether Ctrl was down when V was pressed.
    const auto modificadores = evento.key.keysym.mod;
    auto& io = ImGui::GetIO();
    io.KeyCtrl = (modificadores & KMOD_CTRL) != 0;
    io.KeyShift = (modificadores & KMOD_SHIFT) != 0;
    io.KeyAlt = (modificadores & KMOD_ALT) != 0;
    io.KeySuper = (modificadores & KMOD_GUI) != 0;
  }
  pinturasPendentes = std::max(pinturasPendentes, pinturasAposEntrada);
  return true;
}

void JanelaSdl::redimensionar() {
  int largura = 0, altura = 0;
  SDL_GL_GetDrawableSize(janela.get(), &largura, &altura);
  if (acoes.redimensionar) {
    acoes.redimensionar(largura, altura);
  }
  // Full screen on another monitor, or the monitor's resolution changed: the sender renders
  // for the new size.
  const bool telaCheia =
      (SDL_GetWindowFlags(janela.get()) & SDL_WINDOW_FULLSCREEN_DESKTOP) == SDL_WINDOW_FULLSCREEN_DESKTOP;
  const auto monitor = telaDoMonitor();
  if (telaCheia && monitor && acoes.mudouDeMonitor) {
    acoes.mudouDeMonitor(*monitor);
  }
}

// Moved by the window manager, the window may keep the old monitor's size: full screen is
// asked for again, now on the monitor that holds it.
void JanelaSdl::mudarDeMonitor() {
  const Uint32 telaCheia = SDL_GetWindowFlags(janela.get()) & SDL_WINDOW_FULLSCREEN_DESKTOP;
  if (telaCheia != SDL_WINDOW_FULLSCREEN_DESKTOP) {
    return;
  }
  SDL_Rect tela;
  int largura = 0, altura = 0;
  SDL_GetWindowSize(janela.get(), &largura, &altura);
  const int indice = SDL_GetWindowDisplayIndex(janela.get());
  if (indice >= 0 && SDL_GetDisplayBounds(indice, &tela) == 0 && (tela.w != largura || tela.h != altura)) {
    SDL_SetWindowFullscreen(janela.get(), 0);
    SDL_SetWindowFullscreen(janela.get(), SDL_WINDOW_FULLSCREEN_DESKTOP);
  }
}

void JanelaSdl::desenhar() {
  int largura = 0, altura = 0;
  SDL_GL_GetDrawableSize(janela.get(), &largura, &altura);
  glViewport(0, 0, largura, altura);
  // The video fills the whole content itself; clearing under it too would write every pixel twice.
  if (videoMostrado) {
    videoMostrado->desenhar(largura, altura);
  } else {
    glClearColor(0, 0, 0, 1);
    glClear(GL_COLOR_BUFFER_BIT);
  }

  ImGui_ImplOpenGL3_NewFrame();
  ImGui_ImplSDL2_NewFrame();
  ImGui::NewFrame();
  const auto& io = ImGui::GetIO();
  cursorRemoto.desenhar(estado, *ImGui::GetBackgroundDrawList(), static_cast<float>(altura),
                        io.DisplayFramebufferScale.y > 0 ? io.DisplayFramebufferScale.y : 1);
  ImGui::SetNextWindowPos({0, 0});
  ImGui::SetNextWindowSize(io.DisplaySize);
  ImGui::Begin("##tela", nullptr,
               ImGuiWindowFlags_NoDecoration | ImGuiWindowFlags_NoBackground |
                   ImGuiWindowFlags_NoSavedSettings | ImGuiWindowFlags_NoMove |
                   ImGuiWindowFlags_NoBringToFrontOnFocus | ImGuiWindowFlags_NoScrollWithMouse);
  const auto acaoAvisos = desenharPilhaAvisos(estado, aparencia, io.DisplaySize);
  auto acaoPainel = desenharPainelPareamento(estado, aparencia, io.DisplaySize);
  ImGui::End();
  desenharPainelEstatisticas(estado, aparencia, *ImGui::GetForegroundDrawList());
  ImGui::Render();
  glViewport(0, 0, largura, altura);
  ImGui_ImplOpenGL3_RenderDrawData(ImGui::GetDrawData());
  SDL_GL_SwapWindow(janela.get());
  if (videoMostrado) {
    videoMostrado->apresentado();
  }
  desenhado = estado;
  adiadoAte.reset();

  if (confirmarPedido) {
    confirmarPedido = false;
    if (!estado.pareamentoOculto) {
      acaoPainel = AcaoInterface::confirmarPareamento;
    }
  }
  executar(acaoAvisos);
  executar(acaoPainel);
}

void JanelaSdl::executar(AcaoInterface acao) {
  switch (acao) {
    case AcaoInterface::nenhuma:
      return;
    case AcaoInterface::abrirPareamento:
      if (acoes.abrirPareamento) {
        acoes.abrirPareamento();
      }
      break;
    case AcaoInterface::confirmarPareamento:
      if (acoes.confirmarPareamento) {
        acoes.confirmarPareamento();
      }
      break;
  }
  pinturasPendentes = std::max(pinturasPendentes, pinturasAposEntrada);
}

}  // namespace orbelo
