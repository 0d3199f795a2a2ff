# shellcheck shell=bash
# Helpers of the shell tests (sourced, not run): a work folder removed at exit
# with every process recorded in `pids`, the tally, the settings files as the
# launcher seeds them and a few readers for the package tests.

trabajo=$(mktemp -d)
pids=()
fin() {
  local p
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null; done
  wait 2>/dev/null
  rm -rf "$trabajo"
}
trap fin EXIT

aprobados=0
fallos=0
ok() { echo "ok: $*"; aprobados=$((aprobados + 1)); }
falla() { echo "FAIL: $*"; fallos=$((fallos + 1)); }
comprobar() { # comprobar DESCRIPTION COMMAND...; returns the command's verdict
  local que=$1
  shift
  if "$@"; then ok "$que"; else falla "$que"; return 1; fi
}
# igual DESCRIPTION EXPECTED ACTUAL: the actual value goes in the log.
igual() { comprobar "$1 ($3)" test "$3" = "$2"; }
# The last line; its status ends the script.
resumen() {
  echo "$aprobados passed, $fallos failed"
  [ "$fallos" -eq 0 ]
}

# esperar TRIES COMMAND...: COMMAND until it holds, 0.1 s between tries.
esperar() {
  local n
  for ((n = $1; n > 0; n--)); do
    "${@:2}" && return 0
    sleep 0.1
  done
  return 1
}

# The seed files, written here independently of the launcher so a change in
# either shows.
qv_ini() {
  local t
  printf '%s\r\n' '[COM_PORT]' 1 '' '[COM_CFG]' 9600,N,8,1
  for t in 1 2 3 4 5 6 7; do printf '%s\r\n' '' "[T$t]" ' 100 '; done
}
qv_int_ini() { printf '5\r\n'; }
ajustes() { qv_ini >"$1/qv.ini" && qv_int_ini >"$1/qv_int.ini"; } # ajustes FOLDER
# iguala_bytes FILE GENERATOR: the file holds exactly the generator's bytes.
iguala_bytes() { cmp -s "$1" <("$2"); }

# valor_clave FILE KEY: the value of KEY= in a .desktop file.
valor_clave() { sed -n "s/^$2=//p" "$1" | head -n 1; }
# un_deb DIR: the full path of the one quarvel_*.deb in DIR.
un_deb() {
  local debs
  mapfile -t debs < <(compgen -G "$1/quarvel_*.deb")
  [ ${#debs[@]} -eq 1 ] || { echo "expected one quarvel_*.deb in $1, found ${#debs[@]}" >&2; return 1; }
  realpath "${debs[0]}"
}
