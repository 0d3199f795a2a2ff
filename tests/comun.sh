# shellcheck shell=bash
# Helpers of the desktop tests (sourced, not run): a work folder removed at
# the end with every process recorded in `pids`, the tally, and the settings
# files as the launcher seeds them.

trabajo=$(mktemp -d)
pids=()
fin() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null; done
  wait 2>/dev/null
  rm -rf "$trabajo"
}
trap fin EXIT

fallos=0
falla() { echo "FAIL: $*"; fallos=$((fallos + 1)); }
ok() { echo "ok: $*"; }
resumen() {
  echo "$((fallos == 0 ? 1 : 0)) passed, $fallos failed"
  [ "$fallos" -eq 0 ]
}

ajustes() {  # ajustes FOLDER
  printf '[COM_PORT]\r\n1\r\n\r\n[COM_CFG]\r\n9600,N,8,1\r\n' >"$1/qv.ini"
  for i in 1 2 3 4 5 6 7; do printf '\r\n[T%d]\r\n 100 \r\n' "$i" >>"$1/qv.ini"; done
  printf '5\r\n' >"$1/qv_int.ini"
}
