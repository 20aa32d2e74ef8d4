#include "Apoio.hpp"

#include <cstdio>
#include <stdexcept>

#include "protocolo/Pareamento.hpp"

namespace orbelo::teste {

namespace {

std::string chaveHex(std::string_view codigo) {
  std::string hex;
  for (std::uint8_t byte : Pareamento::derivarChave(codigo)) {
    char par[3];
    std::snprintf(par, sizeof par, "%02x", byte);
    hex += par;
  }
  return hex;
}

}  // namespace

EmissorTeste::EmissorTeste(std::vector<std::string> argumentos, bool padroes,
                           const std::vector<std::string>& ambiente) {
  argumentos.insert(argumentos.begin(), ORBELO_EMISSOR);
  if (padroes) {
    for (const char* a : {"--codigo", codigoTeste.data(), "--porta", "0", "--sem-anuncio"})
      argumentos.emplace_back(a);
  }
  emissor = std::make_unique<Processo>(argumentos, ambiente);
  auto ouvindo = emissor->esperarLinha("Ouvindo em ");
  if (!ouvindo) throw std::runtime_error("orbelo-emissor did not start: " + emissor->erros());
  porta_ = static_cast<std::uint16_t>(std::stoi(ouvindo->substr(ouvindo->rfind(':') + 1)));
}

namespace {

std::vector<std::string> linhaSClient(std::uint16_t porta, std::string_view codigo, const std::string& host,
                                      const std::vector<std::string>& extras) {
  std::string destino = host.find(':') != std::string::npos ? "[" + host + "]" : host;
  std::vector<std::string> linha{
      "openssl",       "s_client", "-quiet",  "-psk",     chaveHex(codigo),
      "-psk_identity", "varovia",  "-tls1_2", "-connect", destino + ":" + std::to_string(porta)};
  linha.insert(linha.end(), extras.begin(), extras.end());
  return linha;
}

}  // namespace

ClienteTls::ClienteTls(std::uint16_t porta, std::string_view codigo, const std::string& host,
                       const std::vector<std::string>& extras)
    : cliente(linhaSClient(porta, codigo, host, extras)) {}

std::optional<Mensagem> ClienteTls::proxima(std::chrono::milliseconds espera) {
  auto limite = std::chrono::steady_clock::now() + espera;
  while (fila.empty()) {
    auto resta =
        std::chrono::duration_cast<std::chrono::milliseconds>(limite - std::chrono::steady_clock::now());
    if (resta <= 0ms || cliente.saidaTerminou()) return std::nullopt;
    for (auto& mensagem : leitor.alimentar(cliente.ler(resta))) fila.push_back(std::move(mensagem));
  }
  Mensagem mensagem = std::move(fila.front());
  fila.pop_front();
  return mensagem;
}

std::optional<Mensagem> ClienteTls::proximaDoTipo(TipoMensagem tipo, std::chrono::milliseconds espera) {
  auto limite = std::chrono::steady_clock::now() + espera;
  while (true) {
    auto resta =
        std::chrono::duration_cast<std::chrono::milliseconds>(limite - std::chrono::steady_clock::now());
    auto mensagem = proxima(std::max(resta, 0ms));
    if (!mensagem || mensagem->first == tipo) return mensagem;
  }
}

void ClienteTls::enviar(TipoMensagem tipo, VistaBytes payload) {
  cliente.escrever(Protocolo::empacotar(tipo, payload));
}

bool ClienteTls::esperarFim(std::chrono::milliseconds espera) {
  auto limite = std::chrono::steady_clock::now() + espera;
  while (!cliente.saidaTerminou()) {
    auto resta =
        std::chrono::duration_cast<std::chrono::milliseconds>(limite - std::chrono::steady_clock::now());
    if (resta <= 0ms) return false;
    cliente.ler(resta);
  }
  return true;
}

DecodificadorTeste::DecodificadorTeste(VistaBytes parametros)
    : pacote(av_packet_alloc()), imagem(av_frame_alloc()) {
  std::vector<Bytes> registros;
  for (std::size_t i = 0; registros.size() < 2 && i + 2 <= parametros.size();) {
    std::size_t n = lerBE<std::uint16_t>(parametros, i);
    if (i + 2 + n > parametros.size()) break;
    registros.emplace_back(parametros.begin() + static_cast<std::ptrdiff_t>(i + 2),
                           parametros.begin() + static_cast<std::ptrdiff_t>(i + 2 + n));
    i += 2 + n;
  }
  if (registros.size() != 2 || registros[0].size() < 4) throw std::runtime_error("bad parametros payload");
  const Bytes& sps = registros[0];
  const Bytes& pps = registros[1];
  Bytes avcc{1, sps[1], sps[2], sps[3], 0xFF, 0xE1};
  anexarBE(avcc, static_cast<std::uint16_t>(sps.size()));
  avcc.insert(avcc.end(), sps.begin(), sps.end());
  avcc.push_back(1);
  anexarBE(avcc, static_cast<std::uint16_t>(pps.size()));
  avcc.insert(avcc.end(), pps.begin(), pps.end());

  const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_H264);
  contexto.reset(avcodec_alloc_context3(codec));
  contexto->extradata = static_cast<std::uint8_t*>(av_mallocz(avcc.size() + AV_INPUT_BUFFER_PADDING_SIZE));
  std::copy(avcc.begin(), avcc.end(), contexto->extradata);
  contexto->extradata_size = static_cast<int>(avcc.size());
  contexto->flags |= AV_CODEC_FLAG_LOW_DELAY;
  contexto->err_recognition = AV_EF_EXPLODE;
  if (avcodec_open2(contexto.get(), codec, nullptr) < 0)
    throw std::runtime_error("H.264 decoder refused avcC");
}

DecodificadorTeste::Resultado DecodificadorTeste::decodificar(VistaBytes unidades) {
  Resultado resultado;
  av_new_packet(pacote.get(), static_cast<int>(unidades.size()));
  std::copy(unidades.begin(), unidades.end(), pacote->data);
  resultado.erro = avcodec_send_packet(contexto.get(), pacote.get());
  av_packet_unref(pacote.get());
  while (avcodec_receive_frame(contexto.get(), imagem.get()) == 0) {
    ++resultado.imagens;
    resultado.largura = imagem->width;
    resultado.altura = imagem->height;
    av_frame_unref(imagem.get());
  }
  return resultado;
}

Bytes payloadTela(std::uint32_t largura, std::uint32_t altura, std::uint32_t recursos) {
  Bytes payload;
  anexarBE(payload, largura);
  anexarBE(payload, altura);
  anexarBE(payload, recursos);
  return payload;
}

}  // namespace orbelo::teste
