#pragma once

#include <epoxy/gl.h>

#include <utility>

namespace orbelo {

// An OpenGL object name that is deleted with its owner. The GL context that
// created it must be current when it goes.
template <typename Apagar>
class ObjetoGl {
 public:
  ObjetoGl() = default;
  explicit ObjetoGl(GLuint nome) : nome_(nome) {}
  ~ObjetoGl() { soltar(); }
  ObjetoGl(ObjetoGl&& outro) noexcept : nome_(std::exchange(outro.nome_, 0)) {}
  ObjetoGl& operator=(ObjetoGl&& outro) noexcept {
    if (this != &outro) {
      soltar();
      nome_ = std::exchange(outro.nome_, 0);
    }
    return *this;
  }
  ObjetoGl(const ObjetoGl&) = delete;
  ObjetoGl& operator=(const ObjetoGl&) = delete;

  GLuint nome() const { return nome_; }

 private:
  void soltar() {
    if (nome_ != 0) {
      Apagar{}(nome_);
      nome_ = 0;
    }
  }

  GLuint nome_ = 0;
};

struct ApagarTextura {
  void operator()(GLuint nome) const { glDeleteTextures(1, &nome); }
};
struct ApagarFramebuffer {
  void operator()(GLuint nome) const { glDeleteFramebuffers(1, &nome); }
};
struct ApagarVertices {
  void operator()(GLuint nome) const { glDeleteVertexArrays(1, &nome); }
};
struct ApagarPrograma {
  void operator()(GLuint nome) const { glDeleteProgram(nome); }
};
struct ApagarShader {
  void operator()(GLuint nome) const { glDeleteShader(nome); }
};

using Textura = ObjetoGl<ApagarTextura>;
using Framebuffer = ObjetoGl<ApagarFramebuffer>;
using Vertices = ObjetoGl<ApagarVertices>;
using Programa = ObjetoGl<ApagarPrograma>;
using Shader = ObjetoGl<ApagarShader>;

}  // namespace orbelo
