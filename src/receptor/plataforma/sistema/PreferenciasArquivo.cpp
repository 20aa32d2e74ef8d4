#include "PreferenciasArquivo.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

#include "GravacaoAtomica.hpp"
#include "PastaConfiguracao.hpp"
#include "protocolo/Saida.hpp"

namespace orbelo {
namespace {

// Far more than three short values; a larger file is not ours and is not read into memory.
constexpr std::size_t tamanhoMaximo = std::size_t{1024} * 1024;

enum class Leitura { lido, ausente, ilegivel };

Leitura lerArquivo(const std::filesystem::path& caminho, std::string& conteudo) {
  const int fd = ::open(caminho.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    return errno == ENOENT ? Leitura::ausente : Leitura::ilegivel;
  }
  char bloco[8192];
  auto resultado = Leitura::lido;
  while (true) {
    const auto lidos = ::read(fd, bloco, sizeof bloco);
    if (lidos < 0 && errno == EINTR) {
      continue;
    }
    if (lidos < 0 || conteudo.size() + static_cast<std::size_t>(lidos) > tamanhoMaximo) {
      resultado = Leitura::ilegivel;
      break;
    }
    if (lidos == 0) {
      break;
    }
    conteudo.append(bloco, static_cast<std::size_t>(lidos));
  }
  ::close(fd);
  return resultado;
}

}  // namespace

std::filesystem::path PreferenciasArquivo::caminhoPadrao() {
  return pastaConfiguracao() / "orbelo" / "preferencias.json";
}

PreferenciasArquivo::PreferenciasArquivo(std::filesystem::path caminho, Impressora imprimir)
    : caminho(std::move(caminho)), imprimir(imprimir ? std::move(imprimir) : Impressora(imprimirLinha)) {
  carregar();
}

void PreferenciasArquivo::carregar() {
  valores = nlohmann::json::object();
  std::string conteudo;
  const auto leitura = lerArquivo(caminho, conteudo);
  if (leitura == Leitura::ausente) {
    return;
  }
  auto lido = leitura == Leitura::lido ? nlohmann::json::parse(conteudo, nullptr, false) : nlohmann::json();
  if (!lido.is_object()) {
    imprimir("Preferências ilegíveis em " + caminho.string() + "; começando do zero.");
    return;
  }
  // Only texts and Booleans are ours; anything else under a key reads as absent.
  for (auto& [preferencia, valor] : lido.items()) {
    if (valor.is_string() || valor.is_boolean()) {
      valores[preferencia] = std::move(valor);
    }
  }
}

std::optional<std::string> PreferenciasArquivo::texto(std::string_view preferencia) const {
  const std::lock_guard guarda(trava);
  const auto valor = valores.find(preferencia);
  if (valor == valores.end() || !valor->is_string()) {
    return std::nullopt;
  }
  return valor->get<std::string>();
}

bool PreferenciasArquivo::booleano(std::string_view preferencia) const {
  const std::lock_guard guarda(trava);
  const auto valor = valores.find(preferencia);
  return valor != valores.end() && valor->is_boolean() && valor->get<bool>();
}

void PreferenciasArquivo::gravarTexto(std::string_view preferencia, const std::string& valor) {
  const std::lock_guard guarda(trava);
  valores[std::string(preferencia)] = valor;
  gravar();
}

void PreferenciasArquivo::gravarBooleano(std::string_view preferencia, bool valor) {
  const std::lock_guard guarda(trava);
  valores[std::string(preferencia)] = valor;
  gravar();
}

void PreferenciasArquivo::remover(std::string_view preferencia) {
  const std::lock_guard guarda(trava);
  valores.erase(std::string(preferencia));
  gravar();
}

void PreferenciasArquivo::gravar() {
  // Bytes that are not UTF-8 (a host typed in another encoding) are stored replaced, never refused.
  const auto conteudo = valores.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
  auto erro = criarPastas(caminho.parent_path(), 0700);
  if (!erro) {
    erro = gravarAtomicamente(caminho, conteudo, 0600);
  }
  if (erro) {
    imprimir("Não consegui gravar as preferências: " + erro.message());
  }
}

}  // namespace orbelo
