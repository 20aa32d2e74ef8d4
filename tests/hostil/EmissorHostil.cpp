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
#include <thread>

#include "apoio/Apoio.hpp"

namespace {

using namespace orbelo;
using namespace orbelo::teste;
namespace Mensagens = orbelo::emissor::Mensagens;

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

std::uint32_t crc32(VistaBytes dados) {
  std::uint32_t crc = 0xFFFFFFFF;
  for (const auto byte : dados) {
    crc ^= byte;
    for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ (0xEDB88320 & (0u - (crc & 1)));
  }
  return ~crc;
}

void anexarPedaco(Bytes& arquivo, std::string_view tipo, const Bytes& conteudo) {
  anexarBE(arquivo, static_cast<std::uint32_t>(conteudo.size()));
  Bytes pedaco(tipo.begin(), tipo.end());
  pedaco.insert(pedaco.end(), conteudo.begin(), conteudo.end());
  arquivo.insert(arquivo.end(), pedaco.begin(), pedaco.end());
  anexarBE(arquivo, crc32(pedaco));
}

// A PNG declaring `largura` by `altura` RGBA pixels. Whole, it carries one red pixel: a
// picture at 1 by 1, a lie at any other size. Cut, it ends after its second chunk's header.
Bytes png(std::uint32_t largura, std::uint32_t altura, bool inteiro = true) {
  Bytes arquivo{0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  Bytes cabecalho;
  anexarBE(cabecalho, largura);
  anexarBE(cabecalho, altura);
  cabecalho.insert(cabecalho.end(), {8, 6, 0, 0, 0});
  anexarPedaco(arquivo, "IHDR", cabecalho);
  if (!inteiro) {
    anexarBE(arquivo, std::uint32_t{7});
    arquivo.insert(arquivo.end(), {'t', 'I', 'M', 'E'});
    return arquivo;
  }
  // One row, no filter, stored uncompressed in a zlib stream; its Adler-32 worked out by hand.
  anexarPedaco(arquivo, "IDAT",
               {0x78, 0x01, 0x01, 5, 0, 0xFA, 0xFF, 0, 0xFF, 0, 0, 0xFF, 0x05, 0x00, 0x01, 0xFF});
  anexarPedaco(arquivo, "IEND", {});
  return arquivo;
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
  while (sessao.enviar(Mensagens::config({1920, 1080}))) {
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
  } else if (nome == "cursor-gigante" || nome == "png-sem-fim") {
    sessao->enviar(Mensagens::config({1920, 1080}));
    sessao->enviar(Mensagens::cursor(0.5F, 0.5F, true));
    const bool gigante = nome == "cursor-gigante";
    const auto imagem =
        Mensagens::imagemCursor({0.02F, 0.03F, 0, 0}, gigante ? png(50000, 50000) : png(8, 8, false));
    for (int i = 0; i < (gigante ? 200 : 3); ++i) sessao->enviar(imagem);
  } else if (nome == "nao-finitos") {
    const auto pixel = png(1, 1);
    sessao->enviar(Mensagens::config({1920, 1080}));
    sessao->enviar(Mensagens::imagemCursor({0.02F, 0.03F, 0, 0}, pixel));
    for (const auto& [x, y] :
         {std::pair{nan, 0.5F}, {0.5F, inf}, {-inf, nan}, {enorme, -enorme}, {0.5F, 0.5F}})
      sessao->enviar(Mensagens::cursor(x, y, true));
    for (const float valor : {nan, inf, -inf, enorme, -enorme}) {
      sessao->enviar(Mensagens::imagemCursor({valor, 0.03F, 0, 0}, pixel));
      sessao->enviar(Mensagens::imagemCursor({0.02F, 0.03F, valor, valor}, pixel));
    }
  } else if (nome == "config-zero") {
    sessao->enviar(Mensagens::imagemCursor({0.02F, 0.03F, 0.5F, 0.5F}, png(1, 1)));
    sessao->enviar(Mensagens::cursor(0.5F, 0.5F, true));
    // -1 goes out as 4294967295.
    for (const auto& [largura, altura] : {std::pair{0, 0}, {0, 1080}, {1920, 0}, {-1, 1}}) {
      sessao->enviar(Mensagens::config({largura, altura}));
      sessao->enviar(Mensagens::cursor(0.25F, 0.75F, true));
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
