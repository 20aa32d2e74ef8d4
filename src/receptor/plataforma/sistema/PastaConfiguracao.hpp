#pragma once

#include <filesystem>

namespace orbelo {

// The user's configuration folder: $XDG_CONFIG_HOME when it is an absolute path,
// otherwise ~/.config.
std::filesystem::path pastaConfiguracao();

}  // namespace orbelo
