#!/usr/bin/env bash
# Installs every Debian 12 package the project builds, tests and demonstrates with.
#   scripts/install-deps.sh             the Linux library
#   scripts/install-deps.sh --windows   also the Windows cross-build and Wine (about 1 GB)
#   scripts/install-deps.sh --arm       also the arm64 and armhf cross-builds and qemu-user
#   scripts/install-deps.sh --bench     also nginx, the peer of bench/service-under-load.sh
set -euo pipefail

packages=(
  build-essential cmake pkg-config googletest libgtest-dev clang-format
  libasound2-dev alsa-utils pulseaudio pulseaudio-utils libasound2-plugins
  libcurl4-openssl-dev libssl-dev openssl curl
  libboost1.74-dev libpocketsphinx-dev pocketsphinx-en-us nlohmann-json3-dev espeak-ng sox
  clang libclang-rt-14-dev
)

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"

# The Windows DLL: mingw-w64 (its default win32 thread model), widl, and Wine to test it.
windows_packages=(g++-mingw-w64-x86-64 g++-mingw-w64-i686 mingw-w64-tools wine wine64)
# ARM Linux: the cross compilers, the user-mode emulator that runs the tests, and for each
# target architecture (multiarch) the libraries the library and its tests link, the C++ runtime
# the emulated programs load, and ALSA's PulseAudio plugin that their capture goes through.
arm_architectures=(arm64 armhf)
arm_packages=(crossbuild-essential-arm64 crossbuild-essential-armhf qemu-user)
arm_target_packages=(
  libcurl4-openssl-dev libssl-dev libasound2-dev libasound2-plugins libgtest-dev libstdc++6
)
# The benches' peers that the tests do not need: nginx, started by the service bench alone.
bench_packages=(nginx-light)
case "${1:-}" in
--windows) packages+=("${windows_packages[@]}") ;;
--bench) packages+=("${bench_packages[@]}") ;;
--arm)
  packages+=("${arm_packages[@]}")
  for architecture in "${arm_architectures[@]}"; do
    dpkg --print-foreign-architectures | grep -qx "$architecture" ||
      $sudo dpkg --add-architecture "$architecture"
    packages+=("${arm_target_packages[@]/%/:$architecture}")
  done
  ;;
esac

missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" ||
    missing+=("$package")
done
if ((${#missing[@]})); then
  $sudo apt-get update -qq
  # A multiarch library must have the same version for every architecture, so installing an
  # :arm64 or :armhf one may upgrade its amd64 copy (and what depends on it) to the archive's.
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
