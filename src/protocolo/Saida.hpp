#pragma once

#include <functional>
#include <string>
#include <string_view>

namespace orbelo {

// Where a part prints its lines; standard output unless a test says otherwise.
using Impressora = std::function<void(std::string_view linha)>;

// Writes the text and a line feed to standard output in one call, so that lines
// printed from two threads never interleave.
void imprimirLinha(std::string_view linha);

// Fixed-point text that ignores the process locale: the separator is always ".".
std::string decimal(double valor, int casas);

}  // namespace orbelo
