# Sourced by the setup scripts: `apt_update` refreshes the package lists.
# An archive caught mid-sync ("File has unexpected size ... Mirror sync in
# progress?") fails one index for a while: the lists are fetched again after
# a pause, a few times, before the failure is reported. Carrying on with the
# lists apt has lets a later install name exactly what it cannot find.
apt_update() {
  local pause
  for pause in 10 30 60 0; do
    if sudo_ apt-get -o DPkg::Lock::Timeout=900 update -q; then return 0; fi
    [ "$pause" = 0 ] && break
    echo "setup: the package lists did not all download; fetching them again in $pause s" >&2
    sleep "$pause"
  done
  echo "setup: some package lists still fail to download; going on with those apt has" >&2
}
