# Sourced by the setup scripts: `apt_update` refreshes the package lists.
# An archive caught mid-sync ("File has unexpected size ... Mirror sync in
# progress?") fails an index for a while: the lists are fetched again once
# after a pause. A failed index also keeps its suite's other new lists out,
# so an architecture added for the 32-bit Wine alone whose lists fail (and
# of which nothing is installed) is taken out again rather than leave the
# arm64 libraries uninstallable; the i686 tests are then skipped. Otherwise
# apt goes on with the lists it has, and a later install names what it
# cannot find.
# Lists refreshed in the last half hour for the same architectures and
# sources (one run's setup steps) are not fetched again.
apt_lists_key() {
  echo "$(dpkg --print-foreign-architectures | tr '\n' ' ')$({ cat /etc/apt/sources.list \
    /etc/apt/sources.list.d/* 2>/dev/null || true; } | md5sum)"
}
apt_update() {
  local stamp=$HOME/.cache/vantrel/apt-lists key pause log ok=0
  key=$(apt_lists_key)
  if [ -n "$(find "$stamp" -mmin -30 2>/dev/null)" ] && [ "$(cat "$stamp")" = "$key" ]; then
    return 0
  fi
  log=$(mktemp)
  for pause in 10 0; do
    if sudo_ apt-get -o DPkg::Lock::Timeout=900 update -q >"$log" 2>&1; then ok=1 && break; fi
    [ "$pause" = 0 ] && break
    grep -E '^(E|W):' "$log" >&2 || true
    echo "setup: the package lists did not all download; fetching them again in $pause s" >&2
    sleep "$pause"
  done
  if [ "$ok" = 0 ] && grep -q 'binary-i386/' "$log" &&
    dpkg --print-foreign-architectures | grep -qx i386 &&
    ! dpkg-query -W -f='${Architecture}\n' | grep -qx i386; then
    grep -E '^(E|W):' "$log" >&2 || true
    echo "setup: the archive's i386 lists do not download: the i386 architecture is taken out" \
      "again (nothing of it is installed), so the 32-bit Wine cannot be installed" >&2
    sudo_ dpkg --remove-architecture i386
    sudo_ apt-get -o DPkg::Lock::Timeout=900 update -q >"$log" 2>&1 && ok=1
  fi
  if [ "$ok" = 0 ]; then
    grep -E '^(E|W):' "$log" >&2 || true
    echo "setup: some package lists still fail to download; going on with those apt has" >&2
  fi
  rm -f "$log"
  mkdir -p "$(dirname "$stamp")" && apt_lists_key >"$stamp"
}
