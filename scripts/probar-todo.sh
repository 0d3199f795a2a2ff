#!/usr/bin/env bash
# make test: every test, ordered so that both cores stay busy. The suites
# mostly wait (timers, the serial line, the desktop tests), so the static
# checks run beside the normal suite and the fuzzing beside the sanitized
# one. Every part's verdict counts; each part's output comes whole.
#   scripts/probar-todo.sh       after make build
set -uo pipefail

raiz=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD:-build}
case $build in /*) ;; *) build=$raiz/$build ;; esac
san=${QUARVEL_SAN_BUILD:-$raiz/build-san}
jobs=${JOBS:-2}
segundos=${FUZZ_SECONDS:-8}
cd "$raiz" || exit 1
bash scripts/instalar-dependencias.sh || exit 1

fallos=()
# clang-tidy reads the fuzz targets' compile commands from build-san.
bash scripts/configurar-sanitizado.sh "$san" || exit 1

echo "== la suite, con clang-format, cppcheck y media pasada de clang-tidy al lado"
BUILD=$build JOBS=$jobs LINT_PARTE=1/2 bash scripts/lint.sh >"$build/lint-1.log" 2>&1 &
lint=$!
(cd "$build" && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j "$jobs") || fallos+=(suite)
wait "$lint" || fallos+=(lint)
cat "$build/lint-1.log"

echo "== la suite con AddressSanitizer y UndefinedBehaviorSanitizer, con el fuzzing y la otra"
echo "   media pasada de clang-tidy al lado"
QUARVEL_SAN_FASE=construir bash scripts/sanitizers.sh || fallos+=(sanitizers)
QUARVEL_FUZZ_CONSTRUIDO=1 bash scripts/fuzz-smoke.sh "$segundos" >"$san/fuzz.log" 2>&1 &
fuzz=$!
BUILD=$build JOBS=$jobs LINT_PARTE=2/2 bash scripts/lint.sh >"$build/lint-2.log" 2>&1 &
lint=$!
QUARVEL_SAN_FASE=probar bash scripts/sanitizers.sh || fallos+=(sanitizers)
wait "$fuzz" || fallos+=(fuzz)
wait "$lint" || fallos+=(lint)
cat "$san/fuzz.log" "$build/lint-2.log"

if [ ${#fallos[@]} -ne 0 ]; then
  echo "test: FALLA en ${fallos[*]}" >&2
  exit 1
fi
echo "test: todo bien"
