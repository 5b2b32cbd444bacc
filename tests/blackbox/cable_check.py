#!/usr/bin/env python3
"""A tester's check of the lens motion buttons against a cable that goes away:
the real window on a virtual screen, the virtual camera on a pseudo-terminal
behind a symbolic link, the mouse driven with xdotool.

  a  the cable pulled 20-60 ms after a Tele release: the panel still runs 3 s later
  b  the cable pulled while Tele is held, Tele released, the cable back: the zoom
     stop goes out within 5 s of the line coming back
  c  a Tele press whose start frame is answered by ACK and a malformed frame (a bad
     first byte, a bad end byte, or only its first half), then the release 0 to
     300 ms after the start frame: the stop goes out within 3 s of the release

Prints PASS or FAIL per scenario with what it measured; exits 1 when one
failed, 2 when the check itself could not run.
"""

import argparse
import random
import sys
import time

import harness as h

HOLD = 0.3  # how long Tele is held once its start frame is out


def excerpt(cam, since, limit=40):
    lines = [f"    {t:.3f} {text}" for t, text in cam.lines() if t >= since]
    if len(lines) > limit:
        lines = lines[:limit] + [f"    ... {len(lines) - limit} more"]
    return "\n".join(lines)


LIVE = []  # the scenario running now; main ends it after any failure picture


class Scenario:
    """A fresh camera and panel, the Len page open, ready for Tele."""

    def __init__(self, session, *camera_options):
        self.s = session
        self.cam = self.panel = None
        LIVE.append(self)
        self.cam = session.start_camera(*camera_options)
        self.panel = session.start_panel(self.cam.link)
        if not self.panel.wait_window():
            raise SetupError("the panel's window did not show (" + self.panel.how_it_ended() + ")")
        if not h.settle(self.cam):
            raise SetupError("the panel never went quiet after start-up")
        opened = time.monotonic()
        self.panel.tab("Len")
        if self.cam.wait_frame("02 31 21", after=opened - 0.05, timeout=5) is None:
            raise SetupError("clicking the Len tab read no lens settings")
        h.settle(self.cam)

    def press_tele(self):
        pressed = time.monotonic()
        self.panel.press("Tele")
        start = self.cam.wait_frame(h.ZOOM_TELE_START, after=pressed - 0.05, timeout=3)
        if start is None:
            raise SetupError("pressing Tele sent no zoom start")
        return start

    def release(self):
        self.panel.release()
        return time.monotonic()

    def end(self):
        for part in (self.panel, self.cam):
            if part:
                self.s.stop(part.proc)


class SetupError(Exception):
    pass


def scenario_a(s, rng):
    sc = Scenario(s)
    start = sc.press_tele()
    time.sleep(HOLD)
    released = sc.release()
    delay = rng.uniform(0.020, 0.060)
    time.sleep(max(0.0, released + delay - time.monotonic()))
    sc.cam.pull()
    pulled = sc.cam.wait_event("cable pulled", after=released - 0.05, timeout=2)
    if pulled is None:
        raise SetupError("camsim did not pull the cable")
    time.sleep(max(0.0, pulled + 3.0 - time.monotonic()))
    stop_before = sc.cam.wait_frame(h.ZOOM_STOP, after=start, timeout=0)
    measured = f"pulled {1000 * (pulled - released):.0f} ms after the release"
    if stop_before is not None and stop_before < pulled:
        measured += " (the stop went out before the pull: not the case meant)"
    ok = sc.panel.alive()
    result = ("running 3 s after the pull" if ok else
              f"not running 3 s after the pull: {sc.panel.how_it_ended()}")
    return ok, f"{measured}; {result}", excerpt(sc.cam, start - 0.01), sc.panel


def scenario_b(s, rng):
    sc = Scenario(s)
    start = sc.press_tele()
    time.sleep(HOLD)
    sc.cam.pull()
    pulled = sc.cam.wait_event("cable pulled", after=start, timeout=2)
    if pulled is None:
        raise SetupError("camsim did not pull the cable")
    time.sleep(0.2)
    released = sc.release()
    back = sc.cam.wait_event("connect to", after=pulled, timeout=5)
    if back is None:
        raise SetupError("camsim's line did not come back")
    stop = sc.cam.wait_frame(h.ZOOM_STOP, after=start,
                             timeout=max(0.0, back + 5.0 + 0.2 - time.monotonic()))
    measured = (f"released {1000 * (released - pulled):.0f} ms after the pull, "
                f"line back {back - pulled:.2f} s after it; ")
    if stop is not None and stop - back <= 5.0:
        ok, result = True, f"stop out {stop - back:.2f} s after the line came back"
    elif stop is not None:
        ok, result = False, f"stop out only {stop - back:.2f} s after the line came back"
    else:
        ok, result = False, "no stop within 5 s of the line coming back"
    if not sc.panel.alive():
        ok, result = False, result + f"; panel {sc.panel.how_it_ended()}"
    return ok, measured + result, excerpt(sc.cam, start - 0.01), sc.panel


def scenario_c(s, rng, mode, hold):
    sc = Scenario(s, "--fault", mode, "--fault-on", h.ZOOM_TELE_START)
    start = sc.press_tele()
    faulted = [text for t, data, text in sc.cam.frames()
               if t == start and f"[fault {mode}]" in text]
    if not faulted:
        raise SetupError("the start frame was not answered with the fault")
    time.sleep(max(0.0, start + hold - time.monotonic()))
    released = sc.release()
    stop = sc.cam.wait_frame(h.ZOOM_STOP, after=start,
                             timeout=max(0.0, released + 3.0 + 0.2 - time.monotonic()))
    result = f"released {1000 * (released - start):.0f} ms after the start frame; "
    if stop is not None and stop - released <= 3.0:
        ok, result = True, result + f"stop out {stop - released:.2f} s after the release"
    elif stop is not None:
        ok, result = False, result + f"stop out only {stop - released:.2f} s after the release"
    else:
        ok, result = False, result + "no stop within 3 s of the release"
    if not sc.panel.alive():
        ok, result = False, result + f"; panel {sc.panel.how_it_ended()}"
    return ok, result, excerpt(sc.cam, start - 0.01), sc.panel


SCENARIOS = {"a": scenario_a, "b": scenario_b}
# The release falls in each phase of the panel's recovery from the malformed
# answer: its ACK, the camera's ACK, the page read that follows.
for _mode in ("start", "end", "short"):
    for _hold in (0, 100, 200, 300):
        SCENARIOS[f"c-{_mode}-{_hold}"] = (
            lambda s, rng, m=_mode, t=_hold: scenario_c(s, rng, "malformed-" + m, t / 1000))


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("scenarios", nargs="*", help="which to run: a, b, c-start-0 ... c-end-300 (default: all)")
    ap.add_argument("--seed", type=int, default=None, help="seed for the pull delay in a")
    ap.add_argument("--keep", action="store_true", help="keep the temporary directory")
    args = ap.parse_args()
    args.scenarios = args.scenarios or list(SCENARIOS)
    unknown = [n for n in args.scenarios if n not in SCENARIOS]
    if unknown:
        ap.error(f"unknown scenario {', '.join(unknown)}")
    h.need_tools()
    seed = args.seed if args.seed is not None else random.randrange(1 << 30)
    rng = random.Random(seed)
    print(f"cable_check: seed {seed}")

    failed = errors = 0
    started = time.monotonic()
    with h.Session("cable", keep=args.keep) as s:
        s.start_screen()
        for name in args.scenarios:
            try:
                ok, measured, log, panel = SCENARIOS[name](s, rng)
            except SetupError as e:
                errors += 1
                # A picture shows whether the layout moved from under the clicks.
                shot = s.dir / f"{name}.png"
                s.keep = s.screenshot(shot) or s.keep
                print(f"ERROR {name}: {e}" + (f" (screen: {shot})" if s.keep else ""))
                continue
            finally:
                while LIVE:
                    LIVE.pop().end()
            failed += not ok
            print(f"{'PASS' if ok else 'FAIL'} {name}: {measured}", flush=True)
            if not ok:
                print("  camsim log from the Tele press on:\n" + log)
                tail = panel.log.read_text(errors="replace").strip().splitlines()[-5:]
                if tail:
                    print("  zoompanel's output, last lines:\n" +
                          "\n".join("    " + line for line in tail))
        if s.keep:
            print(f"cable_check: files kept in {s.dir}")
    total = len(args.scenarios)
    print(f"cable_check: {total - failed - errors} passed, {failed} failed, {errors} could not run "
          f"({time.monotonic() - started:.0f} s)")
    return 2 if errors else 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
