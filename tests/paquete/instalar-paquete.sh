#!/usr/bin/env bash
# Installs the .deb with apt-get for real, checks it from the system paths and
# removes it again. This changes the machine, so it only runs with
# QUARVEL_TEST_PAQUETE=1 (as root); otherwise it is skipped (77).
#   instalar-paquete.sh DEB_DIR
set -uo pipefail
# shellcheck source=tests/paquete/comun.sh
. "$(dirname "$0")/comun.sh"

if [ "${QUARVEL_TEST_PAQUETE:-}" != 1 ]; then
    echo "SKIPPED: installing the package changes this machine; set QUARVEL_TEST_PAQUETE=1 to run it"
    exit 77
fi
if [ "$(id -u)" -ne 0 ] || ! command -v apt-get >/dev/null; then
    echo "SKIPPED: needs root and apt-get to install the package"
    exit 77
fi
shopt -s nullglob
debs=("$1"/quarvel_*.deb)
[ ${#debs[@]} -eq 1 ] || { echo "expected one quarvel_*.deb in $1, found ${#debs[@]}" >&2; exit 1; }
deb=$(realpath "${debs[0]}")

tmp=$(mktemp -d)
antes=$(dpkg-query -W -f='${Status}' quarvel 2>/dev/null)
quitar() {
    # Leave an installation that was there before the test alone.
    if [ "$antes" != "install ok installed" ]; then
        DEBIAN_FRONTEND=noninteractive apt-get remove -y -qq quarvel >/dev/null 2>&1
    fi
    rm -rf "$tmp"
}
trap quitar EXIT

export DEBIAN_FRONTEND=noninteractive
apt-get install -y -qq "$deb" >"$tmp/apt.log" 2>&1
estado=$?
comprobar "apt-get install (estado $estado; $(tail -n 3 "$tmp/apt.log"))" test "$estado" -eq 0
comprobar "quarvel instalado" test "$(dpkg-query -W -f='${Status}' quarvel 2>/dev/null)" = "install ok installed"
comprobar "dpkg sin problemas" test -z "$(dpkg --audit quarvel 2>&1)"
for b in Quarvel38 Quarvel430 simulador_reloj quarvel-lanzar; do
    comprobar "$b en PATH" test "$(command -v "$b")" = "/usr/bin/$b"
done
if command -v man >/dev/null; then
    comprobar "man Quarvel38 encontrada" test -n "$(man -w Quarvel38 2>/dev/null)"
fi

# The menu entry's command, through PATH, on a fresh user folder.
env -u LD_LIBRARY_PATH HOME="$tmp/casa" XDG_CONFIG_HOME="$tmp/cfg" QT_QPA_PLATFORM=offscreen \
    timeout 3 quarvel-lanzar Quarvel38 >"$tmp/q38.log" 2>&1
estado=$?
comprobar "Quarvel38 instalado vive hasta el timeout (estado $estado)" test "$estado" -eq 124
comprobar "qv.ini sembrado" iguala_bytes "$tmp/cfg/quarvel/qv.ini" qv_esperado
comprobar "qv_int.ini sembrado" iguala_bytes "$tmp/cfg/quarvel/qv_int.ini" qv_int_esperado
HOME="$tmp/casa" XDG_CONFIG_HOME="$tmp/cfg" quarvel-lanzar --autostart on >/dev/null
comprobar "autostart on desde /usr/share" \
    cmp -s "$tmp/cfg/autostart/io.github.quarvel.Quarvel430.desktop" \
    /usr/share/quarvel/autostart/io.github.quarvel.Quarvel430.desktop

if [ "$antes" != "install ok installed" ]; then
    apt-get remove -y -qq quarvel >"$tmp/apt.log" 2>&1
    comprobar "apt-get remove" test $? -eq 0
    comprobar "binarios retirados" test ! -e /usr/bin/Quarvel38 -a ! -e /usr/bin/quarvel-lanzar
fi

final
