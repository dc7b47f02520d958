#!/usr/bin/python3
# The window as a screen reader meets it: the demo under the X server it is
# given, on a session bus of its own with the accessibility bus (at-spi's bus
# launcher and registry), read through pyatspi as Orca reads it. Finds the
# boxes by role and name, toggles one through AT-SPI and one by keyboard
# (xdotool), checks kestrolune.json each time, reads a row's gauge, and
# presses the exit button with Return.
#   dbus-run-session -- accessibility.py   (from the build directory)
import json
import os
import subprocess
import sys
import tempfile
import time

import dbus
import pyatspi

LAUNCHER = "/usr/libexec/at-spi-bus-launcher"
APP = []


def fail(message):
    print("accessibility: FAIL: " + message, flush=True)
    if APP:
        for node in nodes(APP[0]):
            print("  %s %r" % (node.getRoleName(), node.name), flush=True)
    sys.exit(1)


def until(what, check, seconds=20):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        found = check()
        if found:
            return found
        time.sleep(0.2)
    fail("timed out waiting for " + what)


def nodes(node):
    yield node
    for i in range(node.childCount):
        child = node.getChildAtIndex(i)
        if child is not None:
            yield from nodes(child)


def application():
    for app in pyatspi.Registry.getDesktop(0):
        if app is not None and app.name == "kestrolune-demo":
            return app
    return None


def find(app, role, name):
    for node in nodes(app):
        if node.getRole() == role and node.name == name:
            return node
    return None


def state(node, which):
    return node.getState().contains(which)


def choices(home):
    try:
        with open(os.path.join(home, "kestrolune.json"), encoding="utf-8") as f:
            return json.load(f)
    except (OSError, ValueError):
        return {}


def key(window, *keys, check=True):
    subprocess.run(["xdotool", "key", "--window", window, *keys], check=check, stderr=subprocess.DEVNULL)
    time.sleep(0.3)


def registered():
    """Whether a program has joined the accessibility registry (asked over D-Bus, not
    through pyatspi, whose list of programs is only kept current by an event loop)."""
    address = dbus.SessionBus().get_object("org.a11y.Bus", "/org/a11y/bus").GetAddress(
        dbus_interface="org.a11y.Bus")
    root = dbus.bus.BusConnection(address).get_object("org.a11y.atspi.Registry",
                                                       "/org/a11y/atspi/accessible/root")
    return len(root.GetChildren(dbus_interface="org.a11y.atspi.Accessible", timeout=5)) > 0


def main():
    home = tempfile.mkdtemp()
    env = dict(os.environ, HOME=home, QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1")
    program = subprocess.Popen(["./kestrolune-demo"], env=env, stdout=subprocess.DEVNULL,
                               stderr=open(os.path.join(home, "log"), "w"))
    bus = None
    try:
        window = subprocess.run(["xdotool", "search", "--sync", "--onlyvisible", "--name", "^Kestrolune$"],
                                capture_output=True, text=True, timeout=20).stdout.split()[0]
        # The accessibility bus comes up after the window, as at-spi's launcher
        # does when it is started on demand: Qt 5.15's bridge joins it then.
        # (Here, with the bus up before the program, the bridge never joined.)
        bus = subprocess.Popen([LAUNCHER, "--launch-immediately"])
        until("the program in the accessibility registry", registered)
        app = until("the program through pyatspi", application)
        APP.append(app)
        heron = "Heron Earbuds"
        tray = until("a check box named \"%s 托盘\"" % heron,
                     lambda: find(app, pyatspi.ROLE_CHECK_BOX, heron + " 托盘"))
        if state(tray, pyatspi.STATE_CHECKED):
            fail("the box is checked before anyone ticked it")
        until("the gauge's level as text", lambda: find(app, pyatspi.ROLE_LABEL, "62%"), 10)
        exit_button = find(app, pyatspi.ROLE_PUSH_BUTTON, "退出服务")
        if exit_button is None:
            fail("no push button named 退出服务")

        # Toggled as a screen reader toggles it.
        action = tray.queryAction()
        names = [action.getName(i) for i in range(action.nActions)]
        which = names.index("Toggle") if "Toggle" in names else names.index("Press")
        action.doAction(which)
        until("托盘 saved for Heron Earbuds",
              lambda: choices(home).get("sim-earbuds-heron", {}).get("tray") is True, 10)
        until("the box's checked state", lambda: state(tray, pyatspi.STATE_CHECKED), 5)
        print("accessibility: toggled through AT-SPI and saved", flush=True)

        # By keyboard: the first Tab reaches the first row's 托盘, Space ticks it.
        subprocess.run(["xdotool", "windowfocus", "--sync", window], check=True)
        time.sleep(0.5)
        key(window, "Tab")
        first = find(app, pyatspi.ROLE_CHECK_BOX, "Aurora Buds 托盘")
        until("keyboard focus on \"Aurora Buds 托盘\"", lambda: state(first, pyatspi.STATE_FOCUSED), 5)
        key(window, "space")
        until("托盘 saved for Aurora Buds",
              lambda: choices(home).get("sim-headset-aurora", {}).get("tray") is True, 10)
        key(window, "Tab")
        listen = find(app, pyatspi.ROLE_CHECK_BOX, "Aurora Buds 监听")
        until("Tab in reading order, to \"Aurora Buds 监听\"", lambda: state(listen, pyatspi.STATE_FOCUSED), 5)
        print("accessibility: ticked by keyboard and saved", flush=True)

        # The exit button comes after every row's boxes; Return presses it.
        boxes = [n for n in nodes(app) if n.getRole() == pyatspi.ROLE_CHECK_BOX]
        for _ in range(len(boxes)):
            if state(exit_button, pyatspi.STATE_FOCUSED):
                break
            key(window, "Tab")
        until("keyboard focus on the exit button", lambda: state(exit_button, pyatspi.STATE_FOCUSED), 5)
        key(window, "Return", check=False)  # the window may be gone before xdotool is done
        try:
            status = program.wait(10)
        except subprocess.TimeoutExpired:
            fail("Return on the exit button did not end the program")
        if status != 0:
            fail("the program ended with status %d" % status)
        print("accessibility: Return on the exit button ended the program", flush=True)
    finally:
        if program.poll() is None:
            program.kill()
        if bus:
            bus.terminate()
    print("accessibility: passed", flush=True)


if __name__ == "__main__":
    main()
