#!/usr/bin/env bash
# Inspects the .deb built by CPack and unpacks it with `dpkg -x` into a
# temporary folder (the machine is not changed): control fields, file list,
# desktop entries, icons, man pages, and the unpacked launcher and programs
# really starting.
#   probar-paquete.sh DEB_DIR
set -uo pipefail
# shellcheck source=tests/paquete/comun.sh
. "$(dirname "$0")/comun.sh"

if ! command -v dpkg-deb >/dev/null; then
    echo "SKIPPED: dpkg-deb not found; the Debian package can only be checked on Debian"
    exit 77
fi
shopt -s nullglob
debs=("$1"/quarvel_*.deb)
[ ${#debs[@]} -eq 1 ] || { echo "expected one quarvel_*.deb in $1, found ${#debs[@]}" >&2; exit 1; }
deb=${debs[0]}
echo "paquete: $deb"

tmp=$(mktemp -d)
pids=()
limpiar() {
    for p in "${pids[@]}"; do kill "$p" 2>/dev/null; done
    wait 2>/dev/null
    rm -rf "$tmp"
}
trap limpiar EXIT

# --- control fields ---
campo() { dpkg-deb -f "$deb" "$1"; }
comprobar "Package quarvel" test "$(campo Package)" = quarvel
comprobar "Version 1.0.0" test "$(campo Version)" = 1.0.0
comprobar "Section utils" test "$(campo Section)" = utils
comprobar "Architecture $(dpkg --print-architecture)" \
    test "$(campo Architecture)" = "$(dpkg --print-architecture)"
comprobar "Maintainer con correo" grep -q '<.*@.*>' <<<"$(campo Maintainer)"
comprobar "Description" test -n "$(campo Description)"
depende=$(campo Depends)
echo "Depends: $depende"
for lib in libqt6core6 libqt6gui6 libqt6widgets6 libqt6serialport6; do
    comprobar "Depends incluye $lib" grep -Eq "(^|, )$lib( |,|$)" <<<"$depende"
done
comprobar "Recommends qt6-wayland" grep -Eq "(^|, )qt6-wayland( |,|$)" <<<"$(campo Recommends)"

# Errors and warnings only: infos and pedantic tags are advice.
if command -v lintian >/dev/null; then
    lintian --pedantic "$deb" >"$tmp/lintian.log" 2>"$tmp/lintian.err"
    estado=$?
    comprobar "lintian termina bien (estado $estado; $(tail -n 3 "$tmp/lintian.err"))" test "$estado" -eq 0
    comprobar "lintian sin E: ni W: ($(grep -E '^[EW]: ' "$tmp/lintian.log" | tr '\n' ' '))" \
        bash -c "! grep -Eq '^[EW]: ' '$tmp/lintian.log'"
else
    echo "nota: lintian no esta; paquete sin revisar con lintian"
fi

# --- file list ---
lista=$tmp/lista
dpkg-deb -c "$deb" | awk '{print $1, $6}' >"$lista"
tiene() { grep -Fxq "$1" <(awk '{print $2}' "$lista"); }
ejecutable() { grep -Eq "^-rwxr-xr-x \./usr/bin/$1\$" "$lista"; }
for b in Quarvel38 Quarvel430 simulador_reloj quarvel-lanzar; do
    comprobar "/usr/bin/$b ejecutable" ejecutable "$b"
    comprobar "man1/$b.1.gz" tiene "./usr/share/man/man1/$b.1.gz"
done
for d in Quarvel38 Quarvel430; do
    comprobar "$d.desktop" tiene "./usr/share/applications/io.github.quarvel.$d.desktop"
done
comprobar "autostart opcional" tiene ./usr/share/quarvel/autostart/io.github.quarvel.Quarvel430.desktop
comprobar "copyright" tiene ./usr/share/doc/quarvel/copyright
comprobar "metainfo" tiene ./usr/share/metainfo/io.github.quarvel.Quarvel.metainfo.xml
comprobar "icono svg" tiene ./usr/share/icons/hicolor/scalable/apps/io.github.quarvel.Quarvel.svg
for n in 16 32 48 64 128 256; do
    comprobar "icono ${n}x${n}" tiene "./usr/share/icons/hicolor/${n}x${n}/apps/io.github.quarvel.Quarvel.png"
done
# Autostart is opt-in; and nothing strays outside /usr (other targets'
# install rules, a /usr/local prefix).
comprobar "nada en /etc" test -z "$(awk '$2 ~ /^\.\/etc\// {print $2}' "$lista")"
comprobar "todo bajo /usr" test -z "$(awk '$2 !~ /^\.\/(usr\/.*)?$/ {print $2}' "$lista")"
comprobar "nada en /usr/local" test -z "$(awk '$2 ~ /^\.\/usr\/local/ {print $2}' "$lista")"

# --- unpacked ---
raiz=$tmp/raiz
dpkg-deb -x "$deb" "$raiz" || { echo "dpkg-deb -x failed" >&2; exit 1; }
usr=$raiz/usr
apps=$usr/share/applications

# Icons really have their size (PNG IHDR: width and height at bytes 16..23).
lado_png() { od -An -tu1 -j16 -N8 "$1" | awk '{print $3*256+$4 "x" $7*256+$8}'; }
for n in 16 32 48 64 128 256; do
    f=$usr/share/icons/hicolor/${n}x${n}/apps/io.github.quarvel.Quarvel.png
    comprobar "PNG $n de ${n}x${n} ($(lado_png "$f"))" test "$(lado_png "$f")" = "${n}x${n}"
done
comprobar "SVG" grep -q '<svg' "$usr/share/icons/hicolor/scalable/apps/io.github.quarvel.Quarvel.svg"

copyright=$usr/share/doc/quarvel/copyright
comprobar "copyright legible por maquina, MIT" \
    test "$(head -n 1 "$copyright")" = "Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/" \
    -a "$(sed -n 's/^License: //p' "$copyright" | sort -u)" = MIT

for f in "$usr"/share/man/man1/*.1.gz; do
    comprobar "$(basename "$f") es roff con .TH" grep -q '^\.TH ' <(gzip -dc "$f")
done

# Desktop entries: what they name is in the package.
for d in Quarvel38 Quarvel430; do
    f=$apps/io.github.quarvel.$d.desktop
    comprobar "$d Exec" test "$(valor_clave "$f" Exec)" = "quarvel-lanzar $d"
    comprobar "$d TryExec instalado" test -x "$usr/bin/$(valor_clave "$f" TryExec)"
    comprobar "$d StartupWMClass" test "$(valor_clave "$f" StartupWMClass)" = "$d"
    comprobar "$d Categories" test "$(valor_clave "$f" Categories)" = "Utility;Qt;"
    comprobar "$d icono instalado" \
        test -f "$usr/share/icons/hicolor/scalable/apps/$(valor_clave "$f" Icon).svg"
    for k in 'Name' 'Name\[es\]' 'Comment' 'Comment\[es\]'; do
        comprobar "$d $k" test -n "$(valor_clave "$f" "$k")"
    done
done
auto=$usr/share/quarvel/autostart/io.github.quarvel.Quarvel430.desktop
for kv in 'Exec=quarvel-lanzar Quarvel430' X-GNOME-Autostart-Delay=10 X-GNOME-Autostart-enabled=true \
    X-KDE-autostart-after=panel X-LXQt-Need-Tray=true; do
    comprobar "autostart $kv" grep -Fxq "$kv" "$auto"
done
if command -v desktop-file-validate >/dev/null; then
    comprobar "desktop-file-validate" desktop-file-validate "$apps"/*.desktop "$auto"
else
    echo "nota: desktop-file-validate no esta; entradas sin validar"
fi
meta=$usr/share/metainfo/io.github.quarvel.Quarvel.metainfo.xml
while read -r d; do
    comprobar "metainfo lanza $d instalado" test -f "$apps/$d"
done < <(sed -n 's|.*<launchable type="desktop-id">\(.*\)</launchable>.*|\1|p' "$meta")
comprobar "metainfo con dos lanzadores" test "$(grep -c '<launchable' "$meta")" -eq 2
comprobar "metainfo icono instalado" \
    test -f "$usr/share/icons/hicolor/scalable/apps/$(sed -n 's|.*<icon type="stock">\(.*\)</icon>.*|\1|p' "$meta").svg"
if command -v appstreamcli >/dev/null; then
    comprobar "appstreamcli validate" \
        appstreamcli validate --no-net "$usr/share/metainfo/io.github.quarvel.Quarvel.metainfo.xml"
else
    echo "nota: appstreamcli no esta; metainfo sin validar"
fi

# The unpacked binaries link only against what is installed on the system
# (Qt from Debian, no LD_LIBRARY_PATH).
for b in Quarvel38 Quarvel430 simulador_reloj; do
    comprobar "$b sin bibliotecas ausentes" bash -c "! env -u LD_LIBRARY_PATH ldd '$usr/bin/$b' | grep -q 'not found'"
done
env -u LD_LIBRARY_PATH "$usr/bin/simulador_reloj" --help >/dev/null
comprobar "simulador_reloj --help" test $? -eq 0

# The unpacked launcher, as the menu runs it, on a fresh XDG_CONFIG_HOME:
# seeds the folder and execs the unpacked program there. The program keeps
# running until timeout kills it (124), it does not crash.
cfg=$tmp/cfg
for prog in Quarvel38 Quarvel430; do
    env -u LD_LIBRARY_PATH HOME="$tmp/casa" XDG_CONFIG_HOME="$cfg" QT_QPA_PLATFORM=offscreen \
        "$usr/bin/quarvel-lanzar" "$prog" >"$tmp/$prog.log" 2>&1 &
    pid=$!
    pids+=("$pid")
    # Same pid once the launcher execs.
    exe=""
    for _ in $(seq 50); do
        exe=$(readlink "/proc/$pid/exe" 2>/dev/null)
        [ "$exe" = "$usr/bin/$prog" ] && break
        sleep 0.1
    done
    comprobar "$prog arrancado desde el paquete ($exe)" test "$exe" = "$usr/bin/$prog"
    comprobar "$prog en la carpeta XDG" test "$(readlink "/proc/$pid/cwd")" = "$cfg/quarvel"
    kill "$pid" 2>/dev/null
    wait "$pid" 2>/dev/null
done
comprobar "qv.ini sembrado" iguala_bytes "$cfg/quarvel/qv.ini" qv_esperado
comprobar "qv_int.ini sembrado" iguala_bytes "$cfg/quarvel/qv_int.ini" qv_int_esperado

cfg2=$tmp/cfg2
env -u LD_LIBRARY_PATH HOME="$tmp/casa" XDG_CONFIG_HOME="$cfg2" QT_QPA_PLATFORM=offscreen \
    timeout 3 "$usr/bin/quarvel-lanzar" Quarvel38 >"$tmp/q38.log" 2>&1
estado=$?
comprobar "Quarvel38 vive hasta el timeout (estado $estado; $(tail -n 3 "$tmp/q38.log"))" test "$estado" -eq 124
(cd "$tmp" && env -u LD_LIBRARY_PATH QT_QPA_PLATFORM=offscreen timeout 3 "$usr/bin/Quarvel430" \
    >"$tmp/q430.log" 2>&1)
estado=$?
comprobar "Quarvel430 vive hasta el timeout (estado $estado; $(tail -n 3 "$tmp/q430.log"))" test "$estado" -eq 124

# Under X the window class must be what StartupWMClass says, or docks and
# menus do not match the window to its entry.
if command -v Xvfb >/dev/null && command -v xwininfo >/dev/null && command -v xprop >/dev/null; then
    Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp -noreset 3>"$tmp/pantalla" >/dev/null 2>&1 &
    pids+=($!)
    for _ in $(seq 50); do [ -s "$tmp/pantalla" ] && break; sleep 0.1; done
    DISPLAY=:$(cat "$tmp/pantalla")
    export DISPLAY
    for prog in Quarvel38 Quarvel430; do
        titulo="Quarvel 3.8"
        [ "$prog" = Quarvel430 ] && titulo="Quarvel 4.3"
        (cd "$cfg/quarvel" && exec env -u LD_LIBRARY_PATH -u QT_QPA_PLATFORM "$usr/bin/$prog" >/dev/null 2>&1) &
        pid=$!
        pids+=("$pid")
        ventana=""
        for _ in $(seq 100); do
            ventana=$(xwininfo -root -tree 2>/dev/null | awk -v t="\"$titulo\":" 'index($0, t) {print $1; exit}')
            [ -n "$ventana" ] && break
            sleep 0.1
        done
        clase=$(xprop -id "$ventana" WM_CLASS 2>/dev/null | sed -n 's/.*= "[^"]*", "\([^"]*\)".*/\1/p')
        esperada=$(valor_clave "$apps/io.github.quarvel.$prog.desktop" StartupWMClass)
        comprobar "$prog WM_CLASS '$clase' = StartupWMClass '$esperada'" test "$clase" = "$esperada"
        kill "$pid" 2>/dev/null
        wait "$pid" 2>/dev/null
    done
else
    echo "nota: sin Xvfb/xwininfo/xprop; WM_CLASS sin comprobar"
fi

final
