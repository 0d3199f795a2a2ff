#!/usr/bin/env bash
# The checker as a service: no display and an empty environment, its events
# on stderr as the journal reads them, its metrics through Debian's node
# exporter; and the units and alert rules as systemd and Prometheus read them.
#   tests/servicio.sh BUILD
set -uo pipefail
build=$(realpath "$1")
raiz=$(cd "$(dirname "$0")/.." && pwd)
# shellcheck source=tests/comun.sh
source "$raiz/tests/comun.sh"
cd "$trabajo" || exit 1

# --- The units and the alert rules -------------------------------------------
mkdir unidades
cp "$raiz"/packaging/systemd/*.service unidades/
# The programs as built here; verify wants what ExecStart names to exist.
sed -i "s|/usr/bin/Quarvel430|$build/checker/Quarvel430|; s|/usr/bin/quarvel-lanzar|/bin/true|" \
  unidades/*.service
ln -s quarvel430@.service unidades/quarvel430@sala.service
comprobar "the units pass systemd-analyze verify" \
  systemd-analyze verify --man=no unidades/quarvel430@sala.service unidades/quarvel430.service
seguridad=$(systemd-analyze security --offline=true unidades/quarvel430@sala.service 2>/dev/null)
exposicion=$(sed -n 's/.*Overall exposure level for [^:]*: \([0-9.]*\).*/\1/p' <<<"$seguridad")
# systemd's own reading of the filter: the PC's sync state can be read
# (clock_adjtime, read-only without CAP_SYS_TIME), the clock not set.
comprobar "the clock's unit lets the sync state be read" \
  grep -Eq 'SystemCallFilter=~@clock .*(adjtimex|clock_adjtime) is allowed' <<<"$seguridad"
comprobar "the clock's unit cannot set the clock" \
  grep -q '✓ CapabilityBoundingSet=~CAP_SYS_TIME' <<<"$seguridad"
for u in quarvel430@.service quarvel430.service; do
  igual "$u names its journal lines Quarvel430" "SyslogIdentifier=Quarvel430" \
    "$(grep '^SyslogIdentifier=' "unidades/$u")"
done
comprobar "the clock's unit is exposed 3.0 at most (${exposicion:-?})" \
  awk -v e="$exposicion" 'BEGIN { exit !(e != "" && e + 0 <= 3.0) }'
comprobar "promtool accepts the alert rules" \
  promtool check rules "$raiz/packaging/prometheus/quarvel-alertas.yml"
comprobar "the alerts fire on sample series (promtool test rules)" \
  promtool test rules "$raiz/tests/prometheus/alertas.yml"
for u in quarvel430@.service quarvel430.service; do
  igual "$u does not restart on settings that cannot work" "RestartPreventExitStatus=78" \
    "$(grep '^RestartPreventExitStatus=' "unidades/$u")"
done

# --- The checker with no window ----------------------------------------------
# Only what the sanitizer build needs reaches it.
entorno=()
for v in ASAN_OPTIONS LSAN_OPTIONS UBSAN_OPTIONS; do
  [ -n "${!v:-}" ] && entorno+=("$v=${!v}")
done
# servicio CARPETA METRICAS: a clock an hour slow and the checker on it.
servicio() {
  mkdir -p "$1"
  ajustes "$1"
  "$build/simulator/simulador_reloj" --dir "$1" --quiet --offset -3600 >"$1/sim.out" 2>&1 &
  pids+=($!)
  esperar 50 test -e "$1/COM1" || return 1
  (cd "$1" && exec env -i "${entorno[@]}" "$build/checker/Quarvel430" --sin-ventana \
    --metricas "$2" >"$1/checker.out" 2>"$1/checker.err") &
  pids+=($!)
  echo $! >"$1/pid"
}
mkdir metricas
servicio "$trabajo/reloj" "$trabajo/metricas" || falla "the first clock started"
# The same beside it, its metrics folder missing.
servicio "$trabajo/otro" "$trabajo/no-existe" || falla "the second clock started"
checker=$(cat reloj/pid)
dice() { grep -q "$1" "$2"; }
comprobar "the start says what it works on" \
  esperar 150 dice "^<6>Quarvel430 1.0.0 en .*/reloj: puerto COM1 (.* /dev/pts/[0-9]*), 9600,N,8,1, chequeo cada 5 min, m.*tricas en .*/metricas$" reloj/checker.err
comprobar "the start-up update is in the journal" \
  esperar 150 dice '^<6>puesta en hora enviada' reloj/checker.err
# A read-back now (by second 10 near a change of minute).
kill -USR1 "$checker"
comprobar "the asked-for read-back is in the journal" \
  esperar 300 dice '^<6>reloj en hora' reloj/checker.err
# A second start in its folder always tells: a second service fails with an
# error line; a desktop start names the service and how to stop it.
(cd reloj && exec env -i "${entorno[@]}" "$build/checker/Quarvel430" --sin-ventana \
  >segundo.out 2>segundo.err)
igual "a second service ends in error" 1 "$?"
comprobar "and says why" grep -q '^<3>Quarvel430: ya está en marcha en esta carpeta' reloj/segundo.err
(cd reloj && exec timeout 6 env -i "${entorno[@]}" QT_QPA_PLATFORM=offscreen \
  "$build/checker/Quarvel430" >escritorio.out 2>escritorio.err) || true
comprobar "a desktop start names the service and how to stop it" \
  grep -q 'ya está en marcha sin ventana en esta carpeta.*systemctl --user stop quarvel430' \
  reloj/escritorio.err
lineas() { [ "$(wc -l <reloj/historial.csv 2>/dev/null)" = 2 ]; }
comprobar "the history has its header and one line" esperar 100 lineas
prom=(metricas/*.prom)
igual "one metrics file" 1 "${#prom[@]}"
leida() { grep -q '^quarvel_lecturas_total{.*} 1$' "${prom[0]}"; }
comprobar "the metrics count the read-back" esperar 100 leida

# --- Through the node exporter -----------------------------------------------
escucha=
for intento in 1 2 3 4 5; do
  puerto=$((20000 + RANDOM % 30000))
  prometheus-node-exporter --web.listen-address="127.0.0.1:$puerto" --collector.disable-defaults \
    --collector.textfile --collector.textfile.directory="$trabajo/metricas" >exportador.log 2>&1 &
  pids+=($!)
  if esperar 50 curl -sf -o metricas.txt "http://127.0.0.1:$puerto/metrics"; then
    escucha=$puerto
    break
  fi
done
comprobar "the node exporter serves the textfile (port ${escucha:-none})" test -n "$escucha"
etiquetas="carpeta=\"$trabajo/reloj\",puerto=\"COM1\""
serie() { # serie NAME [MORE_LABELS]: its value for this clock
  awk -v k="$1{$etiquetas${2:-}} " 'index($0, k) == 1 { print substr($0, length(k) + 1) }' metricas.txt
}
igual "read-backs counted" 1 "$(serie quarvel_lecturas_total)"
igual "none failed" 0 "$(serie quarvel_lecturas_fallidas_total)"
igual "the last one was right" 1 "$(serie quarvel_ultima_lectura_resultado ',resultado="bien"')"
# The offset the history gave that read-back, in seconds.
desvio_ms=$(tail -n 1 reloj/historial.csv | cut -d ';' -f 3)
desvio_s=$(serie quarvel_reloj_desvio_segundos)
comprobar "the offset is the history's ($desvio_s s, $desvio_ms ms)" \
  awk -v s="$desvio_s" -v m="$desvio_ms" 'BEGIN { d = s * 1000 - m; exit !(s != "" && m != "" && d < 0.06 && d > -0.06) }'
comprobar "its bound is there" test -n "$(serie quarvel_reloj_cota_segundos)"

# --- The end -------------------------------------------------------------------
kill -TERM "$checker"
wait "$checker"
igual "SIGTERM ends it with" 0 "$?"
igual "lines with no priority" 0 "$(grep -cv '^<[0-7]>' reloj/checker.err)"
comprobar "nothing on stdout" test ! -s reloj/checker.out
otro=$(cat otro/pid)
comprobar "the second clock was set too" esperar 150 dice '^<6>puesta en hora enviada' otro/checker.err
# A read-back asked for by a second start, through the one-instance channel.
(cd otro && exec env -i "${entorno[@]}" "$build/checker/Quarvel430" --comprobar >comprobar.out 2>&1)
igual "--comprobar ends with" 0 "$?"
comprobar "and says the read-back was asked for" grep -q 'lectura pedida al que está en marcha' otro/comprobar.out
comprobar "the running one takes it" esperar 50 dice '^<6>lectura pedida' otro/checker.err
comprobar "and reads the clock back" esperar 600 dice '^<6>reloj en hora' otro/checker.err
# Settings that cannot work: the journal names file, section and value, the
# metrics say so, and it ends with its own status.
mkdir -p malo/metricas
ajustes malo
qv_ini | sed 's/9600,N,8,1/9600;N;8;1/' >malo/qv.ini
(cd malo && exec env -i "${entorno[@]}" "$build/checker/Quarvel430" --sin-ventana \
  --metricas "$trabajo/malo/metricas" >malo.out 2>malo.err)
igual "a service on settings that cannot work ends with" 78 "$?"
comprobar "and names the value, its section and the file" \
  grep -q '^<3>Inicio: .*"9600;N;8;1".*(en \[COM_CFG\] de .*/malo/qv.ini)$' malo/malo.err
comprobar "and says it ends" grep -q '^<3>Quarvel430: termina con estado 78' malo/malo.err
comprobar "its metrics say the settings cannot work" \
  grep -q '^quarvel_ajustes_validos{.*} 0$' malo/metricas/quarvel430_*.prom
# A user folder that cannot be made says why, in Spanish whatever the locale.
mkdir casa && touch casa/.config
(exec env -i "${entorno[@]}" HOME="$trabajo/casa" LANG=C "$build/checker/Quarvel430" \
  --carpeta-de-usuario --sin-ventana >casa.out 2>&1)
igual "--carpeta-de-usuario where it cannot be made ends with" 1 "$?"
comprobar "and names what stands in the way" grep -q "«$trabajo/casa/.config» es un archivo, no una carpeta" casa.out
(cd "$trabajo" && exec env -i "${entorno[@]}" "$build/checker/Quarvel430" --comprobar >nadie.out 2>&1)
igual "--comprobar where none runs ends with" 1 "$?"
comprobar "and says none runs there" grep -q 'no está en marcha en esta carpeta' nadie.out
igual "a missing metrics folder is said once" 1 \
  "$(grep -c '^<3>no se escriben las métricas' otro/checker.err)"
kill -TERM "$otro"
wait "$otro"
igual "and it too ends with" 0 "$?"
resumen
