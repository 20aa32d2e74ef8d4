#!/usr/bin/env bash
# Installs the Debian packages listed in scripts/pacotes.txt that are not yet installed.
set -euo pipefail
cd "$(dirname "$0")"
mapfile -t pacotes < <(grep -v -E '^\s*(#|$)' pacotes.txt)
faltam=()
for p in "${pacotes[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || faltam+=("$p")
done
[ ${#faltam[@]} -eq 0 ] && exit 0
sudo_=""
[ "$(id -u)" -ne 0 ] && sudo_="sudo"
export DEBIAN_FRONTEND=noninteractive
$sudo_ apt-get update -qq
$sudo_ apt-get install -y -qq --no-install-recommends "${faltam[@]}"
