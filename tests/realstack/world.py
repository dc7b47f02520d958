# The real-stack world inside the guest: btvirt's emulated controllers,
# Debian's bluetoothd, a pairing agent, the headsets' hands-free units (our
# simulated headset on the descriptors bluetoothd hands over), and the waits
# and checks the scenarios are written in. The program is in program.py.
import os
import socket
import subprocess
import threading
import time

import dbus
import dbus.bus
import dbus.lowlevel
import dbus.mainloop.glib
import dbus.service
from gi.repository import GLib

HF = "0000111e-0000-1000-8000-00805f9b34fb"
AG = "0000111f-0000-1000-8000-00805f9b34fb"
OUR_SOURCE = "Kestrolune (HFP AT+BIEV)"
BUILD = os.environ.get("KESTROLUNE_BUILD_DIR", "")
LOGS = "/mnt"
T0 = time.monotonic()

# One thread talks D-Bus: every wait serves our objects (agent, profiles,
# providers) in between, and calls that make bluetoothd call us back are
# made asynchronously (call()), so nothing waits on itself.
dbus.mainloop.glib.DBusGMainLoop(set_as_default=True)
_context = GLib.MainContext.default()


class Failure(Exception):
    pass


def now():
    return time.monotonic() - T0


def say(text):
    print(f"[{now():7.2f}] {text}", flush=True)


# The guest runs under software emulation on a machine that may be busy with
# other tests: a deadline here only tells a hang from slowness, so every one
# is three times what an idle machine needs. Times the scenarios check
# (within 3 s of a click) are checked as such.
SLACK = 3


def wait(what, predicate, timeout=20.0, step=0.1):
    """Waits until predicate() is true and returns its value; fails with what."""
    timeout *= SLACK
    end = time.monotonic() + timeout
    while True:
        while _context.pending():
            _context.iteration(False)
        try:
            value = predicate()
        except dbus.DBusException:
            value = None
        if value:
            return value
        if time.monotonic() > end:
            raise Failure(f"{what}: not within {timeout:g} s")
        time.sleep(step)


def call(method, *args, timeout=30.0):
    """A D-Bus call whose reply may come only after bluetoothd has called one
    of our objects; served meanwhile."""
    result = {}
    method(*args, reply_handler=lambda *reply: result.setdefault("reply", reply),
           error_handler=lambda error: result.setdefault("error", error), timeout=timeout)
    wait(f"the reply to {method._method_name}", lambda: result, timeout / SLACK + 5, 0.02)
    if "error" in result:
        raise result["error"]
    return result["reply"][0] if result["reply"] else None


def check(condition, what):
    if not condition:
        raise Failure(what)
    say(f"ok: {what}")


class Agent(dbus.service.Object):
    """Says yes to every pairing and every service, as NoInputNoOutput."""
    PATH = "/test/agent"

    @dbus.service.method("org.bluez.Agent1", in_signature="", out_signature="")
    def Release(self):
        pass

    @dbus.service.method("org.bluez.Agent1", in_signature="ou", out_signature="")
    def RequestConfirmation(self, device, passkey):
        pass

    @dbus.service.method("org.bluez.Agent1", in_signature="o", out_signature="")
    def RequestAuthorization(self, device):
        pass

    @dbus.service.method("org.bluez.Agent1", in_signature="os", out_signature="")
    def AuthorizeService(self, device, uuid):
        pass

    @dbus.service.method("org.bluez.Agent1", in_signature="", out_signature="")
    def Cancel(self):
        pass


class Profile(dbus.service.Object):
    """A Profile1 object of a program other than ours; keeps what it is handed."""

    def __init__(self, bus, path, on_connection=None):
        super().__init__(bus, path)
        self.path = path
        self.connections = []  # (device, descriptor kept or None, time)
        self.on_connection = on_connection

    @dbus.service.method("org.bluez.Profile1", in_signature="", out_signature="")
    def Release(self):
        pass

    @dbus.service.method("org.bluez.Profile1", in_signature="oha{sv}", out_signature="")
    def NewConnection(self, device, fd, properties):
        fd = fd.take()
        say(f"{self.path}: connection from {device}")
        if self.on_connection:
            self.on_connection(str(device), fd)
            os.close(fd)
            fd = None
        self.connections.append((str(device), fd, now()))

    @dbus.service.method("org.bluez.Profile1", in_signature="o", out_signature="")
    def RequestDisconnection(self, device):
        pass


class Headset:
    """One emulated controller playing a headset: its hands-free unit is our
    simulated headset, run on each connection that bluetoothd hands over."""

    def __init__(self, stack, index, levels):
        self.stack = stack
        self.index = index
        self.levels = levels
        self.sessions = []  # (started, process, ended-at or None)
        self.keeper = None

    @property
    def adapter(self):
        return f"/org/bluez/hci{self.index}"

    def start_session(self, device, fd):
        if not device.startswith(self.adapter + "/"):
            return
        fd = os.dup(fd)  # the profile object closes its own
        log = open(f"{LOGS}/headset{self.index}-{len(self.sessions)}.log", "w")
        process = subprocess.Popen([f"{BUILD}/tools/kestrolune-headset", "--fd", str(fd), "--stay", "--ask-operator",
                                    "--levels", ",".join(str(l) for l in self.levels)],
                                   pass_fds=[fd], stderr=log, stdout=log)
        os.close(fd)
        session = {"started": now(), "process": process, "ended": None}
        self.sessions.append(session)
        threading.Thread(target=self._watch, args=(session,), daemon=True).start()

    def _watch(self, session):
        session["process"].wait()
        session["ended"] = now()
        say(f"hci{self.index}: the hands-free connection ended (status {session['process'].returncode})")

    def dial(self):
        """The headset connects its hands-free unit to the computer's audio
        gateway itself, as many do when their link comes up: an RFCOMM
        channel to the gateway's record on the computer's SDP server."""
        computer = self.stack.address(0)
        out = subprocess.run(["sdptool", "-i", f"hci{self.index}", "search", "--bdaddr", computer, "0x111f"],
                             capture_output=True, text=True, timeout=60).stdout
        channels = [int(line.split()[-1]) for line in out.splitlines() if line.strip().startswith("Channel:")]
        if not channels:
            raise Failure(f"hci{self.index}: no audio gateway on the computer's SDP server: {out!r}")
        channel = socket.socket(socket.AF_BLUETOOTH, socket.SOCK_STREAM, socket.BTPROTO_RFCOMM)
        channel.bind((self.stack.address(self.index), 0))
        channel.settimeout(20)
        channel.connect((computer, channels[0]))
        say(f"hci{self.index}: dialled the computer's audio gateway on channel {channels[0]}")
        self.start_session(self.adapter + "/dial", channel.fileno())
        channel.close()

    def open_sessions(self):
        return [s for s in self.sessions if s["ended"] is None]

    def hold_connection(self):
        """Keeps the baseband link up as a headset does: an L2CAP channel to
        the computer's SDP server."""
        self.release_connection()

        def connected():
            try:
                return self.stack.sdp_channel(self.index, 0)
            except OSError as e:  # the link of a moment ago still going down
                say(f"hci{self.index}: no L2CAP channel to the computer yet ({e})")
                return None
        self.keeper = wait(f"hci{self.index}'s L2CAP channel to the computer", connected, 30, 1.0)

    def release_connection(self):
        if self.keeper:
            self.keeper.close()
            self.keeper = None


class Stack:
    def __init__(self, controllers, experimental=True):
        """experimental: bluetoothd's experimental features (-E), with which
        other programs' battery levels reach Battery1."""
        self.controllers = controllers
        self.experimental = experimental
        self.bus = dbus.SystemBus()
        self.agent = Agent(self.bus, Agent.PATH)
        self.profiles = []
        self.headsets = []
        self.links = []
        self.bluetoothd = None
        # The kernel gives an emulated controller 2 s to answer each step of
        # its set-up; on a busy machine the guest may not run btvirt in time
        # and the controller stays down. Then both start again.
        for attempt in range(1, 4):
            self.btvirt = subprocess.Popen(["btvirt", f"-l{controllers}"], stdout=open(f"{LOGS}/btvirt.log", "a"),
                                           stderr=subprocess.STDOUT)
            wait("btvirt's controllers", lambda: os.path.exists(f"/sys/class/bluetooth/hci{controllers - 1}"))
            try:
                self.start_bluetoothd()
                break
            except Failure as e:
                if attempt == 3:
                    raise
                say(f"the controllers did not come up ({e}); btvirt and bluetoothd start again")
                self.bluetoothd.kill()
                self.bluetoothd.wait()
                self.btvirt.kill()
                self.btvirt.wait()
                wait("btvirt's controllers gone", lambda: not os.listdir("/sys/class/bluetooth"))
        # bluetoothd takes each UUID once: one hands-free unit profile serves
        # every headset, by the adapter the connection is on. Registered
        # before the desktop's audio system, which would take the UUID too.
        self.units = Profile(self.bus, "/test/handsfree",
                             lambda device, fd: [h.start_session(device, fd) for h in self.headsets])
        self.register_profile(self.units, HF, {"Role": "server", "Channel": dbus.UInt16(7),
                                               "Name": "Hands-Free unit"})

    # -- bluetoothd
    def start_bluetoothd(self):
        log = open(f"{LOGS}/bluetoothd.log", "a")
        self.bluetoothd = subprocess.Popen(["/usr/libexec/bluetooth/bluetoothd", "-n", "-d"]
                                           + (["-E"] if self.experimental else []),
                                           stdout=log, stderr=subprocess.STDOUT)
        wait("bluetoothd's adapters", lambda: all(f"/org/bluez/hci{i}" in self.objects()
                                                  for i in range(self.controllers)), 10)
        manager = self.interface("/org/bluez", "org.bluez.AgentManager1")
        call(manager.RegisterAgent, Agent.PATH, "NoInputNoOutput")
        call(manager.RequestDefaultAgent, Agent.PATH)
        for path, uuid, options in self.profiles:
            call(self.interface("/org/bluez", "org.bluez.ProfileManager1").RegisterProfile, path, uuid, options)
        for i in range(self.controllers):
            self.power(i, True)

    def stop_bluetoothd(self):
        self.bluetoothd.terminate()
        self.bluetoothd.wait(10)
        wait("bluetoothd gone from the bus", lambda: not self.bus.name_has_owner("org.bluez"))

    # -- D-Bus
    def interface(self, path, name):
        return dbus.Interface(self.bus.get_object("org.bluez", path), name)

    def objects(self):
        return self.interface("/", "org.freedesktop.DBus.ObjectManager").GetManagedObjects()

    def prop(self, path, iface, name):
        return self.interface(path, "org.freedesktop.DBus.Properties").Get(iface, name)

    def set_prop(self, path, iface, name, value):
        self.interface(path, "org.freedesktop.DBus.Properties").Set(iface, name, value, signature="ssv")

    def address(self, index):
        return str(self.prop(f"/org/bluez/hci{index}", "org.bluez.Adapter1", "Address"))

    def device(self, on, of):
        """The object path of controller 'of' as seen from controller 'on'."""
        return f"/org/bluez/hci{on}/dev_" + self.address(of).replace(":", "_")

    def power(self, index, on):
        self.set_prop(f"/org/bluez/hci{index}", "org.bluez.Adapter1", "Powered", dbus.Boolean(on))
        wait(f"hci{index} powered {on}",
             lambda: bool(self.prop(f"/org/bluez/hci{index}", "org.bluez.Adapter1", "Powered")) == on)

    def register_profile(self, profile, uuid, options):
        """Registers a profile now and again after every restart of bluetoothd."""
        self.profiles.append((profile.path, uuid, options))
        call(self.interface("/org/bluez", "org.bluez.ProfileManager1").RegisterProfile, profile.path, uuid, options)

    def connected(self, path):
        return bool(self.prop(path, "org.bluez.Device1", "Connected"))

    def battery(self, path):
        """Battery1 on a device: (percentage, source), or None."""
        interfaces = self.objects().get(dbus.ObjectPath(path), {})
        battery = interfaces.get("org.bluez.Battery1")
        if battery is None:
            return None
        return int(battery["Percentage"]), str(battery.get("Source", ""))

    # -- the world
    def add_headset(self, index, levels, connect=True):
        """Controller 'index' becomes a headset paired with controller 0, the
        computer: its hands-free unit is registered first, so that its UUID
        is among the device's UUIDs after pairing."""
        headset = Headset(self, index, levels)
        self.headsets.append(headset)
        computer, hs = "/org/bluez/hci0", headset.adapter
        self.set_prop(hs, "org.bluez.Adapter1", "Discoverable", dbus.Boolean(True))
        self.set_prop(hs, "org.bluez.Adapter1", "Pairable", dbus.Boolean(True))
        self.set_prop(computer, "org.bluez.Adapter1", "Pairable", dbus.Boolean(True))
        path = self.device(0, index)
        self.interface(computer, "org.bluez.Adapter1").StartDiscovery()
        # Discovery goes on until the pairing is done: bluetoothd forgets a
        # device found by a discovery that has stopped.
        try:
            wait(f"hci0 discovering hci{index}", lambda: dbus.ObjectPath(path) in self.objects(), 30)
            call(self.interface(path, "org.bluez.Device1").Pair, timeout=60)
        finally:
            self.interface(computer, "org.bluez.Adapter1").StopDiscovery()
        self.set_prop(path, "org.bluez.Device1", "Trusted", dbus.Boolean(True))
        back = self.device(index, 0)
        wait(f"hci{index} knowing the computer", lambda: dbus.ObjectPath(back) in self.objects())
        self.set_prop(back, "org.bluez.Device1", "Trusted", dbus.Boolean(True))
        wait(f"the hands-free UUID on {path}", lambda: HF in [str(u) for u in self.prop(path, "org.bluez.Device1", "UUIDs")])
        headset.path = path
        say(f"headset hci{index} paired as {path}")
        if connect:
            self.connect(headset)
        else:  # the pairing's link goes down by itself when idle
            wait(f"{path} disconnected after pairing", lambda: not self.connected(path), 30)
        return headset

    def sdp_channel(self, a, b):
        """An L2CAP channel from controller a to b's SDP server (PSM 1): it
        holds the baseband link between them up while it is open."""
        channel = socket.socket(socket.AF_BLUETOOTH, socket.SOCK_SEQPACKET, socket.BTPROTO_L2CAP)
        try:
            channel.bind((self.address(a), 0))
            channel.settimeout(20)
            channel.connect((self.address(b), 1))
        except OSError:
            channel.close()
            raise
        return channel

    def link(self, a, b):
        """A baseband link between two controllers, held open."""
        self.links.append(self.sdp_channel(a, b))

    def connect(self, headset):
        headset.hold_connection()
        wait(f"{headset.path} connected", lambda: self.connected(headset.path))

    def gateway_listed(self):
        """Whether the computer lists an audio-gateway record: another
        program's registration (ours has no record)."""
        return AG in [str(u) for u in self.prop("/org/bluez/hci0", "org.bluez.Adapter1", "UUIDs")]


class RfcommTable:
    """The kernel's RFCOMM channels from the computer to a headset, read
    from debugfs every 100 ms: how many there are now and at most."""

    def __init__(self, stack, headset):
        if not os.path.exists("/sys/kernel/debug/bluetooth"):
            subprocess.run(["mount", "-t", "debugfs", "debugfs", "/sys/kernel/debug"], check=True)
        self.pair = (stack.address(0).lower(), stack.address(headset.index).lower())
        self.most = 0
        self.now = 0
        threading.Thread(target=self._watch, daemon=True).start()

    def count(self):
        with open("/sys/kernel/debug/bluetooth/rfcomm_dlc") as f:
            return sum(1 for line in f if tuple(line.split()[:2]) == self.pair)  # src dst state dlci ...

    def _watch(self):
        while True:
            self.now = self.count()
            self.most = max(self.most, self.now)
            time.sleep(0.1)


class BusWatch:
    """Every call to BlueZ's profile and device interfaces on the system
    bus, with the process that made it: a monitor connection, as
    dbus-monitor's."""

    def __init__(self, bus):
        self.bus = bus
        self.calls = []  # (time, pid, member, first argument)
        self.pids = {}
        self.monitor = dbus.bus.BusConnection(dbus.bus.BUS_SYSTEM)
        self.monitor.add_message_filter(self._seen)
        rules = ["type='method_call',interface='org.bluez.ProfileManager1'",
                 "type='method_call',interface='org.bluez.Device1'"]
        self.monitor.call_blocking("org.freedesktop.DBus", "/org/freedesktop/DBus",
                                   "org.freedesktop.DBus.Monitoring", "BecomeMonitor", "asu", (rules, 0))

    def _pid(self, sender):
        if sender not in self.pids:
            try:
                self.pids[sender] = int(self.bus.call_blocking(
                    "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                    "GetConnectionUnixProcessID", "s", (sender,)))
            except dbus.DBusException:
                self.pids[sender] = None
        return self.pids[sender]

    def _seen(self, _connection, message):
        if message.get_type() == 1:  # a method call
            args = message.get_args_list()
            self.calls.append((now(), self._pid(message.get_sender()), message.get_member(),
                               str(args[0]) if args else ""))
        # A monitor must never answer: the bus would drop it.
        return dbus.lowlevel.HANDLER_RESULT_HANDLED

    def of(self, pid, member=None):
        return [c for c in self.calls if c[1] == pid and (member is None or c[2] == member)]


class Desktop:
    """PipeWire and WirePlumber as Debian 12's desktop runs them for the
    program's user: a session bus and XDG_RUNTIME_DIR, no audio hardware.
    Without systemd-logind WirePlumber stops its Bluetooth monitor, so a user
    file stands for an active seat. 'files' are more of the user's
    WirePlumber files (name -> text), such as the README's recipe."""
    CONFIG = "/root/.config/wireplumber/bluetooth.lua.d"

    def __init__(self, files=None):
        os.makedirs(self.CONFIG, exist_ok=True)
        for name in os.listdir(self.CONFIG):
            os.remove(os.path.join(self.CONFIG, name))
        self.write("52-test-seat.lua", 'bluez_monitor.properties["with-logind"] = false\n')
        for name, text in (files or {}).items():
            self.write(name, text)
        address = subprocess.run(["dbus-daemon", "--session", "--fork", "--print-address", "--nopidfile"],
                                 capture_output=True, text=True, check=True).stdout.strip()
        self.env = dict(os.environ, DBUS_SESSION_BUS_ADDRESS=address, XDG_RUNTIME_DIR="/run/user/0",
                        HOME="/root", XDG_CONFIG_HOME="/root/.config")
        self.pipewire = subprocess.Popen(["pipewire"], env=self.env, stdout=open(f"{LOGS}/pipewire.log", "a"),
                                         stderr=subprocess.STDOUT)
        wait("PipeWire's socket", lambda: os.path.exists("/run/user/0/pipewire-0"))
        self.wireplumber = None
        self.starts = 0
        self.start_wireplumber()

    def write(self, name, text):
        with open(os.path.join(self.CONFIG, name), "w") as f:
            f.write(text)

    def start_wireplumber(self):
        self.starts += 1
        self.log = f"{LOGS}/wireplumber-{self.starts}.log"
        self.wireplumber = subprocess.Popen(["wireplumber"], env=dict(self.env, WIREPLUMBER_DEBUG="2"),
                                            stdout=open(self.log, "w"), stderr=subprocess.STDOUT)

    def stop_wireplumber(self):
        self.wireplumber.terminate()
        self.wireplumber.wait(10)

    def restart_wireplumber(self):
        """As 'systemctl --user restart wireplumber' does."""
        self.stop_wireplumber()
        self.start_wireplumber()

    def logged(self):
        with open(self.log, errors="replace") as f:
            return f.read()
