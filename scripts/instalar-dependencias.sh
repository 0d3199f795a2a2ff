#!/usr/bin/env bash
# Installs what building, running and testing need, from Debian's packages.
# Quiet and idempotent: nothing is done when everything is there.
#   instalar-dependencias.sh             everything
#   instalar-dependencias.sh --compilar  what the build needs (and debootstrap,
#                                        for the container root): make test
#                                        installs the rest beside the build
# QUARVEL_DEPS_OK=1 says a caller has just checked everything (./hacer and
# the Makefile's targets set it for what they start), =compilar the build's
# alone (./hacer test), so one run checks each once.
set -euo pipefail

case ${QUARVEL_DEPS_OK:-}:${1:-} in
1:* | compilar:--compilar) exit 0 ;;
esac

paquetes=(
  build-essential cmake pkg-config ccache
  qt6-base-dev qt6-serialport-dev libgl-dev libxcb1-dev
  libgtest-dev qt6-charts-dev libqt6opengl6-dev debootstrap
)
[ "${1:-}" = --compilar ] || paquetes+=(
  curl prometheus-node-exporter prometheus
  xvfb xauth trayer xdotool x11-utils imagemagick dbus-daemon dbus-bin libglib2.0-bin
  desktop-file-utils appstream lintian weston qt6-wayland xfce4-panel qt6-translations-l10n
  clang libclang-rt-14-dev clang-format clang-tidy cppcheck
  llvm systemd-container
)

# One dpkg-query for the lot; a package it does not know is missing too.
mapfile -t instalados < <(dpkg-query -W -f='${Package} ${Status}\n' "${paquetes[@]}" 2>/dev/null |
  awk '$NF == "installed" && $(NF-1) == "ok" { print $1 }')
faltan=()
for p in "${paquetes[@]}"; do
  [[ " ${instalados[*]} " == *" $p "* ]] || faltan+=("$p")
done
[ ${#faltan[@]} -eq 0 ] && exit 0

sudo=""
if [ "$(id -u)" -ne 0 ]; then
  command -v sudo >/dev/null || { echo "faltan paquetes (${faltan[*]}) y no hay sudo" >&2; exit 1; }
  sudo="sudo"
fi
echo "Instalando: ${faltan[*]}"
export DEBIAN_FRONTEND=noninteractive
# The package lists once an hour at most (make test's two calls read one).
instalar() { $sudo apt-get install -y -qq --no-install-recommends "${faltan[@]}" >/dev/null; }
if [ -n "$(find /var/lib/apt/lists -maxdepth 1 -name '*_Packages*' -mmin -60 2>/dev/null | head -n 1)" ] &&
  instalar 2>/dev/null; then
  exit 0
fi
$sudo apt-get update -qq
instalar
