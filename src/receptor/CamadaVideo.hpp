#pragma once

#include <chrono>
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
};

}  // namespace orbelo
