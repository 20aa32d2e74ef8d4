#pragma once

#include <avahi-client/client.h>
#include <avahi-client/lookup.h>
#include <avahi-common/thread-watch.h>

#include <compare>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "PlacasRede.hpp"
#include "receptor/Executor.hpp"
#include "receptor/Transporte.hpp"

namespace orbelo {

template <auto liberar>
struct LiberarAvahi {
  template <typename T>
  void operator()(T* objeto) const {
    liberar(objeto);
  }
};

// DNS-SD browsing through the system's avahi-daemon. Avahi calls back on a poll thread
// of its own; the result set goes to `fila` after every change.
class NavegadorAvahi final : public Navegador, public std::enable_shared_from_this<NavegadorAvahi> {
 public:
  // `ehCabo` empty: results from any interface count.
  NavegadorAvahi(Executor& fila, std::string tipoServico, EhCabo ehCabo);
  ~NavegadorAvahi() override;
  NavegadorAvahi(const NavegadorAvahi&) = delete;
  NavegadorAvahi& operator=(const NavegadorAvahi&) = delete;

  void aoMudarResultados(AoMudarResultados tratador) override;
  void aoFaltarServico(AoFaltarServico tratador) override;
  void iniciar() override;
  void cancelar() override;

 private:
  struct IdServico {
    AvahiIfIndex interface;
    AvahiProtocol protocolo;
    std::string nome;
    std::string tipo;
    std::string dominio;
    auto operator<=>(const IdServico&) const = default;
  };
  using Laco = std::unique_ptr<AvahiThreadedPoll, LiberarAvahi<avahi_threaded_poll_free>>;
  using Cliente = std::unique_ptr<AvahiClient, LiberarAvahi<avahi_client_free>>;
  using Busca = std::unique_ptr<AvahiServiceBrowser, LiberarAvahi<avahi_service_browser_free>>;
  using Resolvedor = std::unique_ptr<AvahiServiceResolver, LiberarAvahi<avahi_service_resolver_free>>;

  static void aoMudarCliente(AvahiClient* cliente, AvahiClientState estado, void* dados);
  static void aoMudarServico(AvahiServiceBrowser* busca, AvahiIfIndex interface, AvahiProtocol protocolo,
                             AvahiBrowserEvent evento, const char* nome, const char* tipo,
                             const char* dominio, AvahiLookupResultFlags, void* dados);
  static void aoResolver(AvahiServiceResolver* resolvedor, AvahiIfIndex interface, AvahiProtocol protocolo,
                         AvahiResolverEvent evento, const char* nome, const char* tipo, const char* dominio,
                         const char* hostNome, const AvahiAddress* endereco, std::uint16_t porta,
                         AvahiStringList* txt, AvahiLookupResultFlags, void* dados);

  void criarCliente();
  void recriarCliente();
  void resolver(AvahiClient* cliente, IdServico id);
  void esquecer(const IdServico& id);
  void esquecerTudo();
  void anotar(const AvahiServiceResolver* resolvedor, ResultadoBusca resultado);
  void retirar(const AvahiServiceResolver* resolvedor);
  void publicar();
  void avisarFalta();
  void parar();

  Executor& fila;
  const std::string tipo;
  const EhCabo ehCabo;

  // Only on `fila`.
  AoMudarResultados aoMudar;
  AoFaltarServico tratadorFalta;
  bool cancelado = false;

  // Only on Avahi's poll thread, or elsewhere with its lock held (or once it has stopped).
  Laco laco;
  Cliente cliente;
  Busca busca;
  std::map<IdServico, Resolvedor> servicos;
  std::vector<std::pair<const AvahiServiceResolver*, ResultadoBusca>> resultados;  // in arrival order
};

}  // namespace orbelo
