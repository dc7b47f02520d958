#!/usr/bin/python3
# The real-stack scenarios, run inside the guest by guest-init:
#   scenarios.py NAME      one scenario; exit status 0 when every check holds
#   scenarios.py --list    their names
# Lines "measure: NAME SECONDS" are the figures bench/realstack collects.
import sys
import traceback

import dbus
import dbus.service

from program import Program
from world import AG, HF, OUR_SOURCE, Failure, Profile, Stack, call, check, now, say, wait


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


def audio_system(stack):
    """Another program that holds the audio-gateway profile, as the desktop's
    audio system does: its record is on the SDP server too."""
    other = Profile(stack.bus, "/test/audiosystem")
    stack.register_profile(other, AG, {"AutoConnect": dbus.Boolean(False), "Channel": dbus.UInt16(13),
                                       "Name": "Audio system"})
    return other


def fallback():
    """With the audio-gateway profile held elsewhere, our own RFCOMM channel,
    found through SDP, reaches the headset."""
    stack = Stack(2)
    other = audio_system(stack)
    headset = stack.add_headset(1, [77, 55])
    program = Program({headset.path: (True, True)})
    program.wait_logged("holds the hands-free profile")
    session = new_session(headset, 0)
    shown = program.level_shown(headset.path, 77)
    program.level_shown(headset.path, 55, shown)
    check(other.connections == [], "the audio system was not connected")
    wait("Battery1 at 55 from our provider", lambda: stack.battery(headset.path) == (55, OUR_SOURCE))
    check(program.logged("Invalid argument") is None, "no 'Invalid argument' on the way")
    quit_at = now()
    program.quit()
    wait("the headset's connection ended at exit", lambda: session["ended"], 5)
    check(session["ended"] - quit_at < 5, "the exit freed the headset's hands-free channel")


def fallback_taken():
    """The audio system holds the profile and the headset's channel: the row
    says why, in words that point at the way out."""
    stack = Stack(2)
    other = audio_system(stack)
    headset = stack.add_headset(1, [50])
    call(stack.interface(headset.path, "org.bluez.Device1").ConnectProfile, HF)
    wait("the audio system's connection", lambda: other.connections)
    program = Program({headset.path: (True, True)})
    program.wait_logged("slot_recvErrorMsg")
    line = next(l for _, l in program.lines if "slot_recvErrorMsg" in l)
    check("The desktop's audio system provides hands-free support" in line and "README" in line,
          f"the row says the audio system holds the channel: {line}")
    check(program.logged("updateDeviceBatteryValue " + headset.path + " 50") is None, "no level shown")
    program.quit()


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


def explore():
    """Exploration (temporary)."""
    import subprocess, time
    from world import Desktop, RfcommTable, BusWatch
    stack = Stack(2)
    watch = BusWatch(stack.bus)
    desktop = Desktop()
    try:
        wait("gateway listed", stack.gateway_listed, 20)
        say("gateway listed")
    except Failure as e:
        say(str(e))
    say(f"hci0 UUIDs {[str(u) for u in stack.prop('/org/bluez/hci0', 'org.bluez.Adapter1', 'UUIDs')]}")
    headset = stack.add_headset(1, [64, 50])
    table = RfcommTable(stack, headset)
    t = now()
    wait("10 s", lambda: now() - t > 10, 4)
    say(f"sessions after link: {headset.sessions} table {table.now}/{table.most} battery {stack.battery(headset.path)}")
    try:
        headset.dial()
    except Exception as e:
        say(f"dial failed {e!r}")
    t = now()
    wait("10 s", lambda: now() - t > 10, 4)
    say(f"sessions after dial: {headset.sessions} table {table.now}/{table.most} battery {stack.battery(headset.path)}")
    say(f"objects: {stack.objects().get(dbus.ObjectPath(headset.path), {})}")
    say("dlc: " + open("/sys/kernel/debug/bluetooth/rfcomm_dlc").read())
    say("sock: " + open("/sys/kernel/debug/bluetooth/rfcomm").read())
    headset.release_connection()
    for sess in headset.open_sessions():
        sess["process"].kill()
    wait("disconnected", lambda: not stack.connected(headset.path), 30)
    stack.connect(headset)
    t = now()
    try:
        call(stack.interface(headset.path, "org.bluez.Device1").ConnectProfile, HF)
        say("computer side connect ok")
    except Exception as e:
        say(f"computer side connect: {e!r}")
    wait("10 s", lambda: now() - t > 10, 4)
    say(f"sessions after computer connect: {headset.sessions} table {table.now}/{table.most} battery {stack.battery(headset.path)}")
    say("dlc: " + open("/sys/kernel/debug/bluetooth/rfcomm_dlc").read())
    for c in watch.calls:
        say(f"call {c}")
    say(subprocess.run(["ps", "ax"], capture_output=True, text=True).stdout)
    say(desktop.logged()[-6000:])
    for name in sorted(__import__('os').listdir('/mnt')):
        if name.startswith('headset'):
            say(name + ': ' + open('/mnt/' + name).read()[-3000:])


SCENARIOS = {f.__name__.replace("_", "-"): f for f in (
    profile_path, fallback, fallback_taken, untick, headset_off_on, known_level, bluetoothd_restart,
    adapter_off_on, two_headsets, explore)}


def main():
    if sys.argv[1:] == ["--list"]:
        print("\n".join(SCENARIOS))
        return 0
    name = sys.argv[1] if len(sys.argv) > 1 else ""
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
