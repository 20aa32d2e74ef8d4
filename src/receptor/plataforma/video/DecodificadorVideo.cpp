#include "DecodificadorVideo.hpp"

extern "C" {
#include <libavutil/log.h>
#include <libavutil/pixdesc.h>
}

#include "FormatosImagem.hpp"

namespace orbelo {

DecodificadorVideo::DecodificadorVideo(std::function<void()> aoMudarImagem, MedicaoQuadros* medicao)
    : aoMudarImagem(std::move(aoMudarImagem)), medicao(medicao), decodificada(av_frame_alloc()) {
  // libavcodec reports every damaged slice on standard error; the failure reaches
  // the receiver through status() and erro() instead.
  av_log_set_level(AV_LOG_QUIET);
  linha = std::jthread([this](const std::stop_token& parar) { trabalhar(parar); });
}

DecodificadorVideo::~DecodificadorVideo() {
  linha.request_stop();
  linha.join();
}

void DecodificadorVideo::enfileirar(Amostra amostra) {
  {
    std::lock_guard guarda(trava);
    // A failed layer decodes nothing until flushed: later frames depend on the broken one.
    if (falhou) {
      return;
    }
    if (!amostras.colocar(amostra)) {
      falhou = true;
      textoErro = textoErroFfmpeg(AVERROR(ENOBUFS));
      return;
    }
  }
  haTrabalho.notify_one();
}

CamadaVideo::Status DecodificadorVideo::status() const {
  std::lock_guard guarda(trava);
  return falhou ? CamadaVideo::Status::falhou : CamadaVideo::Status::normal;
}

std::optional<std::string> DecodificadorVideo::erro() const {
  std::lock_guard guarda(trava);
  if (!falhou) {
    return std::nullopt;
  }
  return textoErro;
}

void DecodificadorVideo::descarregar() {
  std::lock_guard guarda(trava);
  amostras.esvaziar();
  ++geracao;
  falhou = false;
  textoErro.clear();
}

void DecodificadorVideo::descarregarERemoverImagem() {
  descarregar();
  // Nothing of the new generation is queued yet, so no picture can slip in between.
  std::lock_guard guarda(trava);
  imagem.remover();
}

ImagemMaisNova::Novidade DecodificadorVideo::tomarImagem(AVFrame& destino) {
  std::lock_guard guarda(trava);
  return imagem.tomar(destino);
}

bool DecodificadorVideo::imagemACaminho() const {
  std::lock_guard guarda(trava);
  return !falhou && (decodificando || !amostras.vazia());
}

bool DecodificadorVideo::mudou() const {
  std::lock_guard guarda(trava);
  return imagem.mudou();
}

void DecodificadorVideo::trabalhar(const std::stop_token& parar) {
  while (true) {
    std::optional<Amostra> amostra;
    std::uint64_t geracaoAmostra = 0;
    {
      std::unique_lock guarda(trava);
      // The wait reports true on a stop request while work is left; a stop still wins.
      if (!haTrabalho.wait(guarda, parar, [this] { return !amostras.vazia() && !falhou; }) ||
          parar.stop_requested()) {
        return;
      }
      amostra = amostras.tirar();
      geracaoAmostra = geracao;
      decodificando = true;
    }
    if (geracaoAmostra != geracaoDecodificada) {
      h264.descarregar();
      geracaoDecodificada = geracaoAmostra;
    }
    decodificar(*amostra, geracaoAmostra);
    std::lock_guard guarda(trava);
    decodificando = false;
  }
}

void DecodificadorVideo::decodificar(const Amostra& amostra, std::uint64_t geracaoAmostra) {
  const std::uint64_t numero = proximoNumero++;
  const bool medir = medicao && medicao->ligada();
  const auto inicio = medir ? std::chrono::steady_clock::now() : MedicaoQuadros::Instante{};
  int resultado = h264.prepararPara(amostra.formato);
  if (resultado == 0) {
    resultado = h264.enviar(amostra.unidades(), static_cast<std::int64_t>(numero));
  }
  while (resultado == 0) {
    resultado = h264.receber(*decodificada);
    if (resultado != 0) {
      break;
    }
    if (medir) {
      medicao->decodificado(numero, amostra.chegada, inicio, std::chrono::steady_clock::now());
    }
    if (!formatoDesenhavel(decodificada->format)) {
      const char* nome = av_get_pix_fmt_name(static_cast<AVPixelFormat>(decodificada->format));
      falhar(geracaoAmostra, std::string("formato de imagem não suportado (") + (nome ? nome : "?") + ")");
      av_frame_unref(decodificada.get());
      return;
    }
    publicar(geracaoAmostra);
  }
  if (resultado != AVERROR(EAGAIN)) {
    falhar(geracaoAmostra, textoErroFfmpeg(resultado));
  }
}

void DecodificadorVideo::publicar(std::uint64_t geracaoAmostra) {
  bool acordar = false;
  {
    std::lock_guard guarda(trava);
    if (geracaoAmostra == geracao) {
      acordar = imagem.colocar(*decodificada);
    }
  }
  av_frame_unref(decodificada.get());
  if (acordar && aoMudarImagem) {
    aoMudarImagem();
  }
}

void DecodificadorVideo::falhar(std::uint64_t geracaoAmostra, std::string texto) {
  std::lock_guard guarda(trava);
  if (geracaoAmostra == geracao && !falhou) {
    falhou = true;
    textoErro = std::move(texto);
  }
}

}  // namespace orbelo
