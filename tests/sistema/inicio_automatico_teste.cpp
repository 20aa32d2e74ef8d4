#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "apoio/Apoio.hpp"
#include "receptor/plataforma/sistema/InicioAutomaticoXdg.hpp"

namespace orbelo {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using namespace teste;
namespace fs = std::filesystem;

std::string entrada(const std::string& exec) {
  return "[Desktop Entry]\nType=Application\nName=orbelo\nExec=" + exec +
         "\nX-GNOME-Autostart-enabled=true\nTerminal=false\n";
}

// An installed copy under a prefix of its own, a working copy elsewhere, and a
// configuration folder not yet created.
struct Cenario {
  PastaTemporaria pasta;
  fs::path programa = pasta / "prefixo" / "bin" / "orbelo";
  fs::path copiaDeTrabalho = pasta / "build" / "orbelo";
  fs::path configuracao = pasta / "config";
  fs::path arquivo = configuracao / "autostart" / "com.varovia.receptor.desktop";
  std::vector<std::string> linhas;

  Cenario() { escrever(programa, ""), escrever(copiaDeTrabalho, ""); }
  InicioAutomaticoXdg inicio(const fs::path& executavel, const fs::path& instalada) {
    return InicioAutomaticoXdg({executavel, instalada, configuracao},
                               [this](std::string_view linha) { linhas.emplace_back(linha); });
  }
};

TEST(InicioAutomaticoXdg, OnlyTheInstalledProgramWritesItsEntryAndDesligarRemovesItFromAnywhere) {
  Cenario c;
  auto inicio = c.inicio(c.programa, c.programa);
  inicio.ligar();
  EXPECT_TRUE(inicio.existe());
  EXPECT_EQ(conteudo(c.arquivo), entrada(c.programa.string()));

  const auto outro = c.pasta / "outro prefixo" / "bin" / "orbelo";
  escrever(outro, "");
  c.inicio(outro, outro).ligar();
  EXPECT_EQ(conteudo(c.arquivo), entrada("\"" + outro.string() + "\""));
  EXPECT_THAT(nomesEm(c.arquivo.parent_path()), ElementsAre("com.varovia.receptor.desktop"));

  auto trabalho = c.inicio(c.copiaDeTrabalho, c.programa);
  trabalho.desligar();
  EXPECT_FALSE(trabalho.existe());
  trabalho.desligar();
  trabalho.ligar();
  EXPECT_FALSE(fs::exists(c.arquivo)) << "a working copy registered itself";
  EXPECT_THAT(c.linhas, IsEmpty());

  // Only the installed copy counts, whatever links lead to it.
  fs::create_directory_symlink(c.pasta / "prefixo", c.pasta / "ligado");
  EXPECT_TRUE(c.inicio(c.programa, c.pasta / "ligado" / "bin" / "orbelo").instalado());
  EXPECT_FALSE(c.inicio({}, c.programa).instalado());
  EXPECT_FALSE(InicioAutomaticoXdg().instalado());  // this test program is no installed orbelo
}

TEST(InicioAutomaticoXdg, AFolderThatCannotTakeTheEntryPrintsExactlyOneLine) {
  Cenario c;
  fs::create_directories(c.arquivo.parent_path());
  fs::permissions(c.arquivo.parent_path(), fs::perms(0555));
  const auto linhas = semPrivilegios([&](const auto& imprimir) {
    InicioAutomaticoXdg({c.programa, c.programa, c.configuracao}, imprimir).ligar();
  });
  EXPECT_THAT(linhas, ElementsAre("Não consegui ligar o início automático: Permission denied"));
  EXPECT_THAT(nomesEm(c.arquivo.parent_path()), IsEmpty());
}

TEST(InicioAutomaticoXdg, TheExecLineQuotesAndEscapesWhatDesktopEntriesReserve) {
  for (const auto& [programa, linha] : std::vector<std::pair<std::string, std::string>>{
           {"/usr/bin/orbelo", "/usr/bin/orbelo"},
           {"/opt/meu app/orbelo", R"("/opt/meu app/orbelo")"},
           {"/opt/it's/orbelo", R"("/opt/it's/orbelo")"},
           {"/opt/100%/orbelo", "/opt/100%%/orbelo"},
           {"/opt/a$b/c\\d/100%/\"x\"/orbelo", R"("/opt/a\\$b/c\\\\d/100%%/\\"x\\"/orbelo")"},
           {"/opt/a\nb/`orbelo`", R"("/opt/a\nb/\\`orbelo\\`")"}}) {
    EXPECT_EQ(InicioAutomaticoXdg::linhaDeComando(programa), linha);
  }
}

}  // namespace
}  // namespace orbelo
