#!/usr/bin/env bash
# Makes the root of an ARM target's libraries that the cross-builds compile against and qemu-user
# runs the tests with: the packages below and what they depend on, unpacked (not installed) from
# Debian 12's main archive into DIR by mmdebstrap. The host's dpkg is not involved: no foreign
# architecture, no multiarch package, so the host's own package versions never have to match.
# A DIR made for the same package list is kept as it is.
#   scripts/arm-sysroot.sh arm64|armhf DIR
# QUOREL_DEBIAN_MIRROR names another mirror (default http://deb.debian.org/debian).
set -euo pipefail

[ $# -eq 2 ] || {
  sed -n '7s/^# \{0,1\}//p' "$0" >&2
  exit 2
}
architecture=$1
dir=$2
mirror=${QUOREL_DEBIAN_MIRROR:-http://deb.debian.org/debian}
# What the library and its tests link, the C++ runtime the emulated programs load, and ALSA's
# PulseAudio plugin that their capture goes through.
packages=(libc6-dev libstdc++-12-dev libcurl4-openssl-dev libssl-dev libasound2-dev
  libasound2-plugins libgtest-dev)
stamp="$architecture ${packages[*]}"

if [ "$(cat "$dir/.quorel-sysroot" 2>/dev/null)" = "$stamp" ]; then
  exit 0
fi
rm -rf "$dir" "$dir.partial"
mkdir -p "$(dirname "$dir")"
started=$SECONDS
# A mirror caught mid-sync fails a download now and then; a later try usually goes through.
for attempt in 1 2 3; do
  mmdebstrap --quiet --variant=extract --architectures="$architecture" \
    --include="$(
      IFS=,
      echo "${packages[*]}"
    )" --skip=output/dev,check/empty bookworm "$dir.partial" "deb $mirror bookworm main" && break
  rm -rf "$dir.partial"
  [ "$attempt" -lt 3 ] || {
    echo "arm-sysroot.sh: mmdebstrap failed 3 times for $architecture" >&2
    exit 1
  }
  sleep $((attempt * 15))
done
# qemu-user opens a path in the root wherever the root has it: the device nodes, the plain /dev/shm
# folder (PulseAudio's shared memory with the host's daemon), /tmp and the host's name files that
# mmdebstrap leaves there would hide the host's own.
rm -rf "$dir.partial"/{dev,tmp,run,proc,sys} "$dir.partial"/etc/{resolv.conf,hostname}
# Links to absolute paths (configuration files, some .so links) would lead out of the root into
# the host's files: made relative, they stay inside it wherever it lies.
find "$dir.partial" -type l -lname '/*' -print0 | while IFS= read -r -d '' link; do
  ln -sfn "$(realpath -m --relative-to="$(dirname "$link")" "$dir.partial$(readlink "$link")")" "$link"
done
echo "$stamp" >"$dir.partial/.quorel-sysroot"
mv "$dir.partial" "$dir"
echo "arm-sysroot.sh: $architecture root in $dir: $(du -sh "$dir" | cut -f1), $((SECONDS - started)) s"
