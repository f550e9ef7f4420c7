# Sourced by the setup scripts: `apt_update` refreshes the package lists.
# An archive caught mid-sync ("File has unexpected size ... Mirror sync in
# progress?") fails one index for a while: the lists are fetched again after
# a pause, a few times, before the failure is reported. Carrying on with the
# lists apt has lets a later install name exactly what it cannot find.
# Lists refreshed in the last half hour for the same architectures and
# sources (one run's setup steps) are not fetched again.
apt_update() {
  local stamp=$HOME/.cache/vantrel/apt-lists key pause
  key="$(dpkg --print-foreign-architectures | tr '\n' ' ')$({ cat /etc/apt/sources.list \
    /etc/apt/sources.list.d/* 2>/dev/null || true; } | md5sum)"
  if [ -n "$(find "$stamp" -mmin -30 2>/dev/null)" ] && [ "$(cat "$stamp")" = "$key" ]; then
    return 0
  fi
  for pause in 10 20 0; do
    if sudo_ apt-get -o DPkg::Lock::Timeout=900 update -q; then break; fi
    if [ "$pause" = 0 ]; then
      echo "setup: some package lists still fail to download; going on with those apt has" >&2
      break
    fi
    echo "setup: the package lists did not all download; fetching them again in $pause s" >&2
    sleep "$pause"
  done
  mkdir -p "$(dirname "$stamp")" && printf '%s' "$key" >"$stamp"
}
