#!/usr/bin/env bash
# Builds everything under AddressSanitizer, LeakSanitizer and
# UndefinedBehaviorSanitizer into build-san (scripts/configurar-sanitizado.sh)
# and runs the whole CTest suite.
# Exits non-zero on a failing test or on any sanitizer report, including ones
# from programs the tests start (the simulator, the checker), which the tests
# themselves might not notice: every report goes to a log file that is
# checked at the end.
#   scripts/sanitizers.sh            build-san next to the normal build
set -euo pipefail

raiz=$(cd "$(dirname "$0")/.." && pwd)
build=${QUARVEL_SAN_BUILD:-$raiz/build-san}
jobs=${JOBS:-2}

bash "$raiz/scripts/instalar-dependencias.sh"

# QUARVEL_SAN_FASE=construir only builds, =probar only runs the suite (make
# test runs the fuzzing beside the suite); empty does both.
fase=${QUARVEL_SAN_FASE:-}
if [ "$fase" != probar ]; then
  bash "$raiz/scripts/configurar-sanitizado.sh" "$build"
  cmake --build "$build" -j "$jobs" >"$build/asan-build.log" 2>&1 || {
    tail -40 "$build/asan-build.log" >&2
    exit 1
  }
  [ "$fase" = construir ] && exit 0
fi

# Leak suppressions match by function, and reports name their lines, only
# through llvm-symbolizer: without it each program leaves a warning behind.
command -v llvm-symbolizer >/dev/null || {
  echo "sanitizers: falta llvm-symbolizer (apt-get install llvm)" >&2
  exit 1
}

informes="$build/informes-sanitizer"
rm -rf "$informes"
mkdir -p "$informes"

supresiones="$raiz/scripts/lsan.supp"
lsan="print_suppressions=0"
[ -f "$supresiones" ] && lsan+=":suppressions=$supresiones"

export QT_QPA_PLATFORM=offscreen
export ASAN_OPTIONS="detect_leaks=1:log_path=$informes/asan:log_exe_name=1:abort_on_error=0"
export LSAN_OPTIONS="$lsan"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1:log_path=$informes/ubsan:log_exe_name=1"

rc=0
# The package is checked in the normal build: lintian would only find an
# instrumented, unhardened build not fit to ship (and the unit's test under
# systemd installs that package).
(cd "$build" && ctest --output-on-failure -j "$jobs" -E "paquete|servicio_systemd") || rc=$?

informe=0
for f in "$informes"/*; do
  [ -e "$f" ] || continue
  informe=1
  echo "==== $(basename "$f") ====" >&2
  head -60 "$f" >&2
done

if [ $rc -ne 0 ] || [ $informe -ne 0 ]; then
  echo "sanitizers: FALLA (ctest $rc, informes en $informes: $(ls "$informes" | wc -l))" >&2
  exit 1
fi
echo "sanitizers: sin informes"
