#!/usr/bin/env bash
# `make windows`: both programs and their tests built for Windows with
# MinGW-w64 against Qt for Windows (cross-built once into the cache by
# scripts/windows/qt.sh), laid out with the DLLs they load, packed in an NSIS
# installer, and tested under Wine:
#   BUILD_WIN/Quarvel/                    the programs, ready to run
#   BUILD_WIN/quarvel-VERSION-setup.exe   the installer
# QUARVEL_CACHE (default ~/.cache/quarvel) holds Qt, googletest and Wine's
# prefix. --estado only says, in one line, what make test leaves to this.
set -euo pipefail
raiz=$(cd "$(dirname "$0")/.." && pwd)
cd "$raiz"
BUILD_WIN=${BUILD_WIN:-build-windows}
cache=${QUARVEL_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/quarvel}
export QUARVEL_CACHE=$cache
cadena=$raiz/scripts/windows/toolchain-mingw64.cmake
version=$(sed -n 's/^project(Quarvel VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)

# What make test says of the Windows tests, in one line: they are not part
# of it (Qt for Windows takes an hour to build, and the tests minutes).
if [ "${1:-}" = --estado ]; then
    if [ -f "$cache/qt-6.4.2-mingw/.receta" ]; then
        echo "Windows: no se prueba aquí; make windows lo construye y lo prueba bajo Wine (Qt para Windows ya está en $cache)"
    else
        echo "Windows: no se prueba aquí; make windows construye Qt para Windows (cerca de una hora, una vez) y lo prueba bajo Wine"
    fi
    exit 0
fi

paquetes=(g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix wine wine64 nsis ninja-build
          imagemagick xvfb xauth dpkg-dev libgtest-dev qt6-translations-l10n)
faltan=()
for p in "${paquetes[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || faltan+=("$p")
done
if [ ${#faltan[@]} -gt 0 ]; then
    sudo=""
    [ "$(id -u)" -eq 0 ] || sudo=sudo
    echo "Instalando: ${faltan[*]}"
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${faltan[@]}" >/dev/null
fi

t0=$SECONDS
qt=$(bash scripts/windows/qt.sh)
echo "Qt para Windows: $qt ($((SECONDS - t0)) s)"

# googletest for Windows, from Debian's own sources of it.
gtest=$cache/gtest-mingw
if [ ! -f "$gtest/lib/cmake/GTest/GTestConfig.cmake" ]; then
    cmake -G Ninja -S /usr/src/googletest -B "$cache/gtest-trabajo" "-DCMAKE_TOOLCHAIN_FILE=$cadena" \
        -DCMAKE_BUILD_TYPE=Release "-DCMAKE_INSTALL_PREFIX=$gtest" -DBUILD_GMOCK=OFF >/dev/null
    cmake --build "$cache/gtest-trabajo" -j "${JOBS:-2}" >/dev/null
    cmake --install "$cache/gtest-trabajo" >/dev/null
fi

# Not a unity build: MinGW's GCC 12 warns falsely (maybe-uninitialized) on
# the merged sources.
t=$SECONDS
"$qt/bin/qt-cmake" -G Ninja -S . -B "$BUILD_WIN" -DQT_HOST_PATH=/usr \
    -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake "-DGTest_DIR=$gtest/lib/cmake/GTest" \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-O2 -g1 -DNDEBUG" >/dev/null
cmake --build "$BUILD_WIN" -j "${JOBS:-2}" | grep -E "warning|error" || true
echo "compilado en $((SECONDS - t)) s"

# The programs' folder: what Windows needs beside them to start.
dist=$BUILD_WIN/Quarvel
gcc=/usr/lib/gcc/x86_64-w64-mingw32/12-posix
rm -rf "$dist"
mkdir -p "$dist/platforms" "$dist/styles" "$dist/translations"
cp "$BUILD_WIN/sender/Quarvel38.exe" "$BUILD_WIN/checker/Quarvel430.exe" "$dist/"
for m in Core Gui Widgets Network SerialPort Charts OpenGL OpenGLWidgets; do
    cp "$qt/bin/Qt6$m.dll" "$dist/"
done
cp "$gcc/libstdc++-6.dll" "$gcc/libgcc_s_seh-1.dll" "$gcc/libssp-0.dll" \
    /usr/x86_64-w64-mingw32/lib/libwinpthread-1.dll "$dist/"
cp "$qt/plugins/platforms/qwindows.dll" "$qt/plugins/platforms/qoffscreen.dll" "$dist/platforms/"
cp "$qt/plugins/styles/qwindowsvistastyle.dll" "$dist/styles/"
cp /usr/share/qt6/translations/qtbase_es.qm "$dist/translations/"
# Qt looks for its plugins and translations beside the programs.
printf '[Paths]\r\nPrefix = .\r\nPlugins = .\r\nTranslations = translations\r\n' >"$dist/qt.conf"
convert share/iconos/quarvel-16.png share/iconos/quarvel-32.png share/iconos/quarvel-128.png \
    share/iconos/quarvel-256.png "$dist/quarvel.ico"
# Without their debug sections (libstdc++ alone carries 22 MB of them): the
# installed folder goes from 67 MB to 30 MB.
x86_64-w64-mingw32-strip --strip-unneeded "$dist"/*.exe "$dist"/*.dll "$dist"/*/*.dll
{
    sed -e "s/@VERSION@/$version/" -e "s/@COMMIT@/$(git rev-parse --short HEAD 2>/dev/null || echo -)/" \
        packaging/windows/LICENCIAS.txt.in
    printf '\n\n==== MIT (Quarvel) ====\n\n'
    cat LICENSE
    printf '\n\n==== GPL-3.0 ====\n\n'
    cat /usr/share/common-licenses/GPL-3
    printf '\n\n==== LGPL-3.0 ====\n\n'
    cat /usr/share/common-licenses/LGPL-3
    printf '\n\n==== GCC Runtime Library Exception, MinGW-w64 ====\n\n'
    cat /usr/share/doc/gcc-mingw-w64-base/copyright 2>/dev/null || true
    cat /usr/share/doc/mingw-w64-common/copyright 2>/dev/null || true
} | sed 's/$/\r/' >"$dist/LICENCIAS.txt"

# The installer, with the exact list of what it installs, checks is free
# and removes.
listas=$BUILD_WIN/nsis
mkdir -p "$listas"
: >"$listas/instalar.nsh"
: >"$listas/archivos.nsh"
(cd "$dist" && find . -type d | sort) | while read -r d; do
    w=${d#.}
    w=${w//\//\\}
    printf 'SetOutPath "$INSTDIR%s"\n' "$w" >>"$listas/instalar.nsh"
    (cd "$dist/$d" && find . -maxdepth 1 -type f | sort) | while read -r f; do
        f=${f#./}
        printf 'File "%s"\n' "$(realpath "$dist/$d/$f")" >>"$listas/instalar.nsh"
        printf '!insertmacro ${CADA} "%s%s"\n' "${w#\\}${w:+\\}" "$f" >>"$listas/archivos.nsh"
    done
done
(cd "$dist" && find . -mindepth 1 -type d | sort -r) | while read -r d; do
    w=${d#.}
    printf 'RMDir "$INSTDIR%s"\n' "${w//\//\\}"
done >"$listas/carpetas.nsh"
instalador=$BUILD_WIN/quarvel-$version-setup.exe
makensis -V2 "-DVERSION=$version" "-DORIGEN=$(realpath "$dist")" "-DLISTAS=$(realpath "$listas")" \
    "-DSALIDA=$(realpath -m "$instalador")" packaging/windows/quarvel.nsi
echo "instalador: $instalador ($(du -h "$instalador" | cut -f1)); en $((SECONDS - t0)) s"

bash tests/windows/probar-windows.sh "$BUILD_WIN"
