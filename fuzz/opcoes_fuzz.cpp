// The command-line parser on arbitrary arguments (separated by NUL bytes in the input).
// Whatever it accepts it must accept again when written back as plain options, with the
// same result; whatever it refuses it refuses with one of its own messages. The code is
// left out of the rewrite: dropping blanks can join characters, so normalising twice
// may legitimately differ.

#include <cstdlib>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "receptor/OpcoesReceptor.hpp"

namespace {

using namespace orbelo;

void exigir(bool condicao) {
  if (!condicao) {
    std::abort();
  }
}

std::vector<std::string_view> argumentosDe(std::string_view texto) {
  std::vector<std::string_view> argumentos{"orbelo"};
  while (!texto.empty()) {
    const auto fim = std::min(texto.find('\0'), texto.size());
    argumentos.push_back(texto.substr(0, fim));
    texto.remove_prefix(std::min(fim + 1, texto.size()));
  }
  return argumentos;
}

bool mesmas(const OpcoesReceptor& a, const OpcoesReceptor& b) {
  return a.host == b.host && a.porta == b.porta && a.janela == b.janela &&
         a.tela.has_value() == b.tela.has_value() &&
         (!a.tela || (a.tela->largura == b.tela->largura && a.tela->altura == b.tela->altura));
}

void conferirRecusa(const SaidaAntecipada& saida) {
  if (saida.status == 0) {
    exigir(saida.texto == OpcoesReceptor::ajuda());
    return;
  }
  exigir(saida.status == 1);
  exigir(saida.texto == "Porta inválida" || saida.texto == "Use --tela 1920x1080" ||
         saida.texto == "O código precisa ter pelo menos 6 caracteres." ||
         (saida.texto.starts_with("Opção desconhecida: ") &&
          saida.texto.ends_with("\n\n" + OpcoesReceptor::ajuda())));
}

void conferirAceitas(const OpcoesReceptor& opcoes) {
  if (opcoes.codigo) {
    exigir(opcoes.codigo->size() >= 6);
  }
  if (opcoes.tela) {
    exigir(opcoes.tela->largura >= 0 && opcoes.tela->largura <= 0xFFFFFFFFll);
    exigir(opcoes.tela->altura >= 0 && opcoes.tela->altura <= 0xFFFFFFFFll);
  }

  std::vector<std::string> escritas{"orbelo", "--porta", std::to_string(opcoes.porta)};
  if (opcoes.janela) {
    escritas.emplace_back("--janela");
  }
  if (opcoes.tela) {
    escritas.insert(escritas.end(), {"--tela", std::to_string(opcoes.tela->largura) + "x" +
                                                   std::to_string(opcoes.tela->altura)});
  }
  if (opcoes.host) {
    escritas.insert(escritas.end(), {"--host", *opcoes.host});
  }
  const std::vector<std::string_view> vistas(escritas.begin(), escritas.end());
  const auto relida = OpcoesReceptor::ler(vistas);
  const auto* outra = std::get_if<OpcoesReceptor>(&relida);
  exigir(outra && mesmas(opcoes, *outra));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* dados, std::size_t tamanho) {
  const auto argumentos = argumentosDe({reinterpret_cast<const char*>(dados), tamanho});
  const auto lido = OpcoesReceptor::ler(argumentos);
  if (const auto* saida = std::get_if<SaidaAntecipada>(&lido)) {
    conferirRecusa(*saida);
  } else {
    conferirAceitas(std::get<OpcoesReceptor>(lido));
  }
  return 0;
}
