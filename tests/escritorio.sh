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

pantalla=
for n in $(seq 91 120); do
  [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ] || { pantalla=":$n"; break; }
done
export DISPLAY=$pantalla
# The programs must draw on this display, whatever the test runner set.
unset QT_QPA_PLATFORM
Xvfb "$DISPLAY" -screen 0 1024x600x24 -nolisten tcp -noreset >/dev/null 2>&1 &
pids+=($!)
for _ in $(seq 50); do xdotool getmouselocation >/dev/null 2>&1 && break; sleep 0.1; done
# trayer now and then gives up on a display that has just started: start it
# again until it stays.
for _ in 1 2 3 4 5; do
  trayer --edge top --align right --widthtype pixel --width 120 --height 24 >/dev/null 2>&1 &
  bandeja=$!
  sleep 1
  kill -0 "$bandeja" 2>/dev/null && break
done
pids+=($bandeja)

cd "$trabajo"
ajustes .
"$build/simulator/simulador_reloj" --offset -125 --log sim.log --quiet > sim.out 2>&1 &
pids+=($!)
for _ in $(seq 50); do [ -L COM1 ] && break; sleep 0.1; done

cuenta() {
  local n
  n=$(grep -c "\"cmd\":\"$1\"" sim.log 2>/dev/null)
  echo "${n:-0}"
}
esperar_cuenta() { # cmd n seconds
  for _ in $(seq $(($3 * 10))); do [ "$(cuenta "$1")" -ge "$2" ] && return 0; sleep 0.1; done
  return 1
}
no_vacia() { # a capture that is not one flat colour
  local d
  d=$(convert "$1" -format '%[fx:standard_deviation]' info: 2>/dev/null)
  awk -v d="${d:-0}" 'BEGIN { exit !(d > 0.01) }'
}
capturar() { # window name
  import -window root "$1.png" 2>/dev/null
  if no_vacia "$1.png"; then ok "captured $1"; else falla "capture $1 is blank"; fi
  [ -n "$capturas" ] && cp "$1.png" "$capturas/" 2>/dev/null
}

# The sender: window, "Inicio", the chain on the line.
"$build/sender/Quarvel38" > sender.out 2>&1 &
sender=$!
pids+=($sender)
ventana=$(timeout 10 xdotool search --sync --onlyvisible --name '^Quarvel 3\.8$' | head -n 1)
if [ -n "$ventana" ]; then ok "sender window shown"; else falla "sender window not shown"; fi
sleep 1.5
capturar sender
xdotool mousemove --window "$ventana" 301 12 click 1
if esperar_cuenta CF 1 5; then ok "Inicio sent the chain"; else falla "no chain after Inicio"; fi
kill "$sender" 2>/dev/null

# The checker: update at start, hidden in the tray, restored from its menu.
"$build/checker/Quarvel430" > checker.out 2>&1 &
pids+=($!)
if esperar_cuenta CF 2 6; then ok "checker set the clock at start"; else falla "no update from the checker"; fi
# The icon: the program's small square window embedded in the tray.
icono=
for _ in $(seq 50); do
  for w in $(xdotool search --onlyvisible --class Quarvel430 2>/dev/null); do
    eval "$(xdotool getwindowgeometry --shell "$w")"
    if [ "$WIDTH" -ge 16 ] && [ "$WIDTH" -le 48 ] && [ "$WIDTH" = "$HEIGHT" ]; then
      icono=$w
      break 2
    fi
  done
  sleep 0.1
done
if [ -n "$icono" ]; then ok "tray icon present"; else falla "no tray icon"; fi
if xdotool search --onlyvisible --name '^Quarvel 4\.3$' >/dev/null 2>&1; then
  falla "checker window visible although a tray is there"
else
  ok "checker window hidden in the tray"
fi
if [ -n "$icono" ]; then
  # The tray may still be embedding the icon: try the click a few times.
  restaurada=
  for intento in 1 2 3 4; do
    sleep 0.5
    eval "$(xdotool getwindowgeometry --shell "$icono")"
    xdotool mousemove $((X + WIDTH / 2)) $((Y + HEIGHT / 2)) click 1
    sleep 0.7
    [ "$intento" = 1 ] && capturar bandeja
    # The popup menu: the program's other visible small window.
    for w in $(xdotool search --onlyvisible --class Quarvel430 2>/dev/null); do
      [ "$w" = "$icono" ] && continue
      eval "$(xdotool getwindowgeometry --shell "$w")"
      if [ "$HEIGHT" -lt 60 ]; then
        xdotool mousemove $((X + WIDTH / 2)) $((Y + HEIGHT / 2)) click 1
        break
      fi
    done
    if timeout 2 xdotool search --sync --onlyvisible --name '^Quarvel 4\.3$' >/dev/null; then
      restaurada=1
      break
    fi
  done
  if [ -n "$restaurada" ]; then ok "Restaurar brought the window back"; else falla "window not restored"; fi
  sleep 0.5
  capturar checker
fi

# --- The StatusNotifierItem protocol ----------------------------------------
pkill -x Quarvel430 2>/dev/null
kill "$bandeja" 2>/dev/null
sleep 0.5
mkdir -p sni && cp qv.ini qv_int.ini sni/ && ln -s "$(readlink COM1)" sni/COM1
cd sni
"$build/checker/Quarvel430" > checker.out 2>&1 &
pids+=($!)
# No tray yet: the window stays.
if timeout 10 xdotool search --sync --onlyvisible --name '^Quarvel 4\.3$' >/dev/null; then
  ok "without a tray the checker keeps its window"
else
  falla "no checker window without a tray"
fi
sleep 2
"$build/tests/vigilante_sni" > vigilante.out 2>&1 &
pids+=($!)
servicio=
for _ in $(seq 50); do
  servicio=$(sed -n 's/^vigilante: registrado \([^/]*\).*/\1/p' vigilante.out | head -n 1)
  [ -n "$servicio" ] && break
  sleep 0.1
done
if [ -n "$servicio" ]; then ok "a watcher that came late got the item"; else falla "no item registered"; fi
item() { gdbus call --session --dest "$servicio" "$@" 2>&1; }
if [ -n "$servicio" ]; then
  titulo=$(item --object-path /StatusNotifierItem --method org.freedesktop.DBus.Properties.Get \
    org.kde.StatusNotifierItem Title)
  if [ "$titulo" = "(<'Quarvel 4.3'>,)" ]; then ok "item titled Quarvel 4.3"; else falla "item title $titulo"; fi
  sleep 0.5
  if xdotool search --onlyvisible --name '^Quarvel 4\.3$' >/dev/null 2>&1; then
    falla "checker window visible although the item is there"
  else
    ok "checker window hidden once the item is there"
  fi
  # The panel's own menu (a right click): "Restaurar" over dbusmenu.
  menu=$(item --object-path /MenuBar --method com.canonical.dbusmenu.GetLayout -- 0 -1 '[]')
  id=$(printf '%s' "$menu" | sed -n "s/.*<(\([0-9]*\), {[^}]*'label': <'Restaurar'>.*/\1/p")
  if [ -n "$id" ]; then
    item --object-path /MenuBar --method com.canonical.dbusmenu.Event -- "$id" clicked "<''>" 0 >/dev/null
  fi
  if timeout 3 xdotool search --sync --onlyvisible --name '^Quarvel 4\.3$' >/dev/null; then
    ok "the item's menu holds Restaurar, which brings the window back"
  else
    falla "the item's menu did not bring the window back ($menu)"
  fi
  # A click on the item pops the window's own menu with "Restaurar".
  item --object-path /StatusNotifierItem --method org.kde.StatusNotifierItem.Activate 600 20 >/dev/null
  sleep 0.7
  emergente=
  for w in $(xdotool search --onlyvisible --class Quarvel430 2>/dev/null); do
    eval "$(xdotool getwindowgeometry --shell "$w")"
    [ "$HEIGHT" -lt 60 ] && emergente=$w
  done
  if [ -n "$emergente" ]; then ok "activating the item pops the Restaurar menu"
  else falla "activating the item popped no menu"; fi
fi

resumen
