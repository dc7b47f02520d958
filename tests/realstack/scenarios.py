#!/usr/bin/python3
# The real-stack scenarios, run inside the guest by guest-init:
#   scenarios.py NAME      one scenario; exit status 0 when every check holds
#   scenarios.py --list    their names
# Lines "measure: NAME SECONDS" are the figures bench/realstack collects.
import os
import subprocess
import sys
import traceback

import dbus
import dbus.service

from program import Program
from world import (HF, OUR_SOURCE, BusWatch, Desktop, Failure, RfcommTable, Stack, call, check, now, say,
                   wait)


def measure(name, seconds):
    print(f"measure: {name} {seconds:.2f}", flush=True)


def new_session(headset, since, timeout=30.0):
    """The first hands-free connection the headset got after 'since'."""
    return wait(f"a hands-free connection to hci{headset.index}",
                lambda: next((s for s in headset.sessions if s["started"] >= since), None), timeout)


def gone(stack, headset, program, since, what):
    """The link's end is seen: the row forgets the level, our Battery1 level goes."""
    program.wait_logged(f"updateDeviceBatteryValue {headset.path} -1", since, 15)
    wait(f"our Battery1 level withdrawn after {what}", lambda: stack.battery(headset.path) is None, 15)
    say(f"ok: {what}: the gauge hidden and our Battery1 level withdrawn")


def profile_path():
    """The profile interface end to end: several levels, each on the row and
    given back to BlueZ; at exit the headset's connection ends."""
    stack = Stack(2)
    headset = stack.add_headset(1, [100, 85, 60])
    program = Program({headset.path: (True, True)})
    session = new_session(headset, 0)
    shown = program.level_shown(headset.path, 100)
    measure("connection-to-row", shown - session["started"])
    measure("start-to-first-level", shown - program.started)
    for level in (85, 60):
        program.level_shown(headset.path, level, shown)
    wait("Battery1 at 60 from our provider", lambda: stack.battery(headset.path) == (60, OUR_SOURCE))
    check(program.logged("registerDeviceToTrary") is not None, "the tray icon was made")
    quit_at = now()
    program.quit()
    wait("the headset's connection ended at exit", lambda: session["ended"], 5)
    check(session["ended"] - quit_at < 5, "the exit freed the headset's hands-free channel")


def untick():
    """Unticking 监听 ends the headset's connection within 3 s; ticking it
    again links it anew."""
    stack = Stack(2)
    headset = stack.add_headset(1, [90])
    program = Program({headset.path: (True, True)})
    session = new_session(headset, 0)
    program.level_shown(headset.path, 90)
    clicked = now()
    program.click_box(headset.path, Program.LISTEN_X)
    wait("listen off in the stored file", lambda: program.stored()[headset.path]["listen"] is False, 5)
    wait("the headset's connection ended after unticking", lambda: session["ended"], 10)
    check(session["ended"] - clicked <= 3, f"the connection ended {session['ended'] - clicked:.2f} s after the click")
    gone(stack, headset, program, clicked, "unticking")
    ticked = now()
    program.click_box(headset.path, Program.LISTEN_X)
    again = new_session(headset, ticked)
    shown = program.level_shown(headset.path, 90, ticked)
    measure("tick-to-row", shown - ticked)
    check(again is not session, "a new link after ticking again")
    program.quit()


def switched_off_and_on(controller, level):
    """A controller powered off and on again under a running program, with
    the headset's baseband link given up before and held again after."""
    stack = Stack(2)
    headset = stack.add_headset(1, [level])
    program = Program({headset.path: (True, True)})
    program.level_shown(headset.path, level)
    wait(f"Battery1 at {level}", lambda: stack.battery(headset.path) == (level, OUR_SOURCE))
    off = now()
    headset.release_connection()
    stack.power(controller, False)
    program.wait_logged(f"updateDeviceBatteryValue {headset.path} -1", off, 15)
    if controller == headset.index:
        gone(stack, headset, program, off, "the headset switched off")
    on = now()
    stack.power(controller, True)
    headset.hold_connection()
    new_session(headset, on, 30)
    program.level_shown(headset.path, level, on)
    wait(f"Battery1 back at {level}", lambda: stack.battery(headset.path) == (level, OUR_SOURCE))
    program.quit()


def headset_off_on():
    """The headset switched off (its controller powered off) and on again:
    the gauge hidden and our Battery1 level withdrawn, then a new link."""
    switched_off_and_on(1, 70)


class BatteryProvider(dbus.service.Object):
    """Another program's battery provider: one level for one device."""
    PATH = "/test/battery"

    def __init__(self, bus, device, level):
        super().__init__(bus, self.PATH)
        self.device, self.level = device, level

    @dbus.service.method("org.freedesktop.DBus.ObjectManager", in_signature="", out_signature="a{oa{sa{sv}}}")
    def GetManagedObjects(self):
        return {dbus.ObjectPath(self.PATH + "/headset"): {"org.bluez.BatteryProvider1": {
            "Device": dbus.ObjectPath(self.device), "Percentage": dbus.Byte(self.level), "Source": "HFP 1.7"}}}


def known_level():
    """A level another program gives BlueZ: shown with nothing ticked; ticked,
    the headset gets its tray icon and no hands-free connection."""
    stack = Stack(2)
    headset = stack.add_headset(1, [10])
    provider = BatteryProvider(stack.bus, headset.path, 42)
    call(stack.interface("/org/bluez/hci0", "org.bluez.BatteryProviderManager1").RegisterBatteryProvider,
         provider.PATH)
    wait("Battery1 at 42 from the provider", lambda: stack.battery(headset.path) == (42, "HFP 1.7"))
    program = Program({})
    program.level_shown(headset.path, 42)
    ticked = now()
    program.click_box(headset.path, Program.TRAY_X)
    program.click_box(headset.path, Program.LISTEN_X)
    wait("both boxes stored", lambda: program.stored().get(headset.path) == {"tray": True, "listen": True}, 5)
    program.wait_logged("registerDeviceToTrary", ticked)
    wait("three scan cycles", lambda: now() - ticked > 10, 15)
    check(headset.sessions == [], "no hands-free connection while BlueZ knows the level")
    program.quit()


def bluetoothd_restart():
    """bluetoothd restarts under the running program: the profile is
    registered again and the level comes back."""
    stack = Stack(2)
    headset = stack.add_headset(1, [80])
    program = Program({headset.path: (True, True)})
    program.level_shown(headset.path, 80)
    stopped = now()
    headset.release_connection()
    stack.stop_bluetoothd()
    program.wait_logged(f"updateDeviceBatteryValue {headset.path} -1", stopped, 15)
    started = now()
    stack.start_bluetoothd()
    headset.hold_connection()
    new_session(headset, started, 40)
    program.level_shown(headset.path, 80, started, 40)
    wait("Battery1 back at 80", lambda: stack.battery(headset.path) == (80, OUR_SOURCE))
    program.quit()


def adapter_off_on():
    """The computer's adapter switched off and on: the gauge hidden, then the level back."""
    switched_off_and_on(0, 65)


def two_headsets():
    """Two headsets at once, each with its own link and level."""
    stack = Stack(4)
    first = stack.add_headset(1, [66, 61], connect=False)
    second = stack.add_headset(2, [44, 39], connect=False)
    # btvirt numbers each controller's links on its own (the lowest free
    # handle from 42) and passes a packet on with the sender's number: a
    # controller's second link works only where the peer's number agrees.
    # A spare controller takes the second headset's first number.
    stack.link(3, 2)
    stack.connect(first)
    stack.connect(second)
    program = Program({first.path: (True, True), second.path: (True, True)})
    for headset, level in ((first, 61), (second, 39)):
        program.level_shown(headset.path, level)
        wait(f"Battery1 of hci{headset.index}", lambda: stack.battery(headset.path) == (level, OUR_SOURCE))
    program.quit()

# -- Beside the desktop's audio system: PipeWire and WirePlumber as Debian 12 runs them.

ADVICE = "The desktop's audio system holds the hands-free audio gateway"
SOURCE = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))


def recipe():
    """The README's WirePlumber file that switches PipeWire's hands-free roles off."""
    with open(f"{SOURCE}/README.md") as f:
        line = next(l.strip() for l in f if l.strip().startswith('bluez_monitor.properties["bluez5.headset-roles"]'))
    return {"51-kestrolune.lua": line + "\n"}


def pause(seconds):
    start = now()
    wait(f"{seconds} s", lambda: now() - start >= seconds, seconds + 5, 0.2)


def beside_pipewire(experimental=True, files=None, levels=(64, 58)):
    """The world with the desktop's audio system and one paired headset."""
    stack = Stack(2, experimental)
    watch = BusWatch(stack.bus)
    desktop = Desktop(files)
    headset = stack.add_headset(1, list(levels))
    return stack, watch, desktop, headset, RfcommTable(stack, headset)


def comes_back(stack, headset, how):
    """The headset goes and comes back, its hands-free unit connected by
    'how': ("dial", seconds after its link is up) or ("computer",), the
    computer's side asking BlueZ for it. Returns the new connection."""
    headset.release_connection()
    for session in headset.open_sessions():
        session["process"].kill()
    try:
        wait(f"{headset.path} disconnected", lambda: not stack.connected(headset.path), 10)
    except Failure:
        # In this one-bluetoothd world PipeWire serves the headset's controller
        # too, and bluetoothd may have connected its audio endpoints between
        # the two: the headset then goes as one out of range does, its
        # controller dropping the link.
        say(f"hci{headset.index}: still connected; its controller drops the link")
        subprocess.run(["hcitool", "-i", f"hci{headset.index}", "dc", stack.address(0)], check=True, timeout=30)
        wait(f"{headset.path} disconnected", lambda: not stack.connected(headset.path), 30)
    since = now()
    stack.connect(headset)
    if how[0] == "dial":
        pause(how[1])
        headset.dial()
    else:
        call(stack.interface(headset.path, "org.bluez.Device1").ConnectProfile, HF)
    say(f"hci{headset.index} back, its hands-free unit connected by {how}")
    return new_session(headset, since)


def nothing_of_ours(watch, table, program):
    check(watch.of(program.process.pid) == [],
          f"no registration or connection asked of BlueZ by the program: {watch.of(program.process.pid)}")
    check(table.most <= 1, f"at most one hands-free channel to the headset at any time (most: {table.most})")


def pipewire_experimental():
    """Stock PipeWire, bluetoothd's experimental features: PipeWire's level
    on the row with nothing ticked and with 监听 + 托盘, and nothing of ours
    on the bus or the headset through reconnections."""
    stack, watch, desktop, headset, table = beside_pipewire(True)
    wait("PipeWire's hands-free gateway registered", stack.gateway_listed)
    pause(1)
    headset.dial()
    wait("PipeWire's level in Battery1", lambda: stack.battery(headset.path) == (58, ""))
    program = Program({})
    program.level_shown(headset.path, 58)
    pause(2 * 3)  # two scan cycles with nothing ticked
    nothing_of_ours(watch, table, program)
    ticked = now()
    program.click_box(headset.path, Program.TRAY_X)
    program.click_box(headset.path, Program.LISTEN_X)
    wait("both boxes stored", lambda: program.stored().get(headset.path) == {"tray": True, "listen": True}, 5)
    program.wait_logged("registerDeviceToTrary", ticked)
    for how in (("dial", 1), ("dial", 10), ("computer",)):
        since = now()
        session = comes_back(stack, headset, how)
        program.level_shown(headset.path, 58, since)
        pause(2 * 3)
        check(session["ended"] is None, f"PipeWire's connection ({how}) left alone")
        nothing_of_ours(watch, table, program)
    program.quit()
    pause(2)
    check(stack.battery(headset.path) == (58, ""), "the desktop keeps PipeWire's level after the exit")


def pipewire_stock():
    """Stock PipeWire without experimental features: the row says what holds
    the channel and what to do; PipeWire's connection is left alone through
    reconnections, and the program asks BlueZ for nothing."""
    stack, watch, desktop, headset, table = beside_pipewire(False, levels=(47,))
    wait("PipeWire's hands-free gateway registered", stack.gateway_listed)
    pause(1)
    headset.dial()
    first = new_session(headset, 0)
    program = Program({headset.path: (True, True)})
    program.wait_logged("slot_recvErrorMsg")
    line = next(l for _, l in program.lines if "slot_recvErrorMsg" in l)
    check(ADVICE in line and "README" in line and "experimental" in line,
          f"the row says what holds the channel and what to do: {line}")
    pause(2 * 3)
    check(first["ended"] is None, "PipeWire's connection left alone")
    for how in (("dial", 10), ("computer",)):
        session = comes_back(stack, headset, how)
        pause(3 * 3)
        check(session["ended"] is None, f"PipeWire's connection ({how}) left alone")
    check(program.logged(f"updateDeviceBatteryValue {headset.path} 47") is None, "no level of ours")
    nothing_of_ours(watch, table, program)  # no retries at all
    program.quit()


def pipewire_recipe():
    """The README's recipe: PipeWire registers no hands-free gateway, and our
    level reaches the row through BlueZ's profile interface."""
    stack, watch, desktop, headset, table = beside_pipewire(True, recipe(), levels=(71, 66))
    pause(5)
    check(not stack.gateway_listed(), "PipeWire registered no hands-free gateway")
    program = Program({headset.path: (True, True)})
    program.level_shown(headset.path, 66)
    wait("Battery1 at 66 from our provider", lambda: stack.battery(headset.path) == (66, OUR_SOURCE))
    ours = [c[2] for c in watch.of(program.process.pid)]
    check(ours == ["RegisterProfile", "ConnectProfile", "UnregisterProfile"],
          f"the profile held for the connect only: {ours}")
    check(table.most == 1, "one hands-free channel")
    program.quit()


def pipewire_restart():
    """WirePlumber restarted while our link runs, while 监听 stays ticked,
    after 监听 is unticked and after the program exits: PipeWire's gateway
    registers each time, and our link gives way to it."""
    stack, watch, desktop, headset, table = beside_pipewire(True, recipe(), levels=(52,))
    program = Program({headset.path: (True, True)})
    session = new_session(headset, 0)
    program.level_shown(headset.path, 52)
    os.remove(os.path.join(Desktop.CONFIG, "51-kestrolune.lua"))  # the recipe undone
    restarted = now()
    desktop.restart_wireplumber()
    wait("PipeWire's gateway registered while our link runs", stack.gateway_listed)
    program.level_shown(headset.path, -1, restarted)
    wait("our link ended for PipeWire", lambda: session["ended"], 10)
    program.wait_logged(ADVICE, restarted)
    registered = len(watch.of(program.process.pid, "RegisterProfile"))
    for step in ("listen ticked", "listen unticked", "program gone"):
        if step == "listen unticked":
            program.click_box(headset.path, Program.LISTEN_X)
            wait("listen off in the stored file", lambda: program.stored()[headset.path]["listen"] is False, 5)
        elif step == "program gone":
            program.quit()
        desktop.stop_wireplumber()
        wait("PipeWire's gateway gone", lambda: not stack.gateway_listed(), 10)
        pause(3)  # a scan cycle in the gap
        desktop.start_wireplumber()
        wait(f"PipeWire's gateway registered again ({step})", stack.gateway_listed)
    check(len(watch.of(program.process.pid, "RegisterProfile")) == registered, "nothing taken in the gaps")


def held_five_minutes():
    """Five minutes beside stock PipeWire, which holds the headset's
    hands-free channel, with 监听 and 托盘 ticked: how often the program asks
    BlueZ for the profile or the headset, or searches SDP or opens RFCOMM
    itself. For bench/realstack, not the suite."""
    stack, watch, desktop, headset, table = beside_pipewire(False, levels=(47,))
    wait("PipeWire's hands-free gateway registered", stack.gateway_listed)
    headset.dial()
    new_session(headset, 0)
    program = Program({headset.path: (True, True)})
    pause(300)
    for member in ("RegisterProfile", "ConnectProfile"):
        measure(f"held-{member}", len(watch.of(program.process.pid, member)))
    measure("held-SDP", sum(1 for _, l in program.lines if "RfcommSocket: SDP search" in l))
    measure("held-RFCOMM", sum(1 for _, l in program.lines if "RfcommSocket: RFCOMM connect" in l))
    measure("held-channels", table.most)
    program.quit()


SCENARIOS = {f.__name__.replace("_", "-"): f for f in (
    profile_path, untick, headset_off_on, known_level, bluetoothd_restart, adapter_off_on, two_headsets,
    pipewire_experimental, pipewire_stock, pipewire_recipe, pipewire_restart)}
BENCH_ONLY = {"held-five-minutes": held_five_minutes}


def main():
    if sys.argv[1:] == ["--list"]:
        print("\n".join(SCENARIOS))
        return 0
    name = sys.argv[1] if len(sys.argv) > 1 else ""
    SCENARIOS.update(BENCH_ONLY)
    if name not in SCENARIOS:
        print(f"no scenario {name!r}; there are: {', '.join(SCENARIOS)}")
        return 2
    say(f"scenario {name}: {SCENARIOS[name].__doc__.split(chr(10))[0]}")
    try:
        SCENARIOS[name]()
    except Failure as e:
        say(f"FAILED: {e}")
        return 1
    except Exception:
        traceback.print_exc()
        return 1
    say(f"scenario {name} passed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
