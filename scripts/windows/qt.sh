#!/usr/bin/env bash
# Qt 6.4.2 for Windows (qtbase, Serial Port, Charts), cross-built once with
# MinGW-w64 into the cache and reused while its recipe matches:
#   qt.sh            builds what is missing, prints the prefix
# qtbase comes from Debian's source package (a deb-src line for the mirror
# already configured is added when there is none); Serial Port and Charts
# from Qt's own release sources, checked against SHA256SUMS, in
# QUARVEL_FUENTES_QT (by default ../shared/fuentes beside the project).
# Debian's own Qt 6.4.2 tools serve as the host tools. About an hour on two
# cores the first time.
set -euo pipefail
raiz=$(cd "$(dirname "$0")/../.." && pwd)
cache=${QUARVEL_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/quarvel}
fuentes=${QUARVEL_FUENTES_QT:-$raiz/../shared/fuentes}
receta="qt-6.4.2-mingw-posix-1"
prefijo=$cache/qt-6.4.2-mingw
trabajo=$cache/qt-trabajo
cadena=$raiz/scripts/windows/toolchain-mingw64.cmake
poco="nice -n 10"

if [ "$(cat "$prefijo/.receta" 2>/dev/null)" = "$receta" ]; then
    echo "$prefijo"
    exit 0
fi
echo "Qt para Windows: no está en $prefijo; se construye (cerca de una hora la primera vez)" >&2
rm -rf "$prefijo"
mkdir -p "$trabajo/src"

sudo=""
[ "$(id -u)" -eq 0 ] || sudo=sudo
# Debian's qtbase sources: a deb-src line for each deb line there is.
cd "$trabajo/src"
if [ ! -d qt6-base-6.4.2+dfsg ]; then
    if ! apt-get source --download-only qt6-base >/dev/null 2>&1; then
        for f in /etc/apt/sources.list.d/*.sources; do
            [ -e "$f" ] && grep -q '^Types: deb$' "$f" || continue
            sed 's/^Types: deb$/Types: deb-src/' "$f" |
                $sudo tee "/etc/apt/sources.list.d/quarvel-src-$(basename "$f")" >/dev/null
        done
        if [ -f /etc/apt/sources.list ]; then
            sed -n 's/^deb /deb-src /p' /etc/apt/sources.list |
                $sudo tee /etc/apt/sources.list.d/quarvel-src.list >/dev/null
        fi
        $sudo apt-get update -qq
    fi
    $poco apt-get source qt6-base=6.4.2+dfsg-10 >"$trabajo/apt-source.log" 2>&1 ||
        $poco apt-get source qt6-base >>"$trabajo/apt-source.log" 2>&1
fi
base=$(ls -d qt6-base-6.4.2* | head -n 1)
(cd "$fuentes" && sha256sum --quiet -c SHA256SUMS) || {
    echo "las fuentes de Qt en $fuentes no coinciden con SHA256SUMS" >&2
    exit 1
}
for m in qtserialport qtcharts; do
    [ -d "$m-everywhere-src-6.4.2" ] || tar xf "$fuentes/$m-everywhere-src-6.4.2.tar.xz"
done

comun=(-G Ninja -DCMAKE_BUILD_TYPE=Release "-DCMAKE_INSTALL_PREFIX=$prefijo"
       -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake
       -DQT_BUILD_TESTS=OFF -DQT_BUILD_EXAMPLES=OFF)
# Only what the programs use. Direct2D stays: without it the Windows
# platform plugin does not link in 6.4.2. Debian's source lacks wintab.h,
# hence no tablet events.
$poco cmake "${comun[@]}" -S "$base" -B "$trabajo/qtbase" \
    "-DCMAKE_TOOLCHAIN_FILE=$cadena" -DQT_QMAKE_TARGET_MKSPEC=win32-g++ -DBUILD_SHARED_LIBS=ON \
    -DQT_BUILD_BENCHMARKS=OFF -DFEATURE_dbus=OFF -DFEATURE_tabletevent=OFF \
    -DFEATURE_system_zlib=OFF -DFEATURE_system_pcre2=OFF -DFEATURE_system_freetype=OFF \
    -DFEATURE_system_harfbuzz=OFF -DFEATURE_system_png=OFF -DFEATURE_system_jpeg=OFF \
    -DFEATURE_system_doubleconversion=OFF -DFEATURE_sql=OFF -DFEATURE_testlib=OFF \
    -DFEATURE_printsupport=OFF -DFEATURE_concurrent=OFF -DFEATURE_xml=OFF \
    -DFEATURE_openssl=OFF -DFEATURE_zstd=OFF -DFEATURE_icu=OFF -DFEATURE_androiddeployqt=OFF \
    >"$trabajo/qtbase.log"
$poco cmake --build "$trabajo/qtbase" --parallel "${JOBS:-2}" >>"$trabajo/qtbase.log"
cmake --install "$trabajo/qtbase" >>"$trabajo/qtbase.log"
for m in qtserialport qtcharts; do
    $poco "$prefijo/bin/qt-cmake" "${comun[@]}" -S "$m-everywhere-src-6.4.2" -B "$trabajo/$m" \
        >"$trabajo/$m.log"
    $poco cmake --build "$trabajo/$m" --parallel "${JOBS:-2}" >>"$trabajo/$m.log"
    cmake --install "$trabajo/$m" >>"$trabajo/$m.log"
done
echo "$receta" >"$prefijo/.receta"
echo "$prefijo"
