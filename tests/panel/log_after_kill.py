"""The traffic log of a panel that is killed outright (SIGKILL) holds every
line it had written, whole: the panel runs offscreen on the virtual camera
with --log, is killed in the middle of its title read, and the file must
read as the exchanges went, line by line, with their meanings."""

import os
import signal
import subprocess
import sys
import tempfile
import time


def main(panel):
    with tempfile.TemporaryDirectory() as tmp:
        log = os.path.join(tmp, "traffic.log")
        env = dict(os.environ, QT_QPA_PLATFORM="offscreen", XDG_CONFIG_HOME=tmp)
        p = subprocess.Popen([panel, "--simulate", "--log", log], env=env,
                             stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        deadline = time.monotonic() + 20
        text = ""
        # Killed once the third title part has been asked for, mid-read.
        while time.monotonic() < deadline and text.count("query title part") < 3:
            time.sleep(0.02)
            try:
                with open(log, encoding="utf-8") as f:
                    text = f.read()
            except FileNotFoundError:
                pass
        p.send_signal(signal.SIGKILL)
        p.wait(5)
        with open(log, encoding="utf-8") as f:
            text = f.read()
    lines = text.split("\n")
    problems = []
    if lines[-1] != "":
        problems.append(f"the last line is cut off: {lines[-1]!r}")
    rows = [line.split("\t") for line in lines[:-1]]
    for row in rows:
        if len(row) != 6:
            problems.append(f"not six fields: {row}")
    said = [(r[2], r[3], r[5]) for r in rows if len(r) == 6]
    want = [("link", "port opened"), ("to camera", "control", "ENQ"),
            ("from camera", "answer", "ACK"), ("to camera", "frame", "C.ID \u00b7 query title part 0"),
            ("from camera", "answer", "ACK"), ("from camera", "reply"),
            ("to camera", "control", "ACK"), ("to camera", "frame", "C.ID \u00b7 query title part 1")]
    for i, w in enumerate(want):
        got = said[i] if i < len(said) else None
        if got is None or got[:2] != w[:2] or (len(w) == 3 and got[2] != w[2]):
            problems.append(f"row {i}: {got} where {w} was due")
    if said and not any(s[1] == "reply" and s[2].startswith("reply C.ID: Title part 0") for s in said):
        problems.append("no reply decoded as the title's first part")
    for p_ in problems:
        print("FAIL:", p_)
    print(f"{len(rows)} rows in the log of a killed panel")
    print(text)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1]))
