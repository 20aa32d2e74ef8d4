#pragma once

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <variant>

extern "C" {
#include <libavformat/avformat.h>
}

#include "receptor/plataforma/video/RecursosFfmpeg.hpp"

namespace orbelo::emissor {

using FormatoPtr = std::unique_ptr<AVFormatContext, LiberarFfmpeg<avformat_close_input>>;

// A demuxed input (a file, or a device such as x11grab) reduced to its video stream.
class Entrada {
 public:
  using Opcoes = std::map<std::string, std::string>;

  // `formato` null: guessed from the contents.
  static std::variant<Entrada, std::string> abrir(const std::string& url, const AVInputFormat* formato,
                                                  const Opcoes& opcoes);

  const AVStream& fluxo() const { return *contexto->streams[indice]; }
  // Frames per second the input declares, if any.
  std::optional<int> quadrosPorSegundo() const;

  // The next packet of the video stream; AVERROR_EOF at the end of the input.
  int ler(AVPacket& pacote);
  // Starts the input again from its beginning.
  std::optional<std::string> recomecar();

 private:
  Entrada(std::string url, const AVInputFormat* formato, Opcoes opcoes, FormatoPtr contexto, int indice);

  std::string url;
  const AVInputFormat* formato;
  Opcoes opcoes;
  FormatoPtr contexto;
  int indice;
};

}  // namespace orbelo::emissor
