#!/usr/bin/env bash
# The checker on a Wayland compositor (weston, headless) against the clock
# simulator: it starts, sets the clock at start-up and ends cleanly on
# SIGTERM. Skipped where weston or Qt's Wayland plugin is missing.
# Usage: wayland.sh <build-dir>
set -uo pipefail

build=$(realpath "$1")
if ! command -v weston >/dev/null; then
  echo "SKIPPED: weston is not installed (scripts/instalar-dependencias.sh installs it)"
  exit 77
fi
plugins=$(find /usr/lib -path '*qt6/plugins/platforms/libqwayland-generic.so' 2>/dev/null | head -n 1)
if [ -z "$plugins" ]; then
  echo "SKIPPED: Qt's Wayland platform plugin (qt6-wayland) is not installed"
  exit 77
fi

# shellcheck source=tests/comun.sh
source "$(dirname "$0")/comun.sh"

cd "$trabajo" || exit 1
mkdir -m 0700 run
export XDG_RUNTIME_DIR=$trabajo/run WAYLAND_DISPLAY=quarvel-wl QT_QPA_PLATFORM=wayland
unset DISPLAY
weston --backend=headless-backend.so --socket="$WAYLAND_DISPLAY" --idle-time=0 >weston.log 2>&1 &
pids+=($!)
esperar 50 test -S "run/$WAYLAND_DISPLAY" || { falla "weston did not start"; tail -5 weston.log; exit 1; }

ajustes .
"$build/simulator/simulador_reloj" --offset -120.3 --log sim.log --quiet >sim.out 2>&1 &
pids+=($!)
esperar 100 test -L COM1 || { falla "the simulator did not start"; exit 1; }

# Under AddressSanitizer: Qt's Wayland plugins keep allocations to the end,
# some in libraries unloaded by then, which LeakSanitizer cannot name to
# suppress; the same code runs leak-checked on X11 and offscreen.
ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0" \
  "$build/checker/Quarvel430" >checker.out 2>&1 &
checker=$!
comprobar "the checker set the clock under Wayland" esperar 60 grep -qs '"cmd":"CF"' sim.log ||
  cat checker.out
kill -TERM "$checker"
wait "$checker"
igual "exit status after SIGTERM" 0 $?

resumen
