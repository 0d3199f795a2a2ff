#!/usr/bin/env bash
# The Windows build under Wine: the rules and windows suites as Windows
# programs, Quarvel430.exe against the Linux clock simulator through Wine's
# COM1 (start-up set on the second, a right clock left alone at second 31, a
# wrong clock corrected, the history written), the session's end (Wine's
# wineboot -e) closing each program as its window's close does, the
# sender's Inicio chain beside Linux's, --salir closing each program the
# same way, and the installer installing (Start-menu entries that start in
# the user's own folder), upgrading and uninstalling with the checker
# running (closed, replaced, started again), and refusing, changing nothing,
# while another program holds one of its files. Also a read-only folder (a
# second checker still refused) and the checker as a Windows service.
#   probar-windows.sh BUILD_WIN
# Wine's timers are Linux's: what the timings show is the program's own
# planning through Wine, not Windows' timer tick.
set -uo pipefail
# shellcheck source=tests/comun.sh
. "$(dirname "$0")/../comun.sh"
raiz=$(cd "$(dirname "$0")/../.." && pwd)
b=$(realpath "${1:?BUILD_WIN}")
dist=$b/Quarvel
# Absolute: the Linux sender is started from inside its own folder.
linux=$(cd "$raiz" && realpath -m "${BUILD:-build}")
simulador=$linux/simulator/simulador_reloj
t=$trabajo
cache=${QUARVEL_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/quarvel}
export WINEPREFIX=$cache/wine WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
[ -x "$simulador" ] || { echo "falta el simulador de Linux ($simulador): make build" >&2; exit 1; }

# A display of its own: Wine's windows and its tray.
pantalla=:$((90 + RANDOM % 100))
Xvfb "$pantalla" -screen 0 1280x800x24 -nolisten tcp >/dev/null 2>&1 &
pids+=($!)
export DISPLAY=$pantalla
esperar 50 xdpyinfo >/dev/null 2>&1 || { echo "Xvfb no arrancó" >&2; exit 1; }
if [ ! -f "$WINEPREFIX/system.reg" ]; then
    echo "preparando Wine en $WINEPREFIX (una vez)"
    wineboot -i >/dev/null 2>&1
fi
wineserver -k 2>/dev/null
trap 'wineserver -k 2>/dev/null; fin' EXIT

# The programs' folder with the test programs beside them.
p=$t/pruebas
cp -r "$dist" "$p"
cp "$b"/tests/test_reglas.exe "$b"/tests/test_ventanas.exe "$p/"

# sim DIR OPTIONS...: the simulator on a pseudo-terminal linked as DIR/COM1,
# its log in DIR. Wine's COM1 names that link (Wine reads the mapping when
# it starts; the link is followed at each open, so a simulator started again
# in DIR serves the same COM1).
sim() {
    local d=$1
    shift
    mkdir -p "$d"
    rm -f "$d/sim.log"
    "$simulador" --dir "$d" --quiet --log "$d/sim.log" "$@" >"$d/sim.out" 2>&1 &
    simulador_pid=$!
    pids+=("$simulador_pid")
    esperar 50 test -L "$d/COM1"
}
com1() {
    wineserver -k 2>/dev/null
    wine reg add 'HKLM\Software\Wine\Ports' /v COM1 /d "$1" /f >/dev/null 2>&1
    wineserver -k 2>/dev/null
}
# comandos LOG: "cmd t_us [value]" per well-formed command.
comandos() {
    sed -n 's/.*"t_us":\([0-9]*\),"cmd":"\([A-Za-z]*\)"\(,"value":\([0-9]*\)\)\{0,1\}.*/\2 \1 \4/p' "$1" |
        grep -v '"error"'
}
# desvio_ms LOG N: the N-th S's arrival from its whole second, in ms (the
# clock starts that second as the byte arrives).
desvio_ms() {
    comandos "$1" | awk -v n="$2" '$1 == "S" && ++k == n { f = ($2 % 1000000) / 1000; if (f > 500) f -= 1000; printf "%.1f\n", f; exit }'
}

# --- the suites -------------------------------------------------------------
# The windows on Windows' own platform plugin (on Xvfb): Qt's offscreen one
# has no fonts on Windows, so no text would measure as it does.
sim "$t/s2" || { echo "el simulador no arrancó" >&2; exit 1; }
com1 "$t/s2/COM1"
(cd "$p" && QUARVEL_COM_PRUEBA=1 timeout 600 wine test_reglas.exe --gtest_brief=1 >"$t/reglas.log" 2>&1)
estado=$?
comprobar "test_reglas.exe (estado $estado; $(grep -E 'PASSED|FAILED' "$t/reglas.log" | tr '\n' ' '))" test "$estado" -eq 0
(cd "$p" && timeout 900 wine test_ventanas.exe -platform windows --gtest_brief=1 >"$t/ventanas.log" 2>&1)
estado=$?
comprobar "test_ventanas.exe (estado $estado; $(grep -E 'PASSED|FAILED' "$t/ventanas.log" | tr '\n' ' '))" test "$estado" -eq 0
[ "$estado" -eq 0 ] || grep -E '^\[  FAILED' "$t/ventanas.log" | head
kill "$simulador_pid" 2>/dev/null

# --- the checker against the simulator ------------------------------------------
# A right clock: the start-up set lands on the second, the read-back at
# second 31 finds it right and sincro.txt stays absent. Then the clock is
# two hours behind (another simulator on the same COM1): the next read-back
# logs it in sincro.txt and sets it again.
q=$t/q430
mkdir -p "$q"
qv_ini >"$q/qv.ini"
printf '1\r\n' >"$q/qv_int.ini"
s=$t/s3
sim "$s" --offset 3600.4 || { echo "el simulador no arrancó" >&2; exit 1; }
com1 "$s/COM1"
(cd "$q" && exec wine "$p/Quarvel430.exe" >"$t/q430.log" 2>&1) &
chequeador=$!
pids+=("$chequeador")
esperar 900 grep -q '"cmd":"CX"' "$s/sim.log"
leida=$?
esperar 100 grep -qs ';bien;' "$q/historial.csv"
d=$(desvio_ms "$s/sim.log" 1)
comprobar "puesta en hora al arrancar a menos de 20 ms del segundo del PC (${d:-?} ms)" \
    awk -v d="${d:-999}" 'BEGIN { exit !(d >= -20 && d <= 20) }'
comprobar "lectura al segundo 31" test "$leida" -eq 0
comprobar "historial.csv con una fila bien" grep -q ';bien;' "$q/historial.csv"
comprobar "reloj en hora: nada en sincro.txt" test ! -e "$q/sincro.txt"
kill "$simulador_pid" 2>/dev/null
wait "$simulador_pid" 2>/dev/null
sim "$s" --offset -7200 || { echo "el simulador no arrancó" >&2; exit 1; }
esperar 900 test -s "$q/sincro.txt"
comprobar "un reloj equivocado queda en sincro.txt ($(head -c 80 "$q/sincro.txt" 2>/dev/null))" \
    grep -q 'hora reloj' "$q/sincro.txt"
comprobar "y se pone en hora de nuevo" esperar 100 grep -q '"cmd":"CF"' "$s/sim.log"
comprobar "historial.csv con la fila mal" grep -q ';mal;' "$q/historial.csv"
# Windows has no journal: the lines are in the folder's log too, dated; the
# start line says once that the PC's sync state is unknown.
comprobar "Quarvel430.log con el arranque y la puesta en hora ($(head -n 1 "$q/Quarvel430.log" 2>/dev/null | tr -d '\r'))" \
    eval 'grep -q "^20[0-9-]* [0-9:.]* info: Quarvel430 .* chequeo cada 1 min; no se sabe si el PC está sincronizado" "$q/Quarvel430.log" &&
          grep -q "info: puesta en hora enviada" "$q/Quarvel430.log"'
# And on stderr, led by priority, though the process is ended with no exit.
comprobar "y en stderr: <6>Quarvel430 …" grep -q '^<6>Quarvel430 ' "$t/q430.log"
wineserver -k 2>/dev/null
wait "$chequeador" 2>/dev/null
kill "$simulador_pid" 2>/dev/null

# --- a folder that cannot be written ----------------------------------------------
# No lock can be made there: the start says so, and a second checker is still
# refused, the pipe's named mutex deciding who is first. Read-only for root
# too: a read-only bind mount.
ro=$t/solo-lectura
mkdir -p "$ro"
qv_ini >"$ro/qv.ini"
printf '1\r\n' >"$ro/qv_int.ini"
montada=0
if [ "$(id -u)" -eq 0 ]; then
    mount --bind "$ro" "$ro" && mount -o remount,bind,ro "$ro" && montada=1
else
    chmod 0555 "$ro"
fi
sim "$t/s-ro" || { echo "el simulador no arrancó" >&2; exit 1; }
com1 "$t/s-ro/COM1"
(cd "$ro" && exec wine "$p/Quarvel430.exe" --sin-ventana >"$t/ro1.out" 2>"$t/ro1.err") &
primero=$!
pids+=("$primero")
esperar 300 grep -qa 'no se puede escribir' "$t/ro1.err"
comprobar "carpeta de solo lectura: lo dice al arrancar ($(grep -a 'no se puede escribir' "$t/ro1.err" | head -c 160))" \
    grep -qa '^<4>no se puede escribir en la carpeta .*solo-lectura: qv_int.ini, historial.csv' "$t/ro1.err"
esperar 300 grep -q '"cmd":"CF"' "$t/s-ro/sim.log"
(cd "$ro" && timeout 60 wine "$p/Quarvel430.exe" --sin-ventana >"$t/ro2.out" 2>"$t/ro2.err")
estado=$?
comprobar "y un segundo en ella termina con 1 (estado $estado): $(grep -a 'ya está' "$t/ro2.err" | head -c 100)" \
    eval '[ "$estado" -eq 1 ] && grep -qa "^<3>Quarvel430: ya está en marcha en esta carpeta" "$t/ro2.err"'
kill "$primero" "$simulador_pid" 2>/dev/null
wineserver -k 2>/dev/null
wait "$primero" "$simulador_pid" 2>/dev/null
if [ "$montada" = 1 ]; then umount "$ro"; else chmod 0755 "$ro"; fi

# --- the checker as a Windows service ----------------------------------------------
# Registered with --instalar-servicio, started and stopped by Wine's sc.exe
# against the simulator in its folder under ProgramData, reached there by
# --comprobar, removed with --quitar-servicio. Wine ends its services with
# its last program: the server is kept meanwhile, and its own services are
# brought up first, so none holds a captured output open.
sv=$WINEPREFIX/drive_c/ProgramData/Quarvel/prueba
metricas=$WINEPREFIX/drive_c/metricas
rm -rf "$sv" "$metricas"
mkdir -p "$metricas"
sim "$t/s-sv" --offset 3600 || { echo "el simulador no arrancó" >&2; exit 1; }
com1 "$t/s-sv/COM1"
wineserver -p >/dev/null 2>&1
timeout 60 wine sc delete 'Quarvel430@prueba' >/dev/null 2>&1 # one a stopped run left
salida=$(timeout 60 wine "$p/Quarvel430.exe" --instalar-servicio prueba --metricas 'C:\metricas' 2>&1)
estado=$?
comprobar "--instalar-servicio prueba: 0 y su carpeta con qv.ini (estado $estado: $salida)" \
    eval '[ "$estado" -eq 0 ] && iguala_bytes "$sv/qv.ini" qv_ini'
salida=$(timeout 60 wine "$p/Quarvel430.exe" --servicio prueba 2>&1)
estado=$?
comprobar "--servicio desde una consola: 1, y lo dice (estado $estado)" \
    eval '[ "$estado" -eq 1 ] && [[ $salida == *"es para el administrador de servicios de Windows"* ]]'
timeout 60 wine sc start 'Quarvel430@prueba' >"$t/sc-start.log" 2>&1
comprobar "sc start: la puesta en hora, en el Quarvel430.log de su carpeta" \
    esperar 300 grep -q "info: puesta en hora enviada" "$sv/Quarvel430.log"
salida=$(cd "$sv" && timeout 60 wine "$p/Quarvel430.exe" --comprobar 2>&1)
estado=$?
comprobar "--comprobar en su carpeta llega al servicio (estado $estado: $(tr -d '\r' <<<"$salida"))" \
    eval '[ "$estado" -eq 0 ] && [[ $salida == *"lectura pedida al que está en marcha en "* ]]'
comprobar "y lee el reloj: historial.csv con una fila bien" esperar 700 grep -qs ';bien;' "$sv/historial.csv"
comprobar "y sus métricas van a la carpeta dada al instalarlo ($(ls "$metricas"))" \
    eval 'grep -qs "^quarvel_lecturas_total{.*} [1-9]" "$metricas"/*.prom'
rm -f "$sv/qv_int.ini"
timeout 60 wine sc stop 'Quarvel430@prueba' >"$t/sc-stop.log" 2>&1
comprobar "sc stop: se va con su bloqueo" esperar 400 test ! -e "$sv/.Quarvel430.lock"
comprobar "y escribe qv_int.ini, como al cerrar la ventana" test -s "$sv/qv_int.ini"
comprobar "y dice por qué en su registro" \
    grep -q "info: el administrador de servicios de Windows pidió parar" "$sv/Quarvel430.log"
comprobar "el servicio queda parado" \
    esperar 100 eval 'timeout 30 wine sc query "Quarvel430@prueba" 2>/dev/null | grep -q STOPPED'
salida=$(timeout 60 wine "$p/Quarvel430.exe" --quitar-servicio prueba 2>&1)
estado=$?
comprobar "--quitar-servicio prueba: 0 (estado $estado: $(tr -d '\r' <<<"$salida"))" test "$estado" -eq 0
comprobar "y ya no existe" eval '! timeout 30 wine sc query "Quarvel430@prueba" >/dev/null 2>&1'
kill "$simulador_pid" 2>/dev/null
wineserver -k 2>/dev/null
wait "$simulador_pid" 2>/dev/null

# --- the session's end, and --salir ------------------------------------------------
# cierre NAME PROGRAM VISIBLE HOW OPTIONS...: PROGRAM started in a folder of
# its own against a simulator, its window shown or not (VISIBLE 1 or 0);
# once it runs, qv_int.ini is taken away and HOW closes it: "sesion" ends
# the session, "salir" runs PROGRAM --salir in its folder (which says so and
# gives 0 once it is gone). It writes qv_int.ini again as closing its window
# does, says why in its log, and goes with its lock.
cierre() {
    local nombre=$1 prog=$2 visible=$3 como=$4 d=$t/fin-$1 v por_que salida estado
    shift 4
    mkdir -p "$d"
    qv_ini >"$d/qv.ini"
    printf '1\r\n' >"$d/qv_int.ini"
    sim "$d" || { falla "$nombre: el simulador no arrancó"; return; }
    com1 "$d/COM1"
    (cd "$d" && exec wine "$p/$prog.exe" "$@" >"$d/prog.log" 2>&1) &
    local programa=$!
    pids+=("$programa")
    # The checker's start-up set is over; the sender's window is up.
    [ "$prog" = Quarvel38 ] || esperar 300 grep -q '"cmd":"CF"' "$d/sim.log"
    [ "$visible" = 0 ] || esperar 300 eval 'xdotool search --onlyvisible --name "^Quarvel" >/dev/null'
    v=$(xdotool search --onlyvisible --name "^Quarvel" 2>/dev/null | wc -l)
    igual "$nombre: ventanas a la vista" "$visible" "$((v > 0 ? 1 : 0))"
    rm -f "$d/qv_int.ini"
    if [ "$como" = salir ]; then
        por_que="pedido --salir: se cierra como al cerrar la ventana"
        salida=$(cd "$d" && timeout 60 wine "$p/$prog.exe" --salir 2>&1)
        estado=$?
        comprobar "$nombre: --salir termina con 0 cuando se ha cerrado (estado $estado: $salida)" \
            eval '[ "$estado" -eq 0 ] && [[ $salida == *"$prog: el que estaba en marcha en "*" se cerró"* ]]'
    else
        por_que="fin de la sesión de Windows: se cierra como al cerrar la ventana"
        timeout 60 wineboot -e >/dev/null 2>&1
    fi
    esperar 100 eval '! ps -o stat= -p "$programa" | grep -qv Z'
    comprobar "$nombre: terminó" eval '! ps -o stat= -p "$programa" | grep -qv Z'
    comprobar "$nombre: qv_int.ini escrito al terminar ($(tr -d '\r' <"$d/qv_int.ini" 2>/dev/null))" \
        test -s "$d/qv_int.ini"
    comprobar "$nombre: sin .$prog.lock" test ! -e "$d/.$prog.lock"
    comprobar "$nombre: $prog.log dice por qué" \
        grep -q "info: $por_que" "$d/$prog.log"
    kill "$programa" "$simulador_pid" 2>/dev/null
    wineserver -k 2>/dev/null
    wait "$programa" "$simulador_pid" 2>/dev/null
}
cierre "Quarvel430 en la bandeja, nunca mostrado" Quarvel430 0 sesion
cierre "Quarvel430 con su ventana" Quarvel430 1 sesion --con-ventana
cierre "Quarvel38 con su ventana" Quarvel38 1 sesion
cierre "Quarvel430 --salir, en la bandeja" Quarvel430 0 salir
cierre "Quarvel38 --salir, con su ventana" Quarvel38 1 salir
mkdir -p "$t/nadie"
salida=$(cd "$t/nadie" && timeout 60 wine "$p/Quarvel430.exe" --salir 2>&1)
estado=$?
comprobar "--salir sin ninguno en marcha: 0, y lo dice (estado $estado: $salida)" \
    eval '[ "$estado" -eq 0 ] && [[ $salida == *"no está en marcha en "*"; nada que cerrar"* ]] && [ ! -e "$t/nadie/.Quarvel430.lock" ]'

# --- the sender's Inicio, on Linux and under Wine ----------------------------------
# inicio PROGRAM DIR: starts it in DIR against a simulator there, clicks
# Inicio, waits for the chain's end.
inicio() {
    local prog=$1 d=$2
    w=''
    mkdir -p "$d"
    qv_ini >"$d/qv.ini"
    qv_int_ini >"$d/qv_int.ini"
    sim "$d" --offset 3600.4 || return 1
    if [ "$prog" = linux ]; then
        (cd "$d" && exec env QT_QPA_PLATFORM=xcb "$linux/sender/Quarvel38" >"$d/prog.log" 2>&1) &
    else
        com1 "$d/COM1"
        (cd "$d" && exec wine "$p/Quarvel38.exe" >"$d/prog.log" 2>&1) &
    fi
    local programa=$!
    pids+=("$programa")
    esperar 300 eval 'w=$(xdotool search --onlyvisible --name "^Quarvel 3.8" | head -n 1); [ -n "$w" ]' || return 1
    # Inicio, the first button of the top row, once the window takes clicks.
    local i
    # (The chain starts at a planned moment, up to a few seconds later.)
    for i in 1 2 3; do
        xdotool mousemove --window "$w" 302 12 click 1
        esperar 100 grep -q '"cmd":"D"' "$d/sim.log" 2>/dev/null && break
    done
    esperar 200 grep -q '"cmd":"CF"' "$d/sim.log" ||
        echo "Inicio sin cadena en $prog ($(xdotool getwindowname "$w" 2>&1), $(xdotool getwindowgeometry "$w" 2>&1 | tr '\n' ' ')): $(tail -n 3 "$d/prog.log")"
    kill "$programa" "$simulador_pid" 2>/dev/null
    [ "$prog" = linux ] || wineserver -k 2>/dev/null
    wait "$programa" 2>/dev/null
    esperar 50 eval '[ -z "$(xdotool search --onlyvisible --name "^Quarvel 3.8")" ]'
}
# The first chain's letters and the spacing of each step, in ms.
cadena() {
    comandos "$1" | awk 'NR > 1 { printf "%s %d\n", $1, ($2 - t) / 1000 } { t = $2 } NR == 1 { print $1, 0 } $1 == "CF" { exit }'
}
inicio linux "$t/l38"
inicio wine "$t/w38"
comprobar "Inicio en Linux: la cadena entera" \
    test "$(cadena "$t/l38/sim.log" | cut -d ' ' -f 1 | tr '\n' ' ')" = "D M Y H m S CW CF "
igual "Inicio: los mismos comandos bajo Wine que en Linux" \
    "$(cadena "$t/l38/sim.log" | cut -d ' ' -f 1 | tr '\n' ' ')" \
    "$(cadena "$t/w38/sim.log" | cut -d ' ' -f 1 | tr '\n' ' ')"
comprobar "Inicio: cada paso a menos de 15 ms del de Linux ($(paste -d ' ' <(cadena "$t/l38/sim.log") <(cadena "$t/w38/sim.log") | awk '{ printf "%s %d/%d ", $1, $2, $4 }'))" \
    eval 'paste -d " " <(cadena "$t/l38/sim.log") <(cadena "$t/w38/sim.log") | awk '\''NR > 1 { d = $2 - $4; if (d < -15 || d > 15) bad = 1 } END { exit bad || NR < 8 }'\'''
d=$(desvio_ms "$t/w38/sim.log" 1)
comprobar "Inicio bajo Wine a menos de 20 ms del segundo (${d:-?} ms)" \
    awk -v d="${d:-999}" 'BEGIN { exit !(d >= -20 && d <= 20) }'

# --- what Windows reads of the programs without running them ------------------------
# Their version (Explorer's Details tab) and manifest, read by Windows' own
# calls (tests/windows/recursos.c); --version; and no debug sections left in
# anything installed.
x86_64-w64-mingw32-gcc -municode -O2 -o "$t/recursos.exe" "$raiz/tests/windows/recursos.c" -lversion
version=$(sed -n 's/^project(Quarvel VERSION \([0-9.]*\).*/\1/p' "$raiz/CMakeLists.txt")
for prog in Quarvel38 Quarvel430; do
    r=$(wine "$t/recursos.exe" "$(winepath -w "$dist/$prog.exe")" 2>/dev/null | tr -d '\r')
    comprobar "$prog.exe: versión $version en sus propiedades" grep -qx "version $version" <<<"$r"
    comprobar "$prog.exe: manifiesto con DPI por monitor" grep -q "<dpiAwareness[^>]*>PerMonitorV2<" <<<"$r"
    igual "$prog.exe --version" "$prog $version" "$(wine "$dist/$prog.exe" --version 2>/dev/null | tr -d '\r')"
done
con_depuracion=$(for f in "$dist"/*.exe "$dist"/*.dll "$dist"/*/*.dll; do
    x86_64-w64-mingw32-objdump -h "$f" | grep -q ' \.debug_' && basename "$f"
done)
comprobar "sin secciones de depuración ($(du -sm "$dist" | cut -f1) MB; ${con_depuracion:-ninguno con ellas})" test -z "$con_depuracion"

# --- the installer ---------------------------------------------------------------
c=$WINEPREFIX/drive_c
destino=$c/Program\ Files/Quarvel
menu=$c/ProgramData/Microsoft/Windows/Start\ Menu/Programs/Quarvel
instalador=$(compgen -G "$b/quarvel-*-setup.exe" | head -n 1)
local_app=$(compgen -G "$c/users/*/AppData/Local" | head -n 1)
usuario_menu=${local_app%/Local}/Roaming/Microsoft/Windows/Start\ Menu/Programs
todos_menu=$c/ProgramData/Microsoft/Windows/Start\ Menu/Programs
propio=$local_app/Programs/Quarvel
desinstalar='Software\Microsoft\Windows\CurrentVersion\Uninstall\Quarvel'
# What an interrupted run may have left: the installer follows an existing
# installation's mode.
for h in HKLM HKCU; do
    wine reg delete "$h\\Software\\Quarvel" /f >/dev/null 2>&1
    wine reg delete "$h\\$desinstalar" /f >/dev/null 2>&1
done
rm -rf "$destino" "$propio" "$menu" "$usuario_menu/Quarvel" "$todos_menu/StartUp/Quarvel 4.3.lnk" \
    "$usuario_menu/StartUp/Quarvel 4.3.lnk"
timeout 300 wine "$instalador" /S >/dev/null 2>&1
comprobar "el instalador termina bien" test $? -eq 0
comprobar "sin opciones, como administrador y sin nada instalado: para todos (HKLM)" \
    eval 'wine reg query "HKLM\\$desinstalar" /v DisplayVersion 2>/dev/null | grep -q REG_SZ'
for f in Quarvel38.exe Quarvel430.exe Qt6Core.dll platforms/qwindows.dll LICENCIAS.txt qt.conf desinstalar.exe; do
    comprobar "instalado: $f" test -f "$destino/$f"
done
for e in "Quarvel 3.8" "Quarvel 4.3"; do
    comprobar "en el menú Inicio: $e" test -f "$menu/$e.lnk"
done
comprobar "la entrada lleva a la carpeta del usuario" eval 'tr -d "\\000" <"$menu/Quarvel 4.3.lnk" | grep -q -- --carpeta-de-usuario'
# What the entry starts: the user's own folder with ready settings.
rm -rf "${local_app:?}/Quarvel"
timeout 20 wine "$destino/Quarvel430.exe" --carpeta-de-usuario -platform offscreen >"$t/menu.log" 2>&1
comprobar "la carpeta del usuario con su qv.ini ($local_app/Quarvel)" iguala_bytes "$local_app/Quarvel/qv.ini" qv_ini
wineserver -k 2>/dev/null

# Upgrading with the checker running from there, in the user's folder: it
# is closed as its window's close does, every file is replaced (its own
# and the DLLs it had loaded, marked beforehand so a file left alone
# shows), and it is started again. Uninstalling closes it too and leaves
# nothing.
usuario=$local_app/Quarvel
registro=$usuario/Quarvel430.log
arranques() { grep -c "info: Quarvel430 " "$registro" 2>/dev/null; }
cerrados() { grep -c "info: Windows pidió que se cierre (el instalador, o taskkill)" "$registro" 2>/dev/null; }
sim "$t/si" || { echo "el simulador no arrancó" >&2; exit 1; }
com1 "$t/si/COM1"
for f in Quarvel430.exe Qt6Core.dll; do printf 'x' >>"$destino/$f"; done
(cd "$t" && exec wine "$destino/Quarvel430.exe" --carpeta-de-usuario >"$t/inst430.log" 2>&1) &
pids+=($!)
esperar 300 grep -q '"cmd":"CF"' "$t/si/sim.log"
comprobar "Quarvel 4.3 en marcha desde la carpeta instalada" test -e "$usuario/.Quarvel430.lock"
antes=$(arranques)
timeout 300 wine "$instalador" /S >/dev/null 2>&1
comprobar "actualizar con Quarvel 4.3 en marcha: termina bien" test $? -eq 0
distintos=$(cd "$dist" && find . -type f | while read -r f; do cmp -s "$f" "$destino/$f" || echo "$f"; done)
comprobar "actualizado: todos los archivos reemplazados (${distintos:-todos iguales})" test -z "$distintos"
comprobar "Quarvel 4.3 se cerró como al cerrar la ventana" test "$(cerrados)" = 1
comprobar "y arrancó de nuevo en su carpeta" esperar 300 eval '[ "$(arranques)" = $((antes + 1)) ] && [ -e "$usuario/.Quarvel430.lock" ]'
timeout 120 wine "$destino/desinstalar.exe" /S >/dev/null 2>&1
comprobar "desinstalar con Quarvel 4.3 en marcha: termina bien" test $? -eq 0
comprobar "desinstalado: nada queda en la carpeta del programa" esperar 300 test ! -e "$destino"
comprobar "desinstalado: ni en el menú Inicio" test ! -e "$menu"
comprobar "Quarvel 4.3 se cerró antes, como al cerrar la ventana" eval '[ "$(cerrados)" = 2 ] && [ ! -e "$usuario/.Quarvel430.lock" ]'
comprobar "la carpeta del usuario queda" test -f "$usuario/qv.ini"
kill "$simulador_pid" 2>/dev/null
wineserver -k 2>/dev/null

# A file another program holds open: the installer and the uninstaller
# give up before touching anything (exit 2 when silent). Run in place
# (_?=, from a batch file: Wine would quote the folder's space), the
# uninstaller's exit code is its own.
x86_64-w64-mingw32-gcc -municode -O2 -o "$t/retener.exe" "$raiz/tests/windows/retener.c"
timeout 300 wine "$instalador" /S >/dev/null 2>&1
printf 'x' >>"$destino/Quarvel38.exe"
(cd "$t" && exec wine retener.exe 'C:\Program Files\Quarvel\Qt6Core.dll' retenido) &
retenedor=$!
pids+=("$retenedor")
esperar 100 test -e "$t/retenido"
timeout 300 wine "$instalador" /S >/dev/null 2>&1
estado=$?
comprobar "con Qt6Core.dll abierto por otro, el instalador falla (estado $estado)" test "$estado" -ne 0
comprobar "y no cambia nada (Quarvel38.exe sigue como estaba)" eval '! cmp -s "$dist/Quarvel38.exe" "$destino/Quarvel38.exe"'
printf '@"C:\\Program Files\\Quarvel\\desinstalar.exe" /S _?=C:\\Program Files\\Quarvel\r\n@exit /b %%errorlevel%%\r\n' >"$t/quitar.bat"
(cd "$t" && timeout 120 wine cmd /c quitar.bat >/dev/null 2>&1)
estado=$?
comprobar "el desinstalador también falla (estado $estado) y no quita nada" \
    eval '[ "$estado" -ne 0 ] && [ -f "$destino/Quarvel38.exe" ] && [ -f "$destino/Quarvel430.exe" ]'
kill "$retenedor" 2>/dev/null
wineserver -k 2>/dev/null
timeout 120 wine "$destino/desinstalar.exe" /S >/dev/null 2>&1
comprobar "suelto el archivo, se desinstala del todo" esperar 300 test ! -e "$destino"
wineserver -k 2>/dev/null

# --- for one user or for all; versions; a service ---------------------------------
# valor KEY NAME: a registry value as reg shows it; clave KEY: the key exists.
valor() { timeout 60 wine reg query "$1" /v "$2" 2>/dev/null | tr -d '\r' | sed -n "s/^ *$2 *REG_[A-Z_]* *//p"; }
clave() { timeout 60 wine reg query "$1" >/dev/null 2>&1; }
# huella DIR: each file with its sum.
huella() { (cd "$1" && find . -type f | sort | xargs -d '\n' sha256sum); }
# en_sitio DIR: DIR's uninstaller, silent and in place: its exit code.
en_sitio() {
    local w
    w=$(winepath -w "$1" 2>/dev/null | tr -d '\r')
    printf '@"%s\\desinstalar.exe" /S _?=%s\r\n@exit /b %%errorlevel%%\r\n' "$w" "$w" >"$t/en_sitio.bat"
    (cd "$t" && timeout 120 wine cmd /c en_sitio.bat >/dev/null 2>&1)
}
# Installers of other versions with the same files: an older one, and two
# newer ones whose order only a numeric comparison gets right (X.9.0 before
# X.10.0).
mayor=${version%%.*}
viejo=$((mayor - 1)).9.0 medio=$((mayor + 1)).9.0 nuevo=$((mayor + 1)).10.0
for v in "$viejo" "$medio" "$nuevo"; do
    makensis -V1 "-XSetCompressor /FINAL zlib" "-DVERSION=$v" "-DORIGEN=$dist" "-DLISTAS=$b/nsis" \
        "-DSALIDA=$t/quarvel-$v-setup.exe" "$raiz/packaging/windows/quarvel.nsi" >/dev/null 2>&1
done
comprobar "instaladores $viejo, $medio y $nuevo para las pruebas" \
    test -f "$t/quarvel-$viejo-setup.exe" -a -f "$t/quarvel-$medio-setup.exe" -a -f "$t/quarvel-$nuevo-setup.exe"

# For this user, over an older version, starting with the session: all of
# it in the user's own places, nothing in the machine's, and the users'
# files as they were.
timeout 300 wine "$t/quarvel-$viejo-setup.exe" /S /CURRENTUSER >/dev/null 2>&1
comprobar "$viejo solo para este usuario: termina bien" test $? -eq 0
mkdir -p "$usuario"
qv_ini >"$usuario/qv.ini"
printf '7\r\n' >"$usuario/qv_int.ini"
printf '2026-01-01 12:00:31;bien;0.004\r\n' >"$usuario/historial.csv"
printf 'info: antes de actualizar\n' >"$usuario/Quarvel430.log"
antes=$(huella "$usuario")
timeout 300 wine "$instalador" /S /CURRENTUSER /INICIO >/dev/null 2>&1
comprobar "$version /CURRENTUSER /INICIO sobre $viejo: termina bien" test $? -eq 0
distintos=$(cd "$dist" && find . -type f | while read -r f; do cmp -s "$f" "$propio/$f" || echo "$f"; done)
comprobar "instalado en $propio (${distintos:-todos iguales})" \
    eval '[ -z "$distintos" ] && [ -f "$propio/desinstalar.exe" ]'
for e in "Quarvel 3.8" "Quarvel 4.3" "Desinstalar Quarvel"; do
    comprobar "en el menú Inicio del usuario: $e" test -f "$usuario_menu/Quarvel/$e.lnk"
done
comprobar "arranca con la sesión del usuario, en su carpeta" \
    eval 'tr -d "\\000" <"$usuario_menu/StartUp/Quarvel 4.3.lnk" | grep -q -- --carpeta-de-usuario'
igual "HKCU: la carpeta" "$(winepath -w "$propio" 2>/dev/null | tr -d '\r')" "$(valor 'HKCU\Software\Quarvel' Carpeta)"
igual "HKCU: la versión, la nueva" "$version" "$(valor "HKCU\\$desinstalar" DisplayVersion)"
comprobar "nada para todos: ni HKLM, ni Program Files, ni su menú Inicio" \
    eval '! clave "HKLM\\Software\\Quarvel" && ! clave "HKLM\\$desinstalar" && [ ! -e "$destino" ] && [ ! -e "$menu" ] && [ ! -e "$todos_menu/StartUp/Quarvel 4.3.lnk" ]'
comprobar "los archivos del usuario quedan como estaban ($(wc -l <<<"$antes") archivos)" \
    eval '[ "$(wc -l <<<"$antes")" -ge 4 ] && [ "$(huella "$usuario")" = "$antes" ]'

# For all users beside it, starting with everyone's session.
timeout 300 wine "$instalador" /S /ALLUSERS /INICIO >/dev/null 2>&1
comprobar "/ALLUSERS /INICIO: termina bien" test $? -eq 0
distintos=$(cd "$dist" && find . -type f | while read -r f; do cmp -s "$f" "$destino/$f" || echo "$f"; done)
comprobar "instalado en Program Files (${distintos:-todos iguales})" test -z "$distintos"
comprobar "en el menú Inicio de todos" test -f "$menu/Quarvel 4.3.lnk"
comprobar "arranca con la sesión de todos" test -f "$todos_menu/StartUp/Quarvel 4.3.lnk"
igual "HKLM: la versión" "$version" "$(valor "HKLM\\$desinstalar" DisplayVersion)"
comprobar "la de este usuario sigue ahí" \
    eval '[ "$(valor "HKCU\\$desinstalar" DisplayVersion)" = "$version" ] && [ -f "$propio/Quarvel430.exe" ]'

# A service running the installed checker: stopped as sc stop does, its
# program replaced, started again; the uninstaller will not leave it
# running a program that is gone (4).
servicio=$c/ProgramData/Quarvel/instalado
arranques_sv() { grep -c "info: Quarvel430 " "$servicio/Quarvel430.log" 2>/dev/null; }
sim "$t/s-inst" || { echo "el simulador no arrancó" >&2; exit 1; }
com1 "$t/s-inst/COM1"
wineserver -p >/dev/null 2>&1
timeout 60 wine sc delete 'Quarvel430@instalado' >/dev/null 2>&1
rm -rf "$servicio"
printf 'x' >>"$destino/Quarvel430.exe"
timeout 60 wine "$destino/Quarvel430.exe" --instalar-servicio instalado >/dev/null 2>&1
timeout 60 wine sc start 'Quarvel430@instalado' >/dev/null 2>&1
comprobar "el servicio Quarvel430@instalado en marcha desde Program Files" \
    esperar 300 eval '[ "$(arranques_sv)" = 1 ]'
timeout 300 wine "$instalador" /S /ALLUSERS >/dev/null 2>&1
estado=$?
comprobar "actualizar con el servicio en marcha: termina bien (estado $estado) y reemplaza Quarvel430.exe" \
    eval '[ "$estado" -eq 0 ] && cmp -s "$dist/Quarvel430.exe" "$destino/Quarvel430.exe"'
comprobar "el servicio se paró como con sc stop" \
    grep -q "info: el administrador de servicios de Windows pidió parar" "$servicio/Quarvel430.log"
comprobar "y arrancó de nuevo" esperar 300 eval '[ "$(arranques_sv)" = 2 ]'
comprobar "y sigue en marcha" eval 'timeout 30 wine sc query "Quarvel430@instalado" 2>/dev/null | grep -q RUNNING'
en_sitio "$destino"
estado=$?
comprobar "desinstalar con el servicio registrado: 4 (estado $estado), sin quitar nada" \
    eval '[ "$estado" -eq 4 ] && [ -f "$destino/Quarvel430.exe" ] && [ -f "$menu/Quarvel 4.3.lnk" ] && clave "HKLM\\$desinstalar"'
timeout 60 wine "$destino/Quarvel430.exe" --quitar-servicio instalado >/dev/null 2>&1
kill "$simulador_pid" 2>/dev/null
wineserver -k 2>/dev/null
wait "$simulador_pid" 2>/dev/null

# The same version again, without the session start.
timeout 300 wine "$instalador" /S /ALLUSERS /SININICIO >/dev/null 2>&1
comprobar "/ALLUSERS /SININICIO, la misma versión: termina bien" test $? -eq 0
comprobar "ya no arranca con la sesión de todos" test ! -e "$todos_menu/StartUp/Quarvel 4.3.lnk"

# Each uninstaller removes its own installation, and only it.
timeout 120 wine "$propio/desinstalar.exe" /S >/dev/null 2>&1
comprobar "desinstalar la de este usuario: termina bien" test $? -eq 0
comprobar "su carpeta, fuera" esperar 300 test ! -e "$propio"
comprobar "y su menú Inicio y su arranque con la sesión" \
    eval '[ ! -e "$usuario_menu/Quarvel" ] && [ ! -e "$usuario_menu/StartUp/Quarvel 4.3.lnk" ]'
comprobar "y sus claves de HKCU" eval '! clave "HKCU\\Software\\Quarvel" && ! clave "HKCU\\$desinstalar"'
comprobar "la de todos sigue entera" \
    eval '[ -f "$destino/Quarvel430.exe" ] && [ -f "$menu/Quarvel 4.3.lnk" ] && [ "$(valor "HKLM\\$desinstalar" DisplayVersion)" = "$version" ]'
timeout 120 wine "$destino/desinstalar.exe" /S >/dev/null 2>&1
comprobar "desinstalar la de todos: termina bien" test $? -eq 0
comprobar "Program Files\\Quarvel, fuera" esperar 300 test ! -e "$destino"
comprobar "y el menú Inicio de todos y sus claves de HKLM" \
    eval '[ ! -e "$menu" ] && ! clave "HKLM\\Software\\Quarvel" && ! clave "HKLM\\$desinstalar"'
comprobar "los archivos del usuario siguen" eval '[ "$(huella "$usuario")" = "$antes" ]'

# A newer version installed: refused when silent (3), and nothing changed;
# so are switches that cannot both hold (5).
timeout 300 wine "$t/quarvel-$nuevo-setup.exe" /S /CURRENTUSER >/dev/null 2>&1
comprobar "$nuevo solo para este usuario: termina bien" test $? -eq 0
printf 'x' >>"$propio/Quarvel38.exe"
while read -r esperado programa opciones; do
    # shellcheck disable=SC2086 # the options are words
    timeout 300 wine "$programa" $opciones >/dev/null 2>&1
    estado=$?
    igual "$(basename "$programa") $opciones sobre $nuevo" "$esperado" "$estado"
done <<EOF
3 $instalador /S
3 $t/quarvel-$medio-setup.exe /S /CURRENTUSER
5 $instalador /S /ALLUSERS /CURRENTUSER
EOF
comprobar "y nada cambió: $nuevo sigue instalada, entera" \
    eval '[ "$(valor "HKCU\\$desinstalar" DisplayVersion)" = "$nuevo" ] && ! cmp -s "$dist/Quarvel38.exe" "$propio/Quarvel38.exe" && [ ! -e "$destino" ]'
timeout 120 wine "$propio/desinstalar.exe" /S >/dev/null 2>&1
esperar 300 test ! -e "$propio"
wineserver -k 2>/dev/null

resumen
