#!/usr/bin/python3
"""Whether the window ever stops answering, as a desktop decides it: the real
window on a virtual screen, the camera answering at line speed, and the
desktop's ping (_NET_WM_PING) sent to the window every few milliseconds
while a tester reads the title at start, changes pages ten times and holds
Tele five times. Calls through the accessibility bridge, as a screen reader
makes them, are timed alongside.

Every ping must be answered within 30 ms, and so must every call through the
bridge. Prints PASS or FAIL with the figures; exits 1 on a failure, 2 when the
check could not run. ZP_BUILD names another build folder to measure.

Needs Debian's xvfb, xdotool, python3-xlib, dbus, at-spi2-core and
python3-pyatspi (the system's python3).
"""

import os
import select
import sys
import threading
import time

ALONE = "ZP_PING_BUS"
LIMIT_MS = 30.0
PING_EVERY_S = 0.004


class Pinger(threading.Thread):
    """Pings the window from a connection of its own; the answer comes back
    to the root window, where this connection listens."""

    def __init__(self, display_name, window):
        super().__init__(daemon=True)
        from Xlib import X, display
        from Xlib.protocol import event
        self.X, self.event = X, event
        self.d = display.Display(display_name)
        self.root = self.d.screen().root
        # Qt answers with both masks; without a window manager on this screen,
        # only a client that takes the redirection hears it.
        self.root.change_attributes(
            event_mask=X.SubstructureNotifyMask | X.SubstructureRedirectMask)
        self.window = self.d.create_resource_object("window", window)
        self.protocols = self.d.intern_atom("WM_PROTOCOLS")
        self.ping = self.d.intern_atom("_NET_WM_PING")
        self.lock = threading.Lock()
        self.sent = {}      # sequence number -> time sent
        self.late = []      # (time sent, answer time in ms)
        self.stop = threading.Event()
        self.recording = threading.Event()

    def run(self):
        n = 1
        next_at = time.monotonic()
        fd = self.d.fileno()
        while not self.stop.is_set():
            now = time.monotonic()
            if now >= next_at:
                ev = self.event.ClientMessage(
                    window=self.window, client_type=self.protocols,
                    data=(32, [self.ping, n, self.window.id, 0, 0]))
                self.window.send_event(ev, event_mask=0)
                self.d.flush()
                with self.lock:
                    self.sent[n] = now
                n += 1
                next_at = now + PING_EVERY_S
            ready, _, _ = select.select([fd], [], [], max(0.0, next_at - time.monotonic()))
            while self.d.pending_events():
                e = self.d.next_event()
                if (e.type == self.X.ClientMessage and e.client_type == self.protocols
                        and e.data[1][0] == self.ping):
                    with self.lock:
                        t0 = self.sent.pop(e.data[1][1], None)
                    if t0 is not None and self.recording.is_set():
                        self.late.append((t0, (time.monotonic() - t0) * 1000))

    def unanswered(self, now):
        """Pings still waiting, as the age in ms of the oldest."""
        with self.lock:
            waiting = list(self.sent.values()) if self.recording.is_set() else []
        return (now - min(waiting)) * 1000 if waiting else 0.0


def main():
    sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
    import harness as h
    h.own_session_bus(ALONE)
    pyatspi = h.need_atspi()
    try:
        import Xlib  # noqa: F401
    except ImportError as e:
        h.die(f"{e}; Debian package python3-xlib")
    h.need_tools()

    with h.Session("ping") as s:
        s.start_screen()
        s.start_atspi()
        cam = s.start_camera("--line-speed")
        panel = s.start_panel(cam.link)
        if not panel.wait_window():
            print(f"FAIL: no window ({panel.how_it_ended()})")
            return 1
        pinger = Pinger(s.display, int(panel.window))
        # From the start of the title read on: the link check starts with the
        # window, so recording begins at once.
        pinger.recording.set()
        pinger.start()

        # The status panel, as a screen reader finds it.
        status = h.find_in_panel(pyatspi, lambda a: (a.name or "").startswith("Link status"))
        if status is None:
            print("FAIL: the status panel is not reachable through the accessibility bridge")
            return 1

        bridge = []
        clicks = []
        done = threading.Event()

        def drive():
            # The link check and the five-part title read, then each page
            # once it has read its settings.
            def after(act):
                t = time.monotonic()
                act()
                # Its first frame, then the exchanges it starts.
                cam.wait_frame("02", after=t, timeout=3)
                h.settle(cam, quiet=0.4)

            h.settle(cam, quiet=0.4)
            for name in h.TABS[1:] + ["C.ID", "Len"]:
                clicks.append((time.monotonic(), name))
                after(lambda: panel.tab(name))
            for _ in range(5):
                after(lambda: panel.press("Tele"))
                after(panel.release)
            done.set()

        driver = threading.Thread(target=drive, daemon=True)
        driver.start()
        oldest = 0.0
        while not done.is_set() and panel.alive():
            t0 = time.monotonic()
            # Extents are never cached: each is a call into the window.
            status.queryComponent().getExtents(pyatspi.DESKTOP_COORDS)
            bridge.append((time.monotonic() - t0) * 1000)
            oldest = max(oldest, pinger.unanswered(time.monotonic()))
            time.sleep(0.01)
        time.sleep(0.1)
        pinger.stop.set()
        pinger.join(2)

        frames = [data for _, data, _ in cam.frames()]
        queries = {data[6:8] for data in frames if data.startswith("02 31")}
        starts = sum(1 for data in frames if data.startswith(h.ZOOM_TELE_START))
        stops = sum(1 for data in frames if data.startswith(h.ZOOM_STOP))
        late = [ms for _, ms in pinger.late]
        worst = max(late + [oldest]) if late else oldest
        over = sum(1 for ms in late if ms >= LIMIT_MS)
        worst_bridge = max(bridge) if bridge else 0.0
        ran = len(queries) >= 10 and starts >= 5 and stops >= 5 and panel.alive()
        ok = ran and worst < LIMIT_MS and worst_bridge < LIMIT_MS
        print(f"{'PASS' if ok else 'FAIL'}: {len(late)} pings, the latest answered after "
              f"{worst:.1f} ms, {over} of {LIMIT_MS:.0f} ms or more; {len(bridge)} calls "
              f"through the accessibility bridge, the slowest {worst_bridge:.1f} ms; "
              f"the camera saw {len(queries)} page queries, {starts} zoom starts, "
              f"{stops} stops ({panel.how_it_ended()})")
        if os.environ.get("ZP_DEBUG"):
            for t, name in clicks:
                print(f"click {t:.3f} {name}")
            for t, data, _ in cam.frames():
                print(f"frame {t:.3f} {data[:20]}")
        return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
