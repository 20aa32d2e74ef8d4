#include "Cursor.hpp"

#include <array>
#include <cmath>

#include "receptor/plataforma/video/RecursosFfmpeg.hpp"

namespace orbelo::emissor::Cursor {

namespace {

struct Ponto {
  double x;
  double y;
};

// The arrow's outline in pixels of the 24x24 image.
constexpr std::array<Ponto, 7> contorno{{{1, 1}, {1, 18}, {5, 14}, {8, 21}, {11, 20}, {8, 13}, {13, 13}}};

bool dentro(double x, double y) {
  bool resultado = false;
  for (std::size_t i = 0, j = contorno.size() - 1; i < contorno.size(); j = i++) {
    const auto& a = contorno[i];
    const auto& b = contorno[j];
    if ((a.y > y) != (b.y > y) && x < (b.x - a.x) * (y - a.y) / (b.y - a.y) + a.x) {
      resultado = !resultado;
    }
  }
  return resultado;
}

bool pixelDentro(int x, int y) {
  return x >= 0 && y >= 0 && x < ladoSeta && y < ladoSeta && dentro(x + 0.5, y + 0.5);
}

bool vizinhoDentro(int x, int y) {
  for (int dy = -1; dy <= 1; ++dy) {
    for (int dx = -1; dx <= 1; ++dx) {
      if (pixelDentro(x + dx, y + dy)) {
        return true;
      }
    }
  }
  return false;
}

}  // namespace

std::optional<Bytes> desenharSeta() {
  const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_PNG);
  if (codec == nullptr) {
    return std::nullopt;
  }
  ContextoCodec contexto(avcodec_alloc_context3(codec));
  contexto->width = ladoSeta;
  contexto->height = ladoSeta;
  contexto->pix_fmt = AV_PIX_FMT_RGBA;
  contexto->time_base = AVRational{1, 1};
  Imagem imagem(av_frame_alloc());
  imagem->format = AV_PIX_FMT_RGBA;
  imagem->width = ladoSeta;
  imagem->height = ladoSeta;
  if (avcodec_open2(contexto.get(), codec, nullptr) < 0 || av_frame_get_buffer(imagem.get(), 0) < 0) {
    return std::nullopt;
  }
  for (int y = 0; y < ladoSeta; ++y) {
    for (int x = 0; x < ladoSeta; ++x) {
      std::uint8_t* pixel = imagem->data[0] + static_cast<std::ptrdiff_t>(y) * imagem->linesize[0] + x * 4;
      std::uint8_t cor = pixelDentro(x, y) ? 0 : 255;
      std::uint8_t alfa = pixelDentro(x, y) || vizinhoDentro(x, y) ? 255 : 0;
      pixel[0] = pixel[1] = pixel[2] = cor;
      pixel[3] = alfa;
    }
  }
  Pacote pacote(av_packet_alloc());
  if (avcodec_send_frame(contexto.get(), imagem.get()) < 0 ||
      avcodec_receive_packet(contexto.get(), pacote.get()) < 0) {
    return std::nullopt;
  }
  return Bytes(pacote->data, pacote->data + pacote->size);
}

FormaCursor formaSeta(Tamanho imagem) {
  return {static_cast<float>(ladoSeta) / static_cast<float>(imagem.largura),
          static_cast<float>(ladoSeta) / static_cast<float>(imagem.altura), 0.0F, 0.0F};
}

PosicaoCursor posicao(std::chrono::duration<double> decorrido) {
  // Two slow sines of different periods trace a figure that covers the middle of the picture.
  double t = decorrido.count();
  return {static_cast<float>(0.5 + 0.35 * std::sin(t * 0.9)),
          static_cast<float>(0.5 + 0.3 * std::sin(t * 1.3))};
}

}  // namespace orbelo::emissor::Cursor
