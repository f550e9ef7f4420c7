#!/usr/bin/env bash
# deb-root-test.sh: the amd64 packages in a clean Debian 12 root with systemd
# installed (not running), as a person setting up a kiosk would meet them. The root is made once by mmdebstrap
# from the Debian archive and cached (~/.cache/vantrel/debian12-amd64.tar,
# with the archive's .debs the installs fetch); each run unpacks a fresh copy:
#  - the unit passes `systemd-analyze verify` and rates at most 2.0 in
#    `systemd-analyze security` (offline, against the installed root);
#  - `apt install ./vantrel_*.deb ./vantrel-tools_*.deb`;
#  - the packaged service, started as its unit starts it (its user, its
#    settings file, a notification socket; no systemd runs), publishes the
#    packaged simulator's touches over TUIO and XML, answers a reload and
#    shuts down on SIGTERM;
#  - `apt purge --autoremove` leaves nothing behind but the system user.
# Uses the service's fixed ports: run it under the ports lock.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
version=$(sed -n 's/^project(Vantrel VERSION \([0-9.]*\) .*/\1/p' CMakeLists.txt)
debs=("$root/build/deb/vantrel_${version}_amd64.deb" "$root/build/deb/vantrel-tools_${version}_amd64.deb")
for d in "${debs[@]}"; do [ -f "$d" ] || { echo "deb-root: $d missing (scripts/deb.sh)" >&2; exit 1; }; done

cache=$HOME/.cache/vantrel
tarball=$cache/debian12-amd64.tar
mkdir -p "$cache/apt-archives/partial"
if [ ! -f "$tarball" ]; then
  mirror=$(sed -n 's/^URIs: *//p' /etc/apt/sources.list.d/debian.sources 2>/dev/null | head -1)
  mirror=${mirror:-http://deb.debian.org/debian}
  echo "deb-root: making a clean Debian 12 root from $mirror (once)"
  # The package lists stay, so later installs resolve without the network.
  mmdebstrap --quiet --variant=apt --include=systemd --skip=cleanup/apt/lists bookworm "$cache/debian12-amd64.new.tar" "$mirror"
  mv "$cache/debian12-amd64.new.tar" "$tarball"
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
dir=$work/root
mkdir "$dir"
tar -xf "$tarball" -C "$dir"
cp "${debs[@]}" "$dir/tmp/"
cp /etc/resolv.conf "$dir/etc/resolv.conf" 2>/dev/null || true

# Everything runs in a mount namespace of its own: /proc, /dev and the
# archive cache are mounted for this run only.
cat >"$work/inside.sh" <<'INSIDE'
set -euo pipefail
dir=$1 cache=$2 work=$3
mount -t proc proc "$dir/proc"
mount --rbind /dev "$dir/dev"
mount --bind "$cache/apt-archives" "$dir/var/cache/apt/archives"
in_root() { chroot "$dir" /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin "$@"; }
paths() { in_root find / -xdev \( -path /proc -o -path /dev -o -path /tmp -o -path /var/cache \
  -o -path /var/lib/apt -o -path /var/lib/dpkg -o -path /var/log -o -path /run \) -prune -o -print | sort; }
paths >"$work/before"

export DEBIAN_FRONTEND=noninteractive
in_root sh -c 'cd /tmp && apt-get install -y -q --no-install-recommends ./vantrel_*.deb ./vantrel-tools_*.deb' >"$work/install.log" 2>&1 ||
  { cat "$work/install.log"; exit 1; }
in_root getent passwd vantrel | grep -q ':/nonexistent:' || { echo "no system user vantrel"; exit 1; }
grep -q 'GROUP="vantrel"' "$dir/lib/udev/rules.d/70-vantrel.rules"

# The unit, checked against the installed root.
systemd-analyze verify --man=no --root="$dir" vantrel.service
systemd-analyze security --offline=true --threshold=20 --root="$dir" vantrel.service >"$work/security" ||
  { tail -3 "$work/security"; echo "unit rated above 2.0"; exit 1; }
grep 'Overall exposure' "$work/security"

# The service as its unit runs it, against the packaged simulator.
cat >"$dir/tmp/touches.txt" <<'SCENARIO'
add split-mt t
wait 1500
gesture t 400 0.2,0.2>0.8,0.8
wait 600000
SCENARIO
exec_start=$(sed -n 's/^ExecStart=//p' "$dir/lib/systemd/system/vantrel.service")
python3 - "$dir" "$exec_start" <<'PY'
import os, signal, socket, subprocess, sys, time
root, exec_start = sys.argv[1], sys.argv[2].split()
notify = socket.socket(socket.AF_UNIX, socket.SOCK_DGRAM)
notify.bind(root + "/run/notify"); os.chmod(root + "/run/notify", 0o666)
notify.settimeout(15)
chroot = ["chroot", root, "/usr/bin/env", "-i", "PATH=/usr/bin:/bin"]
sim = subprocess.Popen(chroot + ["vantrel-framesim", "--port", "5800", "--scenario", "/tmp/touches.txt"],
                       stdout=subprocess.DEVNULL)
time.sleep(0.3)
mon = subprocess.Popen(chroot + ["vantrel-monitor", "--seconds", "7"], stdout=subprocess.PIPE, text=True)
svc = subprocess.Popen(chroot + ["NOTIFY_SOCKET=/run/notify", "FRAMESIM_ADDR=127.0.0.1:5800",
                       "setpriv", "--reuid=vantrel", "--regid=vantrel", "--init-groups"] + exec_start)
states = [notify.recv(64).decode()]
svc.send_signal(signal.SIGHUP)
states += [notify.recv(64).decode(), notify.recv(64).decode()]
time.sleep(3)  # the gesture is over
svc.send_signal(signal.SIGTERM)
states.append(notify.recv(64).decode())
rc = svc.wait(timeout=15)
out = mon.communicate(timeout=20)[0]
sim.kill(); sim.wait()
print("deb-root: notifications", " ".join(states), "exit status", rc)
added = [l for l in out.splitlines() if "tuio" in l and "added" in l]
docs = [l for l in out.splitlines() if "xml" in l and "alive[" in l]
print("deb-root: monitor saw %d cursors added, %d XML documents" % (len(added), len(docs)))
# The stop's shut-down: the receivers' empty bundle comes last.
ended = [l for l in out.splitlines() if "tuio" in l][-1:] == [
    l for l in out.splitlines() if "empty bundle" in l][-1:] != []
print("deb-root: the stop sent the empty bundle:", ended)
ok = states == ["READY=1", "RELOADING=1", "READY=1", "STOPPING=1"] and rc == 0 and added and docs and ended
if not ok: print(out)
sys.exit(0 if ok else 1)
PY

in_root apt-get purge -y -q --autoremove vantrel vantrel-tools >"$work/purge.log" 2>&1 ||
  { cat "$work/purge.log"; exit 1; }
paths >"$work/after"
# Debian policy keeps the system user (and adduser's backups of the files it changed).
left=$(comm -13 "$work/before" "$work/after" | grep -vxE '/etc/(passwd|group|shadow|gshadow)-' || true)
[ -z "$left" ] || { echo "deb-root: left behind after purge:"; echo "$left"; exit 1; }
echo "deb-root: purge left nothing behind but the system user"
INSIDE
unshare --mount --propagation private bash "$work/inside.sh" "$dir" "$cache" "$work"
