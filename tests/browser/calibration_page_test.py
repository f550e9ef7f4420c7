#!/usr/bin/env python3
"""Run by tests/platform/with-framesim.sh with FRAMESIM_ARGS="--frame split-mt:f".

The calibration page (GET /calibrate) in headless Chromium against the simulator:
a split-channel frame's conversation in the frame's target order, both verdicts,
Reset, Escape and an unplug in the middle; a single-channel frame's read-back
after it. The bytes the frame received are the dialog's for the same conversation;
a screenshot at each target has the cross and ring at the target window's pixels
for the page's size. Beside the browser, Python clients: a second page while one
calibrates, one that vanishes, a foreign Origin, a peer on a non-loopback address.
"""
import argparse, asyncio, base64, hashlib, json, os, re, struct, subprocess, sys, tempfile, time
import urllib.request
import websockets

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import live_page_test as lp  # noqa: E402
from live_page_test import check, wait_until  # noqa: E402

PAGE = "http://127.0.0.1:3334/calibrate"
W, H = 800, 600
ORDER = (1, 4, 3, 2)
SUCCESS = "Calibration successful."
TOO_LARGE = "Calibration error is too large.We recommend calibrate it again."
CANCELLED = "The calibration was cancelled."
LOST = "The frame was unplugged or lost: the calibration ended."


def command(code, sub=None, x=0, y=0):
    """A command as the frame receives it, after the report id, trailing zeros cut."""
    b = [code, sub or 0, 0, x, 0, 0, 0, y]
    while len(b) > 1 and b[-1] == 0:
        b.pop()
    return bytes(b)


START, ALL_DONE, CANCEL = command(1, 0), command(1, 5), command(0x10)
LEAVE, RB_PARAMS, RESET = command(1, 255), command(3), command(1, 6)
# The read-back fills only byte 1 of the shared buffer: byte 2 is the leave's.
# Its answer is followed by the mouse mode (on, after a read-back), as after the dialog.
READ_BACK, MOUSE_AFTER_READ_BACK = bytes([5, 255]), bytes([6, 1, 1])


def ack(n):
    return command(1, n, 14 if n in (2, 3) else 2, 14 if n in (3, 4) else 2)


def written(procs):
    """What the host wrote to the frame since the last "record clear"."""
    procs.control.write("record\n")
    procs.control.flush()
    out = []
    while True:
        line = procs.control.readline().strip()
        if not line.startswith("rec "):
            break
        kind, data = line.split()[3:5]
        if kind == "w":
            out.append(bytes.fromhex(data)[1:].rstrip(b"\0") or b"\0")
    return out


def ours(procs):
    """What a calibration sent: the record without the frame's own start-up commands (touch
    output, mouse mode) that its arrival's last steps may still be sending at the start."""
    got = written(procs)
    while got and got[0][0] not in (0x01, 0x03, 0x10):
        got.pop(0)
    return got


def expect_written(procs, want, what):
    wait_until(lambda: len(ours(procs)) >= len(want), 10)
    got = ours(procs)
    check(got == want, f"{what}: the frame received {[g.hex() for g in got]}")


PIXELS_AT = """(async () => {
  const png = Uint8Array.from(atob("%s"), c => c.charCodeAt(0));
  const img = await createImageBitmap(new Blob([png], { type: "image/png" }));
  const g = new OffscreenCanvas(img.width, img.height).getContext("2d"); g.drawImage(img, 0, 0);
  return [[img.width, img.height], ...%s.map(([x, y]) =>
    Array.from(g.getImageData(x, y, 1, 1).data.slice(0, 3)))]; })()"""
RED, FACE = (255, 0, 0), (0xF0, 0xF0, 0xF0)


class Page:
    def __init__(self, dt):
        self.dt = dt

    async def state(self):
        r = await self.dt.call("Runtime.evaluate", returnByValue=True,
                               expression="JSON.stringify(window.vantrelCalibration || null)")
        return json.loads(r["result"].get("value") or "null")

    async def wait(self, pred, seconds=15):
        end = time.monotonic() + seconds
        while True:
            v = await self.state()
            if (v and pred(v)) or time.monotonic() > end:
                return v
            await asyncio.sleep(0.05)

    async def click(self, element):
        r = await self.dt.call("Runtime.evaluate", returnByValue=True, expression=(
            f"(() => {{ const r = document.getElementById('{element}').getBoundingClientRect();"
            " return [r.x + r.width / 2, r.y + r.height / 2]; })()"))
        x, y = r["result"]["value"]
        for kind in ("mousePressed", "mouseReleased"):
            await self.dt.call("Input.dispatchMouseEvent", type=kind, x=x, y=y, button="left",
                               clickCount=1)

    async def escape(self):
        await self.dt.call("Input.dispatchKeyEvent", type="keyDown", key="Escape", code="Escape",
                           windowsVirtualKeyCode=27)

    async def calibrate(self, procs, targets):
        """Calibration clicked once it may be and the frame has nothing left of an earlier
        run to send; waits until the page has drawn each of `targets`."""
        await self.wait(lambda v: (v["state"] or {}).get("busy") == "none"
                        and v["state"]["calibratable"])
        wait_until(lambda: procs.sim_command("pending") == "ok 0", 10)
        procs.sim_command("record clear")
        await self.dt.call("Runtime.evaluate", expression="window.vantrelCalibration.shown = []")
        await self.click("calibration")
        # What the page drew, in order: the frame names the next target once
        # one is acknowledged, so a quick frame's targets are gone before a
        # look at the current one could catch each.
        for i, n in enumerate(targets):
            v = await self.wait(lambda v: v["shown"][:i + 1] == list(targets[:i + 1]))
            check(v["shown"][:i + 1] == list(targets[:i + 1]), f"the page draws target {n}: {v['shown']}")

    async def pixels(self, spots):
        shot = (await self.dt.call("Page.captureScreenshot", format="png"))["data"]
        r = await self.dt.call("Runtime.evaluate", awaitPromise=True, returnByValue=True,
                               expression=PIXELS_AT % (shot, json.dumps(spots)))
        return shot, r["result"]["value"]


def target_pixels(n, w, h):
    """Where the target window draws target n for a w by h screen, and its cross's half."""
    x = int(w * 0.125) if n in (1, 4) else int(w - w * 0.125)
    y = int(h * 0.125) if n in (1, 2) else int(h - h * 0.125)
    return x, y, int(w * 0.02) // 2


async def check_target(page, n, out):
    v = await page.state()
    w, h = v["size"]
    x, y, half = target_pixels(n, w, h)
    cross = [(x - half, y), (x + half - 1, y), (x, y - half), (x, y + half - 1)]
    # The ring's compass points that lie on the page, per radius it takes.
    rings = {r: [(px, py) for px, py in ((x + r, y), (x - r, y), (x, y + r), (x, y - r))
                 if 0 <= px < w and 0 <= py < h] for r in v["target"]["rings"]}
    ring = [p for points in rings.values() for p in points]
    shot, ((sw, sh), *rgb) = await page.pixels(cross + [(x + half + 1, y)] + ring)
    after = await page.state()
    if after["target"]["index"] != n:
        return check(False, f"target {n} was still shown for its screenshot")
    check((sw, sh) == (w, h), f"a {sw}x{sh} screenshot of a {w}x{h} page")
    check(all(lp.near(c, RED) for c in rgb[:4]) and lp.near(rgb[4], FACE),
          f"target {n}: the cross at {x},{y}, {2 * half} pixels: {rgb[:5]}")
    colour = dict(zip(ring, rgb[5:]))
    drawn = [r for r, points in rings.items()
             if len(points) >= 2 and all(lp.near(colour[p], RED) for p in points)]
    check(len(drawn) == 1, f"target {n}: a ring of one radius of {list(rings)} around it: {drawn}")
    if n == ORDER[0]:
        os.makedirs(out, exist_ok=True)
        open(os.path.join(out, "calibration-page-target.png"), "wb").write(base64.b64decode(shot))


async def result(page, text):
    v = await page.wait(lambda v: v["result"] == text and v["phase"] == "idle")
    check(v["result"] == text, f"the page shows {v['result']!r}")


class Peer:
    """Another client of /calibrate, with its messages as they come."""

    def __init__(self, ws):
        self.ws, self.messages = ws, []
        self.reader = asyncio.ensure_future(self.read())

    async def read(self):
        try:
            async for m in self.ws:
                self.messages.append(json.loads(m))
        except websockets.exceptions.ConnectionClosed:
            pass

    async def wait(self, pred, seconds=10):
        end = time.monotonic() + seconds
        while time.monotonic() < end:
            hit = [m for m in self.messages if pred(m)]
            if hit:
                return hit[-1]
            await asyncio.sleep(0.05)
        return None


def check_http(page_source):
    with urllib.request.urlopen(PAGE, timeout=5) as r:
        body, sniff = r.read(), r.headers["X-Content-Type-Options"]
        csp = r.headers["Content-Security-Policy"] or ""
    check(body == page_source, "GET /calibrate serves output/web/CalibrationPage.html")
    text = page_source.decode()
    hashes = ["'sha256-" + base64.b64encode(hashlib.sha256(m.encode()).digest()).decode() + "'"
              for tag in ("script", "style") for m in re.findall(f"<{tag}>(.*?)</{tag}>", text, re.S)]
    check(sniff == "nosniff" and csp.startswith("default-src 'none'; script-src ") and
          all(h in csp for h in hashes) and "frame-ancestors 'none'" in csp,
          f"headers of the page actually served: {sniff}, {csp}")


async def split_channel(procs, page, out):
    procs.sim_command("set f order=1432 verdict=0 target-delay=2500")
    v = await page.wait(lambda v: (v["state"] or {}).get("busy") == "none")
    check(v["state"]["class"] == "multi-touch" and v["state"]["splitChannel"],
          f"the page shows the frame: {v['state']}")
    async with websockets.connect("ws://127.0.0.1:3334/calibrate") as ws:
        second = Peer(ws)
        await page.calibrate(procs, ORDER[:1])
        busy = await second.wait(lambda m: m["type"] == "state" and m["busy"] == "page")
        await ws.send("calibrate 800 600")
        refused = await second.wait(lambda m: m["type"] == "error")
        check(busy is not None and refused and "another page" in refused["text"],
              f"a second page is told the frame is busy: {refused}")
        await check_target(page, ORDER[0], out)
        for n in ORDER[1:]:
            # The frame names the next target once the last one is acknowledged.
            await page.wait(lambda v: n in v["shown"] and (v["target"] or {}).get("index") == n)
            await check_target(page, n, out)
        await result(page, SUCCESS)
        expect_written(procs, [START] + [ack(n) for n in ORDER] + [ALL_DONE], "a calibration")
        free = await second.wait(lambda m: m["type"] == "state" and m["busy"] == "none")
        check(free is not None, "the second page is told the frame is free again")

    procs.sim_command("set f verdict=1 target-delay=50")
    await page.calibrate(procs, ORDER)
    await result(page, TOO_LARGE)
    expect_written(procs, [START] + [ack(n) for n in ORDER] + [ALL_DONE], "a large error")

    procs.sim_command("record clear")
    await page.click("reset")
    await page.wait(lambda v: "factory" in v["result"])
    expect_written(procs, [RESET], "Reset")

    procs.sim_command("set f target-delay=2000")
    await page.calibrate(procs, ORDER[:1])
    await page.escape()
    await result(page, CANCELLED)
    expect_written(procs, [START, ack(ORDER[0]), CANCEL], "Escape in the middle")

    await page.calibrate(procs, ORDER[:1])
    procs.sim_command("unplug f")
    await result(page, LOST)
    expect_written(procs, [START, ack(ORDER[0])], "an unplug in the middle")
    procs.sim_command("plug f")
    await page.wait(lambda v: (v["state"] or {}).get("present") and v["state"]["busy"] == "none")

    # A client that starts and vanishes: Escape's bytes, at once.
    wait_until(lambda: procs.sim_command("pending") == "ok 0", 10)
    procs.sim_command("record clear")
    ws = await websockets.connect("ws://127.0.0.1:3334/calibrate")
    peer = Peer(ws)
    await ws.send("calibrate 800 600")
    started = await peer.wait(lambda m: m["type"] == "calibrating")
    ws.transport.abort()
    gone = time.monotonic()
    wait_until(lambda: CANCEL in ours(procs), 10)
    took = time.monotonic() - gone
    got = ours(procs)
    check(started and got == [START, CANCEL] and took < 2.0,
          f"a vanished client's calibration ends as Escape would, after {took:.2f} s: "
          f"{[g.hex() for g in got]}")


async def refusals():
    try:
        async with websockets.connect("ws://127.0.0.1:3334/calibrate",
                                      origin="http://evil.example", open_timeout=5):
            status = 101
    except websockets.exceptions.InvalidHandshake as e:
        status = getattr(e, "status_code", None) or e.response.status_code
    check(status == 403, f"a foreign Origin gets {status}")
    lines = subprocess.run(["ip", "-4", "-o", "addr", "show", "scope", "global"],
                           capture_output=True, text=True).stdout.split()
    addresses = [w.split("/")[0] for i, w in enumerate(lines) if i and lines[i - 1] == "inet"]
    if not addresses:
        return print("skipped: no non-loopback address on this machine")
    async with websockets.connect(f"ws://{addresses[0]}:3334/calibrate") as ws:
        peer = Peer(ws)
        state = await peer.wait(lambda m: m["type"] == "state")
        await ws.send("calibrate 800 600")
        error = await peer.wait(lambda m: m["type"] == "error")
        check(state and state["local"] is False and error and "this machine" in error["text"],
              f"a peer on {addresses[0]} may not calibrate: {error}")


async def single_channel(procs, page):
    # A service reads a frame of the class it started with: it starts again with this one
    # (and the page connects again by itself).
    procs.stop("vantrel")
    procs.sim_command("unplug f")
    procs.sim_command("add single-b s order=1432 verdict=0 target-delay=50")
    procs.start_service()
    v = await page.wait(lambda v: (v["state"] or {}).get("class") == "single-channel"
                        and v["state"]["busy"] == "none")
    check(not v["state"]["splitChannel"], f"a single-channel frame: {v['state']}")
    await page.calibrate(procs, ORDER)
    await result(page, SUCCESS)
    expect_written(procs, [RB_PARAMS, START] + [ack(n) for n in ORDER] + [ALL_DONE, LEAVE,
                   READ_BACK, MOUSE_AFTER_READ_BACK], "a single-channel calibration, its Exit and read-back")
    state = procs.sim_command("state s")
    # The references and where the frame measured them, 12 units off each.
    check("calibrating=0 cal-valid=1 cal=512,512,3584,512,3584,3584,524,500,3596,500,3596,3572 "
          in state,
          f"the frame keeps its new calibration: {state}")
    # And the service maps through it: the frame reports the screen's middle as
    # (2048, 2048); measured 12 units right of and above the references, it is
    # (2036, 2060) of 4096 on the screen.
    datagrams = lp.capture_udp()
    procs.sim_command("touch s 0:down:0.5,0.5")
    wait_until(lambda: cursor_sets(datagrams), 10)
    procs.sim_command("touch s 0:up:0.5,0.5")
    got = cursor_sets(datagrams)[:1]
    check(got == [(2036 / 4096, 2060 / 4096)], f"a touch mapped through the read-back: {got}")


def cursor_sets(datagrams):
    """The (x, y) of every /tuio/2Dcur set message in these bundles, in order."""
    def padded(b, i):
        end = b.index(b"\0", i)
        return b[i:end].decode(), (end + 4) & ~3
    out = []
    for d in list(datagrams):
        i = 16  # "#bundle", its time tag
        while i + 4 <= len(d):
            (size,), i = struct.unpack(">i", d[i:i + 4]), i + 4
            m, i = d[i:i + size], i + size
            address, j = padded(m, 0)
            tags, j = padded(m, j)
            if address == "/tuio/2Dcur" and tags.startswith(",si") and m[j:j + 4] == b"set\0":
                out.append(struct.unpack(">ff", m[j + 8:j + 16]))
    return out


async def browse(procs, out):
    async with websockets.connect(lp.start_browser(procs), max_size=None) as ws:
        dt = lp.Devtools(ws)
        await dt.call("Log.enable")
        await dt.metrics(W, H, 1)
        await dt.call("Page.navigate", url=PAGE)
        page = Page(dt)
        await split_channel(procs, page, out)
        await refusals()
        await single_channel(procs, page)
        refused = [e["params"]["entry"]["text"] for e in dt.events if e["method"] == "Log.entryAdded"
                   and "Content Security Policy" in e["params"]["entry"]["text"]]
        check(not refused, f"the page's own script, style and WebSocket pass its policy: {refused}")


def main():
    ap = argparse.ArgumentParser()
    for name in ("--page", "--out"):
        ap.add_argument(name, required=True, type=os.path.abspath)
    ap.add_argument("--service", required=True, type=str.split)
    args = ap.parse_args()
    if not os.access("/usr/bin/chromium", os.X_OK):
        print("SKIPPED: /usr/bin/chromium is missing (scripts/setup.sh installs it)")
        return 77
    with tempfile.TemporaryDirectory(prefix="calibration-page-") as tmp:
        # Every interface, so that a peer on another address of this machine reaches it.
        config = os.path.join(tmp, "Vantrel.ini")
        open(config, "w").write("[Listen]\nWebSocketAddress=0.0.0.0\n")
        args.service += ["--config", config, "--log", "debug"]
        procs = lp.Processes(args, tmp)
        try:
            procs.start_service()
            if not wait_until(lambda: "websocket: listening on" in procs.log("vantrel"), 10):
                print("FAIL: the service does not listen on port 3334\n" + procs.log("vantrel"))
                return 1
            check_http(open(args.page, "rb").read())
            asyncio.run(browse(procs, args.out))
        finally:
            procs.close()
            if lp.failures:
                print("--- service output ---\n" + procs.log("vantrel"))
    print(f"{len(lp.failures)} failed" if lp.failures else "all passed")
    return 1 if lp.failures else 0


if __name__ == "__main__":
    sys.exit(main())
