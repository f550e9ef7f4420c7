#!/usr/bin/env bash
# Installs what a fresh Debian 12 machine lacks to build and test both builds.
# Safe to run twice: it skips packages that are already there.
#   scripts/setup.sh            everything
#   scripts/setup.sh --native   only what configuring and building the native
#                               tree needs (scripts/test.sh builds it while
#                               the rest installs)
set -euo pipefail

native=(
  build-essential cmake ninja-build pkg-config git dpkg-dev ccache
  libgtest-dev googletest libbenchmark-dev
  libudev-dev liboscpack-dev libssl-dev liblo-dev libxml2-dev
)
packages=("${native[@]}"
  clang-format clang libclang-rt-14-dev
  liblo-tools python3-liblo python3-lxml libxml2-utils
  chromium python3-websockets
  prometheus jq
  g++-mingw-w64-i686 binutils-mingw-w64-i686
  g++-mingw-w64-x86-64 binutils-mingw-w64-x86-64
  wine wine64 fonts-wine xvfb xauth
  nsis
  graphviz
  debhelper lintian mmdebstrap systemd systemd-container procps
)

sudo_() { if [ "$(id -u)" = 0 ]; then "$@"; else sudo "$@"; fi; }
. "$(dirname "$0")/apt-update.sh"
only_native=0
[ "${1:-}" = --native ] && only_native=1 && packages=("${native[@]}")

changed=0

# Source packages are needed for oscpack's cross build. The source entry is
# derived from the machine's own binary entry so it follows the same mirror.
src=/etc/apt/sources.list.d/vantrel-deb-src.sources
if [ ! -f "$src" ]; then
  if [ -f /etc/apt/sources.list.d/debian.sources ]; then
    sed -e 's/^Types:.*/Types: deb-src/' /etc/apt/sources.list.d/debian.sources |
      sudo_ tee "$src" >/dev/null
  else
    grep -E '^deb ' /etc/apt/sources.list | sed 's/^deb /deb-src /' |
      sudo_ tee /etc/apt/sources.list.d/vantrel-deb-src.list >/dev/null
    sudo_ touch "$src"
  fi
  changed=1
fi

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ "${#missing[@]}" -gt 0 ] || [ "$changed" = 1 ]; then
  apt_update
fi
if [ "${#missing[@]}" -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  # prometheus is here for promtool only: its package would start the
  # server. A policy-rc.d that refuses every start keeps it (and any other
  # daemon) stopped while the packages install; one the machine has is kept.
  policy=/usr/sbin/policy-rc.d
  own_policy=0
  if [ ! -e "$policy" ]; then
    printf '#!/bin/sh\nexit 101\n' | sudo_ tee "$policy" >/dev/null
    sudo_ chmod 755 "$policy"
    own_policy=1
  fi
  DEBIAN_FRONTEND=noninteractive sudo_ apt-get -o DPkg::Lock::Timeout=900 install -y -q \
    --no-install-recommends "${missing[@]}" ||
    { [ "$own_policy" = 0 ] || sudo_ rm -f "$policy"; exit 1; }
  [ "$own_policy" = 0 ] || sudo_ rm -f "$policy"
fi

[ "$only_native" = 0 ] || { echo "setup: the native build's packages present"; exit 0; }

# The 32-bit Wine runs the i686 tests only. Its libraries must be the same
# versions as the machine's amd64 ones, so an archive whose i386 lists lag
# (or fail to download) cannot install it: the i686 tests are then skipped
# with that reason, and everything else goes on.
if ! dpkg-query -W -f='${Status}' wine32:i386 2>/dev/null | grep -q 'install ok installed'; then
  dpkg --print-foreign-architectures | grep -qx i386 || sudo_ dpkg --add-architecture i386
  apt_update
  if dpkg --print-foreign-architectures | grep -qx i386; then
    echo "setup: installing wine32:i386"
    DEBIAN_FRONTEND=noninteractive sudo_ apt-get -o DPkg::Lock::Timeout=900 install -y -q \
      --no-install-recommends wine32:i386 ||
      echo "setup: wine32:i386 cannot be installed from this machine's archive; the i686 tests will be skipped"
  else
    echo "setup: no i386 lists, no wine32:i386; the i686 tests will be skipped"
  fi
fi

# oscpack's source package for the Windows cross builds, unpacked once into
# the user's cache (CMake copies it into each Windows build tree), so that
# configuring a build needs no network.
cache="$HOME/.cache/vantrel/oscpack"
if [ ! -f "$cache/osc/OscOutboundPacketStream.cpp" ]; then
  tmp=$(mktemp -d)
  (cd "$tmp" && apt-get source -qq oscpack >/dev/null 2>&1) || {
    apt_update && (cd "$tmp" && apt-get source -qq oscpack >/dev/null)
  }
  unpacked=$(find "$tmp" -mindepth 1 -maxdepth 1 -type d -name 'oscpack-*' | head -1)
  [ -n "$unpacked" ] || { echo "setup: apt-get source oscpack gave no source tree" >&2; exit 1; }
  rm -rf "$cache" && mkdir -p "$(dirname "$cache")" && mv "$unpacked" "$cache"
  rm -rf "$tmp"
  echo "setup: oscpack source in $cache"
fi
echo "setup: all packages present"
