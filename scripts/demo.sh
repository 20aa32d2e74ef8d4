#!/usr/bin/env bash
# Runs orbelo in a window against the reference sender on loopback, with a fresh code.
# Without a desktop (no DISPLAY) it runs both under Xvfb for a few seconds and saves a
# screenshot instead. Escape (or closing the window) ends the demo.
set -euo pipefail
raiz="$(cd "$(dirname "$0")/.." && pwd)"
bin="$raiz/build/release"
emissor="$bin/tools/emissor/orbelo-emissor"
receptor="$bin/src/receptor/orbelo"
porta="${ORBELO_PORTA_DEMO:-7420}"
codigo="$(od -An -N4 -tu4 /dev/urandom | tr -d ' ' | awk '{printf "%06d", $1 % 1000000}')"

pids=()
terminar() { for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done; }
trap terminar EXIT

"$emissor" --codigo "$codigo" --porta "$porta" --sem-anuncio &
pids+=($!)
sleep 0.5

if [ -n "${DISPLAY:-}" ]; then
  echo "Código de pareamento: $codigo (Esc fecha a janela)"
  "$receptor" --janela --codigo "$codigo" --host 127.0.0.1 --porta "$porta"
else
  export DISPLAY=:78
  # Files left by a server that is gone would stop a new one from starting.
  xdpyinfo >/dev/null 2>&1 || rm -f /tmp/.X78-lock /tmp/.X11-unix/X78
  Xvfb "$DISPLAY" -screen 0 1920x1080x24 -nolisten tcp >/dev/null 2>&1 &
  pids+=($!)
  sleep 1
  "$receptor" --janela --codigo "$codigo" --host 127.0.0.1 --porta "$porta" &
  pids+=($!)
  sleep 8
  import -window root "$raiz/build/demo.png"
  echo "Sem tela: orbelo rodou no Xvfb; a imagem está em $raiz/build/demo.png"
fi
