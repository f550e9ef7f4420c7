#!/usr/bin/env python3
"""Run by tests/platform/with-framesim.sh with FRAMESIM_ARGS="--frame split-mt:f".

The live page in headless Chromium (over its DevTools protocol) and the
WebSocket output read by Python's websockets, during a simulated gesture: the
page's cursors, pixels, state and requests; the peer's messages against the
UDP datagrams; Origin refusal, ping, reconnection. Holds the service's ports.
"""
import argparse, asyncio, base64, itertools, json, os, signal, socket, struct, subprocess, sys
import tempfile, threading, time, urllib.request
import websockets

PAGE = "http://127.0.0.1:3334/"
W, H, DPR = 640, 400, 2  # the browser window (CSS pixels) and its device pixel ratio
HELD = (0.30, 0.40)
SWIPE = ((0.55, 0.30), (0.75, 0.70))
GESTURE = "gesture f 3000 0.3,0.4>0.3,0.4 0.55,0.3>0.75,0.7 step=20"
FRAME = "multi-touch frame 3301"  # the header's words for the simulator's split-mt frame
CURSOR, BACKGROUND = (255, 176, 0), (0x10, 0x14, 0x18)  # the page's colours
failures = []


def check(ok, what):
    print(("ok:   " if ok else "FAIL: ") + what, flush=True)
    if not ok:
        failures.append(what)


def wait_until(pred, seconds, step=0.05):
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        if pred():
            return True
        time.sleep(step)
    return pred()


def alive_message(ids):
    """The OSC message "/tuio/2Dcur alive IDS...", as the service encodes it."""
    pad = lambda b: b + b"\0" * (4 - len(b) % 4)
    ints = b"".join(struct.pack(">i", i) for i in ids)
    return pad(b"/tuio/2Dcur") + pad(b",s" + b"i" * len(ids)) + pad(b"alive") + ints


# A PNG's size and the RGB at fractions of it, decoded by the browser's own image decoder
# (from a Blob: the page's policy loads no images).
PIXELS = """(async () => {
  const png = Uint8Array.from(atob("%s"), c => c.charCodeAt(0));
  const img = await createImageBitmap(new Blob([png], { type: "image/png" }));
  const g = new OffscreenCanvas(img.width, img.height).getContext("2d"); g.drawImage(img, 0, 0);
  return [[img.width, img.height], ...%s.map(([x, y]) =>
    Array.from(g.getImageData(x * img.width, y * img.height, 1, 1).data.slice(0, 3)))]; })()"""


def near(rgb, want, tol=12):
    return all(abs(a - b) <= tol for a, b in zip(rgb, want))


class Devtools:
    """Commands and events of one Chromium page over the DevTools protocol."""

    def __init__(self, ws):
        self.ws, self.next, self.events, self.waiting = ws, 0, [], {}
        self.reader = asyncio.ensure_future(self.read())

    async def read(self):
        async for raw in self.ws:
            m = json.loads(raw)
            if "id" in m:
                self.waiting.pop(m["id"]).set_result(m)
            else:
                self.events.append(m)

    async def call(self, method, **params):
        self.next += 1
        self.waiting[self.next] = asyncio.get_running_loop().create_future()
        await self.ws.send(json.dumps({"id": self.next, "method": method, "params": params}))
        m = await asyncio.wait_for(self.waiting[self.next], 20)
        if "error" in m:
            raise RuntimeError(f"{method}: {m['error']}")
        return m["result"]

    async def metrics(self, width, height, ratio):
        await self.call("Emulation.setDeviceMetricsOverride", width=width, height=height,
                        deviceScaleFactor=ratio, mobile=False)

    async def live(self):
        r = await self.call("Runtime.evaluate", returnByValue=True, expression=(
            "JSON.stringify({live: window.vantrelLive, state: document.getElementById('state')"
            ".textContent, rate: document.getElementById('rate').textContent, frame: document"
            ".getElementById('frame').textContent, canvas: [document"
            ".getElementById('view').width, document.getElementById('view').height]})"))
        return json.loads(r["result"].get("value", "null") or "null")

    async def wait_live(self, pred, seconds):
        end = time.monotonic() + seconds
        while True:
            v = await self.live()
            if (v and pred(v)) or time.monotonic() > end:
                return v
            await asyncio.sleep(0.05)


class Processes:
    """The service and the browser, ended however the test ends; the simulator's control."""

    def __init__(self, args, tmp):
        self.args, self.tmp, self.procs = args, tmp, {}
        host, port = os.environ["FRAMESIM_ADDR"].split(":")
        self.control = socket.create_connection((host, int(port))).makefile("rw")

    def start(self, name, command, **kw):
        log = open(os.path.join(self.tmp, name + ".log"), "w")
        self.procs[name] = subprocess.Popen(command, stdout=log, stderr=subprocess.STDOUT, **kw)

    def sim_command(self, line):
        self.control.write(line + "\n")
        self.control.flush()
        return self.control.readline().strip()

    def start_service(self):
        ready = os.path.join(self.tmp, "ready")
        if os.path.exists(ready):
            os.remove(ready)
        self.start("vantrel", self.args.service + ["--ready-file", ready], cwd=self.tmp)
        if not wait_until(lambda: os.path.exists(ready), 20):
            sys.exit("the service did not start: " + self.log("vantrel"))

    def stop(self, name):
        p = self.procs.pop(name, None)
        if p and p.poll() is None and name == "vantrel" and self.args.service[-1].endswith(".exe"):
            # The tray program has no console: its own command ends it.
            subprocess.run(self.args.service + ["--quit"], stdout=subprocess.DEVNULL, timeout=30)
        elif p and p.poll() is None:
            p.send_signal(signal.SIGINT if name == "vantrel" else signal.SIGTERM)
        if p:
            try:
                p.wait(10)
            except subprocess.TimeoutExpired:
                p.kill()
                p.wait()

    def log(self, name):
        return open(os.path.join(self.tmp, name + ".log"), errors="replace").read()

    def close(self):
        for name in list(self.procs):
            self.stop(name)


def capture_udp(port=3333):
    """Every datagram that reaches 127.0.0.1:PORT from now on, in a list that grows."""
    sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    sock.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 1 << 22)
    sock.bind(("127.0.0.1", port))
    datagrams = []
    threading.Thread(target=lambda: [datagrams.append(sock.recv(65536)) for _ in iter(int, 1)],
                     daemon=True).start()
    return datagrams


def run_within(sub, seq):
    """True if SUB occurs in SEQ as one unbroken run."""
    return any(seq[i : i + len(sub)] == sub for i in range(len(seq) - len(sub) + 1))


def check_http(page_source):
    with urllib.request.urlopen(PAGE, timeout=5) as r:
        body, kind, cache = r.read(), r.headers["Content-Type"], r.headers["Cache-Control"]
        sniff, csp = r.headers["X-Content-Type-Options"], r.headers["Content-Security-Policy"] or ""
    check(body == page_source, "GET / serves output/web/LivePage.html byte for byte")
    check(kind == "text/html; charset=utf-8" and cache == "no-store", f"headers {kind}, {cache}")
    check(sniff == "nosniff" and csp.startswith("default-src 'none'; script-src 'sha256-")
          and "frame-ancestors 'none'" in csp, f"hardening headers {sniff}, {csp}")


async def ws_status(origin):
    """The HTTP status of a WebSocket upgrade that sends ORIGIN."""
    try:
        async with websockets.connect("ws" + PAGE[4:], origin=origin, open_timeout=5):
            return 101
    except websockets.exceptions.InvalidHandshake as e:
        return getattr(e, "status_code", None) or e.response.status_code


def start_browser(procs):
    """Headless Chromium with an empty page; the DevTools address of that page."""
    profile = os.path.join(procs.tmp, "chromium")
    procs.start("chromium", [
        "/usr/bin/chromium", "--headless", "--no-sandbox", "--disable-gpu", "--disable-quic",
        "--no-first-run", "--disable-background-networking", "--disable-component-update",
        "--disable-sync", "--user-data-dir=" + profile, "--remote-debugging-port=0",
        "about:blank"])
    port_file = os.path.join(profile, "DevToolsActivePort")
    if not wait_until(lambda: os.path.exists(port_file) and os.path.getsize(port_file), 30):
        sys.exit("chromium did not start: " + procs.log("chromium"))
    port = int(open(port_file).read().split()[0])
    targets = json.load(urllib.request.urlopen(f"http://127.0.0.1:{port}/json/list", timeout=5))
    return next(t for t in targets if t["type"] == "page")["webSocketDebuggerUrl"]


async def browse(procs, datagrams, out):
    async with websockets.connect(start_browser(procs), max_size=None) as ws:
        dt = Devtools(ws)
        await dt.call("Network.enable")
        await dt.call("Log.enable")  # a policy violation would be logged here
        await dt.metrics(W, H, DPR)
        await dt.call("Page.navigate", url=PAGE)
        v = await dt.wait_live(lambda v: v["live"]["state"] == "open", 15)
        check(v is not None and v["live"]["state"] == v["state"] == "open",
              f"the page connects and says so: {v}")

        async with websockets.connect("ws" + PAGE[4:], max_size=None) as peer:
            received = []
            collector = asyncio.ensure_future(peer_messages(peer, received))
            pong = await peer.ping()
            await asyncio.wait([pong], timeout=5)
            check(pong.done(), "a ping gets its pong")
            first = len(datagrams)
            loop = asyncio.get_running_loop()
            reply = await loop.run_in_executor(None, procs.sim_command, GESTURE)
            check(reply == "ok", "the simulator plays the gesture: " + reply)
            await asyncio.sleep(1.5)
            mid = await dt.live()
            shot = (await dt.call("Page.captureScreenshot", format="png"))["data"]
            empty = ((0.1, 0.9), (0.9, 0.9), (0.3, 0.6))
            spots = [(*HELD, CURSOR), *((x, y, BACKGROUND) for x, y in empty)]
            pixels = await dt.call("Runtime.evaluate", awaitPromise=True, returnByValue=True,
                                   expression=PIXELS % (shot, json.dumps(spots)))
            ended = await dt.wait_live(lambda v: not v["live"]["cursors"], 10)
            check(ended["live"]["cursors"] == [], "the cursors end when the alive list drops them")
            await asyncio.sleep(0.5)
            collector.cancel()
        gesture = datagrams[first:]
        await dt.metrics(W // 2, H, 1)
        v = await dt.wait_live(lambda v: v["canvas"] == [W // 2, H], 5)
        check(v["canvas"] == [W // 2, H], f"the canvas follows a resize: {v['canvas']}")
        check(await ws_status("http://evil.example") == 403, "a foreign Origin gets 403")
        # The header follows the frame (over the page's own connection).
        v = await dt.wait_live(lambda v: v["frame"] == FRAME, 10)
        check(v["frame"] == v["live"]["frame"] == FRAME, f"the header names the frame: {v['frame']}")
        for command, want in (("unplug f", "no frame"), ("plug f", FRAME)):
            reply = await loop.run_in_executor(None, procs.sim_command, command)
            v = await dt.wait_live(lambda v: v["frame"] == want, 10)
            check(reply == "ok" and v["frame"] == want, f"after {command}: {v['frame']}")
        header = (await dt.call("Page.captureScreenshot", format="png"))["data"]
        open(os.path.join(out, "live-page-frame.png"), "wb").write(base64.b64decode(header))
        procs.stop("vantrel")
        v = await dt.wait_live(lambda v: v["live"]["state"] == "closed", 5)
        check(v["live"]["state"] == v["state"] == "closed", "the page shows the service is gone")
        procs.start_service()
        v = await dt.wait_live(lambda v: v["live"]["state"] == "open", 20)
        check(v["live"]["state"] == "open", "and connects again when it is back")

    check(bool(received) and all(isinstance(m, bytes) for m in received), "binary messages only")
    check(run_within(received, datagrams), f"{len(received)} messages: datagrams, byte for byte")
    check(run_within(gesture, received), f"the gesture's {len(gesture)} datagrams all arrived")

    live = mid["live"]
    cursors = sorted(live["cursors"], key=lambda c: c["x"])
    check(len(cursors) == 2, f"two cursors mid-gesture: {cursors}")
    ids = {c["id"] for c in cursors}
    alive = [alive_message(order) for order in itertools.permutations(ids)]
    check(any(m in d for m in alive for d in gesture), f"ids {ids} are the service's sessions")
    if len(cursors) == 2:
        held, swipe = cursors
        check(abs(held["x"] - HELD[0]) + abs(held["y"] - HELD[1]) < 0.002, f"held: {held}")
        (x0, y0), (x1, y1) = SWIPE
        dx, dy, px, py = x1 - x0, y1 - y0, swipe["x"] - x0, swipe["y"] - y0
        length = (dx * dx + dy * dy) ** 0.5
        along, off = (px * dx + py * dy) / length**2, abs(px * dy - py * dx) / length
        check(0.1 < along < 0.9 and off < 0.005, f"swiping ({along:.2f}, {off:.4f}): {swipe}")
    check(mid["state"] == "open" and live["rate"] > 0 and mid["rate"] == str(live["rate"]),
          f"state and report rate shown: {mid['state']}, {mid['rate']} bundles/s")
    check(live["fseq"] > 0, f"frame sequence {live['fseq']}")

    open(os.path.join(out, "live-page.png"), "wb").write(base64.b64decode(shot))
    (w, h), *rgb = pixels["result"]["value"]
    check((w, h) == (W * DPR, H * DPR) and mid["canvas"] == [w, h],
          f"a {w}x{h} screenshot of a {mid['canvas']} canvas at {DPR}x")
    for (x, y, want), got in zip(spots, rgb):
        check(near(got, want), f"{want} at {x},{y}: {got}")

    urls = [e["params"].get("url") or e["params"]["request"]["url"] for e in dt.events
            if e["method"] in ("Network.requestWillBeSent", "Network.webSocketCreated")]
    urls = [u for u in urls if not u.startswith("data:")]  # the screenshot, decoded above
    check(PAGE in urls and all(u.split("//")[1].startswith("127.0.0.1:3334/") for u in urls),
          f"nothing loaded from outside: {urls}")
    refused = [e["params"]["entry"]["text"] for e in dt.events if e["method"] == "Log.entryAdded"
               and "Content Security Policy" in e["params"]["entry"]["text"]]
    check(not refused, f"the page's own script, style and WebSocket pass its policy: {refused}")


async def peer_messages(peer, received):
    async for m in peer:
        received.append(m)


def main():
    ap = argparse.ArgumentParser()
    for name in ("--page", "--out"):
        ap.add_argument(name, required=True, type=os.path.abspath)
    ap.add_argument("--service", required=True, type=str.split, help="its command, e.g. "
                    "'build/win64/wine-run.sh build/win64/app/Vantrel.exe'")
    args = ap.parse_args()
    if not os.access("/usr/bin/chromium", os.X_OK):
        print("SKIPPED: /usr/bin/chromium is missing (scripts/setup.sh installs it)")
        return 77
    with tempfile.TemporaryDirectory(prefix="live-page-") as tmp:
        procs = Processes(args, tmp)
        try:
            datagrams = capture_udp()
            procs.start_service()
            if not wait_until(lambda: socket.socket().connect_ex(("127.0.0.1", 3334)) == 0, 10):
                print("FAIL: nothing listens on 127.0.0.1:3334 (the service's WebSocket listener)")
                print(procs.log("vantrel"))
                return 1
            check_http(open(args.page, "rb").read())
            asyncio.run(browse(procs, datagrams, args.out))
        finally:
            procs.close()
            if failures:
                print("--- service output ---\n" + procs.log("vantrel"))
    print(f"{len(failures)} failed" if failures else "all passed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
