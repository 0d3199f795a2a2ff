#!/usr/bin/env bash
# Static checks of the project's own C++: clang-format (no changes allowed),
# clang-tidy (.clang-tidy, with build/compile_commands.json) and cppcheck.
# Exits non-zero when any of them reports something; each tool still runs so
# one pass shows everything.
#   scripts/lint.sh                 the lot
#   LINT_SOLO=formato|tidy|cppcheck scripts/lint.sh   one tool
#   LINT_PARTE=1/2 scripts/lint.sh  format, cppcheck and every other source
#                                   for clang-tidy; 2/2 the other sources
set -uo pipefail

raiz=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD:-$raiz/build}
jobs=${JOBS:-2}
solo=${LINT_SOLO:-}
parte=${LINT_PARTE:-}
cd "$raiz"
# The second part is clang-tidy's other half alone.
[ "$parte" = 2/2 ] && solo=tidy

bash "$raiz/scripts/instalar-dependencias.sh"

directorios=(settings platform clock_link main_window sender checker simulator fuzz)
fallos=()

# Every .cpp/.h of the project, outside build folders.
mapfile -t todos < <(find . \( -path './build*' -o -path ./.git -o -path ./demo \) -prune -o \
  -type f \( -name '*.cpp' -o -name '*.h' \) -print | sed 's|^\./||' | sort)
mapfile -t propios < <(find "${directorios[@]}" -type f \( -name '*.cpp' -o -name '*.h' \) \
  2>/dev/null | sort)
mapfile -t fuentes < <(printf '%s\n' "${propios[@]}" | grep '\.cpp$')
# clang-tidy's share of this part: alternate sources, so each half mixes
# windows and rules.
case $parte in
1/2) mapfile -t para_tidy < <(printf '%s\n' "${fuentes[@]}" | awk 'NR % 2 == 1') ;;
2/2) mapfile -t para_tidy < <(printf '%s\n' "${fuentes[@]}" | awk 'NR % 2 == 0') ;;
*) para_tidy=("${fuentes[@]}") ;;
esac

if [ -z "$solo" ] || [ "$solo" = formato ]; then
  echo "== clang-format (${#todos[@]} archivos)"
  clang-format --dry-run -Werror "${todos[@]}" || fallos+=(clang-format)
fi

if [ -z "$solo" ] || [ "$solo" = tidy ]; then
  # A source is checked with the compile command of the build that has it:
  # the fuzz targets only exist in build-san.
  # The path-sensitive analyzer (clang-analyzer-*) runs on the rules on Qt
  # Core (clock_link, settings, platform), where the data flows are; the
  # windows, the simulator and the fuzz harnesses get every other check.
  # All of it everywhere costs more than the CI's time allows.
  tidy_uno() {
    local db=$1 f=$2
    case $f in
    */gui/*) clang-tidy -p "$db" --quiet --warnings-as-errors='*' --checks='-clang-analyzer-*' "$f" ;;
    clock_link/* | settings/* | platform/*) clang-tidy -p "$db" --quiet --warnings-as-errors='*' "$f" ;;
    *) clang-tidy -p "$db" --quiet --warnings-as-errors='*' --checks='-clang-analyzer-*' "$f" ;;
    esac
  }
  export -f tidy_uno
  tidy_en() {
    local db=$1
    shift
    [ $# -eq 0 ] && return 0
    printf '%s\n' "$@" | xargs -P "$jobs" -I{} bash -c 'tidy_uno "$0" "$1"' "$db" {} 2> >(grep -v -E \
      '^[0-9]+ warnings? (and [0-9]+ errors? )?generated|^Suppressed [0-9]+ warnings|^Use -header-filter|NOLINT|^$' >&2)
  }
  # A unity build lists its combined files, not each source: the sources'
  # own commands come from the same tree configured file by file, pointed at
  # the built tree's generated files.
  db=$build
  if [ -f "$build/compile_commands.json" ] &&
    ! grep -q "\"$raiz/clock_link/protocolo.cpp\"" "$build/compile_commands.json"; then
    db=$build/por-archivo
    # Made once per build (the second half of make test finds it made).
    if [ ! -f "$db/compile_commands.json" ] || [ "$db/compile_commands.json" -ot "$build/compile_commands.json" ]; then
      cmake -S "$raiz" -B "$db" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_UNITY_BUILD=OFF \
        >"$build/por-archivo.log" 2>&1 || { tail -20 "$build/por-archivo.log" >&2; }
      sed -i "s|$db/|$build/|g" "$db/compile_commands.json"
    fi
  fi
  if [ ! -f "$db/compile_commands.json" ]; then
    echo "falta $build/compile_commands.json: ejecute antes make build" >&2
    fallos+=(clang-tidy)
  else
    en_build=()
    en_fuzz=()
    sin_db=()
    for f in "${para_tidy[@]}"; do
      if grep -q "\"$raiz/$f\"" "$db/compile_commands.json"; then
        en_build+=("$f")
      elif [ -f "$raiz/build-san/compile_commands.json" ] &&
        grep -q "\"$raiz/$f\"" "$raiz/build-san/compile_commands.json"; then
        en_fuzz+=("$f")
      else
        sin_db+=("$f")
      fi
    done
    echo "== clang-tidy (${#en_build[@]} + ${#en_fuzz[@]} archivos)"
    [ ${#sin_db[@]} -eq 0 ] ||
      echo "   sin orden de compilacion, no revisados: ${sin_db[*]}" \
        "(fuzz/: ejecute scripts/fuzz-smoke.sh)"
    tidy_en "$db" "${en_build[@]}" || fallos+=(clang-tidy)
    tidy_en "$raiz/build-san" "${en_fuzz[@]}" || fallos+=(clang-tidy-fuzz)
  fi
fi

if [ -z "$solo" ] || [ "$solo" = cppcheck ]; then
  # Headers are checked through the sources that include them; given alone
  # cppcheck would read them as C.
  echo "== cppcheck (${#fuentes[@]} archivos)"
  incluir=()
  for d in "${directorios[@]}"; do
    [ -d "$d" ] && incluir+=(-I "$d")
  done
  cppcheck --enable=warning,performance,portability --error-exitcode=1 --inline-suppr \
    --std=c++20 --library=qt --quiet -j "$jobs" -D__GNUC__ -D__linux__ \
    --suppress=missingIncludeSystem --suppress=unmatchedSuppression \
    --template='{file}:{line}: {severity}: {message} [{id}]' \
    "${incluir[@]}" "${fuentes[@]}" || fallos+=(cppcheck)
fi

if [ ${#fallos[@]} -ne 0 ]; then
  echo "lint: avisos de ${fallos[*]}" >&2
  exit 1
fi
echo "lint: limpio"
