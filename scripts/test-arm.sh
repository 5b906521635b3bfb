#!/usr/bin/env bash
# Cross-builds the library and its Linux test suite for 64-bit ARM (build-arm64/) and 32-bit
# ARM (build-armhf/) and runs each suite under qemu-user: the real capture through the private
# PulseAudio daemon and the uploads to the test TLS servers, as on x86_64. Left out: the service
# (its recogniser and model are not installed for ARM), the tool (whose tests need the service)
# and the install test (it builds consumers with the host's compiler). -D options go to both.
# Each run ends with ctest's summary; the script fails when a test of either fails.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh --arm
jobs=${QUOREL_BUILD_JOBS:-$(nproc)}
failed=0
for target in arm64:aarch64-linux-gnu armhf:arm-linux-gnueabihf; do
  architecture=${target%%:*}
  triplet=${target#*:}
  started=$SECONDS
  cmake -S . -B "build-$architecture" -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/toolchain-$triplet.cmake" \
    -DQUOREL_BUILD_TESTS=ON -DQUOREL_BUILD_SERVICE=OFF -DQUOREL_BUILD_TOOL=OFF \
    -DQUOREL_WARNINGS_AS_ERRORS=ON "$@" >/dev/null
  cmake --build "build-$architecture" -j"$jobs"
  echo "$architecture: built in $((SECONDS - started)) s; its tests under qemu-user:"
  ctest --test-dir "build-$architecture" --output-on-failure -j"$jobs" || failed=1
done
exit "$failed"
