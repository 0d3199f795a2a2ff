# Settings for the benchmark scripts, in the current folder: port 1 at
# 9600 baud, 100 ms between a set's commands, a read-back each minute.
# Sourced by bench/soak.sh and bench/segundo.sh.
escribir_ajustes() {
  crlf() { printf '%s\r\n' "$@"; }
  {
    crlf "[COM_PORT]" "1" "" "[COM_CFG]" "9600,N,8,1"
    for i in 1 2 3 4 5 6 7; do crlf "" "[T$i]" " 100 "; done
  } >qv.ini
  crlf "1" >qv_int.ini
}
