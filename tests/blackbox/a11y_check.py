#!/usr/bin/python3
"""What a screen reader gets from the status bar: the real window on a virtual
screen with the accessibility bus running, read and listened to through
AT-SPI as assistive technology does.

  - the link status panel is named with its text ("Link status: CAM LINK OK")
  - a new link status raises a name-changed event: the link coming up, and
    "Device lost, reconnecting" when the cable is pulled
  - the Port menu is there with the machine's ports and "Virtual camera
    (demo)"; choosing that item, as assistive technology does, brings
    "CAM LINK OK" to a panel that started on a device that is not there

Needs Debian's dbus, at-spi2-core and python3-pyatspi (the system's python3).
Prints PASS or FAIL with what it heard; exits 1 on a failure, 2 when the check
could not run.
"""

import os
import sys
import time

ALONE = "ZP_A11Y_BUS"


def main():
    sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
    import harness as h
    h.own_session_bus(ALONE)
    pyatspi = h.need_atspi()
    from gi.repository import GLib
    h.need_tools()

    with h.Session("a11y") as s:
        s.start_screen()
        s.start_atspi()
        cam = s.start_camera()
        panel = s.start_panel(cam.link)

        heard = []

        def on_name(event):
            name = event.source.name if event.source is not None else ""
            if name.startswith("Link status") and (not heard or heard[-1] != name):
                heard.append(name)

        pyatspi.Registry.registerEventListener(on_name, "object:property-change:accessible-name")
        state = {"pulled": False, "t0": time.monotonic()}

        def step():
            if "Link status: CAM LINK OK" in heard and not state["pulled"]:
                cam.pull()
                state["pulled"] = True
            done = state["pulled"] and "Link status: Device lost, reconnecting" in heard
            if done or time.monotonic() - state["t0"] > 20 or not panel.alive():
                pyatspi.Registry.stop()
                return False
            return True

        GLib.timeout_add(100, step)
        pyatspi.Registry.start()
        pyatspi.Registry.deregisterEventListener(on_name, "object:property-change:accessible-name")

        # The panel's text as read from the tree now.
        name_now = None
        desktop = pyatspi.Registry.getDesktop(0)
        for i in range(desktop.childCount):
            app = desktop.getChildAtIndex(i)
            if app is not None and app.name == "zoompanel":
                found = pyatspi.findDescendant(
                    app, lambda a: a is not None and (a.name or "").startswith("Link status"))
                name_now = found.name if found is not None else None

        ok = ("Link status: CAM LINK OK" in heard and
              "Link status: Device lost, reconnecting" in heard and
              name_now is not None and name_now.startswith("Link status: "))
        print(f"{'PASS' if ok else 'FAIL'}: status bar: heard {heard}; the panel reads {name_now!r}")
        s.stop(panel.proc)

        # The Port menu, reached as a screen reader reaches it.
        lost = s.start_panel("/dev/zp-no-such-device", log="zoompanel-menu.log")
        items, chosen, status = [], False, None
        deadline = time.monotonic() + 20
        while time.monotonic() < deadline and lost.alive():
            app = None
            for i in range(desktop.childCount):
                a = desktop.getChildAtIndex(i)
                if a is not None and a.name == "zoompanel":
                    app = a
            menu = app and pyatspi.findDescendant(
                app, lambda a: a is not None and a.getRoleName() == "menu item" and a.name == "Port")
            if menu is not None and not chosen:
                items = [a.name for a in pyatspi.findAllDescendants(
                    menu, lambda a: a is not None and a.getRoleName() == "menu item")]
                demo = pyatspi.findDescendant(
                    menu, lambda a: a is not None and a.name == "Virtual camera (demo)")
                if demo is not None:
                    demo.queryAction().doAction(0)
                    chosen = True
            if chosen:
                found = pyatspi.findDescendant(
                    app, lambda a: a is not None and (a.name or "").startswith("Link status"))
                status = found.name if found is not None else None
                if status == "Link status: CAM LINK OK":
                    break
            time.sleep(0.3)
        fixed = {"Virtual camera (demo)", "Other device...", "Reconnect"}
        # Besides the fixed items, a port of this machine or the line saying
        # why there is none.
        menu_ok = (chosen and status == "Link status: CAM LINK OK" and fixed <= set(items)
                   and len(set(items) - fixed) >= 1)
        print(f"{'PASS' if menu_ok else 'FAIL'}: Port menu: items {items}; "
              f"after choosing the virtual camera the panel reads {status!r}")
        return 0 if ok and menu_ok else 1


if __name__ == "__main__":
    sys.exit(main())
