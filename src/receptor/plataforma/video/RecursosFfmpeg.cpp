#include "RecursosFfmpeg.hpp"

extern "C" {
#include <libavutil/error.h>
}

namespace orbelo {

std::string textoErroFfmpeg(int codigo) {
  char texto[AV_ERROR_MAX_STRING_SIZE] = {};
  av_strerror(codigo, texto, sizeof texto);
  return texto;
}

}  // namespace orbelo
