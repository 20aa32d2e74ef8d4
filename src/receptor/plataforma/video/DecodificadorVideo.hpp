#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <stop_token>
#include <string>
#include <thread>

#include "DecodificadorH264.hpp"
#include "FilaAmostras.hpp"
#include "ImagemMaisNova.hpp"
#include "MedicaoQuadros.hpp"
#include "receptor/CamadaVideo.hpp"

namespace orbelo {

// The display layer's decoding half: samples queued on the main thread are
// decoded in order on a thread of its own; the newest picture waits in one
// slot for the screen (DesenhoVideo).
class DecodificadorVideo final : public CamadaVideo {
 public:
  // How far the decoder may fall behind before the layer reports failure, so
  // that the receiver drops the backlog and asks for a key frame.
  static constexpr std::size_t limiteAmostras = 120;
  static constexpr std::size_t limiteBytes = 64 * 1024 * 1024;

  // `aoMudarImagem` runs when the screen has something new to show: on the
  // decoder thread when a picture starts waiting in the slot, and on the caller's
  // thread when the picture is removed. It should only wake the screen's loop.
  // Decoding times go to `medicao` when there is one.
  explicit DecodificadorVideo(std::function<void()> aoMudarImagem,
                              MedicaoQuadros* medicao = MedicaoQuadros::doProcesso());
  ~DecodificadorVideo() override;
  DecodificadorVideo(const DecodificadorVideo&) = delete;
  DecodificadorVideo& operator=(const DecodificadorVideo&) = delete;

  void enfileirar(Amostra amostra) override;
  Status status() const override;
  std::optional<std::string> erro() const override;
  void descarregar() override;
  void descarregarERemoverImagem() override;

  // For the screen: the newest picture, if one waits, moves into `destino`; its
  // pts is the number of the sample it came from, counted from 0.
  ImagemMaisNova::Novidade tomarImagem(AVFrame& destino);
  // Whether a sample is queued or being decoded, so that a picture may be moments away.
  bool imagemACaminho() const;
  // Pictures decoded, and pictures replaced in the slot before the screen took them.
  std::uint64_t decodificadas() const;
  std::uint64_t puladas() const;

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
  FilaAmostras fila{limiteAmostras, limiteBytes};
  std::uint64_t geracao = 0;
  bool falhou = false;
  bool decodificando = false;
  std::string textoErro;
  ImagemMaisNova imagem;
  std::uint64_t decodificadas_ = 0;

  // Only on the decoder thread.
  DecodificadorH264 h264;
  Quadro quadro;
  std::uint64_t geracaoDecodificada = 0;
  std::uint64_t proximoNumero = 0;

  std::jthread linha;
};

}  // namespace orbelo
