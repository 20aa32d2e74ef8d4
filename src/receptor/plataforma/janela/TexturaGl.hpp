#pragma once

#include <epoxy/gl.h>

#include "receptor/ImagemCursor.hpp"

namespace orbelo {

// An RGBA picture on the GPU, smoothed when stretched or shrunk.
class TexturaGl {
 public:
  explicit TexturaGl(const ImagemCursor& imagem);
  ~TexturaGl();
  TexturaGl(const TexturaGl&) = delete;
  TexturaGl& operator=(const TexturaGl&) = delete;

  GLuint id() const { return id_; }

 private:
  GLuint id_ = 0;
};

}  // namespace orbelo
