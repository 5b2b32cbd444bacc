#!/usr/bin/env python3
"""A tester's soak: random operator actions in the real window (tabs, clicks on
whatever is there, motion buttons held and released, drags, typing, keys, the
mouse wheel) for a few minutes, against a virtual camera that misbehaves on a
random one exchange in eight and loses its cable about once a minute.

At the end it checks that the panel still runs, that every zoom or focus
start on the line was followed by its stop, and that resident memory and open
descriptors did not grow between the end of the first minute and the end.
Exits 1 when a check failed, 2 when the soak itself could not run.
"""

import argparse
import random
import sys
import time

import harness as h

# The page area, from the window's corner: below the tabs, above the status
# bar. The row of motion buttons is left out: the script presses those itself,
# alternating the direction per axis, so that every start on the line can be
# told from a repeat of the same one.
PAGE = (8, 36, 632, 450)
MOTION_ROW = (68, 102)
STATUS_Y = 467
KEYS = ["Up", "Down", "Left", "Right", "Page_Up", "Page_Down", "Home", "End", "space", "Tab",
        "shift+Tab", "Return", "BackSpace", "Delete", "minus", "plus", "F5"]


class Soak:
    def __init__(self, s, panel, rng, log):
        self.s, self.panel, self.rng, self.log = s, panel, rng, log
        self.next_direction = {"zoom": "Tele", "focus": "Far"}
        self.counts = {}

    def note(self, text):
        self.log.write(f"{time.monotonic():.3f} {text}\n")
        self.log.flush()

    def page_point(self):
        for _ in range(20):
            x = self.rng.randint(PAGE[0], PAGE[2])
            y = self.rng.randint(PAGE[1], PAGE[3])
            if not MOTION_ROW[0] <= y <= MOTION_ROW[1]:
                return x, y
        return PAGE[0], PAGE[3]

    def act(self):
        actions = [
            (10, self.tab_click), (4, self.tab_key), (25, self.click), (25, self.motion),
            (8, self.drag), (8, self.type_digits), (10, self.key), (5, self.wheel),
            (3, self.double_click), (2, self.status_click),
        ]
        pick = self.rng.choices([a for _, a in actions], weights=[w for w, _ in actions])[0]
        self.counts[pick.__name__] = self.counts.get(pick.__name__, 0) + 1
        pick()

    def tab_click(self):
        name = self.rng.choice(h.TABS)
        self.note(f"tab {name}")
        self.panel.tab(name)

    def tab_key(self):
        key = self.rng.choice(["ctrl+Tab", "ctrl+shift+Tab"])
        self.note(f"key {key}")
        self.s.xdo("key", key)

    def click(self):
        x, y = self.page_point()
        self.note(f"click {x},{y}")
        self.panel.click(x, y)

    def double_click(self):
        x, y = self.page_point()
        self.note(f"double click {x},{y}")
        ax, ay = self.panel.at(x, y)
        self.s.xdo("mousemove", ax, ay, "click", "--repeat", 2, "--delay", 80, 1)

    def status_click(self):
        # The Reconnect button lives in the status bar when the link is down.
        x = self.rng.randint(420, 636)
        self.note(f"status bar click {x}")
        self.panel.click(x, STATUS_Y)

    def motion(self):
        axis = self.rng.choice(["zoom", "focus"])
        button = self.next_direction[axis]
        other = {"Tele": "Wide", "Wide": "Tele", "Far": "Near", "Near": "Far"}
        self.next_direction[axis] = other[button]
        hold = self.rng.uniform(0.05, 1.0)
        self.note(f"tab Len, hold {button} {hold:.2f} s")
        self.panel.tab("Len")
        time.sleep(self.rng.uniform(0.0, 0.3))
        try:
            self.panel.press(button)
            time.sleep(hold)
        finally:
            self.panel.release()
        self.note(f"released {button}")

    def drag(self):
        x0, y0 = self.page_point()
        x1, y1 = self.page_point()
        self.note(f"drag {x0},{y0} -> {x1},{y1}")
        ax, ay = self.panel.at(x0, y0)
        self.s.xdo("mousemove", ax, ay, "mousedown", 1)
        try:
            for i in range(1, 6):
                bx, by = self.panel.at(x0 + (x1 - x0) * i // 5, y0 + (y1 - y0) * i // 5)
                self.s.xdo("mousemove", bx, by)
                time.sleep(0.03)
        finally:
            self.panel.release()

    def type_digits(self):
        x, y = self.page_point()
        text = "".join(self.rng.choice("0123456789-") for _ in range(self.rng.randint(1, 4)))
        end = self.rng.choice(["Return", "Tab", ""])
        self.note(f"type {text!r} at {x},{y} then {end or 'nothing'}")
        self.panel.click(x, y)
        self.s.xdo("type", "--delay", 30, text)
        if end:
            self.s.xdo("key", end)

    def key(self):
        key = self.rng.choice(KEYS)
        self.note(f"key {key}")
        self.s.xdo("key", key)

    def wheel(self):
        x, y = self.page_point()
        button = self.rng.choice([4, 5])
        self.note(f"wheel {'up' if button == 4 else 'down'} at {x},{y}")
        ax, ay = self.panel.at(x, y)
        self.s.xdo("mousemove", ax, ay, "click", "--repeat", self.rng.randint(1, 3),
                   button)


def line_settled(cam, after_pull=5.0):
    """True when the last pull is long enough ago for the panel to be back on
    the line: its descriptors are then those of a connected panel."""
    pulls = cam.events("cable pulled")
    return not pulls or time.monotonic() - pulls[-1][0] >= after_pull


def unstopped(frames):
    """Zoom and focus starts on the line that no stop followed: [(time, line)].

    Within an axis the soak alternates the direction, so the same start twice
    in a row is the panel sending it again, and a start of the other
    direction before a stop means the earlier stop never went out.
    """
    open_start = {"zoom": None, "focus": None}
    missing = []
    for t, data, text in frames:
        parts = data.split()
        if len(parts) != 18 or " ".join(parts[:3]) != h.MOTION_PREFIX:
            continue
        item = int(parts[3], 16)
        if item in h.STARTS:
            axis = h.STARTS[item]
            before = open_start[axis]
            if before is not None and before[2] != item:
                missing.append(before[:2])
            if before is None or before[2] != item:
                open_start[axis] = (t, text, item)
        elif item in h.STOPS:
            open_start[h.STOPS[item]] = None
    missing += [o[:2] for o in open_start.values() if o is not None]
    return sorted(missing)


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("--duration", type=float, default=180, help="seconds of actions (default 180)")
    ap.add_argument("--seed", type=int, default=None, help="seed for the actions and the camera")
    ap.add_argument("--chaos", type=int, default=8, help="camera misbehaves one exchange in N (8)")
    ap.add_argument("--pull-every", type=int, default=60,
                    help="seconds between cable pulls, 0 for none (60)")
    ap.add_argument("--rss-growth-mib", type=float, default=8.0,
                    help="resident memory growth allowed after the first minute (8 MiB)")
    ap.add_argument("--fd-growth", type=int, default=1,
                    help="open descriptors growth allowed after the first minute (1)")
    ap.add_argument("--keep", action="store_true", help="keep the temporary directory")
    args = ap.parse_args()
    if not 10 <= args.duration <= 3600:
        ap.error("--duration takes 10 to 3600 seconds")
    h.need_tools()
    seed = args.seed if args.seed is not None else random.randrange(1 << 30)
    rng = random.Random(seed)
    baseline_at = min(60.0, args.duration / 3)
    pulls = f"a pull every {args.pull_every} s" if args.pull_every else "no pulls"
    print(f"soak: seed {seed}, {args.duration:.0f} s, chaos 1 in {args.chaos}, {pulls}", flush=True)

    failures = []
    with h.Session("soak", keep=args.keep) as s:
        s.start_screen()
        options = ["--chaos", args.chaos, "--seed", seed]
        if args.pull_every:
            options += ["--pull-every", args.pull_every]
        cam = s.start_camera(*options)
        panel = s.start_panel(cam.link)
        if not panel.wait_window():
            print(f"soak: the panel's window did not show ({panel.how_it_ended()})")
            return 2
        log = open(s.dir / "actions.log", "w")
        soak = Soak(s, panel, rng, log)
        began = time.monotonic()
        baseline = None
        samples = []
        boxes_closed = boxes_most = 0
        actions = 0
        try:
            while time.monotonic() - began < args.duration and panel.alive():
                soak.act()
                actions += 1
                open_boxes = panel.close_boxes()
                boxes_most = max(boxes_most, open_boxes)
                boxes_closed += open_boxes
                elapsed = time.monotonic() - began
                if baseline is None and elapsed >= baseline_at and line_settled(cam):
                    baseline = h.proc_stats(panel.proc.pid)
                    samples.append((elapsed, baseline))
                elif not samples or elapsed - samples[-1][0] >= 15:
                    stats = h.proc_stats(panel.proc.pid)
                    if stats:
                        samples.append((elapsed, stats))
                time.sleep(rng.uniform(0.0, 0.1))
        finally:
            s.xdo("mouseup", 1)
            log.close()
        ran = time.monotonic() - began
        # Time for a last stop to find the line again after a pull.
        settle_until = time.monotonic() + 8
        while panel.alive() and (time.monotonic() < settle_until or
                                 (not line_settled(cam) and time.monotonic() < settle_until + 8)):
            boxes_closed += panel.close_boxes()
            time.sleep(0.5)
        end_stats = h.proc_stats(panel.proc.pid) if panel.alive() else None

        frames = cam.frames()
        faults = sum("[fault " in text for _, _, text in frames)
        pulls = len(cam.events("cable pulled"))
        starts = sum(1 for _, data, _ in frames
                     if data.startswith(h.MOTION_PREFIX + " 0") and data.split()[3] in
                     ("00", "01", "03", "04"))
        print(f"soak: {actions} actions in {ran:.0f} s "
              f"({', '.join(f'{k} {v}' for k, v in sorted(soak.counts.items()))})")
        print(f"soak: camera heard {len(frames)} units ({starts} motion starts), "
              f"misbehaved on {faults}, "
              f"cable pulled {pulls} times; message boxes closed {boxes_closed}, "
              f"at most {boxes_most} open at once")
        ended = time.monotonic() - began
        for t, (rss, fds) in samples + ([(ended, end_stats)] if end_stats else []):
            print(f"soak:   at {t:5.0f} s  RSS {rss / 1024:7.1f} MiB  descriptors {fds}")

        if not panel.alive():
            failures.append(f"the panel is not running: {panel.how_it_ended()}")
            died = [line for line in panel.log.read_text(errors="replace").splitlines()
                    if "QStandardPaths" not in line][-4:]
            if died:
                failures[-1] += "\n    its last output:\n" + "\n".join("      " + x for x in died)
            recent = cam.lines()[-12:]
            failures[-1] += "\n    camsim's last lines:\n" + "\n".join(
                f"      {t:.3f} {text}" for t, text in recent)
            acts = (s.dir / "actions.log").read_text().splitlines()[-6:]
            failures[-1] += "\n    the last actions:\n" + "\n".join("      " + a for a in acts)
        if starts == 0 and panel.alive():
            print("soak: no zoom or focus start reached the camera: the motion buttons were "
                  "not where the soak pressed (see harness.py)")
            return 2
        missing = unstopped(frames)
        if missing:
            failures.append(f"{len(missing)} motion start(s) never followed by a stop:\n" +
                            "\n".join(f"      {t:.3f} {text}" for t, text in missing[:10]))
        if baseline and end_stats:
            grew = (end_stats[0] - baseline[0]) / 1024
            if grew > args.rss_growth_mib:
                failures.append(f"resident memory grew {grew:.1f} MiB after the first minute "
                                f"(allowed {args.rss_growth_mib})")
            if end_stats[1] - baseline[1] > args.fd_growth:
                failures.append(f"open descriptors grew from {baseline[1]} to {end_stats[1]} "
                                f"(allowed {args.fd_growth} more)")
        elif panel.alive():
            failures.append("no memory figures to compare")
        if args.keep:
            print(f"soak: files kept in {s.dir}")

    for f in failures:
        print(f"FAIL {f}")
    print(f"soak: {'PASS' if not failures else 'FAIL'} (seed {seed})")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
