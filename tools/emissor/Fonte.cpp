#include "Fonte.hpp"

#include <algorithm>

#include "FontePadrao.hpp"
#include "FonteRepasse.hpp"
#include "FonteTranscodificada.hpp"

extern "C" {
#include <libavdevice/avdevice.h>
}

namespace orbelo::emissor {

namespace {

constexpr int fpsPadrao = 30;

std::variant<std::unique_ptr<FonteVideo>, std::string> abrirArquivo(const std::string& caminho,
                                                                    std::optional<int> quadrosPorSegundo) {
  auto entrada = Entrada::abrir(caminho, nullptr, {});
  if (auto* erro = std::get_if<std::string>(&entrada)) {
    return *erro;
  }
  auto& aberta = std::get<Entrada>(entrada);
  if (aberta.fluxo().codecpar->codec_id == AV_CODEC_ID_H264) {
    return FonteRepasse::abrir(std::move(aberta), quadrosPorSegundo);
  }
  int fps = std::clamp(quadrosPorSegundo.value_or(aberta.quadrosPorSegundo().value_or(fpsPadrao)), 1, 240);
  return FonteTranscodificada::abrir(std::move(aberta), fps, true);
}

std::variant<std::unique_ptr<FonteVideo>, std::string> abrirX11(const std::string& tela,
                                                                int quadrosPorSegundo) {
  avdevice_register_all();
  const AVInputFormat* x11grab = av_find_input_format("x11grab");
  if (x11grab == nullptr) {
    return std::string("x11grab indisponível");
  }
  // The screen's own pointer stays in the picture; the receiver is told to hide its overlay.
  auto entrada =
      Entrada::abrir(tela, x11grab, {{"framerate", std::to_string(quadrosPorSegundo)}, {"draw_mouse", "1"}});
  if (auto* erro = std::get_if<std::string>(&entrada)) {
    return *erro;
  }
  return FonteTranscodificada::abrir(std::move(std::get<Entrada>(entrada)), quadrosPorSegundo, false);
}

template <typename Resultado>
Resultado comPrefixo(Resultado resultado, const std::string& prefixo) {
  if (auto* erro = std::get_if<std::string>(&resultado)) {
    *erro = prefixo + *erro + ".";
  }
  return resultado;
}

}  // namespace

std::variant<std::unique_ptr<FonteVideo>, std::string> abrirFonte(const OpcoesEmissor& opcoes) {
  if (opcoes.arquivo) {
    return comPrefixo(abrirArquivo(*opcoes.arquivo, opcoes.quadrosPorSegundo),
                      "Arquivo inválido: " + *opcoes.arquivo + ": ");
  }
  if (opcoes.x11) {
    return comPrefixo(abrirX11(*opcoes.x11, opcoes.quadrosPorSegundo.value_or(fpsPadrao)),
                      "Tela X11 indisponível: " + *opcoes.x11 + ": ");
  }
  return comPrefixo(FontePadrao::abrir(opcoes.tamanho, opcoes.quadrosPorSegundo.value_or(fpsPadrao)),
                    "Codificador indisponível: ");
}

}  // namespace orbelo::emissor
