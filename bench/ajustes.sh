# shellcheck shell=bash
# What the benchmark scripts share. Sourced by bench/soak.sh and
# bench/segundo.sh.

# Settings in the current folder: port 1 at 9600 baud, 100 ms between a
# set's commands, a read-back each minute.
escribir_ajustes() {
  crlf() { printf '%s\r\n' "$@"; }
  {
    crlf "[COM_PORT]" "1" "" "[COM_CFG]" "9600,N,8,1"
    for i in 1 2 3 4 5 6 7; do crlf "" "[T$i]" " 100 "; done
  } >qv.ini
  crlf "1" >qv_int.ini
}

# esperar_simulador PID OUT: until the simulator started as PID says it is
# ready in OUT; if it ends or takes over 5 s, its output and exit 1.
esperar_simulador() {
  local _
  for _ in $(seq 100); do
    grep -q '^listo:' "$2" 2>/dev/null && return 0
    kill -0 "$1" 2>/dev/null || break
    sleep 0.05
  done
  echo "el simulador no arranco:" >&2
  cat "$2" >&2
  exit 1
}
