#!/usr/bin/env bash
# Rows for the Windows build under Wine beside Linux's: the checker's
# start-up set (clock minus PC as its seconds byte lands, median and worst of
# N starts), its first read-back (from the reply's last byte leaving the
# simulator to the history's row written, by the file's time), and the time
# from starting the sender to its window showing.
#   bench/windows.sh [N]     after make windows
#   bench/windows.sh --reposo [SECONDS]
#                            the checker idle under Wine instead: the CPU
#                            its process and Wine's server take over that
#                            many seconds (60) after a read-back asked for
#                            (the port stays open until the next), in the
#                            tray against the simulator
# Wine's timers are Linux's: this measures the programs' planning through
# Wine, not Windows' own timer tick.
set -uo pipefail
# shellcheck source=tests/comun.sh
. "$(dirname "$0")/../tests/comun.sh"
raiz=$(cd "$(dirname "$0")/.." && pwd)
reposo=0
if [ "${1:-}" = --reposo ]; then
    reposo=1
    shift
fi
n=${1:-10}
dist=$(cd "$raiz" && realpath -m "${BUILD_WIN:-build-windows}")/Quarvel
linux=$(cd "$raiz" && realpath -m "${BUILD:-build}")
cache=${QUARVEL_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/quarvel}
export WINEPREFIX=$cache/wine WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
t=$trabajo
export DISPLAY=:$((190 + RANDOM % 50))
Xvfb "$DISPLAY" -screen 0 1280x800x24 -nolisten tcp >/dev/null 2>&1 &
pids+=($!)
esperar 50 xdpyinfo >/dev/null 2>&1 || exit 1
trap 'wineserver -k 2>/dev/null; fin' EXIT

# The simulator's reply: its first byte 20 ms after the request's last, the
# other 14 one byte-time apart at 9600 baud.
respuesta_ms=$(awk 'BEGIN { print 20 + 14 * 10000 / 9600 }')
# arranque SYSTEM I: one start of the checker against a fresh simulator,
# until its first read-back (at second 31); prints the start-up S's distance
# from its whole second and the read-back's end after the reply, in ms.
arranque() {
    local d=$t/$1-$2
    mkdir -p "$d"
    qv_ini >"$d/qv.ini"
    printf '1\r\n' >"$d/qv_int.ini"
    "$linux/simulator/simulador_reloj" --dir "$d" --quiet --log "$d/sim.log" --offset 3600.4 >/dev/null 2>&1 &
    local s=$!
    esperar 50 test -L "$d/COM1"
    if [ "$1" = wine ]; then
        wineserver -k 2>/dev/null
        wine reg add 'HKLM\Software\Wine\Ports' /v COM1 /d "$d/COM1" /f >/dev/null 2>&1
        wineserver -k 2>/dev/null
        (cd "$d" && exec wine "$dist/Quarvel430.exe" -platform offscreen >/dev/null 2>&1) &
    else
        (cd "$d" && exec env QT_QPA_PLATFORM=offscreen "$linux/checker/Quarvel430" >/dev/null 2>&1) &
    fi
    local q=$!
    esperar 300 grep -q '"cmd":"CF"' "$d/sim.log"
    esperar 900 grep -qs ";bien;" "$d/historial.csv"
    kill "$q" "$s" 2>/dev/null
    [ "$1" = linux ] || wineserver -k 2>/dev/null
    wait "$q" "$s" 2>/dev/null
    local set lectura
    set=$(sed -n 's/.*"t_us":\([0-9]*\),"cmd":"S".*/\1/p' "$d/sim.log" | head -n 1 |
        awk '{ f = ($1 % 1000000) / 1000; if (f > 500) f -= 1000; printf "%.1f\n", f }')
    lectura=$(sed -n 's/.*"t_us":\([0-9]*\),"cmd":"CX".*/\1/p' "$d/sim.log" | head -n 1 |
        awk -v fin="$(stat -c %.6Y "$d/historial.csv" 2>/dev/null)" -v r="$respuesta_ms" \
            'fin != "" { printf "%.1f\n", fin * 1000 - ($1 / 1000 + r) }')
    echo "${set:-nan} ${lectura:-nan}"
}
# ventana SYSTEM: ms from starting the sender to its window showing (under
# Wine, its server's own start included).
ventana() {
    local d=$t/v-$1 t0 s
    w=''
    mkdir -p "$d"
    qv_ini >"$d/qv.ini"
    qv_int_ini >"$d/qv_int.ini"
    # A clock on its port, so the start is the usual one.
    rm -f "$d/COM1"
    "$linux/simulator/simulador_reloj" --dir "$d" --quiet >/dev/null 2>&1 &
    s=$!
    esperar 50 test -L "$d/COM1"
    if [ "$1" = wine ]; then
        wineserver -k 2>/dev/null
        wine reg add 'HKLM\Software\Wine\Ports' /v COM1 /d "$d/COM1" /f >/dev/null 2>&1
        wineserver -k 2>/dev/null
    fi
    t0=$(date +%s%N)
    if [ "$1" = wine ]; then
        (cd "$d" && exec wine "$dist/Quarvel38.exe" >/dev/null 2>&1) &
    else
        (cd "$d" && exec env QT_QPA_PLATFORM=xcb "$linux/sender/Quarvel38" >/dev/null 2>&1) &
    fi
    local q=$!
    if esperar 600 eval 'w=$(xdotool search --onlyvisible --name "^Quarvel 3.8" | head -n 1); [ -n "$w" ]'; then
        echo $((($(date +%s%N) - t0) / 1000000))
    else
        echo nan
    fi
    kill "$q" "$s" 2>/dev/null
    [ "$1" = linux ] || wineserver -k 2>/dev/null
    wait "$q" "$s" 2>/dev/null
    esperar 50 eval '[ -z "$(xdotool search --onlyvisible --name "^Quarvel 3.8")" ]'
}
# cpu PID: the process's user and system time so far, in clock ticks.
cpu() { awk '{ print $14 + $15 }' "/proc/$1/stat" 2>/dev/null; }
if [ "$reposo" = 1 ]; then
    d=$t/reposo
    mkdir -p "$d"
    qv_ini >"$d/qv.ini"
    # A read-back every 5 minutes: none falls in the minute measured.
    qv_int_ini >"$d/qv_int.ini"
    "$linux/simulator/simulador_reloj" --dir "$d" --quiet --log "$d/sim.log" >/dev/null 2>&1 &
    pids+=($!)
    esperar 50 test -L "$d/COM1"
    wineserver -k 2>/dev/null
    wine reg add 'HKLM\Software\Wine\Ports' /v COM1 /d "$d/COM1" /f >/dev/null 2>&1
    wineserver -k 2>/dev/null
    (cd "$d" && exec wine "$dist/Quarvel430.exe" >/dev/null 2>&1) &
    q=$!
    pids+=("$q")
    esperar 300 grep -q '"cmd":"CF"' "$d/sim.log" || { echo "no start-up set" >&2; exit 1; }
    # A read-back asked for now leaves the port open, as between read-backs.
    (cd "$d" && wine "$dist/Quarvel430.exe" --comprobar >/dev/null 2>&1)
    esperar 600 grep -q '"cmd":"CX"' "$d/sim.log" || { echo "no read-back" >&2; exit 1; }
    # Its reply and what follows it are over.
    sleep 5
    servidor=$(pgrep -n -x 'wineserver(64)?')
    [ -n "$servidor" ] && [ "$(cat "/proc/$q/comm")" = Quarvel430.exe ] || { echo "no process to measure" >&2; exit 1; }
    a=$(cpu "$q")
    b=$(cpu "$servidor")
    lecturas=$(grep -c '"cmd":"CX"' "$d/sim.log")
    sleep "$n"
    a=$(($(cpu "$q") - a))
    b=$(($(cpu "$servidor") - b))
    lecturas=$(($(grep -c '"cmd":"CX"' "$d/sim.log") - lecturas))
    hz=$(getconf CLK_TCK)
    echo "| idle $n s, read-backs in it: $lecturas | Quarvel430.exe | $(awk -v c="$a" -v s="$n" -v hz="$hz" 'BEGIN { printf "%.2f %%", 100 * c / hz / s }') | wineserver | $(awk -v c="$b" -v s="$n" -v hz="$hz" 'BEGIN { printf "%.2f %%", 100 * c / hz / s }') |"
    exit 0
fi

fila() { # fila NAME UNIT VALUES...: median and worst by magnitude; n counts
    # the measured ones (a start that never got there is left out, and shows
    # as a smaller n)
    local nombre=$1 unidad=$2
    shift 2
    printf '%s\n' "$@" | grep -E '^[-+]?[0-9.]+$' | sort -g | awk -v n="$nombre" -v u="$unidad" '
        { v[NR] = $1; a = $1 < 0 ? -$1 : $1; if (a > p) { p = a; w = $1 } }
        END { m = NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2
              printf "| %s | %d | %+.1f %s | %+.1f %s |\n", n, NR, m, u, w, u }'
}
echo "| measure | n | median | worst |"
echo "|---|---|---|---|"
for sistema in linux wine; do
    sets=()
    lecturas=()
    for ((i = 1; i <= n; i++)); do
        read -r a b < <(arranque "$sistema" "$i")
        sets+=("$a")
        lecturas+=("$b")
    done
    fila "$sistema: start-up set, clock minus PC" ms "${sets[@]}"
    fila "$sistema: read-back, reply's last byte to the history's row" ms "${lecturas[@]}"
done
for sistema in linux wine; do
    valores=()
    for ((i = 1; i <= 5; i++)); do valores+=("$(ventana "$sistema")"); done
    fila "$sistema: Quarvel38 started to window shown" ms "${valores[@]}"
done
