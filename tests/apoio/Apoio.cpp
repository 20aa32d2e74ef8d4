#include "Apoio.hpp"

#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <regex>
#include <set>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "protocolo/H264.hpp"
#include "protocolo/Pareamento.hpp"

extern char** environ;

namespace orbelo::teste {

namespace fs = std::filesystem;

namespace {

std::chrono::milliseconds restaAte(std::chrono::steady_clock::time_point limite) {
  return std::max(
      0ms, std::chrono::duration_cast<std::chrono::milliseconds>(limite - std::chrono::steady_clock::now()));
}

bool pronto(int fd, std::chrono::milliseconds espera) {
  pollfd p{fd, POLLIN, 0};
  return poll(&p, 1, static_cast<int>(std::min<long long>(espera.count(), 1 << 30))) > 0;
}

// Every line the receiver may print; anything else on its output is a stray.
const std::regex linhasReceptor(
    "^(Conectado a "
    "|O cabo não levou ao MacBook; tentando por qualquer rede\\.$"
    "|A procura pelo MacBook precisa do avahi-daemon; tentando de novo\\.$"
    "|Falha na conexão|O MacBook recusou o código |Conexão encerrada|Dados inválidos do emissor: "
    "|Emissor em |SPS/PPS inválidos\\.$|Erro de decodificação: |Recebido: |Preferências ilegíveis em "
    "|O orbelo já está aberto\\.$)");

// Each as a C string, then a null.
std::vector<char*> vetorC(const std::vector<std::string>& textos) {
  std::vector<char*> ponteiros;
  for (const auto& texto : textos) {
    ponteiros.push_back(const_cast<char*>(texto.c_str()));
  }
  ponteiros.push_back(nullptr);
  return ponteiros;
}

fs::path pastaDe(pid_t processo) {
  return fs::path("/proc") / std::to_string(processo);
}

}  // namespace

Processo::Processo(const std::vector<std::string>& argumentos, const std::vector<std::string>& ambiente) {
  int canos[3][2];
  for (auto& cano : canos) {
    if (pipe2(cano, O_CLOEXEC) != 0) {
      throw std::runtime_error("pipe");
    }
  }
  posix_spawn_file_actions_t acoes;
  posix_spawn_file_actions_init(&acoes);
  // The child's ends: standard input reads, the other two write.
  for (int i = 0; i < 3; ++i) {
    posix_spawn_file_actions_adddup2(&acoes, canos[i][i > 0], i);
  }
  std::vector<std::string> variaveis(ambiente);
  for (char** e = environ; *e != nullptr; ++e) {
    variaveis.emplace_back(*e);
  }
  auto argv = vetorC(argumentos);
  auto envp = vetorC(variaveis);
  const int falha = posix_spawnp(&pid, argv[0], &acoes, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&acoes);
  for (int i = 0; i < 3; ++i) {
    close(canos[i][i > 0]);
  }
  entrada = canos[0][1];
  saida = canos[1][0];
  erro = canos[2][0];
  if (falha != 0) {
    throw std::runtime_error("posix_spawnp " + argumentos[0]);
  }
  signal(SIGPIPE, SIG_IGN);
}

Processo::~Processo() {
  if (!status && pid > 0) {
    kill(pid, SIGTERM);
    if (!esperarFim(3s)) {
      kill(pid, SIGKILL);
      waitpid(pid, nullptr, 0);
    }
  }
  for (int fd : {entrada, saida, erro}) {
    close(fd);
  }
}

void Processo::escrever(VistaBytes dados) {
  for (std::size_t feitos = 0; feitos < dados.size();) {
    const ssize_t n = write(entrada, dados.data() + feitos, dados.size() - feitos);
    if (n <= 0) {
      throw std::runtime_error("write to child");
    }
    feitos += static_cast<std::size_t>(n);
  }
}

Bytes Processo::ler(std::chrono::milliseconds espera) {
  Bytes dados;
  if (fimSaida || !pronto(saida, espera)) {
    return dados;
  }
  dados.resize(256 * 1024);
  const ssize_t n = read(saida, dados.data(), dados.size());
  fimSaida = n <= 0;
  dados.resize(static_cast<std::size_t>(std::max<ssize_t>(n, 0)));
  return dados;
}

std::optional<std::string> Processo::esperarLinha(std::initializer_list<std::string_view> prefixos,
                                                  std::chrono::milliseconds espera) {
  const auto limite = std::chrono::steady_clock::now() + espera;
  while (true) {
    while (lidas < todas.size()) {
      const auto& linha = todas[lidas++];
      for (auto prefixo : prefixos) {
        if (linha.starts_with(prefixo)) {
          return linha;
        }
      }
    }
    if (restaAte(limite) <= 0ms || fimSaida) {
      return std::nullopt;
    }
    const Bytes dados = ler(restaAte(limite));
    pendente.append(dados.begin(), dados.end());
    for (std::size_t fim; (fim = pendente.find('\n')) != std::string::npos; pendente.erase(0, fim + 1)) {
      todas.push_back(pendente.substr(0, fim));
    }
  }
}

std::optional<int> Processo::esperarFim(std::chrono::milliseconds espera) {
  const auto limite = std::chrono::steady_clock::now() + espera;
  while (!status) {
    int bruto = 0;
    if (waitpid(pid, &bruto, WNOHANG) == pid) {
      status = WIFEXITED(bruto) ? WEXITSTATUS(bruto) : 128 + WTERMSIG(bruto);
    } else if (std::chrono::steady_clock::now() >= limite) {
      return std::nullopt;
    } else {
      std::this_thread::sleep_for(20ms);
    }
  }
  return status;
}

std::string Processo::erros() {
  std::string texto;
  char bloco[4096];
  fcntl(erro, F_SETFL, fcntl(erro, F_GETFL) | O_NONBLOCK);
  for (ssize_t n; (n = read(erro, bloco, sizeof bloco)) > 0;) {
    texto.append(bloco, static_cast<std::size_t>(n));
  }
  return texto;
}

PastaTemporaria::PastaTemporaria() {
  std::string modelo = (fs::temp_directory_path() / "orbelo-teste-XXXXXX").string();
  if (!mkdtemp(modelo.data())) {
    throw std::runtime_error("mkdtemp");
  }
  caminho_ = modelo;
  fs::permissions(caminho_, fs::perms(0755));
}

PastaTemporaria::~PastaTemporaria() {
  std::error_code erro;
  for (const auto& item : fs::recursive_directory_iterator(caminho_, erro)) {
    fs::permissions(item.path(), fs::perms::owner_all, fs::perm_options::add, erro);
  }
  fs::remove_all(caminho_, erro);
}

std::string prepararServicos() {
  std::string comando = ORBELO_FONTE "/scripts/servicos-teste.sh";
  if (const char* exibicao = std::getenv("DISPLAY")) {
    comando = "ORBELO_DISPLAY=" + std::string(exibicao) + " " + comando;
  }
  Processo script({"sh", "-c", comando});
  if (auto linha = script.esperarLinha("DISPLAY=", 60s)) {
    setenv("DISPLAY", linha->substr(8).c_str(), 1);
  }
  if (script.esperarFim(60s) != 0) {
    throw std::runtime_error("scripts/servicos-teste.sh failed");
  }
  return std::getenv("DISPLAY");
}

Orbelo::Orbelo(const fs::path& configuracao, std::vector<std::string> argumentos,
               const std::optional<fs::path>& execucao, std::vector<std::string> mais)
    : Processo(
          [&] {
            argumentos.insert(argumentos.begin(), ORBELO_BINARIO);
            return argumentos;
          }(),
          [&] {
            // A folder only its owner may enter, so that only receivers given the same one meet.
            std::string privada = (configuracao / "execucao-XXXXXX").string();
            if (!execucao && !mkdtemp(privada.data())) {
              throw std::runtime_error("mkdtemp " + privada);
            }
            mais.push_back("XDG_CONFIG_HOME=" + configuracao.string());
            mais.push_back("XDG_RUNTIME_DIR=" + execucao.value_or(privada).string());
            return mais;
          }()) {}

Orbelo::~Orbelo() {
  esperarLinha("\x01", 300ms);  // collects what is still in the pipe
  EXPECT_EQ(erros(), "") << "orbelo wrote to standard error";
  for (const auto& linha : linhas()) {
    EXPECT_TRUE(std::regex_search(linha, linhasReceptor)) << "unexpected line from orbelo: " << linha;
  }
}

std::vector<std::string> discar(std::uint16_t porta) {
  return {"--janela",  "--codigo", std::string(codigoTeste), "--host",
          "127.0.0.1", "--porta",  std::to_string(porta)};
}

Emissor::Emissor(const std::vector<std::string>& argumentos, bool anunciar, std::vector<std::string> sob)
    : Processo([&] {
        sob.insert(sob.end(), {ORBELO_EMISSOR, "--codigo", std::string(codigoTeste), "--porta", "0"});
        if (!anunciar) {
          sob.emplace_back("--sem-anuncio");
        }
        sob.insert(sob.end(), argumentos.begin(), argumentos.end());
        return sob;
      }()) {
  const auto ouvindo = esperarLinha("Ouvindo em ");
  if (!ouvindo) {
    throw std::runtime_error("orbelo-emissor did not start: " + erros());
  }
  porta_ = static_cast<std::uint16_t>(std::stoi(ouvindo->substr(ouvindo->rfind(':') + 1)));
}

std::string chaveHex(std::string_view codigo) {
  std::string hex;
  for (std::uint8_t byte : Pareamento::derivarChave(codigo)) {
    hex += {"0123456789abcdef"[byte >> 4], "0123456789abcdef"[byte & 15]};
  }
  return hex;
}

std::unique_ptr<emissor::Servidor> servidorPsk(std::uint16_t porta, std::string_view codigo) {
  auto servidor = emissor::Servidor::abrir("127.0.0.1", porta, Pareamento::derivarChave(codigo));
  if (auto* erro = std::get_if<std::string>(&servidor)) {
    throw std::runtime_error(*erro);
  }
  return std::move(std::get<std::unique_ptr<emissor::Servidor>>(servidor));
}

std::optional<Mensagem> SessaoPsk::receber(std::chrono::milliseconds espera) {
  const auto limite = std::chrono::steady_clock::now() + espera;
  while (recebidas.empty()) {
    const auto recebido = conexao->receber(restaAte(limite));
    for (auto& mensagem : leitor.alimentar(recebido.dados)) {
      recebidas.push_back(std::move(mensagem));
    }
    if (recebidas.empty() && (recebido.acabou || restaAte(limite) <= 0ms)) {
      return std::nullopt;
    }
  }
  auto primeira = std::move(recebidas.front());
  recebidas.pop_front();
  return primeira;
}

Memoria memoria(pid_t processo) {
  const auto texto = conteudo(pastaDe(processo) / "status");
  const auto campo = [&](const std::string& nome) {
    const auto em = texto.find("\n" + nome + ":");
    return em == std::string::npos ? -1 : std::stol(texto.substr(em + nome.size() + 2));
  };
  return {campo("VmRSS"), campo("VmHWM"), campo("VmData")};
}

std::vector<std::string> soquetes(pid_t processo) {
  std::set<std::string> inodes;
  for (const auto& descritor : nomesEm(pastaDe(processo) / "fd")) {
    std::error_code erro;
    const auto alvo = fs::read_symlink(pastaDe(processo) / "fd" / descritor, erro).string();
    if (alvo.starts_with("socket:[")) {
      inodes.insert(alvo.substr(8, alvo.size() - 9));
    }
  }
  std::vector<std::string> encontrados;
  for (const std::string protocolo : {"tcp", "tcp6", "udp", "udp6"}) {
    std::ifstream tabela(pastaDe(processo) / "net" / protocolo);
    std::string linha;
    std::getline(tabela, linha);  // column titles
    while (std::getline(tabela, linha)) {
      // sl, local, remote, state, queues, timer, retransmits, owner, timeout, inode
      std::istringstream linhaLida(linha);
      const std::vector<std::string> campos{std::istream_iterator<std::string>(linhaLida), {}};
      if (campos.size() > 9 && inodes.contains(campos[9])) {
        encontrados.push_back(protocolo + " " + campos[1] + " " + campos[3]);
      }
    }
  }
  return encontrados;
}

bool esperar(const std::function<bool()>& condicao, std::chrono::milliseconds espera) {
  const auto fim = std::chrono::steady_clock::now() + espera;
  while (!condicao()) {
    if (std::chrono::steady_clock::now() > fim) {
      return false;
    }
    std::this_thread::sleep_for(2ms);
  }
  return true;
}

Bytes lerArquivo(const fs::path& arquivo) {
  std::ifstream entrada(arquivo, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(entrada), {});
}

std::string conteudo(const fs::path& arquivo) {
  const auto bytes = lerArquivo(arquivo);
  return {bytes.begin(), bytes.end()};
}

void escrever(const fs::path& arquivo, const std::string& texto) {
  fs::create_directories(arquivo.parent_path());
  std::ofstream(arquivo, std::ios::binary) << texto;
}

std::vector<std::string> nomesEm(const fs::path& pasta) {
  std::vector<std::string> nomes;
  for (const auto& item : fs::directory_iterator(pasta)) {
    nomes.push_back(item.path().filename().string());
  }
  return nomes;
}

std::vector<std::string> semPrivilegios(
    const std::function<void(const std::function<void(std::string_view)>&)>& acao) {
  int tubo[2];
  EXPECT_EQ(pipe(tubo), 0);
  const pid_t filho = fork();
  if (filho == 0) {
    constexpr uid_t ninguem = 65534;
    if (geteuid() == 0 && (setgroups(0, nullptr) || setgid(ninguem) || setuid(ninguem))) {
      _exit(2);
    }
    acao([&](std::string_view linha) {
      const std::string texto = std::string(linha) + "\n";
      if (write(tubo[1], texto.data(), texto.size()) != static_cast<ssize_t>(texto.size())) {
        _exit(3);
      }
    });
    _exit(0);
  }
  close(tubo[1]);
  std::vector<std::string> linhas;
  std::string pendente;
  for (char c; read(tubo[0], &c, 1) == 1;) {
    c == '\n' ? linhas.push_back(std::exchange(pendente, "")) : pendente.push_back(c);
  }
  close(tubo[0]);
  int estado = 0;
  waitpid(filho, &estado, 0);
  EXPECT_TRUE(WIFEXITED(estado) && WEXITSTATUS(estado) == 0) << "child status " << estado;
  return linhas;
}

void ffmpeg(const std::string& argumentos) {
  const auto comando = "ffmpeg -hide_banner -nostdin -loglevel error -y " + argumentos + " >/dev/null 2>&1";
  if (std::system(comando.c_str()) != 0) {
    throw std::runtime_error(comando);
  }
}

FluxoH264 codificar(const PastaTemporaria& pasta, const std::string& fonte, const std::string& opcoes) {
  static int numero = 0;
  FluxoH264 fluxo;
  fluxo.arquivo = pasta / ("fluxo" + std::to_string(numero++) + ".h264");
  ffmpeg("-f lavfi -i \"" + fonte + "\" -c:v libx264 -bf 0 -tune zerolatency -threads 1 " + opcoes +
         " -f h264 '" + fluxo.arquivo.string() + "'");
  const Bytes anexoB = lerArquivo(fluxo.arquivo);
  const auto unidades = H264::dividirAnexoB(anexoB);
  std::optional<Mensagens::Parametros> parametros;
  H264::atualizarParametros(unidades, parametros);
  fluxo.parametros = parametros.value_or(Mensagens::Parametros{});
  // One thread makes one slice per picture: a frame is what comes up to its slice.
  std::vector<VistaBytes> atual;
  for (auto unidade : unidades) {
    const int tipo = H264::tipo(unidade);
    if (tipo != H264::tipoSps && tipo != H264::tipoPps) {
      atual.push_back(unidade);
    }
    if (H264::ehFatia(tipo)) {
      fluxo.quadros.push_back({H264::prefixarComprimentos(atual), tipo == H264::tipoIdr});
      atual.clear();
    }
  }
  return fluxo;
}

}  // namespace orbelo::teste
