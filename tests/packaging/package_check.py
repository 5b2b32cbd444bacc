#!/usr/bin/env python3
"""Checks of what the package installs: the desktop entry, metainfo and man
pages against their validators and the programs' own --help, the .deb's
contents, lintian, and an install and removal on this machine."""

import argparse
import fcntl
import glob
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time
import xml.etree.ElementTree as ET

SKIP = 77
PROGRAMS = ("zoompanel", "zoomctl", "camsim")

# Options that exist but whose page entry is still to be written. Listed
# here so the check stays strict about the rest; a listed option that the
# page documents must leave the list.
PENDING = {}

# What the package may hold (every file matches a row) and must hold (a row
# with a count). Paths as dpkg-deb -c prints them, without the leading "./".
CONTENTS = [
    (r"usr/bin/(zoompanel|zoomctl|camsim)", 3),
    (r"usr/share/applications/zoompanel\.desktop", 1),
    (r"usr/share/icons/hicolor/scalable/apps/zoompanel\.svg", 1),
    (r"usr/share/icons/hicolor/48x48/apps/zoompanel\.png", 1),
    (r"usr/share/icons/hicolor/\d+x\d+/apps/zoompanel\.png", 0),
    (r"usr/share/metainfo/[\w.]+\.metainfo\.xml", 1),
    (r"usr/share/man/man1/(zoompanel|zoomctl|camsim)\.1\.gz", 3),
    (r"usr/share/doc/zoompanel/(copyright|changelog\.gz)", 2),
]


def run(cmd, **kw):
    return subprocess.run(cmd, capture_output=True, text=True, **kw)


class Report:
    def __init__(self):
        self.failures = []

    def check(self, ok, what):
        print(("ok    " if ok else "FAIL  ") + what)
        if not ok:
            self.failures.append(what)

    def done(self):
        if self.failures:
            print(f"{len(self.failures)} check(s) failed")
            return 1
        return 0


def plain_roff(source):
    """The text of a man source with its escapes for hyphens and fonts undone."""
    text = source.replace("\\-", "-")
    return re.sub(r"\\f[BIRP]", "", text)


def section(source, name):
    m = re.search(r"^\.SH " + re.escape(name) + r"\n(.*?)(?=^\.SH |\Z)", source, re.S | re.M)
    return m.group(1) if m else ""


def help_options(text):
    return set(re.findall(r"(?<![\w-])(--?[a-z][a-z0-9-]*[a-z0-9])", text))


def help_list(text, heading):
    """The first word of each entry under a heading of --help ("Exit codes:")."""
    m = re.search(r"^" + re.escape(heading) + r"\n((?:  .*\n)+)", text, re.M)
    return set(re.findall(r"^  (\S+)", m.group(1), re.M)) if m else set()


def cmd_docs(args):
    r = Report()
    src = os.path.join(args.source, "packaging")
    out = os.path.join(args.build, "packaging")
    desktop = os.path.join(src, "zoompanel.desktop")
    metainfo = glob.glob(os.path.join(out, "*.metainfo.xml"))
    r.check(len(metainfo) == 1, f"one metainfo file in {out}")
    if not metainfo:
        return r.done()

    p = run(["desktop-file-validate", desktop])
    print(p.stdout + p.stderr, end="")
    r.check(p.returncode == 0 and not (p.stdout + p.stderr).strip(), "desktop-file-validate: silent")
    p = run(["appstreamcli", "validate", "--no-net", "--pedantic", metainfo[0]])
    print(p.stdout + p.stderr, end="")
    r.check(p.returncode == 0 and not re.search(r"^[EW]:", p.stdout, re.M),
            "appstreamcli validate --no-net: no error or warning")

    env = dict(os.environ, LC_ALL="C.UTF-8", MANWIDTH="80")
    programs = dict(pair.split("=", 1) for pair in args.program)
    for name in PROGRAMS:
        page = os.path.join(out, name + ".1")
        source = open(page, encoding="utf-8").read()
        for tool in (["groff", "-ww", "-z", "-man", page],
                     ["man", "--warnings", "-E", "UTF-8", "-l", "-Tutf8", "-Z", page]):
            p = run(tool, env=env)
            print(p.stderr, end="")
            r.check(p.returncode == 0 and not p.stderr.strip(), f"{name}.1: {tool[0]} without warnings")

        help_text = run([programs[name], "--help"]).stdout
        text = plain_roff(source)
        documented = {o for o in help_options(help_text)
                      if re.search(r"(?<![\w-])" + re.escape(o) + r"(?![\w-])", text)}
        pending = PENDING.get(name, set())
        missing = help_options(help_text) - documented - pending
        r.check(help_text and not missing, f"{name}.1: every option of --help {sorted(missing) or ''}")
        if pending:
            done = documented & pending
            r.check(not done, f"{name}.1: still to document {sorted(pending - done)}"
                    + (f"; documented now, drop from PENDING: {sorted(done)}" if done else ""))
        for heading, sect, what in (("Exit codes:", "EXIT STATUS", "exit codes"),
                                    ("Commands:", "COMMANDS", "commands")):
            listed = help_list(help_text, heading)
            if listed:
                paged = set(re.findall(r'^\.TP\n\.B[IR]? "?([\w-]+)', section(source, sect), re.M))
                r.check(listed == paged, f"{name}.1: {sect} has the {what} of --help "
                        f"(help {sorted(listed)}, page {sorted(paged)})")
        for sect in ("DEVICE NAMES", "EXIT STATUS", "FILES", "SERIAL PORT ACCESS"):
            r.check(section(source, sect).strip() != "", f"{name}.1: section {sect}")
        r.check("dialout" in text, f"{name}.1: names the dialout group")

    # The files name each other: a rename in one must reach the others.
    entry = dict(re.findall(r"^(\w+)=(.*)$", open(desktop, encoding="utf-8").read(), re.M))
    root = ET.parse(metainfo[0]).getroot()
    r.check(entry["Exec"].split()[0] in PROGRAMS, "desktop Exec is an installed program")
    r.check(os.path.exists(os.path.join(src, "icons", entry["Icon"] + ".svg")), "desktop Icon exists")
    r.check(root.findtext("launchable") == "zoompanel.desktop", "metainfo launchable: the desktop file")
    r.check(root.findtext("icon") == entry["Icon"], "metainfo icon: the desktop Icon")
    r.check({b.text for b in root.iter("binary")} == set(PROGRAMS), "metainfo provides the programs")
    release = root.find("releases/release")
    r.check(release is not None and release.get("version") == args.version,
            f"metainfo's newest release is {args.version}")
    p = run(["dpkg-parsechangelog", "-l", os.path.join(src, "changelog"), "-S", "Version"])
    r.check(p.stdout.strip() == args.version, f"changelog's newest entry is {args.version}")
    return r.done()


def deb_path(out):
    debs = glob.glob(os.path.join(out, "zoompanel_*.deb"))
    if len(debs) != 1:
        sys.exit(f"expected one zoompanel_*.deb in {out}, found {debs}")
    return debs[0]


def deb_files(deb):
    """Every path in the package, directories ending in "/", without "./"."""
    listing = run(["dpkg-deb", "-c", deb], check=True).stdout
    return [line.split()[-1][2:] for line in listing.splitlines() if line.split()[-1] != "./"]


def cmd_deb(args):
    shutil.rmtree(args.out, ignore_errors=True)
    os.makedirs(args.out)
    start = time.monotonic()
    p = run(["cpack", "--config", os.path.join(args.build, "CPackConfig.cmake"), "-G", "DEB",
             "-B", args.out])
    print(p.stdout + p.stderr, end="")
    if p.returncode != 0:
        return 1
    print(f"cpack: {time.monotonic() - start:.1f} s")
    deb = deb_path(args.out)
    r = Report()
    fields = {f: run(["dpkg-deb", "-f", deb, f]).stdout.strip()
              for f in ("Package", "Version", "Depends", "Description")}
    r.check(fields["Package"] == "zoompanel", "Package: zoompanel")
    r.check(fields["Version"] == args.version, f"Version: {args.version}")
    r.check(all(lib in fields["Depends"] for lib in ("libc6", "libqt6widgets6", "libudev1")),
            f"Depends from the binaries: {fields['Depends']}")
    r.check(len(fields["Description"].splitlines()) > 2, "an extended description")

    files = [f for f in deb_files(deb) if not f.endswith("/")]
    for f in files:
        r.check(any(re.fullmatch(pattern, f) for pattern, _ in CONTENTS), f"expected file {f}")
    for pattern, count in CONTENTS:
        if count:
            n = sum(1 for f in files if re.fullmatch(pattern, f))
            r.check(n == count, f"{count} file(s) {pattern} (found {n})")

    # Nothing of the checkout or the build folder inside: paths in binaries
    # or configured files would point at this machine.
    with tempfile.TemporaryDirectory() as tree:
        run(["dpkg-deb", "-x", deb, tree], check=True)
        leaks = set(os.path.realpath(d).encode() for d in (args.source, args.build))
        for f in files:
            data = open(os.path.join(tree, f), "rb").read()
            r.check(not any(leak in data for leak in leaks), f"{f}: no build path in it")
    return r.done()


def cmd_lintian(args):
    deb = deb_path(args.out)
    start = time.monotonic()
    p = run(["lintian", "--display-info", "--display-experimental", "--pedantic", "--fail-on", "error,warning",
             deb])
    # lintian says it should not run as root; the package is only read.
    print("\n".join(l for l in (p.stdout + p.stderr).splitlines() if "root privileges" not in l))
    print(f"lintian: exit {p.returncode}, {time.monotonic() - start:.1f} s")
    return 0 if p.returncode == 0 else 1


def installed_status():
    p = run(["dpkg-query", "-W", "-f=${db:Status-Abbrev}", "zoompanel"])
    return p.stdout.strip() if p.returncode == 0 else ""


def apt(*words):
    env = dict(os.environ, DEBIAN_FRONTEND="noninteractive")
    cmd = ["apt-get", "-y", "-q", "-o", "DPkg::Lock::Timeout=120", *words]
    p = run(cmd, env=env)
    if p.returncode != 0:
        print(p.stdout + p.stderr)
    return p.returncode == 0


def cmd_install(args):
    if os.geteuid() != 0:
        print("SKIP: installing a package needs root")
        return SKIP
    if shutil.which("apt-get") is None:
        print("SKIP: no apt-get on this machine")
        return SKIP
    deb = os.path.abspath(deb_path(args.out))
    paths = deb_files(deb)
    files = [p for p in paths if not p.endswith("/")]

    # Two runs at once (two checkouts on one machine) take turns; a marker
    # left behind means a run that died with the package installed.
    lock = open("/var/tmp/zoompanel-package-check.lock", "w")
    fcntl.flock(lock, fcntl.LOCK_EX)
    marker = "/var/tmp/zoompanel-package-check.installed"
    if installed_status().startswith("i") or installed_status().startswith("r"):
        if not os.path.exists(marker):
            print("SKIP: a zoompanel package is installed, and not by this test; left alone")
            return SKIP
        print("a package this test installed earlier is still there: removing it first")
        apt("remove", "--purge", "zoompanel")
    taken = [f for f in files if os.path.lexists("/" + f)]
    if taken:
        print(f"SKIP: the package would overwrite files that are already there: {taken}")
        return SKIP
    before = {p: os.path.lexists("/" + p) for p in paths}

    r = Report()
    start = time.monotonic()
    open(marker, "w").close()
    if not apt("install", "--no-install-recommends", deb):
        os.unlink(marker)
        r.check(False, f"apt-get install {deb}")
        return r.done()
    print(f"installed in {time.monotonic() - start:.1f} s")
    try:
        version = run(["dpkg-deb", "-f", deb, "Version"]).stdout.strip()
        r.check(installed_status().startswith("ii"), "dpkg: installed")
        r.check(all(os.path.lexists("/" + f) for f in files), "every file of the package in place")
        # From the installed paths only, and without a display.
        env = {"PATH": "/usr/bin:/bin", "LC_ALL": "C.UTF-8", "MANPAGER": "cat", "MANWIDTH": "80",
               "HOME": tempfile.gettempdir()}
        for name in PROGRAMS:
            r.check(shutil.which(name, path=env["PATH"]) == "/usr/bin/" + name, f"{name} in /usr/bin")
        for cmd, expect in ((["zoompanel", "--version"], f"zoompanel {version}"),
                            (["zoompanel", "--help-all"], "--list-ports"),
                            (["zoomctl", "--help"], "Usage: zoomctl"),
                            (["camsim", "--help"], "Usage: camsim"),
                            (["man", "zoompanel"], "DEVICE NAMES"),
                            (["man", "zoomctl"], "EXIT STATUS"),
                            (["man", "camsim"], "SIGUSR1")):
            p = run(cmd, env=env)
            r.check(p.returncode == 0 and expect in p.stdout, f"{' '.join(cmd)}: exit 0, says {expect!r}")
        p = run(["man", "-w", "zoompanel"], env=env)
        r.check(p.stdout.strip() == "/usr/share/man/man1/zoompanel.1.gz", "man finds the packaged page")
    finally:
        start = time.monotonic()
        removed = apt("remove", "--purge", "zoompanel")
        print(f"removed in {time.monotonic() - start:.1f} s")
        r.check(removed and installed_status() in ("", "un", "pn"), "apt-get remove --purge: gone")
        if removed:
            os.unlink(marker)
    left = [p for p in paths if os.path.lexists("/" + p) and not before[p]]
    r.check(not left, f"nothing left behind {left or ''}")
    return r.done()


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    sub = parser.add_subparsers(dest="step", required=True)
    docs = sub.add_parser("docs")
    docs.add_argument("--source", required=True)
    docs.add_argument("--build", required=True)
    docs.add_argument("--version", required=True)
    docs.add_argument("--program", action="append", default=[], help="NAME=PATH")
    deb = sub.add_parser("deb")
    deb.add_argument("--source", required=True)
    deb.add_argument("--build", required=True)
    deb.add_argument("--version", required=True)
    deb.add_argument("--out", required=True)
    for step in ("lintian", "install"):
        sub.add_parser(step).add_argument("--out", required=True)
    args = parser.parse_args()
    return {"docs": cmd_docs, "deb": cmd_deb, "lintian": cmd_lintian, "install": cmd_install}[args.step](args)


if __name__ == "__main__":
    sys.exit(main())
