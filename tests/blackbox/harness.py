"""What the black-box scripts share: a virtual screen, the virtual camera on a
pseudo-terminal behind a link, the real panel window, xdotool, and the
camera's log read back as frames with their times.

Every process is started in a session of its own and ended by its process
group, so nothing started here outlives the script.
"""

import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parents[2]
BUILD = Path(os.environ.get("ZP_BUILD", ROOT / "build"))

# Frames the panel sends for lens motion: set command (0x21) to group 0x21.
MOTION_PREFIX = "02 21 21"
ZOOM_TELE_START = "02 21 21 01"
ZOOM_STOP = "02 21 21 02"
STARTS = {0x00: "zoom", 0x01: "zoom", 0x03: "focus", 0x04: "focus"}
STOPS = {0x02: "zoom", 0x05: "focus"}

# Where the controls are, from the top-left corner below the menu bar, for the
# 640x480 window the panel opens with (layout measured under this virtual screen, its
# fonts and no window manager). x of the motion buttons scales with the width.
TAB_Y = 17
TABS = ["C.ID", "Len", "AGC", "ALC", "BLC", "Col", "Ape", "Mot", "Pos", "Oth"]
TAB_X = [30, 80, 131, 181, 232, 280, 328, 378, 427, 476]
MOTION_Y = 85
MOTION_X = {"Wide": 98, "Tele": 236, "Far": 404, "Near": 542}


def _die_with_parent():
    # Even a script killed outright takes its processes with it.
    try:
        import ctypes
        ctypes.CDLL(None, use_errno=True).prctl(1, signal.SIGKILL)  # PR_SET_PDEATHSIG
    except (OSError, AttributeError):
        pass


def die(text):
    print(f"blackbox: {text}", file=sys.stderr)
    sys.exit(2)


def need_tools():
    for tool in ("Xvfb", "xdotool"):
        if shutil.which(tool) is None:
            die(f"{tool} is missing (Debian packages xvfb and xdotool; scripts/setup.sh installs them)")
    for exe in ("zoompanel", "camsim"):
        if not (BUILD / exe).exists():
            die(f"{BUILD / exe} is missing: build it first (make build)")


AT_SPI_LAUNCHER = "/usr/libexec/at-spi-bus-launcher"


def own_session_bus(flag):
    """Runs the script again under a session bus of its own, so a check never
    talks to a desktop's."""
    if os.environ.get(flag) != "1":
        os.environ[flag] = "1"
        try:
            os.execvp("dbus-run-session", ["dbus-run-session", "--", sys.executable, *sys.argv])
        except OSError as e:
            die(f"no dbus-run-session ({e}); Debian package dbus")


def need_atspi():
    """pyatspi, once the AT-SPI bus can be started."""
    try:
        import pyatspi
    except ImportError as e:
        die(f"{e}; Debian package python3-pyatspi")
    if not os.path.exists(AT_SPI_LAUNCHER):
        die("no AT-SPI bus launcher; Debian package at-spi2-core")
    return pyatspi


def find_in_panel(pyatspi, wanted, timeout=10.0):
    """The panel's first accessible object for which wanted(a) holds, found
    as a screen reader finds it; None when there is none in time."""
    desktop = pyatspi.Registry.getDesktop(0)
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        for i in range(desktop.childCount):
            app = desktop.getChildAtIndex(i)
            if app is not None and app.name == "zoompanel":
                found = pyatspi.findDescendant(app, lambda a: a is not None and wanted(a))
                if found is not None:
                    return found
        time.sleep(0.1)
    return None


class Session:
    """Owns the temporary directory and every process started through it."""

    def __init__(self, name, keep=False):
        self.dir = Path(tempfile.mkdtemp(prefix=f"zp-{name}-"))
        self.keep = keep
        self.procs = []
        self.env = dict(os.environ)
        # The panel remembers its port: here, never in the tester's own settings.
        self.env["XDG_CONFIG_HOME"] = str(self.dir / "config")
        self.display = None
        # A terminated script still ends what it started (through close()).
        signal.signal(signal.SIGTERM, lambda *_: sys.exit(143))

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

    def spawn(self, args, log, env=None):
        out = open(self.dir / log, "wb")
        p = subprocess.Popen(args, stdout=out, stderr=subprocess.STDOUT, stdin=subprocess.DEVNULL,
                             env=env or self.env, start_new_session=True,
                             preexec_fn=_die_with_parent)
        out.close()
        self.procs.append(p)
        return p

    def stop(self, p, timeout=3.0):
        def signal_group(sig):
            try:
                os.killpg(p.pid, sig)
            except ProcessLookupError:
                pass
            try:
                p.wait(timeout)
            except subprocess.TimeoutExpired:
                pass

        if p.poll() is None:
            signal_group(signal.SIGTERM)
        # The group may hold children even after its leader ended.
        signal_group(signal.SIGKILL)

    def close(self):
        for p in reversed(self.procs):
            self.stop(p)
        self.procs.clear()
        if not self.keep:
            shutil.rmtree(self.dir, ignore_errors=True)

    # ---- the virtual screen --------------------------------------------

    def start_screen(self):
        """Xvfb on a display number it picks itself (-displayfd)."""
        read_fd, write_fd = os.pipe()
        out = open(self.dir / "xvfb.log", "wb")
        # -fbdir keeps the screen in a file, for a picture when something fails.
        p = subprocess.Popen(["Xvfb", "-displayfd", str(write_fd), "-screen", "0", "1024x768x24",
                              "-fbdir", str(self.dir), "-nolisten", "tcp", "-noreset"],
                             stdout=out, stderr=subprocess.STDOUT, stdin=subprocess.DEVNULL,
                             pass_fds=(write_fd,), start_new_session=True,
                             preexec_fn=_die_with_parent)
        out.close()
        self.procs.append(p)
        os.close(write_fd)
        number = b""
        deadline = time.monotonic() + 15
        os.set_blocking(read_fd, False)
        while time.monotonic() < deadline and not number.endswith(b"\n"):
            try:
                chunk = os.read(read_fd, 16)
                if not chunk:
                    break
                number += chunk
            except BlockingIOError:
                if p.poll() is not None:
                    break
                time.sleep(0.05)
        os.close(read_fd)
        if not number.strip().isdigit():
            die("Xvfb did not start: " + (self.dir / "xvfb.log").read_text(errors="replace"))
        self.display = ":" + number.decode().strip()
        self.env["DISPLAY"] = self.display
        self.env["QT_QPA_PLATFORM"] = "xcb"
        self.env.pop("WAYLAND_DISPLAY", None)
        return self.display

    def screenshot(self, path):
        """Writes the screen as a PNG (from Xvfb's XWD frame buffer file)."""
        import struct
        import zlib
        try:
            data = (self.dir / "Xvfb_screen0").read_bytes()
        except OSError:
            return False
        h = struct.unpack(">25I", data[:100])
        header_size, width, height, bpp, line = h[0], h[4], h[5], h[11], h[12]
        ncolors = h[19]
        start = header_size + 12 * ncolors
        if bpp != 32:
            return False
        rows = []
        for y in range(height):
            row = data[start + y * line:start + y * line + width * 4]
            rgb = bytearray(width * 3)
            rgb[0::3], rgb[1::3], rgb[2::3] = row[2::4], row[1::4], row[0::4]
            rows.append(b"\0" + bytes(rgb))
        def chunk(kind, body):
            return (struct.pack(">I", len(body)) + kind + body +
                    struct.pack(">I", zlib.crc32(kind + body) & 0xFFFFFFFF))
        png = (b"\x89PNG\r\n\x1a\n" +
               chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0)) +
               chunk(b"IDAT", zlib.compress(b"".join(rows), 6)) + chunk(b"IEND", b""))
        Path(path).write_bytes(png)
        return True

    def xdo(self, *args, check=False, timeout=10):
        # XTEST input is handled in order, so no --sync: it waits for the
        # pointer to move, forever when it is already there.
        try:
            r = subprocess.run(["xdotool", *map(str, args)], env=self.env, capture_output=True,
                               text=True, timeout=timeout)
        except subprocess.TimeoutExpired:
            if check:
                raise
            return ""
        if check and r.returncode != 0:
            raise RuntimeError(f"xdotool {' '.join(map(str, args))}: {r.stderr.strip()}")
        return r.stdout

    def start_atspi(self):
        self.spawn([AT_SPI_LAUNCHER, "--launch-immediately"], "atspi.log")
        time.sleep(0.5)
        self.env["QT_LINUX_ACCESSIBILITY_ALWAYS_ON"] = "1"

    # ---- the camera and the panel --------------------------------------

    def start_camera(self, *options, log="camsim.log"):
        link = self.dir / "camera"
        p = self.spawn([str(BUILD / "camsim"), "--link", str(link), *map(str, options)], log)
        deadline = time.monotonic() + 10
        while time.monotonic() < deadline and not link.exists():
            if p.poll() is not None:
                die("camsim ended at once: " + (self.dir / log).read_text(errors="replace"))
            time.sleep(0.05)
        if not link.exists():
            die("camsim made no link")
        return Camera(p, self.dir / log, link)

    def start_panel(self, device, log="zoompanel.log"):
        p = self.spawn([str(BUILD / "zoompanel"), "--device", str(device)], log)
        return Panel(self, p, self.dir / log)


class Camera:
    def __init__(self, proc, log, link):
        self.proc = proc
        self.log = log
        self.link = link

    def pull(self):
        """Pulls the cable now; the line comes back about a second later."""
        os.kill(self.proc.pid, signal.SIGUSR1)

    def lines(self):
        """(time, text) for each line of the log, in the order written."""
        out = []
        try:
            text = self.log.read_text(errors="replace")
        except FileNotFoundError:
            return out
        for line in text.splitlines():
            m = re.match(r"camsim: (\d+\.\d+) (.*)$", line)
            if m:
                out.append((float(m.group(1)), m.group(2)))
        return out

    def frames(self):
        """(time, bytes as "02 21 ...", the whole line) for each unit received."""
        out = []
        for t, text in self.lines():
            m = re.search(r": in ([0-9A-F ]+?) -> out", text)
            if m:
                out.append((t, m.group(1), text))
        return out

    def events(self, word):
        return [(t, text) for t, text in self.lines() if word in text]

    def wait_frame(self, prefix, after=0.0, timeout=5.0):
        """Time of the first unit received after `after` that begins with prefix."""
        deadline = time.monotonic() + timeout
        while True:
            for t, data, _ in self.frames():
                if t > after and data.startswith(prefix):
                    return t
            if time.monotonic() >= deadline:
                return None
            time.sleep(0.02)

    def wait_event(self, word, after=0.0, timeout=5.0):
        deadline = time.monotonic() + timeout
        while True:
            for t, text in self.events(word):
                if t > after:
                    return t
            if time.monotonic() >= deadline:
                return None
            time.sleep(0.02)


class Panel:
    def __init__(self, session, proc, log):
        self.s = session
        self.proc = proc
        self.log = log
        self.window = None
        self.x = self.y = 0
        self.width, self.height = 640, 480

    def alive(self):
        return self.proc.poll() is None

    def how_it_ended(self):
        rc = self.proc.poll()
        if rc is None:
            return "running"
        if rc < 0:
            try:
                return f"killed by {signal.Signals(-rc).name}"
            except ValueError:
                return f"killed by signal {-rc}"
        return f"exited with {rc}"

    def windows(self):
        out = self.s.xdo("search", "--onlyvisible", "--pid", self.proc.pid, "--name", ".")
        return [w for w in out.split()]

    def geometry(self, window):
        out = self.s.xdo("getwindowgeometry", "--shell", window)
        g = dict(line.split("=", 1) for line in out.split() if "=" in line)
        return int(g.get("X", 0)), int(g.get("Y", 0)), int(g.get("WIDTH", 0)), int(g.get("HEIGHT", 0))

    def wait_window(self, timeout=20.0):
        """The main window: the panel's visible window at least 600 wide."""
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline and self.alive():
            for w in self.windows():
                x, y, width, height = self.geometry(w)
                if width >= 600 and height >= 400:
                    self.window, self.x, self.y, self.width, self.height = w, x, y, width, height
                    self.s.xdo("windowfocus", w)
                    return True
            time.sleep(0.2)
        return False

    def boxes(self):
        """Message boxes and other windows of the panel besides the main one."""
        return [w for w in self.windows() if w != self.window]

    def close_boxes(self):
        """Closes the panel's message boxes with Escape; returns how many were open."""
        boxes = self.boxes()
        for w in boxes:
            self.s.xdo("windowfocus", w, "key", "--clearmodifiers", "Escape")
        if boxes and self.window:
            self.s.xdo("windowfocus", self.window)
        return len(boxes)

    def at(self, rx, ry):
        # Offsets are below the menu bar: the window is 480 high without it.
        return self.x + rx, self.y + max(0, self.height - 480) + ry

    def motion_xy(self, button):
        # The two group boxes share the width, so x scales with it.
        return self.at(round(MOTION_X[button] * self.width / 640), MOTION_Y)

    def click(self, rx, ry):
        x, y = self.at(rx, ry)
        self.s.xdo("mousemove", x, y, "click", 1)

    def tab(self, name):
        self.click(TAB_X[TABS.index(name)], TAB_Y)

    def press(self, button):
        x, y = self.motion_xy(button)
        self.s.xdo("mousemove", x, y, "mousedown", 1)

    def release(self):
        self.s.xdo("mouseup", 1)


def settle(cam, quiet=0.6, timeout=10.0):
    """Waits until the camera has heard nothing for `quiet` seconds."""
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        frames = cam.frames()
        if frames and time.monotonic() - frames[-1][0] >= quiet:
            return True
        time.sleep(0.1)
    return False


def proc_stats(pid):
    """Resident memory in KiB and the number of open descriptors, or None."""
    try:
        status = Path(f"/proc/{pid}/status").read_text()
        rss = int(re.search(r"VmRSS:\s+(\d+)", status).group(1))
        fds = len(os.listdir(f"/proc/{pid}/fd"))
        return rss, fds
    except (FileNotFoundError, ProcessLookupError, AttributeError, PermissionError):
        return None

