#!/usr/bin/env bash
# Installs every Debian 12 package the project builds, tests and demonstrates with.
#   scripts/install-deps.sh [OPTION ...]
# With no option, the Linux library; each option adds its packages, in any number and order:
#   --windows   the Windows cross-build and Wine, 64-bit and 32-bit (the i386 architecture)
#   --arm       the arm64 and armhf cross-builds and qemu-user
#   --bench     nginx, the peer of bench/service-under-load.sh
set -euo pipefail

usage() {
  sed -n '3,7s/^# \{0,1\}//p' "$0" >&2
  exit 2
}

packages=(
  build-essential cmake pkg-config googletest libgtest-dev clang-format
  libasound2-dev alsa-utils pulseaudio pulseaudio-utils libasound2-plugins
  libcurl4-openssl-dev libssl-dev openssl curl
  libboost1.74-dev libpocketsphinx-dev pocketsphinx-en-us nlohmann-json3-dev espeak-ng sox
  clang libclang-rt-14-dev
)

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"

# Adds a foreign architecture to dpkg once, for the multiarch packages named name:architecture.
add_architecture() {
  dpkg --print-foreign-architectures | grep -qx "$1" || $sudo dpkg --add-architecture "$1"
}

# The Windows DLLs: mingw-w64 (its default win32 thread model), widl, and Wine to test them:
# wine64 runs the x86_64 DLL's programs, wine32 (an i386 package) the i686 DLL's. Each Wine's
# TLS (WinINet's) loads GnuTLS of its own architecture, which Wine only recommends.
windows_packages=(
  g++-mingw-w64-x86-64 g++-mingw-w64-i686 mingw-w64-tools
  wine wine64 libgnutls30 wine32:i386 libgnutls30:i386
)
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

# Every option is known before anything changes.
options=()
for option in "$@"; do
  case "$option" in
  --windows | --arm | --bench) options+=("$option") ;;
  -h | --help) usage ;;
  *)
    echo "install-deps.sh: unknown option '$option'" >&2
    usage
    ;;
  esac
done
for option in "${options[@]}"; do
  case "$option" in
  --windows)
    add_architecture i386
    packages+=("${windows_packages[@]}")
    ;;
  --arm)
    packages+=("${arm_packages[@]}")
    for architecture in "${arm_architectures[@]}"; do
      add_architecture "$architecture"
      packages+=("${arm_target_packages[@]/%/:$architecture}")
    done
    ;;
  --bench) packages+=("${bench_packages[@]}") ;;
  esac
done

missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" ||
    missing+=("$package")
done
((${#missing[@]})) || exit 0

# Another apt or dpkg run may hold the lock for a while: wait for it rather than fail.
apt_options=(-o DPkg::Lock::Timeout=600)
# A mirror caught mid-sync serves an index of an unexpected size and apt-get update fails
# ("Mirror sync in progress?"); a later try usually finds it whole. After the last try the
# install goes on with the indexes apt has, and fails on its own if it needs a missing one.
attempts=4
for attempt in $(seq "$attempts"); do
  $sudo apt-get "${apt_options[@]}" update -qq && break
  if [ "$attempt" -eq "$attempts" ]; then
    echo "install-deps.sh: apt-get update failed $attempts times; installing from the indexes" \
      "it has" >&2
  else
    echo "install-deps.sh: apt-get update failed; trying again in $((attempt * 15)) s" >&2
    sleep $((attempt * 15))
  fi
done
# A multiarch library must have the same version for every architecture, so installing an
# :arm64, :armhf or :i386 one may upgrade its amd64 copy (and what depends on it) to the archive's.
DEBIAN_FRONTEND=noninteractive $sudo apt-get "${apt_options[@]}" install -y -qq \
  --no-install-recommends "${missing[@]}"
