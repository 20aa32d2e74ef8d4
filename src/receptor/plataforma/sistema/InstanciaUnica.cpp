#include "InstanciaUnica.hpp"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <asio/local/stream_protocol.hpp>
#include <asio/post.hpp>
#include <asio/steady_timer.hpp>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <utility>

namespace orbelo {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr const char* nomeTrava = "orbelo.trava";
constexpr const char* nomeSoquete = "orbelo.soquete";
// A first start that neither answers nor lets go must not hold a later one for long.
constexpr auto esperaBatida = 1s;
constexpr auto esperaTotal = 2s;
constexpr auto intervaloBatidas = 50ms;
constexpr auto pausaAposFalha = 1s;
constexpr int batidasPendentes = 16;

// A Unix stream socket for the name `caminho`, closed unless handed on. A name too long
// for the address leaves it unusable rather than cut short.
class SoqueteLocal {
 public:
  explicit SoqueteLocal(const fs::path& caminho) {
    if (caminho.native().size() >= sizeof endereco.sun_path) {
      return;
    }
    caminho.native().copy(endereco.sun_path, sizeof endereco.sun_path - 1);
    fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  }
  SoqueteLocal(const SoqueteLocal&) = delete;
  SoqueteLocal& operator=(const SoqueteLocal&) = delete;
  ~SoqueteLocal() {
    if (fd >= 0) {
      ::close(fd);
    }
  }

  // Connecting says it all; the send timeout bounds the wait on a full backlog.
  bool bater() {
    const timeval limite{std::chrono::seconds(esperaBatida).count(), 0};
    return fd >= 0 && ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limite, sizeof limite) == 0 &&
           ::connect(fd, reinterpret_cast<const sockaddr*>(&endereco), sizeof endereco) == 0;
  }
  // The listening descriptor, or -1.
  int escutar() {
    if (fd < 0) {
      return -1;
    }
    // Holding the lock, whatever is at that name was left by a start that is gone.
    ::unlink(endereco.sun_path);
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&endereco), sizeof endereco) != 0 ||
        ::listen(fd, batidasPendentes) != 0) {
      return -1;
    }
    return std::exchange(fd, -1);
  }

 private:
  sockaddr_un endereco{AF_UNIX, {}};
  int fd = -1;
};

// Answers knocks. A knock only means "come to the front": nothing is read from it, so what
// a peer sends cannot matter, and a flood of knocks queues one task on the main thread.
class Porteiro : public std::enable_shared_from_this<Porteiro> {
 public:
  Porteiro(asio::io_context& contexto, Executor& principal, std::function<void()> trazerParaFrente)
      : escuta(contexto),
        pausa(contexto),
        principal(principal),
        trazerParaFrente(std::move(trazerParaFrente)) {}

  // Takes `fd`, listening already; false when Asio cannot.
  bool assumir(int fd) {
    asio::error_code erro;
    escuta.assign(asio::local::stream_protocol(), fd, erro);
    return !erro;
  }

  void aceitar() {
    escuta.async_accept(
        [eu = shared_from_this()](const asio::error_code& erro, asio::local::stream_protocol::socket) {
          if (erro == asio::error::operation_aborted) {
            return;
          }
          if (erro) {
            // Out of descriptors, say: trying again at once would spin.
            eu->pausa.expires_after(pausaAposFalha);
            eu->pausa.async_wait([eu](const asio::error_code& e) {
              if (!e) {
                eu->aceitar();
              }
            });
            return;
          }
          eu->chamar();
          eu->aceitar();
        });
  }

 private:
  void chamar() {
    if (pendente.exchange(true)) {
      return;
    }
    principal.executar([eu = shared_from_this()] {
      eu->pendente = false;
      eu->trazerParaFrente();
    });
  }

  asio::local::stream_protocol::acceptor escuta;
  asio::steady_timer pausa;
  Executor& principal;
  const std::function<void()> trazerParaFrente;
  std::atomic<bool> pendente{false};
};

}  // namespace

std::optional<fs::path> InstanciaUnica::pastaExecucao() {
  if (const char* xdg = std::getenv("XDG_RUNTIME_DIR"); xdg != nullptr && *xdg == '/') {
    return xdg;
  }
  std::error_code erro;
  const auto temporaria = fs::temp_directory_path(erro);
  if (erro) {
    return std::nullopt;
  }
  const auto pasta = temporaria / ("orbelo-" + std::to_string(::geteuid()));
  // Anyone may make names in the temporary folder: a folder or link planted there by
  // someone else must not receive our lock.
  ::mkdir(pasta.c_str(), 0700);
  struct stat estado {};
  if (::lstat(pasta.c_str(), &estado) != 0 || !S_ISDIR(estado.st_mode) || estado.st_uid != ::geteuid() ||
      (estado.st_mode & 077) != 0) {
    return std::nullopt;
  }
  return pasta;
}

std::optional<InstanciaUnica> InstanciaUnica::tomar(const std::optional<fs::path>& pasta) {
  InstanciaUnica instancia;
  if (!pasta) {
    return instancia;
  }
  instancia.trava = ::open((*pasta / nomeTrava).c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (instancia.trava < 0) {
    return instancia;
  }
  const auto soquete = *pasta / nomeSoquete;
  // The holder may be between taking the lock and listening, or on its way out.
  for (const auto limite = std::chrono::steady_clock::now() + esperaTotal;
       ::flock(instancia.trava, LOCK_EX | LOCK_NB) != 0;) {
    if (errno != EWOULDBLOCK) {
      return InstanciaUnica();  // no locks there
    }
    if (SoqueteLocal(soquete).bater() || std::chrono::steady_clock::now() >= limite) {
      return std::nullopt;
    }
    std::this_thread::sleep_for(intervaloBatidas);
  }
  instancia.soqueteEscuta = SoqueteLocal(soquete).escutar();
  return instancia;
}

InstanciaUnica::InstanciaUnica(InstanciaUnica&& outra) noexcept
    : trava(std::exchange(outra.trava, -1)), soqueteEscuta(std::exchange(outra.soqueteEscuta, -1)) {}

InstanciaUnica::~InstanciaUnica() {
  for (const int fd : {trava, soqueteEscuta}) {
    if (fd >= 0) {
      ::close(fd);
    }
  }
}

void InstanciaUnica::atender(asio::io_context& contexto, Executor& principal,
                             std::function<void()> trazerParaFrente) {
  if (soqueteEscuta < 0) {
    return;
  }
  auto porteiro = std::make_shared<Porteiro>(contexto, principal, std::move(trazerParaFrente));
  if (!porteiro->assumir(soqueteEscuta)) {
    return;
  }
  soqueteEscuta = -1;
  asio::post(contexto, [porteiro] { porteiro->aceitar(); });
}

}  // namespace orbelo
