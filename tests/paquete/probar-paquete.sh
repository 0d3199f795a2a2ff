#!/usr/bin/env bash
# Inspects the .deb built by CPack and unpacks it with `dpkg -x` into a
# temporary folder (the machine is not changed): control fields, file list,
# desktop entries, icons, man pages, and the unpacked launcher and programs
# really starting.
#   probar-paquete.sh DEB_DIR
set -uo pipefail
# shellcheck source=tests/comun.sh
. "$(dirname "$0")/../comun.sh"

if ! command -v dpkg-deb >/dev/null; then
    echo "SKIPPED: dpkg-deb not found; the Debian package can only be checked on Debian"
    exit 77
fi
deb=$(un_deb "$1") || exit 1
echo "paquete: $deb"
t=$trabajo

# --- control fields ---
campo() { dpkg-deb -f "$deb" "$1"; }
for kv in Package=quarvel Version=1.0.0 Section=utils "Architecture=$(dpkg --print-architecture)"; do
    igual "${kv%%=*}" "${kv#*=}" "$(campo "${kv%%=*}")"
done
comprobar "Maintainer con correo" grep -q '<.*@.*>' <<<"$(campo Maintainer)"
comprobar "Description" test -n "$(campo Description)"
echo "Depends: $(campo Depends)"
# FIELD:PACKAGE, the package a whole entry of the field's list.
for fp in Depends:libqt6core6 Depends:libqt6gui6 Depends:libqt6widgets6 Depends:libqt6serialport6 \
    Recommends:qt6-wayland Recommends:qt6-translations-l10n; do
    comprobar "$fp" grep -Eq "(^|, )${fp#*:}( |,|$)" <<<"$(campo "${fp%%:*}")"
done

# The maintainer scripts, as dpkg runs them (their work is checked under a
# real systemd, tests/paquete/servicio-systemd.sh).
dpkg-deb -e "$deb" "$t/control"
for m in postinst prerm postrm; do
    comprobar "$m ejecutable y sh válido" sh -n "$t/control/$m"
    comprobar "$m ejecutable" test -x "$t/control/$m"
done

# Errors and warnings only: infos and pedantic tags are advice.
if command -v lintian >/dev/null; then
    lintian --pedantic "$deb" >"$t/lintian.log" 2>"$t/lintian.err"
    estado=$?
    comprobar "lintian termina bien (estado $estado; $(tail -n 3 "$t/lintian.err"))" test "$estado" -eq 0
    igual "lintian sin E: ni W:" "" "$(grep -E '^[EW]: ' "$t/lintian.log")"
else
    echo "nota: lintian no esta; paquete sin revisar con lintian"
fi

# --- file list, and the files unpacked ---
lista=$t/lista
dpkg-deb -c "$deb" | awk '{print $1, $6}' >"$lista"
tiene() { grep -Fxq "$1" <(awk '{print $2}' "$lista"); }
ejecutable() { grep -Eq "^-rwxr-xr-x \./usr/bin/$1\$" "$lista"; }
usr=$t/raiz/usr
dpkg-deb -x "$deb" "$t/raiz" || { echo "dpkg-deb -x failed" >&2; exit 1; }
apps=$usr/share/applications
svg=icons/hicolor/scalable/apps/io.github.quarvel.Quarvel.svg

for b in Quarvel38 Quarvel430 simulador_reloj quarvel-lanzar; do
    comprobar "/usr/bin/$b ejecutable" ejecutable "$b"
    comprobar "man1/$b.1.gz" tiene "./usr/share/man/man1/$b.1.gz"
done
for f in applications/io.github.quarvel.Quarvel38.desktop applications/io.github.quarvel.Quarvel430.desktop \
    quarvel/autostart/io.github.quarvel.Quarvel430.desktop doc/quarvel/copyright \
    metainfo/io.github.quarvel.Quarvel.metainfo.xml "$svg"; do
    comprobar "$f" tiene "./usr/share/$f"
done
# Icons really have their size (PNG IHDR: width and height at bytes 16..23).
lado_png() { od -An -tu1 -j16 -N8 "$1" | awk '{print $3*256+$4 "x" $7*256+$8}'; }
for n in 16 32 48 64 128 256; do
    f=icons/hicolor/${n}x${n}/apps/io.github.quarvel.Quarvel.png
    comprobar "$f" tiene "./usr/share/$f"
    igual "PNG de ${n}x${n}" "${n}x${n}" "$(lado_png "$usr/share/$f")"
done
comprobar "SVG" grep -q '<svg' "$usr/share/$svg"
# Autostart is opt-in; and nothing strays outside /usr (other targets'
# install rules, a /usr/local prefix).
igual "nada en /etc" "" "$(awk '$2 ~ /^\.\/etc\// {print $2}' "$lista")"
igual "todo bajo /usr" "" "$(awk '$2 !~ /^\.\/(usr\/.*)?$/ {print $2}' "$lista")"
igual "nada en /usr/local" "" "$(awk '$2 ~ /^\.\/usr\/local/ {print $2}' "$lista")"

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
    for kv in "Exec=quarvel-lanzar $d" "StartupWMClass=$d" "Categories=Utility;Qt;"; do
        igual "$d ${kv%%=*}" "${kv#*=}" "$(valor_clave "$f" "${kv%%=*}")"
    done
    comprobar "$d TryExec instalado" test -x "$usr/bin/$(valor_clave "$f" TryExec)"
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
igual "metainfo con lanzadores" 2 "$(grep -c '<launchable' "$meta")"
comprobar "metainfo icono instalado" \
    test -f "$usr/share/icons/hicolor/scalable/apps/$(sed -n 's|.*<icon type="stock">\(.*\)</icon>.*|\1|p' "$meta").svg"
if command -v appstreamcli >/dev/null; then
    comprobar "appstreamcli validate" appstreamcli validate --no-net "$meta"
else
    echo "nota: appstreamcli no esta; metainfo sin validar"
fi

# The unpacked binaries link only against what is installed on the system
# (Qt from Debian, no LD_LIBRARY_PATH).
for b in Quarvel38 Quarvel430 simulador_reloj; do
    igual "$b sin bibliotecas ausentes" "" "$(env -u LD_LIBRARY_PATH ldd "$usr/bin/$b" | grep 'not found')"
done
env -u LD_LIBRARY_PATH "$usr/bin/simulador_reloj" --help >/dev/null
comprobar "simulador_reloj --help" test $? -eq 0

# The unpacked launcher, as the menu runs it, on a fresh XDG_CONFIG_HOME:
# seeds the folder and execs the unpacked program there. The program keeps
# running until timeout kills it (124), it does not crash.
cfg=$t/cfg
# Same pid once the launcher execs.
ejecuta() { exe=$(readlink "/proc/$pid/exe" 2>/dev/null); [ "$exe" = "$usr/bin/$prog" ]; }
for prog in Quarvel38 Quarvel430; do
    env -u LD_LIBRARY_PATH HOME="$t/casa" XDG_CONFIG_HOME="$cfg" QT_QPA_PLATFORM=offscreen \
        "$usr/bin/quarvel-lanzar" "$prog" >"$t/$prog.log" 2>&1 &
    pid=$!
    pids+=("$pid")
    esperar 50 ejecuta
    comprobar "$prog arrancado desde el paquete ($exe)" test "$exe" = "$usr/bin/$prog"
    igual "$prog en la carpeta XDG" "$cfg/quarvel" "$(readlink "/proc/$pid/cwd")"
    kill "$pid" 2>/dev/null
    wait "$pid" 2>/dev/null
done
comprobar "qv.ini sembrado" iguala_bytes "$cfg/quarvel/qv.ini" qv_ini
comprobar "qv_int.ini sembrado" iguala_bytes "$cfg/quarvel/qv_int.ini" qv_int_ini

env -u LD_LIBRARY_PATH HOME="$t/casa" XDG_CONFIG_HOME="$t/cfg2" QT_QPA_PLATFORM=offscreen \
    timeout 3 "$usr/bin/quarvel-lanzar" Quarvel38 >"$t/q38.log" 2>&1
estado=$?
comprobar "Quarvel38 vive hasta el timeout (estado $estado; $(tail -n 3 "$t/q38.log"))" test "$estado" -eq 124
(cd "$t" && env -u LD_LIBRARY_PATH QT_QPA_PLATFORM=offscreen timeout 3 "$usr/bin/Quarvel430" \
    >"$t/q430.log" 2>&1)
estado=$?
comprobar "Quarvel430 vive hasta el timeout (estado $estado; $(tail -n 3 "$t/q430.log"))" test "$estado" -eq 124

# Under X the window class must be what StartupWMClass says, or docks and
# menus do not match the window to its entry.
if command -v Xvfb >/dev/null && command -v xwininfo >/dev/null && command -v xprop >/dev/null; then
    Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp -noreset 3>"$t/pantalla" >/dev/null 2>&1 &
    pids+=($!)
    esperar 50 test -s "$t/pantalla"
    DISPLAY=:$(cat "$t/pantalla")
    export DISPLAY
    abierta() {
        ventana=$(xwininfo -root -tree 2>/dev/null | awk -v t="\"$titulo\":" 'index($0, t) {print $1; exit}')
        [ -n "$ventana" ]
    }
    for pt in "Quarvel38|Quarvel 3.8" "Quarvel430|Quarvel 4.3"; do
        prog=${pt%%|*} titulo=${pt#*|}
        (cd "$cfg/quarvel" && exec env -u LD_LIBRARY_PATH -u QT_QPA_PLATFORM "$usr/bin/$prog" >/dev/null 2>&1) &
        pid=$!
        pids+=("$pid")
        esperar 100 abierta
        clase=$(xprop -id "$ventana" WM_CLASS 2>/dev/null | sed -n 's/.*= "[^"]*", "\([^"]*\)".*/\1/p')
        esperada=$(valor_clave "$apps/io.github.quarvel.$prog.desktop" StartupWMClass)
        igual "$prog WM_CLASS = StartupWMClass '$esperada'" "$esperada" "$clase"
        kill "$pid" 2>/dev/null
        wait "$pid" 2>/dev/null
    done
else
    echo "nota: sin Xvfb/xwininfo/xprop; WM_CLASS sin comprobar"
fi

resumen
