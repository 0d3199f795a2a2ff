# shellcheck shell=bash
# Helpers shared by the package tests (sourced, not run).

fallos=0
aprobados=0

ok() { aprobados=$((aprobados + 1)); }
mal() { echo "FALLO: $*" >&2; fallos=$((fallos + 1)); }
comprobar() {  # comprobar DESCRIPTION COMMAND...
    local que=$1
    shift
    if "$@"; then ok; else mal "$que"; fi
}

# The seed files, written here independently of the launcher so a change in
# either shows.
qv_esperado() {
    local t
    printf '%s\r\n' '[COM_PORT]' 1 '' '[COM_CFG]' 9600,N,8,1
    for t in 1 2 3 4 5 6 7; do
        printf '%s\r\n' '' "[T$t]" ' 100 '
    done
}
qv_int_esperado() { printf '5\r\n'; }

# iguala_bytes FILE GENERATOR: the file holds exactly the generator's bytes.
iguala_bytes() { cmp -s "$1" <("$2"); }

# valor_clave FILE KEY: the value of KEY= in a .desktop file.
valor_clave() { sed -n "s/^$2=//p" "$1" | head -n 1; }

final() {
    echo "$aprobados passed, $fallos failed"
    [ "$fallos" -eq 0 ]
}
