#include <gtest/gtest.h>

#include <cstdlib>

#include "apoio/Apoio.hpp"
#include "receptor/plataforma/sistema/InstanciaUnica.hpp"

namespace orbelo {
namespace {

using namespace teste;
namespace fs = std::filesystem;

// What stands at the fallback folder's name before orbelo looks there.
enum class Antes { nada, linkParaPastaNossa, abertaAOutros, deOutroUsuario };

TEST(InstanciaUnica, TheRuntimeFolderIsXdgsWhenAbsoluteElseAPrivateFolderOfOursInTheTemporaryOne) {
  const auto nossa = "orbelo-" + std::to_string(::geteuid());
  const auto definir = [](const char* nome, const char* valor) {
    valor ? ::setenv(nome, valor, 1) : ::unsetenv(nome);
  };
  const std::string temporariaAntes = fs::temp_directory_path();
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  const std::optional<std::string> runtimeAntes =
      runtime ? std::optional<std::string>(runtime) : std::nullopt;
  // The fallback folder is used only when orbelo makes it itself.
  const std::vector<std::pair<const char*, Antes>> casos = {
      {"/run/user/1000", Antes::nada},      {nullptr, Antes::nada},          {"run/user", Antes::nada},
      {nullptr, Antes::linkParaPastaNossa}, {nullptr, Antes::abertaAOutros}, {nullptr, Antes::deOutroUsuario},
  };
  for (const auto& [xdg, antes] : casos) {
    SCOPED_TRACE(std::string(xdg ? xdg : "(unset)") + ", before: " + std::to_string(static_cast<int>(antes)));
    definir("TMPDIR", temporariaAntes.c_str());
    PastaTemporaria temporaria;
    definir("XDG_RUNTIME_DIR", xdg);
    definir("TMPDIR", temporaria.caminho().c_str());
    const auto esperada = xdg && *xdg == '/' ? fs::path(xdg) : temporaria / nossa;
    const fs::path alvo = antes == Antes::linkParaPastaNossa ? temporaria / "alvo" : temporaria / nossa;
    if (antes != Antes::nada) {
      fs::create_directory(alvo);
      fs::permissions(alvo, antes == Antes::abertaAOutros ? fs::perms(0755) : fs::perms::owner_all);
    }
    if (antes == Antes::linkParaPastaNossa) {
      fs::create_directory_symlink(alvo, temporaria / nossa);
    }
    // Giving a folder away needs privileges.
    if (antes == Antes::deOutroUsuario && ::chown(alvo.c_str(), 65534, 65534) != 0) {
      continue;
    }
    const auto pasta = InstanciaUnica::pastaExecucao();
    EXPECT_EQ(pasta, antes == Antes::nada ? std::optional(esperada) : std::nullopt);
    if (pasta == temporaria / nossa) {
      EXPECT_EQ(fs::status(*pasta).permissions(), fs::perms::owner_all);
    }
  }
  definir("XDG_RUNTIME_DIR", runtimeAntes ? runtimeAntes->c_str() : nullptr);
  definir("TMPDIR", temporariaAntes.c_str());
}

// Without a folder to lock in, every start runs.
TEST(InstanciaUnica, AnUnusableFolderGuardsNothing) {
  PastaTemporaria pasta;
  for (const auto& semTrava : {std::optional<fs::path>(), std::optional(pasta / "nao-existe")}) {
    const auto uma = InstanciaUnica::tomar(semTrava);
    EXPECT_TRUE(uma && InstanciaUnica::tomar(semTrava));
  }
}

}  // namespace
}  // namespace orbelo
