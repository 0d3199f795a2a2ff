#!/usr/bin/env bash
# Installs the .deb with apt-get for real, checks it from the system paths and
# removes it again. This changes the machine, so it only runs with
# QUARVEL_TEST_PAQUETE=1 (as root); otherwise it is skipped (77).
#   instalar-paquete.sh DEB_DIR
set -uo pipefail
# shellcheck source=tests/comun.sh
. "$(dirname "$0")/../comun.sh"

if [ "${QUARVEL_TEST_PAQUETE:-}" != 1 ]; then
    echo "SKIPPED: installing the package changes this machine; set QUARVEL_TEST_PAQUETE=1 to run it"
    exit 77
fi
if [ "$(id -u)" -ne 0 ] || ! command -v apt-get >/dev/null; then
    echo "SKIPPED: needs root and apt-get to install the package"
    exit 77
fi
deb=$(un_deb "$1") || exit 1
t=$trabajo

# Leave an installation that was there before the test alone.
instalado() { [ "$(dpkg-query -W -f='${Status}' quarvel 2>/dev/null)" = "install ok installed" ]; }
ya=
instalado && ya=1
quitar() {
    [ -n "$ya" ] || DEBIAN_FRONTEND=noninteractive apt-get remove -y -qq quarvel >/dev/null 2>&1
    fin
}
trap quitar EXIT

export DEBIAN_FRONTEND=noninteractive
apt-get install -y -qq "$deb" >"$t/apt.log" 2>&1
estado=$?
comprobar "apt-get install (estado $estado; $(tail -n 3 "$t/apt.log"))" test "$estado" -eq 0
comprobar "quarvel instalado" instalado
igual "dpkg --audit sin problemas" "" "$(dpkg --audit quarvel 2>&1)"
for b in Quarvel38 Quarvel430 simulador_reloj quarvel-lanzar; do
    igual "$b en PATH" "/usr/bin/$b" "$(command -v "$b")"
done
if command -v man >/dev/null; then
    comprobar "man Quarvel38 encontrada" test -n "$(man -w Quarvel38 2>/dev/null)"
fi

# The menu entry's command, through PATH, on a fresh user folder.
env -u LD_LIBRARY_PATH HOME="$t/casa" XDG_CONFIG_HOME="$t/cfg" QT_QPA_PLATFORM=offscreen \
    timeout 3 quarvel-lanzar Quarvel38 >"$t/q38.log" 2>&1
estado=$?
comprobar "Quarvel38 instalado vive hasta el timeout (estado $estado)" test "$estado" -eq 124
comprobar "qv.ini sembrado" iguala_bytes "$t/cfg/quarvel/qv.ini" qv_ini
comprobar "qv_int.ini sembrado" iguala_bytes "$t/cfg/quarvel/qv_int.ini" qv_int_ini
HOME="$t/casa" XDG_CONFIG_HOME="$t/cfg" quarvel-lanzar --autostart on >/dev/null
comprobar "autostart on desde /usr/share" \
    cmp -s "$t/cfg/autostart/io.github.quarvel.Quarvel430.desktop" \
    /usr/share/quarvel/autostart/io.github.quarvel.Quarvel430.desktop

if [ -z "$ya" ]; then
    apt-get remove -y -qq quarvel >"$t/apt.log" 2>&1
    comprobar "apt-get remove" test $? -eq 0
    comprobar "binarios retirados" test ! -e /usr/bin/Quarvel38 -a ! -e /usr/bin/quarvel-lanzar
fi

resumen
