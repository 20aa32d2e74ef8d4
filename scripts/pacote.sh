#!/usr/bin/env bash
# The Debian package that `make deb` built, checked the way a user meets it: lintian,
# desktop-file-validate and appstreamcli pass; apt-get installs it; the installed orbelo
# prints its usage, and on its first connection (to the installed orbelo-emissor, on
# loopback) counts as the installed copy and writes its login entry with /usr/bin/orbelo.
# The package is removed again at the end, whatever happened, so the machine is left as it was.
set -euo pipefail
raiz="$(cd "$(dirname "$0")/.." && pwd)"
raiz_=""
[ "$(id -u)" -ne 0 ] && raiz_="sudo"

pacotes=("$raiz"/build/pacote/orbelo_*_"$(dpkg --print-architecture)".deb)
[ ${#pacotes[@]} -eq 1 ] && [ -f "${pacotes[0]}" ] || { echo "no single package in build/pacote; run make deb" >&2; exit 1; }
deb="${pacotes[0]}"
if dpkg-query -W -f='${Status}' orbelo 2>/dev/null | grep -q 'install ok installed'; then
  echo "orbelo is already installed here; this check needs a machine without it" >&2
  exit 1
fi

pasta="$(mktemp -d)"
pids=()
instalado=""
terminar() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  for p in "${pids[@]}"; do wait "$p" 2>/dev/null || true; done
  [ -n "$instalado" ] && $raiz_ apt-get remove -y -qq orbelo >/dev/null
  rm -rf "$pasta"
}
trap terminar EXIT

esperar() {  # up to 30 s for a condition
  for _ in $(seq 300); do eval "$1" && return 0; sleep 0.1; done
  echo "timed out waiting for: $1" >&2
  return 1
}

echo "== lintian"
lintian --fail-on error,warning --info "$deb"
echo "== desktop-file-validate, appstreamcli validate"
dpkg-deb -x "$deb" "$pasta/conteudo"
desktop-file-validate "$pasta"/conteudo/usr/share/applications/*.desktop
appstreamcli validate --no-net "$pasta"/conteudo/usr/share/metainfo/*.metainfo.xml

echo "== apt-get install"
export DEBIAN_FRONTEND=noninteractive
instalado=1
$raiz_ apt-get install -y -qq "$deb" >/dev/null
ajuda="$(/usr/bin/orbelo --ajuda)"
[ "${ajuda%%$'\n'*}" = "Uso: orbelo [opções]" ] || { echo "unexpected usage text: $ajuda" >&2; exit 1; }
echo "orbelo --ajuda: ok"

echo "== launch at login from the installed copy"
eval "$("$raiz/scripts/servicos-teste.sh")"
export DISPLAY
mkdir -m 700 "$pasta/config" "$pasta/execucao"
/usr/bin/orbelo-emissor --codigo 123456 --porta 0 --sem-anuncio >"$pasta/emissor.txt" &
pids+=($!)
esperar "grep -q '^Ouvindo em 127.0.0.1:' '$pasta/emissor.txt'"
porta="$(sed -n 's/^Ouvindo em 127\.0\.0\.1:\([0-9]*\)$/\1/p' "$pasta/emissor.txt")"
XDG_CONFIG_HOME="$pasta/config" XDG_RUNTIME_DIR="$pasta/execucao" \
  /usr/bin/orbelo --janela --codigo 123456 --host 127.0.0.1 --porta "$porta" >"$pasta/orbelo.txt" &
pids+=($!)
entrada="$pasta/config/autostart/com.varovia.receptor.desktop"
esperar "grep -q '^Conectado a 127.0.0.1:$porta ' '$pasta/orbelo.txt'"
esperar "[ -s '$entrada' ]"
grep -qx 'Exec=/usr/bin/orbelo' "$entrada" || { echo "login entry without Exec=/usr/bin/orbelo:" >&2; cat "$entrada" >&2; exit 1; }
echo "login entry: ok ($(grep '^Exec=' "$entrada"))"
