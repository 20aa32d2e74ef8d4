#pragma once

// The receiver with every platform service faked, both threads driven by one manual clock.

#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "receptor/Receptor.hpp"

namespace orbelo::teste {

using namespace std::chrono_literals;

struct Agenda {
  std::chrono::steady_clock::time_point agora{};
  // The queue whose task runs now; none is the test itself, which stands for the main thread.
  const Executor* emExecucao = nullptr;

  // Runs `tarefa` as if on `fila`.
  void em(const Executor& fila, const std::function<void()>& tarefa) {
    const auto antes = std::exchange(emExecucao, &fila);
    tarefa();
    emExecucao = antes;
  }
  // Runs, in order, every task due up to `ate`, including the ones they queue.
  void rodar(Executor::Duracao ate = {}) {
    const auto fim = agora + ate;
    while (!pendentes.empty() && pendentes.begin()->first <= fim) {
      auto no = pendentes.extract(pendentes.begin());
      agora = std::max(agora, no.key());
      em(*no.mapped().first, no.mapped().second);
    }
    agora = fim;
  }
  // Tasks due at the same time run in the order they were queued.
  std::multimap<std::chrono::steady_clock::time_point, std::pair<const Executor*, Executor::Tarefa>>
      pendentes;
};

// A serial queue on the manual clock. `parada`, it holds its tasks back, as a busy thread does.
struct ExecutorFalso : Executor {
  ExecutorFalso(Agenda& agenda, bool principal = false) : agenda(agenda), principal(principal) {}
  void executar(Tarefa tarefa) override { executarDepois({}, std::move(tarefa)); }
  void executarDepois(Duracao atraso, Tarefa tarefa) override {
    if (parada) {
      retidas.emplace_back(atraso, std::move(tarefa));
    } else {
      agenda.pendentes.emplace(agenda.agora + atraso, std::pair(this, std::move(tarefa)));
    }
  }
  bool atual() const override { return agenda.emExecucao == this || (principal && !agenda.emExecucao); }
  void retomar() {
    parada = false;
    for (auto& [atraso, tarefa] : std::exchange(retidas, {})) {
      executarDepois(atraso, std::move(tarefa));
    }
  }
  Agenda& agenda;
  const bool principal;
  bool parada = false;
  std::vector<std::pair<Duracao, Tarefa>> retidas;
};

// Wraps a transport callback so that it runs on `fila`, as the real transport's do.
template <class... Argumentos>
std::function<void(Argumentos...)> naFila(ExecutorFalso& fila, std::function<void(Argumentos...)> tratador) {
  return [&fila, tratador = std::move(tratador)](Argumentos... argumentos) {
    fila.agenda.em(fila, [&] { tratador(std::forward<Argumentos>(argumentos)...); });
  };
}

// Like the real transport, a callback already on its way may still arrive after `cancelar`.
struct ConexaoFalsa : Conexao {
  ConexaoFalsa(ExecutorFalso& fila, ParametrosTls parametros, std::string host,
               std::optional<ResultadoBusca> r)
      : fila(fila), host(std::move(host)), resultado(std::move(r)), parametros(std::move(parametros)) {}
  ExecutorFalso& fila;
  std::string host;
  std::optional<ResultadoBusca> resultado;
  ParametrosTls parametros;
  AoMudarEstado aoMudar;
  AoReceber aoReceber;
  bool iniciada = false, cancelada = false;
  std::vector<Bytes> enviados;
  std::optional<std::string> interfaceNome = "eth0";

  void aoMudarEstado(AoMudarEstado tratador) override { aoMudar = naFila(fila, std::move(tratador)); }
  void iniciar() override { iniciada = true; }
  void cancelar() override { cancelada = true; }
  void receber(std::size_t, std::size_t, AoReceber completar) override {
    aoReceber = naFila(fila, std::move(completar));
  }
  void enviar(Bytes mensagem) override { enviados.push_back(std::move(mensagem)); }
  std::string endpoint() const override { return "127.0.0.1:7420"; }
  std::optional<std::string> nomeInterface() const override { return interfaceNome; }
  std::optional<std::uint16_t> suiteNegociada() const override { return 0xCCAC; }

  void mudar(EstadoConexao estado, std::optional<ErroRede> erro = {}) { aoMudar(estado, erro); }
};

struct NavegadorFalso : Navegador {
  NavegadorFalso(ExecutorFalso& fila, ParametrosTls parametros)
      : fila(fila), parametros(std::move(parametros)) {}
  ExecutorFalso& fila;
  ParametrosTls parametros;
  AoMudarResultados aoMudar;
  AoFaltarServico aoFaltar;
  bool iniciado = false, cancelado = false;
  void aoMudarResultados(AoMudarResultados tratador) override { aoMudar = naFila(fila, std::move(tratador)); }
  void aoFaltarServico(AoFaltarServico tratador) override { aoFaltar = naFila(fila, std::move(tratador)); }
  void iniciar() override { iniciado = true; }
  void cancelar() override { cancelado = true; }
};

struct TransporteFalso : Transporte {
  explicit TransporteFalso(ExecutorFalso& fila) : fila(fila) {}
  ExecutorFalso& fila;
  std::vector<std::shared_ptr<ConexaoFalsa>> conexoes;
  std::vector<std::shared_ptr<NavegadorFalso>> navegadores;

  std::shared_ptr<Conexao> conexao(const std::string& host, std::uint16_t, const ParametrosTls& p) override {
    return conexoes.emplace_back(std::make_shared<ConexaoFalsa>(fila, p, host, std::nullopt));
  }
  std::shared_ptr<Conexao> conexao(const ResultadoBusca& resultado, const ParametrosTls& p) override {
    return conexoes.emplace_back(std::make_shared<ConexaoFalsa>(fila, p, "", resultado));
  }
  std::shared_ptr<Navegador> navegador(std::string_view, const ParametrosTls& p) override {
    return navegadores.emplace_back(std::make_shared<NavegadorFalso>(fila, p));
  }
};

struct CamadaFalsa : CamadaVideo {
  std::vector<Amostra> enfileiradas;
  Status estado = Status::normal;
  std::optional<std::string> erroAtual;
  int descargas = 0;
  void enfileirar(Amostra amostra) override { enfileiradas.push_back(std::move(amostra)); }
  Status status() const override { return estado; }
  std::optional<std::string> erro() const override { return erroAtual; }
  void descarregar() override { ++descargas, estado = Status::normal; }
  void descarregarERemoverImagem() override {}
  void medirAoVivo(bool ligado) override { medindo = ligado; }
  ResumoVideo resumo() const override { return resumoAtual; }
  bool medindo = false;
  ResumoVideo resumoAtual;
};

// Files that begin with 'I' are images.
struct DecodificadorFalso : DecodificadorImagem {
  std::shared_ptr<const ImagemCursor> decodificar(VistaBytes arquivo) const override {
    ++decodificacoes;
    const bool imagem = !arquivo.empty() && arquivo[0] == 'I';
    return imagem ? std::make_shared<const ImagemCursor>(ImagemCursor{1, 1, Bytes(4, 255)}) : nullptr;
  }
  mutable int decodificacoes = 0;
};

// Booleans are kept as the texts "1" and "0".
struct PreferenciasFalsas : Preferencias {
  std::map<std::string, std::string, std::less<>> textos;
  std::optional<std::string> texto(std::string_view preferencia) const override {
    auto achado = textos.find(preferencia);
    return achado == textos.end() ? std::nullopt : std::optional(achado->second);
  }
  bool booleano(std::string_view preferencia) const override { return texto(preferencia) == "1"; }
  void gravarTexto(std::string_view nome, const std::string& valor) override {
    textos[std::string(nome)] = valor;
  }
  void gravarBooleano(std::string_view nome, bool valor) override { gravarTexto(nome, valor ? "1" : "0"); }
  void remover(std::string_view nome) override { textos.erase(std::string(nome)); }
};

struct InicioFalso : InicioAutomatico {
  bool eInstalado = true, entrada = false;
  int ligacoes = 0, desligamentos = 0;
  bool instalado() const override { return eInstalado; }
  bool existe() const override { return entrada; }
  void ligar() override { ++ligacoes, entrada = entrada || eInstalado; }
  void desligar() override { ++desligamentos, entrada = false; }
};

struct CursorLocalFalso : CursorLocal {
  int escondidas = 0, mostradas = 0;
  void esconder() override { ++escondidas; }
  void mostrar() override { ++mostradas; }
};

inline Bytes mensagem(TipoMensagem tipo, const Bytes& payload = {}) {
  return Protocolo::empacotar(tipo, payload);
}
inline Bytes operator+(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}
inline const Bytes parametrosBons = {0, 4, 0x67, 0x42, 0, 0x1F, 0, 2, 0x68, 0xCE};
inline Bytes quadro(std::uint8_t marca) {
  return mensagem(TipoMensagem::quadro, {marca, 0, 0, 0, 1, 0x65});
}
struct Bancada {
  Agenda agenda;
  ExecutorFalso fila{agenda}, principal{agenda, true}, decodificacao{agenda};
  TransporteFalso transporte{fila};
  CamadaFalsa camada;
  // The decoder refuses an SPS whose level byte is 0xFF.
  std::function<bool(const FormatoVideo&)> formatoUtilizavel = [](const FormatoVideo& f) {
    return f.sps.size() < 4 || f.sps[3] != 0xFF;
  };
  DecodificadorFalso imagens;
  PreferenciasFalsas preferencias;
  InicioFalso inicio;
  CursorLocalFalso cursorLocal;
  EstadoTela tela;
  std::vector<std::string> linhas;
  OpcoesReceptor opcoes;
  std::shared_ptr<Receptor> receptor;

  void lancar(std::optional<TamanhoTela> monitor = TamanhoTela{2560, 1440}) {
    receptor = Receptor::criar(
        opcoes, {fila, principal, decodificacao, transporte, camada, formatoUtilizavel, imagens, preferencias,
                 inicio, cursorLocal, tela, [this](std::string_view linha) { linhas.emplace_back(linha); },
                 [this] { return agenda.agora; }});
    receptor->lancar(monitor);
    agenda.rodar();
  }
  // Dials 10.0.0.5 with code 123456, and with `pronta` gets through.
  void discar(bool pronta = true) {
    opcoes.codigo = "123456";
    opcoes.host = "10.0.0.5";
    lancar(std::nullopt);
    if (pronta) {
      mudar(EstadoConexao::pronta);
    }
  }
  ConexaoFalsa& conexao() { return *transporte.conexoes.back(); }
  // Hands bytes to the current receive and lets both threads act on them.
  void receber(const Bytes& dados, bool completo = false, std::optional<ErroRede> erro = {}) {
    std::exchange(conexao().aoReceber, nullptr)(dados, completo, std::move(erro));
    agenda.rodar();
  }
  void mudar(EstadoConexao estado, std::optional<ErroRede> erro = {}) {
    conexao().mudar(estado, std::move(erro));
    agenda.rodar();
  }
  // Types a code and a host into the pairing panel and confirms them.
  void confirmar(std::string codigo, std::string host) {
    tela.campoCodigo = std::move(codigo), tela.campoHost = std::move(host);
    receptor->confirmarPareamento();
    agenda.rodar();
  }
  // Good parameter sets and a key frame: the picture starts.
  void iniciarImagem(bool completo = false) {
    receber(mensagem(TipoMensagem::parametros, parametrosBons) + quadro(1), completo);
  }
};

inline ResultadoBusca resultado(std::string nome) {
  return {std::move(nome), "127.0.0.1", 7420, 1, "lo"};
}
inline const ErroRede erroTls{ErroRede::Tipo::tls, "bad record mac"};
inline ErroRede erroPosix(std::string texto) {
  return {ErroRede::Tipo::posix, std::move(texto)};
}

}  // namespace orbelo::teste
