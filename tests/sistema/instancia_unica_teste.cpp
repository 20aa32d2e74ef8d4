#include <gtest/gtest.h>

#include <cstdlib>

#include "apoio/Apoio.hpp"
#include "receptor/plataforma/sistema/InstanciaUnica.hpp"

namespace orbelo {
namespace {

using namespace teste;
namespace fs = std::filesystem;

// Sets a variable for one test, or unsets it (null), and puts back what was there.
class Variavel {
 public:
  Variavel(const char* nome, const char* valor) : nome(nome) {
    if (const char* atual = std::getenv(nome)) {
      antes = atual;
    }
    valor ? ::setenv(nome, valor, 1) : ::unsetenv(nome);
  }
  ~Variavel() { antes ? ::setenv(nome, antes->c_str(), 1) : ::unsetenv(nome); }

 private:
  const char* nome;
  std::optional<std::string> antes;
};

// What stands at the fallback folder's name before orbelo looks there.
enum class Antes { nada, linkParaPastaNossa, abertaAOutros, deOutroUsuario };

// False when this row cannot be made here (giving a folder away needs privileges).
bool preparar(Antes antes, const fs::path& pasta) {
  if (antes == Antes::nada) {
    return true;
  }
  const fs::path alvo = antes == Antes::linkParaPastaNossa ? fs::path(pasta.string() + "-alvo") : pasta;
  fs::create_directory(alvo);
  fs::permissions(alvo, antes == Antes::abertaAOutros ? fs::perms(0755) : fs::perms::owner_all);
  if (antes == Antes::linkParaPastaNossa) {
    fs::create_directory_symlink(alvo, pasta);
  }
  return antes != Antes::deOutroUsuario || ::chown(pasta.c_str(), 65534, 65534) == 0;
}

TEST(InstanciaUnica, TheRuntimeFolderIsXdgsWhenAbsoluteElseAPrivateFolderOfOursInTheTemporaryOne) {
  const auto nossa = "orbelo-" + std::to_string(::geteuid());
  const std::vector<std::tuple<const char*, Antes, bool>> casos = {
      {"/run/user/1000", Antes::nada, true},
      {nullptr, Antes::nada, true},
      {"run/user", Antes::nada, true},
      {"", Antes::nada, true},
      {nullptr, Antes::linkParaPastaNossa, false},
      {nullptr, Antes::abertaAOutros, false},
      {nullptr, Antes::deOutroUsuario, false},
  };
  for (const auto& [xdg, antes, usavel] : casos) {
    SCOPED_TRACE(std::string(xdg ? xdg : "(unset)") + ", before: " + std::to_string(static_cast<int>(antes)));
    PastaTemporaria temporaria;
    const Variavel runtime("XDG_RUNTIME_DIR", xdg), tmpdir("TMPDIR", temporaria.caminho().c_str());
    const auto esperada = xdg && *xdg == '/' ? fs::path(xdg) : temporaria / nossa;
    if (!preparar(antes, temporaria / nossa)) {
      continue;
    }
    const auto pasta = InstanciaUnica::pastaExecucao();
    EXPECT_EQ(pasta, usavel ? std::optional(esperada) : std::nullopt);
    if (pasta == temporaria / nossa) {
      EXPECT_EQ(fs::status(*pasta).permissions(), fs::perms::owner_all);
    }
  }
}

TEST(InstanciaUnica, ALaterStartFindsTheLockTakenUntilTheFirstEndsAndAnUnusableFolderGuardsNothing) {
  PastaTemporaria pasta;
  auto primeira = InstanciaUnica::tomar(pasta.caminho());
  ASSERT_TRUE(primeira);
  EXPECT_FALSE(InstanciaUnica::tomar(pasta.caminho()));
  EXPECT_FALSE(InstanciaUnica::tomar(pasta.caminho())) << "a knock is no takeover";
  primeira.reset();
  EXPECT_TRUE(InstanciaUnica::tomar(pasta.caminho())) << "the lock ends with its holder";

  for (const auto& semTrava : {std::optional<fs::path>(), std::optional(pasta / "nao-existe")}) {
    const auto uma = InstanciaUnica::tomar(semTrava);
    EXPECT_TRUE(uma && InstanciaUnica::tomar(semTrava));
  }
}

}  // namespace
}  // namespace orbelo
