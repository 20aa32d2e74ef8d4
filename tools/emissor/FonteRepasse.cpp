#include "FonteRepasse.hpp"

#include <algorithm>

#include "protocolo/H264.hpp"

namespace orbelo::emissor {

namespace {

constexpr int fpsPadrao = 30;
// Beyond this a group of pictures is not kept, and a request waits for the file's next key frame.
constexpr std::size_t maximoDesdeKeyframe = std::size_t{64} * 1024 * 1024;

}  // namespace

FonteRepasse::FonteRepasse(Entrada entrada, FiltroPtr filtro, int quadrosPorSegundo)
    : entrada(std::move(entrada)),
      filtro(std::move(filtro)),
      pacote(av_packet_alloc()),
      quadrosPorSegundo(quadrosPorSegundo) {}

std::variant<std::unique_ptr<FonteVideo>, std::string> FonteRepasse::abrir(
    Entrada entrada, std::optional<int> quadrosPorSegundo) {
  const AVBitStreamFilter* anexoB = av_bsf_get_by_name("h264_mp4toannexb");
  AVBSFContext* bruto = nullptr;
  if (anexoB == nullptr || av_bsf_alloc(anexoB, &bruto) < 0) {
    return std::string("filtro h264_mp4toannexb indisponível");
  }
  FiltroPtr filtro(bruto);
  avcodec_parameters_copy(filtro->par_in, entrada.fluxo().codecpar);
  filtro->time_base_in = entrada.fluxo().time_base;
  if (int erro = av_bsf_init(filtro.get()); erro < 0) {
    return textoErroFfmpeg(erro);
  }
  int fps = std::clamp(quadrosPorSegundo.value_or(entrada.quadrosPorSegundo().value_or(fpsPadrao)), 1, 240);
  auto fonte = std::make_unique<FonteRepasse>(std::move(entrada), std::move(filtro), fps);

  // Parameter sets come from the container's header or, for raw streams, the first frames.
  const AVCodecParameters& saida = *fonte->filtro->par_out;
  const VistaBytes extras(saida.extradata, static_cast<std::size_t>(std::max(saida.extradata_size, 0)));
  H264::atualizarParametros(H264::dividirAnexoB(extras), fonte->parametros_);
  if (!fonte->parametros_) {
    auto primeiro = fonte->lerKeyframe();
    if (auto* erro = std::get_if<std::string>(&primeiro)) {
      return *erro;
    }
  }
  if (!fonte->parametros_) {
    return std::string("sem SPS/PPS");
  }
  return fonte;
}

Tamanho FonteRepasse::tamanho() const {
  return {entrada.fluxo().codecpar->width, entrada.fluxo().codecpar->height};
}

std::chrono::nanoseconds FonteRepasse::intervalo() const {
  return std::chrono::nanoseconds(std::chrono::seconds(1)) / quadrosPorSegundo;
}

std::variant<QuadroCodificado, std::string> FonteRepasse::lerQuadro() {
  // Two ends of the file in a row without a single frame mean there is nothing to send.
  for (int fins = 0; fins < 2;) {
    int erro = av_bsf_receive_packet(filtro.get(), pacote.get());
    if (erro == 0) {
      auto unidades = H264::dividirAnexoB(VistaBytes(pacote->data, static_cast<std::size_t>(pacote->size)));
      H264::atualizarParametros(unidades, parametros_);
      bool keyframe = std::any_of(unidades.begin(), unidades.end(),
                                  [](VistaBytes u) { return H264::tipo(u) == H264::tipoIdr; });
      QuadroCodificado quadro{H264::prefixarComprimentos(unidades), keyframe};
      av_packet_unref(pacote.get());
      if (!quadro.unidades.empty()) {
        return quadro;
      }
      continue;
    }
    if (erro != AVERROR(EAGAIN)) {
      return textoErroFfmpeg(erro);
    }
    erro = entrada.ler(*pacote);
    if (erro == AVERROR_EOF) {
      ++fins;
      ++finsSemKeyframe;
      if (auto falha = entrada.recomecar()) {
        return *falha;
      }
      av_bsf_flush(filtro.get());
      continue;
    }
    if (erro < 0) {
      return textoErroFfmpeg(erro);
    }
    erro = av_bsf_send_packet(filtro.get(), pacote.get());
    av_packet_unref(pacote.get());
    if (erro < 0) {
      return textoErroFfmpeg(erro);
    }
  }
  return std::string("nenhum quadro H.264 no arquivo");
}

std::variant<QuadroCodificado, std::string> FonteRepasse::lerKeyframe() {
  finsSemKeyframe = 0;
  while (true) {
    auto lido = lerQuadro();
    if (std::holds_alternative<std::string>(lido) || std::get<QuadroCodificado>(lido).keyframe) {
      if (std::holds_alternative<QuadroCodificado>(lido)) {
        guardar(std::get<QuadroCodificado>(lido));
      }
      return lido;
    }
    // A whole pass over the file without a key frame: none will come.
    if (finsSemKeyframe >= 2) {
      return std::string("nenhum quadro-chave no arquivo");
    }
  }
}

void FonteRepasse::guardar(const QuadroCodificado& quadro) {
  if (quadro.keyframe) {
    desdeKeyframe.clear();
    bytesDesdeKeyframe = 0;
  } else if (desdeKeyframe.empty()) {
    return;
  }
  bytesDesdeKeyframe += quadro.unidades.size();
  if (bytesDesdeKeyframe > maximoDesdeKeyframe) {
    desdeKeyframe.clear();
    return;
  }
  desdeKeyframe.push_back(quadro);
}

Lote FonteRepasse::proximos(bool keyframe) {
  Lote lote;
  if (keyframe && !desdeKeyframe.empty()) {
    lote.quadros = desdeKeyframe;
    return lote;
  }
  auto lido = keyframe ? lerKeyframe() : lerQuadro();
  if (auto* erro = std::get_if<std::string>(&lido)) {
    lote.erro = *erro;
    return lote;
  }
  auto& quadro = std::get<QuadroCodificado>(lido);
  if (!keyframe) {
    guardar(quadro);
  }
  lote.quadros.push_back(std::move(quadro));
  return lote;
}

}  // namespace orbelo::emissor
