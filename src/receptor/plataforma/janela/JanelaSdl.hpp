#pragma once

#include <SDL.h>

#include <chrono>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "Aparencia.hpp"
#include "ContextoImGui.hpp"
#include "CursorRemoto.hpp"
#include "ExecutorPrincipal.hpp"
#include "RecursosSdl.hpp"
#include "TexturaGl.hpp"
#include "VideoNaJanela.hpp"
#include "receptor/EstadoTela.hpp"
#include "receptor/OpcoesReceptor.hpp"

namespace orbelo {

// What the window hands back to the receiver; all called on the main thread.
struct AcoesJanela {
  std::function<void()> abrirPareamento;
  std::function<void()> confirmarPareamento;
  std::function<void(int largura, int altura)> redimensionar;  // content size in pixels
  std::function<void(TamanhoTela monitor)> mudouDeMonitor;     // full screen: the monitor, resized or another
  std::function<void()> alternarEstatisticas;
};

// The one window: full screen on the desktop (or an ordinary window), black, with an
// OpenGL 3.3 context. It runs the main thread's event loop and draws, each time
// something changes, the video, the remote pointer, the notices and the pairing panel
// from `EstadoTela`. Escape, or the desktop closing the window, ends the loop.
class JanelaSdl {
 public:
  // None, with SDL's reason in `erro`, when there is no display to open it on.
  static std::unique_ptr<JanelaSdl> abrir(bool janelaComum, EstadoTela& estado, ExecutorPrincipal& principal,
                                          AcoesJanela acoes, std::string& erro);
  JanelaSdl(const JanelaSdl&) = delete;
  JanelaSdl& operator=(const JanelaSdl&) = delete;

  // The size of the window's drawable in pixels, which full screen is the monitor's, or
  // the desktop mode of the display holding the window when the drawable has none yet.
  std::optional<TamanhoTela> telaDoMonitor() const;

  // The video, drawn first in each frame into the whole content (pixels), every pixel of
  // it: the window does not clear underneath. Until set, the content stays black. Each
  // pass of the loop draws when the video has changed; tasks that leave the drawn state
  // as it was draw nothing. A task that changed the state while the video has a picture
  // on its way waits for that picture (at most `esperaMaximaImagem`), so that the pointer
  // moved with a frame costs one frame on screen, not two, and shows with its picture.
  void mostrarVideo(VideoNaJanela& video);
  static constexpr std::chrono::milliseconds esperaMaximaImagem{8};
  // Main thread only. Puts the window above the others with the keyboard's focus,
  // restored first when it was minimized.
  void trazerParaFrente();

  // The main thread's loop: sleeps until an event, a posted task or a delayed task is
  // due, then runs them and draws. Returns when the program is to end.
  void rodar();

 private:
  JanelaSdl(EstadoTela& estado, ExecutorPrincipal& principal, AcoesJanela acoes);

  bool criar(bool janelaComum, std::string& erro);
  bool criarCom(bool janelaComum, std::string& erro);
  void prepararInterface();
  void coletarEventos();
  bool tratar(const SDL_Event& evento);
  void redimensionar();
  void mudarDeMonitor();
  void desenhar();
  void executar(AcaoInterface acao);

  EstadoTela& estado;
  ExecutorPrincipal& principal;
  AcoesJanela acoes;
  VideoNaJanela* videoMostrado = nullptr;

  // Declared so that GL objects go before their context, and the context before the window.
  std::optional<SubsistemaSdl> video;
  JanelaSdlPtr janela;
  ContextoGlPtr contextoGl;
  std::optional<ContextoImGui> imgui;
  std::optional<TexturaGl> texturaIcone;
  CursorRemoto cursorRemoto;
  Aparencia aparencia;
  float escalaFramebuffer = 1;

  // The state as the last frame drew it.
  EstadoTela desenhado;
  // Set while a changed state waits for the picture on its way.
  std::optional<std::chrono::steady_clock::time_point> adiadoAte;

  std::deque<SDL_Event> lote;
  int pinturasPendentes = 0;
  bool confirmarPedido = false;
};

}  // namespace orbelo
