// orbelo-hostil: a sender that misbehaves on purpose, one way per run. It listens on
// 127.0.0.1 with the pairing code's pre-shared key, tells the test what happens through
// single lines on standard output, and waits for a line on standard input where a test
// needs to look at the receiver at a precise moment.
//
//   orbelo-hostil --modo MODO [--porta N] [--codigo C] [--vezes N] [--marcos A,B] [--segundos S]

#include <unistd.h>

#include <charconv>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <iostream>
#include <limits>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "Png.hpp"
#include "ServidorPsk.hpp"

namespace {

using namespace orbelo;
using namespace orbelo::hostil;
using namespace std::chrono_literals;

struct Opcoes {
  std::string modo;
  std::uint16_t porta = 0;
  std::string codigo = "123456";
  int vezes = 1000;
  std::set<int> marcos;
  int segundos = 5;
};

void dizer(const std::string& linha) {
  std::cout << linha << std::endl;
}

// Blocks until the test writes a line.
void aguardarTeste() {
  std::string linha;
  std::getline(std::cin, linha);
}

template <typename T>
T numero(std::string_view texto) {
  T valor{};
  std::from_chars(texto.data(), texto.data() + texto.size(), valor);
  return valor;
}

Opcoes lerOpcoes(int argc, char** argv) {
  Opcoes opcoes;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string_view nome = argv[i], valor = argv[i + 1];
    if (nome == "--modo") opcoes.modo = valor;
    if (nome == "--porta") opcoes.porta = numero<std::uint16_t>(valor);
    if (nome == "--codigo") opcoes.codigo = valor;
    if (nome == "--vezes") opcoes.vezes = numero<int>(valor);
    if (nome == "--segundos") opcoes.segundos = numero<int>(valor);
    if (nome == "--marcos") {
      for (std::size_t inicio = 0; inicio < valor.size();) {
        const auto fim = std::min(valor.find(',', inicio), valor.size());
        opcoes.marcos.insert(numero<int>(valor.substr(inicio, fim - inicio)));
        inicio = fim + 1;
      }
    }
  }
  return opcoes;
}

Bytes payloadConfig(std::uint32_t largura, std::uint32_t altura) {
  Bytes payload;
  anexarBE(payload, largura);
  anexarBE(payload, altura);
  return payload;
}

Bytes payloadCursor(float x, float y, bool visivel) {
  Bytes payload;
  anexarBE(payload, x);
  anexarBE(payload, y);
  payload.push_back(visivel ? 1 : 0);
  return payload;
}

Bytes payloadImagem(float largura, float altura, float pontaX, float pontaY, const Bytes& arquivo) {
  Bytes payload;
  for (const float valor : {largura, altura, pontaX, pontaY}) {
    anexarBE(payload, valor);
  }
  payload.insert(payload.end(), arquivo.begin(), arquivo.end());
  return payload;
}

// Pings `marca` until its pong comes back, reading past everything else the receiver sends:
// proof that the receiver still reads, handles and answers. Pongs may be dropped by a receiver
// whose output is full, so the ping is repeated.
bool confirmarVivo(SessaoPsk& sessao, std::string_view marca, std::chrono::seconds prazo = 20s) {
  const Bytes payload(marca.begin(), marca.end());
  const auto limite = std::chrono::steady_clock::now() + prazo;
  while (std::chrono::steady_clock::now() < limite) {
    if (!sessao.enviar(TipoMensagem::ping, payload)) {
      return false;
    }
    const auto rodada = std::chrono::steady_clock::now() + 500ms;
    while (std::chrono::steady_clock::now() < rodada) {
      const auto mensagem = sessao.receber(100ms);
      if (mensagem && mensagem->first == TipoMensagem::pong && mensagem->second == payload) {
        return true;
      }
    }
  }
  return false;
}

// A receiver that answers a ping is past its handshake and reading.
std::unique_ptr<SessaoPsk> aceitarPronta(ServidorPsk& servidor) {
  while (true) {
    if (auto sessao = servidor.aceitar(); sessao && confirmarVivo(*sessao, "pronto")) {
      dizer("conectado");
      return sessao;
    }
  }
}

void relatarVivo(SessaoPsk& sessao) {
  dizer(confirmarVivo(sessao, "vivo") ? "pong" : "sem pong");
}

// Keeps the connection open, answering nothing, until the receiver goes.
void segurar(SessaoPsk& sessao) {
  while (sessao.enviar(TipoMensagem::config, payloadConfig(1920, 1080))) {
    while (sessao.receber(1s)) {
    }
  }
}

void educado(ServidorPsk& servidor) {
  auto sessao = aceitarPronta(servidor);
  relatarVivo(*sessao);
  segurar(*sessao);
}

void meioQuadro(ServidorPsk& servidor) {
  auto sessao = aceitarPronta(servidor);
  Bytes inicio;
  anexarBE(inicio, std::uint32_t{1 << 20});
  inicio.push_back(static_cast<std::uint8_t>(TipoMensagem::quadro));
  inicio.push_back(1);
  inicio.resize(inicio.size() + 512 * 1024, 0);
  sessao->enviar(inicio);
  dizer("meio quadro");
  // The test kills this process here, mid-frame.
  while (true) {
    pause();
  }
}

void lento(ServidorPsk& servidor) {
  auto sessao = aceitarPronta(servidor);
  Bytes cabecalho;
  anexarBE(cabecalho, Protocolo::comprimentoMaximo);
  cabecalho.push_back(static_cast<std::uint8_t>(TipoMensagem::quadro));
  sessao->enviar(cabecalho);
  dizer("anunciado");
  while (sessao->enviar(Bytes{1})) {
    std::this_thread::sleep_for(1s);
  }
}

void pings(ServidorPsk& servidor, int segundos) {
  auto sessao = aceitarPronta(servidor);
  aguardarTeste();
  const Bytes payload(1024, 0xAB);
  const auto fim = std::chrono::steady_clock::now() + std::chrono::seconds(segundos);
  long enviados = 0;
  // Nothing is read meanwhile: the receiver's answers pile up on its side.
  while (std::chrono::steady_clock::now() < fim && sessao->enviar(TipoMensagem::ping, payload)) {
    ++enviados;
  }
  dizer("pings " + std::to_string(enviados));
  aguardarTeste();
  relatarVivo(*sessao);
  segurar(*sessao);
}

void cursorGigante(ServidorPsk& servidor) {
  auto sessao = aceitarPronta(servidor);
  sessao->enviar(TipoMensagem::config, payloadConfig(1920, 1080));
  sessao->enviar(TipoMensagem::cursor, payloadCursor(0.5F, 0.5F, true));
  const auto gigante = payloadImagem(0.02F, 0.03F, 0, 0, png(50000, 50000));
  for (int i = 0; i < 200; ++i) {
    sessao->enviar(TipoMensagem::imagemCursor, gigante);
  }
  relatarVivo(*sessao);
  segurar(*sessao);
}

void imagemSemFim(ServidorPsk& servidor) {
  auto sessao = aceitarPronta(servidor);
  sessao->enviar(TipoMensagem::config, payloadConfig(1920, 1080));
  sessao->enviar(TipoMensagem::cursor, payloadCursor(0.5F, 0.5F, true));
  for (int i = 0; i < 3; ++i) {
    sessao->enviar(TipoMensagem::imagemCursor, payloadImagem(0.02F, 0.03F, 0, 0, pngSemFim()));
  }
  relatarVivo(*sessao);
  segurar(*sessao);
}

void naoFinitos(ServidorPsk& servidor) {
  constexpr float nan = std::numeric_limits<float>::quiet_NaN();
  constexpr float inf = std::numeric_limits<float>::infinity();
  constexpr float enorme = std::numeric_limits<float>::max();
  auto sessao = aceitarPronta(servidor);
  const auto pixel = png(1, 1);
  sessao->enviar(TipoMensagem::config, payloadConfig(1920, 1080));
  sessao->enviar(TipoMensagem::imagemCursor, payloadImagem(0.02F, 0.03F, 0, 0, pixel));
  for (const auto& [x, y] :
       {std::pair{nan, 0.5F}, {0.5F, inf}, {-inf, nan}, {enorme, -enorme}, {0.5F, 0.5F}}) {
    sessao->enviar(TipoMensagem::cursor, payloadCursor(x, y, true));
  }
  for (const float valor : {nan, inf, -inf, enorme, -enorme}) {
    sessao->enviar(TipoMensagem::imagemCursor, payloadImagem(valor, 0.03F, 0, 0, pixel));
    sessao->enviar(TipoMensagem::imagemCursor, payloadImagem(0.02F, 0.03F, valor, valor, pixel));
  }
  relatarVivo(*sessao);
  segurar(*sessao);
}

void configZero(ServidorPsk& servidor) {
  auto sessao = aceitarPronta(servidor);
  sessao->enviar(TipoMensagem::imagemCursor, payloadImagem(0.02F, 0.03F, 0.5F, 0.5F, png(1, 1)));
  sessao->enviar(TipoMensagem::cursor, payloadCursor(0.5F, 0.5F, true));
  for (const auto& [largura, altura] : {std::pair{0u, 0u}, {0u, 1080u}, {1920u, 0u}, {0xFFFFFFFFu, 1u}}) {
    sessao->enviar(TipoMensagem::config, payloadConfig(largura, altura));
    sessao->enviar(TipoMensagem::cursor, payloadCursor(0.25F, 0.75F, true));
  }
  relatarVivo(*sessao);
  segurar(*sessao);
}

void reconexoes(ServidorPsk& servidor, int vezes, const std::set<int>& marcos) {
  for (int i = 1; i <= vezes; ++i) {
    auto sessao = aceitarPronta(servidor);
    dizer("conexao " + std::to_string(i));
    if (marcos.contains(i)) {
      aguardarTeste();
    }
    sessao->fechar();
  }
  dizer("fim");
}

}  // namespace

int main(int argc, char** argv) {
  // A receiver that goes away shows up as a failed write, not as a signal.
  std::signal(SIGPIPE, SIG_IGN);
  const auto opcoes = lerOpcoes(argc, argv);
  ServidorPsk servidor(opcoes.porta, opcoes.codigo);
  dizer("porta " + std::to_string(servidor.porta()));
  const auto& modo = opcoes.modo;
  if (modo == "educado")
    educado(servidor);
  else if (modo == "meio-quadro")
    meioQuadro(servidor);
  else if (modo == "lento")
    lento(servidor);
  else if (modo == "pings")
    pings(servidor, opcoes.segundos);
  else if (modo == "cursor-gigante")
    cursorGigante(servidor);
  else if (modo == "png-sem-fim")
    imagemSemFim(servidor);
  else if (modo == "nao-finitos")
    naoFinitos(servidor);
  else if (modo == "config-zero")
    configZero(servidor);
  else if (modo == "reconexoes")
    reconexoes(servidor, opcoes.vezes, opcoes.marcos);
  else {
    dizer("modo desconhecido: " + modo);
    return 2;
  }
  return 0;
}
