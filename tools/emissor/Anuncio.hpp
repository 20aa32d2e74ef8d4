#pragma once

#include <avahi-client/client.h>
#include <avahi-client/publish.h>
#include <avahi-common/thread-watch.h>

#include <cstdint>
#include <memory>
#include <string>

namespace orbelo::emissor {

struct LiberarPoll {
  void operator()(AvahiThreadedPoll* poll) const { avahi_threaded_poll_free(poll); }
};
struct LiberarClienteAvahi {
  void operator()(AvahiClient* cliente) const { avahi_client_free(cliente); }
};

// Publishes the service through avahi-daemon for as long as it lives. Without a
// daemon it says so once and publishes when one appears; a restarted daemon gets
// the service again. Avahi's callbacks run on its own thread.
class Anuncio {
 public:
  // `endereco` is the listening address: the service is announced only where it can be reached.
  Anuncio(std::string nome, const std::string& endereco, std::uint16_t porta);
  Anuncio(const Anuncio&) = delete;
  Anuncio& operator=(const Anuncio&) = delete;
  ~Anuncio();

 private:
  static void aoMudarCliente(AvahiClient* cliente, AvahiClientState estado, void* dados);
  static void aoMudarGrupo(AvahiEntryGroup* grupo, AvahiEntryGroupState estado, void* dados);
  void criarCliente();
  void publicar(AvahiClient* cliente);

  std::unique_ptr<AvahiThreadedPoll, LiberarPoll> poll;
  // Only on Avahi's thread (or before it starts); the group belongs to the client.
  std::unique_ptr<AvahiClient, LiberarClienteAvahi> cliente;
  AvahiEntryGroup* grupo = nullptr;
  std::string nome;
  AvahiIfIndex interface;
  AvahiProtocol protocolo;
  std::uint16_t porta;
  bool avisouAusencia = false;
};

}  // namespace orbelo::emissor
