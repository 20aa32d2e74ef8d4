#include "DecodificadorImagemArquivo.hpp"

#include "DecodificadorImagemStb.hpp"
#include "DecodificadorImagemTiff.hpp"

namespace orbelo {

std::shared_ptr<const ImagemCursor> DecodificadorImagemArquivo::decodificar(VistaBytes arquivo) const {
  return ehTiff(arquivo) ? decodificarTiff(arquivo) : decodificarStb(arquivo);
}

}  // namespace orbelo
