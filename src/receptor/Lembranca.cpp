#include "Lembranca.hpp"

namespace orbelo::Lembranca {

void salvar(Preferencias& preferencias, const std::string& codigo, const std::optional<std::string>& host) {
  preferencias.gravarTexto(preferenciaCodigo, codigo);
  if (host) {
    preferencias.gravarTexto(preferenciaHost, *host);
  } else {
    preferencias.remover(preferenciaHost);
  }
}

}  // namespace orbelo::Lembranca
