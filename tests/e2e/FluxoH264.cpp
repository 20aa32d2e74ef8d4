#include "FluxoH264.hpp"

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace orbelo::e2e {

namespace {

constexpr int nalIdr = 5;
constexpr int nalSps = 7;
constexpr int nalPps = 8;
constexpr int nalDelimitador = 9;

std::vector<VistaBytes> unidadesNal(VistaBytes fluxo) {
  std::vector<VistaBytes> unidades;
  std::size_t inicio = 0;
  bool dentro = false;
  auto fechar = [&](std::size_t fim) {
    while (fim > inicio && fluxo[fim - 1] == 0) --fim;
    if (dentro && fim > inicio) unidades.push_back(fluxo.subspan(inicio, fim - inicio));
  };
  for (std::size_t i = 0; i + 3 <= fluxo.size(); ++i) {
    if (fluxo[i] == 0 && fluxo[i + 1] == 0 && fluxo[i + 2] == 1) {
      fechar(i);
      inicio = i + 3;
      dentro = true;
      i += 2;
    }
  }
  fechar(fluxo.size());
  return unidades;
}

int tipoNal(VistaBytes unidade) {
  return unidade[0] & 0x1F;
}

// first_mb_in_slice is 0, coded as the single bit 1, exactly on a picture's first slice.
bool comecaImagem(VistaBytes unidade) {
  return unidade.size() > 1 && (unidade[1] & 0x80) != 0;
}

void anexarRegistro(Bytes& destino, VistaBytes unidade) {
  anexarBE(destino, static_cast<std::uint16_t>(unidade.size()));
  destino.insert(destino.end(), unidade.begin(), unidade.end());
}

Bytes lerArquivo(const std::filesystem::path& caminho) {
  std::ifstream arquivo(caminho, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(arquivo), {});
}

void ffmpeg(const std::string& argumentos) {
  if (std::system(("ffmpeg -nostdin -loglevel error -y " + argumentos).c_str()) != 0) {
    throw std::runtime_error("ffmpeg " + argumentos);
  }
}

}  // namespace

FluxoH264 separarAnexoB(VistaBytes anexoB) {
  FluxoH264 fluxo;
  Bytes sps, pps, quadro;
  bool temFatia = false, chave = false;
  auto fecharQuadro = [&] {
    if (!temFatia) return;
    quadro.insert(quadro.begin(), chave ? 1 : 0);
    fluxo.quadros.push_back(std::move(quadro));
    quadro.clear();
    temFatia = chave = false;
  };
  for (auto unidade : unidadesNal(anexoB)) {
    const int tipo = tipoNal(unidade);
    if (tipo == nalSps || tipo == nalPps) {
      if ((tipo == nalSps ? sps : pps).empty())
        (tipo == nalSps ? sps : pps).assign(unidade.begin(), unidade.end());
      continue;
    }
    if (tipo == nalDelimitador) continue;
    const bool fatia = tipo >= 1 && tipo <= nalIdr;
    if (fatia && comecaImagem(unidade)) fecharQuadro();
    if (!fatia && temFatia) fecharQuadro();
    anexarBE(quadro, static_cast<std::uint32_t>(unidade.size()));
    quadro.insert(quadro.end(), unidade.begin(), unidade.end());
    temFatia = temFatia || fatia;
    chave = chave || tipo == nalIdr;
  }
  fecharQuadro();
  anexarRegistro(fluxo.parametros, sps);
  anexarRegistro(fluxo.parametros, pps);
  return fluxo;
}

FluxoH264 codificar(const std::string& filtro, int quadros, const PastaTemporaria& pasta) {
  const auto saida = pasta / "fluxo.h264";
  ffmpeg("-filter_complex '" + filtro +
         ",scale=out_color_matrix=bt709:out_range=tv,format=yuv420p' -frames:v " + std::to_string(quadros) +
         " -c:v libx264 -threads 1 -bf 0 -colorspace bt709 -color_primaries bt709 -color_trc bt709"
         " -color_range tv -f h264 '" +
         saida.string() + "'");
  return separarAnexoB(lerArquivo(saida));
}

Bytes pngLiso(const std::string& cor, int lado, const PastaTemporaria& pasta) {
  const auto saida = pasta / "liso.png";
  ffmpeg("-f lavfi -i color=c=" + cor + ":s=" + std::to_string(lado) + "x" + std::to_string(lado) +
         " -frames:v 1 -pix_fmt rgb24 '" + saida.string() + "'");
  return lerArquivo(saida);
}

namespace Mensagem {

Bytes config(std::uint32_t largura, std::uint32_t altura) {
  Bytes payload;
  anexarBE(payload, largura);
  anexarBE(payload, altura);
  return Protocolo::empacotar(TipoMensagem::config, payload);
}

Bytes parametros(const FluxoH264& fluxo) {
  return Protocolo::empacotar(TipoMensagem::parametros, fluxo.parametros);
}

Bytes quadro(const Bytes& payload) {
  return Protocolo::empacotar(TipoMensagem::quadro, payload);
}

Bytes abertura(std::uint32_t largura, std::uint32_t altura, const FluxoH264& fluxo) {
  Bytes mensagens = config(largura, altura);
  const auto anexar = [&mensagens](const Bytes& mensagem) {
    mensagens.insert(mensagens.end(), mensagem.begin(), mensagem.end());
  };
  anexar(parametros(fluxo));
  for (const auto& payload : fluxo.quadros) anexar(quadro(payload));
  return mensagens;
}

Bytes imagemCursor(float largura, float altura, float pontaX, float pontaY, const Bytes& imagem) {
  Bytes payload;
  for (float valor : {largura, altura, pontaX, pontaY}) anexarBE(payload, valor);
  payload.insert(payload.end(), imagem.begin(), imagem.end());
  return Protocolo::empacotar(TipoMensagem::imagemCursor, payload);
}

Bytes cursor(float x, float y, bool visivel) {
  Bytes payload;
  anexarBE(payload, x);
  anexarBE(payload, y);
  payload.push_back(visivel ? 1 : 0);
  return Protocolo::empacotar(TipoMensagem::cursor, payload);
}

}  // namespace Mensagem

}  // namespace orbelo::e2e
