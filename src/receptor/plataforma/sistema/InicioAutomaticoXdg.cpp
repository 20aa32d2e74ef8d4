#include "InicioAutomaticoXdg.hpp"

#include <unistd.h>

#include <system_error>
#include <utility>

#include "GravacaoAtomica.hpp"
#include "PastaConfiguracao.hpp"
#include "protocolo/Saida.hpp"

namespace orbelo {
namespace {

constexpr std::string_view nomeArquivo = "com.varovia.receptor.desktop";

std::filesystem::path canonico(const std::filesystem::path& caminho) {
  std::error_code erro;
  auto resultado = std::filesystem::weakly_canonical(caminho, erro);
  return erro ? caminho : resultado;
}

}  // namespace

InicioAutomaticoXdg::Locais InicioAutomaticoXdg::locaisPadrao() {
  std::error_code erro;
  auto executavel = std::filesystem::read_symlink("/proc/self/exe", erro);
  return {erro ? std::filesystem::path() : std::move(executavel), ORBELO_COPIA_INSTALADA,
          pastaConfiguracao()};
}

InicioAutomaticoXdg::InicioAutomaticoXdg(Locais locais, Impressora imprimir)
    : locais(std::move(locais)), imprimir(imprimir ? std::move(imprimir) : Impressora(imprimirLinha)) {}

bool InicioAutomaticoXdg::instalado() const {
  return !locais.executavel.empty() && canonico(locais.executavel) == canonico(locais.copiaInstalada);
}

std::filesystem::path InicioAutomaticoXdg::arquivo() const {
  return locais.pastaConfiguracao / "autostart" / nomeArquivo;
}

bool InicioAutomaticoXdg::existe() const {
  std::error_code erro;
  return std::filesystem::exists(arquivo(), erro);
}

std::string InicioAutomaticoXdg::linhaDeComando(const std::filesystem::path& programa) {
  // First the argument quoting of the Exec key, then the escapes of any string value.
  constexpr std::string_view reservados = " \t\n\"'\\><~|&;$*?#()`";
  const std::string texto = programa.string();
  std::string argumento;
  if (texto.find_first_of(reservados) == std::string::npos) {
    argumento = texto;
  } else {
    argumento = "\"";
    for (const char c : texto) {
      if (c == '"' || c == '`' || c == '$' || c == '\\') {
        argumento += '\\';
      }
      argumento += c;
    }
    argumento += '"';
  }
  std::string valor;
  for (const char c : argumento) {
    switch (c) {
      case '%':
        valor += "%%";
        break;
      case '\\':
        valor += "\\\\";
        break;
      case '\n':
        valor += "\\n";
        break;
      case '\t':
        valor += "\\t";
        break;
      case '\r':
        valor += "\\r";
        break;
      default:
        valor += c;
    }
  }
  return valor;
}

void InicioAutomaticoXdg::ligar() {
  if (!instalado()) {
    return;
  }
  const std::string conteudo =
      "[Desktop Entry]\n"
      "Type=Application\n"
      "Name=orbelo\n"
      "Exec=" +
      linhaDeComando(locais.executavel) +
      "\n"
      "X-GNOME-Autostart-enabled=true\n"
      "Terminal=false\n";
  const auto destino = arquivo();
  auto erro = criarPastas(destino.parent_path(), 0700);
  if (!erro) {
    erro = gravarAtomicamente(destino, conteudo, 0644);
  }
  if (erro) {
    imprimir("Não consegui ligar o início automático: " + erro.message());
  }
}

void InicioAutomaticoXdg::desligar() {
  ::unlink(arquivo().c_str());
}

}  // namespace orbelo
