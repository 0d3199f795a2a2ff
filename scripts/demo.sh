#!/usr/bin/env bash
# Runs a program against the clock simulator in ./demo: the simulated clock
# starts two minutes wrong and the program sets it right. For the checker,
# the simulated clock is knocked 45 s back half a minute after its start-up
# set (QUARVEL_DEMO_GOLPE seconds), and the demo says when the checker finds
# it and sets it again.
#   scripts/demo.sh checker|sender [build-dir]
# QUARVEL_DEMO_CARPETA: where it works (default ./demo).
set -euo pipefail

modo=${1:-checker}
build=$(realpath "${2:-build}")
raiz=$(cd "$(dirname "$0")/.." && pwd)
carpeta=${QUARVEL_DEMO_CARPETA:-$raiz/demo}
golpe=${QUARVEL_DEMO_GOLPE:-30}
simulador="$build/simulator/simulador_reloj"
case "$modo" in
  checker) programa="$build/checker/Quarvel430" ;;
  sender) programa="$build/sender/Quarvel38" ;;
  *) echo "uso: $0 checker|sender [build-dir]" >&2; exit 2 ;;
esac

mkdir -p "$carpeta"
cd "$carpeta"
printf '[COM_PORT]\r\n1\r\n\r\n[COM_CFG]\r\n9600,N,8,1\r\n' > qv.ini
for i in 1 2 3 4 5 6 7; do printf '\r\n[T%d]\r\n 100 \r\n' "$i" >> qv.ini; done
printf '1\r\n' > qv_int.ini
# Each run starts clean: no history, no fine correction left from the last.
rm -f salida.txt sincro.txt historial.csv historial.csv.1 qv_fino.ini

# Ctrl-C reaches the program alone: the simulator and the virtual display
# run in sessions of their own, and go after it, so it closes the normal way
# (its lock removed, its files written) on a display that is still there.
fondo=()
prog=
parar() {
  local estado=$?
  trap - EXIT INT TERM
  if [ -n "$prog" ]; then
    kill -INT "$prog" 2>/dev/null || true
    wait "$prog" 2>/dev/null || true
  fi
  local i
  # Each goes before the next: polled, as bash's wait inside a trap that
  # broke a wait can hang on a helper already gone.
  local n
  for ((i = ${#fondo[@]} - 1; i >= 0; i--)); do
    kill "${fondo[i]}" 2>/dev/null || true
    for ((n = 0; n < 50; n++)); do
      kill -0 "${fondo[i]}" 2>/dev/null || break
      sleep 0.1
    done
  done
  exit "$estado"
}
trap parar EXIT
# Ctrl-C or a kill ends the demo as it should: status 0.
trap 'true; parar' INT TERM

# Without a display: a virtual one for the sender (so "Inicio" can be
# clicked) on the first free number, Qt's offscreen platform for the checker.
virtual=
if [ -z "${DISPLAY:-}" ]; then
  if [ "$modo" = sender ]; then
    numero=$(mktemp)
    setsid Xvfb -displayfd 5 -screen 0 1024x768x24 -noreset 5>"$numero" >/dev/null 2>&1 &
    fondo+=($!)
    for _ in $(seq 100); do [ -s "$numero" ] && break; sleep 0.1; done
    export DISPLAY=":$(head -n 1 "$numero")"
    rm -f "$numero"
    virtual=1
  else
    export QT_QPA_PLATFORM=offscreen
  fi
fi

golpe_sim=()
[ "$modo" = checker ] && golpe_sim=(--knock "$golpe:-45")
# Half a second off the PC's phase: the clock's own seconds then roll half a
# second away from the set's seconds byte. Rolling between the minute's step
# and the seconds' (100 ms apart), it would carry the minute on, and the set
# leave the clock a minute ahead.
setsid "$simulador" --offset -125.5 --drift-ppm 150 --sample-ms 40 --log simulador.log \
  "${golpe_sim[@]}" &
fondo+=($!)
for _ in $(seq 50); do [ -L COM1 ] && break; sleep 0.1; done

if [ "$modo" = checker ]; then
  # The window shows at start, its icon in the tray too.
  "$programa" --con-ventana 2> programa.log &
else
  "$programa" 2> programa.log &
fi
prog=$!

if [ "$modo" = sender ]; then
  if [ -n "$virtual" ]; then
    # Nobody to click: press "Inicio" for the user once the first second shows.
    sleep 2.5
    ventana=$(timeout 20 xdotool search --sync --name "Quarvel 3.8" | head -n 1)
    [ -n "$ventana" ] || { echo "demo: no se vio la ventana de Quarvel38" >&2; exit 1; }
    xdotool mousemove --window "$ventana" 301 12 click 1
    echo ">> Quarvel38: \"Inicio\" pulsado (pantalla virtual $DISPLAY)"
  else
    echo ">> Pulse \"Inicio\" en la ventana Quarvel 3.8"
  fi
else
  echo ">> Quarvel430 pone el reloj en hora en un par de segundos (estaba 2 min 5,5 s atrasado) y lo lee en el segundo 31 de cada minuto"
  echo ">> Su ventana se ve al arrancar; luego vive en la bandeja: su icono y «Restaurar» la traen"
  # Historial has something to show within the first minutes: besides the
  # minute's read-back, one every 10 s.
  # Each helper loop drops the demo's traps: a kill ends it, never runs the
  # demo's own ending inside it.
  (trap - EXIT INT TERM; while sleep 10 && kill -USR1 "$prog" 2>/dev/null; do :; done) &
  fondo+=($!)
  echo ">> La demostración pide además una lectura cada 10 s (SIGUSR1), para que Historial tenga pronto qué mostrar"
  # The knock, and every wrong clock the checker finds, said as they come.
  # The knock is said once the simulator has logged it.
  (trap - EXIT INT TERM
   until grep -q '"knock_s"' simulador.log 2>/dev/null; do sleep 0.2; done
   echo ">> Golpe: el reloj simulado se atrasa 45 s; la próxima lectura lo verá") &
  fondo+=($!)
  (
    trap - EXIT INT TERM
    vistas=0
    while sleep 1; do
      n=$(grep -c '' sincro.txt 2>/dev/null) || n=0
      while [ "$vistas" -lt "$n" ]; do
        vistas=$((vistas + 1))
        echo ">> Reloj mal, anotado en sincro.txt: $(sed -n "${vistas}p" sincro.txt | tr -d '\r')"
        echo ">> Quarvel430 lo pone en hora de nuevo"
      done
    done
  ) &
  fondo+=($!)
fi
echo ">> Ctrl-C termina la demostración; los archivos quedan en $carpeta"
wait "$prog" || true
prog=
true
parar
