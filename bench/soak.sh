#!/usr/bin/env bash
# Soak run of the checker against the clock simulator: hours of read-backs
# with the clock knocked wrong now and then, to see every knock detected and
# corrected and the checker's memory stay flat. Not part of `make test`.
#
#   bench/soak.sh [minutes]      default 30; BUILD=dir for another build
#   SOAK_CADA=N                  knock the clock every N minutes (default:
#                                a third of the run, 1 to 3)
#   SOAK_DIR=dir                 keep the work folder there instead of a
#                                temporary one removed at the end
#
# The simulator has no control channel, and writing into the port while the
# checker owns it would race with its own commands, so a knock restarts the
# simulator with a new --offset. Knocks fall at second 50, well clear of the
# checker's read-back at second 31 and of the correction that follows it.
set -euo pipefail

minutos=${1:-30}
case "$minutos" in
'' | *[!0-9]* | 0) echo "uso: $0 [minutos]" >&2; exit 2 ;;
esac
raiz=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD:-$raiz/build}
case "$build" in /*) ;; *) build="$raiz/$build" ;; esac
simulador="$build/simulator/simulador_reloj"
comprobador="$build/checker/Quarvel430"
for b in "$simulador" "$comprobador"; do
  [ -x "$b" ] || { echo "falta $b: ejecute antes make build" >&2; exit 1; }
done

cada=${SOAK_CADA:-$((minutos / 3))}
[ "$cada" -lt 1 ] && cada=1
[ "$cada" -gt 3 ] && [ -z "${SOAK_CADA:-}" ] && cada=3

if [ -n "${SOAK_DIR:-}" ]; then
  dir=$SOAK_DIR
  mkdir -p "$dir"
  rm -f "$dir"/sim-*.log "$dir"/sim-*.out "$dir"/sim.log "$dir"/sincro.txt "$dir"/salida.txt
else
  dir=$(mktemp -d "${TMPDIR:-/tmp}/quarvel-soak.XXXXXX")
fi

pid_sim=""
pid_chk=""
terminar() {
  local rc=$?
  set +e
  # Only the processes this script started, by their id.
  if [ -n "$pid_chk" ]; then kill "$pid_chk" 2>/dev/null; wait "$pid_chk" 2>/dev/null; fi
  if [ -n "$pid_sim" ]; then kill "$pid_sim" 2>/dev/null; wait "$pid_sim" 2>/dev/null; fi
  [ -z "${SOAK_DIR:-}" ] && rm -rf "$dir"
  exit $rc
}
trap terminar EXIT
trap 'exit 130' INT TERM

cd "$dir"
# shellcheck source=bench/ajustes.sh
source "$raiz/bench/ajustes.sh"
escribir_ajustes

n_sim=0
arrancar_simulador() { # offset in seconds
  n_sim=$((n_sim + 1))
  "$simulador" --log "sim-$n_sim.log" --quiet --offset "$1" >"sim-$n_sim.out" 2>&1 &
  pid_sim=$!
  esperar_simulador "$pid_sim" "sim-$n_sim.out"
}

rss() { awk '/^VmRSS:/ {print $2}' "/proc/$1/status" 2>/dev/null || echo "?"; }
hwm() { awk '/^VmHWM:/ {print $2}' "/proc/$1/status" 2>/dev/null || echo "?"; }
contar() { cat sim-*.log 2>/dev/null | grep -c "\"cmd\":\"$1\"" || true; }

arrancar_simulador 0
QT_QPA_PLATFORM=offscreen "$comprobador" >checker.out 2>&1 &
pid_chk=$!
# Start-up and the first setting of the clock, one second after the start.
sleep 5
kill -0 "$pid_chk" 2>/dev/null || { echo "el comprobador termino al arrancar" >&2; cat checker.out >&2; exit 1; }
rss_inicio=$(rss "$pid_chk")
echo "soak: $minutos min en $dir, golpe al reloj cada $cada min; VmRSS inicial ${rss_inicio} kB"

# Wrong by minutes, by an hour, by a day (the date), slow and fast.
desfases=(600 -660 3600 -86400 420 -7200)
inicio=$(date +%s)
fin=$((inicio + minutos * 60))
proximo=$((inicio + cada * 60))
golpes=0
while [ "$(date +%s)" -lt "$fin" ]; do
  sleep 1
  kill -0 "$pid_chk" 2>/dev/null || { echo "soak: el comprobador murio" >&2; cat checker.out >&2; exit 1; }
  kill -0 "$pid_sim" 2>/dev/null || { echo "soak: el simulador murio" >&2; cat "sim-$n_sim.out" >&2; exit 1; }
  ahora=$(date +%s)
  segundo=$((10#$(date +%S)))
  # A knock too close to the end could not be seen; skip it.
  if [ "$ahora" -ge "$proximo" ] && [ "$segundo" -ge 50 ] && [ "$segundo" -le 55 ] &&
    [ $((fin - ahora)) -gt 50 ]; then
    desfase=${desfases[$((golpes % ${#desfases[@]}))]}
    kill "$pid_sim"
    wait "$pid_sim" 2>/dev/null || true
    arrancar_simulador "$desfase"
    golpes=$((golpes + 1))
    proximo=$((ahora + cada * 60))
    echo "  $(date +%T) golpe $golpes: simulador con --offset $desfase"
  fi
done

# The last knock may still await its read-back (at most two minutes away).
# No file yet (no knock seen, or none made): 0, not a failed pipeline.
vistos() { if [ -f sincro.txt ]; then wc -l <sincro.txt; else echo 0; fi; }
limite=$(($(date +%s) + 150))
while [ "$(vistos)" -lt "$golpes" ] || [ "$(contar CW)" -le "$golpes" ]; do
  [ "$(date +%s)" -ge "$limite" ] && break
  sleep 2
done

rss_fin=$(rss "$pid_chk")
pico=$(hwm "$pid_chk")
lecturas=$(contar CX)
correcciones=$(contar CW)
errores=$(contar error)
desajustes=$(vistos)
cat sim-*.log >sim.log 2>/dev/null || true

echo "soak: $minutos min, $golpes golpes al reloj"
echo "  lecturas (CX):                 $lecturas"
echo "  desajustes (lineas sincro.txt): $desajustes"
echo "  puestas en hora (CW):          $correcciones (la primera, al arrancar)"
echo "  comandos erroneos en el log:   $errores"
echo "  VmRSS del comprobador:         inicio ${rss_inicio} kB, fin ${rss_fin} kB (pico ${pico} kB)"
[ -f sincro.txt ] && sed 's/^/  | /' sincro.txt | tr -d '\r'

# Every knock seen by a read-back must have been noted and corrected.
if [ "$desajustes" -lt "$golpes" ] || [ "$correcciones" -lt $((golpes + 1)) ]; then
  echo "soak: algun golpe no se detecto o no se corrigio" >&2
  exit 1
fi
