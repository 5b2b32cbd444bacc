#!/usr/bin/python3
"""The line as a technician sees it: the real window on a virtual screen with
--log, the camera played on a pseudo-terminal, the traffic view opened with
Ctrl+T and read through the accessibility bridge.

  - every unit that crossed the line to the camera (as the camera logged
    it) is in the log file, in order, with its meaning in words
  - the traffic view, read as a screen reader reads it, lists the same rows
    as the log

Prints PASS or FAIL; exits 1 on a failure, 2 when the check could not run.
"""

import os
import sys
import time

ALONE = "ZP_TRAFFIC_BUS"


def main():
    sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
    import harness as h
    h.own_session_bus(ALONE)
    pyatspi = h.need_atspi()
    h.need_tools()

    with h.Session("traffic") as s:
        s.start_screen()
        s.start_atspi()
        cam = s.start_camera()
        log = s.dir / "traffic.log"
        panel = h.Panel(s, s.spawn([str(h.BUILD / "zoompanel"), "--device", str(cam.link),
                                    "--log", str(log)], "zoompanel.log"),
                        s.dir / "zoompanel.log")
        if not panel.wait_window():
            print(f"FAIL: no window ({panel.how_it_ended()})")
            return 1
        h.settle(cam, quiet=0.5)
        s.xdo("key", "--clearmodifiers", "ctrl+t")
        for name in ("Col", "Len", "Oth"):
            t = time.monotonic()
            panel.tab(name)
            cam.wait_frame("02", after=t, timeout=3)
            h.settle(cam, quiet=0.5)

        rows = [line.split("\t") for line in log.read_text(encoding="utf-8").splitlines()]
        sent = [r[4] for r in rows if len(r) == 6 and r[2] == "to camera"]
        unmeant = [r for r in rows if len(r) == 6 and r[2] == "to camera" and not r[5]]
        heard = [data for _, data, _ in cam.frames()]
        line_ok = sent == heard and not unmeant and len(heard) >= 10
        print(f"{'PASS' if line_ok else 'FAIL'}: the camera heard {len(heard)} units, the log "
              f"has {len(sent)} to the camera, in the same order: {sent == heard}; "
              f"each with a meaning: {not unmeant}")
        if not line_ok:
            for a, b in zip(heard, sent):
                print(f"    camera {a}\n    log    {b}")

        # The view through the bridge: its rows' meanings, as the log has them.
        table = h.find_in_panel(pyatspi,
                                lambda a: a.getRoleName() == "table" and a.name == "Traffic")
        view_ok = False
        shown = []
        if table is not None:
            t = table.queryTable()
            meaning = next((c for c in range(t.nColumns)
                            if t.getColumnDescription(c) == "Meaning"
                            or (t.getColumnHeader(c) and t.getColumnHeader(c).name == "Meaning")),
                           None)
            if meaning is not None:
                shown = [t.getAccessibleAt(r, meaning).name for r in range(t.nRows)]
            logged = [r[5] for r in rows if len(r) == 6]
            view_ok = len(shown) == len(logged) and shown == logged
        print(f"{'PASS' if view_ok else 'FAIL'}: the traffic view through the bridge: "
              f"{'found' if table is not None else 'not found'}, {len(shown)} rows, "
              f"the log's {len(rows)}, the same meanings: {view_ok}")
        return 0 if line_ok and view_ok else 1


if __name__ == "__main__":
    sys.exit(main())
