#include "OpcoesReceptor.hpp"

#include <algorithm>
#include <charconv>
#include <limits>
#include <vector>

#include "protocolo/Pareamento.hpp"

namespace orbelo {
namespace {

constexpr std::string_view textoPortaInvalida = "Porta inválida";
constexpr std::string_view textoTelaInvalida = "Use --tela 1920x1080";
constexpr std::string_view textoCodigoCurto = "O código precisa ter pelo menos 6 caracteres.";
constexpr std::string_view textoOpcaoDesconhecida = "Opção desconhecida: ";

// Decimal with an optional sign, ASCII digits only; none when it does not fit 64 bits.
std::optional<std::int64_t> lerInteiro(std::string_view texto) {
  bool negativo = false;
  if (!texto.empty() && (texto.front() == '+' || texto.front() == '-')) {
    negativo = texto.front() == '-';
    texto.remove_prefix(1);
  }
  if (texto.empty() ||
      !std::all_of(texto.begin(), texto.end(), [](char c) { return c >= '0' && c <= '9'; })) {
    return std::nullopt;
  }
  std::uint64_t magnitude = 0;
  if (std::from_chars(texto.data(), texto.data() + texto.size(), magnitude).ec != std::errc{}) {
    return std::nullopt;
  }
  constexpr auto maximo = static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max());
  if (magnitude > maximo + (negativo ? 1 : 0)) {
    return std::nullopt;
  }
  return negativo ? static_cast<std::int64_t>(0 - magnitude) : static_cast<std::int64_t>(magnitude);
}

// "-" is accepted only in front of zero, as an unsigned reading does.
std::optional<std::uint16_t> lerPorta(std::string_view texto) {
  const auto valor = lerInteiro(texto);
  if (!valor || *valor < 0 || *valor > std::numeric_limits<std::uint16_t>::max()) {
    return std::nullopt;
  }
  return static_cast<std::uint16_t>(*valor);
}

// Pieces between "x" that are no number are passed over; exactly two numbers must remain,
// each one the screen message can carry.
std::optional<TamanhoTela> lerTela(std::string_view texto) {
  std::vector<std::int64_t> numeros;
  std::size_t inicio = 0;
  while (inicio <= texto.size()) {
    const auto fim = std::min(texto.find('x', inicio), texto.size());
    if (const auto numero = lerInteiro(texto.substr(inicio, fim - inicio))) {
      numeros.push_back(*numero);
    }
    inicio = fim + 1;
  }
  if (numeros.size() != 2) {
    return std::nullopt;
  }
  constexpr std::int64_t maximo = std::numeric_limits<std::uint32_t>::max();
  for (const auto numero : numeros) {
    if (numero < 0 || numero > maximo) {
      return std::nullopt;
    }
  }
  return TamanhoTela{numeros[0], numeros[1]};
}

SaidaAntecipada erro(std::string_view texto) {
  return {std::string(texto), 1};
}

}  // namespace

const std::string& OpcoesReceptor::ajuda() {
  static const std::string texto =
      "Uso: orbelo [opções]\n"
      "  --codigo XXXXXX  código de pareamento que o Velaro mostra no MacBook\n"
      "                   (sem ele, usa o último que funcionou ou pergunta na tela)\n"
      "  --host IP        conecta direto nesse IP em vez de procurar via Bonjour\n"
      "  --porta N        porta TCP (padrão " +
      std::to_string(Protocolo::portaPadrao) +
      ")\n"
      "  --janela         abre em janela comum em vez de tela cheia (bom para testar)\n"
      "  --tela LxA       informa este tamanho de tela ao MacBook (para testar com --janela)\n"
      "\n"
      "Esc fecha.";
  return texto;
}

std::variant<OpcoesReceptor, SaidaAntecipada> OpcoesReceptor::ler(
    std::span<const std::string_view> argumentos) {
  OpcoesReceptor opcoes;
  std::size_t i = 1;
  while (i < argumentos.size()) {
    const auto argumento = argumentos[i];
    const auto valor = i + 1 < argumentos.size() ? std::optional(argumentos[i + 1]) : std::nullopt;
    if (argumento == "--host") {
      if (!valor) {
        // A trailing --host withdraws any earlier one.
        opcoes.host.reset();
        break;
      }
      opcoes.host = std::string(*valor);
      i += 2;
    } else if (argumento == "--porta") {
      const auto porta = valor ? lerPorta(*valor) : std::nullopt;
      if (!porta) {
        return erro(textoPortaInvalida);
      }
      opcoes.porta = *porta;
      i += 2;
    } else if (argumento == "--janela") {
      opcoes.janela = true;
      i += 1;
    } else if (argumento == "--tela") {
      const auto tela = lerTela(valor.value_or(""));
      if (!tela) {
        return erro(textoTelaInvalida);
      }
      opcoes.tela = tela;
      i += 2;
    } else if (argumento == "--codigo") {
      auto codigo = valor ? Pareamento::normalizar(*valor) : std::nullopt;
      if (!codigo) {
        return erro(textoCodigoCurto);
      }
      opcoes.codigo = std::move(codigo);
      i += 2;
    } else if (argumento == "-h" || argumento == "--ajuda" || argumento == "--help") {
      return SaidaAntecipada{ajuda(), 0};
    } else if (argumento.starts_with("-psn_")) {
      // The process serial number some launchers add.
      i += 1;
    } else {
      return SaidaAntecipada{
          std::string(textoOpcaoDesconhecida).append(argumento).append("\n\n").append(ajuda()), 1};
    }
  }
  return opcoes;
}

}  // namespace orbelo
