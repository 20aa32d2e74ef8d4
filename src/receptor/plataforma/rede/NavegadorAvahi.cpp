#include "NavegadorAvahi.hpp"

#include <avahi-common/address.h>
#include <net/if.h>

#include <algorithm>
#include <array>

namespace orbelo {
namespace {

class TravaLaco {
 public:
  explicit TravaLaco(AvahiThreadedPoll* laco) : laco(laco) { avahi_threaded_poll_lock(laco); }
  ~TravaLaco() { avahi_threaded_poll_unlock(laco); }
  TravaLaco(const TravaLaco&) = delete;
  TravaLaco& operator=(const TravaLaco&) = delete;

 private:
  AvahiThreadedPoll* laco;
};

std::string nomeDaInterface(AvahiIfIndex indice) {
  std::array<char, IF_NAMESIZE> nome{};
  if (indice <= 0 || if_indextoname(static_cast<unsigned>(indice), nome.data()) == nullptr) {
    return {};
  }
  return nome.data();
}

bool mesmo(const ResultadoBusca& a, const ResultadoBusca& b) {
  return a.nome == b.nome && a.endereco == b.endereco && a.porta == b.porta &&
         a.interfaceIndice == b.interfaceIndice && a.interfaceNome == b.interfaceNome;
}

}  // namespace

NavegadorAvahi::NavegadorAvahi(Executor& fila, std::string tipoServico, EhCabo ehCabo)
    : fila(fila), tipo(std::move(tipoServico)), ehCabo(std::move(ehCabo)) {}

NavegadorAvahi::~NavegadorAvahi() {
  parar();
}

void NavegadorAvahi::aoMudarResultados(AoMudarResultados tratador) {
  aoMudar = std::move(tratador);
}

void NavegadorAvahi::aoFaltarServico(AoFaltarServico tratador) {
  tratadorFalta = std::move(tratador);
}

void NavegadorAvahi::iniciar() {
  if (laco || cancelado) {
    return;
  }
  laco.reset(avahi_threaded_poll_new());
  if (!laco) {
    return;
  }
  criarCliente();
  avahi_threaded_poll_start(laco.get());
}

void NavegadorAvahi::cancelar() {
  cancelado = true;
  aoMudar = nullptr;
  tratadorFalta = nullptr;
  parar();
}

void NavegadorAvahi::parar() {
  // Once the poll thread has stopped, nothing else touches the Avahi objects.
  if (laco) {
    avahi_threaded_poll_stop(laco.get());
  }
  resultados.clear();
  servicos.clear();
  busca.reset();
  cliente.reset();
  laco.reset();
}

void NavegadorAvahi::criarCliente() {
  // Without a daemon the client waits for one; without a system bus it is not made at all,
  // and the caller's next attempt tries again.
  int erro = 0;
  cliente.reset(avahi_client_new(avahi_threaded_poll_get(laco.get()), AVAHI_CLIENT_NO_FAIL,
                                 &NavegadorAvahi::aoMudarCliente, this, &erro));
  if (!cliente) {
    avisarFalta();
  }
}

void NavegadorAvahi::recriarCliente() {
  // The failed client cannot be freed from inside its own callback; `fila` does it.
  fila.executar([fraco = weak_from_this()] {
    const auto self = fraco.lock();
    if (!self || self->cancelado || !self->laco) {
      return;
    }
    const TravaLaco trava(self->laco.get());
    self->esquecerTudo();
    self->cliente.reset();
    self->criarCliente();
  });
}

void NavegadorAvahi::aoMudarCliente(AvahiClient* cliente, AvahiClientState estado, void* dados) {
  auto* self = static_cast<NavegadorAvahi*>(dados);
  switch (estado) {
    case AVAHI_CLIENT_S_REGISTERING:
    case AVAHI_CLIENT_S_RUNNING:
    case AVAHI_CLIENT_S_COLLISION:
      // Connected to the daemon: browsing works whatever the state of its own host name.
      if (!self->busca) {
        self->busca.reset(avahi_service_browser_new(
            cliente, AVAHI_IF_UNSPEC, AVAHI_PROTO_UNSPEC, self->tipo.c_str(), nullptr,
            static_cast<AvahiLookupFlags>(0), &NavegadorAvahi::aoMudarServico, self));
      }
      break;
    case AVAHI_CLIENT_CONNECTING:
      // No daemon on the bus (yet, or any more): the client waits for one.
      self->esquecerTudo();
      self->avisarFalta();
      break;
    case AVAHI_CLIENT_FAILURE:
      // The daemon went away or restarted: a new client waits for it to come back. A client
      // failing while it is being made is not retried, or a dead bus would spin `fila`.
      self->esquecerTudo();
      if (self->cliente.get() == cliente) {
        self->recriarCliente();
      }
      break;
    default:
      break;
  }
}

void NavegadorAvahi::aoMudarServico(AvahiServiceBrowser* busca, AvahiIfIndex interface,
                                    AvahiProtocol protocolo, AvahiBrowserEvent evento, const char* nome,
                                    const char* tipo, const char* dominio, AvahiLookupResultFlags,
                                    void* dados) {
  auto* self = static_cast<NavegadorAvahi*>(dados);
  if (evento != AVAHI_BROWSER_NEW && evento != AVAHI_BROWSER_REMOVE) {
    return;
  }
  IdServico id{interface, protocolo, nome, tipo, dominio};
  if (evento == AVAHI_BROWSER_NEW) {
    self->resolver(avahi_service_browser_get_client(busca), std::move(id));
  } else {
    self->esquecer(id);
  }
}

void NavegadorAvahi::resolver(AvahiClient* cliente, IdServico id) {
  if (ehCabo && !ehCabo(nomeDaInterface(id.interface))) {
    return;
  }
  // A resolver kept open reports later changes of the service as well.
  Resolvedor resolvedor(avahi_service_resolver_new(
      cliente, id.interface, id.protocolo, id.nome.c_str(), id.tipo.c_str(), id.dominio.c_str(),
      AVAHI_PROTO_UNSPEC, static_cast<AvahiLookupFlags>(0), &NavegadorAvahi::aoResolver, this));
  if (!resolvedor) {
    return;
  }
  esquecer(id);
  servicos.emplace(std::move(id), std::move(resolvedor));
}

void NavegadorAvahi::aoResolver(AvahiServiceResolver* resolvedor, AvahiIfIndex interface, AvahiProtocol,
                                AvahiResolverEvent evento, const char* nome, const char*, const char*,
                                const char*, const AvahiAddress* endereco, std::uint16_t porta,
                                AvahiStringList*, AvahiLookupResultFlags, void* dados) {
  auto* self = static_cast<NavegadorAvahi*>(dados);
  if (evento != AVAHI_RESOLVER_FOUND || endereco == nullptr) {
    self->retirar(resolvedor);
    return;
  }
  std::array<char, AVAHI_ADDRESS_STR_MAX> texto{};
  avahi_address_snprint(texto.data(), texto.size(), endereco);
  self->anotar(resolvedor, {nome, texto.data(), porta, interface, nomeDaInterface(interface)});
}

void NavegadorAvahi::anotar(const AvahiServiceResolver* resolvedor, ResultadoBusca resultado) {
  const auto item = std::ranges::find(resultados, resolvedor, &decltype(resultados)::value_type::first);
  if (item == resultados.end()) {
    resultados.emplace_back(resolvedor, std::move(resultado));
  } else if (!mesmo(item->second, resultado)) {
    item->second = std::move(resultado);
  } else {
    return;
  }
  publicar();
}

void NavegadorAvahi::retirar(const AvahiServiceResolver* resolvedor) {
  if (std::erase_if(resultados, [resolvedor](const auto& item) { return item.first == resolvedor; }) > 0) {
    publicar();
  }
}

void NavegadorAvahi::esquecer(const IdServico& id) {
  const auto servico = servicos.find(id);
  if (servico == servicos.end()) {
    return;
  }
  retirar(servico->second.get());
  servicos.erase(servico);
}

void NavegadorAvahi::esquecerTudo() {
  const bool haviaResultados = !resultados.empty();
  resultados.clear();
  servicos.clear();
  busca.reset();
  if (haviaResultados) {
    publicar();
  }
}

void NavegadorAvahi::publicar() {
  std::vector<ResultadoBusca> lista;
  lista.reserve(resultados.size());
  for (const auto& item : resultados) {
    lista.push_back(item.second);
  }
  fila.executar([fraco = weak_from_this(), lista = std::move(lista)] {
    const auto self = fraco.lock();
    if (!self || self->cancelado) {
      return;
    }
    // A copy: the handler may cancel this browser and so drop the stored one.
    const auto tratador = self->aoMudar;
    if (tratador) {
      tratador(lista);
    }
  });
}

void NavegadorAvahi::avisarFalta() {
  fila.executar([fraco = weak_from_this()] {
    const auto self = fraco.lock();
    if (!self || self->cancelado) {
      return;
    }
    const auto tratador = self->tratadorFalta;
    if (tratador) {
      tratador();
    }
  });
}

}  // namespace orbelo
