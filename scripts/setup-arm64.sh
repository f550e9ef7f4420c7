#!/usr/bin/env bash
# What the arm64 build needs on a Debian 12 amd64 machine: the arm64
# architecture in dpkg, Debian's cross toolchain and the arm64 libraries the
# service and its tests link, qemu-user, and the kernel told to run arm64
# programs through it (binfmt_misc). Safe to run again.
#
# liblo-dev cannot be installed for two architectures at once; its arm64
# package (and liblo7's) is unpacked into ~/.cache/vantrel/arm64-liblo for
# the test tree instead, with its pkg-config file pointing there.
set -euo pipefail
sudo_() { if [ "$(id -u)" = 0 ]; then "$@"; else sudo "$@"; fi; }
. "$(dirname "$0")/apt-update.sh"

packages=(g++-aarch64-linux-gnu qemu-user-static binfmt-support arch-test
  pkgconf:arm64 liboscpack-dev:arm64 libudev-dev:arm64 libssl-dev:arm64 libgtest-dev:arm64 libgmock-dev:arm64
  libxml2-dev:arm64)
update=0
if ! dpkg --print-foreign-architectures | grep -qx arm64; then
  sudo_ dpkg --add-architecture arm64
  update=1
fi
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ "${#missing[@]}" -gt 0 ]; then
  [ "$update" = 1 ] || apt-cache show libudev-dev:arm64 >/dev/null 2>&1 || update=1
  [ "$update" = 1 ] && apt_update
  echo "setup-arm64: installing ${missing[*]}"
  DEBIAN_FRONTEND=noninteractive sudo_ apt-get -o DPkg::Lock::Timeout=900 install -y -q \
    --no-install-recommends "${missing[@]}"
fi

liblo=$HOME/.cache/vantrel/arm64-liblo
if [ ! -f "$liblo/usr/lib/aarch64-linux-gnu/pkgconfig/liblo.pc" ]; then
  tmp=$(mktemp -d)
  chmod 755 "$tmp"
  (cd "$tmp" && apt-get download -q liblo-dev:arm64 liblo7:arm64 >/dev/null 2>&1)
  rm -rf "$liblo" && mkdir -p "$liblo"
  for f in "$tmp"/*.deb; do dpkg-deb -x "$f" "$liblo"; done
  sed -i "s|^prefix=.*|prefix=$liblo/usr|" "$liblo/usr/lib/aarch64-linux-gnu/pkgconfig/liblo.pc"
  rm -rf "$tmp"
fi

# The kernel runs arm64 programs through qemu, as the package's binfmt
# file describes ("F": the interpreter is opened now, so it also works in
# namespaces and roots that lack it).
binfmt=/proc/sys/fs/binfmt_misc
# A machine that cannot (a container without the right) runs no arm64
# programs: the checks that need them say so and count as skipped.
[ -e "$binfmt/register" ] || sudo_ mount -t binfmt_misc binfmt_misc "$binfmt" 2>/dev/null || true
if [ -e "$binfmt/register" ] && [ ! -e "$binfmt/qemu-aarch64" ]; then
  sudo_ sh -c "cat /usr/lib/binfmt.d/qemu-aarch64.conf > $binfmt/register" || true
fi
if arch-test arm64 >/dev/null 2>&1; then
  echo "setup-arm64: cross toolchain, arm64 libraries and qemu-user ready"
else
  echo "setup-arm64: cross toolchain and arm64 libraries ready; this machine does not run arm64 programs"
fi
