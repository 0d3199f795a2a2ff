#!/usr/bin/env bash
# make test: every test, side by side as far as two cores allow. The suites
# mostly wait (timers, the serial line, desktops, a booted systemd) while the
# builds and clang-tidy compute. Beside the build, from the start: the
# packages the tests need (the build's come first), the container root
# servicio_systemd boots when it is not made yet (tests/paquete/raiz-systemd.sh)
# and the sanitized build's configuration. After it, at once:
#   suite       the CTest suite but the package's tiers
#   paquete     the package's tiers (paquete, sistema), in a ctest of their own
#   sanitizado  the sanitized build; then, the suite done too, its suite
#               (sanitizers) and fuzz
#   lint        clang-format, clang-tidy and cppcheck, once the suite or the
#               sanitized build is done
# Each part's output comes whole when it ends; every part's verdict counts.
#   scripts/probar-todo.sh       (make test)
set -uo pipefail
set -m # each part in a process group of its own, to be stopped whole

raiz=$(cd "$(dirname "$0")/.." && pwd)
absoluta() { case $1 in /*) echo "$1" ;; *) echo "$raiz/$1" ;; esac; }
build=$(absoluta "${BUILD:-build}")
san=$(absoluta "${QUARVEL_SAN_BUILD:-build-san}")
jobs=${JOBS:-2}
segundos=${FUZZ_SECONDS:-8}
cd "$raiz" || exit 1
bash scripts/instalar-dependencias.sh --compilar || exit 1
export QUARVEL_SAN_BUILD=$san BUILD=$build JOBS=$jobs

reg=$(mktemp -d "${TMPDIR:-/tmp}/quarvel-test.XXXXXX")
grupos=()
terminado=
fin() {
  local g
  if [ -z "$terminado" ]; then
    for g in "${grupos[@]}"; do kill -TERM -- "-$g" 2>/dev/null; done
    wait 2>/dev/null
  fi
  rm -rf "$reg"
}
trap fin EXIT
trap 'exit 130' INT TERM

duracion() { printf '%d min %02d s' $(($1 / 60)) $(($1 % 60)); }
# parte NAME COMMAND...: COMMAND with its output kept; then that output
# whole, and the verdict and time in one line.
parte() {
  local n=$1 t=$SECONDS s=0 v
  shift
  "$@" >"$reg/$n.log" 2>&1 </dev/null || s=$?
  echo "$s" >"$reg/$n.estado"
  echo "$((SECONDS - t))" >"$reg/$n.tiempo"
  if [ "$s" = 0 ]; then v=bien; else v="FALLA ($s)"; fi
  {
    flock 3
    echo "==== $n ===="
    cat "$reg/$n.log"
    echo "== $n: $v en $(duracion $((SECONDS - t))) (a los $(duracion $((SECONDS - t0))))"
  } 3>"$reg/.salida"
  return "$s"
}
# fondo COMMAND...: in the background, stopped with the rest on exit.
fondo() {
  "$@" &
  grupos+=($!)
}

t0=$SECONDS
fondo parte paquetes bash scripts/instalar-dependencias.sh
paquetes=$!
# Without root (or debootstrap) the test says it is skipped.
if [ "$(id -u)" = 0 ] && command -v debootstrap >/dev/null; then
  fondo parte raiz bash tests/paquete/raiz-systemd.sh
  raiz_pid=$!
fi
echo "== compilando en $build"
# In the background, so that a signal stops it with the rest; what the build
# needs is there.
QUARVEL_DEPS_OK=1 fondo make --no-print-directory -C "$raiz" build BUILD="$build" JOBS="$jobs" </dev/null
compilar=$!
wait "$paquetes" || {
  echo "test: FALLA la instalacion de paquetes" >&2
  exit 1
}
export QUARVEL_DEPS_OK=1
fondo parte configurar-sanitizado bash scripts/configurar-sanitizado.sh "$san"
configurar=$!
wait "$compilar" || {
  echo "test: FALLA la compilacion" >&2
  exit 1
}
echo "== compilado a los $(duracion $((SECONDS - t0))); la suite, el paquete y el build sanitizado a la vez"

probar() { cd "$1" && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j "$jobs" "${@:2}"; }
declare -A que=() # the parts running, by process
lanzar() { # lanzar NAME COMMAND...
  fondo parte "$@"
  que[$!]=$1
}
lanzar suite probar "$build" -LE 'paquete|sistema'
# Its own folder, its own ctest: the package's tests wait for no RUN_SERIAL
# test of the suite's, and servicio_systemd may wait for its root.
lanzar paquete probar "$build/tests/paquete"
wait "$configurar" && lanzar sanitizado env QUARVEL_SAN_FASE=construir bash scripts/sanitizers.sh
# The suite's timed tests share the CPU with one busy part at most, the
# sanitized build or lint, whichever comes first (a build from ccache ends
# long before the suite): lint starts once the suite or that build is done,
# the sanitized suite and the fuzzing once both are. The fuzz targets'
# compile commands, which lint reads, are in the sanitized build's folder.
lint= suite_hecha= san_hecho=
while [ ${#que[@]} -gt 0 ]; do
  hecho=
  wait -n -p hecho "${!que[@]}"
  s=$?
  [ -n "$hecho" ] || continue
  n=${que[$hecho]}
  unset "que[$hecho]"
  case $n in
  suite) suite_hecha=1 ;;
  sanitizado) [ "$s" = 0 ] && san_hecho=1 ;;
  esac
  if [ -z "$lint" ] && { [ "$n" = suite ] || [ "$n" = sanitizado ]; }; then
    lint=1
    lanzar lint bash scripts/lint.sh
  fi
  if [ -n "$suite_hecha" ] && [ "$san_hecho" = 1 ]; then
    san_hecho=lanzado
    lanzar fuzz env QUARVEL_FUZZ_CONSTRUIDO=1 bash scripts/fuzz-smoke.sh "$segundos"
    lanzar sanitizers env QUARVEL_SAN_FASE=probar bash scripts/sanitizers.sh
  fi
done
[ -n "${raiz_pid:-}" ] && wait "$raiz_pid"
terminado=1

fallos=()
echo "== resumen (en $(duracion $((SECONDS - t0))))"
for n in paquetes configurar-sanitizado suite paquete sanitizado sanitizers fuzz lint raiz; do
  if [ -f "$reg/$n.estado" ]; then
    s=$(cat "$reg/$n.estado")
    printf '   %-22s %-10s %s\n' "$n" "$([ "$s" = 0 ] && echo bien || echo "FALLA ($s)")" \
      "$(duracion "$(cat "$reg/$n.tiempo")")"
    # The root's own verdict is servicio_systemd's.
    [ "$s" = 0 ] || [ "$n" = raiz ] || fallos+=("$n")
  elif [ "$n" != raiz ]; then
    printf '   %-22s %s\n' "$n" "no se hizo"
    fallos+=("$n")
  fi
done

if [ ${#fallos[@]} -ne 0 ]; then
  echo "test: FALLA en ${fallos[*]}" >&2
  exit 1
fi
echo "test: todo bien"
