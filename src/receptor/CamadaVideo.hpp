#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "protocolo/Protocolo.hpp"

namespace orbelo {

// The stream's two parameter sets; frames carry NAL units with 4-byte lengths.
struct FormatoVideo {
  Bytes sps;
  Bytes pps;

  bool operator==(const FormatoVideo&) const = default;
};

// One frame, shown as soon as it is decoded.
struct Amostra {
  std::shared_ptr<const FormatoVideo> formato;
  // The `quadro` payload as it came: the key-frame flag, then the access unit. The flag
  // stays in front rather than be cut off, which would move every byte after it.
  Bytes payload;
  // When its last byte came off the network: the start of the video path's timing trace.
  std::chrono::steady_clock::time_point chegada{};

  // The access unit: NAL units behind 4-byte lengths.
  VistaBytes unidades() const { return payload.empty() ? VistaBytes{} : VistaBytes(payload).subspan(1); }
};

// The video path over the last few seconds, for the statistics overlay.
struct ResumoVideo {
  double quadrosMostradosPorSegundo = 0;
  std::optional<double> decodificacaoP50Ms;
  std::optional<double> chegadaATelaP50Ms;
  std::optional<double> chegadaATelaP99Ms;
  std::int64_t pulados = 0;  // decoded, then replaced by a newer picture before it was shown
  std::string conversao;     // how pictures become pixels on screen

  bool operator==(const ResumoVideo&) const = default;
};

// Decodes and shows samples; used on the main thread only.
class CamadaVideo {
 public:
  enum class Status { normal, falhou };

  virtual ~CamadaVideo() = default;
  virtual void enfileirar(Amostra amostra) = 0;
  virtual Status status() const = 0;
  virtual std::optional<std::string> erro() const = 0;
  // Drops queued samples and clears the failed state; the last picture stays.
  virtual void descarregar() = 0;
  // Drops queued samples and clears the screen.
  virtual void descarregarERemoverImagem() = 0;
  // Live measuring costs a little per frame, so it runs only while someone looks at it.
  virtual void medirAoVivo(bool ligado) = 0;
  virtual ResumoVideo resumo() const = 0;
};

}  // namespace orbelo
