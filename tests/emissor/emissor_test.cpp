// orbelo-emissor driven as a user or a receiver would: through its command line,
// its standard output and a real TLS peer (openssl s_client).
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <regex>
#include <set>

#include "Apoio.hpp"
#include "NalH264.hpp"

using namespace orbelo;
using namespace orbelo::teste;
namespace fs = std::filesystem;

namespace {

struct Abertura {
  Bytes config;
  Bytes parametros;
  Bytes imagemCursor;
};

// Every connection opens with config, parametros and the pointer image, in this order.
std::optional<Abertura> lerAbertura(ClienteTls& cliente) {
  Abertura abertura;
  for (auto [tipo, destino] : {std::pair{TipoMensagem::config, &abertura.config},
                               std::pair{TipoMensagem::parametros, &abertura.parametros},
                               std::pair{TipoMensagem::imagemCursor, &abertura.imagemCursor}}) {
    auto mensagem = cliente.proxima();
    if (!mensagem || mensagem->first != tipo) return std::nullopt;
    *destino = std::move(mensagem->second);
  }
  return abertura;
}

std::vector<Bytes> lerQuadros(ClienteTls& cliente, int quantos) {
  std::vector<Bytes> quadros;
  while (static_cast<int>(quadros.size()) < quantos) {
    auto quadro = cliente.proximaDoTipo(TipoMensagem::quadro);
    if (!quadro) break;
    quadros.push_back(std::move(quadro->second));
  }
  return quadros;
}

// Size of the picture in a PNG file, read with libavcodec's decoder.
std::pair<int, int> tamanhoPng(VistaBytes png) {
  const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_PNG);
  emissor::CodecPtr contexto(avcodec_alloc_context3(codec));
  emissor::PacotePtr pacote(av_packet_alloc());
  emissor::QuadroPtr imagem(av_frame_alloc());
  avcodec_open2(contexto.get(), codec, nullptr);
  av_new_packet(pacote.get(), static_cast<int>(png.size()));
  std::copy(png.begin(), png.end(), pacote->data);
  if (avcodec_send_packet(contexto.get(), pacote.get()) < 0 ||
      avcodec_receive_frame(contexto.get(), imagem.get()) < 0) {
    return {0, 0};
  }
  return {imagem->width, imagem->height};
}

int perfilH264(const Bytes& parametros) {
  return parametros.size() > 3 ? parametros[3] : -1;
}

class PastaTemporaria {
 public:
  PastaTemporaria() {
    std::string modelo = (fs::temp_directory_path() / "orbelo-emissor-XXXXXX").string();
    caminho = mkdtemp(modelo.data());
  }
  ~PastaTemporaria() { fs::remove_all(caminho); }
  fs::path operator/(const std::string& nome) const { return caminho / nome; }

 private:
  fs::path caminho;
};

bool gerarVideo(const std::string& argumentos) {
  std::string comando = "ffmpeg -nostdin -loglevel error -y " + argumentos;
  return std::system(comando.c_str()) == 0;
}

// Starts the loopback-only D-Bus, avahi-daemon and Xvfb; returns the X display.
std::string iniciarServicos() {
  std::unique_ptr<FILE, int (*)(FILE*)> saida(popen(ORBELO_FONTE "/scripts/servicos-teste.sh", "r"), pclose);
  char linha[256] = {};
  std::string tela;
  while (saida && std::fgets(linha, sizeof linha, saida.get()) != nullptr) {
    std::string texto(linha);
    if (texto.starts_with("DISPLAY=")) tela = texto.substr(8, texto.find_first_of("\r\n") - 8);
  }
  return tela;
}

}  // namespace

// ---- A receiver connected to the test pattern ----

TEST(EmissorComUmReceptor, SendsConfigParametersPointerAndFramesThatDecodeAtTheChosenSize) {
  EmissorTeste emissor({"--tamanho", "320x240", "--fps", "30"});
  ClienteTls cliente(emissor.porta());

  auto abertura = lerAbertura(cliente);
  ASSERT_TRUE(abertura);
  ASSERT_EQ(abertura->config.size(), 8u);
  EXPECT_EQ(lerBE<std::uint32_t>(abertura->config, 0), 320u);
  EXPECT_EQ(lerBE<std::uint32_t>(abertura->config, 4), 240u);

  ASSERT_GT(abertura->imagemCursor.size(), 16u);
  EXPECT_FLOAT_EQ(lerFloatBE(abertura->imagemCursor, 0), 24.0F / 320);
  EXPECT_FLOAT_EQ(lerFloatBE(abertura->imagemCursor, 4), 24.0F / 240);
  EXPECT_EQ(lerFloatBE(abertura->imagemCursor, 8), 0.0F);
  EXPECT_EQ(lerFloatBE(abertura->imagemCursor, 12), 0.0F);
  EXPECT_EQ(tamanhoPng(VistaBytes(abertura->imagemCursor).subspan(16)), std::make_pair(24, 24));

  DecodificadorTeste decodificador(abertura->parametros);
  std::set<std::pair<float, float>> posicoes;
  int quadros = 0;
  bool ping = false;
  while (quadros < 20) {
    auto mensagem = cliente.proxima();
    ASSERT_TRUE(mensagem);
    const auto& [tipo, dados] = *mensagem;
    if (tipo == TipoMensagem::quadro) {
      ASSERT_GE(dados.size(), 2u);
      EXPECT_EQ(dados[0], quadros == 0 ? 1 : 0) << "frame " << quadros;
      auto resultado = decodificador.decodificar(unidadesDe(dados));
      EXPECT_EQ(resultado.erro, 0);
      EXPECT_EQ(resultado.imagens, 1);
      EXPECT_EQ(resultado.largura, 320);
      EXPECT_EQ(resultado.altura, 240);
      ++quadros;
    } else if (tipo == TipoMensagem::cursor) {
      ASSERT_EQ(dados.size(), 9u);
      float x = lerFloatBE(dados, 0);
      float y = lerFloatBE(dados, 4);
      EXPECT_TRUE(x >= 0 && x <= 1 && y >= 0 && y <= 1);
      EXPECT_EQ(dados[8], 1);
      posicoes.emplace(x, y);
    } else if (tipo == TipoMensagem::ping) {
      ping = true;
    }
  }
  EXPECT_TRUE(ping);
  EXPECT_GT(posicoes.size(), 5u) << "the pointer should keep moving";
  EXPECT_TRUE(emissor.processo().esperarLinha("Receptor conectado: 127.0.0.1:"));
  EXPECT_EQ(emissor.processo().erros(), "");
}

TEST(EmissorComUmReceptor, AnswersAKeyFrameRequestWithAFrameThatDecodesOnAFreshDecoder) {
  EmissorTeste emissor({"--tamanho", "320x240"});
  ClienteTls cliente(emissor.porta());
  auto abertura = lerAbertura(cliente);
  ASSERT_TRUE(abertura);
  auto antes = lerQuadros(cliente, 8);
  ASSERT_EQ(antes.size(), 8u);
  for (std::size_t i = 1; i < antes.size(); ++i)
    EXPECT_EQ(antes[i][0], 0) << "periodic key frames are far apart";

  cliente.enviar(TipoMensagem::pedirKeyframe);
  EXPECT_TRUE(emissor.processo().esperarLinha("Keyframe pedido pelo receptor"));
  // Frames already on their way when the request left are not the answer.
  std::vector<Bytes> depois = lerQuadros(cliente, 6);
  auto chave = std::find_if(depois.begin(), depois.end(), [](const Bytes& q) { return q[0] == 1; });
  ASSERT_NE(chave, depois.end());

  DecodificadorTeste novo(abertura->parametros);
  for (auto q = chave; q != depois.end(); ++q) {
    auto resultado = novo.decodificar(unidadesDe(*q));
    EXPECT_EQ(resultado.erro, 0);
    EXPECT_EQ(resultado.imagens, 1);
    EXPECT_EQ(resultado.largura, 320);
  }
}

TEST(EmissorComUmReceptor, PrintsTheReceiversScreenDisplayReportAndRoundTrip) {
  EmissorTeste emissor({"--tamanho", "160x120"});
  ClienteTls cliente(emissor.porta());
  ASSERT_TRUE(lerAbertura(cliente));

  cliente.enviar(TipoMensagem::telaReceptor, payloadTela(2560, 1440, 1));
  EXPECT_TRUE(emissor.processo().esperarLinha("Tela do receptor: 2560x1440, recursos 1"));
  cliente.enviar(TipoMensagem::exibicao, Bytes{0x00, 0x1E});
  EXPECT_TRUE(emissor.processo().esperarLinha("Exibição: 30 quadros/s"));

  auto ping = cliente.proximaDoTipo(TipoMensagem::ping);
  ASSERT_TRUE(ping);
  cliente.enviar(TipoMensagem::pong, ping->second);
  auto linha = emissor.processo().esperarLinha("Ping: ");
  ASSERT_TRUE(linha);
  EXPECT_TRUE(std::regex_match(*linha, std::regex(R"(Ping: \d+\.\d ms)"))) << *linha;
}

TEST(EmissorComUmReceptor, IgnoresShortOrForeignMessagesAndDropsAReceiverThatSendsACorruptStream) {
  EmissorTeste emissor({"--tamanho", "160x120"});
  ClienteTls cliente(emissor.porta());
  ASSERT_TRUE(lerAbertura(cliente));

  cliente.enviar(TipoMensagem::telaReceptor, Bytes{0, 0, 7});
  EXPECT_TRUE(emissor.processo().esperarLinha("Mensagem do receptor ignorada: telaReceptor com 3 bytes."));
  cliente.enviar(TipoMensagem::pong, Bytes{1, 2, 3, 4, 5, 6, 7, 8});
  EXPECT_TRUE(emissor.processo().esperarLinha("Mensagem do receptor ignorada: pong com 8 bytes."));
  cliente.enviar(TipoMensagem::quadro, Bytes{1, 2});
  ASSERT_TRUE(cliente.proximaDoTipo(TipoMensagem::quadro)) << "still serving";

  cliente.processo().escrever(Bytes{0, 0, 0, 0});
  EXPECT_TRUE(emissor.processo().esperarLinha("Dados inválidos do receptor: fluxo de dados corrompido."));
  EXPECT_TRUE(emissor.processo().esperarLinha("Receptor desconectado: "));
  EXPECT_TRUE(cliente.esperarFim());
}

TEST(EmissorComUmReceptor, RefusesAWrongCodeAnotherIdentityOrAnotherSuiteAndKeepsServing) {
  EmissorTeste emissor({"--tamanho", "160x120"});
  const std::vector<std::pair<std::string, std::vector<std::string>>> recusados{
      {"654321", {}},
      {std::string(codigoTeste), {"-psk_identity", "outro"}},
      {std::string(codigoTeste), {"-cipher", "PSK-AES256-GCM-SHA384"}},
  };
  for (const auto& [codigo, extras] : recusados) {
    ClienteTls recusado(emissor.porta(), codigo, "127.0.0.1", extras);
    EXPECT_TRUE(recusado.esperarFim());
    EXPECT_NE(recusado.processo().esperarFim(), 0);
    EXPECT_TRUE(emissor.processo().esperarLinha("Falha de TLS com 127.0.0.1:")) << codigo;
  }
  ClienteTls certo(emissor.porta());
  EXPECT_TRUE(lerAbertura(certo));
}

TEST(EmissorComUmReceptor, AcceptsEachOfTheThreeSuites) {
  EmissorTeste emissor({"--tamanho", "160x120"});
  const std::vector<std::pair<std::string, std::string>> suites{
      {"ECDHE-PSK-CHACHA20-POLY1305", "ECDHE_PSK_WITH_CHACHA20_POLY1305_SHA256"},
      {"ECDHE-PSK-AES128-CBC-SHA", "ECDHE_PSK_WITH_AES_128_CBC_SHA"},
      {"PSK-AES128-GCM-SHA256", "PSK_WITH_AES_128_GCM_SHA256"},
  };
  for (const auto& [cifra, impressa] : suites) {
    ClienteTls cliente(emissor.porta(), codigoTeste, "127.0.0.1", {"-cipher", cifra});
    EXPECT_TRUE(lerAbertura(cliente)) << cifra;
    auto linha = emissor.processo().esperarLinha("Receptor conectado: ");
    ASSERT_TRUE(linha);
    EXPECT_TRUE(linha->ends_with(" (" + impressa + ")")) << *linha;
  }
}

TEST(EmissorComUmReceptor, ANewReceiverReplacesTheOldOneAndStartsWithAKeyFrame) {
  EmissorTeste emissor({"--tamanho", "160x120"});
  ClienteTls primeiro(emissor.porta());
  ASSERT_TRUE(lerAbertura(primeiro));
  ASSERT_EQ(lerQuadros(primeiro, 3).size(), 3u);
  auto conectado = emissor.processo().esperarLinha("Receptor conectado: ");
  ASSERT_TRUE(conectado);

  ClienteTls segundo(emissor.porta());
  auto abertura = lerAbertura(segundo);
  ASSERT_TRUE(abertura);
  auto quadros = lerQuadros(segundo, 2);
  ASSERT_EQ(quadros.size(), 2u);
  EXPECT_EQ(quadros[0][0], 1);
  EXPECT_EQ(DecodificadorTeste(abertura->parametros).decodificar(unidadesDe(quadros[0])).imagens, 1);
  EXPECT_TRUE(primeiro.esperarFim());

  std::string enderecoPrimeiro = conectado->substr(std::string("Receptor conectado: ").size());
  enderecoPrimeiro = enderecoPrimeiro.substr(0, enderecoPrimeiro.find(' '));
  auto desconectado = emissor.processo().esperarLinha("Receptor desconectado: ");
  ASSERT_TRUE(desconectado);
  EXPECT_EQ(*desconectado, "Receptor desconectado: " + enderecoPrimeiro);
  EXPECT_TRUE(emissor.processo().esperarLinha("Receptor conectado: "))
      << "the new one comes after the old one left";
}

TEST(EmissorComUmReceptor, WithoutACodeItPrintsANewOneThatWorksAlsoOnIpv6Loopback) {
  EmissorTeste emissor({"--porta", "0", "--sem-anuncio", "--escutar", "::1", "--tamanho", "160x120"}, false);
  const auto& linhas = emissor.processo().linhas();
  auto codigo = std::find_if(linhas.begin(), linhas.end(),
                             [](const std::string& l) { return l.starts_with("Código de pareamento: "); });
  ASSERT_NE(codigo, linhas.end());
  std::string digitos = codigo->substr(std::string("Código de pareamento: ").size());
  EXPECT_TRUE(std::regex_match(digitos, std::regex(R"(\d{6})"))) << digitos;
  EXPECT_TRUE(linhas.back().starts_with("Ouvindo em [::1]:"));

  ClienteTls cliente(emissor.porta(), digitos, "::1");
  EXPECT_TRUE(lerAbertura(cliente));
}

// ---- Fault injection, seen by the same kind of client ----

TEST(EmissorComFalhas, ACorruptLengthFollowsTheChosenNumberOfFrames) {
  EmissorTeste emissor({"--tamanho", "160x120", "--falha-comprimento", "3"});
  ClienteTls cliente(emissor.porta());
  ASSERT_TRUE(lerAbertura(cliente));
  int quadros = 0;
  EXPECT_THROW(
      while (auto mensagem = cliente.proxima()) {
        if (mensagem->first == TipoMensagem::quadro) ++quadros;
      },
      ErroProtocolo);
  EXPECT_EQ(quadros, 3);
  EXPECT_TRUE(emissor.processo().esperarLinha("Falha injetada: comprimento corrompido"));
}

TEST(EmissorComFalhas, ACleanCloseFollowsTheChosenNumberOfFramesAndTheNextReceiverIsServed) {
  EmissorTeste emissor({"--tamanho", "160x120", "--falha-fechar", "3"});
  ClienteTls cliente(emissor.porta());
  ASSERT_TRUE(lerAbertura(cliente));
  int quadros = 0;
  while (auto mensagem = cliente.proxima()) {
    if (mensagem->first == TipoMensagem::quadro) ++quadros;
  }
  EXPECT_TRUE(cliente.processo().saidaTerminou());
  EXPECT_EQ(quadros, 3);
  EXPECT_EQ(cliente.processo().esperarFim(), 0) << cliente.processo().erros();
  EXPECT_TRUE(emissor.processo().esperarLinha("Falha injetada: conexão fechada"));

  ClienteTls seguinte(emissor.porta());
  EXPECT_TRUE(lerAbertura(seguinte));
  EXPECT_EQ(lerQuadros(seguinte, 3).size(), 3u);
}

TEST(EmissorComFalhas, AResetFollowsTheChosenNumberOfFrames) {
  EmissorTeste emissor({"--tamanho", "160x120", "--falha-reset", "3"});
  ClienteTls cliente(emissor.porta());
  ASSERT_TRUE(lerAbertura(cliente));
  int quadros = 0;
  while (auto mensagem = cliente.proxima()) {
    if (mensagem->first == TipoMensagem::quadro) ++quadros;
  }
  EXPECT_TRUE(cliente.processo().saidaTerminou());
  EXPECT_EQ(quadros, 3);
  EXPECT_NE(cliente.processo().esperarFim(), 0);
  EXPECT_NE(cliente.processo().erros().find("errno=104"), std::string::npos) << "connection reset by peer";
  EXPECT_TRUE(emissor.processo().esperarLinha("Falha injetada: conexão reiniciada"));
}

TEST(EmissorComFalhas, UndecodableBytesReplaceTheFrameAfterTheChosenNumberAndAKeyFrameRecovers) {
  EmissorTeste emissor({"--tamanho", "160x120", "--falha-lixo", "3"});
  ClienteTls cliente(emissor.porta());
  auto abertura = lerAbertura(cliente);
  ASSERT_TRUE(abertura);
  DecodificadorTeste decodificador(abertura->parametros);
  auto quadros = lerQuadros(cliente, 4);
  ASSERT_EQ(quadros.size(), 4u);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(decodificador.decodificar(unidadesDe(quadros[i])).erro, 0);
  EXPECT_EQ(quadros[3][0], 0);
  EXPECT_LT(decodificador.decodificar(unidadesDe(quadros[3])).erro, 0) << "libavcodec must reject it";
  EXPECT_TRUE(emissor.processo().esperarLinha("Falha injetada: quadro indecodificável"));

  cliente.enviar(TipoMensagem::pedirKeyframe);
  auto depois = lerQuadros(cliente, 6);
  auto chave = std::find_if(depois.begin(), depois.end(), [](const Bytes& q) { return q[0] == 1; });
  ASSERT_NE(chave, depois.end());
  EXPECT_EQ(DecodificadorTeste(abertura->parametros).decodificar(unidadesDe(*chave)).imagens, 1);
}

// ---- Command line errors ----

TEST(EmissorLinhaDeComando, RejectsBadOptionsWithOneLineTheUsageAndStatus2) {
  const std::vector<std::pair<std::vector<std::string>, std::string>> casos{
      {{"--nada"}, "Opção desconhecida: --nada."},
      {{"--porta"}, "Falta o valor de --porta."},
      {{"--porta", "70000"}, "Valor inválido para --porta: 70000."},
      {{"--tamanho", "321x240"}, "Valor inválido para --tamanho: 321x240."},
      {{"--tamanho", "640"}, "Valor inválido para --tamanho: 640."},
      {{"--fps", "0"}, "Valor inválido para --fps: 0."},
      {{"--escutar", "localhost"}, "Valor inválido para --escutar: localhost."},
      {{"--codigo", "12 3-45"}, "Código de pareamento inválido: precisa de pelo menos 6 caracteres."},
      {{"--falha-reset", "-1"}, "Valor inválido para --falha-reset: -1."},
      {{"--falha-reset", "1", "--falha-lixo", "2"}, "Use só uma opção de falha."},
      {{"--arquivo", "a.mp4", "--x11", ":0"}, "Use só uma fonte: --arquivo ou --x11."},
      {{"--x11", ":0", "--tamanho", "640x480"}, "--tamanho vale só para o padrão de teste."},
  };
  for (const auto& [argumentos, mensagem] : casos) {
    std::vector<std::string> linha{ORBELO_EMISSOR};
    linha.insert(linha.end(), argumentos.begin(), argumentos.end());
    Processo emissor(linha);
    EXPECT_EQ(emissor.esperarFim(), 2) << mensagem;
    EXPECT_EQ(emissor.esperarLinha(""), mensagem);
    auto uso = emissor.esperarLinha("");
    EXPECT_TRUE(uso && uso->starts_with("Uso: orbelo-emissor")) << mensagem;
    EXPECT_EQ(emissor.erros(), "");
  }
}

TEST(EmissorLinhaDeComando, APortInUseEndsWithStatus1) {
  int ocupante = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in endereco{};
  endereco.sin_family = AF_INET;
  endereco.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t tamanho = sizeof endereco;
  ASSERT_EQ(bind(ocupante, reinterpret_cast<sockaddr*>(&endereco), tamanho), 0);
  ASSERT_EQ(listen(ocupante, 1), 0);
  getsockname(ocupante, reinterpret_cast<sockaddr*>(&endereco), &tamanho);
  std::string porta = std::to_string(ntohs(endereco.sin_port));

  Processo emissor({ORBELO_EMISSOR, "--codigo", "123456", "--sem-anuncio", "--porta", porta});
  EXPECT_EQ(emissor.esperarFim(), 1);
  EXPECT_EQ(emissor.esperarLinha(""), "Porta " + porta + " em uso em 127.0.0.1.");
  close(ocupante);
}

TEST(EmissorLinhaDeComando, AMissingOrUnreadableFileEndsWithStatus1) {
  PastaTemporaria pasta;
  std::string lixo = (pasta / "lixo.mp4").string();
  std::ofstream(lixo) << "isto não é um vídeo";
  for (const std::string& caminho : {(pasta / "nao-existe.mp4").string(), lixo}) {
    Processo emissor({ORBELO_EMISSOR, "--sem-anuncio", "--porta", "0", "--arquivo", caminho});
    EXPECT_EQ(emissor.esperarFim(), 1);
    auto linha = emissor.esperarLinha("");
    ASSERT_TRUE(linha);
    EXPECT_TRUE(linha->starts_with("Arquivo inválido: " + caminho + ": ")) << *linha;
    EXPECT_EQ(emissor.erros(), "");
  }
}

// ---- Other picture sources ----

TEST(EmissorFontes, AnH264FileIsPassedThroughUnchangedLoopsAndAnswersKeyFrameRequests) {
  PastaTemporaria pasta;
  const std::string origem =
      "-f lavfi -i testsrc=size=176x144:rate=25 -frames:v 12 -c:v libx264 -pix_fmt yuv420p -preset fast -bf "
      "0 -g 6 ";
  for (const std::string nome : {"bruto.h264", "caixa.mp4"}) {
    SCOPED_TRACE(nome);
    ASSERT_TRUE(gerarVideo(origem + (pasta / nome).string()));
    EmissorTeste emissor({"--arquivo", (pasta / nome).string(), "--fps", "60"});
    ClienteTls cliente(emissor.porta());
    auto abertura = lerAbertura(cliente);
    ASSERT_TRUE(abertura);
    EXPECT_EQ(lerBE<std::uint32_t>(abertura->config, 0), 176u);
    EXPECT_EQ(lerBE<std::uint32_t>(abertura->config, 4), 144u);
    // Our own encoder would make Constrained Baseline (66); the file is High (100).
    EXPECT_EQ(perfilH264(abertura->parametros), 100);

    DecodificadorTeste decodificador(abertura->parametros);
    auto quadros = lerQuadros(cliente, 30);
    ASSERT_EQ(quadros.size(), 30u) << "more frames than the file holds: it loops";
    int chaves = 0;
    for (const auto& q : quadros) {
      chaves += q[0] == 1;
      auto resultado = decodificador.decodificar(unidadesDe(q));
      EXPECT_EQ(resultado.erro, 0);
      EXPECT_EQ(resultado.imagens, 1);
      EXPECT_EQ(resultado.largura, 176);
    }
    EXPECT_EQ(quadros[0][0], 1);
    EXPECT_EQ(chaves, 5) << "the file's key frames every 6 frames, flagged as such";

    cliente.enviar(TipoMensagem::pedirKeyframe);
    ASSERT_TRUE(emissor.processo().esperarLinha("Keyframe pedido pelo receptor"));
    auto depois = lerQuadros(cliente, 12);
    auto chave = std::find_if(depois.begin(), depois.end(), [](const Bytes& q) { return q[0] == 1; });
    ASSERT_NE(chave, depois.end());
    DecodificadorTeste novo(abertura->parametros);
    for (auto q = chave; q != depois.end(); ++q) EXPECT_EQ(novo.decodificar(unidadesDe(*q)).erro, 0);
  }
}

TEST(EmissorFontes, AFileInAnotherCodecIsReencodedAtAnEvenSize) {
  PastaTemporaria pasta;
  std::string arquivo = (pasta / "outro.avi").string();
  ASSERT_TRUE(gerarVideo("-f lavfi -i testsrc=size=177x99:rate=25 -frames:v 10 -c:v mpeg4 " + arquivo));
  EmissorTeste emissor({"--arquivo", arquivo});
  ClienteTls cliente(emissor.porta());
  auto abertura = lerAbertura(cliente);
  ASSERT_TRUE(abertura);
  EXPECT_EQ(lerBE<std::uint32_t>(abertura->config, 0), 176u);
  EXPECT_EQ(lerBE<std::uint32_t>(abertura->config, 4), 98u);
  EXPECT_EQ(perfilH264(abertura->parametros), 66);
  DecodificadorTeste decodificador(abertura->parametros);
  auto quadros = lerQuadros(cliente, 15);
  ASSERT_EQ(quadros.size(), 15u);
  for (const auto& q : quadros) {
    auto resultado = decodificador.decodificar(unidadesDe(q));
    EXPECT_EQ(resultado.imagens, 1);
    EXPECT_EQ(resultado.largura, 176);
    EXPECT_EQ(resultado.altura, 98);
  }
}

TEST(EmissorFontes, AnX11ScreenIsSentWithItsOwnPointerAndTheOverlayHidden) {
  std::string tela = iniciarServicos();
  ASSERT_FALSE(tela.empty());
  EmissorTeste emissor({"--x11", tela, "--fps", "10"});
  ClienteTls cliente(emissor.porta());
  auto abertura = lerAbertura(cliente);
  ASSERT_TRUE(abertura);
  EXPECT_EQ(lerBE<std::uint32_t>(abertura->config, 0), 1920u);
  EXPECT_EQ(lerBE<std::uint32_t>(abertura->config, 4), 1080u);
  DecodificadorTeste decodificador(abertura->parametros);
  for (const auto& q : lerQuadros(cliente, 3)) {
    auto resultado = decodificador.decodificar(unidadesDe(q));
    EXPECT_EQ(resultado.imagens, 1);
    EXPECT_EQ(resultado.largura, 1920);
  }
  auto cursor = cliente.proximaDoTipo(TipoMensagem::cursor);
  ASSERT_TRUE(cursor);
  EXPECT_EQ(cursor->second[8], 0);
}

TEST(EmissorFontes, AnUnreachableX11DisplayEndsWithStatus1) {
  Processo emissor({ORBELO_EMISSOR, "--sem-anuncio", "--porta", "0", "--x11", ":9999"});
  EXPECT_EQ(emissor.esperarFim(), 1);
  auto linha = emissor.esperarLinha("");
  ASSERT_TRUE(linha);
  EXPECT_TRUE(linha->starts_with("Tela X11 indisponível: :9999: ")) << *linha;
}

// ---- DNS-SD announcement ----

TEST(EmissorAnuncio, TheServiceIsSeenByAvahiBrowseOnLoopback) {
  ASSERT_FALSE(iniciarServicos().empty());
  EmissorTeste emissor({"--codigo", std::string(codigoTeste), "--porta", "0", "--tamanho", "160x120"}, false);
  ASSERT_TRUE(emissor.processo().esperarLinha("Anunciado como \"orbelo-emissor em "));
  std::string porta = std::to_string(emissor.porta());

  Processo navegador({"avahi-browse", "-rtp", "_varovia._tcp"});
  ASSERT_TRUE(navegador.esperarFim(20s));
  bool visto = false;
  while (auto linha = navegador.esperarLinha("=", 1s)) {
    visto = visto || (linha->find(";127.0.0.1;" + porta) != std::string::npos);
  }
  EXPECT_TRUE(visto) << "no resolved _varovia._tcp on 127.0.0.1 port " << porta;
}

TEST(EmissorAnuncio, WithoutAvahiItSaysSoInOneLineAndGoesOnServing) {
  // No system bus at all, then a bus on which no avahi-daemon runs.
  PastaTemporaria pasta;
  std::string barramento = "unix:path=" + (pasta / "barramento").string();
  Processo dbus({"dbus-daemon", "--session", "--nofork", "--print-address=1", "--address=" + barramento});
  ASSERT_TRUE(dbus.esperarLinha("unix:path="));
  for (const std::string& endereco : {std::string("unix:path=/nao/existe"), barramento}) {
    SCOPED_TRACE(endereco);
    EmissorTeste emissor({"--codigo", std::string(codigoTeste), "--porta", "0", "--tamanho", "160x120"},
                         false, {"DBUS_SYSTEM_BUS_ADDRESS=" + endereco});
    ClienteTls cliente(emissor.porta());
    EXPECT_TRUE(lerAbertura(cliente));
    EXPECT_EQ(lerQuadros(cliente, 2).size(), 2u);
    ASSERT_TRUE(emissor.processo().esperarLinha("Receptor conectado: "));
    const auto& linhas = emissor.processo().linhas();
    EXPECT_EQ(std::count_if(linhas.begin(), linhas.end(),
                            [](const std::string& l) { return l.starts_with("Avahi indisponível: "); }),
              1);
  }
}

// ---- H.264 byte-stream helpers ----

TEST(NalH264, SplitsAnnexBOnShortAndLongStartCodesDroppingLeadingBytesAndTrailingZeros) {
  const Bytes fluxo{0xAA, 0, 0, 0, 1, 0x67, 1, 2, 0, 0, 1, 0x68, 3, 0, 0, 0, 0, 1, 0x65, 4, 5, 0};
  auto unidades = emissor::NalH264::dividirAnexoB(fluxo);
  ASSERT_EQ(unidades.size(), 3u);
  EXPECT_EQ(Bytes(unidades[0].begin(), unidades[0].end()), (Bytes{0x67, 1, 2}));
  EXPECT_EQ(Bytes(unidades[1].begin(), unidades[1].end()), (Bytes{0x68, 3}));
  EXPECT_EQ(Bytes(unidades[2].begin(), unidades[2].end()), (Bytes{0x65, 4, 5}));
  EXPECT_TRUE(emissor::NalH264::dividirAnexoB(Bytes{1, 2, 3, 0, 0}).empty());
}

TEST(NalH264, PrefixesEachUnitWithItsLengthAndLeavesOutDelimiters) {
  const Bytes fluxo{0, 0, 0, 1, 0x09, 0xF0, 0, 0, 1, 0x65, 7, 8, 9};
  EXPECT_EQ(emissor::NalH264::prefixarComprimentos(emissor::NalH264::dividirAnexoB(fluxo)),
            (Bytes{0, 0, 0, 4, 0x65, 7, 8, 9}));
}

TEST(NalH264, ParameterSetsChangeOnlyWhenBothAreKnownAndDifferent) {
  std::optional<emissor::ParametrosH264> parametros;
  EXPECT_FALSE(emissor::NalH264::atualizarParametros(emissor::NalH264::dividirAnexoB(Bytes{0, 0, 1, 0x67, 1}),
                                                     parametros));
  EXPECT_FALSE(parametros);
  const Bytes ambos{0, 0, 1, 0x67, 1, 0, 0, 1, 0x68, 2};
  EXPECT_TRUE(emissor::NalH264::atualizarParametros(emissor::NalH264::dividirAnexoB(ambos), parametros));
  EXPECT_FALSE(emissor::NalH264::atualizarParametros(emissor::NalH264::dividirAnexoB(ambos), parametros));
  EXPECT_TRUE(emissor::NalH264::atualizarParametros(emissor::NalH264::dividirAnexoB(Bytes{0, 0, 1, 0x68, 3}),
                                                    parametros));
  EXPECT_EQ(parametros->sps, (Bytes{0x67, 1}));
  EXPECT_EQ(parametros->pps, (Bytes{0x68, 3}));
}
