#!/usr/bin/env bash
# Runs a program against the clock simulator in ./demo: the simulated clock
# starts two minutes wrong and the program sets it right.
#   scripts/demo.sh checker|sender [build-dir]
set -euo pipefail

modo=${1:-checker}
build=$(realpath "${2:-build}")
raiz=$(cd "$(dirname "$0")/.." && pwd)
carpeta="$raiz/demo"
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
rm -f salida.txt sincro.txt

pids=()
parar() {
  trap - EXIT INT TERM
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  wait 2>/dev/null || true
}
trap parar EXIT INT TERM

# Without a display: a virtual one for the sender (so "Inicio" can be
# clicked), Qt's offscreen platform for the checker.
if [ -z "${DISPLAY:-}" ]; then
  if [ "$modo" = sender ]; then
    Xvfb :77 -screen 0 1024x768x24 -noreset >/dev/null 2>&1 &
    pids+=($!)
    export DISPLAY=:77
    sleep 1
  else
    export QT_QPA_PLATFORM=offscreen
  fi
fi

"$simulador" --offset -125 --log simulador.log &
pids+=($!)
for _ in $(seq 50); do [ -L COM1 ] && break; sleep 0.1; done

"$programa" 2> programa.log &
prog=$!
pids+=($prog)

if [ "$modo" = sender ]; then
  if [ "${DISPLAY:-}" = ":77" ]; then
    # Nobody to click: press "Inicio" for the user once the first second shows.
    sleep 2.5
    ventana=$(xdotool search --sync --name "Quarvel 3.8" | head -n 1)
    xdotool mousemove --window "$ventana" 301 12 click 1
    echo ">> Quarvel38: \"Inicio\" pulsado (pantalla virtual $DISPLAY)"
  else
    echo ">> Pulse \"Inicio\" en la ventana Quarvel 3.8"
  fi
else
  echo ">> Quarvel430 pondra el reloj en hora en un par de segundos y lo leera en el segundo 31"
fi
echo ">> Ctrl-C termina la demostracion; los archivos quedan en $carpeta"
wait "$prog"
