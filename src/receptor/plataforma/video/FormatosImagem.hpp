#pragma once

extern "C" {
#include <libavutil/pixfmt.h>
}

namespace orbelo {

// Pixel formats the screen can draw: 8-bit YUV in three planes, all the software
// H.264 decoder gives at that depth. The yuvj variants are its way of saying full range.
constexpr bool formatoDesenhavel(int formato) {
  switch (formato) {
    case AV_PIX_FMT_YUV420P:
    case AV_PIX_FMT_YUVJ420P:
    case AV_PIX_FMT_YUV422P:
    case AV_PIX_FMT_YUVJ422P:
    case AV_PIX_FMT_YUV444P:
    case AV_PIX_FMT_YUVJ444P:
      return true;
    default:
      return false;
  }
}

}  // namespace orbelo
