// Pointer images as the sender may send them: any bytes, any declared size. Only pictures
// within the size limit come out, whole; nothing larger is ever decoded.

#include <cstdlib>

#include "receptor/plataforma/janela/DecodificadorImagemArquivo.hpp"

namespace {

void exigir(bool condicao) {
  if (!condicao) {
    std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* dados, std::size_t tamanho) {
  static const orbelo::DecodificadorImagemArquivo decodificador;
  const auto imagem = decodificador.decodificar({dados, tamanho});
  if (imagem) {
    constexpr int maximo = orbelo::DecodificadorImagem::ladoMaximo;
    exigir(imagem->largura > 0 && imagem->largura <= maximo && imagem->altura > 0 &&
           imagem->altura <= maximo);
    exigir(imagem->rgba.size() == static_cast<std::size_t>(imagem->largura) * imagem->altura * 4);
  }
  return 0;
}
