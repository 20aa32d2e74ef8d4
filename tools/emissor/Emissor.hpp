#pragma once

#include <optional>
#include <string>

#include "Fonte.hpp"
#include "Opcoes.hpp"
#include "Sessao.hpp"

namespace orbelo::emissor {

// The sending loop: for each receiver, the stream's opening messages, then frames
// at the source's pace, pointer positions at 60 Hz and a ping every second.
class Emissor {
 public:
  Emissor(FonteVideo& fonte, Sessao& sessao, Bytes imagemSeta, std::optional<Falha> falha);

  // Runs while the source lasts; returns why it stopped.
  std::string executar();

 private:
  struct Estado;
  // Serves one receiver until it leaves or is replaced; the source's error, if any.
  std::optional<std::string> servir(Cliente& cliente);
  // False when this receiver gets nothing more.
  bool enviarQuadros(Cliente& cliente, Estado& estado, const std::vector<QuadroCodificado>& quadros);
  bool injetarFalha(Cliente& cliente, Estado& estado);

  FonteVideo& fonte;
  Sessao& sessao;
  const Bytes imagemSeta;
  const std::optional<Falha> falha;
};

}  // namespace orbelo::emissor
