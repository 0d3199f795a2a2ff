#!/usr/bin/env bash
# The launcher against stand-in programs: seeding, never overwriting, the
# folder it starts them in, XDG rules and autostart on/off.
#   probar-lanzador.sh PATH_TO_quarvel-lanzar
set -uo pipefail
# shellcheck source=tests/comun.sh
. "$(dirname "$0")/../comun.sh"

lanzador=$1
[ -f "$lanzador" ] || { echo "no launcher at $lanzador" >&2; exit 1; }
t=$trabajo

# Only the tools the launcher may use, so an installed Quarvel on the
# machine's PATH is never started by mistake.
herr=$t/herr
mkdir -p "$herr"
for c in dirname mkdir cp rm cat; do ln -s "$(command -v "$c")" "$herr/$c"; done
# en [VAR=VALUE...] COMMAND...: COMMAND on a bare environment (later
# assignments win over these).
en() { env -i HOME="$t/casa" PATH="$herr" "$@"; }
# estado COMMAND...: its exit status alone.
estado() { "$@" >/dev/null 2>&1; echo $?; }

# A prefix with the launcher and stand-ins that report where they run.
prefijo=$t/prefijo
mkdir -p "$prefijo/bin" "$prefijo/share/quarvel/autostart"
cp "$lanzador" "$prefijo/bin/quarvel-lanzar"
chmod +x "$prefijo/bin/quarvel-lanzar"
for p in Quarvel38 Quarvel430; do
    # shellcheck disable=SC2016  # expanded by the stand-in, not here
    printf '#!/bin/sh\necho "%s|$(pwd)|$*"\n' "$p" >"$prefijo/bin/$p"
    chmod +x "$prefijo/bin/$p"
done
entrada=$prefijo/share/quarvel/autostart/io.github.quarvel.Quarvel430.desktop
printf '[Desktop Entry]\nName=prueba\n' >"$entrada"
L=$prefijo/bin/quarvel-lanzar
# A launcher with no programs beside it.
solo=$t/solo/quarvel-lanzar
mkdir -p "$t/solo"
cp "$lanzador" "$solo"

# Fresh XDG_CONFIG_HOME: folder created, both files seeded byte for byte,
# program run there with the launcher's remaining arguments.
cfg=$t/cfg
igual "programa en la carpeta XDG" "Quarvel430|$cfg/quarvel|-x" \
    "$(en XDG_CONFIG_HOME="$cfg" /bin/sh "$L" Quarvel430 -x 2>&1)"
comprobar "qv.ini sembrado con los bytes exactos" iguala_bytes "$cfg/quarvel/qv.ini" qv_ini
comprobar "qv_int.ini sembrado con los bytes exactos" iguala_bytes "$cfg/quarvel/qv_int.ini" qv_int_ini
comprobar "qv.ini de 26 lineas CR LF" test "$(tr -cd '\n' <"$cfg/quarvel/qv.ini" | wc -c)" -eq 26
igual "nada mas en la carpeta" "qv.ini qv_int.ini " \
    "$(find "$cfg/quarvel" -mindepth 1 -printf '%f\n' | sort | tr '\n' ' ')"

# Existing files are never overwritten; only the missing one is seeded.
printf '[COM_PORT]\r\n7\r\n' >"$cfg/quarvel/qv.ini"
rm "$cfg/quarvel/qv_int.ini"
en XDG_CONFIG_HOME="$cfg" /bin/sh "$L" Quarvel38 >/dev/null
comprobar "qv.ini del usuario intacto" test "$(cat "$cfg/quarvel/qv.ini")" = "$(printf '[COM_PORT]\r\n7\r')"
comprobar "qv_int.ini que faltaba sembrado" iguala_bytes "$cfg/quarvel/qv_int.ini" qv_int_ini

# A dangling symbolic link counts as existing: not replaced, not written through.
mkdir -p "$t/cfg2/quarvel"
ln -s "$t/no-existe" "$t/cfg2/quarvel/qv.ini"
en XDG_CONFIG_HOME="$t/cfg2" /bin/sh "$L" Quarvel38 >/dev/null 2>&1
comprobar "enlace colgante respetado" test -L "$t/cfg2/quarvel/qv.ini" -a ! -e "$t/no-existe"

# Unset or relative XDG_CONFIG_HOME means ~/.config.
for valor in "" "relativa/cfg"; do
    igual "XDG_CONFIG_HOME='$valor' usa ~/.config" "Quarvel38|$t/casa/.config/quarvel|" \
        "$(cd "$t" && en XDG_CONFIG_HOME="$valor" /bin/sh "$L" Quarvel38)"
done
comprobar "no crea la carpeta relativa" test ! -e "$t/relativa"
igual "--carpeta" "$t/casa/.config/quarvel" "$(en /bin/sh "$L" --carpeta)"

# The folder the program runs in, however the launcher and the program are
# found: DESCRIPTION | XDG_CONFIG_HOME | PATH | folder to call from | launcher | program.
while IFS='|' read -r que xdg ruta desde l prog; do
    igual "$que" "$prog|$xdg/quarvel|" \
        "$(cd "$desde" && en XDG_CONFIG_HOME="$xdg" PATH="$ruta" /bin/sh "$l" "$prog" 2>&1 </dev/null)"
done <<EOF
carpeta con espacios|$t/con espacios|$herr|$t|$L|Quarvel38
programa buscado en PATH|$t/cfg4|$prefijo/bin:$herr|$t|$solo|Quarvel430
lanzador llamado como ./quarvel-lanzar|$t/cfg4|$herr|$prefijo/bin|./quarvel-lanzar|Quarvel38
programa en una entrada relativa de PATH|$t/cfg4|prefijo/bin:$herr|$t|$solo|Quarvel430
EOF

# Wrong arguments and a missing program.
igual "sin argumentos: estado" 2 "$(estado en /bin/sh "$L")"
igual "programa no permitido: estado" 2 "$(estado en /bin/sh "$L" /bin/true)"
igual "programa ausente: estado" 127 "$(estado en XDG_CONFIG_HOME="$t/cfg4" /bin/sh "$solo" Quarvel38)"

# Autostart: opt-in copy into the user's autostart folder, and back off.
auto=$cfg/autostart/io.github.quarvel.Quarvel430.desktop
autostart() { en XDG_CONFIG_HOME="$cfg" /bin/sh "$L" --autostart "$@"; }
igual "autostart al principio" off "$(autostart estado)"
autostart on >/dev/null
comprobar "autostart on copia la entrada instalada" cmp -s "$auto" "$entrada"
igual "autostart tras on" on "$(autostart estado)"
autostart off >/dev/null
comprobar "autostart off la quita" test ! -e "$auto"
igual "autostart con valor incorrecto: estado" 2 "$(estado autostart talvez)"

# Without a copy beside it, the entry is looked up in XDG_DATA_DIRS.
datos=$t/datos
mkdir -p "$datos/quarvel/autostart"
printf '[Desktop Entry]\nName=xdg\n' >"$datos/quarvel/autostart/io.github.quarvel.Quarvel430.desktop"
en XDG_CONFIG_HOME="$t/cfg5" XDG_DATA_DIRS="$t/vacia:$datos" /bin/sh "$solo" --autostart on >/dev/null
comprobar "autostart desde XDG_DATA_DIRS" \
    cmp -s "$t/cfg5/autostart/io.github.quarvel.Quarvel430.desktop" \
    "$datos/quarvel/autostart/io.github.quarvel.Quarvel430.desktop"
en XDG_CONFIG_HOME="$t/cfg6" XDG_DATA_DIRS="$t/vacia" /bin/sh "$solo" --autostart on >/dev/null 2>&1
comprobar "autostart sin entrada instalada falla" test $? -ne 0 -a ! -e "$t/cfg6/autostart"

# Plain POSIX sh: dash must parse it (also checked by running it above).
if command -v dash >/dev/null; then
    comprobar "dash -n" dash -n "$lanzador"
fi

resumen
