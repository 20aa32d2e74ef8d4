// orbelo-hostil: a sender that misbehaves on purpose, one way per run. It listens on
// 127.0.0.1 with the pairing code's pre-shared key, tells the test what happens through
// single lines on standard output, and waits for a line on standard input where a test
// needs to look at the receiver at a precise moment.
//
//   orbelo-hostil --modo MODO [--porta N] [--vezes N] [--pausa N] [--segundos S]

#include <unistd.h>

#include <csignal>
#include <iostream>
#include <limits>
#include <map>
#include <optional>
#include <thread>

#include "ImagensHostis.hpp"
#include "apoio/Apoio.hpp"

namespace {

using namespace orbelo;
using namespace orbelo::teste;

struct Opcoes {
  std::map<std::string, std::string> valores{
      {"--porta", "0"}, {"--vezes", "1000"}, {"--segundos", "5"}, {"--pausa", "0"}};
  int numero(const std::string& nome) const { return std::stoi(valores.at(nome)); }
};

void dizer(const std::string& linha) {
  std::cout << linha << std::endl;
}

// Blocks until the test writes a line.
void aguardarTeste() {
  std::string linha;
  std::getline(std::cin, linha);
}

// The pointer images of the modes that send one over and over, and how many times.
std::optional<std::pair<Bytes, int>> imagemHostil(const std::string& modo) {
  if (modo == "cursor-gigante") return std::pair{pngDeUmPixel(50000, 50000), 200};
  if (modo == "png-sem-fim") {
    auto cortado = pngDeUmPixel(8, 8);
    cortado.resize(41);  // after the second chunk's header
    return std::pair{cortado, 3};
  }
  if (modo == "png-bomba") return std::pair{bombaPng(2048), 3};
  if (modo == "tiff-disfarcado") return std::pair{tiffDisfarcado(), 3};
  if (modo == "imagem-enorme") return std::pair{bombaPng(5120), 2};  // 5 MiB
  return std::nullopt;
}

// Pings `marca` until its pong comes back, reading past everything else the receiver sends:
// proof that it still reads, handles and answers. A receiver whose output is full may drop
// pongs, so the ping is repeated.
bool confirmarVivo(SessaoPsk& sessao, std::string_view marca) {
  const Bytes payload(marca.begin(), marca.end());
  const auto limite = std::chrono::steady_clock::now() + 20s;
  while (std::chrono::steady_clock::now() < limite) {
    if (!sessao.enviar(TipoMensagem::ping, payload)) return false;
    const auto rodada = std::chrono::steady_clock::now() + 500ms;
    while (std::chrono::steady_clock::now() < rodada) {
      const auto mensagem = sessao.receber(100ms);
      if (mensagem && mensagem->first == TipoMensagem::pong && mensagem->second == payload) return true;
    }
  }
  return false;
}

// A receiver that answers a ping is past its handshake and reading.
std::unique_ptr<SessaoPsk> aceitarPronta(emissor::Servidor& servidor) {
  while (true) {
    if (auto sessao = std::make_unique<SessaoPsk>(servidor);
        sessao->aberta() && confirmarVivo(*sessao, "pronto")) {
      dizer("conectado");
      return sessao;
    }
  }
}

// Says whether the receiver still answers, then keeps the connection open until it goes.
void relatarESegurar(SessaoPsk& sessao) {
  dizer(confirmarVivo(sessao, "vivo") ? "pong" : "sem pong");
  while (sessao.enviar(Mensagens::Config{1920, 1080}.empacotar())) {
    while (sessao.receber(1s)) {
    }
  }
}

void modo(const std::string& nome, emissor::Servidor& servidor, const Opcoes& opcoes) {
  constexpr float nan = std::numeric_limits<float>::quiet_NaN();
  constexpr float inf = std::numeric_limits<float>::infinity();
  constexpr float enorme = std::numeric_limits<float>::max();
  if (nome == "reconexoes") {
    for (int i = 1; i <= opcoes.numero("--vezes"); ++i) {
      auto sessao = aceitarPronta(servidor);
      dizer("conexao " + std::to_string(i));
      if (i == opcoes.numero("--pausa") || i == opcoes.numero("--vezes")) aguardarTeste();
      sessao->fechar();
    }
    return dizer("fim");
  }
  auto sessao = aceitarPronta(servidor);
  if (nome == "meio-quadro") {
    Bytes inicio;
    anexarBE(inicio, std::uint32_t{1 << 20});
    inicio.insert(inicio.end(), {static_cast<std::uint8_t>(TipoMensagem::quadro), 1});
    inicio.resize(inicio.size() + 512 * 1024, 0);
    sessao->enviar(inicio);
    dizer("meio quadro");
    while (true) pause();  // the test kills this process here, mid-frame
  } else if (nome == "lento") {
    Bytes cabecalho;
    anexarBE(cabecalho, Protocolo::comprimentoMaximo);
    cabecalho.push_back(static_cast<std::uint8_t>(TipoMensagem::quadro));
    sessao->enviar(cabecalho);
    dizer("anunciado");
    while (sessao->enviar(Bytes{1})) std::this_thread::sleep_for(1s);
    return;
  } else if (nome == "pings") {
    aguardarTeste();
    const Bytes payload(1024, 0xAB);
    const auto fim = std::chrono::steady_clock::now() + std::chrono::seconds(opcoes.numero("--segundos"));
    long enviados = 0;
    // Nothing is read meanwhile: the receiver's answers pile up on its side.
    while (std::chrono::steady_clock::now() < fim && sessao->enviar(TipoMensagem::ping, payload)) ++enviados;
    dizer("pings " + std::to_string(enviados));
    aguardarTeste();
  } else if (const auto imagem = imagemHostil(nome)) {
    sessao->enviar(Mensagens::Config{1920, 1080}.empacotar());
    sessao->enviar(Mensagens::Cursor{0.5F, 0.5F, true}.empacotar());
    const auto mensagem = Mensagens::ImagemCursor{{0.02F, 0.03F, 0, 0}, imagem->first}.empacotar();
    for (int i = 0; i < imagem->second; ++i) sessao->enviar(mensagem);
  } else if (nome == "nao-finitos") {
    const auto pixel = pngDeUmPixel();
    sessao->enviar(Mensagens::Config{1920, 1080}.empacotar());
    sessao->enviar(Mensagens::ImagemCursor{{0.02F, 0.03F, 0, 0}, pixel}.empacotar());
    for (const auto& [x, y] :
         {std::pair{nan, 0.5F}, {0.5F, inf}, {-inf, nan}, {enorme, -enorme}, {0.5F, 0.5F}})
      sessao->enviar(Mensagens::Cursor{x, y, true}.empacotar());
    for (const float valor : {nan, inf, -inf, enorme, -enorme}) {
      sessao->enviar(Mensagens::ImagemCursor{{valor, 0.03F, 0, 0}, pixel}.empacotar());
      sessao->enviar(Mensagens::ImagemCursor{{0.02F, 0.03F, valor, valor}, pixel}.empacotar());
    }
  } else if (nome == "config-zero") {
    sessao->enviar(Mensagens::ImagemCursor{{0.02F, 0.03F, 0.5F, 0.5F}, pngDeUmPixel()}.empacotar());
    sessao->enviar(Mensagens::Cursor{0.5F, 0.5F, true}.empacotar());
    for (const auto& [largura, altura] : {std::pair{0u, 0u}, {0u, 1080u}, {1920u, 0u}, {4294967295u, 1u}}) {
      sessao->enviar(Mensagens::Config{largura, altura}.empacotar());
      sessao->enviar(Mensagens::Cursor{0.25F, 0.75F, true}.empacotar());
    }
  } else if (nome != "educado") {
    return dizer("modo desconhecido: " + nome);
  }
  relatarESegurar(*sessao);
}

}  // namespace

int main(int argc, char** argv) {
  // A receiver that goes away shows up as a failed write, not as a signal.
  std::signal(SIGPIPE, SIG_IGN);
  Opcoes opcoes;
  for (int i = 1; i + 1 < argc; i += 2) opcoes.valores[argv[i]] = argv[i + 1];
  const auto servidor = servidorPsk(static_cast<std::uint16_t>(opcoes.numero("--porta")));
  dizer("Ouvindo em " + servidor->enderecoLocal());
  modo(opcoes.valores["--modo"], *servidor, opcoes);
}
