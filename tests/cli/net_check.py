"""Cameras behind the real ser2net: three virtual cameras (camsim) on
pseudo-terminals, one ser2net on 127.0.0.1 with an RFC 2217 and a raw TCP
port in front of each, and of a fourth line with nobody on it.

    net_check.py ZOOMPANEL ZOOMCTL CAMSIM [CASE...]

Cases: panel (start-up and a page exchange over rfc2217:// and tcp://),
site (backup of three cameras at once, one file restored to all three, in
about the time of one; a server gone and a server with no camera)."""

import json
import os
import socket
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from zoomctl_check import Camera, check, problems  # noqa: E402

ZOOMPANEL = ZOOMCTL = None


def free_port():
    s = socket.socket()
    s.bind(("127.0.0.1", 0))
    port = s.getsockname()[1]
    s.close()
    return port


class Ser2net:
    """One ser2net in front of the cameras: .rfc2217[i] and .tcp[i] name them."""

    def __init__(self, cameras):
        self.dir = tempfile.mkdtemp()
        self.config = os.path.join(self.dir, "ser2net.yaml")
        self.rfc2217, self.tcp = [], []
        lines = []
        for i, cam in enumerate(cameras):
            for kind, accepter in (("rfc2217", "telnet(rfc2217),tcp"), ("tcp", "tcp")):
                port = free_port()
                getattr(self, kind).append(f"{kind}://127.0.0.1:{port}")
                lines += [f"connection: &{kind}{i}",
                          f"  accepter: {accepter},127.0.0.1,{port}",
                          f"  connector: serialdev,{cam.path},9600n81,local",
                          "  options:", "    kickolduser: true"]
        with open(self.config, "w") as f:
            f.write("\n".join(lines) + "\n")
        self.proc = subprocess.Popen(["ser2net", "-n", "-u", "-c", self.config],
                                     stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        deadline = time.monotonic() + 10
        for name in self.rfc2217 + self.tcp:
            port = int(name.rsplit(":", 1)[1])
            while time.monotonic() < deadline:
                try:
                    socket.create_connection(("127.0.0.1", port), 0.2).close()
                    break
                except OSError:
                    time.sleep(0.05)
        time.sleep(0.3)  # the probes' connections let go of the devices

    def close(self):
        self.proc.terminate()
        self.proc.wait(5)


class Silent:
    """A pseudo-terminal with nobody at its far end: a server without a camera."""

    def __init__(self):
        self.master, self.slave = os.openpty()
        self.path = os.ttyname(self.slave)

    def close(self):
        os.close(self.master)
        os.close(self.slave)


def zoomctl(*args, timeout=180):
    p = subprocess.run([ZOOMCTL, "--quiet", *args], capture_output=True, text=True,
                       timeout=timeout)
    return p.returncode, p.stdout, p.stderr


TITLE_READ = ["31 10 01 00", "31 10 01 01", "31 10 01 02", "31 10 01 03", "31 10 00 00"]


def case_panel(cams, server):
    """The window starts over the network: ENQ, then the title page's five reads."""
    for i, device in ((0, server.rfc2217[0]), (1, server.tcp[1])):
        before = len(cams[i].units())
        env = dict(os.environ, QT_QPA_PLATFORM="offscreen", XDG_CONFIG_HOME=server.dir)
        panel = subprocess.Popen([ZOOMPANEL, "--device", device], env=env,
                                 stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        deadline = time.monotonic() + 15
        want = ["05"] + [f"02 {q}" for q in TITLE_READ]
        got = []
        while time.monotonic() < deadline:
            units = [u for u in cams[i].units()[before:] if u != "06"]
            got = [u if len(u) == 2 else u[:14] for u in units]
            if len(got) >= len(want):
                break
            time.sleep(0.1)
        panel.terminate()
        panel.wait(5)
        check(got[:len(want)] == want, f"panel over {device}: the camera heard {got}")
        print(f"panel over {device}: {len(got)} units, title read complete: {got[:len(want)] == want}")


def case_site(cams, server):
    tmp = tempfile.mkdtemp()
    devices = [a for d in server.rfc2217[:3] for a in ("--device", d)]
    started = time.monotonic()
    rc, out, err = zoomctl("--device", server.rfc2217[0], "--memories", "1-8", "backup",
                           os.path.join(tmp, "one.json"))
    one = time.monotonic() - started
    check(rc == 0, f"backup of one camera: exit {rc}: {err}")
    started = time.monotonic()
    rc, out, err = zoomctl(*devices, "--memories", "1-8", "backup", os.path.join(tmp, "site"))
    three = time.monotonic() - started
    check(rc == 0 and out.count(": ok, written to") == 3, f"backup of three: exit {rc}: {out}{err}")
    check(three < 2 * one, f"three backups took {three:.1f} s, one {one:.1f} s")
    print(f"backup: one camera {one:.1f} s, three at once {three:.1f} s")
    files = sorted(os.listdir(os.path.join(tmp, "site")))
    check(len(files) == 3, f"backup files: {files}")

    # Camera 0 gets another look; its file then goes to all three.
    time.sleep(0.5)  # ser2net lets go of the devices the backups had
    rc, out, err = zoomctl("--device", server.tcp[0], "set", "colour.ry_gain=+7", "alc.alc=FIX")
    check(rc == 0, f"set over tcp://: exit {rc}: {out}{err}")
    source = os.path.join(tmp, "source.json")
    time.sleep(0.5)  # ser2net lets go of the device the raw port had
    rc, out, err = zoomctl("--device", server.rfc2217[0], "--memories", "1-8", "backup", source)
    check(rc == 0, f"backup over rfc2217:// after tcp://: exit {rc}: {err}")
    started = time.monotonic()
    rc, out, err = zoomctl(*devices, "restore", source)
    took = time.monotonic() - started
    check(rc == 0 and out.count(": ok, holds") == 3, f"restore to three: exit {rc}: {out}{err}")
    print(f"restore of one file to three cameras: {took:.1f} s")
    # One server gone, one with no camera behind it: the other camera goes on,
    # and the exit code says not all did. The silent line is told within the
    # link check's own time, not after the connect limit as well.
    gone = f"rfc2217://127.0.0.1:{free_port()}"
    started = time.monotonic()
    rc, out, err = zoomctl("--device", server.rfc2217[1], "--device", gone,
                           "--device", server.rfc2217[3], "status")
    took = time.monotonic() - started
    lines = out.splitlines()
    check(rc == 1 and len(lines) == 3 and lines[0].endswith("ok, CAM LINK OK")
          and "Connection refused" in lines[1] and "No camera found" in lines[2],
          f"one camera of three gone, one silent: exit {rc}: {out}{err}")
    check(took < 9, f"status of a silent camera over the network took {took:.1f} s")
    print(f"status: one ok, one refused, one silent, in {took:.1f} s")


def main(argv):
    global ZOOMPANEL, ZOOMCTL
    import zoomctl_check
    ZOOMPANEL, ZOOMCTL, zoomctl_check.CAMSIM = argv[1], argv[2], argv[3]
    cams = [Camera() for _ in range(3)]
    silent = Silent()
    server = Ser2net(cams + [silent])
    try:
        cases = {"panel": case_panel, "site": case_site}
        for name in argv[4:] or cases:
            started = time.monotonic()
            cases[name](cams, server)
            print(f"{name}: {time.monotonic() - started:.1f} s")
    finally:
        server.close()
        for c in cams + [silent]:
            c.close()
    print("PASS" if not problems else f"{len(problems)} problem(s)")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
