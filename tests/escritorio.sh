#!/usr/bin/env bash
# Both programs on a virtual desktop, on a session bus of its own (so nothing
# lands in the tray of the desktop the test runs in):
#  - the old XEmbed tray (trayer): each window is shown and captured,
#    "Inicio" is clicked, the checker hides in the tray, a click on its icon
#    pops up "Restaurar" and that brings the window back;
#  - a StatusNotifierItem watcher of the tests' own that comes after the
#    checker: the item is still registered, activating it pops "Restaurar",
#    which brings the window back, and so does the menu the item exports.
# Usage: escritorio.sh <build-dir> [folder for the captures]
set -uo pipefail

build=$(realpath "$1")
capturas=${2:-}
for h in Xvfb trayer xdotool import convert dbus-run-session gdbus; do
  if ! command -v "$h" >/dev/null; then
    echo "SKIPPED: $h is not installed (scripts/instalar-dependencias.sh installs it)"
    exit 77
  fi
done
if [ -z "${QUARVEL_BUS_PROPIO:-}" ]; then
  exec dbus-run-session -- env QUARVEL_BUS_PROPIO=1 bash "$0" "$@"
fi

# shellcheck source=tests/comun.sh
source "$(dirname "$0")/comun.sh"
[ -n "${DEPURAR:-}" ] && set -x

# The programs must draw on this display, whatever the test runner set.
unset QT_QPA_PLATFORM
# The first free display, as the server itself finds it.
Xvfb -displayfd 5 -screen 0 1024x600x24 -nolisten tcp -noreset 5>"$trabajo/pantalla" >/dev/null 2>&1 &
pids+=($!)
esperar 100 test -s "$trabajo/pantalla" || { echo "FAIL: Xvfb did not start"; exit 1; }
export DISPLAY=":$(head -n 1 "$trabajo/pantalla")"
esperar 100 xdotool getmouselocation >/dev/null 2>&1
# trayer now and then gives up on a display that has just started: start it
# again until it stays.
for _ in 1 2 3 4 5; do
  trayer --edge top --align right --widthtype pixel --width 120 --height 24 >/dev/null 2>&1 &
  bandeja=$!
  sleep 1
  kill -0 "$bandeja" 2>/dev/null && break
done
pids+=("$bandeja")

cd "$trabajo" || exit 1
ajustes .
"$build/simulator/simulador_reloj" --offset -125 --log sim.log --quiet > sim.out 2>&1 &
pids+=($!)
esperar 100 test -L COM1 || { echo "FAIL: the simulator did not start"; exit 1; }

llegaron() { # llegaron CMD N: the simulator logged CMD at least N times
  local n
  n=$(grep -sc "\"cmd\":\"$1\"" sim.log)
  [ "${n:-0}" -ge "$2" ]
}
no_vacia() { # a capture that is not one flat colour
  local d
  d=$(convert "$1" -format '%[fx:standard_deviation]' info: 2>/dev/null)
  awk -v d="${d:-0}" 'BEGIN { exit !(d > 0.01) }'
}
capturar() { # capturar NAME
  import -window root "$1.png" 2>/dev/null
  comprobar "capture $1 not blank" no_vacia "$1.png"
  [ -n "$capturas" ] && cp "$1.png" "$capturas/" 2>/dev/null
}
# The checker's main window shows within SECONDS, or is hidden right now.
se_ve() { timeout "$1" xdotool search --sync --onlyvisible --name '^Quarvel 4\.3$' >/dev/null; }
oculta() { ! xdotool search --onlyvisible --name '^Quarvel 4\.3$' >/dev/null 2>&1; }
ventanas() { # "id width height" of each visible window of the checker
  local w
  for w in $(xdotool search --onlyvisible --class Quarvel430 2>/dev/null); do
    eval "$(xdotool getwindowgeometry --shell "$w")"
    echo "$w $WIDTH $HEIGHT"
  done
}
clic() { # a click in the middle of a window
  eval "$(xdotool getwindowgeometry --shell "$1")"
  xdotool mousemove $((X + WIDTH / 2)) $((Y + HEIGHT / 2)) click 1
}
clic_primera() { # a click on a menu's first entry, "Restaurar"
  eval "$(xdotool getwindowgeometry --shell "$1")"
  xdotool mousemove $((X + WIDTH / 2)) $((Y + HEIGHT / 4)) click 1
}

# The sender: window, "Inicio", the chain on the line.
"$build/sender/Quarvel38" > sender.out 2>&1 &
sender=$!
pids+=("$sender")
ventana=$(timeout 10 xdotool search --sync --onlyvisible --name '^Quarvel 3\.8$' | head -n 1)
comprobar "sender window shown" test -n "$ventana"
sleep 1.5
capturar sender
xdotool mousemove --window "$ventana" 301 12 click 1
comprobar "Inicio sent the chain" esperar 50 llegaron CF 1
kill "$sender" 2>/dev/null
wait "$sender" 2>/dev/null

# The checker: update at start, hidden in the tray, restored from its menu.
"$build/checker/Quarvel430" > checker.out 2>&1 &
checker=$!
pids+=("$checker")
comprobar "checker set the clock at start" esperar 60 llegaron CF 2
# The icon: the program's small square window embedded in the tray.
icono=
hay_icono() {
  icono=$(ventanas | awk '$2 >= 16 && $2 <= 48 && $2 == $3 { print $1; exit }')
  [ -n "$icono" ]
}
# The tray may still be embedding the icon: the click is tried a few times.
# It pops a menu, the program's other visible small window, with "Restaurar",
# "Historial" and "Comprobar ahora".
menu=
hay_menu_icono() {
  menu=$(ventanas | awk -v i="$icono" '$1 != i && $3 < 100 { print $1; exit }')
  [ -n "$menu" ]
}
restaurar() {
  clic "$icono"
  esperar 30 hay_menu_icono || return 1
  sleep 0.3
  [ -e bandeja.png ] || capturar bandeja
  clic_primera "$menu"
  se_ve 5
}
comprobar "tray icon present" esperar 50 hay_icono
comprobar "checker window hidden in the tray" esperar 30 oculta
if [ -n "$icono" ]; then
  comprobar "Restaurar brought the window back" esperar 4 restaurar
  sleep 0.5
  capturar checker
fi

# --- The StatusNotifierItem protocol ----------------------------------------
kill "$checker" "$bandeja" 2>/dev/null
sleep 0.5
mkdir -p sni && cp qv.ini qv_int.ini sni/ && ln -s "$(readlink COM1)" sni/COM1
cd sni || exit 1
"$build/checker/Quarvel430" > checker.out 2>&1 &
checker=$!
pids+=("$checker")
# No tray yet: the window stays.
comprobar "without a tray the checker keeps its window" se_ve 30
sleep 2
"$build/tests/vigilante_sni" > vigilante.out 2>&1 &
pids+=($!)
servicio=
registrado() {
  servicio=$(sed -n 's/^vigilante: registrado \([^/]*\).*/\1/p' vigilante.out | head -n 1)
  [ -n "$servicio" ]
}
item() { gdbus call --session --dest "$servicio" "$@" 2>&1; }
if comprobar "a watcher that came late got the item" esperar 50 registrado; then
  igual "item title" "(<'Quarvel 4.3 (COM1)'>,)" "$(item --object-path /StatusNotifierItem \
    --method org.freedesktop.DBus.Properties.Get org.kde.StatusNotifierItem Title)"
  comprobar "checker window hidden once the item is there" esperar 30 oculta
  # The panel's own menu (a right click): "Restaurar" over dbusmenu.
  menu=$(item --object-path /MenuBar --method com.canonical.dbusmenu.GetLayout -- 0 -1 '[]')
  id=$(printf '%s' "$menu" | sed -n "s/.*<(\([0-9]*\), {[^}]*'label': <'Restaurar'>.*/\1/p")
  if [ -n "$id" ]; then
    item --object-path /MenuBar --method com.canonical.dbusmenu.Event -- "$id" clicked "<''>" 0 >/dev/null
  fi
  comprobar "the item's menu holds Restaurar, which brings the window back" se_ve 3 ||
    echo "menu: $menu"
  # A click on the item pops the window's own menu with "Restaurar".
  item --object-path /StatusNotifierItem --method org.kde.StatusNotifierItem.Activate 600 20 >/dev/null
  hay_menu() { test -n "$(ventanas | awk '$3 < 100 { print $1 }')"; }
  comprobar "activating the item pops the Restaurar menu" esperar 30 hay_menu

  # A second start (from the menu, say) shows the hidden window and ends.
  xdotool key Escape
  kill "$checker" 2>/dev/null
  wait "$checker" 2>/dev/null
  mkdir -p ../segundo && cp qv.ini qv_int.ini ../segundo/ && ln -s "$(readlink COM1)" ../segundo/COM1
  cd ../segundo || exit 1
  "$build/checker/Quarvel430" > checker.out 2>&1 &
  pids+=($!)
  dos_items() { [ "$(grep -c 'registrado' ../sni/vigilante.out)" -ge 2 ]; }
  comprobar "the new checker's item is there" esperar 300 dos_items
  comprobar "the new checker hides in the tray" esperar 100 oculta
  inicio=$(date +%s%N)
  timeout 20 "$build/checker/Quarvel430" > segundo.out 2>&1
  codigo=$?
  ms=$((($(date +%s%N) - inicio) / 1000000))
  igual "a second start ends with 0" 0 "$codigo"
  comprobar "a second start ends soon (${ms} ms)" test "$ms" -lt 2500
  comprobar "a second start shows the running window" se_ve 5
fi

resumen
