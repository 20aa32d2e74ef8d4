#include "ProgramaYuv.hpp"

namespace orbelo {

namespace {

// The viewport's corners as a strip; texture row 0 is the picture's top row, drawn at the top.
constexpr const char* fonteVertices = R"(#version 330 core
out vec2 posicao;
void main() {
  vec2 canto = vec2(gl_VertexID & 1, gl_VertexID >> 1);
  posicao = vec2(canto.x, 1.0 - canto.y);
  gl_Position = vec4(canto * 2.0 - 1.0, 0.0, 1.0);
}
)";

constexpr const char* fonteFragmentos = R"(#version 330 core
in vec2 posicao;
out vec4 cor;
uniform sampler2D planoY;
uniform sampler2D planoU;
uniform sampler2D planoV;
uniform mat3 matriz;
uniform vec3 deslocamento;
void main() {
  vec3 yuv = vec3(texture(planoY, posicao).r, texture(planoU, posicao).r, texture(planoV, posicao).r);
  cor = vec4(clamp(matriz * (yuv - deslocamento), 0.0, 1.0), 1.0);
}
)";

std::optional<Shader> compilar(GLenum tipo, const char* fonte) {
  Shader shader(glCreateShader(tipo));
  glShaderSource(shader.nome(), 1, &fonte, nullptr);
  glCompileShader(shader.nome());
  GLint certo = GL_FALSE;
  glGetShaderiv(shader.nome(), GL_COMPILE_STATUS, &certo);
  if (certo != GL_TRUE) {
    return std::nullopt;
  }
  return shader;
}

}  // namespace

ProgramaYuv::ProgramaYuv(Programa programa, Vertices vertices)
    : programa(std::move(programa)), vertices(std::move(vertices)) {
  const GLuint nome = this->programa.nome();
  localMatriz = glGetUniformLocation(nome, "matriz");
  localDeslocamento = glGetUniformLocation(nome, "deslocamento");
  glUseProgram(nome);
  glUniform1i(glGetUniformLocation(nome, "planoY"), 0);
  glUniform1i(glGetUniformLocation(nome, "planoU"), 1);
  glUniform1i(glGetUniformLocation(nome, "planoV"), 2);
  glUseProgram(0);
}

std::optional<ProgramaYuv> ProgramaYuv::criar() {
  auto vertices = compilar(GL_VERTEX_SHADER, fonteVertices);
  auto fragmentos = compilar(GL_FRAGMENT_SHADER, fonteFragmentos);
  if (!vertices || !fragmentos) {
    return std::nullopt;
  }
  Programa programa(glCreateProgram());
  glAttachShader(programa.nome(), vertices->nome());
  glAttachShader(programa.nome(), fragmentos->nome());
  glLinkProgram(programa.nome());
  GLint certo = GL_FALSE;
  glGetProgramiv(programa.nome(), GL_LINK_STATUS, &certo);
  if (certo != GL_TRUE) {
    return std::nullopt;
  }
  GLuint arranjo = 0;
  glGenVertexArrays(1, &arranjo);
  return ProgramaYuv(std::move(programa), Vertices(arranjo));
}

void ProgramaYuv::desenhar(CoresQuadro cores) {
  const CoeficientesYuv coeficientes = coeficientesDe(cores);
  glUseProgram(programa.nome());
  glUniformMatrix3fv(localMatriz, 1, GL_TRUE, coeficientes.matriz.data());
  glUniform3fv(localDeslocamento, 1, coeficientes.deslocamento.data());
  glBindVertexArray(vertices.nome());
  glDrawArrays(GL_TRIANGLE_STRIP, 0, 4);
  glBindVertexArray(0);
  glUseProgram(0);
}

}  // namespace orbelo
