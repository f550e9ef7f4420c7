#!/usr/bin/env python3
"""Plays one frame model of the simulator through the service and keeps what
goes out: every report the service wrote to the frame (the simulator's
record), every UDP datagram to 127.0.0.1:3333 and every byte of the XML
stream on TCP port 3000. Run by scripts/wire-capture.sh, normally inside a
private network namespace so the fixed ports never meet another run.

The service's tick is fixed by the preloaded fixed-clock library: the driver
sets the tick before each touch sample and waits until the service has read
it (one read per sample), so the TUIO speeds and the idle bundles come out
the same on every run however loaded the machine is.

Exit status: 0 captured, 3 the run was disturbed (try again), 1 failure.
"""
import argparse
import fcntl
import mmap
import os
import select
import shutil
import signal
import socket
import struct
import subprocess
import sys
import tempfile
import threading
import time

TUIO_PORT = 3333
XML_PORT = 3000
START_MS = 3600500  # the tick when the service starts: 1 h 0.5 s after boot
WAIT_S = 60  # a loaded 2-core machine may be slow; nothing here waits this long normally


class Disturbed(Exception):
    """The run did not go as planned for reasons of timing: try again."""


class Failed(Exception):
    pass


def bring_loopback_up():
    # In a fresh network namespace the loopback interface starts down.
    s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    ifreq = struct.pack("16sH14s", b"lo", 0x1 | 0x8 | 0x40, b"\0" * 14)  # UP|LOOPBACK|RUNNING
    fcntl.ioctl(s, 0x8914, ifreq)  # SIOCSIFFLAGS
    s.close()


def wait_until(pred, timeout, what, poll=0.01):
    end = time.monotonic() + timeout
    while True:
        if pred():
            return True
        if time.monotonic() > end:
            raise Disturbed("timed out waiting for " + what)
        time.sleep(poll)


def wait_quiet(value, quiet, what):
    """Waits until value() has not changed for `quiet` seconds."""
    last, since = value(), time.monotonic()
    end = since + WAIT_S
    while True:
        time.sleep(0.05)
        v, now = value(), time.monotonic()
        if v != last:
            last, since = v, now
        elif now - since >= quiet:
            return v
        if now > end:
            raise Disturbed("timed out waiting for " + what + " to settle")


class SharedClock:
    """The fixed-clock library's page: milliseconds, then the count of reads."""

    def __init__(self, path):
        with open(path, "wb") as f:
            f.write(b"\0" * 4096)
        self._f = open(path, "r+b")
        self._m = mmap.mmap(self._f.fileno(), 4096)

    def set(self, ms):
        self._m[0:8] = struct.pack("<Q", ms)

    def reads(self):
        return struct.unpack("<Q", self._m[8:16])[0]


class UdpCapture(threading.Thread):
    def __init__(self):
        super().__init__(daemon=True)
        self.sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        self.sock.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 4 << 20)
        self.sock.bind(("127.0.0.1", TUIO_PORT))
        self.datagrams = []
        self.stop = False

    def run(self):
        while not self.stop:
            r, _, _ = select.select([self.sock], [], [], 0.05)
            if r:
                self.datagrams.append(self.sock.recv(65536))


class XmlCapture(threading.Thread):
    def __init__(self, sock):
        super().__init__(daemon=True)
        self.sock = sock
        self.data = bytearray()
        self.closed = False

    def run(self):
        while True:
            try:
                chunk = self.sock.recv(65536)
            except OSError:
                chunk = b""
            if not chunk:
                self.closed = True
                return
            self.data += chunk


class Control:
    """A control connection to the simulator."""

    def __init__(self, port):
        self.sock = socket.create_connection(("127.0.0.1", port))
        self.buf = b""

    def _line(self):
        while b"\n" not in self.buf:
            chunk = self.sock.recv(65536)
            if not chunk:
                raise Failed("the simulator closed its control connection")
            self.buf += chunk
        line, self.buf = self.buf.split(b"\n", 1)
        return line.decode()

    def command(self, line):
        self.sock.sendall(line.encode() + b"\n")
        lines = []
        while True:
            l = self._line()
            if l.startswith("ok") or l.startswith("err"):
                if l.startswith("err"):
                    raise Failed("simulator: " + line + ": " + l)
                return lines, l
            lines.append(l)

    def record(self):
        return [l for l in self.command("record")[0] if l.startswith("rec ")]


def accepted(client_port):
    """True once the service accepted our XML connection: a connection still
    waiting in the listen backlog has no socket inode yet."""
    local = "0100007F:%04X" % XML_PORT
    remote = "0100007F:%04X" % client_port
    with open("/proc/net/tcp") as f:
        for line in f.readlines()[1:]:
            w = line.split()
            if w[1] == local and w[2] == remote and w[3] == "01" and w[9] != "0":
                return True
    return False


def contact_words(contacts):
    return " ".join("%d:%s:%.4f,%.4f" % (i, ph, x, y) for i, ph, x, y in contacts)


def lerp(a, b, t):
    return (a[0] + (b[0] - a[0]) * t, a[1] + (b[1] - a[1]) * t)


def fingers_gesture(ways, moves, lift_order=None):
    """Samples of fingers (id, from, to) going down together, moving in
    `moves` steps and lifting in `lift_order` groups (default: all at once),
    the fingers still down moving one more step between lifts."""
    samples = [[(i, "down", a[0], a[1]) for i, a, _ in ways]]
    for k in range(1, moves + 1):
        samples.append([(i, "move") + lerp(a, b, k / moves) for i, a, b in ways])
    down = {i: b for i, _, b in ways}
    for group in lift_order or [[i for i, _, _ in ways]]:
        samples.append(
            [(i, "up" if i in group else "move", p[0], p[1]) for i, p in sorted(down.items())]
        )
        for i in group:
            del down[i]
        if down:
            for i in list(down):
                down[i] = (down[i][0] + 0.01, down[i][1] + 0.005)
            samples.append([(i, "move", p[0], p[1]) for i, p in sorted(down.items())])
    return samples


def scenario(layout):
    """(clock step in ms, contacts) per sample, in two parts: before the
    unplug and after the replug. Steps vary, including a sample in the same
    tick as the one before (the service drops that move)."""
    most = {"A": 2, "B": 2, "F": 2, "C": 4, "MT": 11}.get(layout, 0)
    if most == 0:
        return [], []
    steps = [10, 10, 7, 13, 25, 10, 0, 10, 16, 10]

    def timed(samples, first_step):
        return [(first_step if n == 0 else steps[n % len(steps)], s) for n, s in enumerate(samples)]

    one = fingers_gesture([(0, (0.20, 0.30), (0.40, 0.45))], 6)
    before = timed(one, 10)
    if layout != "MT":
        # A report with no contact at all, after more than a second without
        # touches: the idle bundles of a new second.
        before += [(1200, [(0, "up", 0.40, 0.45)])]
    two = fingers_gesture(
        [(0, (0.20, 0.30), (0.40, 0.45)), (1, (0.70, 0.25), (0.55, 0.60))], 8, [[1], [0]]
    )
    before += timed(two, 900)
    if most >= 4:
        four = fingers_gesture(
            [
                (0, (0.10, 0.10), (0.30, 0.20)),
                (1, (0.90, 0.10), (0.70, 0.20)),
                (2, (0.10, 0.90), (0.30, 0.80)),
                (3, (0.90, 0.90), (0.70, 0.80)),
            ],
            4,
            [[3, 2], [1, 0]],
        )
        before += timed(four, 40)
    if layout == "MT":
        # Ids that are not 0.. in order, arriving one after the other.
        stagger = [
            [(5, "down", 0.50, 0.50)],
            [(5, "move", 0.52, 0.50), (9, "down", 0.30, 0.30)],
            [(2, "down", 0.80, 0.20), (5, "move", 0.54, 0.50), (9, "move", 0.31, 0.32)],
            [(2, "move", 0.79, 0.22), (5, "up", 0.54, 0.50), (9, "move", 0.32, 0.34)],
            [(2, "up", 0.79, 0.22), (9, "move", 0.33, 0.36)],
            [(9, "up", 0.33, 0.36)],
        ]
        before += timed(stagger, 30)
        # Eleven contacts: a table in two reports.
        ways = [(i, (0.05 + 0.08 * i, 0.2), (0.05 + 0.08 * i, 0.7)) for i in range(11)]
        before += timed(fingers_gesture(ways, 3), 50)
    after = timed(
        fingers_gesture(
            [(0, (0.60, 0.60), (0.30, 0.35)), (1, (0.25, 0.75), (0.45, 0.55))], 5, [[0], [1]]
        ),
        2500,
    )
    after += timed([[(0, "down", 0.5, 0.5)], [(0, "up", 0.5, 0.5)]], 300)
    return before, after


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--vantrel", required=True)
    ap.add_argument("--framesim", required=True)
    ap.add_argument("--clock-lib", required=True)
    ap.add_argument("--model", required=True)
    ap.add_argument("--layout", required=True)
    ap.add_argument("--out", required=True, help="OUT_DIR/MODEL, files get suffixes")
    ap.add_argument("--netns", action="store_true", help="bring the loopback up first")
    args = ap.parse_args()
    if args.netns:
        bring_loopback_up()

    work = tempfile.mkdtemp(prefix="vantrel-wire-")
    sim = service = None
    notes = []
    try:
        clock = SharedClock(os.path.join(work, "clock"))
        tick = START_MS
        clock.set(tick)
        tuio = UdpCapture()
        tuio.start()

        port_file = os.path.join(work, "port")
        sim = subprocess.Popen(
            [args.framesim, "--port-file", port_file],
            stdout=subprocess.DEVNULL,
            stderr=open(os.path.join(work, "framesim.log"), "w"),
        )
        wait_until(lambda: os.path.exists(port_file) or sim.poll() is not None, WAIT_S, "framesim")
        if sim.poll() is not None:
            raise Failed("framesim ended at once")
        port = int(open(port_file).read())
        ctl = Control(port)
        ctl.command("add %s f" % args.model)
        # A Series01xx frame echoes each mode write (0x08). The service decodes
        # such a report as an empty touch frame (a TUIO frame number) once its
        # start-up set the initialised flag, and ignores it before: the last
        # start-up writes' echoes would race that flag. Held until the service
        # is ready, every echo comes after it.
        series = args.layout == "F"
        if series:
            ctl.command("hold f 08")

        # A copy of the program in a directory of its own: the settings file
        # next to it starts absent, whatever other runs stored.
        run = os.path.join(work, "run")
        os.mkdir(run)
        program = os.path.join(run, os.path.basename(args.vantrel))
        shutil.copy2(args.vantrel, program)
        env = {k: v for k, v in os.environ.items() if not k.startswith("VANTREL_")}
        env.update(
            FRAMESIM_ADDR="127.0.0.1:%d" % port,
            LD_PRELOAD=args.clock_lib,
            WIRE_CLOCK_FILE=os.path.join(work, "clock"),
        )
        if os.environ.get("WIRE_LOG"):  # for looking into a capture
            env["VANTREL_LOG"] = os.environ["WIRE_LOG"]
        log = open(os.path.join(work, "service.log"), "w")
        service = subprocess.Popen(
            [program, "--ready-file", "ready"], cwd=run, env=env, stdout=log, stderr=log
        )
        ready = os.path.join(run, "ready")
        wait_until(lambda: os.path.exists(ready) or service.poll() is not None, WAIT_S, "ready")
        if service.poll() is not None:
            raise Failed("the service ended at start-up:\n" + open(log.name).read())
        if series:
            # Each echo decoded reads the tick once.
            reads = clock.reads()
            held = int(ctl.command("release f")[1].split()[1])
            wait_until(lambda: clock.reads() >= reads + held, WAIT_S, "the held echoes to be decoded")

        # The XML client, accepted before any touch.
        xml_sock = None

        def connect():
            nonlocal xml_sock
            try:
                xml_sock = socket.create_connection(("127.0.0.1", XML_PORT), timeout=1)
                xml_sock.settimeout(None)
                return True
            except OSError:
                return False

        wait_until(connect, WAIT_S, "the XML listener", poll=0.05)
        client_port = xml_sock.getsockname()[1]
        wait_until(lambda: accepted(client_port), WAIT_S, "the XML client's accept")
        xml = XmlCapture(xml_sock)
        xml.start()

        def settle_record():
            # The start-up commands include pauses and commands that answer
            # replies: done once nothing was written for a second and a half,
            # longer than the service's one-second timer (an unanswered
            # read-back is asked for again at that pace, five times), so
            # those writes all come before the touches, never among them.
            return wait_quiet(lambda: len(ctl.record()), 1.5, "the writes to the frame")

        def play(samples):
            # Replies to the service's own commands may read the tick too
            # (the clock stands still meanwhile), so a sample is taken once
            # the count grew.
            nonlocal tick, touch, sampled, outputs
            for step, contacts in samples:
                tick += step
                clock.set(tick)
                reads = clock.reads()
                outputs = sent()
                ctl.command("touch f " + contact_words(contacts))
                if not touch:
                    continue
                try:
                    wait_until(lambda: clock.reads() > reads, WAIT_S, "the service to take a sample")
                    sampled = True
                except Disturbed:
                    if sampled:
                        raise
                    # A frame the service opens but reads no reports of (one
                    # of another vendor): the same on every run.
                    touch = False
                    notes.append("the service took no sample of the first touch: touches not waited for")

        def sent():
            return len(tuio.datagrams), xml.data.count(b"\0")

        outputs = sent()

        def check_quiet_since(n, what):
            if len(ctl.record()) != n:
                raise Disturbed("the service wrote to the frame during " + what)

        before, after = scenario(args.layout)
        n = settle_record()
        # A frame the service does not take (not in its list, not a frame)
        # gets no start-up command; its touches are played all the same,
        # with nothing to wait for.
        touch = bool(before) and n > 0
        sampled = False
        if before and not touch:
            notes.append("the service wrote nothing to the frame: touches not waited for")
        play(before)
        check_quiet_since(n, "the first touches")

        # Unplug and plug again; the replugged frame reports no valid
        # calibration, so a calibrated model reads back the other answer.
        fseq_end = b",si\0fseq\0\0\0\0\xff\xff\xff\xff"
        closing = sum(1 for d in tuio.datagrams if d.endswith(fseq_end))
        tick += 500
        clock.set(tick)
        ctl.command("unplug f")
        if touch:
            # The outputs stop: the closing bundles of both profiles.
            wait_until(
                lambda: sum(1 for d in tuio.datagrams if d.endswith(fseq_end)) >= closing + 2,
                WAIT_S,
                "the closing bundles after the unplug",
            )
        else:
            settle_record()
        ctl.command("set f calvalid=0")
        reads = clock.reads()
        tick += 500
        clock.set(tick)
        ctl.command("plug f")
        if touch:
            # The outputs start again (the publisher reads the tick once).
            wait_until(lambda: clock.reads() > reads, WAIT_S, "the outputs to start again")
        n = settle_record()
        play(after)
        check_quiet_since(n, "the touches after the replug")

        # The last sample (a lift) gives a bundle and a whole document.
        if touch:
            wait_until(
                lambda: all(now > then for now, then in zip(sent(), outputs)),
                WAIT_S,
                "the last sample's bundle and document",
            )

        service.send_signal(signal.SIGINT)
        try:
            status = service.wait(WAIT_S)
        except subprocess.TimeoutExpired:
            raise Failed("the service did not end after Ctrl+C")
        if status != 0:
            notes.append("the service ended with status %d" % status)
        wait_until(lambda: xml.closed, WAIT_S, "the XML connection to close")
        wait_quiet(lambda: len(tuio.datagrams), 0.2, "the last datagrams")
        tuio.stop = True
        records = ctl.record()
        ctl.command("quit")
        sim.wait(WAIT_S)

        # The first document of each output cycle is number 1: none was lost
        # before the client was attached.
        first = xml.data.split(b"\0")
        first = next((d for d in first if d), b"")
        if first and b'VALUE="fseq" /><ARGUMENT TYPE="i" VALUE="1" />' not in first:
            raise Disturbed("the XML client missed the first document")

        with open(args.out + ".records", "w") as f:
            f.writelines(r + "\n" for r in records)
        with open(args.out + ".tuio", "w") as f:
            f.writelines(d.hex() + "\n" for d in tuio.datagrams)
        with open(args.out + ".xml", "wb") as f:
            f.write(bytes(xml.data))
        with open(args.out + ".notes", "w") as f:
            f.writelines(n + "\n" for n in notes)
        return 0
    except Disturbed as e:
        print("wire-capture: %s: %s" % (args.model, e), file=sys.stderr)
        return 3
    except Failed as e:
        print("wire-capture: %s: %s" % (args.model, e), file=sys.stderr)
        return 1
    finally:
        for p in (service, sim):
            if p is not None and p.poll() is None:
                p.kill()
                p.wait()
        if os.environ.get("WIRE_KEEP"):
            print("wire-capture: %s: kept %s" % (args.model, work), file=sys.stderr)
        else:
            shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
