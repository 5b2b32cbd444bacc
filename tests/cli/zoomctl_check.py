"""zoomctl against virtual cameras played by camsim on pseudo-terminals: the
frames on the line, what is printed, and the exit codes.

    zoomctl_check.py ZOOMCTL CAMSIM [CASE...]

Cases: frames, mistakes, failures, clone (all by default)."""

import json
import os
import re
import subprocess
import sys
import tempfile
import time

ZOOMCTL = CAMSIM = None
problems = []


def check(ok, what):
    if not ok:
        problems.append(what)
        print("FAIL:", what)
    return ok


class Camera:
    """A camsim on a new pseudo-terminal; .frames() is what it received."""

    def __init__(self, *options):
        self.log = tempfile.NamedTemporaryFile("w+", suffix=".log", delete=False)
        self.proc = subprocess.Popen([CAMSIM, *options], stdout=self.log, stderr=subprocess.STDOUT)
        deadline = time.monotonic() + 10
        self.path = None
        while self.path is None and time.monotonic() < deadline:
            m = re.search(r"connect to (\S+)", open(self.log.name).read())
            self.path = m.group(1) if m else time.sleep(0.02)
        if self.path is None:
            raise RuntimeError("camsim did not start: " + open(self.log.name).read())

    def units(self):
        return re.findall(r": in ([0-9A-F ]+) ->", open(self.log.name).read())

    def frames(self):
        return [u for u in self.units() if len(u.split()) == 18]

    def settled_units(self):
        """units() once the log has stopped growing: the last ACK of a run
        may reach the camera after zoomctl has exited."""
        units = self.units()
        while True:
            time.sleep(0.3)
            now = self.units()
            if now == units:
                return units
            units = now

    def close(self):
        self.proc.terminate()
        self.proc.wait(5)
        os.unlink(self.log.name)


def zoomctl(camera, *args, timeout=120):
    device = ["--device", camera.path] if camera else []
    p = subprocess.run([ZOOMCTL, *device, "--quiet", *args], capture_output=True, text=True,
                       timeout=timeout)
    return p.returncode, p.stdout, p.stderr


def frame(payload):
    """The 18-byte frame of payload bytes 1..n, as camsim prints it."""
    b = bytes.fromhex(payload)
    f = bytearray(18)
    f[0] = 0x02
    f[1:1 + len(b)] = b
    f[16] = 0x03
    f[17] = (-sum(f[:17])) & 0xFF
    return " ".join(f"{x:02X}" for x in f)


# An assignment and the frames the pages' tables give for it.
SETS = [
    ("agc.priority=SENS", ["02 21 1A 04 01 00 00 00 00 00 00 00 00 00 00 00 03 BB"]),
    ("alc.aes_fix_level=1/10000", ["02 21 48 05 07 00 00 00 00 00 00 00 00 00 00 00 03 86"]),
    ("title.display=ON", ["02 21 10 00 01 00 00 00 00 00 00 00 00 00 00 00 03 C9"]),
    ("title.position=DOWN", ["02 21 10 03 01 00 00 00 00 00 00 00 00 00 00 00 03 C6"]),
    ("other.phase_level=8", ["02 21 54 06 08 00 00 00 00 00 00 00 00 00 00 00 03 78"]),
    ("position.save=3 007BFFFF2D48", ["02 21 52 01 03 00 7B FF FF 2D 48 00 00 00 00 00 03 96"]),
    ("title.text=CAM1", ["02 21 10 01 00 00 12 00 10 00 1C 00 01 01 FE 00 03 8B",
                         "02 21 10 01 01 01 FE 01 FE 01 FE 01 FE 01 FE 00 03 CD",
                         frame("21 10 01 02" + " 01 FE" * 5), frame("21 10 01 03" + " 01 FE" * 5)]),
    ("lens.zoom_step=-001", [frame("21 21 0A FF FF")]),
    ("blc.area=00003C3C0000", [frame("21 18 02 00 00 3C 3C 00 00")]),
]


def case_frames():
    cam = Camera()
    try:
        rc, out, err = zoomctl(cam, "set", *[a for a, _ in SETS])
        want = [f for _, fs in SETS for f in fs]
        sets = [f for f in cam.frames() if f.split()[1] == "21"]
        check(rc == 0, f"set: exit {rc}: {err}")
        check(sets == want, "set: the frames on the line\n  got  " + "\n       ".join(sets) +
              "\n  want " + "\n       ".join(want))
        check("agc.priority = SENS" in out and "title.text = CAM1" in out,
              f"set: the values read back are not printed: {out}")
        before = len(cam.frames())
        rc, out, err = zoomctl(cam, "raw", "31 1B 00 00")
        got = cam.frames()[before:]
        check(rc == 0 and got == [frame("31 1B 00 00")], f"raw: exit {rc}, frames {got}")
        check("reply 02 A0 1B" in out and "White Balance AUTO" in out, f"raw: the reply: {out}")
    finally:
        cam.close()


def case_mistakes():
    """Every mistake exits 2 and sends nothing: the camera hears not even ENQ."""
    cam = Camera()
    tmp = tempfile.mkdtemp()
    try:
        rc, good, err = zoomctl(cam, "get", "--json", "colour", "other")
        check(rc == 0, f"get --json: exit {rc}: {err}")
        base = json.loads(good)
        bad_value = json.loads(good)
        bad_value["pages"]["colour"]["settings"]["colour.ry_gain"] = "+9"
        newer = dict(base, schema=2)
        cases = [
            ("bad value", json.dumps(bad_value), "R-Y Gain: no item \"+9\""),
            ("newer schema", json.dumps(newer), "newer than this program"),
            ("not JSON", good[: len(good) // 2], "not a JSON file"),
        ]
        heard = len(cam.settled_units())
        for name, text, expect in cases:
            path = os.path.join(tmp, name.replace(" ", "_") + ".json")
            with open(path, "w") as f:
                f.write(text)
            rc, out, err = zoomctl(cam, "restore", path)
            check(rc == 2 and expect in err and "nothing was sent" in err,
                  f"restore of a file with a {name}: exit {rc}, {err!r}")
        for args, expect in [
            (["set", "colour.white_balance=AUTO", "alc.alc=HALF"], "ALC: no item \"HALF\"; one of: AUTO, FIX"),
            (["set", "colour.whitebalance=AUTO"], "colour has: colour.white_balance"),
            (["set", "alc.alc"], "is not ID=VALUE"),
            (["get", "nopage"], "no page \"nopage\""),
            (["raw", "31 1G"], "not a hexadecimal digit"),
            (["frobnicate"], "unknown command"),
            (["backup", "--memories", "5-2"], "--memories takes"),
        ]:
            rc, out, err = zoomctl(cam, *args)
            check(rc == 2 and expect in err, f"{' '.join(args)}: exit {rc}, {err!r}")
        units = cam.settled_units()
        check(len(units) == heard, f"the line did not stay quiet: {units[heard:]}")
    finally:
        cam.close()


def case_failures():
    """A camera that never answers, and a line that goes away: a clear message,
    exit 1, and no hang."""
    master, slave = os.openpty()
    started = time.monotonic()
    rc, out, err = zoomctl(None, "--device", os.ttyname(slave), "status", timeout=60)
    check(rc == 1 and "No camera found" in err, f"nobody on the line: exit {rc}, {err!r}")
    print(f"nobody on the line: exit {rc} after {time.monotonic() - started:.1f} s: {err.strip()}")
    os.close(master)
    os.close(slave)
    for options, args, expect in [
        (["--fault", "hang-up", "--fault-on", "02 31 1B"], ["get", "colour"], "lost"),
    ]:
        cam = Camera(*options)
        try:
            started = time.monotonic()
            rc, out, err = zoomctl(cam, *args, timeout=60)
            took = time.monotonic() - started
            check(rc == 1 and expect in err, f"{options} {args}: exit {rc}, {err!r}")
            print(f"{' '.join(options)}: exit {rc} after {took:.1f} s: {err.strip()}")
        finally:
            cam.close()
    rc, out, err = zoomctl(None, "--device", "/nonexistent/tty", "status")
    check(rc == 1 and "/nonexistent/tty" in err, f"a missing device: exit {rc}, {err!r}")


def case_clone():
    """Camera A changed on every page through set; backup of A restored to B;
    the backup of B is A's but for time and device. Both cameras take a level
    only while its mode uses it."""
    a, b = Camera("--interlocks"), Camera("--interlocks")
    tmp = tempfile.mkdtemp()
    try:
        changes = [
            "title.text=GATE 2", "title.display=ON", "title.position=DOWN",
            "lens.zoom_step=0123", "lens.digital_zoom=ON",
            "agc.priority=SENS", "agc.sens_level=x16", "agc.agc_level=+3",
            "alc.alc=FIX", "alc.alc_fix_level=+6", "alc.aes=AUTO", "alc.aes_auto_level=+2",
            "blc.blc=ON", "blc.level=+2", "blc.area=0102030405FF", "blc.blc=OFF",
            "colour.white_balance=ONE PUSH", "colour.one_push_level=BLUE+",
            "aperture.h_gain=+9", "aperture.v_gain=MIN",
            "motion.detection=ON", "motion.area=FF00FF00FF00", "motion.time=60sec",
            "position.alarm=7", "position.save=2 007BFFFF2D48",
            "other.phase=ON", "other.phase_level=20", "other.negative=ON",
        ]
        rc, out, err = zoomctl(a, "set", *changes)
        check(rc == 0, f"set on A: exit {rc}: {out}{err}")
        fa, fb = os.path.join(tmp, "a.json"), os.path.join(tmp, "b.json")
        rc, out, err = zoomctl(a, "backup", "--memories", "1-3", fa)
        check(rc == 0, f"backup of A: exit {rc}: {err}")
        rc, out, err = zoomctl(b, "restore", fa)
        check(rc == 0 and out == "", f"restore to B: exit {rc}: {out}{err}")
        rc, out, err = zoomctl(b, "backup", "--memories", "1-3", fb)
        check(rc == 0, f"backup of B: exit {rc}: {err}")
        ja, jb = json.load(open(fa)), json.load(open(fb))
        for j in (ja, jb):
            del j["time"], j["device"]
        check(ja == jb, "B's backup differs from A's:\n" + "\n".join(
            f"  {k}: {ja['pages'].get(k)} / {jb['pages'].get(k)}"
            for k in ja["pages"] if ja["pages"].get(k) != jb["pages"].get(k)))
        check(ja["pages"]["other"]["replies"][0].split()[10] == "14",
              "the phase level past the last item (20) did not survive the clone")
        # A partial, edited file: only its page is set, the edited level through
        # the mode that takes it, though B's mode was changed since.
        rc, out, err = zoomctl(b, "set", "alc.alc=AUTO")
        with open(fa) as f:
            j = json.load(f)
        j["pages"] = {"alc": j["pages"]["alc"]}
        j["memories"] = []
        j["pages"]["alc"]["settings"]["alc.alc_auto_level"] = "MAX"
        partial = os.path.join(tmp, "partial.json")
        with open(partial, "w") as f:
            json.dump(j, f)
        rc, out, err = zoomctl(b, "restore", partial)
        check(rc == 0, f"restore of an edited partial file: exit {rc}: {out}{err}")
        rc, out, err = zoomctl(b, "get", "alc")
        check("alc.alc = FIX" in out and "alc.alc_auto_level = MAX" in out,
              f"the edited level did not arrive through its mode: {out}")
    finally:
        a.close()
        b.close()


def main(argv):
    global ZOOMCTL, CAMSIM
    ZOOMCTL, CAMSIM = argv[1], argv[2]
    cases = {"frames": case_frames, "mistakes": case_mistakes, "failures": case_failures,
             "clone": case_clone}
    for name in argv[3:] or cases:
        started = time.monotonic()
        cases[name]()
        print(f"{name}: {time.monotonic() - started:.1f} s")
    print("PASS" if not problems else f"{len(problems)} problem(s)")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
