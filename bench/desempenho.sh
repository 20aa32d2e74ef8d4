#!/usr/bin/env bash
# The video path's cost, in one run on this machine: orbelo against the decode-only
# floor, against the floor of decoding and drawing each picture full screen with
# orbelo's own drawing code, and against ffplay fed the same stream, all drawing on a
# private Xvfb with Mesa's software OpenGL. Everything talks over loopback only.
#
# Usage: bench/desempenho.sh [build folder with ORBELO_BENCH=ON, default build/release] [1080|1440|2160 ...]
# Streams are made once with ffmpeg/libx264 and kept under the build folder. orbelo picks
# its conversion by the renderer (the CPU on this one); ORBELO_CONVERSAO=gpu or cpu in the
# environment forces either, and the table says which ran.
set -euo pipefail
# Character counts for the table's padding, and a dot for decimals.
export LC_ALL=C.UTF-8
raiz="$(cd "$(dirname "$0")/.." && pwd)"
pasta="$(cd "${1:-$raiz/build/release}" && pwd)"
alturas=("${@:2}")
[ ${#alturas[@]} -gt 0 ] || alturas=(1080 1440)
orbelo="$pasta/src/receptor/orbelo"
emissor="$pasta/tools/emissor/orbelo-emissor"
piso="$pasta/bench/orbelo_bench_piso"
alimentador="$pasta/bench/orbelo_bench_alimentador"
for programa in "$orbelo" "$emissor" "$piso" "$alimentador"; do
  [ -x "$programa" ] || { echo "Falta $programa: compile com ORBELO_BENCH=ON."; exit 1; }
done

fps=60
quadros=600           # one run of the file: 10 s at 60 fps
fluxos="$pasta/bench/fluxos"
trabalho="$(mktemp -d)"
pids=()
terminar() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$trabalho"
}
trap terminar EXIT

# ---------------------------------------------------------------- the streams
# Live-sender settings: zero latency, no B-frames, moving test pattern, constant rate.
gerar() {  # NOME LARGURA ALTURA KBPS
  local saida="$fluxos/$1.h264"
  [ -s "$saida" ] && return
  mkdir -p "$fluxos"
  ffmpeg -hide_banner -nostdin -loglevel error -y \
    -f lavfi -i "testsrc2=size=$2x$3:rate=$fps" -frames:v "$quadros" \
    -c:v libx264 -preset veryfast -tune zerolatency -bf 0 \
    -b:v "$4k" -maxrate "$4k" -bufsize "$(($4 / 3))k" -pix_fmt yuv420p -f h264 "$saida.tmp"
  mv "$saida.tmp" "$saida"
}
declare -A larguras=([1080]=1920 [1440]=2560 [2160]=3840) kbps=([1080]=12000 [1440]=20000 [2160]=40000)
for altura in "${alturas[@]}"; do
  [ -n "${larguras[$altura]:-}" ] || { echo "Tamanho desconhecido: $altura (1080, 1440 ou 2160)."; exit 1; }
  gerar "f$altura" "${larguras[$altura]}" "$altura" "${kbps[$altura]}"
done

# ---------------------------------------------------------------- helpers
# CPU seconds (user + system, all threads) of a live process.
cpu() { sed 's/^.*) //' "/proc/$1/stat" | awk -v t="$(getconf CLK_TCK)" '{ printf "%.2f", ($12 + $13) / t }'; }
pico() { awk '/^VmHWM:/ { printf "%.1f", $2 / 1024 }' "/proc/$1/status"; }
vivo() { kill -0 "$1" 2>/dev/null; }

# A private X server of the given size, its display in `exibicao`.
abrirXvfb() {  # LARGURAxALTURA
  local n
  for n in $(seq 90 119); do
    if [ -e "/tmp/.X$n-lock" ] || [ -S "/tmp/.X11-unix/X$n" ]; then continue; fi
    Xvfb ":$n" -screen 0 "$1x24" -nolisten tcp -noreset >/dev/null 2>&1 &
    servidorX=$!
    pids+=($!)
    for _ in $(seq 50); do
      if xdpyinfo -display ":$n" >/dev/null 2>&1; then exibicao=":$n"; return; fi
      sleep 0.1
    done
  done
  echo "Xvfb não abriu."
  exit 1
}

# Percentile P (0..100) of the numbers in a file, one per line.
percentil() { sort -n "$1" | awk -v p="$2" '{ v[NR] = $1 } END { if (NR == 0) { print "-"; exit }
  i = int(p / 100 * NR + 0.999999); if (i < 1) i = 1; if (i > NR) i = NR; printf "%.2f", v[i] }'; }

# ---------------------------------------------------------------- orbelo
# Starts orbelo first, so that its window and fonts are ready before the stream
# begins; CPU is counted from the moment the sender starts until it stops.
medirOrbelo() {  # NOME -> variables o_*
  local nome="$1" porta codigo rastro="$trabalho/$1.csv"
  porta=$((20000 + RANDOM % 20000))
  codigo="$(od -An -N4 -tu4 /dev/urandom | tr -d ' ' | awk '{ printf "%06d", $1 % 1000000 }')"
  mkdir -p "$trabalho/config-$nome"
  DISPLAY="$exibicao" XDG_CONFIG_HOME="$trabalho/config-$nome" XDG_RUNTIME_DIR="$trabalho" ORBELO_MEDIR="$rastro" \
    "$orbelo" --codigo "$codigo" --host 127.0.0.1 --porta "$porta" >"$trabalho/$nome-orbelo.txt" &
  local receptor=$!
  pids+=("$receptor")
  sleep 3
  vivo "$receptor" || { echo "orbelo não abriu:"; cat "$trabalho/$nome-orbelo.txt"; exit 1; }
  local cpu0 cpu1 x0 x1
  cpu0="$(cpu "$receptor")"
  x0="$(cpu "$servidorX")"
  "$emissor" --codigo "$codigo" --escutar 127.0.0.1 --porta "$porta" --sem-anuncio \
    --arquivo "$fluxos/$nome.h264" --fps "$fps" >"$trabalho/$nome-emissor.txt" &
  local remetente=$!
  pids+=("$remetente")
  sleep 1
  vivo "$remetente" || { echo "orbelo-emissor não abriu:"; cat "$trabalho/$nome-emissor.txt"; exit 1; }
  # The receiver retries every second, so it connects within about one; then 10 s of stream.
  sleep $((quadros / fps))
  kill "$remetente"
  sleep 0.5
  cpu1="$(cpu "$receptor")"
  x1="$(cpu "$servidorX")"
  o_pico="$(pico "$receptor")"
  kill "$receptor"
  wait "$receptor" 2>/dev/null || true
  [ -s "$rastro" ] || { echo "orbelo não gravou o rastro:"; cat "$trabalho/$nome-orbelo.txt"; exit 1; }

  # Rows: frame, arrival, decode start, decode end, shown (ns; empty when never shown).
  awk -F, -v l="$trabalho/$nome-latencia.txt" -v d="$trabalho/$nome-decodificacao.txt" \
    -v t="$trabalho/$nome-chegada-tela.txt" '
    NR == 1 { next }
    { decodificados++; dec = ($4 - $3) / 1e6; print dec > d }
    $5 != "" { mostrados++; print ($5 - $2) / 1e6 - dec > l; print ($5 - $2) / 1e6 > t
               if (primeiro == "" || $5 < primeiro) primeiro = $5; if ($5 > ultimo) ultimo = $5 }
    END { printf "%d %d %.2f\n", decodificados, mostrados,
          (ultimo > primeiro) ? (mostrados - 1) / ((ultimo - primeiro) / 1e9) : 0 }' "$rastro" \
    >"$trabalho/$nome-contagem.txt"
  read -r o_decodificados o_mostrados o_fps <"$trabalho/$nome-contagem.txt"
  if [ "$o_decodificados" -eq 0 ]; then
    echo "orbelo não decodificou nada:"
    cat "$trabalho/$nome-orbelo.txt" "$trabalho/$nome-emissor.txt"
    exit 1
  fi
  o_cpu="$(awk -v a="$cpu0" -v b="$cpu1" 'BEGIN { printf "%.2f", b - a }')"
  o_por_quadro="$(awk -v c="$o_cpu" -v n="$o_decodificados" 'BEGIN { printf "%.3f", n ? c * 1e3 / n : 0 }')"
  # The X server's share: what it spends putting each shown frame on its screen.
  o_com_x="$(awk -v c="$o_cpu" -v a="$x0" -v b="$x1" -v n="$o_decodificados" \
    'BEGIN { printf "%.3f", n ? (c + b - a) * 1e3 / n : 0 }')"
  o_tela50="$(percentil "$trabalho/$nome-chegada-tela.txt" 50)"
  o_tela99="$(percentil "$trabalho/$nome-chegada-tela.txt" 99)"
  o_lat50="$(percentil "$trabalho/$nome-latencia.txt" 50)"
  o_lat99="$(percentil "$trabalho/$nome-latencia.txt" 99)"
  o_dec50="$(percentil "$trabalho/$nome-decodificacao.txt" 50)"
  # The sender's own view: frames per second the receiver reported in its `exibicao`
  # messages, the median of the reports made while the stream ran.
  o_relato="$(sed -n 's/^Exibição: \([0-9]*\) quadros\/s$/\1/p' "$trabalho/$nome-emissor.txt" |
    sort -n | awk '{ v[NR] = $1 } END { print NR ? v[int((NR + 1) / 2)] : "-" }')"
}

# ---------------------------------------------------------------- ffplay
# The player a user would pick instead, fed the same file in real time through a pipe.
medirFfplay() {  # NOME -> variables f_*
  local nome="$1" canal="$trabalho/$1.fifo"
  mkfifo "$canal"
  DISPLAY="$exibicao" ffplay -hide_banner -fflags nobuffer -flags low_delay -framedrop -f h264 -i "$canal" \
    >/dev/null 2>"$trabalho/$nome-ffplay.txt" &
  local jogador=$!
  pids+=("$jogador")
  sleep 2
  local cpu0 cpu1
  cpu0="$(cpu "$jogador")"
  "$alimentador" "$fluxos/$nome.h264" "$fps" "$quadros" >"$canal"
  sleep 0.5
  cpu1="$(cpu "$jogador")"
  f_pico="$(pico "$jogador")"
  kill "$jogador"
  wait "$jogador" 2>/dev/null || true
  f_cpu="$(awk -v a="$cpu0" -v b="$cpu1" 'BEGIN { printf "%.2f", b - a }')"
  f_por_quadro="$(awk -v c="$f_cpu" -v n="$quadros" 'BEGIN { printf "%.3f", c * 1e3 / n }')"
  f_descartados="$(tr '\r' '\n' <"$trabalho/$nome-ffplay.txt" | sed -n 's/.*fd= *\([0-9]*\).*/\1/p' | tail -1)"
}

razao() { awk -v a="$1" -v b="$2" 'BEGIN { if (b > 0) printf "%.2f", a / b; else print "-" }'; }

# ---------------------------------------------------------------- runs
linha() { printf '%s%*s %s\n' "$1" $((56 - ${#1})) '' "$2"; }
for altura in "${alturas[@]}"; do
  nome="f$altura" tela="${larguras[$altura]}x$altura"
  p_por_quadro="$("$piso" "$fluxos/$nome.h264" "$fps" | awk '{ print $6 }')"
  p_seguido="$("$piso" "$fluxos/$nome.h264" 0 | awk '{ print $6 }')"
  # One X server per size, the same for every program that draws.
  abrirXvfb "$tela"
  p_desenho="$(DISPLAY="$exibicao" "$piso" "$fluxos/$nome.h264" "$fps" --desenhar | awk '{ print $6 }')"
  medirOrbelo "$nome"
  medirFfplay "$nome"
  echo
  echo "== $nome: $tela, $fps fps, testsrc2 x264 veryfast zerolatency, $quadros quadros," \
    "conversão ${ORBELO_CONVERSAO:-pelo renderizador} =="
  linha "piso de decodificação (ms CPU/quadro, ao ritmo do fluxo)" "$p_por_quadro"
  linha "  o mesmo, quadros seguidos sem pausa" "$p_seguido"
  linha "piso com desenho em tela cheia (ms CPU/quadro)" "$p_desenho"
  linha "orbelo: CPU (s) / quadros decodificados" "$o_cpu / $o_decodificados"
  linha "orbelo: ms CPU/quadro" "$o_por_quadro"
  linha "orbelo + servidor X: ms CPU/quadro" "$o_com_x"
  linha "orbelo: pico de memória (MB)" "$o_pico"
  linha "orbelo: quadros mostrados / pulados" "$o_mostrados / $((o_decodificados - o_mostrados))"
  linha "orbelo: quadros/s mostrados (rastro) | relato exibicao" "$o_fps | $o_relato"
  linha "orbelo: decodificação p50 (ms)" "$o_dec50"
  linha "ffplay: CPU (s) / ms CPU/quadro" "$f_cpu / $f_por_quadro"
  linha "ffplay: pico de memória (MB) / quadros descartados" "$f_pico / ${f_descartados:--}"
  linha "razão CPU/quadro orbelo ÷ piso" "$(razao "$o_por_quadro" "$p_por_quadro")"
  linha "razão CPU/quadro orbelo ÷ piso com desenho" "$(razao "$o_por_quadro" "$p_desenho")"
  linha "razão CPU/quadro orbelo ÷ ffplay" "$(razao "$o_por_quadro" "$f_por_quadro")"
  linha "razão pico de memória orbelo ÷ ffplay" "$(razao "$o_pico" "$f_pico")"
  linha "latência adicionada p50 / p99 (ms)" "$o_lat50 / $o_lat99"
  linha "da chegada à tela p50 / p99 (ms)" "$o_tela50 / $o_tela99"
done
