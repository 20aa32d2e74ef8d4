#include "ProgramaYuv.hpp"

namespace orbelo {

namespace {

// A strip of four vertices made from their index: no vertex buffer needed.
// Texture row 0 is the picture's top row, so v runs downward.
constexpr const char* fonteVertices = R"(#version 330 core
out vec2 coordenada;
void main() {
  vec2 posicao = vec2(float(gl_VertexID & 1), float((gl_VertexID >> 1) & 1)) * 2.0 - 1.0;
  coordenada = vec2(posicao.x + 1.0, 1.0 - posicao.y) * 0.5;
  gl_Position = vec4(posicao, 0.0, 1.0);
}
)";

constexpr const char* fonteFragmentos = R"(#version 330 core
in vec2 coordenada;
out vec4 cor;
uniform sampler2D planoY;
uniform sampler2D planoU;
uniform sampler2D planoV;
uniform mat3 matriz;
uniform vec3 deslocamento;
void main() {
  vec3 yuv = vec3(texture(planoY, coordenada).r, texture(planoU, coordenada).r, texture(planoV, coordenada).r);
  cor = vec4(clamp(matriz * (yuv + deslocamento), 0.0, 1.0), 1.0);
}
)";

std::optional<Shader> compilar(GLenum tipo, const char* fonte) {
  Shader shader(glCreateShader(tipo));
  glShaderSource(shader.nome(), 1, &fonte, nullptr);
  glCompileShader(shader.nome());
  GLint compilado = GL_FALSE;
  glGetShaderiv(shader.nome(), GL_COMPILE_STATUS, &compilado);
  if (compilado != GL_TRUE) {
    return std::nullopt;
  }
  return shader;
}

}  // namespace

std::optional<ProgramaYuv> ProgramaYuv::criar() {
  const auto vertices = compilar(GL_VERTEX_SHADER, fonteVertices);
  const auto fragmentos = compilar(GL_FRAGMENT_SHADER, fonteFragmentos);
  if (!vertices || !fragmentos) {
    return std::nullopt;
  }
  Programa programa(glCreateProgram());
  glAttachShader(programa.nome(), vertices->nome());
  glAttachShader(programa.nome(), fragmentos->nome());
  glLinkProgram(programa.nome());
  GLint ligado = GL_FALSE;
  glGetProgramiv(programa.nome(), GL_LINK_STATUS, &ligado);
  if (ligado != GL_TRUE) {
    return std::nullopt;
  }
  return ProgramaYuv(std::move(programa));
}

ProgramaYuv::ProgramaYuv(Programa ligado)
    : programa(std::move(ligado)),
      localMatriz(glGetUniformLocation(this->programa.nome(), "matriz")),
      localDeslocamento(glGetUniformLocation(this->programa.nome(), "deslocamento")) {
  GLint anterior = 0;
  glGetIntegerv(GL_CURRENT_PROGRAM, &anterior);
  glUseProgram(this->programa.nome());
  glUniform1i(glGetUniformLocation(this->programa.nome(), "planoY"), 0);
  glUniform1i(glGetUniformLocation(this->programa.nome(), "planoU"), 1);
  glUniform1i(glGetUniformLocation(this->programa.nome(), "planoV"), 2);
  glUseProgram(static_cast<GLuint>(anterior));
}

void ProgramaYuv::usar(const ConversaoCor& conversao) const {
  glUseProgram(programa.nome());
  glUniformMatrix3fv(localMatriz, 1, GL_TRUE, conversao.matriz.data());
  glUniform3fv(localDeslocamento, 1, conversao.deslocamento.data());
}

}  // namespace orbelo
