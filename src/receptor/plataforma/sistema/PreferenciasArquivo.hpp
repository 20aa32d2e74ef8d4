#pragma once

#include <filesystem>
#include <functional>
#include <mutex>
#include <nlohmann/json.hpp>

#include "protocolo/Saida.hpp"
#include "receptor/Preferencias.hpp"

namespace orbelo {

// The remembered values as one JSON object in a file of the user's configuration folder,
// read once at construction and rewritten whole, atomically, on every change.
class PreferenciasArquivo : public Preferencias {
 public:
  static std::filesystem::path caminhoPadrao();

  // `imprimir` defaults to a line on standard output.
  explicit PreferenciasArquivo(std::filesystem::path caminho = caminhoPadrao(), Impressora imprimir = {});

  std::optional<std::string> texto(std::string_view preferencia) const override;
  bool booleano(std::string_view preferencia) const override;
  void gravarTexto(std::string_view preferencia, const std::string& valor) override;
  void gravarBooleano(std::string_view preferencia, bool valor) override;
  void remover(std::string_view preferencia) override;

 private:
  void carregar();
  void gravar();

  const std::filesystem::path caminho;
  const Impressora imprimir;
  mutable std::mutex trava;
  nlohmann::json valores;  // an object of texts and Booleans; guarded by `trava`
};

}  // namespace orbelo
