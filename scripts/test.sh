#!/usr/bin/env bash
# Builds the library and its tests in build/ and runs the whole suite.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh
cmake -S . -B build -DQUOREL_BUILD_TESTS=ON -DQUOREL_WARNINGS_AS_ERRORS=ON
cmake --build build -j"$(nproc)"
ctest --test-dir build --output-on-failure -j"$(nproc)"
