#include "PastaConfiguracao.hpp"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <vector>

namespace orbelo {
namespace {

std::filesystem::path pastaPessoal() {
  if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0') {
    return home;
  }
  std::vector<char> espaco(16384);
  passwd registro{};
  passwd* encontrado = nullptr;
  if (getpwuid_r(getuid(), &registro, espaco.data(), espaco.size(), &encontrado) == 0 &&
      encontrado != nullptr && encontrado->pw_dir != nullptr) {
    return encontrado->pw_dir;
  }
  return {};
}

}  // namespace

std::filesystem::path pastaConfiguracao() {
  // Relative values are to be ignored, as the base-directory convention says.
  if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg != nullptr && *xdg == '/') {
    return xdg;
  }
  return pastaPessoal() / ".config";
}

}  // namespace orbelo
