#!/usr/bin/env bash
# Static checks of the project's own C++: clang-format (no changes allowed),
# clang-tidy (.clang-tidy, with the build's compile commands) and cppcheck;
# the Windows sources through the MinGW build's compile commands
# (build-windows, made by make windows) when that build is there.
# Exits non-zero when any of them reports something; each tool still runs so
# one pass shows everything.
#   scripts/lint.sh                 the lot
#   LINT_SOLO=formato|tidy|cppcheck scripts/lint.sh   one tool
# BUILD, QUARVEL_SAN_BUILD and BUILD_WIN name the builds (build, build-san,
# build-windows by default).
set -uo pipefail

raiz=$(cd "$(dirname "$0")/.." && pwd)
absoluta() { case $1 in /*) echo "$1" ;; *) echo "$raiz/$1" ;; esac; }
build=$(absoluta "${BUILD:-build}")
san=$(absoluta "${QUARVEL_SAN_BUILD:-build-san}")
win=$(absoluta "${BUILD_WIN:-build-windows}")
jobs=${JOBS:-2}
solo=${LINT_SOLO:-}
cd "$raiz" || exit 1

bash "$raiz/scripts/instalar-dependencias.sh" || exit 1

directorios=(settings platform clock_link main_window sender checker simulator fuzz)
fallos=()

# Every .cpp/.h of the project, outside build folders.
mapfile -t todos < <(find . \( -path './build*' -o -path ./.git -o -path ./demo \) -prune -o \
  -type f \( -name '*.cpp' -o -name '*.h' \) -print | sed 's|^\./||' | sort)
mapfile -t propios < <(find "${directorios[@]}" -type f \( -name '*.cpp' -o -name '*.h' \) \
  2>/dev/null | sort)
mapfile -t fuentes < <(printf '%s\n' "${propios[@]}" | grep '\.cpp$')
# Windows' own sources build only with MinGW.
mapfile -t fuentes_win < <(printf '%s\n' "${fuentes[@]}" | grep '_win\.cpp$')
hay_win=
[ ${#fuentes_win[@]} -eq 0 ] || [ -f "$win/compile_commands.json" ] && hay_win=1
if [ -z "$hay_win" ] && [ "$solo" != formato ]; then
  echo "== Windows: sin $win/compile_commands.json (lo hace make windows):" \
    "las ${#fuentes_win[@]} fuentes _win quedan sin clang-tidy ni cppcheck"
fi

if [ -z "$solo" ] || [ "$solo" = formato ]; then
  echo "== clang-format (${#todos[@]} archivos)"
  clang-format --dry-run -Werror "${todos[@]}" || fallos+=(clang-format)
fi

if [ -z "$solo" ] || [ "$solo" = tidy ]; then
  # The path-sensitive analyzer (clang-analyzer-*) runs on the rules on Qt
  # Core (clock_link, settings, platform), where the data flows are; the
  # windows, the simulator and the fuzz harnesses get every other check.
  # All of it everywhere costs more than the CI's time allows.
  analizador() {
    case $1 in
    */gui/*) echo '-clang-analyzer-*' ;;
    clock_link/* | settings/* | platform/*) echo '' ;;
    *) echo '-clang-analyzer-*' ;;
    esac
  }
  # Diagnostics in the project's files only, .cpp files included: a unity
  # build's sources are headers of its combined files.
  export TIDY_CABECERAS="/($(IFS='|'; echo "${directorios[*]}"))/([^/]+/)?[^/]+\\.(h|cpp)\$"
  TIDY_LINEAS=$(printf '{"name":"%s"},' "${propios[@]/#/$raiz/}")
  export TIDY_LINEAS="[${TIDY_LINEAS%,}]"
  export TIDY_CONFIG=$raiz/.clang-tidy
  tidy_uno() { # tidy_uno DB FILE CHECKS [EXTRA-ARGS]
    local a extra=()
    for a in $4; do extra+=("--extra-arg=$a"); done
    clang-tidy -p "$1" --config-file="$TIDY_CONFIG" --quiet --warnings-as-errors='*' \
      --header-filter="$TIDY_CABECERAS" --line-filter="$TIDY_LINEAS" \
      ${3:+"--checks=$3"} "${extra[@]}" "$2"
  }
  export -f tidy_uno
  trabajos=()
  # anotar DB FILE CHECKS [EXTRA-ARGS]: one clang-tidy run to make.
  anotar() { trabajos+=("$1" "$2" "$3" "${4:-}"); }

  if [ ! -f "$build/compile_commands.json" ]; then
    echo "falta $build/compile_commands.json: ejecute antes make build" >&2
    fallos+=(clang-tidy)
  else
    # A unity build's combined files are checked whole: the Qt headers,
    # most of the time, are parsed and matched once per target instead of
    # once per source (less than half the time). Copied under names with
    # UnifiedSource in them, as clang's analyzer follows paths only in the
    # main file or in sources such a file includes. Sources a unity build
    # left out, or a build without one, keep their own commands.
    lint=$build/lint
    rm -rf "$lint"
    mkdir -p "$lint"
    declare -A unidad_de=()
    while read -r u; do
      nombre=$(sed 's|.*/CMakeFiles/\([^/]*\)\.dir/Unity/unity_\([0-9]*\)_cxx\.cxx$|UnifiedSource-\1-\2.cxx|' <<<"$u")
      cp "$u" "$lint/$nombre"
      while read -r f; do unidad_de[$f]=$lint/$nombre; done < <(sed -n "s|^#include \"$raiz/\(.*\)\"$|\1|p" "$u")
    done < <(sed -n 's|^  "file": "\(.*/CMakeFiles/[^/]*\.dir/Unity/unity_[0-9]*_cxx\.cxx\)",\{0,1\}$|\1|p' \
      "$build/compile_commands.json")
    # The copies' commands, and each included source's own (the combined
    # file's, for the checks that look at a main file only).
    awk -v lint="$lint" -v raiz="$raiz" '
      function entrada(d, c, f) { printf "%s{\n%s,\n%s,\n  \"file\": \"%s\"\n}", sep, d, c, f; sep = ",\n" }
      function cambiar(s, a, b,   i) { i = index(s, a); return i ? substr(s, 1, i - 1) b substr(s, i + length(a)) : s }
      BEGIN { print "["; sep = "" }
      /^  "directory": / { sub(/,$/, ""); d = $0 }
      /^  "command": / { sub(/,$/, ""); c = $0 }
      /^  "file": / {
        f = $0; sub(/^  "file": "/, "", f); sub(/",?$/, "", f)
        if (match(f, /\/CMakeFiles\/[^\/]*\.dir\/Unity\/unity_[0-9]*_cxx\.cxx$/)) {
          t = substr(f, RSTART + 12); sub(/\.dir\/Unity\/unity_/, "-", t); sub(/_cxx\.cxx$/, ".cxx", t)
          copia = lint "/UnifiedSource-" t
          entrada(d, cambiar(c, f, copia), copia)
          while ((getline l < f) > 0)
            if (l ~ /^#include "/) { g = l; sub(/^#include "/, "", g); sub(/"$/, "", g); entrada(d, cambiar(c, f, g), g) }
          close(f)
        } else entrada(d, c, f)
      }
      END { print "\n]" }' "$build/compile_commands.json" >"$lint/compile_commands.json"

    declare -A hecha=()
    sin_db=()
    for f in "${fuentes[@]}"; do
      [[ $f == *_win.cpp ]] && continue
      if [ -n "${unidad_de[$f]:-}" ]; then
        u=${unidad_de[$f]}
        [ -n "${hecha[$u]:-}" ] || anotar "$lint" "$u" "$(analizador "$f")"
        hecha[$u]=1
        # misc-unused-using-decls looks at the main file alone.
        grep -E '^\s*using\s' "$f" | grep -vE 'using\s+namespace|=' | grep -q '::' &&
          anotar "$lint" "$raiz/$f" '-*,misc-unused-using-decls'
      elif grep -q "\"file\": \"$raiz/$f\"" "$lint/compile_commands.json"; then
        anotar "$lint" "$raiz/$f" "$(analizador "$f")"
      elif [ -f "$san/compile_commands.json" ] && grep -q "\"file\": \"$raiz/$f\"" "$san/compile_commands.json"; then
        # The fuzz targets exist only in the sanitized build.
        anotar "$san" "$raiz/$f" "$(analizador "$f")"
      else
        sin_db+=("$f")
      fi
    done
    if [ -n "$hay_win" ] && [ ${#fuentes_win[@]} -gt 0 ]; then
      # Clang told MinGW's target, and the C++ library MinGW's g++ itself
      # uses (clang does not find it under Debian's version folder).
      cc=$(grep -m1 '^  "command": ' "$win/compile_commands.json" | sed 's/^  "command": "//; s/ .*//')
      win_args="--target=x86_64-w64-mingw32 -nostdinc++"
      while read -r d; do
        d=$(realpath -m "$d")
        [[ $d == */c++* || $d != */lib/gcc/* ]] && win_args+=" -isystem$d"
      done < <("$cc" -E -x c++ - -v </dev/null 2>&1 | sed -n '/^#include <\.\.\.> search starts here:$/,/^End of search list\.$/p' |
        sed '1d;$d;s/^ *//')
      for f in "${fuentes_win[@]}"; do
        if grep -q "\"file\": \"$raiz/$f\"" "$win/compile_commands.json"; then
          anotar "$win" "$raiz/$f" "$(analizador "$f")" "$win_args"
        else
          sin_db+=("$f (no en $win)")
        fi
      done
    fi
    echo "== clang-tidy ($((${#trabajos[@]} / 4)) unidades; ${#fuentes[@]} fuentes)"
    [ ${#sin_db[@]} -eq 0 ] ||
      echo "   sin orden de compilacion, no revisados: ${sin_db[*]}" \
        "(fuzz/: ejecute antes scripts/fuzz-smoke.sh)"
    printf '%s\0' "${trabajos[@]}" | xargs -0 -n 4 -P "$jobs" bash -c 'tidy_uno "$@"' _ 2> >(grep -v -E \
      '^[0-9]+ warnings? (and [0-9]+ errors? )?generated|^Suppressed [0-9]+ warnings|^Use -header-filter|NOLINT|^$' >&2) ||
      fallos+=(clang-tidy)
  fi
fi

if [ -z "$solo" ] || [ "$solo" = cppcheck ]; then
  # Headers are checked through the sources that include them; given alone
  # cppcheck would read them as C. The Windows sources are read as Linux
  # here too (they have no branches of their own), and as Windows below.
  echo "== cppcheck (${#fuentes[@]} archivos)"
  incluir=()
  for d in "${directorios[@]}"; do
    [ -d "$d" ] && incluir+=(-I "$d")
  done
  comun=(--enable=warning,performance,portability --error-exitcode=1 --inline-suppr
    --std=c++20 --library=qt --quiet -j "$jobs"
    --suppress=missingIncludeSystem --suppress=unmatchedSuppression
    --template='{file}:{line}: {severity}: {message} [{id}]' "${incluir[@]}")
  cppcheck "${comun[@]}" -D__GNUC__ -D__linux__ "${fuentes[@]}" || fallos+=(cppcheck)
  if [ -n "$hay_win" ] && [ ${#fuentes_win[@]} -gt 0 ]; then
    # The MinGW build's own definitions for these sources, and the
    # compiler's that matter.
    mapfile -t definiciones < <(for f in "${fuentes_win[@]}"; do
      grep -B2 "\"file\": \"$raiz/$f\"" "$win/compile_commands.json" | sed -n 's/^  "command": //p' |
        tr ' ' '\n' | grep -E '^-D[A-Za-z_][A-Za-z0-9_]*(=[^"\\]*)?$'
    done | sort -u)
    echo "== cppcheck, Windows (${#fuentes_win[@]} archivos, $win)"
    cppcheck "${comun[@]}" --platform=win64 --library=windows -D__GNUC__ -D_WIN32 -D_WIN64 \
      -D__MINGW32__ -D__MINGW64__ "${definiciones[@]}" "${fuentes_win[@]}" || fallos+=(cppcheck-windows)
  fi
fi

if [ ${#fallos[@]} -ne 0 ]; then
  echo "lint: avisos de ${fallos[*]}" >&2
  exit 1
fi
echo "lint: limpio"
