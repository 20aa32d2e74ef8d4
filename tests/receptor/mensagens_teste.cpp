#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>

#include "Bancada.hpp"
#include "protocolo/Mensagens.hpp"
#include "protocolo/Saida.hpp"

namespace orbelo::teste {
namespace {

Bytes config(std::uint32_t largura, std::uint32_t altura) {
  return Mensagens::Config{largura, altura}.empacotar();
}
Bytes cursor(float x, float y, bool visivel = true) {
  return Mensagens::Cursor{x, y, visivel}.empacotar();
}
Bytes imagem(float largura, float altura, float pontaX, float pontaY, const Bytes& arquivo = {'I'}) {
  return Mensagens::ImagemCursor{{largura, altura, pontaX, pontaY}, arquivo}.empacotar();
}
const Bytes config1080 = mensagem(TipoMensagem::config, {0, 0, 7, 0x80, 0, 0, 4, 0x38});

TEST(Mensagens, SeveralInOneChunkAreHandledInOrderAndACorruptLengthEndsTheConnection) {
  Bancada b;
  b.discar();
  b.linhas.clear();
  b.receber(config1080 + mensagem(TipoMensagem::ping) + mensagem(TipoMensagem::ping, {0xAB, 0xCD}) +
            mensagem(TipoMensagem::config, {0, 0, 0, 1, 0, 0, 0}));
  EXPECT_EQ(b.linhas, std::vector<std::string>{"Emissor em 1920x1080."});
  EXPECT_EQ(b.conexao().enviados, (std::vector<Bytes>{{0, 0, 0, 1, 9}, {0, 0, 0, 3, 9, 0xAB, 0xCD}}));

  // A corrupt length drops the whole chunk, the ping before it too, and ends the connection.
  const auto antiga = b.transporte.conexoes.back();
  const auto tardio = antiga->aoReceber;
  b.receber(mensagem(TipoMensagem::ping) + Bytes{0, 0, 0, 0});
  EXPECT_EQ(b.linhas.back(), "Dados inválidos do emissor: fluxo de dados corrompido.");
  EXPECT_EQ(antiga->enviados.size(), 2u);
  b.agenda.rodar(1s);
  ASSERT_EQ(b.transporte.conexoes.size(), 2u);
  // The replaced connection's late data and states are ignored: no pong, no line, no refusal.
  const auto linhas = b.linhas;
  tardio(mensagem(TipoMensagem::ping), true, std::nullopt);
  antiga->mudar(EstadoConexao::falhou, erroTls);
  b.agenda.rodar();
  EXPECT_EQ(b.linhas, linhas);
  EXPECT_TRUE(b.conexao().enviados.empty());
}

TEST(Mensagens, FramesWaitForParameterSetsAndAKeyFrameOnEachConnectionAndAfterADecoderFailure) {
  Bancada b;
  b.discar();
  b.linhas.clear();
  b.receber(quadro(1) + mensagem(TipoMensagem::parametros, parametrosBons) + quadro(0) + quadro(2));
  EXPECT_TRUE(b.camada.enfileiradas.empty());
  EXPECT_FALSE(b.tela.avisoOculto);
  b.receber(quadro(1) + quadro(0) + mensagem(TipoMensagem::quadro, {1}));
  ASSERT_EQ(b.camada.enfileiradas.size(), 2u);
  EXPECT_TRUE(std::ranges::equal(b.camada.enfileiradas[0].unidades(), Bytes{0, 0, 0, 1, 0x65}));
  EXPECT_TRUE(*b.camada.enfileiradas[0].formato == (FormatoVideo{{0x67, 0x42, 0, 0x1F}, {0x68, 0xCE}}));
  EXPECT_TRUE(b.tela.avisoOculto && b.tela.textoAviso.empty());

  // The same sets again, between two frames, change nothing: the format stays the very same.
  b.receber(mensagem(TipoMensagem::parametros, parametrosBons) + quadro(0));
  ASSERT_EQ(b.camada.enfileiradas.size(), 3u);
  EXPECT_EQ(b.camada.enfileiradas[2].formato, b.camada.enfileiradas[0].formato);
  EXPECT_TRUE(b.linhas.empty()) << "nothing said since the first sets";

  // Bad sets take the format away until good ones come: malformed, an SPS too short for its level,
  // no SPS then PPS, or sets the decoder refuses.
  for (const Bytes& ruins : std::vector<Bytes>{{0, 2, 0x67},
                                               {0, 3, 0x67, 0x42, 0, 0, 1, 0x68},
                                               {0, 4, 0x68, 0x42, 0, 0x1F, 0, 1, 0x68},
                                               {0, 4, 0x67, 0x42, 0, 0x1F, 0, 1, 0x67},
                                               {0, 4, 0x67, 0x42, 0, 0x1F, 0, 0},
                                               {0, 4, 0x67, 0x42, 0, 0xFF, 0, 2, 0x68, 0xCE}}) {
    b.linhas.clear();
    b.receber(mensagem(TipoMensagem::parametros, ruins) + quadro(1));
    EXPECT_EQ(b.linhas, std::vector<std::string>{"SPS/PPS inválidos."});
    EXPECT_EQ(b.camada.enfileiradas.size(), 3u);
  }

  // A frame arriving with the end of the stream is shown before reconnecting.
  b.iniciarImagem(true);
  EXPECT_EQ(b.camada.enfileiradas.size(), 4u);
  EXPECT_EQ(b.linhas.back(), "Conexão encerrada pelo emissor.");
  b.agenda.rodar(1s);

  // The next connection starts again without sets and waits for a key frame: of these, only the last.
  b.mudar(EstadoConexao::pronta);
  b.receber(quadro(1) + mensagem(TipoMensagem::parametros, parametrosBons) + quadro(0) + quadro(1));
  EXPECT_EQ(b.camada.enfileiradas.size(), 5u);

  // A failed decoder, even one that cannot say why, is reported and flushed.
  b.camada.estado = CamadaVideo::Status::falhou;
  b.receber(quadro(0));
  EXPECT_EQ(b.camada.enfileiradas.size(), 5u);
  EXPECT_EQ(b.camada.descargas, 1);
  EXPECT_EQ(b.linhas.back(), "Erro de decodificação: ?. Pedindo keyframe.");

  // The gate is closed again: only a key frame reaches the healthy layer.
  b.receber(quadro(0) + quadro(1));
  EXPECT_EQ(b.camada.enfileiradas.size(), 6u);
}

TEST(Exibicao, TheReportCarriesHalfTheFramesCappedAndOnlyWhileEstablished) {
  Bancada b;
  b.discar(false);
  b.iniciarImagem();
  const auto quadros = [&](int quantos) {
    for (int i = 0; i < quantos; ++i) {
      b.receber(quadro(1));
    }
  };
  quadros(9);
  b.agenda.rodar(2s);
  b.mudar(EstadoConexao::pronta);

  b.agenda.rodar(1999ms);
  quadros(61);
  b.agenda.rodar(1ms);
  quadros(1);
  b.agenda.rodar(2s);
  quadros(200000);
  b.agenda.rodar(4s);
  EXPECT_EQ(b.conexao().enviados, (std::vector<Bytes>{{0, 0, 0, 3, 10, 0, 30},
                                                      {0, 0, 0, 3, 10, 0, 0},
                                                      {0, 0, 0, 3, 10, 0xFF, 0xFF},
                                                      {0, 0, 0, 3, 10, 0, 0}}));
  // The meter saw every frame that became a sample: 73 in its first six seconds.
  EXPECT_EQ(b.linhas.back(), "Recebido: 12 quadros/s · 0.0 Mbps");
}

// A busy main thread: the socket is left unread once what waits for it passes the cap, and
// read again once it drains. Pointer moves meanwhile wait as one, the newest.
TEST(Exibicao, WhatWaitsForABusyMainThreadIsBoundedAndOnlyTheNewestPointerMoveWaits) {
  Bancada b;
  b.discar();
  b.iniciarImagem();
  Bytes metade(Receptor::limiteEmEspera / 2, 0);
  metade[0] = 1;
  // Two frames fill the cap exactly; one more, or a size announcement, passes it.
  for (const Bytes& depois : {quadro(0), config1080}) {
    b.principal.parada = true;
    b.receber(mensagem(TipoMensagem::quadro, metade) + mensagem(TipoMensagem::quadro, metade));
    EXPECT_TRUE(b.conexao().aoReceber) << "stopped at the cap";
    b.receber(depois);
    EXPECT_FALSE(b.conexao().aoReceber) << "read on past the cap";
    b.principal.retomar();
    b.agenda.rodar();
    EXPECT_TRUE(b.conexao().aoReceber) << "not read again once drained";
  }
  EXPECT_EQ(b.camada.enfileiradas.size(), 6u);

  b.principal.parada = true;
  b.receber(mensagem(TipoMensagem::cursor, Bytes(9, 0)) + mensagem(TipoMensagem::cursor, Bytes(9, 1)));
  EXPECT_EQ(b.principal.retidas.size(), 1u);
}

// The pointer's rectangle to a tenth of a pixel, or "oculto".
std::string retangulo(const EstadoTela& tela) {
  const auto& [x, y, largura, altura] = tela.retanguloCursor;
  return tela.cursorOculto
             ? "oculto"
             : decimal(x, 1) + "," + decimal(y, 1) + " " + decimal(largura, 1) + "x" + decimal(altura, 1);
}

// Placed on the hot spot inside the fitted picture; hidden when the sender says so, with a size that has
// no ratio, or under a notice or the panel; bad or extreme values leave it as it was or on finite numbers.
TEST(Cursor, IsPlacedOnTheHotSpotInsideTheFittedPictureHiddenWhenNeededAndNeverOnBadNumbers) {
  Bancada b;
  b.discar();
  b.receptor->redimensionar(1920, 1200);
  b.iniciarImagem();
  b.receber(cursor(0.5f, 0.5f) + imagem(0.01f, 0.02f, 0, 0));
  EXPECT_EQ(retangulo(b.tela), "oculto");  // no picture size yet
  b.receber(config1080);
  EXPECT_EQ(retangulo(b.tela), "960.0,578.4 19.2x21.6");
  b.receber(cursor(0.5f, 0.5f, false));
  EXPECT_EQ(retangulo(b.tela), "oculto");

  b.receber(cursor(1, 1));
  EXPECT_EQ(retangulo(b.tela), "1920.0,38.4 19.2x21.6");

  // An image that does not decode, a position cut short or not finite, a size not finite: the
  // pointer stays as it was.
  b.receber(imagem(0.5f, 0.5f, 0, 0, {'X'}) + cursor(NAN, 0.5f) +
            mensagem(TipoMensagem::cursor, Bytes(8, 0)) + imagem(INFINITY, 0.5f, 0, 0));
  EXPECT_EQ(retangulo(b.tela), "1920.0,38.4 19.2x21.6");

  b.receptor->redimensionar(1920, 1080);
  EXPECT_EQ(retangulo(b.tela), "1920.0,-21.6 19.2x21.6");

  // Images are decoded on a worker, the newest of those waiting only; an oversized one is dropped.
  b.decodificacao.parada = true;
  b.receber(imagem(0.02f, 0.02f, 0, 0) + imagem(0.01f, 0.01f, 0, 0) +
            imagem(0.5f, 0.5f, 0, 0, Bytes(Receptor::limiteImagemCursor, 'I')));
  EXPECT_EQ(b.decodificacao.retidas.size(), 2u);
  const int antes = b.imagens.decodificacoes;
  b.decodificacao.retomar();
  b.agenda.rodar();
  EXPECT_EQ(b.imagens.decodificacoes, antes + 1);
  EXPECT_EQ(retangulo(b.tela), "1920.0,-10.8 19.2x10.8");

  // A side of zero gives no ratio to fit the picture by: the pointer hides until a usable size.
  for (const auto& [largura, altura] : {std::pair(0u, 0u), {0u, 1080u}, {1920u, 0u}}) {
    b.receber(config(largura, altura));
    EXPECT_EQ(retangulo(b.tela), "oculto") << largura << "x" << altura;
  }
  b.receber(config(4294967295u, 1));
  EXPECT_EQ(b.linhas.back(), "Emissor em 4294967295x1.");
  EXPECT_TRUE(retangulo(b.tela).starts_with("1920.0,540.0 ")) << retangulo(b.tela);
  // The largest sizes and hot spots a float holds still give a rectangle of finite numbers.
  b.receber(config1080 + cursor(FLT_MAX, -FLT_MAX));
  for (const float f : {FLT_MAX, -FLT_MAX}) {
    b.receber(imagem(f, f, -f, f));
    const auto& [x, y, largura, altura] = b.tela.retanguloCursor;
    EXPECT_TRUE(std::isfinite(x) && std::isfinite(y) && std::isfinite(largura) && std::isfinite(altura)) << f;
    EXPECT_FALSE(b.tela.cursorOculto);
  }

  // A lost link's notice, then the panel, hide it.
  b.receber(imagem(0.01f, 0.02f, 0, 0) + cursor(1, 1));
  EXPECT_EQ(retangulo(b.tela), "1920.0,-21.6 19.2x21.6");
  b.receber({}, true);
  EXPECT_EQ(retangulo(b.tela), "oculto");
  b.agenda.rodar(1s);
  b.iniciarImagem();
  EXPECT_EQ(retangulo(b.tela), "1920.0,-21.6 19.2x21.6");
  b.receptor->abrirPareamento();
  b.agenda.rodar();
  EXPECT_EQ(retangulo(b.tela), "oculto");
}

// Shown from the start when remembered so; the chord hides and shows them again.
TEST(Estatisticas,
     TheChordShowsFiguresTwiceASecondAcrossReconnectionsRemembersTheChoiceAndHidingStopsMeasuring) {
  Bancada b;
  b.preferencias.gravarBooleano("mostrarEstatisticas", true);
  b.discar();
  b.camada.resumoAtual = {58, 2.25, 9, 15.5, 2, "CPU"};
  EXPECT_TRUE(b.tela.estatisticasVisiveis && b.camada.medindo);

  b.receber(config1080);
  b.iniciarImagem();
  for (int i = 0; i < 29; ++i) {
    b.receber(quadro(0));
  }
  b.agenda.rodar(500ms);
  EXPECT_EQ(
      b.tela.textoEstatisticas,
      "Imagem: 1920x1080\nRecebidos: 60 quadros/s \u00B7 0.0 Mbps\nMostrados: 58 quadros/s \u00B7 2 pulados\n"
      "Decodifica\u00E7\u00E3o: 2.2 ms (p50)\nDa chegada \u00E0 tela: 9.0 ms (p50) \u00B7 15.5 ms (p99)\n"
      "Convers\u00E3o: CPU\nEnlace: eth0 \u00B7 ECDHE_PSK_WITH_CHACHA20_POLY1305_SHA256\n"
      "Emissor: 127.0.0.1:7420\nReconex\u00F5es: 0");

  // The next link once this one is lost counts as a reconnection.
  b.receber({}, true);
  b.agenda.rodar(1s);
  b.mudar(EstadoConexao::pronta);
  b.agenda.rodar(500ms);
  EXPECT_TRUE(b.tela.textoEstatisticas.ends_with("Reconex\u00F5es: 1"));

  b.receptor->alternarEstatisticas();
  b.agenda.rodar(2s);
  EXPECT_FALSE(b.tela.estatisticasVisiveis || b.camada.medindo ||
               b.preferencias.booleano("mostrarEstatisticas"));
  EXPECT_EQ(b.tela.textoEstatisticas, "");
  b.receptor->alternarEstatisticas();
  b.agenda.rodar(500ms);
  EXPECT_TRUE(b.camada.medindo && b.preferencias.booleano("mostrarEstatisticas"));
  EXPECT_TRUE(b.tela.textoEstatisticas.starts_with("Imagem: 1920x1080\n")) << b.tela.textoEstatisticas;
}

}  // namespace
}  // namespace orbelo::teste
