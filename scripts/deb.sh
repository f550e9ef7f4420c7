#!/usr/bin/env bash
# deb.sh [amd64|arm64]: the Debian packages vantrel and vantrel-tools, built
# by debhelper from a copy of this tree in ~/.cache/vantrel/deb/ARCH/ (arm64 with
# Debian's cross toolchain), version from the project's CMake version, and
# checked by lintian. The .deb files land in build/deb/.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
arch=${1:-$(dpkg --print-architecture)}
out=$root/build/deb
# The package is built in one folder per architecture outside the clone:
# Debian's build flags carry the folder's path (-ffile-prefix-map), which
# ccache hashes, so a folder inside each fresh clone would compile
# everything anew.
work=${VANTREL_DEB_WORK:-$HOME/.cache/vantrel/deb}/$arch
src=$work/src

# What the build needs, installed where missing: debhelper and lintian, the
# packages' build dependencies, and for arm64 the cross toolchain.
sudo_() { if [ "$(id -u)" = 0 ]; then "$@"; else sudo "$@"; fi; }
cross_arch=()
if [ "$arch" != "$(dpkg --print-architecture)" ]; then
  [ "$arch" = arm64 ] || { echo "deb: amd64 or arm64, not $arch" >&2; exit 2; }
  scripts/setup-arm64.sh >/dev/null
  cross_arch=(-a "$arch")
fi
if ! command -v lintian >/dev/null || ! dpkg-checkbuilddeps "${cross_arch[@]}" >/dev/null 2>&1; then
  DEBIAN_FRONTEND=noninteractive sudo_ apt-get -o DPkg::Lock::Timeout=900 install -y -q \
    --no-install-recommends debhelper lintian
  DEBIAN_FRONTEND=noninteractive sudo_ apt-get -o DPkg::Lock::Timeout=900 build-dep -y -q \
    "${cross_arch[@]}" ./
fi

version=$(sed -n 's/^project(Vantrel VERSION \([0-9.]*\) .*/\1/p' CMakeLists.txt)
[ -n "$version" ] || { echo "deb: no version in CMakeLists.txt" >&2; exit 1; }

# The tree as it is (tracked and new files), without the build trees; the
# copy keeps its path, so ccache finds the last run's objects.
mkdir -p "$src" "$out"
find "$src" -mindepth 1 -maxdepth 1 ! -name 'obj-*' -exec rm -rf {} +
git ls-files -co --exclude-standard -z | grep -zv '^build/' | xargs -0 tar -cf - | tar -xf - -C "$src"
maintainer=$(sed -n 's/^Maintainer: //p' debian/control)
cat >"$src/debian/changelog" <<CHANGES
vantrel ($version) unstable; urgency=medium

  * Built from the project's tree at version $version.

 -- $maintainer  $(date -R -d @"$(git log -1 --format=%ct 2>/dev/null || date +%s)")
CHANGES

# debhelper gives the build a HOME of its own: the oscpack source that
# setup.sh unpacked is named here, so the build needs no network.
flags=""
[ -f "$HOME/.cache/vantrel/oscpack/osc/OscOutboundPacketStream.cpp" ] &&
  flags="-DVANTREL_OSCPACK_SOURCE=$HOME/.cache/vantrel/oscpack"
if command -v ccache >/dev/null 2>&1; then
  # A launcher without blanks or semicolons, which make would split.
  launcher=$work/ccache-launch
  # debhelper's HOME is inside the copy, which the next run replaces: the
  # cache is named here, or every run would compile everything anew.
  cache_dir=${CCACHE_DIR:-$(ccache -k cache_dir)}
  printf '#!/bin/sh\nCCACHE_DIR=%s CCACHE_BASEDIR=%s CCACHE_NOHASHDIR=1 exec ccache "$@"\n' \
    "$cache_dir" "$src" >"$launcher"
  chmod +x "$launcher"
  flags="$flags -DCMAKE_C_COMPILER_LAUNCHER=$launcher -DCMAKE_CXX_COMPILER_LAUNCHER=$launcher"
fi
(cd "$src" && VANTREL_CMAKE_FLAGS="$flags" DEB_BUILD_OPTIONS="nocheck parallel=$(nproc)" \
  dpkg-buildpackage -b -us -uc "${cross_arch[@]}" >"$out/build-$arch.log" 2>&1) || {
  tail -40 "$out/build-$arch.log" >&2
  echo "deb: dpkg-buildpackage failed for $arch (log: $out/build-$arch.log)" >&2
  exit 1
}
changes=$work/vantrel_${version}_$arch.changes
for f in $(sed -n '/^Files:/,$s/^ [0-9a-f]* [0-9]* [^ ]* [^ ]* //p' "$changes"); do
  mv -f "$work/$f" "$out/"
done
cp -f "$changes" "$out/"
echo "deb: $(cd "$out" && ls vantrel*_"${version}"_"$arch".deb | tr '\n' ' ')"

# No error and no warning that an override does not explain with its reason.
lintian --fail-on error,warning --suppress-tags-from-file /dev/null "$out/vantrel_${version}_$arch.changes"
echo "deb: lintian clean for $arch"
