#include "Cenario.hpp"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "protocolo/LeitorMensagens.hpp"
#include "protocolo/Pareamento.hpp"

namespace orbelo::e2e {

namespace {

// Every line the receiver may print; anything else on its output is a stray.
constexpr std::array prefixosReceptor{
    "Conectado a ",
    "O cabo não levou ao MacBook; tentando por qualquer rede.",
    "Falha na conexão",
    "O MacBook recusou o código ",
    "Conexão encerrada",
    "Dados inválidos do emissor: ",
    "Emissor em ",
    "SPS/PPS inválidos.",
    "Erro de decodificação: ",
    "Recebido: ",
};

std::string chaveHex(std::string_view codigo) {
  std::string hex;
  for (std::uint8_t byte : Pareamento::derivarChave(codigo)) {
    char par[3];
    std::snprintf(par, sizeof par, "%02x", byte);
    hex += par;
  }
  return hex;
}

sockaddr_in loopback(std::uint16_t porta) {
  sockaddr_in endereco{};
  endereco.sin_family = AF_INET;
  endereco.sin_port = htons(porta);
  endereco.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return endereco;
}

std::uint16_t portaDe(int socket) {
  sockaddr_in endereco{};
  socklen_t tamanho = sizeof endereco;
  getsockname(socket, reinterpret_cast<sockaddr*>(&endereco), &tamanho);
  return ntohs(endereco.sin_port);
}

bool pronto(int fd, std::chrono::milliseconds espera) {
  pollfd p{fd, POLLIN, 0};
  return poll(&p, 1, static_cast<int>(espera.count())) > 0;
}

}  // namespace

void prepararServicos() {
  std::string comando = std::string(ORBELO_FONTE) + "/scripts/servicos-teste.sh";
  if (const char* exibicao = std::getenv("DISPLAY"))
    comando = "ORBELO_DISPLAY=" + std::string(exibicao) + " " + comando;
  std::unique_ptr<FILE, int (*)(FILE*)> script(popen(comando.c_str(), "r"), pclose);
  ASSERT_TRUE(script);
  char linha[256];
  while (std::fgets(linha, sizeof linha, script.get())) {
    std::string texto(linha);
    if (texto.starts_with("DISPLAY=")) {
      texto = texto.substr(8);
      while (!texto.empty() && texto.back() == '\n') texto.pop_back();
      setenv("DISPLAY", texto.c_str(), 1);
    }
  }
  ASSERT_EQ(pclose(script.release()), 0) << "scripts/servicos-teste.sh failed";
}

std::uint16_t portaLivre() {
  const int s = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  auto endereco = loopback(0);
  bind(s, reinterpret_cast<sockaddr*>(&endereco), sizeof endereco);
  const auto porta = portaDe(s);
  close(s);
  return porta;
}

bool escutando(std::uint16_t porta) {
  // Read from the kernel's table: a probing connection would be a client to the peer.
  std::ifstream tabela("/proc/net/tcp");
  char procurado[32];
  std::snprintf(procurado, sizeof procurado, "0100007F:%04X", porta);
  std::string linha;
  while (std::getline(tabela, linha)) {
    std::istringstream campos(linha);
    std::string indice, local, remoto, estado;
    campos >> indice >> local >> remoto >> estado;
    if (local == procurado && estado == "0A") return true;
  }
  return false;
}

PastaTemporaria::PastaTemporaria() {
  std::string modelo = (std::filesystem::temp_directory_path() / "orbelo-e2e-XXXXXX").string();
  if (!mkdtemp(modelo.data())) throw std::runtime_error("mkdtemp");
  caminho_ = modelo;
}

PastaTemporaria::~PastaTemporaria() {
  std::error_code ignorado;
  std::filesystem::remove_all(caminho_, ignorado);
}

Orbelo::Orbelo(const PastaTemporaria& configuracao, std::vector<std::string> argumentos)
    : processo(
          [&] {
            argumentos.insert(argumentos.begin(), ORBELO_BINARIO);
            return argumentos;
          }(),
          {"XDG_CONFIG_HOME=" + configuracao.caminho().string()}) {}

Orbelo::~Orbelo() {
  // Collects what is still in the pipe; no line starts with this.
  processo.esperarLinha("\x01", 300ms);
  EXPECT_EQ(processo.erros(), "") << "orbelo wrote to standard error";
  for (const auto& linha : processo.linhas()) {
    bool conhecida = false;
    for (std::string_view prefixo : prefixosReceptor) conhecida = conhecida || linha.starts_with(prefixo);
    EXPECT_TRUE(conhecida) << "unexpected line from orbelo: " << linha;
  }
}

std::optional<std::string> Orbelo::esperarLinha(const std::string& prefixo,
                                                std::chrono::milliseconds espera) {
  return processo.esperarLinha(prefixo, espera);
}

std::optional<std::string> Orbelo::esperarLinha(std::initializer_list<std::string_view> prefixos,
                                                std::chrono::milliseconds espera) {
  const auto limite = std::chrono::steady_clock::now() + espera;
  while (true) {
    const auto resta =
        std::chrono::duration_cast<std::chrono::milliseconds>(limite - std::chrono::steady_clock::now());
    auto linha = processo.esperarLinha("", std::max(resta, 0ms));
    if (!linha) return std::nullopt;
    for (auto prefixo : prefixos) {
      if (linha->starts_with(prefixo)) return linha;
    }
  }
}

Emissor::Emissor(Opcoes opcoes) {
  std::vector<std::string> argumentos{ORBELO_EMISSOR, "--codigo", std::string(codigoCerto), "--porta",
                                      std::to_string(opcoes.porta)};
  if (!opcoes.anunciar) argumentos.emplace_back("--sem-anuncio");
  argumentos.insert(argumentos.end(), opcoes.extras.begin(), opcoes.extras.end());
  processo = std::make_unique<Processo>(argumentos);
  auto ouvindo = processo->esperarLinha("Ouvindo em ");
  if (!ouvindo) throw std::runtime_error("orbelo-emissor did not start: " + processo->erros());
  porta_ = static_cast<std::uint16_t>(std::stoi(ouvindo->substr(ouvindo->rfind(':') + 1)));
}

std::optional<std::string> Emissor::esperarLinha(const std::string& prefixo,
                                                 std::chrono::milliseconds espera) {
  return processo->esperarLinha(prefixo, espera);
}

ServidorPsk::ServidorPsk(std::string_view codigo) : porta_(portaLivre()) {
  processo = std::make_unique<Processo>(std::vector<std::string>{
      "openssl", "s_server", "-quiet", "-nocert", "-psk", chaveHex(codigo), "-psk_identity", "varovia",
      "-tls1_2", "-cipher", "PSK-AES128-GCM-SHA256", "-accept", "127.0.0.1:" + std::to_string(porta_)});
  const auto limite = std::chrono::steady_clock::now() + 10s;
  while (!escutando(porta_)) {
    if (std::chrono::steady_clock::now() > limite) throw std::runtime_error("s_server did not listen");
    processo->esperarFim(20ms);
  }
}

bool ServidorPsk::receberMais(std::chrono::steady_clock::time_point limite) {
  const auto resta =
      std::chrono::duration_cast<std::chrono::milliseconds>(limite - std::chrono::steady_clock::now());
  if (resta <= 0ms || processo->saidaTerminou()) return false;
  const auto dados = processo->ler(resta);
  recebidos_.insert(recebidos_.end(), dados.begin(), dados.end());
  return true;
}

Bytes ServidorPsk::recebidos(std::size_t quantos, std::chrono::milliseconds espera) {
  const auto limite = std::chrono::steady_clock::now() + espera;
  while (recebidos_.size() < quantos && receberMais(limite)) {
  }
  return Bytes(recebidos_.begin(),
               recebidos_.begin() + static_cast<std::ptrdiff_t>(std::min(quantos, recebidos_.size())));
}

std::optional<Bytes> ServidorPsk::mensagem(TipoMensagem tipo, std::chrono::milliseconds espera) {
  const auto limite = std::chrono::steady_clock::now() + espera;
  do {
    LeitorMensagens leitor;
    for (auto& [tipoLido, payload] : leitor.alimentar(recebidos_)) {
      if (tipoLido == tipo) return payload;
    }
  } while (receberMais(limite));
  return std::nullopt;
}

OuvinteMudo::OuvinteMudo() {
  escuta = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  auto endereco = loopback(0);
  if (bind(escuta, reinterpret_cast<sockaddr*>(&endereco), sizeof endereco) != 0 || listen(escuta, 4) != 0) {
    throw std::runtime_error("listen");
  }
  porta_ = portaDe(escuta);
}

OuvinteMudo::~OuvinteMudo() {
  if (par >= 0) close(par);
  close(escuta);
}

bool OuvinteMudo::aceitar(std::chrono::milliseconds espera) {
  const auto inicio = std::chrono::steady_clock::now();
  if (!pronto(escuta, espera)) return false;
  par = accept4(escuta, nullptr, nullptr, SOCK_CLOEXEC);
  if (par < 0) return false;
  const auto resta = espera - std::chrono::duration_cast<std::chrono::milliseconds>(
                                  std::chrono::steady_clock::now() - inicio);
  std::array<char, 4096> bloco;
  return pronto(par, std::max(resta, 0ms)) && recv(par, bloco.data(), bloco.size(), 0) > 0;
}

bool OuvinteMudo::pareFechou(std::chrono::milliseconds espera) {
  const auto limite = std::chrono::steady_clock::now() + espera;
  std::array<char, 4096> bloco;
  while (true) {
    const auto resta =
        std::chrono::duration_cast<std::chrono::milliseconds>(limite - std::chrono::steady_clock::now());
    if (resta <= 0ms || !pronto(par, resta)) return false;
    if (recv(par, bloco.data(), bloco.size(), 0) <= 0) return true;
  }
}

bool OuvinteMudo::outraConexao(std::chrono::milliseconds espera) {
  return pronto(escuta, espera);
}

std::filesystem::path caminhoPreferencias(const PastaTemporaria& configuracao) {
  return configuracao / "orbelo/preferencias.json";
}

std::optional<nlohmann::json> lerPreferencias(const PastaTemporaria& configuracao) {
  std::ifstream arquivo(caminhoPreferencias(configuracao));
  if (!arquivo) return std::nullopt;
  auto lido = nlohmann::json::parse(arquivo, nullptr, false);
  if (lido.is_discarded()) return std::nullopt;
  return lido;
}

}  // namespace orbelo::e2e
