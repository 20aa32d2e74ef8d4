#pragma once

#include <string_view>

namespace orbelo {

// Where a picture becomes RGB. A software rasterizer runs a shader pixel by pixel on the
// CPU, slower than swscale's SIMD converter plus a plain copy; a GPU converts for free
// and is fed a third of the bytes.
enum class Conversao { cpu, gpu };

// By the renderer's name (GL_RENDERER), unless `forcada` (ORBELO_CONVERSAO) says "cpu" or
// "gpu"; any other value is ignored.
Conversao escolherConversao(std::string_view renderizador, std::string_view forcada);

// The same for the OpenGL context current now and the process's environment.
Conversao conversaoDoContexto();

}  // namespace orbelo
