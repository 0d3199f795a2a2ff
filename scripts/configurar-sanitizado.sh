#!/usr/bin/env bash
# Configures the sanitized build: everything with clang under
# AddressSanitizer, LeakSanitizer and UndefinedBehaviorSanitizer, the
# libraries also instrumented for libFuzzer, so that the fuzz targets
# (scripts/fuzz-smoke.sh) and the sanitized run of the suite
# (scripts/sanitizers.sh) share one build.
#   scripts/configurar-sanitizado.sh BUILD-DIR
set -euo pipefail

raiz=$(cd "$(dirname "$0")/.." && pwd)
build=$1

# Debug keeps Qt's and the project's assertions on; -O1 keeps the GUI tests'
# timing close to a normal build; line tables are all a report needs.
# Hardening off: _FORTIFY_SOURCE only adds noise under ASan. A unity build
# (the libraries and programs as a few large files; the tests file by file)
# builds in half the time.
flags="-O1 -gline-tables-only -fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=all"
flags+=" -fno-omit-frame-pointer"
# ccache when installed, so a second run rebuilds little.
CC=clang CXX=clang++ cmake -S "$raiz" -B "$build" -DQUARVEL_FUZZ=ON -DQUARVEL_HARDENING=OFF -DQUARVEL_BENCH=OFF \
  -DCMAKE_UNITY_BUILD=ON -DCMAKE_BUILD_TYPE=Debug "-DCMAKE_CXX_FLAGS=$flags" -DCMAKE_CXX_FLAGS_DEBUG= \
  "-DCMAKE_EXE_LINKER_FLAGS=-fsanitize=address,undefined" \
  "-DCMAKE_CXX_COMPILER_LAUNCHER=$(command -v ccache || true)" >/dev/null
