#include "Anuncio.hpp"

#include <arpa/inet.h>
#include <avahi-common/alternative.h>
#include <avahi-common/error.h>
#include <avahi-common/malloc.h>
#include <ifaddrs.h>
#include <net/if.h>

#include <cstring>
#include <utility>

#include "protocolo/Protocolo.hpp"
#include "protocolo/Saida.hpp"

namespace orbelo::emissor {

namespace {

struct LiberarInterfaces {
  void operator()(ifaddrs* lista) const { freeifaddrs(lista); }
};

// The interface that holds the listening address; any interface for a wildcard address.
AvahiIfIndex interfaceDe(const std::string& endereco) {
  in_addr v4{};
  in6_addr v6{};
  bool ehV4 = inet_pton(AF_INET, endereco.c_str(), &v4) == 1;
  bool ehV6 = !ehV4 && inet_pton(AF_INET6, endereco.c_str(), &v6) == 1;
  if ((ehV4 && v4.s_addr == htonl(INADDR_ANY)) || (ehV6 && IN6_IS_ADDR_UNSPECIFIED(&v6))) {
    return AVAHI_IF_UNSPEC;
  }
  ifaddrs* bruto = nullptr;
  if (getifaddrs(&bruto) != 0) {
    return AVAHI_IF_UNSPEC;
  }
  std::unique_ptr<ifaddrs, LiberarInterfaces> lista(bruto);
  for (ifaddrs* i = lista.get(); i != nullptr; i = i->ifa_next) {
    if (i->ifa_addr == nullptr) {
      continue;
    }
    if (ehV4 && i->ifa_addr->sa_family == AF_INET &&
        reinterpret_cast<sockaddr_in*>(i->ifa_addr)->sin_addr.s_addr == v4.s_addr) {
      return static_cast<AvahiIfIndex>(if_nametoindex(i->ifa_name));
    }
    if (ehV6 && i->ifa_addr->sa_family == AF_INET6 &&
        std::memcmp(&reinterpret_cast<sockaddr_in6*>(i->ifa_addr)->sin6_addr, &v6, sizeof v6) == 0) {
      return static_cast<AvahiIfIndex>(if_nametoindex(i->ifa_name));
    }
  }
  return AVAHI_IF_UNSPEC;
}

AvahiProtocol protocoloDe(const std::string& endereco) {
  in6_addr v6{};
  if (inet_pton(AF_INET6, endereco.c_str(), &v6) == 1) {
    return IN6_IS_ADDR_UNSPECIFIED(&v6) ? AVAHI_PROTO_UNSPEC : AVAHI_PROTO_INET6;
  }
  return AVAHI_PROTO_INET;
}

}  // namespace

Anuncio::Anuncio(std::string nome, const std::string& endereco, std::uint16_t porta)
    : poll(avahi_threaded_poll_new()),
      nome(std::move(nome)),
      interface(interfaceDe(endereco)),
      protocolo(protocoloDe(endereco)),
      porta(porta) {
  if (!poll) {
    imprimirLinha("Avahi indisponível: sem memória; o serviço não será anunciado.");
    return;
  }
  criarCliente();
  avahi_threaded_poll_start(poll.get());
}

Anuncio::~Anuncio() {
  if (poll) {
    avahi_threaded_poll_stop(poll.get());
  }
  cliente.reset();
}

void Anuncio::criarCliente() {
  grupo = nullptr;
  cliente.reset();
  int erro = 0;
  // NO_FAIL: without a daemon the client waits for one instead of failing.
  cliente.reset(avahi_client_new(avahi_threaded_poll_get(poll.get()), AVAHI_CLIENT_NO_FAIL, aoMudarCliente,
                                 this, &erro));
  if (!cliente) {
    imprimirLinha("Avahi indisponível: " + std::string(avahi_strerror(erro)) +
                  "; o serviço não será anunciado.");
  }
}

void Anuncio::publicar(AvahiClient* c) {
  if (grupo == nullptr) {
    grupo = avahi_entry_group_new(c, aoMudarGrupo, this);
    if (grupo == nullptr) {
      imprimirLinha("Anúncio falhou: " + std::string(avahi_strerror(avahi_client_errno(c))) + ".");
      return;
    }
  }
  if (!avahi_entry_group_is_empty(grupo)) {
    return;
  }
  std::string tipo(Protocolo::tipoServico);
  int erro =
      avahi_entry_group_add_service_strlst(grupo, interface, protocolo, AvahiPublishFlags{}, nome.c_str(),
                                           tipo.c_str(), nullptr, nullptr, porta, nullptr);
  if (erro == AVAHI_ERR_COLLISION) {
    char* alternativo = avahi_alternative_service_name(nome.c_str());
    nome = alternativo;
    avahi_free(alternativo);
    publicar(c);
    return;
  }
  if (erro < 0 || (erro = avahi_entry_group_commit(grupo)) < 0) {
    imprimirLinha("Anúncio falhou: " + std::string(avahi_strerror(erro)) + ".");
  }
}

void Anuncio::aoMudarCliente(AvahiClient* c, AvahiClientState estado, void* dados) {
  auto& anuncio = *static_cast<Anuncio*>(dados);
  switch (estado) {
    case AVAHI_CLIENT_S_RUNNING:
      anuncio.publicar(c);
      break;
    case AVAHI_CLIENT_S_COLLISION:
    case AVAHI_CLIENT_S_REGISTERING:
      // The host name is changing; the service goes out again once the daemon runs.
      if (anuncio.grupo != nullptr) {
        avahi_entry_group_reset(anuncio.grupo);
      }
      break;
    case AVAHI_CLIENT_CONNECTING:
      if (!std::exchange(anuncio.avisouAusencia, true)) {
        imprimirLinha("Avahi indisponível: o serviço será anunciado quando o avahi-daemon iniciar.");
      }
      break;
    case AVAHI_CLIENT_FAILURE:
      if (avahi_client_errno(c) == AVAHI_ERR_DISCONNECTED) {
        // The daemon went away: a new client waits for it and publishes again.
        anuncio.criarCliente();
      } else {
        imprimirLinha("Anúncio falhou: " + std::string(avahi_strerror(avahi_client_errno(c))) + ".");
      }
      break;
  }
}

void Anuncio::aoMudarGrupo(AvahiEntryGroup* grupo, AvahiEntryGroupState estado, void* dados) {
  auto& anuncio = *static_cast<Anuncio*>(dados);
  switch (estado) {
    case AVAHI_ENTRY_GROUP_ESTABLISHED:
      imprimirLinha("Anunciado como \"" + anuncio.nome + "\" em " + std::string(Protocolo::tipoServico));
      break;
    case AVAHI_ENTRY_GROUP_COLLISION: {
      char* alternativo = avahi_alternative_service_name(anuncio.nome.c_str());
      anuncio.nome = alternativo;
      avahi_free(alternativo);
      avahi_entry_group_reset(grupo);
      anuncio.publicar(avahi_entry_group_get_client(grupo));
      break;
    }
    case AVAHI_ENTRY_GROUP_FAILURE:
      imprimirLinha("Anúncio falhou: " +
                    std::string(avahi_strerror(avahi_client_errno(avahi_entry_group_get_client(grupo)))) +
                    ".");
      break;
    default:
      break;
  }
}

}  // namespace orbelo::emissor
