#!/usr/bin/env bash
# `./hacer demo-sender` without a display, stopped with Ctrl-C as a user
# would: the sender closes the normal way before its virtual display goes,
# the demo ends with 0 and leaves no lock behind.
# Usage: demo.sh <build-dir>
set -uo pipefail
for h in Xvfb xdotool setsid; do
  command -v "$h" >/dev/null || { echo "SKIPPED: $h is not installed"; exit 77; }
done
# shellcheck source=tests/comun.sh
source "$(dirname "$0")/comun.sh"
raiz=$(cd "$(dirname "$0")/.." && pwd)
build=$(realpath "$1")

# Its own session, as a terminal's foreground job: Ctrl-C goes to the group.
(unset DISPLAY WAYLAND_DISPLAY QT_QPA_PLATFORM; exec setsid bash "$raiz/scripts/demo.sh" sender "$build") \
  >"$trabajo/demo.out" 2>&1 &
demo=$!
comprobar "the demo pressed Inicio" esperar 150 grep -q 'Inicio.*pulsado' "$trabajo/demo.out"
comprobar "the chain reached the clock" esperar 50 grep -q '"cmd":"CF"' "$raiz/demo/simulador.log"
kill -INT -- "-$demo"
esperar 100 bash -c "! kill -0 $demo 2>/dev/null"
wait "$demo"
igual "the demo ends with 0 on Ctrl-C" 0 "$?"
comprobar "no lock left behind" test ! -e "$raiz/demo/.Quarvel38.lock"
comprobar "the sender closed the normal way (qv_int.ini written back)" \
  test "$(od -An -c "$raiz/demo/qv_int.ini" | tr -d ' ')" = '1\r\n'
comprobar "no complaint of a broken display" bash -c "! grep -qi 'X11 connection' '$raiz/demo/programa.log'"
resumen
