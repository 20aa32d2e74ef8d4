#include "Opcoes.hpp"

#include <arpa/inet.h>

#include <algorithm>
#include <array>
#include <charconv>

#include "protocolo/Pareamento.hpp"
#include "protocolo/Protocolo.hpp"

namespace orbelo::emissor {

const std::string_view textoUso =
    "Uso: orbelo-emissor [--codigo CÓDIGO] [--porta N] [--escutar ENDEREÇO] [--sem-anuncio] "
    "[--tamanho LxA] [--fps N] [--arquivo CAMINHO | --x11 :N] "
    "[--falha-comprimento N | --falha-fechar N | --falha-lixo N | --falha-parametros N | "
    "--falha-registro N]";

namespace {

constexpr int ladoMinimo = 16;
constexpr int ladoMaximo = 8192;
constexpr int fpsMaximo = 240;

template <typename T>
std::optional<T> lerNumero(std::string_view texto) {
  T valor{};
  auto [fim, erro] = std::from_chars(texto.data(), texto.data() + texto.size(), valor);
  if (texto.empty() || erro != std::errc{} || fim != texto.data() + texto.size()) {
    return std::nullopt;
  }
  return valor;
}

// x264 with 4:2:0 chroma needs even sides.
std::optional<Tamanho> lerTamanho(std::string_view texto) {
  auto x = texto.find('x');
  if (x == std::string_view::npos) {
    return std::nullopt;
  }
  auto largura = lerNumero<int>(texto.substr(0, x));
  auto altura = lerNumero<int>(texto.substr(x + 1));
  auto valido = [](std::optional<int> lado) {
    return lado && *lado >= ladoMinimo && *lado <= ladoMaximo && *lado % 2 == 0;
  };
  if (!valido(largura) || !valido(altura)) {
    return std::nullopt;
  }
  return Tamanho{*largura, *altura};
}

bool enderecoNumerico(const std::string& texto) {
  in6_addr v6{};
  in_addr v4{};
  return inet_pton(AF_INET, texto.c_str(), &v4) == 1 || inet_pton(AF_INET6, texto.c_str(), &v6) == 1;
}

std::optional<Falha::Tipo> tipoFalha(std::string_view opcao) {
  constexpr std::array<std::pair<std::string_view, Falha::Tipo>, 6> opcoes{{
      {"--falha-comprimento", Falha::Tipo::comprimento},
      {"--falha-fechar", Falha::Tipo::fechar},
      {"--falha-lixo", Falha::Tipo::lixo},
      {"--falha-parametros", Falha::Tipo::parametros},
      {"--falha-registro", Falha::Tipo::registro},
  }};
  const auto achada = std::ranges::find(opcoes, opcao, &std::pair<std::string_view, Falha::Tipo>::first);
  return achada == opcoes.end() ? std::nullopt : std::optional(achada->second);
}

}  // namespace

LeituraOpcoes lerOpcoes(std::span<const std::string_view> argumentos) {
  OpcoesEmissor opcoes;
  bool tamanhoDado = false;
  for (std::size_t i = 0; i < argumentos.size(); ++i) {
    std::string_view opcao = argumentos[i];
    if (opcao == "--ajuda" || opcao == "-h") {
      return PedidoAjuda{};
    }
    if (opcao == "--sem-anuncio") {
      opcoes.anunciar = false;
      continue;
    }
    auto falha = tipoFalha(opcao);
    bool conhecida = falha || opcao == "--codigo" || opcao == "--porta" || opcao == "--escutar" ||
                     opcao == "--tamanho" || opcao == "--fps" || opcao == "--arquivo" || opcao == "--x11";
    if (!conhecida) {
      return ErroOpcoes{"Opção desconhecida: " + std::string(opcao) + "."};
    }
    if (i + 1 == argumentos.size()) {
      return ErroOpcoes{"Falta o valor de " + std::string(opcao) + "."};
    }
    std::string_view valor = argumentos[++i];
    auto invalido = [&] {
      return ErroOpcoes{"Valor inválido para " + std::string(opcao) + ": " + std::string(valor) + "."};
    };

    if (falha) {
      auto depoisDe = lerNumero<std::uint64_t>(valor);
      if (!depoisDe) {
        return invalido();
      }
      if (opcoes.falha) {
        return ErroOpcoes{"Use só uma opção de falha."};
      }
      opcoes.falha = Falha{*falha, *depoisDe};
    } else if (opcao == "--codigo") {
      opcoes.codigo = Pareamento::normalizar(valor);
      if (!opcoes.codigo) {
        return ErroOpcoes{"Código de pareamento inválido: precisa de pelo menos 6 caracteres."};
      }
    } else if (opcao == "--porta") {
      auto porta = lerNumero<std::uint16_t>(valor);
      if (!porta) {
        return invalido();
      }
      opcoes.porta = *porta;
    } else if (opcao == "--escutar") {
      opcoes.escutar = std::string(valor);
      if (!enderecoNumerico(opcoes.escutar)) {
        return invalido();
      }
    } else if (opcao == "--tamanho") {
      auto tamanho = lerTamanho(valor);
      if (!tamanho) {
        return invalido();
      }
      opcoes.tamanho = *tamanho;
      tamanhoDado = true;
    } else if (opcao == "--fps") {
      auto fps = lerNumero<int>(valor);
      if (!fps || *fps < 1 || *fps > fpsMaximo) {
        return invalido();
      }
      opcoes.quadrosPorSegundo = *fps;
    } else if (opcao == "--arquivo") {
      if (valor.empty()) {
        return invalido();
      }
      opcoes.arquivo = std::string(valor);
    } else if (opcao == "--x11") {
      if (valor.empty()) {
        return invalido();
      }
      opcoes.x11 = std::string(valor);
    }
  }
  if (opcoes.arquivo && opcoes.x11) {
    return ErroOpcoes{"Use só uma fonte: --arquivo ou --x11."};
  }
  if (tamanhoDado && (opcoes.arquivo || opcoes.x11)) {
    return ErroOpcoes{"--tamanho vale só para o padrão de teste."};
  }
  return opcoes;
}

}  // namespace orbelo::emissor
