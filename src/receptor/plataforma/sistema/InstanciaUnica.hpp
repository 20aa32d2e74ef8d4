#pragma once

#include <asio/io_context.hpp>
#include <filesystem>
#include <functional>
#include <optional>

#include "receptor/Executor.hpp"

namespace orbelo {

// One orbelo per user session: two receivers would take the sender from each other every
// second. The first start holds a lock in the session's runtime folder, which the kernel
// drops when the process ends however it ends, and listens on a socket beside it; a later
// start finds the lock taken, knocks on that socket so that the first comes to the front,
// and goes away.
class InstanciaUnica {
 public:
  // $XDG_RUNTIME_DIR when it is an absolute path; otherwise orbelo-UID in the temporary
  // folder, made if missing. None when that folder is not this user's private folder.
  static std::optional<std::filesystem::path> pastaExecucao();

  // Takes the lock in `pasta`. None when another orbelo holds it: that one has been asked to
  // come to the front. Without a folder, or when the lock cannot be made there, the program
  // runs unguarded rather than not at all.
  static std::optional<InstanciaUnica> tomar(const std::optional<std::filesystem::path>& pasta);

  InstanciaUnica(InstanciaUnica&& outra) noexcept;
  InstanciaUnica& operator=(InstanciaUnica&&) = delete;
  ~InstanciaUnica();

  // From now on, on `contexto`'s thread, each knock has `trazerParaFrente` run on
  // `principal`; knocks that come while one waits there count once.
  void atender(asio::io_context& contexto, Executor& principal, std::function<void()> trazerParaFrente);

 private:
  InstanciaUnica() = default;

  int trava = -1;          // held for the life of the process
  int soqueteEscuta = -1;  // listening already, so that knocks during start-up wait in its backlog
};

}  // namespace orbelo
