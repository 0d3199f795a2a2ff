#!/usr/bin/env bash
# Screenshots for the README and the docs, taken on a virtual X display and a session bus
# of its own with the clock simulator: the sender after "Inicio", its
# configuration window, the old tray's menu (trayer), the checker restored
# from it, and today's tray (xfce4-panel's status tray) with the menu the
# panel shows on a right click and the one a left click pops.
#   scripts/capturas.sh [build-dir]     -> share/capturas/*.png
# Needs Xvfb, trayer, xfce4-panel, xdotool, xwininfo, ImageMagick and
# dbus-run-session (make deps).
set -euo pipefail

# xfce4-panel's settings service starts on the bus with the bus's
# environment: the panel's settings go in before the bus does.
if [ -z "${QUARVEL_BUS_PROPIO:-}" ]; then
    xdg=$(mktemp -d)
    mkdir -p "$xdg/xfce4/xfconf/xfce-perchannel-xml"
    cat >"$xdg/xfce4/xfconf/xfce-perchannel-xml/xfce4-panel.xml" <<'FIN'
<?xml version="1.0" encoding="UTF-8"?>
<channel name="xfce4-panel" version="1.0">
  <property name="configver" type="int" value="2"/>
  <property name="panels" type="array">
    <value type="int" value="1"/>
    <property name="panel-1" type="empty">
      <property name="position" type="string" value="p=6;x=0;y=0"/>
      <property name="length" type="uint" value="100"/>
      <property name="position-locked" type="bool" value="true"/>
      <property name="size" type="uint" value="32"/>
      <property name="plugin-ids" type="array">
        <value type="int" value="1"/>
        <value type="int" value="2"/>
      </property>
    </property>
  </property>
  <property name="plugins" type="empty">
    <property name="plugin-1" type="string" value="separator">
      <property name="expand" type="bool" value="true"/>
    </property>
    <property name="plugin-2" type="string" value="systray">
      <property name="square-icons" type="bool" value="true"/>
    </property>
  </property>
</channel>
FIN
    status=0
    XDG_CONFIG_HOME=$xdg QUARVEL_BUS_PROPIO=1 NO_AT_BRIDGE=1 dbus-run-session -- bash "$0" "$@" ||
        status=$?
    rm -rf "$xdg"
    exit $status
fi

raiz=$(cd "$(dirname "$0")/.." && pwd)
build=$(realpath "${1:-$raiz/build}")
destino=$raiz/share/capturas
sender=$build/sender/Quarvel38
checker=$build/checker/Quarvel430
simulador=$build/simulator/simulador_reloj

for c in Xvfb trayer xfce4-panel xdotool xwininfo import busctl; do
    command -v "$c" >/dev/null || { echo "falta $c (make deps lo instala)" >&2; exit 1; }
done
for b in "$sender" "$checker" "$simulador"; do
    [ -x "$b" ] || { echo "falta $b: compile antes (make build)" >&2; exit 1; }
done
# ImageMagick's own convert, not a stand-in earlier in PATH.
convert=/usr/bin/convert
[ -x "$convert" ] || convert=convert

tmp=$(mktemp -d)
pids=()
parar() {
    local p
    for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
    wait 2>/dev/null || true
    rm -rf "$tmp"
}
trap parar EXIT INT TERM

fondo() {  # fondo COMMAND...: start in the background, stopped on exit
    "$@" &
    pids+=($!)
}

# window_of TITLE: id of the top-level window with that exact title.
ventana_de() {
    local titulo=$1 id=""
    for _ in $(seq 100); do
        id=$(xwininfo -root -children 2>/dev/null |
            awk -v t="\"$titulo\":" 'index($0, t) {print $1; exit}')
        if [ -n "$id" ] && xwininfo -id "$id" 2>/dev/null | grep -q 'Map State: IsViewable'; then
            echo "$id"
            return 0
        fi
        sleep 0.1
    done
    echo "no aparece la ventana \"$titulo\"" >&2
    return 1
}

# geometry ID: X Y W H of a window on the screen.
geometria() {
    xwininfo -id "$1" | awk '
        /Absolute upper-left X/ {x=$NF} /Absolute upper-left Y/ {y=$NF}
        /Width:/ {w=$NF} /Height:/ {h=$NF} END {print x, y, w, h}'
}

# A shot of the whole screen cropped to a rectangle, so popups and
# override-redirect windows in it come out too.
capturar() {  # capturar FILE X Y W H
    local f=$1 x=$2 y=$3 w=$4 h=$5
    import -window root "$tmp/pantalla.png"
    "$convert" "$tmp/pantalla.png" -crop "${w}x${h}+${x}+${y}" +repage -strip "$f"
    echo "  $f (${w}x${h})"
}
capturar_ventana() {  # capturar_ventana FILE ID
    local x y w h
    read -r x y w h < <(geometria "$2")
    capturar "$1" "$x" "$y" "$w" "$h"
}

# Virtual display, no window manager: windows come out without frames.
Xvfb -displayfd 3 -screen 0 1024x600x24 -nolisten tcp -noreset 3>"$tmp/pantalla" >/dev/null 2>&1 &
pids+=($!)
for _ in $(seq 50); do [ -s "$tmp/pantalla" ] && break; sleep 0.1; done
DISPLAY=:$(cat "$tmp/pantalla")
export DISPLAY
unset QT_QPA_PLATFORM
# A plain blue-grey desktop instead of black (display tiles it on the root
# window and returns non-zero even when it worked).
"$convert" -size 64x64 xc:'#5f7f9f' "$tmp/fondo.png"
display -window root "$tmp/fondo.png" </dev/null 2>/dev/null || true

# Settings as the launcher seeds them, with the simulator as COM1.
trabajo=$tmp/trabajo
mkdir -p "$trabajo"
printf '[COM_PORT]\r\n1\r\n\r\n[COM_CFG]\r\n9600,N,8,1\r\n' >"$trabajo/qv.ini"
for i in 1 2 3 4 5 6 7; do printf '\r\n[T%d]\r\n 100 \r\n' "$i" >>"$trabajo/qv.ini"; done
printf '5\r\n' >"$trabajo/qv_int.ini"
cd "$trabajo"
fondo "$simulador" --quiet --offset -120.3 >simulador.log 2>&1
for _ in $(seq 50); do [ -L COM1 ] && break; sleep 0.1; done

mkdir -p "$destino"
echo "capturas en $destino:"

# --- sender ---
fondo "$sender" 2>sender.log
v=$(ventana_de "Quarvel 3.8")
# "Inicio" only acts once the first second has shown; press it until the
# simulator reports the end of the setting chain ("CW").
puesto=no
for _ in 1 2 3; do
    sleep 2.5
    xdotool mousemove --window "$v" 301 12 click 1  # Inicio
    for _ in $(seq 40); do
        grep -q 'recibido CW' simulador.log && { puesto=si; break; }
        sleep 0.1
    done
    [ "$puesto" = si ] && break
done
[ "$puesto" = si ] || { echo "Inicio no puso el reloj en hora" >&2; exit 1; }
sleep 1
xdotool mousemove 0 0
capturar_ventana "$destino/sender.png" "$v"

xdotool mousemove --window "$v" 301 68 click 1      # Configurar
c=$(ventana_de "Configuracion")
sleep 1
xdotool mousemove 0 0
capturar_ventana "$destino/configuracion.png" "$c"
kill "${pids[-1]}" 2>/dev/null || true
wait "${pids[-1]}" 2>/dev/null || true
unset 'pids[-1]'

# --- checker, with a tray host at the top right ---
fondo trayer --edge top --align right --widthtype request --height 32 \
    --transparent false --SetDockType true --expand true >/dev/null 2>&1
bandeja=$(ventana_de panel)
fondo "$checker" 2>checker.log
# The checker goes to the tray when there is one: wait for its icon.
icono=""
for _ in $(seq 100); do
    icono=$(xwininfo -id "$bandeja" -tree 2>/dev/null |
        awk '/Quarvel430|"Quarvel 4.3"/ && /[0-9]+x[0-9]+\+/ {print $1; exit}')
    [ -n "$icono" ] && break
    sleep 0.1
done
[ -n "$icono" ] || { echo "el icono de la bandeja no aparece" >&2; xwininfo -id "$bandeja" -tree >&2; exit 1; }
sleep 2
read -r bx by _ bh < <(geometria "$icono")
# Clicked at its bottom left corner, the menu opens beside the icon
# rather than over it.
xdotool mousemove $((bx + 2)) $((by + bh - 3)) click 1
sleep 1
# The popup menu: the checker's mapped override-redirect top-level
# (xwininfo lists the top of the stack first).
menu=$(xwininfo -root -children | awk '/"Quarvel430": \("Quarvel430"/ {print $1}' |
    while read -r id; do
        xwininfo -id "$id" | grep -q 'Override Redirect State: yes' &&
            xwininfo -id "$id" | grep -q 'Map State: IsViewable' && echo "$id"
    done | head -n 1)
[ -n "$menu" ] || { echo "el menu de la bandeja no aparece" >&2; exit 1; }
read -r mx my mw mh < <(geometria "$menu")
read -r px py _ ph < <(geometria "$bandeja")
# The top right corner of the desktop: the tray and the menu dropping from it.
ancho=$(xwininfo -root | awk '/Width:/ {print $NF}')
x0=$((mx < px ? mx : px)); x0=$((x0 > 120 ? x0 - 120 : 0))
y1=$((my + mh > py + ph ? my + mh : py + ph)); y1=$((y1 + 50))
capturar "$destino/bandeja.png" "$x0" 0 $((ancho - x0)) "$y1"

# A read-back first, so the line under the buttons has its text.
kill -USR1 "$(pgrep -x Quarvel430)"
for _ in $(seq 150); do grep -q '^<6>reloj en hora' checker.log && break; sleep 0.1; done
# "Restaurar" is the first item, "Historial" the second.
xdotool mousemove $((mx + mw / 2)) $((my + 14)) click 1
w=$(ventana_de "Quarvel 4.3")
sleep 1
xdotool mousemove 0 0
capturar_ventana "$destino/checker.png" "$w"

# --- checker on today's tray: a panel that starts after it ---
kill "$(pgrep -x Quarvel430)" "$(pgrep -x trayer)" 2>/dev/null || true
sleep 1
fondo "$checker" 2>checker-sni.log
sleep 2
fondo xfce4-panel --disable-wm-check --sm-client-disable >panel.log 2>&1
items() {
    busctl --user get-property org.kde.StatusNotifierWatcher /StatusNotifierWatcher \
        org.kde.StatusNotifierWatcher RegisteredStatusNotifierItems 2>/dev/null
}
for _ in $(seq 100); do items | grep -q StatusNotifierItem && break; sleep 0.1; done
items | grep -q StatusNotifierItem || { echo "el panel no recibe el icono" >&2; exit 1; }
sleep 2
ancho=$(xwininfo -root | awk '/Width:/ {print $NF}')
# The icon sits at the panel's right end: the panel's own menu on a right
# click, the window's on a left one.
xdotool mousemove $((ancho - 16)) 16 click 3
sleep 1.2
capturar "$destino/bandeja-sni.png" $((ancho - 260)) 0 260 90
xdotool key Escape
sleep 0.5
xdotool mousemove $((ancho - 16)) 16 click 1
sleep 1
capturar "$destino/bandeja-sni-clic.png" $((ancho - 260)) 0 260 90
xdotool key Escape

# --- the checker at 200 %, after a read-back, shown by a second start ---
kill "$(pgrep -x Quarvel430)" 2>/dev/null || true
sleep 1
QT_SCALE_FACTOR=2 fondo "$checker" 2>checker-200.log
for _ in $(seq 100); do items | grep -q StatusNotifierItem && break; sleep 0.1; done
sleep 2
kill -USR1 "$(pgrep -x Quarvel430)"
for _ in $(seq 150); do grep -q '^<6>reloj en hora' checker-200.log && break; sleep 0.1; done
"$checker" 2>/dev/null || true
w=$(ventana_de "Quarvel 4.3")
sleep 1
xdotool mousemove 0 0
capturar_ventana "$destino/checker-200.png" "$w"
