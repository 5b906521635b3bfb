#!/usr/bin/env bash
# Checks the project's install on a machine that has never seen it: makes a fresh Debian 12 root
# with mmdebstrap (the main archive, its updates and the security suite, as a new machine has
# them), copies the project in, and there, under chroot, runs
#   scripts/install-deps.sh --windows --arm --bench
# and the arm64 and armhf cross-builds (scripts/test-arm.sh --build-only). Prints the time each
# took, how many packages the install added, the size of each ARM root, and whether this host's
# own package list changed meanwhile. Run it as root, before a change to the install meets CI.
#   scripts/fresh-root-check.sh [DIR]     (default build-fresh-root/, made anew)
# QUOREL_DEBIAN_MIRROR and QUOREL_DEBIAN_SECURITY_MIRROR name other mirrors.
set -euo pipefail
cd "$(dirname "$0")/.."

root=$(realpath -m "${1:-build-fresh-root}")
mirror=${QUOREL_DEBIAN_MIRROR:-http://deb.debian.org/debian}
security=${QUOREL_DEBIAN_SECURITY_MIRROR:-http://deb.debian.org/debian-security}
[ "$(id -u)" -eq 0 ] || {
  echo "fresh-root-check.sh: run it as root (mmdebstrap and chroot)" >&2
  exit 2
}
command -v mmdebstrap >/dev/null || bash scripts/install-deps.sh --arm

host_packages() { dpkg-query -W -f='${Package}:${Architecture} ${Version}\n' | sort; }
mounted=()
cleanup() {
  local i
  for ((i = ${#mounted[@]} - 1; i >= 0; i--)); do umount -l "${mounted[i]}" || true; done
}
trap cleanup EXIT
host_before=$(host_packages)
host_architectures_before=$(dpkg --print-foreign-architectures)

started=$SECONDS
rm -rf "$root"
mmdebstrap --quiet --variant=minbase bookworm "$root" "deb $mirror bookworm main" \
  "deb $mirror bookworm-updates main" "deb $security bookworm-security main"
made=$SECONDS
echo "fresh-root-check.sh: fresh root in $((made - started)) s, $(chroot "$root" dpkg-query -W |
  wc -l) packages"

# The project as git has it (tracked and new files, no build folders).
mkdir "$root/project"
git ls-files -z --cached --others --exclude-standard | tar --null -T - -cf - | tar -xf - -C "$root/project"
for fs in proc sys dev dev/pts; do
  mount --bind "/$fs" "$root/$fs"
  mounted+=("$root/$fs")
done
cp /etc/resolv.conf "$root/etc/resolv.conf"
packages_before=$(chroot "$root" dpkg-query -W | wc -l)

chroot "$root" bash -c 'cd /project && bash scripts/install-deps.sh --windows --arm --bench'
installed=$SECONDS
packages_after=$(chroot "$root" dpkg-query -W | wc -l)
echo "fresh-root-check.sh: install-deps.sh --windows --arm --bench passed in" \
  "$((installed - made)) s: $((packages_after - packages_before)) packages added;" \
  "foreign architectures: [$(chroot "$root" dpkg --print-foreign-architectures | xargs)]"

chroot "$root" bash -c 'cd /project && bash scripts/test-arm.sh --build-only'
built=$SECONDS
echo "fresh-root-check.sh: ARM cross-builds passed in $((built - installed)) s; roots:" \
  "arm64 $(du -sh "$root/project/build-arm64/sysroot" | cut -f1)," \
  "armhf $(du -sh "$root/project/build-armhf/sysroot" | cut -f1)"

host_after=$(host_packages)
if [ "$host_after" = "$host_before" ] &&
  [ "$(dpkg --print-foreign-architectures)" = "$host_architectures_before" ]; then
  echo "fresh-root-check.sh: this host's package list did not change"
else
  echo "fresh-root-check.sh: this host's package list changed meanwhile (another apt run?):"
  diff <(echo "$host_before") <(echo "$host_after") || true
fi
echo "fresh-root-check.sh: passed in $((SECONDS - started)) s"
