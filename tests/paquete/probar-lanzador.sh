#!/usr/bin/env bash
# The launcher against stand-in programs: seeding, never overwriting, the
# folder it starts them in, XDG rules and autostart on/off.
#   probar-lanzador.sh PATH_TO_quarvel-lanzar
set -uo pipefail
# shellcheck source=tests/paquete/comun.sh
. "$(dirname "$0")/comun.sh"

lanzador=$1
[ -f "$lanzador" ] || { echo "no launcher at $lanzador" >&2; exit 1; }

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

# Only the tools the launcher may use, so an installed Quarvel on the
# machine's PATH is never started by mistake.
herr=$tmp/herr
mkdir -p "$herr"
for c in dirname mkdir cp rm cat; do ln -s "$(command -v "$c")" "$herr/$c"; done

# A prefix with the launcher and stand-ins that report where they run.
prefijo=$tmp/prefijo
mkdir -p "$prefijo/bin" "$prefijo/share/quarvel/autostart"
cp "$lanzador" "$prefijo/bin/quarvel-lanzar"
chmod +x "$prefijo/bin/quarvel-lanzar"
for p in Quarvel38 Quarvel430; do
    # shellcheck disable=SC2016  # expanded by the stand-in, not here
    printf '#!/bin/sh\necho "%s|$(pwd)|$*"\n' "$p" >"$prefijo/bin/$p"
    chmod +x "$prefijo/bin/$p"
done
printf '[Desktop Entry]\nName=prueba\n' \
    >"$prefijo/share/quarvel/autostart/io.github.quarvel.Quarvel430.desktop"
L=$prefijo/bin/quarvel-lanzar

# Fresh XDG_CONFIG_HOME: folder created, both files seeded byte for byte,
# program run there with the launcher's remaining arguments.
cfg=$tmp/cfg
salida=$(env -i HOME="$tmp/casa" XDG_CONFIG_HOME="$cfg" PATH="$herr" \
    /bin/sh "$L" Quarvel430 -x 2>&1)
comprobar "programa en la carpeta XDG (salida: $salida)" \
    test "$salida" = "Quarvel430|$cfg/quarvel|-x"
comprobar "qv.ini sembrado con los bytes exactos" iguala_bytes "$cfg/quarvel/qv.ini" qv_esperado
comprobar "qv_int.ini sembrado con los bytes exactos" iguala_bytes "$cfg/quarvel/qv_int.ini" qv_int_esperado
comprobar "qv.ini de 26 lineas CR LF" test "$(tr -cd '\n' <"$cfg/quarvel/qv.ini" | wc -c)" -eq 26
comprobar "nada mas en la carpeta" test "$(find "$cfg/quarvel" -mindepth 1 -printf '%f\n' | sort | tr '\n' ' ')" = "qv.ini qv_int.ini "

# Existing files are never overwritten; only the missing one is seeded.
printf '[COM_PORT]\r\n7\r\n' >"$cfg/quarvel/qv.ini"
rm "$cfg/quarvel/qv_int.ini"
env -i HOME="$tmp/casa" XDG_CONFIG_HOME="$cfg" PATH="$herr" /bin/sh "$L" Quarvel38 >/dev/null
comprobar "qv.ini del usuario intacto" test "$(cat "$cfg/quarvel/qv.ini")" = "$(printf '[COM_PORT]\r\n7\r')"
comprobar "qv_int.ini que faltaba sembrado" iguala_bytes "$cfg/quarvel/qv_int.ini" qv_int_esperado

# A dangling symbolic link counts as existing: not replaced, not written through.
cfg2=$tmp/cfg2
mkdir -p "$cfg2/quarvel"
ln -s "$tmp/no-existe" "$cfg2/quarvel/qv.ini"
env -i HOME="$tmp/casa" XDG_CONFIG_HOME="$cfg2" PATH="$herr" /bin/sh "$L" Quarvel38 >/dev/null 2>&1
comprobar "enlace colgante respetado" test -L "$cfg2/quarvel/qv.ini" -a ! -e "$tmp/no-existe"

# Unset or relative XDG_CONFIG_HOME means ~/.config.
for valor in "" "relativa/cfg"; do
    salida=$(cd "$tmp" && env -i HOME="$tmp/casa" XDG_CONFIG_HOME="$valor" PATH="$herr" \
        /bin/sh "$L" Quarvel38)
    comprobar "XDG_CONFIG_HOME='$valor' usa ~/.config ($salida)" \
        test "$salida" = "Quarvel38|$tmp/casa/.config/quarvel|"
done
comprobar "no crea la carpeta relativa" test ! -e "$tmp/relativa"
salida=$(env -i HOME="$tmp/casa" PATH="$herr" /bin/sh "$L" --carpeta)
comprobar "--carpeta" test "$salida" = "$tmp/casa/.config/quarvel"

# Settings folder with blanks in its name.
cfg3="$tmp/con espacios"
salida=$(env -i HOME="$tmp/casa" XDG_CONFIG_HOME="$cfg3" PATH="$herr" /bin/sh "$L" Quarvel38)
comprobar "carpeta con espacios ($salida)" test "$salida" = "Quarvel38|$cfg3/quarvel|"

# Wrong arguments and a missing program.
env -i HOME="$tmp/casa" PATH="$herr" /bin/sh "$L" >/dev/null 2>&1
comprobar "sin argumentos: estado 2" test $? -eq 2
env -i HOME="$tmp/casa" PATH="$herr" /bin/sh "$L" /bin/true >/dev/null 2>&1
comprobar "programa no permitido: estado 2" test $? -eq 2
solo=$tmp/solo
mkdir -p "$solo"
cp "$lanzador" "$solo/quarvel-lanzar"
env -i HOME="$tmp/casa" XDG_CONFIG_HOME="$tmp/cfg4" PATH="$herr" \
    /bin/sh "$solo/quarvel-lanzar" Quarvel38 >/dev/null 2>&1
comprobar "programa ausente: estado 127" test $? -eq 127
# Found on PATH when it is not beside the launcher.
salida=$(env -i HOME="$tmp/casa" XDG_CONFIG_HOME="$tmp/cfg4" PATH="$prefijo/bin:$herr" \
    /bin/sh "$solo/quarvel-lanzar" Quarvel430)
comprobar "programa buscado en PATH ($salida)" test "$salida" = "Quarvel430|$tmp/cfg4/quarvel|"

# Relative paths still name the program after the launcher changes folder.
salida=$(cd "$prefijo/bin" && env -i HOME="$tmp/casa" XDG_CONFIG_HOME="$tmp/cfg4" PATH="$herr" \
    /bin/sh ./quarvel-lanzar Quarvel38 2>&1)
comprobar "lanzador llamado como ./quarvel-lanzar ($salida)" test "$salida" = "Quarvel38|$tmp/cfg4/quarvel|"
salida=$(cd "$tmp" && env -i HOME="$tmp/casa" XDG_CONFIG_HOME="$tmp/cfg4" PATH="prefijo/bin:$herr" \
    /bin/sh "$solo/quarvel-lanzar" Quarvel430 2>&1)
comprobar "programa en una entrada relativa de PATH ($salida)" test "$salida" = "Quarvel430|$tmp/cfg4/quarvel|"

# Autostart: opt-in copy into the user's autostart folder, and back off.
auto=$cfg/autostart/io.github.quarvel.Quarvel430.desktop
comprobar "autostart apagado al principio" \
    test "$(env -i HOME="$tmp/casa" XDG_CONFIG_HOME="$cfg" PATH="$herr" /bin/sh "$L" --autostart estado)" = off
env -i HOME="$tmp/casa" XDG_CONFIG_HOME="$cfg" PATH="$herr" /bin/sh "$L" --autostart on >/dev/null
comprobar "autostart on copia la entrada instalada" \
    cmp -s "$auto" "$prefijo/share/quarvel/autostart/io.github.quarvel.Quarvel430.desktop"
comprobar "autostart estado on" \
    test "$(env -i HOME="$tmp/casa" XDG_CONFIG_HOME="$cfg" PATH="$herr" /bin/sh "$L" --autostart estado)" = on
env -i HOME="$tmp/casa" XDG_CONFIG_HOME="$cfg" PATH="$herr" /bin/sh "$L" --autostart off >/dev/null
comprobar "autostart off la quita" test ! -e "$auto"
env -i HOME="$tmp/casa" XDG_CONFIG_HOME="$cfg" PATH="$herr" /bin/sh "$L" --autostart talvez >/dev/null 2>&1
comprobar "autostart con valor incorrecto: estado 2" test $? -eq 2

# Without a copy beside it, the entry is looked up in XDG_DATA_DIRS.
datos=$tmp/datos
mkdir -p "$datos/quarvel/autostart"
printf '[Desktop Entry]\nName=xdg\n' >"$datos/quarvel/autostart/io.github.quarvel.Quarvel430.desktop"
env -i HOME="$tmp/casa" XDG_CONFIG_HOME="$tmp/cfg5" XDG_DATA_DIRS="$tmp/vacia:$datos" \
    PATH="$herr" /bin/sh "$solo/quarvel-lanzar" --autostart on >/dev/null
comprobar "autostart desde XDG_DATA_DIRS" \
    cmp -s "$tmp/cfg5/autostart/io.github.quarvel.Quarvel430.desktop" \
    "$datos/quarvel/autostart/io.github.quarvel.Quarvel430.desktop"
env -i HOME="$tmp/casa" XDG_CONFIG_HOME="$tmp/cfg6" XDG_DATA_DIRS="$tmp/vacia" \
    PATH="$herr" /bin/sh "$solo/quarvel-lanzar" --autostart on >/dev/null 2>&1
comprobar "autostart sin entrada instalada falla" test $? -ne 0 -a ! -e "$tmp/cfg6/autostart"

# Plain POSIX sh: dash must parse it (also checked by running it above).
if command -v dash >/dev/null; then
    comprobar "dash -n" dash -n "$lanzador"
fi

final
