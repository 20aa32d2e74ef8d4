#include <gtest/gtest.h>

#include <cmath>
#include <initializer_list>
#include <limits>

#include "Bancada.hpp"

namespace orbelo::teste {
namespace {

Bytes floats(std::initializer_list<float> valores) {
  Bytes payload;
  for (float v : valores) anexarBE(payload, v);
  return payload;
}
Bytes cursor(float x, float y, std::uint8_t visivel) {
  return mensagem(TipoMensagem::cursor, floats({x, y}) + Bytes{visivel});
}
Bytes imagem(float largura, float altura, float pontaX, float pontaY,
             const Bytes& arquivo = {'I', 'M', 'G'}) {
  return mensagem(TipoMensagem::imagemCursor, floats({largura, altura, pontaX, pontaY}) + arquivo);
}
const Bytes config1080 = mensagem(TipoMensagem::config, {0, 0, 7, 0x80, 0, 0, 4, 0x38});

struct Cursor : ::testing::Test {
  Bancada b;
  void SetUp() override {
    b.opcoes.codigo = "123456";
    b.opcoes.host = "10.0.0.5";
    b.lancar(std::nullopt);
    b.receptor->redimensionar(1920, 1200);
    b.mudar(EstadoConexao::pronta);
    b.receber(mensagem(TipoMensagem::parametros, parametrosBons) + quadro(1));
  }
  void esperarQuadro(double x, double y, double largura, double altura) {
    EXPECT_FALSE(b.tela.cursorOculto);
    EXPECT_NEAR(b.tela.quadroCursor.x, x, 1e-3);
    EXPECT_NEAR(b.tela.quadroCursor.y, y, 1e-3);
    EXPECT_NEAR(b.tela.quadroCursor.largura, largura, 1e-3);
    EXPECT_NEAR(b.tela.quadroCursor.altura, altura, 1e-3);
  }
};

TEST_F(Cursor, IsPlacedOnTheHotSpotInsideTheFittedPicture) {
  b.receber(cursor(0.5f, 0.5f, 1) + imagem(0.01f, 0.02f, 0, 0));
  EXPECT_TRUE(b.tela.cursorOculto);  // no picture size yet
  b.receber(config1080);
  esperarQuadro(960, 578.4, 19.2, 21.6);
  EXPECT_TRUE(b.tela.imagemCursor);

  b.receber(imagem(0.01f, 0.02f, 0.5f, 0.5f));
  esperarQuadro(950.4, 589.2, 19.2, 21.6);
  b.receber(imagem(0.01f, 0.02f, 0, 0) + cursor(0, 0, 1));
  esperarQuadro(0, 1140 - 21.6, 19.2, 21.6);
  b.receber(cursor(1, 1, 1));
  esperarQuadro(1920, 60 - 21.6, 19.2, 21.6);

  b.receptor->redimensionar(1920, 1080);
  esperarQuadro(1920, -21.6, 19.2, 21.6);
}

TEST_F(Cursor, HidesWhenTheSenderSaysSoOrANoticeOrThePanelIsUp) {
  b.receber(config1080 + imagem(0.01f, 0.02f, 0, 0) + cursor(0.5f, 0.5f, 2));
  EXPECT_TRUE(b.tela.cursorOculto);
  b.receber(cursor(0.25f, 0.5f, 1));
  esperarQuadro(480, 578.4, 19.2, 21.6);

  b.receber({}, true);
  EXPECT_TRUE(b.tela.cursorOculto);
  b.agenda.rodar(1s);
  b.receber(mensagem(TipoMensagem::parametros, parametrosBons) + quadro(1));
  esperarQuadro(480, 578.4, 19.2, 21.6);

  b.receptor->abrirPareamento();
  b.agenda.rodar();
  EXPECT_TRUE(b.tela.cursorOculto);
}

TEST_F(Cursor, UndecodableImagesNonFiniteValuesAndAZeroSizedPictureChangeNothingOrHide) {
  b.receber(config1080 + imagem(0.01f, 0.02f, 0, 0) + cursor(0.5f, 0.5f, 1));
  const auto imagemAntes = b.tela.imagemCursor;
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const float inf = std::numeric_limits<float>::infinity();
  b.receber(imagem(0.5f, 0.5f, 0.5f, 0.5f, {'G', 'I', 'F'}) + imagem(nan, 0.5f, 0, 0) + cursor(inf, 0.5f, 1) +
            mensagem(TipoMensagem::cursor, floats({0.1f, 0.1f})));
  EXPECT_EQ(b.tela.imagemCursor, imagemAntes);
  esperarQuadro(960, 578.4, 19.2, 21.6);

  b.receber(mensagem(TipoMensagem::config, {0, 0, 0, 0, 0, 0, 4, 0x38}));
  EXPECT_EQ(b.linhas.back(), "Emissor em 0x1080.");
  EXPECT_TRUE(b.tela.cursorOculto);
}

}  // namespace
}  // namespace orbelo::teste
