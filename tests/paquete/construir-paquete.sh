#!/usr/bin/env bash
# Builds the .deb with CPack into its own folder, so the tests neither race
# with nor overwrite a `cpack` run by hand in the build folder.
#   construir-paquete.sh CPACK BUILD_DIR OUT_DIR
set -euo pipefail
cpack=$1 build=$2 salida=$3

if ! command -v dpkg-deb >/dev/null; then
    echo "SKIPPED: dpkg-deb not found; the Debian package can only be checked on Debian"
    exit 77
fi
rm -rf "$salida"
mkdir -p "$salida"
"$cpack" -G DEB --config "$build/CPackConfig.cmake" -B "$salida"
ls "$salida"/quarvel_*.deb
