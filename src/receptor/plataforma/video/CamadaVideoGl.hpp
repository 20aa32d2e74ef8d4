#pragma once

#include <optional>
#include <string>

#include "DecodificadorVideo.hpp"
#include "DesenhoVideo.hpp"
#include "MedicaoQuadros.hpp"
#include "receptor/CamadaVideo.hpp"
#include "receptor/Executor.hpp"
#include "receptor/plataforma/janela/VideoNaJanela.hpp"

namespace orbelo {

// The display layer: samples go to the decoder thread (DecodificadorVideo), the newest
// picture waits in one slot (ImagemMaisNova), and the window draws it with OpenGL
// (DesenhoVideo). Main thread only; made and destroyed with the window's OpenGL
// context current.
class CamadaVideoGl final : public CamadaVideo, public VideoNaJanela {
 public:
  // A new picture wakes the main thread's loop through `principal`.
  explicit CamadaVideoGl(Executor& principal, MedicaoQuadros* medicao = MedicaoQuadros::doProcesso());

  void enfileirar(Amostra amostra) override;
  Status status() const override;
  std::optional<std::string> erro() const override;
  void descarregar() override;
  void descarregarERemoverImagem() override;
  void medirAoVivo(bool ligado) override;
  ResumoVideo resumo() const override;

  bool mudou() const override;
  bool imagemACaminho() const override;
  void desenhar(int largura, int altura) override;
  void apresentado() override;

 private:
  void afirmarNoPrincipal() const;

  Executor& principal;
  MedicaoQuadros* const medicao;
  DecodificadorVideo decodificador;
  DesenhoVideo desenho;
};

}  // namespace orbelo
