#!/usr/bin/env bash
# Installs the build into a fresh prefix, checks that its binaries are stripped, then builds the
# C consumer against the installed copy once through its CMake package and once through
# pkg-config, and runs both; then runs the README's Python example against it.
# Usage: installed_consumers.sh BUILD_FOLDER
set -euo pipefail
build=$1
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix

cmake --install "$build" --prefix "$prefix" >/dev/null
test -f "$prefix/include/VantrelQuorelSpeech.h"
"$prefix/bin/quorel" --version
if grep -q '^QUOREL_BUILD_SERVICE:BOOL=ON' "$build/CMakeCache.txt"; then
  "$prefix/bin/quorel-service" --version
fi
# Stripped unless the build says otherwise: no symbol table and no debug information.
if ! grep -q '^QUOREL_INSTALL_STRIPPED:BOOL=OFF' "$build/CMakeCache.txt"; then
  while IFS= read -r binary; do
    if readelf -S "$binary" | grep -E '\.symtab|\.debug_'; then
      echo "installed unstripped: $binary" >&2
      exit 1
    fi
  done < <(find "$prefix" -type f \( -path "$prefix/bin/*" -o -name 'libVantrelQuorelSpeech.so.*' \))
fi

cmake -S "$here/consumer" -B "$work/with-cmake" -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
cmake --build "$work/with-cmake" >/dev/null
"$work/with-cmake/consumer"

pc=$(find "$prefix" -name VantrelQuorelSpeech.pc)
libdir=$(PKG_CONFIG_PATH=$(dirname "$pc") pkg-config --variable=libdir VantrelQuorelSpeech)
# shellcheck disable=SC2046
cc -std=c11 -Wall -Wextra -o "$work/with-pkg-config" "$here/consumer/consumer.c" \
  $(PKG_CONFIG_PATH=$(dirname "$pc") pkg-config --cflags --libs VantrelQuorelSpeech) \
  -Wl,-rpath,"$libdir"
"$work/with-pkg-config"

# The README's Python example, given the installed library's full path, loads it and runs to its
# end (without a capture device or a service, with failure codes).
if command -v python3 >/dev/null; then
  sed -n '/^```python$/,/^```$/p' "$here/../../README.md" | sed '1d;$d' >"$work/example.py"
  python3 "$work/example.py" "$libdir/libVantrelQuorelSpeech.so.1" | grep '^started '
fi
