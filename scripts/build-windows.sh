#!/usr/bin/env bash
# Cross-builds VantrelQuorelSpeech.dll for 64-bit (x86_64) and 32-bit (i686) Windows with
# mingw-w64, linked statically so that it needs no runtime DLLs.
#
#   scripts/build-windows.sh [--with-tests] [-DOPTION=VALUE ...]
#
# The DLLs land in $QUOREL_WINDOWS_BUILD_DIR/{x86_64,i686}/src/module/ (default build-windows).
# --with-tests also builds the Wine test programs of each; -D options go to both builds.
set -euo pipefail
cd "$(dirname "$0")/.."

root=${QUOREL_WINDOWS_BUILD_DIR:-build-windows}
jobs=${QUOREL_BUILD_JOBS:-$(nproc)}
tests=OFF
if [ "${1:-}" = "--with-tests" ]; then
  tests=ON
  shift
fi

for arch in x86_64 i686; do
  cmake -S . -B "$root/$arch" -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/toolchain-mingw-$arch.cmake" \
    -DCMAKE_BUILD_TYPE=Release -DQUOREL_BUILD_TESTS=OFF -DQUOREL_BUILD_WINDOWS_TESTS="$tests" \
    -DQUOREL_WARNINGS_AS_ERRORS=ON "$@" >/dev/null
  cmake --build "$root/$arch" -j"$jobs"
done
