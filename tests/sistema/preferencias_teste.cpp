#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fstream>
#include <nlohmann/json.hpp>
#include <thread>

#include "apoio/Apoio.hpp"
#include "receptor/plataforma/sistema/PreferenciasArquivo.hpp"

namespace orbelo {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using namespace teste;
namespace fs = std::filesystem;
using Json = nlohmann::json;
using namespace std::string_literals;

// Preferences in a folder of their own, with the lines they print.
struct Cenario {
  PastaTemporaria pasta;
  fs::path caminho = pasta / "config" / "orbelo" / "preferencias.json";
  std::vector<std::string> linhas;

  PreferenciasArquivo abrir() {
    return PreferenciasArquivo(caminho, [this](std::string_view linha) { linhas.emplace_back(linha); });
  }
  Json noDisco() const { return Json::parse(conteudo(caminho)); }
  unsigned modo(const fs::path& alvo) const { return static_cast<unsigned>(fs::status(alvo).permissions()); }
};

TEST(PreferenciasArquivo, ValuesSurviveIntoTheNextRunInAFileOnlyTheOwnerCanRead) {
  Cenario c;
  {
    auto preferencias = c.abrir();
    EXPECT_EQ(preferencias.texto("codigo"), std::nullopt);
    preferencias.gravarTexto("codigo", "123456");
    preferencias.gravarBooleano("inicioConfigurado", true);
    preferencias.gravarTexto("codigo", "ção 1");
    preferencias.remover("nunca-houve");
  }
  const auto preferencias = c.abrir();
  EXPECT_EQ(preferencias.texto("codigo"), "ção 1");
  EXPECT_TRUE(preferencias.booleano("inicioConfigurado"));
  EXPECT_EQ(c.noDisco(), (Json{{"codigo", "ção 1"}, {"inicioConfigurado", true}}));
  EXPECT_EQ(c.modo(c.caminho.parent_path()), 0700u);
  EXPECT_EQ(c.modo(c.caminho.parent_path().parent_path()), 0700u);
  EXPECT_THAT(c.linhas, IsEmpty());
}

TEST(PreferenciasArquivo, AnIllegibleFileIsSaidOnceReadAsEmptyAndReplacedByTheNextSave) {
  for (const std::string& ruim :
       {""s, "{\"codigo\": \"123"s, "codigo=123456"s, "[\"123456\"]"s, "null"s, "{\"a\": \"\xFF\"}"s,
        "{\"codigo\": \"" + std::string(2'000'000, '1') + "\"}"}) {
    Cenario c;
    escrever(c.caminho, ruim);
    fs::permissions(c.caminho, fs::perms(0644));
    auto preferencias = c.abrir();
    EXPECT_EQ(preferencias.texto("codigo"), std::nullopt) << ruim.substr(0, 40);
    EXPECT_THAT(c.linhas,
                ElementsAre("Preferências ilegíveis em " + c.caminho.string() + "; começando do zero."))
        << ruim.substr(0, 40);
    preferencias.gravarTexto("host", "10.0.0.7");
    EXPECT_EQ(c.noDisco(), (Json{{"host", "10.0.0.7"}}));
    EXPECT_EQ(c.modo(c.caminho), 0600u);
  }
}

TEST(PreferenciasArquivo, AValueOfTheWrongTypeReadsAsAbsentAndTheOthersRemain) {
  Cenario c;
  escrever(c.caminho, R"({"codigo": 123456, "host": "10.0.0.1", "inicioConfigurado": "true", "x": )" +
                          std::string(100'000, '[') + std::string(100'000, ']') + "}");
  auto preferencias = c.abrir();
  EXPECT_EQ(preferencias.texto("codigo"), std::nullopt);
  EXPECT_EQ(preferencias.texto("host"), "10.0.0.1");
  EXPECT_FALSE(preferencias.booleano("inicioConfigurado"));
  preferencias.gravarBooleano("inicioConfigurado", true);
  EXPECT_EQ(c.noDisco(), (Json{{"host", "10.0.0.1"}, {"inicioConfigurado", true}}));
  // Bytes that are not UTF-8 cannot go into JSON as they are; they must not stop the save.
  preferencias.gravarTexto("host", "caf\xE9");
  EXPECT_EQ(c.abrir().texto("host"), "caf\uFFFD");
  EXPECT_THAT(c.linhas, IsEmpty());
}

TEST(PreferenciasArquivo, AFileThatCannotBeReplacedCostsOneLineAndLeavesWhatWasThere) {
  Cenario c;  // a read-only folder
  const std::string antigo = R"({"codigo": "111111"})";
  escrever(c.caminho, antigo);
  fs::permissions(c.caminho, fs::perms(0644));
  fs::permissions(c.caminho.parent_path(), fs::perms(0555));
  const auto linhas = semPrivilegios([&](const auto& imprimir) {
    PreferenciasArquivo preferencias(c.caminho, imprimir);
    preferencias.gravarTexto("codigo", "222222");
    if (preferencias.texto("codigo") != "222222") {
      imprimir("this run lost the value it could not save");
    }
  });
  EXPECT_THAT(linhas, ElementsAre("Não consegui gravar as preferências: Permission denied"));
  EXPECT_EQ(conteudo(c.caminho), antigo);
}

TEST(PreferenciasArquivo, SavesFromTwoThreadsReplaceTheFileWholeAndLoseNothing) {
  Cenario c;
  auto preferencias = c.abrir();
  preferencias.gravarTexto("codigo", "111111");
  const std::string antes = conteudo(c.caminho);
  std::ifstream aberto(c.caminho, std::ios::binary);

  auto gravarVarias = [&](const std::string& preferencia) {
    for (int i = 0; i < 40; ++i) {
      preferencias.gravarTexto(preferencia, std::string(5000, 'a') + std::to_string(i));
    }
  };
  std::thread outra(gravarVarias, "host");
  gravarVarias("codigo");
  outra.join();

  // A reader that opened the file before the saves still reads it whole.
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(aberto), {}), antes);
  const auto ultimo = std::string(5000, 'a') + "39";
  EXPECT_EQ(c.noDisco(), (Json{{"codigo", ultimo}, {"host", ultimo}}));
  EXPECT_THAT(c.linhas, IsEmpty());
}

}  // namespace
}  // namespace orbelo
