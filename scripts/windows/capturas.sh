#!/usr/bin/env bash
# The Windows build's screenshot for docs/desarrollo.md, under Wine on a virtual X
# display: Wine's own desktop with its taskbar, the sender after "Inicio"
# and the checker shown by a second start, each against a clock simulator
# (COM1, COM2).
#   scripts/windows/capturas.sh [BUILD_WIN]   -> share/capturas/windows-wine.png
# Needs make windows first (the programs in BUILD_WIN/Quarvel, Wine's prefix
# in the cache) and the Linux simulator (make build).
set -euo pipefail
raiz=$(cd "$(dirname "$0")/../.." && pwd)
# shellcheck source=tests/comun.sh
. "$raiz/tests/comun.sh"
dist=$(realpath "${1:-$raiz/build-windows}")/Quarvel
simulador=$(cd "$raiz" && realpath -m "${BUILD:-build}")/simulator/simulador_reloj
cache=${QUARVEL_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/quarvel}
export WINEPREFIX=$cache/wine WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
for f in "$dist/Quarvel38.exe" "$simulador" "$WINEPREFIX/system.reg"; do
    [ -e "$f" ] || { echo "falta $f: make build y make windows antes" >&2; exit 1; }
done
t=$trabajo
escritorio=1000x640
# The desktop above its taskbar.
fondo_desktop="-crop 1000x610+0+0 +repage"

pantalla=:$((90 + RANDOM % 100))
Xvfb "$pantalla" -screen 0 1024x700x24 -nolisten tcp >/dev/null 2>&1 &
pids+=($!)
export DISPLAY=$pantalla
esperar 50 xdpyinfo >/dev/null 2>&1 || { echo "Xvfb no arrancó" >&2; exit 1; }
trap 'wineserver -k 2>/dev/null; fin' EXIT

for n in 1 2; do
    mkdir -p "$t/s$n"
    "$simulador" --dir "$t/s$n" --quiet --log "$t/s$n/sim.log" --offset 3600.4 >/dev/null 2>&1 &
    pids+=($!)
    esperar 50 test -L "$t/s$n/COM1"
done
wineserver -k 2>/dev/null || true
for n in 1 2; do
    wine reg add 'HKLM\Software\Wine\Ports' /v "COM$n" /d "$t/s$n/COM1" /f >/dev/null 2>&1
done
wineserver -k 2>/dev/null || true

mkdir -p "$t/q38" "$t/q430"
ajustes "$t/q38"
qv_ini | sed 's/^1\r$/2\r/' >"$t/q430/qv.ini"
printf '1\r\n' >"$t/q430/qv_int.ini"

# The window on Wine's desktop: the box that is not the desktop's colour,
# as WxH+X+Y (empty until one shows).
ventana() {
    import -window root "$t/r.png" 2>/dev/null &&
        convert "$t/r.png" $fondo_desktop -fuzz 2% -trim -format '%wx%h%X%Y' info: 2>/dev/null |
        grep -v '^1x1'
}
# arrancar FOLDER PROGRAM: on Wine's desktop.
arrancar() {
    (cd "$1" && exec wine explorer "/desktop=quarvel,$escritorio" "$dist/$2" >"$1/prog.log" 2>&1) &
    pids+=($!)
}
# mostrada: waits for the window and its drawing, sets caja.
mostrada() {
    esperar 300 eval 'caja=$(ventana); [ -n "$caja" ]' || return 1
    sleep 2
    caja=$(ventana)
}
recortar() { # recortar OUT: the window in the last screenshot, frame included
    # shellcheck disable=SC2086 # the options, one word each
    convert "$t/r.png" $fondo_desktop -fuzz 2% -trim +repage "$1"
}

caja=''
arrancar "$t/q38" Quarvel38.exe
mostrada || { echo "Quarvel38.exe no mostró su ventana" >&2; exit 1; }
IFS='x+' read -r _ _ x y <<<"$caja"
# Inicio: the top row's first button, below the caption.
for _ in 1 2 3; do
    xdotool mousemove $((x + 306)) $((y + 35)) click 1
    esperar 100 grep -q '"cmd":"CF"' "$t/s1/sim.log" && break
done
grep -q '"cmd":"CF"' "$t/s1/sim.log" || { echo "Inicio no envió la cadena" >&2; exit 1; }
xdotool mousemove 0 0
sleep 2
ventana >/dev/null
recortar "$t/sender.png"
wineserver -k 2>/dev/null || true

# The checker starts in the tray, sets the clock, and a second start shows
# its window.
arrancar "$t/q430" Quarvel430.exe
esperar 300 grep -q '"cmd":"CF"' "$t/s2/sim.log" || { echo "Quarvel430.exe no puso la hora" >&2; exit 1; }
(cd "$t/q430" && timeout 30 wine "$dist/Quarvel430.exe" >/dev/null 2>&1) || true
mostrada || { echo "Quarvel430.exe no mostró su ventana" >&2; exit 1; }
recortar "$t/checker.png"
# Side by side on the desktop's colour, and the taskbar with the tray icon
# below.
convert "$t/r.png" -crop "${escritorio%x*}x30+0+610" +repage "$t/barra.png"
convert \( "$t/sender.png" "$t/checker.png" -bordercolor '#2a7098' -border 10 -gravity center \
    -background '#2a7098' +append \) "$t/barra.png" -gravity east -background '#2a7098' -append \
    "$raiz/share/capturas/windows-wine.png"
echo "share/capturas/windows-wine.png"
