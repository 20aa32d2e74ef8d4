#include "Sessao.hpp"

#include <cstdio>

#include "Ping.hpp"
#include "protocolo/Mensagens.hpp"
#include "protocolo/Saida.hpp"

namespace orbelo::emissor {

namespace {

// How often the reading thread looks whether its connection was closed by us.
constexpr std::chrono::milliseconds esperaLeitura{200};

std::string ignorada(std::string_view tipo, std::size_t tamanho) {
  return "Mensagem do receptor ignorada: " + std::string(tipo) + " com " + std::to_string(tamanho) +
         " bytes.";
}

}  // namespace

Sessao::~Sessao() {
  std::shared_ptr<Cliente> ultimo;
  {
    std::lock_guard trava(mutex);
    ultimo = atual;
  }
  if (ultimo) {
    ultimo->conexao->fecharLimpo();
  }
}

void Sessao::substituir(std::shared_ptr<CanalTls> conexao) {
  std::shared_ptr<Cliente> antigo;
  std::jthread leitorAntigo;
  {
    std::lock_guard trava(mutex);
    antigo = atual;
    leitorAntigo = std::move(leitor);
  }
  if (antigo) {
    antigo->conexao->fecharLimpo();
  }
  // Its "desconectado" line comes before the new receiver's "conectado".
  leitorAntigo = {};

  imprimirLinha("Receptor conectado: " + conexao->endereco() + " (" + conexao->suite() + ")");
  auto cliente = std::make_shared<Cliente>(std::move(conexao));
  {
    std::lock_guard trava(mutex);
    atual = cliente;
    leitor = std::jthread([this, cliente] { ler(cliente); });
  }
  mudou.notify_all();
}

std::shared_ptr<Cliente> Sessao::esperarCliente(const std::shared_ptr<Cliente>& anterior) {
  std::unique_lock trava(mutex);
  mudou.wait(trava, [&] { return atual && atual != anterior; });
  return atual;
}

bool Sessao::esperar(const Cliente& cliente, std::chrono::steady_clock::time_point ate) {
  std::unique_lock trava(mutex);
  return !mudou.wait_until(trava, ate, [&] { return atual.get() != &cliente; });
}

void Sessao::esquecer(const Cliente& cliente) {
  {
    std::lock_guard trava(mutex);
    if (atual.get() == &cliente) {
      atual.reset();
    }
  }
  mudou.notify_all();
}

void Sessao::ler(const std::shared_ptr<Cliente>& cliente) {
  CanalTls& conexao = *cliente->conexao;
  LeitorMensagens leitorMensagens;
  while (true) {
    auto recebido = conexao.receber(esperaLeitura);
    try {
      for (const auto& mensagem : leitorMensagens.alimentar(recebido.dados)) {
        tratar(*cliente, mensagem);
      }
    } catch (const ErroProtocolo& erro) {
      imprimirLinha("Dados inválidos do receptor: " + std::string(erro.what()) + ".");
      conexao.fecharLimpo();
      break;
    }
    if (recebido.acabou) {
      break;
    }
  }
  imprimirLinha("Receptor desconectado: " + conexao.endereco());
  esquecer(*cliente);
}

void Sessao::tratar(Cliente& cliente, const Mensagem& mensagem) {
  const auto& [tipo, dados] = mensagem;
  switch (tipo) {
    case TipoMensagem::pedirKeyframe:
      imprimirLinha("Keyframe pedido pelo receptor");
      cliente.keyframePedido = true;
      break;
    case TipoMensagem::telaReceptor: {
      const auto tela = Mensagens::TelaReceptor::ler(dados);
      if (!tela) {
        imprimirLinha(ignorada("telaReceptor", dados.size()));
        break;
      }
      imprimirLinha("Tela do receptor: " + std::to_string(tela->largura) + "x" +
                    std::to_string(tela->altura) + ", recursos " + std::to_string(tela->recursos));
      break;
    }
    case TipoMensagem::exibicao: {
      const auto exibicao = Mensagens::Exibicao::ler(dados);
      if (!exibicao) {
        imprimirLinha(ignorada("exibicao", dados.size()));
        break;
      }
      imprimirLinha("Exibição: " + std::to_string(exibicao->quadrosPorSegundo) + " quadros/s");
      break;
    }
    case TipoMensagem::pong: {
      auto idaEVolta = Ping::idaEVolta(dados, std::chrono::steady_clock::now());
      if (!idaEVolta) {
        imprimirLinha(ignorada("pong", dados.size()));
        break;
      }
      char texto[64];
      std::snprintf(texto, sizeof texto, "Ping: %.1f ms",
                    std::chrono::duration<double, std::milli>(*idaEVolta).count());
      imprimirLinha(texto);
      break;
    }
    default:
      // The sender's own message types mean nothing coming from a receiver.
      break;
  }
}

}  // namespace orbelo::emissor
