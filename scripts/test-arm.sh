#!/usr/bin/env bash
# Cross-builds the library and its Linux test suite for 64-bit ARM (build-arm64/) and 32-bit
# ARM (build-armhf/) and runs each suite under qemu-user: the real capture through the private
# PulseAudio daemon and the uploads to the test TLS servers, as on x86_64. Each build compiles
# against, and its programs run with, a root of the target's libraries in its build folder
# (build-arm64/sysroot/, made by scripts/arm-sysroot.sh the first time). Left out: the service
# (its recogniser and model are not in that root), the tool (whose tests need the service) and
# the install test (it builds consumers with the host's compiler).
#   scripts/test-arm.sh [--build-only] [-DOPTION=VALUE ...]
# -D options go to both builds; --build-only builds them without running the suites. Each run
# ends with ctest's summary; the script fails when a test of either fails.
set -euo pipefail
cd "$(dirname "$0")/.."

build_only=0
if [ "${1:-}" = --build-only ]; then
  build_only=1
  shift
fi
bash scripts/install-deps.sh --arm
jobs=${QUOREL_BUILD_JOBS:-$(nproc)}
failed=0
for target in arm64:aarch64-linux-gnu armhf:arm-linux-gnueabihf; do
  architecture=${target%%:*}
  triplet=${target#*:}
  build=build-$architecture
  started=$SECONDS
  bash scripts/arm-sysroot.sh "$architecture" "$build/sysroot"
  cmake -S . -B "$build" -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/toolchain-$triplet.cmake" \
    -DQUOREL_SYSROOT="$PWD/$build/sysroot" -DQUOREL_BUILD_TESTS=ON -DQUOREL_BUILD_SERVICE=OFF \
    -DQUOREL_BUILD_TOOL=OFF -DQUOREL_WARNINGS_AS_ERRORS=ON "$@" >/dev/null
  cmake --build "$build" -j"$jobs"
  echo "$architecture: built in $((SECONDS - started)) s"
  [ "$build_only" -eq 1 ] && continue
  echo "$architecture: its tests under qemu-user:"
  ctest --test-dir "$build" --output-on-failure -j"$jobs" || failed=1
done
exit "$failed"
