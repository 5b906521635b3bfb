#!/usr/bin/env bash
# Installs every Debian 12 package the project builds, tests and demonstrates with.
#   scripts/install-deps.sh [OPTION ...]
# With no option, the Linux library; each option adds its set, in any number and order:
#   --windows   the Windows cross-build and 64-bit Wine; 32-bit Wine (the i386 architecture)
#               only on a kernel that runs 32-bit x86 programs
#   --arm       the arm64 and armhf cross compilers, qemu-user and mmdebstrap (no foreign
#               architecture: the target libraries go into a root under the build folder)
#   --bench     nginx, the peer of the service bench and the deployment check, and systemd's
#               systemd-analyze, with which the check verifies the service's unit
# Each set is installed on its own: one that cannot be installed is reported with apt's reason
# and makes the script fail, after the others have been installed.
set -euo pipefail
cd "$(dirname "$0")/.."

usage() {
  sed -n '3,12s/^# \{0,1\}//p' "$0" >&2
  exit 2
}

linux_packages=(
  build-essential cmake pkg-config googletest libgtest-dev clang-format
  libasound2-dev alsa-utils pulseaudio pulseaudio-utils libasound2-plugins
  libcurl4-openssl-dev libssl-dev openssl curl
  libboost1.74-dev libpocketsphinx-dev pocketsphinx-en-us nlohmann-json3-dev espeak-ng sox
  clang libclang-rt-14-dev
)
# The Windows DLLs: mingw-w64 (its default win32 thread model), widl, and Wine to test them:
# wine64 runs the x86_64 DLL's programs. Wine's TLS (WinINet's) loads GnuTLS, which Wine only
# recommends.
windows_packages=(g++-mingw-w64-x86-64 g++-mingw-w64-i686 mingw-w64-tools wine wine64 libgnutls30)
# wine32 runs the i686 DLL's programs, with GnuTLS of its own architecture.
windows_i386_packages=(wine32:i386 libgnutls30:i386)
# ARM Linux: the cross compilers, the user-mode emulator that runs the tests, and what makes the
# root of the target's libraries (scripts/arm-sysroot.sh).
arm_packages=(crossbuild-essential-arm64 crossbuild-essential-armhf qemu-user mmdebstrap)
bench_packages=(nginx-light systemd)

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
# Another apt or dpkg run may hold the lock for a while: wait for it rather than fail.
apt_options=(-o DPkg::Lock::Timeout=600)

# Every option is known before anything changes.
sets=(linux)
for option in "$@"; do
  case "$option" in
  --windows) sets+=(windows) ;;
  --arm) sets+=(arm) ;;
  --bench) sets+=(bench) ;;
  -h | --help) usage ;;
  *)
    echo "install-deps.sh: unknown option '$option'" >&2
    usage
    ;;
  esac
done
if [[ " ${sets[*]} " == *" windows "* ]] && bash scripts/runs-32bit-x86.sh; then
  sets+=(windows_i386)
fi

# Prints the packages of the named set that are not installed yet.
missing_of() {
  local -n set_packages=$1_packages
  local package
  for package in "${set_packages[@]}"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" ||
      echo "$package"
  done
}

# A mirror caught mid-sync serves an index of an unexpected size and apt-get update fails
# ("Mirror sync in progress?"); a later try usually finds it whole. After the last try the
# install goes on with the indexes apt has, and a set that needs a missing one fails on its own.
update_indexes() {
  local attempt attempts=4
  for attempt in $(seq "$attempts"); do
    $sudo apt-get "${apt_options[@]}" update -qq && return 0
    if [ "$attempt" -lt "$attempts" ]; then
      echo "install-deps.sh: apt-get update failed; trying again in $((attempt * 15)) s" >&2
      sleep $((attempt * 15))
    fi
  done
  echo "install-deps.sh: apt-get update failed $attempts times; installing from the indexes" \
    "it has" >&2
}

install() {
  DEBIAN_FRONTEND=noninteractive $sudo apt-get "${apt_options[@]}" install -y -qq \
    --no-install-recommends "$@"
}

# A multiarch library (Multi-Arch: same) must have the same version on every architecture. The
# host's amd64 copies often come from the security suite, whose i386 index a mirror in mid-sync
# may not serve, and then no matching i386 version can be found. One more try prefers the point
# release for this one command (a preferences file of its own, nothing left in /etc), which may
# move amd64 packages to the point release's versions: those changes are printed.
install_i386_preferring_point_release() {
  local preferences before
  preferences=$(mktemp -d)
  printf 'Package: *\nPin: release n=bookworm\nPin-Priority: 1001\n' >"$preferences/point-release"
  before=$(dpkg-query -W -f='${Package}:${Architecture} ${Version}\n' | sort)
  echo "install-deps.sh: trying again with the point release preferred" >&2
  local status=0
  install --allow-downgrades -o Dir::Etc::PreferencesParts="$preferences" "$@" || status=$?
  rm -rf "$preferences"
  echo "install-deps.sh: packages this changed (- before, + after):"
  diff <(echo "$before") <(dpkg-query -W -f='${Package}:${Architecture} ${Version}\n' | sort) |
    sed -n 's/^< /- /p;s/^> /+ /p' || true
  return "$status"
}

failed=()
updated=0
for set in "${sets[@]}"; do
  mapfile -t missing < <(missing_of "$set")
  ((${#missing[@]})) || continue
  if [ "$set" = windows_i386 ]; then
    dpkg --print-foreign-architectures | grep -qx i386 || {
      $sudo dpkg --add-architecture i386
      updated=0
    }
  fi
  if [ "$updated" -eq 0 ]; then
    update_indexes
    updated=1
  fi
  echo "install-deps.sh: installing the $set set: ${missing[*]}"
  install "${missing[@]}" && continue
  if [ "$set" = windows_i386 ] && install_i386_preferring_point_release "${missing[@]}"; then
    continue
  fi
  echo "install-deps.sh: the $set set could not be installed; apt's reason is above" >&2
  failed+=("$set")
done
if ((${#failed[@]})); then
  echo "install-deps.sh: not installed: ${failed[*]}" >&2
  exit 1
fi
