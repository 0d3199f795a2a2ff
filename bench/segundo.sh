#!/usr/bin/env bash
# Whether each read request reaches the device inside the second it was
# meant for, measured on the device's side: the clock simulator logs when
# each request's last byte arrived; the history says when its write began.
# The checker runs windowless with a read asked for every 2 s besides the
# one at second 31, with CARGA busy loops beside it (default 2: both cores).
# Not part of `make test`.
#
#   bench/segundo.sh [read-backs]    default 100; BUILD=dir for another build
set -euo pipefail

lecturas=${1:-100}
case "$lecturas" in '' | *[!0-9]* | 0) echo "uso: $0 [lecturas]" >&2; exit 2 ;; esac
raiz=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD:-$raiz/build}
case "$build" in /*) ;; *) build="$raiz/$build" ;; esac
simulador="$build/simulator/simulador_reloj"
comprobador="$build/checker/Quarvel430"
for b in "$simulador" "$comprobador"; do
  [ -x "$b" ] || { echo "falta $b: ejecute antes make build" >&2; exit 1; }
done

dir=$(mktemp -d "${TMPDIR:-/tmp}/quarvel-segundo.XXXXXX")
pids=()
terminar() {
  local rc=$?
  set +e
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null; done
  for p in "${pids[@]}"; do wait "$p" 2>/dev/null; done
  rm -rf "$dir"
  exit $rc
}
trap terminar EXIT
trap 'exit 130' INT TERM

cd "$dir"
# shellcheck source=bench/ajustes.sh
source "$raiz/bench/ajustes.sh"
escribir_ajustes

"$simulador" --log sim.log --quiet --latency 20 >sim.out 2>&1 &
pids+=($!)
esperar_simulador "$!" sim.out

for _ in $(seq "${CARGA:-2}"); do
  (exec yes >/dev/null) &
  pids+=($!)
done
"$comprobador" --sin-ventana >checker.out 2>&1 &
chk=$!
pids+=("$chk")

# SIGUSR1 only once the checker has said its start line (its handler is set).
for _ in $(seq 200); do grep -q 'Quarvel430 ' checker.out 2>/dev/null && break; sleep 0.05; done
grep -q 'Quarvel430 ' checker.out || { echo "el comprobador no arranco" >&2; cat checker.out >&2; exit 1; }

filas() { [ -f historial.csv ] && tail -n +2 historial.csv | wc -l || echo 0; }
echo "segundo: $lecturas lecturas con ${CARGA:-2} bucles ocupados, en $dir"
limite=$(($(date +%s) + lecturas * 4 + 120))
while [ "$(filas)" -lt "$lecturas" ] && [ "$(date +%s)" -lt "$limite" ]; do
  kill -USR1 "$chk" 2>/dev/null || { echo "el comprobador termino" >&2; cat checker.out >&2; exit 1; }
  sleep 2
done

python3 - historial.csv sim.log <<'PY'
import datetime, json, statistics, sys
escrituras = []
for linea in open(sys.argv[1]).read().splitlines()[1:]:
    campo = linea.split(';')[0]
    escrituras.append(datetime.datetime.fromisoformat(campo).timestamp())
llegadas = [json.loads(l)['t_us'] / 1e6 for l in open(sys.argv[2]) if '"cmd":"CX"' in l]
margenes, fuera, retardos = [], 0, []
for w in escrituras:
    a = next((x for x in llegadas if w - 0.002 <= x <= w + 0.5), None)
    if a is None:
        continue
    retardos.append((a - w) * 1e3)
    if int(a) != int(w):
        fuera += 1
    margenes.append((int(w) + 1 - a) * 1e3)
if not margenes:
    sys.exit("ninguna lectura emparejada")
margenes.sort()
print(f"| read requests that reached the device outside their second | {len(margenes)} | {fuera} |")
print(f"| margin from the request's arrival to its second's end, ms | {len(margenes)} | "
      f"median {statistics.median(margenes):.1f} | least {margenes[0]:.1f} |")
print(f"| write's start to the request's last byte at the device, ms | {len(retardos)} | "
      f"median {statistics.median(retardos):.1f} | worst {max(retardos):.1f} |")
PY
