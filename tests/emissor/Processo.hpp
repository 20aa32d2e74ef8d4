#pragma once

#include <sys/types.h>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "protocolo/Protocolo.hpp"

namespace orbelo::teste {

using namespace std::chrono_literals;

// A child process with its standard input, output and error on pipes.
class Processo {
 public:
  explicit Processo(const std::vector<std::string>& argumentos,
                    const std::vector<std::string>& ambiente = {});
  Processo(const Processo&) = delete;
  Processo& operator=(const Processo&) = delete;
  ~Processo();

  pid_t id() const { return pid; }
  void escrever(VistaBytes dados);

  // Output bytes that arrive within `espera`; empty at the end of the output.
  Bytes ler(std::chrono::milliseconds espera);
  bool saidaTerminou() const { return fimSaida; }

  // The first line from now on that starts with `prefixo`, waiting up to `espera`.
  std::optional<std::string> esperarLinha(const std::string& prefixo, std::chrono::milliseconds espera = 15s);
  // Every complete output line read so far.
  const std::vector<std::string>& linhas() const { return todas; }

  // Exit status, waiting up to `espera`; none if still running (or killed by a signal).
  std::optional<int> esperarFim(std::chrono::milliseconds espera = 15s);
  std::string erros();

 private:
  pid_t pid = -1;
  int entrada = -1;
  int saida = -1;
  int erro = -1;
  bool fimSaida = false;
  std::string pendente;
  std::vector<std::string> todas;
  std::size_t lidas = 0;
  std::optional<int> status;
};

}  // namespace orbelo::teste
