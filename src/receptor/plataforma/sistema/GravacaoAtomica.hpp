#pragma once

#include <sys/types.h>

#include <filesystem>
#include <string_view>
#include <system_error>

namespace orbelo {

// Creates the folder and any missing parents with `modo`; a folder already there is fine.
std::error_code criarPastas(const std::filesystem::path& pasta, mode_t modo);

// Replaces `caminho` with `conteudo` through a temporary file in the same folder, so a reader
// sees the old file or the new one, never a mix. The new file gets `modo`.
std::error_code gravarAtomicamente(const std::filesystem::path& caminho, std::string_view conteudo,
                                   mode_t modo);

}  // namespace orbelo
