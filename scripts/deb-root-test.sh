#!/usr/bin/env bash
# deb-root-test.sh [amd64|arm64] [--root-only]: the packages of that architecture in a
# clean Debian 12 root with systemd, as a person setting up a kiosk would
# meet them. The root is made once by mmdebstrap from this machine's own apt
# sources and cached (~/.cache/vantrel/debian12-ARCH-boot.tar, the archive's
# .debs the installs fetch beside it); each run unpacks a fresh copy. The
# service talks to the host's frame simulator (a drop-in gives it
# FRAMESIM_ADDR) and its touches are read on the host's UDP 3333 and TCP 3000.
# amd64: the root boots systemd under systemd-nspawn on the host's network:
#  - `apt install ./vantrel_*.deb ./vantrel-tools_*.deb` in the running
#    system: the system user, the udev rule, the unit verified, enabled
#    and started by the package;
#  - rebooted: systemd brings the service up with the boot, ready
#    (Type=notify), its touches come out; `systemctl reload` keeps the
#    process; a SIGSEGV of the main process is restarted and the touches
#    come back; `systemctl stop` with a finger down sends the lift and ends
#    with Result=success; `systemd-analyze security` rates it at most 2.0;
#    no error in either boot's journal;
#  - `apt purge --autoremove` leaves nothing behind but the system user.
# arm64 (through qemu-user and binfmt; a booted systemd would take minutes
# there and fails where qemu lacks kernel calls it makes): the same install,
# the packaged service started as its unit starts it (command line, user,
# environment, a notification socket), its touches, SIGTERM with a finger
# down sending the lift, and the purge.
# Without systemd-nspawn, or without binfmt for a foreign architecture, it
# says so on one line and exits 77 (skipped). Uses the service's fixed
# ports: run it under the ports lock; `--root-only` makes the cached root
# and stops, so a cold root need not be made while other tests wait.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
arch=${1:-amd64}
skip() { echo "deb-root: SKIPPED for $arch: $*"; exit 77; }

version=$(sed -n 's/^project(Vantrel VERSION \([0-9.]*\) .*/\1/p' CMakeLists.txt)
debs=("$root/build/deb/vantrel_${version}_$arch.deb" "$root/build/deb/vantrel-tools_${version}_$arch.deb")
for d in "${debs[@]}"; do [ -f "$d" ] || { echo "deb-root: $d missing (scripts/deb.sh $arch)" >&2; exit 1; }; done
sim=$root/build/native/tools/framesim/framesim
mon=$root/build/native/tools/monitor/monitor
for t in "$sim" "$mon"; do [ -x "$t" ] || { echo "deb-root: $t missing (build/native)" >&2; exit 1; }; done
command -v systemd-nspawn >/dev/null || skip "no systemd-nspawn here (package systemd-container)"
if [ "$arch" != "$(dpkg --print-architecture)" ]; then
  arch-test "$arch" >/dev/null 2>&1 ||
    skip "this machine does not run $arch programs (qemu-user-static and binfmt: scripts/setup-arm64.sh)"
fi

cache=$HOME/.cache/vantrel
tarball=$cache/debian12-$arch-boot.tar
mkdir -p "$cache/apt-archives/partial"
if [ ! -f "$tarball" ]; then
  # The archive this machine installs from, as its own apt sources name it.
  sources=()
  for f in /etc/apt/sources.list.d/debian.sources /etc/apt/sources.list; do
    [ -f "$f" ] && grep -qE '^(deb[[:space:]]|Types:.*[[:space:]]deb([[:space:]]|$))' "$f" && sources+=("$f")
  done
  [ "${#sources[@]}" -gt 0 ] || {
    echo "deb-root: this machine's apt sources name no Debian archive (neither" \
      "/etc/apt/sources.list.d/debian.sources nor /etc/apt/sources.list has a deb entry);" \
      "the clean root is made from them" >&2
    exit 1
  }
  echo "deb-root: making a clean Debian 12 $arch root from ${sources[*]} (once)"
  # The package lists stay, so later installs resolve without the network.
  # An archive caught mid-sync fails an index for a while: tried again
  # after a pause, twice, before the failure stands.
  for pause in 30 60 0; do
    mmdebstrap --quiet --arch="$arch" --variant=apt --include=systemd,systemd-sysv,dbus \
      --skip=cleanup/apt/lists bookworm "$tarball.$$.tar" "${sources[@]}" && break
    rm -f "$tarball.$$.tar"
    [ "$pause" != 0 ] || { echo "deb-root: mmdebstrap failed three times" >&2; exit 1; }
    echo "deb-root: mmdebstrap failed; trying again in $pause s" >&2
    sleep "$pause"
  done
  mv "$tarball.$$.tar" "$tarball"
  echo "deb-root: the $arch root made in $SECONDS s"
fi

[ "${2:-}" != --root-only ] || exit 0
SECONDS=0
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/root" "$work/debs"
tar -xf "$tarball" -C "$work/root"
cp "${debs[@]}" "$work/debs/"
# The test's own drop-in (the port is the simulator's, known once it runs)
# and the place the container sees the packages at; both exist before the
# first listing of the root, so the purge is compared against them.
mkdir -p "$work/root/etc/systemd/system/vantrel.service.d" "$work/root/var/cache/vantrel-test"

cat >"$work/harness.py" <<'PY'
import os, re, socket, subprocess, sys, threading, time
work, cache, sim_bin, mon_bin, mode = sys.argv[1:6]
rootfs = work + "/root"
env = ["env", "-i", "PATH=/usr/sbin:/usr/bin:/sbin:/bin", "DEBIAN_FRONTEND=noninteractive"]
procs = []

def say(*words): print("deb-root:", *words, flush=True)

class Failed(Exception): pass

def wait_for(what, timeout, pred):
    # Every wait is for a state the test can see, with a generous deadline.
    end = time.monotonic() + timeout
    while True:
        v = pred()
        if v: return v
        if time.monotonic() > end: raise Failed("%s: not within %d s" % (what, timeout))
        time.sleep(0.05)

def start(cmd, **kw):
    p = subprocess.Popen(cmd, stdin=subprocess.DEVNULL, **kw)
    procs.append(p)
    return p

# The host's simulator, one split-channel frame plugged in.
port_file = work + "/sim.port"
start([sim_bin, "--port", "0", "--port-file", port_file, "--frame", "split-mt:t"], stdout=subprocess.DEVNULL)
port = int(wait_for("the simulator's port", 30, lambda: os.path.exists(port_file) and open(port_file).read().strip()))
with open(rootfs + "/etc/systemd/system/vantrel.service.d/framesim.conf", "w") as f:
    f.write("[Service]\nEnvironment=FRAMESIM_ADDR=127.0.0.1:%d\n" % port)
ctl = socket.create_connection(("127.0.0.1", port), timeout=30).makefile("rw")
def sim(command):
    ctl.write(command + "\n"); ctl.flush()
    lines = []
    while True:
        line = ctl.readline()
        if not line: raise Failed("the simulator ended")
        line = line.rstrip("\n")
        if line.startswith(("ok", "err ")):
            if line.startswith("err "): raise Failed("simulator: %s: %s" % (command, line))
            return lines
        lines.append(line)

# The host's monitor on UDP 3333 and TCP 3000: what a TUIO program there gets.
ready_file = work + "/monitor.ready"
mon = start([mon_bin, "--ready-file", ready_file], stdout=subprocess.PIPE, text=True)
def monitor_ready():
    if mon.poll() is not None: raise Failed("the monitor ended (UDP 3333 taken?)")
    return os.path.exists(ready_file)
wait_for("the monitor", 30, monitor_ready)
seen, seen_lock = [], threading.Lock()
def read_monitor():
    for line in mon.stdout:
        with seen_lock: seen.append(line.rstrip("\n"))
threading.Thread(target=read_monitor, daemon=True).start()
def mark():
    with seen_lock: return len(seen)
def expect(what, pattern, since, timeout=30):
    rx = re.compile(pattern)
    def found():
        with seen_lock:
            return next((i + 1 for i in range(since, len(seen)) if rx.search(seen[i])), None)
    return wait_for(what, timeout, found)

def touch_output_on(timeout=60):
    # The service has the frame open and its touch output on.
    wait_for("the service switching the frame's touch output on", timeout,
             lambda: any(" w fc300101" in l for l in sim("record")))
def touches_out(what):
    m = mark()
    sim("gesture t 300 0.2,0.2>0.8,0.8")
    expect(what + ": a TUIO cursor added on the host", r"\] +tuio +added", m)
    expect(what + ": the cursor removed", r"\] +tuio +removed", m)
    expect(what + ": an XML document with the touch", r"\] +xml +#\d+ alive\[[^]]*[1-9]", m)
    say(what + ": touches out on the host's UDP 3333 and TCP 3000")

# The container: its systemd as PID 1, seen from here by its host PID.
container = None
def boot(n):
    global container, pid
    console = open("%s/console-%d.log" % (work, n), "w")
    container = start(["systemd-nspawn", "--register=no", "--keep-unit", "--quiet", "-D", rootfs,
                       "--bind-ro=%s/debs:/var/cache/vantrel-test" % work,
                       "--bind=%s/apt-archives:/var/cache/apt/archives" % cache, "-b"],
                      stdout=console, stderr=subprocess.STDOUT)
    def init_pid():
        if container.poll() is not None: raise Failed("systemd-nspawn ended: status %d" % container.returncode)
        kids = subprocess.run(["pgrep", "-P", str(container.pid)], capture_output=True, text=True).stdout.split()
        for k in kids:
            try:
                if open("/proc/%s/comm" % k).read().strip() == "systemd": return k
            except OSError: pass  # a child of nspawn's that has just ended
    pid = wait_for("the container's systemd", 60, init_pid)
    wait_for("the container's systemd listening", 120,
             lambda: os.path.exists("/proc/%s/root/run/systemd/private" % pid))
    state = inside("systemctl", "is-system-running", "--wait", timeout=300, check=False).stdout.strip()
    if state != "running":
        raise Failed("boot %d: system %s; failed: %s" % (n, state, inside("systemctl", "--failed", "--no-legend").stdout))
    say("boot %d: systemd running" % n)

def inside(*cmd, timeout=120, check=True):
    enter = ["nsenter", "-t", pid, "-a"] if mode == "boot" else ["chroot", rootfs]
    r = subprocess.run(enter + env + list(cmd), stdin=subprocess.DEVNULL,
                       capture_output=True, text=True, timeout=timeout)
    if check and r.returncode != 0:
        raise Failed("%s: status %d\n%s%s" % (" ".join(cmd), r.returncode, r.stdout, r.stderr))
    return r

def show(*props):
    out = inside("systemctl", "show", "vantrel.service", *["-p" + p for p in props]).stdout
    return dict(l.split("=", 1) for l in out.splitlines())

def running(): return show("ActiveState", "SubState") == {"ActiveState": "active", "SubState": "running"}

def no_errors(n):
    errors = inside("journalctl", "-b", "-p", "err", "-q", "--no-pager").stdout.strip()
    if errors: raise Failed("boot %d: errors in the journal:\n%s" % (n, errors))

def poweroff(n):
    no_errors(n)
    inside("systemctl", "poweroff", check=False)
    if container.wait(timeout=120) != 0: raise Failed("boot %d: systemd-nspawn ended with %d" % (n, container.returncode))

PRUNED = {"/proc", "/dev", "/sys", "/run", "/tmp", "/var/cache", "/var/lib/apt", "/var/lib/dpkg", "/var/log"}
def paths():
    out = set()
    for top, dirs, files in os.walk(rootfs):
        rel = top[len(rootfs):] or "/"
        dirs[:] = [d for d in dirs if os.path.join(rel, d) not in PRUNED]
        out.update(os.path.join(rel, x) for x in dirs + files)
    return out

def installed():
    before = paths()
    inside("sh", "-c", "apt-get install -y -q --no-install-recommends /var/cache/vantrel-test/*.deb", timeout=900)
    if ":/nonexistent:" not in inside("getent", "passwd", "vantrel").stdout: raise Failed("no system user vantrel")
    if 'GROUP="vantrel"' not in open(rootfs + "/lib/udev/rules.d/70-vantrel.rules").read():
        raise Failed("the udev rule gives the frame no group vantrel")
    # Checked from the host, against the root: the same for either architecture.
    subprocess.run(["systemd-analyze", "verify", "--man=no", "--root=" + rootfs, "vantrel.service"], check=True)
    if not os.path.islink(rootfs + "/etc/systemd/system/multi-user.target.wants/vantrel.service"):
        raise Failed("the package did not enable the unit")
    return before

def purged(before):
    inside("apt-get", "purge", "-y", "-q", "--autoremove", "vantrel", "vantrel-tools", timeout=600)

def purge_clean(before):
    # Debian policy keeps the system user (and adduser's backups of the files it changed).
    left = sorted(p for p in paths() - before if not re.fullmatch(r"/etc/(passwd|group|shadow|gshadow)-", p))
    if left: raise Failed("left behind after purge:\n" + "\n".join(left))
    say("purge left nothing behind but the system user")

def by_hand():
    # The service as its unit starts it: its command line, user, environment
    # (the drop-in's too) and a notification socket; no systemd runs.
    before = installed()
    say("installed: system user, udev rule, unit verified and enabled")
    unit = open(rootfs + "/lib/systemd/system/vantrel.service").read()
    unit += open(rootfs + "/etc/systemd/system/vantrel.service.d/framesim.conf").read()
    exec_start = re.search(r"^ExecStart=(.*)$", unit, re.M).group(1).split()
    environment = re.findall(r"^Environment=(.*)$", unit, re.M)
    notify = socket.socket(socket.AF_UNIX, socket.SOCK_DGRAM)
    notify.bind(rootfs + "/run/notify"); os.chmod(rootfs + "/run/notify", 0o666)
    notify.settimeout(120)
    def notified(): return notify.recv(256).decode().strip()
    svc = start(["chroot", rootfs, "env", "-i", "PATH=/usr/bin:/bin", "NOTIFY_SOCKET=/run/notify"] + environment +
                ["setpriv", "--reuid=vantrel", "--regid=vantrel", "--init-groups"] + exec_start)
    if notified() != "READY=1": raise Failed("the service's first notification is not READY=1")
    say("the packaged service is ready")
    touch_output_on(120)
    touches_out("the packaged service")
    m = mark()
    sim("touch t 0:down:0.5,0.5")
    expect("the held finger on the host", r"\] +tuio +added", m)
    m = mark()
    svc.terminate()
    if notified() != "STOPPING=1": raise Failed("no STOPPING=1 on SIGTERM")
    expect("the lift of the held finger after SIGTERM", r"\] +tuio +removed", m)
    expect("the empty bundle after SIGTERM", r"\] +tuio +session start or end", m)
    if svc.wait(timeout=120) != 0: raise Failed("the service ended with status %d" % svc.returncode)
    os.unlink(rootfs + "/run/notify")
    say("SIGTERM with a finger down: the lift went out, status 0")
    purged(before)
    purge_clean(before)

def booted():
    boot(1)
    before = installed()
    enabled = inside("systemctl", "is-enabled", "vantrel.service", check=False).stdout.strip()
    if enabled != "enabled": raise Failed("the package left the unit %s" % enabled)
    wait_for("the service started by its package", 60, running)
    say("installed: system user, udev rule, unit verified, enabled and started")
    poweroff(1)

    boot(2)  # the kiosk's next start: the service comes up with the boot
    if not running(): raise Failed("the service did not come up with the boot: %s" % show("ActiveState", "SubState", "Result"))
    say("the service came up with the boot, ready (Type=notify)")
    touch_output_on()
    touches_out("started by systemd")

    main = show("MainPID")["MainPID"]
    inside("systemctl", "reload", "vantrel.service")
    wait_for("the service running again after the reload", 60, running)
    if show("MainPID")["MainPID"] != main: raise Failed("the reload replaced the process")
    say("reload: the same process", main)

    security = inside("systemd-analyze", "security", "vantrel.service", check=False).stdout
    exposure = re.search(r"Overall exposure level for vantrel.service: ([0-9.]+)", security)
    if not exposure or float(exposure.group(1)) > 2.0: raise Failed("security rating:\n" + security[-400:])
    say("systemd-analyze security: exposure", exposure.group(1))

    sim("record clear")
    inside("systemctl", "kill", "--kill-whom=main", "--signal=SIGSEGV", "vantrel.service")
    wait_for("the service restarted after its crash", 60,
             lambda: show("NRestarts", "MainPID").get("NRestarts") == "1" and show("MainPID")["MainPID"] not in ("0", main)
             and running())
    touch_output_on()
    touches_out("restarted after SIGSEGV")

    m = mark()
    sim("touch t 0:down:0.5,0.5")
    expect("the held finger on the host", r"\] +tuio +added", m)
    expect("the held finger in XML", r"\] +xml +#\d+ alive\[[^]]*[1-9]", m)
    m = mark()
    inside("systemctl", "stop", "vantrel.service")
    expect("the lift of the held finger after the stop", r"\] +tuio +removed", m)
    expect("the empty bundle after the stop", r"\] +tuio +session start or end", m)
    expect("the XML lift after the stop", r"\] +xml +#\d+ alive\[(0( 0)*)?\]$", m)
    result = show("ActiveState", "Result")
    if result != {"ActiveState": "inactive", "Result": "success"}: raise Failed("the stop ended with %s" % result)
    say("stop with a finger down: the lift went out, Result=success")

    purged(before)
    poweroff(2)
    say("no error in either boot's journal")
    purge_clean(before)

try:
    booted() if mode == "boot" else by_hand()
except (Failed, subprocess.TimeoutExpired) as e:
    say("FAILED:", e)
    with seen_lock: print("\n".join(["deb-root: the monitor's last lines:"] + seen[-15:]))
    if container and container.poll() is None:
        print(inside("journalctl", "-b", "-u", "vantrel.service", "-q", "--no-pager", check=False).stdout[-3000:])
    for n in (1, 2):
        log = "%s/console-%d.log" % (work, n)
        if os.path.exists(log): print("deb-root: console of boot %d:\n" % n + open(log).read()[-1500:])
    sys.exit(1)
finally:
    for p in reversed(procs):
        if p.poll() is None:
            p.terminate()  # systemd-nspawn shuts the container down on SIGTERM
            try: p.wait(timeout=60)
            except subprocess.TimeoutExpired: p.kill(); p.wait()
PY

if [ "$arch" = "$(dpkg --print-architecture)" ]; then
  # In a PID namespace of its own: however the harness ends (a kill, a time
  # limit), the container ends with it, and no booted root is left holding
  # the service's ports on the host.
  unshare --pid --fork --kill-child --mount-proc \
    python3 "$work/harness.py" "$work" "$cache" "$sim" "$mon" boot
else
  # systemd booted under qemu-user takes minutes and fails where qemu lacks
  # what it asks of the kernel: the foreign root runs the service as its
  # unit does, in a mount namespace of this run with /proc, /dev and the
  # archive cache mounted.
  unshare --mount --propagation private sh -c '
    set -e
    mount -t proc proc "$1/root/proc"
    mount --rbind /dev "$1/root/dev"
    mount --bind "$2/apt-archives" "$1/root/var/cache/apt/archives"
    mount --bind "$1/debs" "$1/root/var/cache/vantrel-test"
    cp /etc/resolv.conf "$1/root/etc/resolv.conf" 2>/dev/null || true
    exec python3 "$1/harness.py" "$@" chroot' sh "$work" "$cache" "$sim" "$mon"
fi
echo "deb-root: $arch done in $SECONDS s"
