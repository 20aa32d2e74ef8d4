#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "CamadaVideo.hpp"
#include "CursorLocal.hpp"
#include "EstadoTela.hpp"
#include "Executor.hpp"
#include "ImagemCursor.hpp"
#include "InicioAutomatico.hpp"
#include "OpcoesReceptor.hpp"
#include "Preferencias.hpp"
#include "Transporte.hpp"
#include "protocolo/LeitorMensagens.hpp"
#include "protocolo/Medidor.hpp"
#include "protocolo/Mensagens.hpp"

namespace orbelo {

// The platform services the receiver works through; all outlive it.
struct DependenciasReceptor {
  Executor& fila;           // the network thread: the connection lives there
  Executor& principal;      // the main thread: the window and everything it draws
  Executor& decodificacao;  // a worker: pointer images are decoded there, never on the main thread
  Transporte& transporte;
  CamadaVideo& camada;
  // Whether the decoder can use a stream's parameter sets; safe from any thread.
  std::function<bool(const FormatoVideo&)> formatoUtilizavel;
  DecodificadorImagem& imagens;
  Preferencias& preferencias;
  InicioAutomatico& inicioAutomatico;
  CursorLocal& cursorLocal;
  EstadoTela& tela;
  Impressora imprimir;       // a line on standard output when empty
  Medidor::Relogio relogio;  // the monotonic clock when empty
};

// The application: finds the sender, keeps the link, turns the stream into pictures
// and pointer moves, and tells the user what it is doing.
class Receptor : public std::enable_shared_from_this<Receptor> {
  struct Passe {
    explicit Passe() = default;
  };

 public:
  // What may wait for the main thread and the decoding worker before the socket is left unread.
  static constexpr std::size_t limiteEmEspera = std::size_t{64} << 20;
  // No pointer needs more; a larger image payload is dropped unread.
  static constexpr std::size_t limiteImagemCursor = std::size_t{4} << 20;

  static std::shared_ptr<Receptor> criar(OpcoesReceptor opcoes, const DependenciasReceptor& dependencias);
  Receptor(Passe, OpcoesReceptor opcoes, const DependenciasReceptor& dependencias);

  // Main thread.
  void lancar(std::optional<TamanhoTela> telaDoMonitor);
  void abrirPareamento();
  void confirmarPareamento();
  void redimensionar(double largura, double altura);
  // The full-screen window's monitor now has this size in pixels: another one, or a new mode.
  void mudouDeMonitor(TamanhoTela monitor);
  // Shows or hides the statistics overlay, and remembers the choice.
  void alternarEstatisticas();
  // Once the window has closed: the connection and the browser go, on `fila`, and nothing
  // is tried again.
  void encerrar();

  // Null when the payload is malformed or its records are not an SPS and a PPS.
  static std::shared_ptr<const FormatoVideo> criarFormato(VistaBytes payload);
  // A frame's payload, flag byte first, as a sample whose NAL units keep the payload's
  // own storage. None without NAL units or a format.
  static std::optional<Amostra> criarAmostra(Bytes quadro, std::shared_ptr<const FormatoVideo> formato);

 private:
  struct Tamanho {
    double largura = 0;
    double altura = 0;
  };
  // Hot spot as fractions of the picture, from its top-left corner.
  struct PosicaoCursor {
    double x = 0;
    double y = 0;
    bool visivel = false;
  };

  // On `fila`.
  void iniciar(std::string novoCodigo, std::optional<std::string> novoHost, bool salvo);
  void conectar();
  void vigiar(std::int64_t numero);
  void aoEncontrar(const std::shared_ptr<Navegador>& origem, const std::vector<ResultadoBusca>& resultados,
                   const std::string& sufixo, const std::string& codigoDaTentativa);
  void abrir(const std::shared_ptr<Conexao>& nova);
  void aoMudarEstado(const std::shared_ptr<Conexao>& origem, EstadoConexao estado,
                     const std::optional<ErroRede>& erro);
  void aoFalhar(const ErroRede& erro);
  void aoFicarPronta();
  void recusado(const ErroRede& erro);
  void reconectar();
  void parar();
  void cancelarTentativa();
  void receber(const std::shared_ptr<Conexao>& esta);
  void aoReceber(const std::shared_ptr<Conexao>& origem, VistaBytes dados, bool completo,
                 const std::optional<ErroRede>& erro);
  void tratar(TipoMensagem tipo, Bytes dados);
  void tratarConfig(VistaBytes dados);
  void tratarParametros(VistaBytes dados);
  void tratarQuadro(Bytes dados);
  void tratarCursor(VistaBytes dados);
  void tratarImagemCursor(Bytes dados);
  void retomarRecepcao();
  void informarTela(Conexao& pronta);
  void pedirKeyframe();
  void iniciarAvisoDeExibicao();
  void avisarExibicao();
  void agendarEstatisticas(std::uint64_t geracao);
  void medirEstatisticas(std::uint64_t geracao);
  // Notes at once whether a notice shows; the views change on the main thread.
  void mostrarAviso(std::optional<std::string> texto, bool comBotao);

  // On the main thread.
  void mostrarPareamento(std::string codigoMostrado, const std::optional<std::string>& hostMostrado,
                         const std::optional<std::string>& erro);
  void exibir(Amostra amostra);
  void mostrarEstatisticas(bool visiveis);
  void moverCursor();
  void posicionarCursor();
  void aceitarImagemCursor(std::shared_ptr<const ImagemCursor> imagem, FormaCursor forma);

  // On the decoding worker.
  void decodificarImagemCursor(const Bytes& payload, FormaCursor forma, std::uint64_t numero);

  // From any thread: bytes handed on to another thread, and given back once consumed there.
  void entregar(std::size_t bytes);
  void devolver(std::size_t bytes);

  void afirmarNaFila() const;
  void afirmarNoPrincipal() const;

  // Fixed at creation; safe from both threads.
  const OpcoesReceptor opcoes;
  Executor& fila;
  Executor& principal;
  Executor& decodificacao;
  Transporte& transporte;
  const std::function<bool(const FormatoVideo&)> formatoUtilizavel;
  Preferencias& preferencias;
  InicioAutomatico& inicioAutomatico;
  Impressora imprimir;

  // Safe from both threads. Bytes of frames and pointer images that wait for another thread:
  // above a cap the socket is not read until they drain, so TCP slows the sender down.
  std::atomic<std::size_t> bytesEmEspera{0};
  // The newest pointer image asked for: older ones still waiting are not decoded.
  std::atomic<std::uint64_t> imagemCursorMaisNova{0};
  // Only the newest pointer position waits for the main thread.
  std::mutex travaPosicao;
  std::optional<PosicaoCursor> posicaoPendente;

  // Only on `fila`.
  std::optional<std::string> codigo;
  std::optional<std::string> host;
  bool codigoVeioSalvo = false;
  std::shared_ptr<Navegador> navegador;
  std::shared_ptr<Conexao> conexao;
  LeitorMensagens leitor;
  std::shared_ptr<const FormatoVideo> formato;
  bool aguardandoKeyframe = true;
  bool avisoVisivel = true;
  bool parado = false;
  std::optional<TamanhoTela> telaPixels;
  bool usandoCabo = false;
  bool caboFalhou = false;
  bool avisouSemAvahi = false;
  bool estabelecida = false;
  std::int64_t tentativa = 0;
  Medidor medidor;
  std::int64_t exibidos = 0;
  // For the statistics overlay: frames and bytes since its last update, links made.
  std::int64_t quadrosRecentes = 0;
  std::int64_t bytesRecentes = 0;
  std::int64_t conexoesProntas = 0;
  std::uint64_t geracaoEstatisticas = 0;      // a new one ends the running updates
  std::shared_ptr<Conexao> recepcaoSuspensa;  // the connection whose next receive waits for room

  // Only on the main thread.
  CamadaVideo& camada;
  DecodificadorImagem& imagens;
  CursorLocal& cursorLocal;
  EstadoTela& tela;
  std::optional<Tamanho> tamanhoVideo;
  std::optional<PosicaoCursor> cursorPosicao;
  std::optional<FormaCursor> cursorForma;
  bool cursorEscondido = false;
};

}  // namespace orbelo
