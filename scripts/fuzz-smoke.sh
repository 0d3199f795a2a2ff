#!/usr/bin/env bash
# Fuzzes the parsers of settings files, port settings, numbers and the clock's
# reply with libFuzzer under ASan and UBSan.
#
#   scripts/fuzz-smoke.sh          20 s per target (make test: 8 s): the quick check
#   scripts/fuzz-smoke.sh 3600     an hour per target: a real hunt (run it
#                                  before a release or after touching a parser)
#
# The seeds in fuzz/corpus/<target>/ are fuzzed on a copy, so the repository
# is left as it was; an input that crashes is saved to
# fuzz/regresion/<target>/ (commit it with the fix) and every input there is
# replayed on each run. Exits non-zero on any crash, leak, timeout or broken
# property. Builds into build-san (clang; scripts/configurar-sanitizado.sh),
# shared with the sanitized run of the suite.
set -euo pipefail

segundos=${1:-20}
case "$segundos" in
'' | *[!0-9]*) echo "uso: $0 [segundos por objetivo]" >&2; exit 2 ;;
esac
raiz=$(cd "$(dirname "$0")/.." && pwd)
build=${QUARVEL_SAN_BUILD:-$raiz/build-san}
jobs=${JOBS:-2}

# name:max_len. Settings files may hold long lines; the rest are short texts.
objetivos=(
  fuzz_lector_ajustes:8192
  fuzz_config_com:256
  fuzz_numeros:128
  fuzz_respuesta:64
)

bash "$raiz/scripts/instalar-dependencias.sh"

if ! grep -q QUARVEL_FUZZ "$raiz/CMakeLists.txt"; then
  echo "CMakeLists.txt no tiene la opcion QUARVEL_FUZZ (add_subdirectory(fuzz))" >&2
  exit 1
fi

# QUARVEL_FUZZ_CONSTRUIDO=1: build-san is built already (make test), and may
# be in use: it is not configured again.
if [ -z "${QUARVEL_FUZZ_CONSTRUIDO:-}" ]; then
  bash "$raiz/scripts/configurar-sanitizado.sh" "$build"
  cmake --build "$build" --target quarvel_fuzz -j "$jobs" >"$build/fuzz-build.log" 2>&1 || {
    tail -40 "$build/fuzz-build.log" >&2
    exit 1
  }
fi

trabajo=$(mktemp -d "${TMPDIR:-/tmp}/quarvel-fuzz.XXXXXX")
trap 'rm -rf "$trabajo"' EXIT

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=0}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}

fallos=0
printf '%-22s %12s %8s  %s\n' objetivo ejecuciones corpus resultado
for entrada in "${objetivos[@]}"; do
  nombre=${entrada%%:*}
  max_len=${entrada##*:}
  bin=$(find "$build/fuzz" -maxdepth 1 -type f -name "$nombre" -perm -u+x | head -1)
  [ -n "$bin" ] || { echo "$nombre: no se construyo" >&2; exit 1; }
  regresion="$raiz/fuzz/regresion/$nombre"
  resultado=""

  # Known crashes first: each must now pass.
  if [ -d "$regresion" ] && [ -n "$(ls -A "$regresion")" ]; then
    if ! "$bin" -runs=1 "$regresion"/* >"$trabajo/$nombre.regresion.log" 2>&1; then
      resultado="REGRESION falla;"
      echo "---- $nombre (regresion) ----" >&2
      grep -E "Running:|ERROR|SUMMARY|propiedad|runtime error" "$trabajo/$nombre.regresion.log" \
        | head -20 >&2 || true
    fi
  fi

  mkdir -p "$trabajo/$nombre/corpus" "$trabajo/$nombre/artefactos"
  cp -r "$raiz/fuzz/corpus/$nombre/." "$trabajo/$nombre/corpus/"
  log="$trabajo/$nombre.log"
  rc=0
  # Hard stop in case a hang slips past libFuzzer's own timeout.
  timeout --signal=KILL $((segundos + 120)) \
    "$bin" "$trabajo/$nombre/corpus" -max_len="$max_len" -max_total_time="$segundos" \
    -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
    -artifact_prefix="$trabajo/$nombre/artefactos/" >"$log" 2>&1 || rc=$?
  ejecuciones=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  corpus=$(ls "$trabajo/$nombre/corpus" | wc -l)

  artefactos=("$trabajo/$nombre/artefactos"/*)
  if [ $rc -ne 0 ] || [ -e "${artefactos[0]}" ]; then
    resultado+=" CRASH (rc $rc)"
    mkdir -p "$regresion"
    for a in "${artefactos[@]}"; do
      [ -e "$a" ] || continue
      cp "$a" "$regresion/"
      resultado+=" -> fuzz/regresion/$nombre/$(basename "$a")"
    done
    echo "---- $nombre ----" >&2
    grep -E -A12 "ERROR: |runtime error|propiedad incumplida|deadly signal" "$log" | head -40 >&2 \
      || tail -30 "$log" >&2
  fi
  if [ -n "$resultado" ]; then fallos=$((fallos + 1)); else resultado=ok; fi
  printf '%-22s %12s %8s  %s\n' "$nombre" "${ejecuciones:-?}" "$corpus" "$resultado"
done

if [ $fallos -ne 0 ]; then
  echo "fuzz: $fallos objetivo(s) con fallos" >&2
  exit 1
fi
echo "fuzz: sin fallos ($segundos s por objetivo)"
