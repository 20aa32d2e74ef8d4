#!/usr/bin/env bash
# Soak run, by hand (not in CI): orbelo in a window against orbelo-emissor streaming 1080p60
# for 30 minutes (or the minutes given), the sender closing each connection after a minute
# of frames so that orbelo reconnects every minute. Prints orbelo's memory and open
# descriptors at the start, every minute and at the end.
# Usage: scripts/soak.sh [minutes]
set -euo pipefail
cd "$(dirname "$0")/.."
minutos="${1:-30}"
codigo=123456

cmake --preset release >/dev/null
cmake --build --preset release --target orbelo orbelo-emissor >/dev/null
eval "$(scripts/servicos-teste.sh)"
export DISPLAY

trabalho=$(mktemp -d)
pids=()
encerrar() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait
  rm -rf "$trabalho"
}
trap encerrar EXIT

build/release/tools/emissor/orbelo-emissor --codigo "$codigo" --porta 0 --sem-anuncio \
  --tamanho 1920x1080 --fps 60 --falha-fechar 3600 >"$trabalho/emissor.log" 2>&1 &
pids+=($!)
for _ in $(seq 100); do grep -q '^Ouvindo em ' "$trabalho/emissor.log" && break; sleep 0.1; done
porta=$(sed -n 's/^Ouvindo em .*:\([0-9]*\)$/\1/p' "$trabalho/emissor.log")

# A runtime folder of its own: an orbelo already open on the desktop must not keep this one out.
XDG_CONFIG_HOME="$trabalho" XDG_RUNTIME_DIR="$trabalho" build/release/src/receptor/orbelo --janela --codigo "$codigo" \
  --host 127.0.0.1 --porta "$porta" >"$trabalho/orbelo.log" 2>&1 &
orbelo=$!
pids+=("$orbelo")

estado() {
  kill -0 "$orbelo" 2>/dev/null || { echo "orbelo is gone:"; tail -n 20 "$trabalho/orbelo.log"; exit 1; }
  local rss pico
  rss=$(awk '/^VmRSS/ {print int($2 / 1024)}' "/proc/$orbelo/status")
  pico=$(awk '/^VmHWM/ {print int($2 / 1024)}' "/proc/$orbelo/status")
  echo "resident ${rss} MiB (peak ${pico} MiB), $(ls "/proc/$orbelo/fd" | wc -l) descriptors," \
    "$(grep -c '^Conectado a ' "$trabalho/orbelo.log") connections so far"
}

# Past the first connection and the decoder's first allocations.
sleep 30
echo "start: $(estado)"
for ((minuto = 1; minuto <= minutos; minuto++)); do
  sleep 60
  echo "minute $minuto: $(estado)"
done
echo "end: $(estado)"
echo "last statistics line: $(grep '^Recebido: ' "$trabalho/orbelo.log" | tail -n 1)"
