#!/usr/bin/env bash
# Starts what the end-to-end tests talk to, on loopback only: a system D-Bus,
# avahi-daemon allowed on `lo` alone, and an Xvfb display. Copes with services
# already running and with stale pid files left by an earlier run.
# Prints the environment the tests need (DISPLAY=...).
set -euo pipefail
exibicao="${ORBELO_DISPLAY:-:77}"
raiz=""
[ "$(id -u)" -ne 0 ] && raiz="sudo"

vivo() { [ -f "$1" ] && kill -0 "$(cat "$1" 2>/dev/null)" 2>/dev/null; }

# System D-Bus.
if ! vivo /run/dbus/pid; then
  $raiz rm -f /run/dbus/pid /run/dbus/system_bus_socket
  $raiz mkdir -p /run/dbus
  $raiz dbus-daemon --system --fork
fi

# avahi-daemon on loopback only.
conf=/run/orbelo-avahi.conf
$raiz tee "$conf" >/dev/null <<'CONF'
[server]
use-ipv4=yes
use-ipv6=no
allow-interfaces=lo
ratelimit-interval-usec=0
[wide-area]
enable-wide-area=no
[publish]
publish-hinfo=no
publish-workstation=no
publish-addresses=yes
[reflector]
enable-reflector=no
CONF
if ! $raiz avahi-daemon --check 2>/dev/null; then
  $raiz rm -f /run/avahi-daemon/pid
  $raiz avahi-daemon --no-drop-root --no-rlimits -D -f "$conf"
  for _ in $(seq 50); do $raiz avahi-daemon --check 2>/dev/null && break; sleep 0.1; done
fi

# Xvfb. Without -noreset the server resets each time its last client leaves, and a
# client connecting meanwhile is dropped: one test's window would then fall back to an
# offscreen driver. A socket or lock file left by a server that is gone (an earlier
# session on this machine) would otherwise pass for a running display.
n="${exibicao#:}"
if ! xdpyinfo -display "$exibicao" >/dev/null 2>&1; then
  rm -f "/tmp/.X$n-lock" "/tmp/.X11-unix/X$n"
  (Xvfb "$exibicao" -screen 0 1920x1080x24 -nolisten tcp -noreset >/dev/null 2>&1 &)
  for _ in $(seq 100); do xdpyinfo -display "$exibicao" >/dev/null 2>&1 && break; sleep 0.1; done
  xdpyinfo -display "$exibicao" >/dev/null 2>&1 || { echo "Xvfb $exibicao did not start" >&2; exit 1; }
fi
echo "DISPLAY=$exibicao"
