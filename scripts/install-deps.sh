#!/usr/bin/env bash
# Installs every Debian 12 package the project builds, tests and demonstrates with.
#   scripts/install-deps.sh             the Linux library
#   scripts/install-deps.sh --windows   also the Windows cross-build and Wine (about 1 GB)
set -euo pipefail

packages=(
  build-essential cmake pkg-config googletest libgtest-dev clang-format
  libasound2-dev alsa-utils pulseaudio pulseaudio-utils libasound2-plugins
  libcurl4-openssl-dev libssl-dev openssl curl
  libboost1.74-dev libpocketsphinx-dev pocketsphinx-en-us nlohmann-json3-dev espeak-ng sox
  clang libclang-rt-14-dev
)

# The Windows DLL: mingw-w64 (its default win32 thread model), widl, and Wine to test it.
windows_packages=(g++-mingw-w64-x86-64 g++-mingw-w64-i686 mingw-w64-tools wine wine64)
if [ "${1:-}" = "--windows" ]; then
  packages+=("${windows_packages[@]}")
fi

missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" ||
    missing+=("$package")
done
if ((${#missing[@]})); then
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
