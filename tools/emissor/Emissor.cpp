#include "Emissor.hpp"

#include <algorithm>

#include "Cursor.hpp"
#include "Falhas.hpp"
#include "Ping.hpp"
#include "protocolo/Mensagens.hpp"
#include "protocolo/Saida.hpp"

namespace orbelo::emissor {

namespace {

using Relogio = std::chrono::steady_clock;

constexpr auto intervaloCursor = std::chrono::nanoseconds(std::chrono::seconds(1)) / 60;
constexpr std::chrono::seconds intervaloPing{1};

// Moves a periodic deadline on; after a stall it restarts from now instead of catching up in a burst.
void avancar(Relogio::time_point& prazo, Relogio::duration intervalo, Relogio::time_point agora) {
  prazo += intervalo;
  if (prazo < agora) {
    prazo = agora + intervalo;
  }
}

}  // namespace

// Per receiver, only on the sending thread.
struct Emissor::Estado {
  std::uint64_t quadrosEnviados = 0;
  bool falhaInjetada = false;
  Mensagens::Parametros parametrosEnviados;
};

Emissor::Emissor(FonteVideo& fonte, Sessao& sessao, Bytes imagemSeta, std::optional<Falha> falha)
    : fonte(fonte), sessao(sessao), imagemSeta(std::move(imagemSeta)), falha(falha) {}

std::string Emissor::executar() {
  std::shared_ptr<Cliente> anterior;
  while (true) {
    auto cliente = sessao.esperarCliente(anterior);
    if (auto erro = servir(*cliente)) {
      return *erro;
    }
    anterior = std::move(cliente);
  }
}

std::optional<std::string> Emissor::servir(Cliente& cliente) {
  CanalTls& conexao = *cliente.conexao;
  Estado estado;
  auto parametros = fonte.parametros().empacotar();
  if (!parametros) {
    return "SPS/PPS grandes demais para a mensagem parametros.";
  }
  const auto tamanho = fonte.tamanho();
  const Mensagens::Config config{static_cast<std::uint32_t>(tamanho.largura),
                                 static_cast<std::uint32_t>(tamanho.altura)};
  if (!conexao.enviar(config.empacotar()) || !conexao.enviar(*parametros) ||
      !conexao.enviar(Mensagens::ImagemCursor{Cursor::formaSeta(tamanho), imagemSeta}.empacotar())) {
    return std::nullopt;
  }
  estado.parametrosEnviados = fonte.parametros();

  const auto inicio = Relogio::now();
  auto proximoQuadro = inicio;
  auto proximoCursor = inicio;
  auto proximoPing = inicio;
  // The first frame of every connection must decode on its own.
  bool primeiro = true;
  while (true) {
    auto agora = Relogio::now();
    if (agora >= proximoQuadro) {
      bool keyframe = cliente.keyframePedido.exchange(false) || std::exchange(primeiro, false);
      Lote lote = fonte.proximos(keyframe);
      if (lote.erro) {
        return "Fonte de vídeo falhou: " + *lote.erro + ".";
      }
      if (!enviarQuadros(cliente, estado, lote.quadros)) {
        return std::nullopt;
      }
      avancar(proximoQuadro, fonte.intervalo(), Relogio::now());
    }
    if (agora >= proximoCursor) {
      auto posicao = Cursor::posicao(agora - inicio);
      if (!conexao.enviar(Mensagens::Cursor{posicao.x, posicao.y, fonte.ponteiroSeparado()}.empacotar())) {
        return std::nullopt;
      }
      avancar(proximoCursor, intervaloCursor, agora);
    }
    if (agora >= proximoPing) {
      if (!conexao.enviar(Ping::empacotar(agora))) {
        return std::nullopt;
      }
      avancar(proximoPing, intervaloPing, agora);
    }
    if (!sessao.esperar(cliente, std::min({proximoQuadro, proximoCursor, proximoPing}))) {
      return std::nullopt;
    }
  }
}

bool Emissor::enviarQuadros(Cliente& cliente, Estado& estado, const std::vector<QuadroCodificado>& quadros) {
  CanalTls& conexao = *cliente.conexao;
  if (fonte.parametros() != estado.parametrosEnviados) {
    auto parametros = fonte.parametros().empacotar();
    if (!parametros || !conexao.enviar(*parametros)) {
      return false;
    }
    estado.parametrosEnviados = fonte.parametros();
  }
  for (const auto& quadro : quadros) {
    if (falha && !estado.falhaInjetada && estado.quadrosEnviados == falha->depoisDe &&
        !injetarFalha(cliente, estado)) {
      return false;
    }
    if (!conexao.enviar(quadro.empacotar())) {
      return false;
    }
    ++estado.quadrosEnviados;
  }
  return true;
}

bool Emissor::injetarFalha(Cliente& cliente, Estado& estado) {
  CanalTls& conexao = *cliente.conexao;
  estado.falhaInjetada = true;
  imprimirLinha(Falhas::descrever(falha->tipo));
  switch (falha->tipo) {
    case Falha::Tipo::comprimento:
      // The stream is unusable after this; the receiver is left to notice and leave.
      conexao.enviar(Falhas::comprimentoCorrompido());
      while (sessao.esperar(cliente, Relogio::now() + std::chrono::hours(1))) {
      }
      return false;
    case Falha::Tipo::fechar:
      conexao.fecharLimpo();
      return false;
    case Falha::Tipo::lixo:
      if (!conexao.enviar(Falhas::quadroIndecodificavel().empacotar())) {
        return false;
      }
      ++estado.quadrosEnviados;
      return true;
    case Falha::Tipo::parametros: {
      // The same sets again between two frames of one group of pictures, as some senders do.
      const auto parametros = fonte.parametros().empacotar();
      return parametros && conexao.enviar(*parametros);
    }
    case Falha::Tipo::registro:
      // The receiver's TLS fails on a link already up; what follows goes as before.
      return conexao.escreverCru(Falhas::registroTlsEstragado());
  }
  return false;
}

}  // namespace orbelo::emissor
