#include "Lembranca.hpp"

namespace orbelo::Lembranca {

void salvar(Preferencias& preferencias, const std::string& codigo, const std::optional<std::string>& host) {
  preferencias.gravarTexto(chaveCodigo, codigo);
  if (host) {
    preferencias.gravarTexto(chaveHost, *host);
  } else {
    preferencias.remover(chaveHost);
  }
}

}  // namespace orbelo::Lembranca
