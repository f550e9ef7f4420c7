#!/usr/bin/env python3
"""Compares two capture directories of scripts/wire-capture.sh model by model
and prints "same" or the first differences; exit status 1 on any difference.

Masked before comparing, since it is real time:
  - the time column of the simulator's record (milliseconds since the
    simulator started; when the service wrote is not compared, only what,
    where and in which order).
Nothing else is masked: the service's tick is fixed during a capture, so
the TUIO speeds and acceleration and the idle bundles are compared byte for
byte. --mask-speeds also masks the speed and acceleration floats of
/tuio/2Dcur set messages (for captures taken without the fixed clock).
"""
import argparse
import difflib
import os
import struct
import sys

SHOWN = 6  # differing lines shown per file


def osc_string(b, at):
    end = b.index(b"\0", at)
    return b[at:end].decode("latin-1"), (end + 4) & ~3


def osc_message(b):
    """(address, [(type, value, offset)]) of one OSC message."""
    address, at = osc_string(b, 0)
    tags, at = osc_string(b, at)
    args = []
    for t in tags[1:]:
        if t == "s":
            v, nxt = osc_string(b, at)
        elif t in "if":
            v = struct.unpack(">i" if t == "i" else ">f", b[at : at + 4])[0]
            nxt = at + 4
        else:
            raise ValueError("type " + t)
        args.append((t, v, at))
        at = nxt
    return address, args


def bundle_messages(b):
    """(offset, bytes) of each message of a bundle, or of the one message."""
    if not b.startswith(b"#bundle\0"):
        return [(0, b)]
    out, at = [], 16
    while at + 4 <= len(b):
        n = struct.unpack(">i", b[at : at + 4])[0]
        out.append((at + 4, b[at + 4 : at + 4 + n]))
        at += 4 + n
    return out


def decode(hexline):
    """A datagram as text, for showing differences."""
    try:
        b = bytes.fromhex(hexline)
        parts = []
        for _, m in bundle_messages(b):
            address, args = osc_message(m)
            parts.append(
                address
                + " "
                + " ".join(repr(v) if t == "f" else str(v) for t, v, _ in args)
            )
        return "; ".join(parts)
    except (ValueError, struct.error, IndexError):
        return "(not OSC) " + hexline


def mask_speeds(hexline):
    b = bytearray(bytes.fromhex(hexline))
    try:
        for offset, m in bundle_messages(bytes(b)):
            address, args = osc_message(m)
            if address == "/tuio/2Dcur" and args and args[0][1] == "set" and len(args) >= 7:
                for _, _, at in args[4:7]:  # x speed, y speed, acceleration
                    b[offset + at : offset + at + 4] = b"\0\0\0\0"
    except (ValueError, struct.error, IndexError):
        pass
    return b.hex()


def read_lines(path):
    if not os.path.exists(path):
        return None
    with open(path, "rb") as f:
        return f.read().decode("latin-1").splitlines()


def records(path):
    lines = read_lines(path)
    if lines is None:
        return None
    out = []
    for l in lines:
        w = l.split(" ", 2)
        out.append(w[0] + " - " + w[2] if len(w) == 3 and w[0] == "rec" else l)
    return out


def tuio(path, masked):
    lines = read_lines(path)
    if lines is None or not masked:
        return lines
    return [mask_speeds(l) for l in lines]


def xml(path):
    """One line per document (each ends with a zero byte)."""
    if not os.path.exists(path):
        return None
    with open(path, "rb") as f:
        data = f.read().decode("latin-1")
    docs = data.split("\0")
    if docs and docs[-1] == "":
        docs.pop()
    else:
        docs[-1:] = [docs[-1] + " (no closing zero byte)"] if docs else []
    return [d if d else "(empty document)" for d in docs]


def first_differences(a, b, show):
    out = []
    sm = difflib.SequenceMatcher(None, a, b, autojunk=False)
    for tag, i1, i2, j1, j2 in sm.get_opcodes():
        if tag == "equal":
            continue
        out.append("    at line %d (A) / %d (B): %s" % (i1 + 1, j1 + 1, tag))
        if [show(l) for l in a[i1:i2]] == [show(l) for l in b[j1:j2]]:
            show = str  # the difference is in bytes the decoded form leaves out
        for l in a[i1 : min(i2, i1 + SHOWN)]:
            out.append("    - " + show(l))
        for l in b[j1 : min(j2, j1 + SHOWN)]:
            out.append("    + " + show(l))
        if len(out) > 4 * SHOWN:
            out.append("    ...")
            break
    return out


def load_set(d, m, masked):
    """The normalised files of model m in capture directory d (None: absent)."""
    kinds = [
        ("records", records),
        ("tuio", lambda p: tuio(p, masked)),
        ("xml", xml),
        ("notes", read_lines),
    ]
    return {kind: load(os.path.join(d, m + "." + kind)) for kind, load in kinds}


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("a")
    ap.add_argument("b")
    ap.add_argument("--mask-speeds", action="store_true")
    ap.add_argument("--model", action="append", help="only these models")
    ap.add_argument("--quiet", action="store_true")
    args = ap.parse_args()
    say = (lambda *a: None) if args.quiet else print
    for d in (args.a, args.b):
        if not os.path.isdir(d):
            print("wire-compare: no directory %s" % d, file=sys.stderr)
            return 2

    def models(d):
        return {f.rsplit(".", 1)[0] for f in os.listdir(d) if f.endswith(".records")}

    names = sorted(args.model or (models(args.a) | models(args.b)))
    if not names:
        say("wire-compare: no captures in %s or %s" % (args.a, args.b))
        return 1
    shows = {"records": str, "tuio": decode, "xml": str, "notes": str}
    different = 0
    for m in names:
        a = load_set(args.a, m, args.mask_speeds)
        b = load_set(args.b, m, args.mask_speeds)
        if a == b and a["records"] is not None:
            say("%s: same" % m)
            continue
        different += 1
        problems = []
        for kind, show in shows.items():
            if a[kind] is None or b[kind] is None:
                if a[kind] is not b[kind]:
                    problems.append("  %s: only in %s" % (kind, args.a if b[kind] is None else args.b))
            elif a[kind] != b[kind]:
                problems.append("  %s: %d lines (A) against %d (B)" % (kind, len(a[kind]), len(b[kind])))
                problems += first_differences(a[kind], b[kind], show)
        say("%s: DIFFERENT" % m)
        say("\n".join(problems))
    say("wire-compare: %d of %d models differ" % (different, len(names)))
    return 1 if different else 0


if __name__ == "__main__":
    sys.exit(main())
