#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <stop_token>
#include <string>
#include <thread>

#include "AnelAmostras.hpp"
#include "DecodificadorH264.hpp"
#include "ImagemMaisNova.hpp"
#include "MedicaoQuadros.hpp"
#include "receptor/CamadaVideo.hpp"

namespace orbelo {

// The display layer's decoder thread: samples queued by the layer are decoded in
// order on a thread of its own; the newest picture waits in one slot for the
// screen. Safe from any thread.
class DecodificadorVideo {
 public:
  // How far the decoder may fall behind before the layer reports failure, so
  // that the receiver drops the backlog and asks for a key frame.
  static constexpr std::size_t limiteAmostras = 120;
  static constexpr std::size_t limiteBytes = 64 * 1024 * 1024;

  // `aoMudarImagem` runs on the decoder thread when a picture starts waiting in
  // the empty slot; it should only wake the screen. Decoding times go to
  // `medicao` when there is one.
  explicit DecodificadorVideo(std::function<void()> aoMudarImagem,
                              MedicaoQuadros* medicao = MedicaoQuadros::doProcesso());
  ~DecodificadorVideo();
  DecodificadorVideo(const DecodificadorVideo&) = delete;
  DecodificadorVideo& operator=(const DecodificadorVideo&) = delete;

  // As CamadaVideo has them.
  void enfileirar(Amostra amostra);
  CamadaVideo::Status status() const;
  std::optional<std::string> erro() const;
  void descarregar();
  void descarregarERemoverImagem();

  // For the screen: the newest picture, if one waits, moves into `destino`; its
  // pts is the number of the sample it came from, counted from 0.
  ImagemMaisNova::Novidade tomarImagem(AVFrame& destino);
  // Whether `tomarImagem` would report a change.
  bool mudou() const;
  // Whether a sample is queued or being decoded, so that a picture may be moments away.
  bool imagemACaminho() const;

 private:
  void trabalhar(const std::stop_token& parar);
  void decodificar(const Amostra& amostra, std::uint64_t geracao);
  void publicar(std::uint64_t geracao);
  void falhar(std::uint64_t geracao, std::string texto);

  const std::function<void()> aoMudarImagem;
  MedicaoQuadros* const medicao;

  // Guarded by `trava`. Each flush starts a new `geracao`; results of a sample
  // from an earlier one (decoding while the flush happened) are thrown away.
  mutable std::mutex trava;
  std::condition_variable_any haTrabalho;
  AnelAmostras amostras{limiteAmostras, limiteBytes};
  std::uint64_t geracao = 0;
  bool falhou = false;
  bool decodificando = false;
  std::string textoErro;
  ImagemMaisNova imagem;

  // Only on the decoder thread.
  DecodificadorH264 h264;
  Imagem decodificada;
  std::uint64_t geracaoDecodificada = 0;
  std::uint64_t proximoNumero = 0;

  std::jthread linha;
};

}  // namespace orbelo
