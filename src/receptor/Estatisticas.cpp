#include "Estatisticas.hpp"

#include "protocolo/Saida.hpp"

namespace orbelo {
namespace {

constexpr const char* desconhecido = "\u2014";
constexpr const char* separador = " \u00B7 ";

std::string ou(const std::optional<std::string>& texto) {
  return texto ? *texto : desconhecido;
}

std::string milissegundos(const std::optional<double>& valor, const char* rotulo) {
  return valor ? decimal(*valor, 1) + " ms (" + rotulo + ")" : std::string(desconhecido);
}

}  // namespace

std::string textoEstatisticas(const Estatisticas& e) {
  const ResumoVideo& v = e.video;
  return "Imagem: " + ou(e.tamanhoImagem) + "\n" + "Recebidos: " + decimal(e.recebidosPorSegundo, 0) +
         " quadros/s" + separador + decimal(e.megabitsPorSegundo, 1) + " Mbps\n" +
         "Mostrados: " + decimal(v.quadrosMostradosPorSegundo, 0) + " quadros/s" + separador +
         std::to_string(v.pulados) + " pulados\n" +
         "Decodificação: " + milissegundos(v.decodificacaoP50Ms, "p50") + "\n" +
         "Da chegada à tela: " + milissegundos(v.chegadaATelaP50Ms, "p50") + separador +
         milissegundos(v.chegadaATelaP99Ms, "p99") + "\n" +
         "Conversão: " + (v.conversao.empty() ? desconhecido : v.conversao) + "\n" +
         "Enlace: " + ou(e.interfaceRede) + separador + ou(e.suite) + "\n" + "Emissor: " + ou(e.emissor) +
         "\n" + "Reconexões: " + std::to_string(e.reconexoes);
}

}  // namespace orbelo
