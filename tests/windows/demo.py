#!/usr/bin/python3
"""kestrolune-demo.exe under Wine, driven as a person drives it: real clicks
(xdotool) on its window, what the screen shows (screenshots), its log, its
configuration file in the Wine user's home and its exit status.

    demo.py <kestrolune-demo.exe> <Wine prefix>
    demo.py <kestrolune.exe> <Wine prefix> --no-bluetooth

The second form runs the program on Wine's own Bluetooth, which has none:
the window must say that Bluetooth is off, and nothing may crash.

Needs an X server ($DISPLAY) with nothing else on it; starts a notification
area (trayer) of its own. Every failed check ends the run with status 1.
"""
import glob
import json
import os
import re
import shutil
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
EXE = os.path.abspath(sys.argv[1])
PREFIX = os.path.abspath(sys.argv[2])
OUT = os.path.join(os.path.dirname(EXE), "windows-demo")
os.makedirs(OUT, exist_ok=True)
ENV = dict(os.environ, WINEPREFIX=PREFIX)

# Where the window's controls are, from its top-left corner (as on Linux).
TRAY_BOX, LISTEN_BOX, EXIT_BUTTON = (457, 40), (567, 40), (320, 435)
MARK = (0x4C, 0xAF, 0x50)   # a ticked box, and a high level's picture
CARDS = [(0xFA, 0xFC, 0xFD), (0xF4, 0xF6, 0xF9)]
IDS = ["sim-headset-aurora", "sim-headset-tern", "sim-speaker-kite", "sim-earbuds-heron", "sim-headset-wren"]


def fail(what):
    print("demo: FAIL:", what, flush=True)
    sys.exit(1)


def run(*args, timeout=30):
    return subprocess.run(args, env=ENV, capture_output=True, text=True, timeout=timeout)


def quiet(*args):
    # No pipe: Wine's background processes would hold it open.
    subprocess.run(args, env=ENV, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                   timeout=60)


class Demo:
    """One run of the program; its log goes to a file of the run's own."""
    count = 0

    def __init__(self, cwd):
        Demo.count += 1
        self.log_path = os.path.join(OUT, "run-%d.log" % Demo.count)
        self.log_file = open(self.log_path, "w")
        self.process = subprocess.Popen([os.path.join(HERE, "wine-run"), EXE], cwd=cwd, env=ENV,
                                        stdout=self.log_file, stderr=subprocess.STDOUT)

    def log(self):
        with open(self.log_path, errors="replace") as f:
            return f.read()

    def wait_for_log(self, text, seconds=30):
        deadline = time.time() + seconds
        while time.time() < deadline:
            if text in self.log():
                return
            if self.process.poll() is not None:
                break
            time.sleep(0.2)
        fail("the log never said %r (%s)" % (text, self.log_path))

    def exit_status(self, seconds=30):
        try:
            return self.process.wait(seconds)
        except subprocess.TimeoutExpired:
            self.process.kill()
            fail("run %s did not end within %d s:\n%s" % (self.log_path, seconds, self.log()[-2000:]))


def window(seconds=60):
    deadline = time.time() + seconds
    while time.time() < deadline:
        found = run("xdotool", "search", "--onlyvisible", "--name", "^Kestrolune$").stdout.split()
        if found:
            time.sleep(1.5)  # the first frames
            return found[-1]
        time.sleep(0.3)
    fail("no window named Kestrolune within %d s" % seconds)


def origin(win):
    geometry = run("xdotool", "getwindowgeometry", "--shell", win).stdout
    values = dict(line.split("=", 1) for line in geometry.split())
    return int(values["X"]), int(values["Y"])


def pixels(area):
    """The screen's pixels in (x, y, width, height) as (r, g, b) tuples."""
    x, y, w, h = area
    text = run("import", "-window", "root", "-crop", "%dx%d+%d+%d" % (w, h, x, y), "+repage", "-depth", "8",
               "txt:-").stdout
    # One line a pixel: "x,y: (r,g,b)  #rrggbb  srgb(r,g,b)".
    return [tuple(int(v) for v in m.groups()) for m in re.finditer(r"^\d+,\d+: \((\d+),(\d+),(\d+)", text, re.M)]


def near(a, b):
    return sum(abs(p - q) for p, q in zip(a, b)) < 12


def pixel_at(win, point):
    x, y = origin(win)
    return pixels((x + point[0], y + point[1], 1, 1))[0]


def click(win, point):
    run("xdotool", "mousemove", "--window", win, str(point[0]), str(point[1]), "click", "1")


def screenshot(win, name):
    run("import", "-window", win, os.path.join(OUT, name))


def tray_shows_a_level():
    """The notification area (the screen's bottom right) holds a level
    picture: the high level's green, which the program's own icon lacks."""
    width, height = (int(v) for v in run("xdotool", "getdisplaygeometry").stdout.split())
    return any(near(p, MARK) for p in pixels((width - 240, height - 48, 240, 48)))


def kill_in_prefix(name):
    """Kills the program's Windows process (not its loader) abruptly."""
    for pid in os.listdir("/proc"):
        try:
            with open("/proc/%s/cmdline" % pid, "rb") as f:
                command = f.read()
            with open("/proc/%s/environ" % pid, "rb") as f:
                environ = f.read().split(b"\0")
        except (OSError, ValueError):
            continue
        if name.encode() in command and ("WINEPREFIX=" + PREFIX).encode() in environ:
            os.kill(int(pid), 9)


def config_path():
    homes = [h for h in glob.glob(os.path.join(PREFIX, "drive_c", "users", "*")) if not h.endswith("Public")]
    if len(homes) != 1:
        fail("no single Wine user in %s: %s" % (PREFIX, homes))
    return os.path.join(homes[0], "kestrolune.json")


def main():
    subprocess.run([os.path.join(HERE, "wine-prefix"), PREFIX], check=True)
    config = config_path()
    if os.path.exists(config):
        os.remove(config)
    tray = subprocess.Popen(["trayer", "--edge", "bottom", "--align", "right", "--widthtype", "request",
                             "--height", "40"], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    # Wine docks its icons in an X11 notification area once one has taken
    # the tray selection.
    deadline = time.time() + 10
    while not run("xdotool", "search", "--class", "trayer").stdout.strip():
        if time.time() > deadline:
            fail("trayer did not start")
        time.sleep(0.2)
    time.sleep(1)
    try:
        if sys.argv[3:] == ["--no-bluetooth"]:
            no_bluetooth()
        else:
            scenario(config)
    finally:
        tray.kill()
        quiet("/usr/lib/wine/wineserver", "-k")
    print("demo: PASS", flush=True)


def scenario(config):
    # Started elsewhere than its folder, as a shortcut or the login would.
    elsewhere = os.path.join(OUT, "elsewhere")
    os.makedirs(elsewhere, exist_ok=True)
    demo = Demo(elsewhere)
    win = window()
    demo.wait_for_log("Loaded font family:")
    for device in IDS:
        demo.wait_for_log("registerToIndex " + device)
    rows = [pixel_at(win, (30, 40 + 80 * n)) for n in range(5)]
    if not all(any(near(row, c) for c in CARDS) for row in rows):
        screenshot(win, "rows-missing.png")
        fail("not every device has its row on screen: %s at %s" % (rows, origin(win)))
    if tray_shows_a_level():
        fail("a level in the notification area before 托盘 was ticked")

    # 托盘 and 监听 on Aurora Buds: its level on its row and in its tray icon.
    click(win, TRAY_BOX)
    click(win, LISTEN_BOX)
    demo.wait_for_log("updateDeviceBatteryValue sim-headset-aurora")
    demo.wait_for_log('registerDeviceToTrary:  "sim-headset-aurora"')
    deadline = time.time() + 10
    while not tray_shows_a_level():
        if time.time() > deadline:
            run("import", "-window", "root", os.path.join(OUT, "no-tray-level.png"))
            fail("no level picture in the notification area")
        time.sleep(0.5)
    if not near(pixel_at(win, LISTEN_BOX), MARK):
        fail("监听 does not show ticked")
    screenshot(win, "demo-listening-wine.png")
    run("import", "-window", "root", os.path.join(OUT, "screen-listening-wine.png"))
    # Wren Headset starts at 23 % and drains: its warning comes from its own
    # tray icon once it reaches 20 % (checked below, meanwhile the rest).
    click(win, (TRAY_BOX[0], TRAY_BOX[1] + 320))
    click(win, (LISTEN_BOX[0], LISTEN_BOX[1] + 320))
    if "no picture" in demo.log():
        fail("a level picture was not found:\n" + demo.log())

    time.sleep(1)
    with open(config, encoding="utf-8") as f:
        saved = json.load(f)
    if saved != {"sim-headset-aurora": {"tray": True, "listen": True},
                 "sim-headset-wren": {"tray": True, "listen": True}}:
        fail("kestrolune.json holds %r" % saved)

    # A second start brings the first one's window and ends with 0.
    second = Demo(elsewhere)
    if second.exit_status() != 0:
        fail("the second start ended with %s:\n%s" % (second.process.returncode, second.log()))
    if demo.process.poll() is not None:
        fail("the first program ended when the second started")

    # The warning goes as the tray icon's message (Wine's notification area
    # on X11 does not draw it: the log is the witness).
    demo.wait_for_log('TrayNotifier: "sim-headset-wren"', 60)
    click(win, EXIT_BUTTON)
    if demo.exit_status() != 0:
        fail("the exit button gave status %s" % demo.process.returncode)

    # Started again, the choices are back; the end of the session ends it
    # as the exit button does.
    demo = Demo(elsewhere)
    win = window()
    demo.wait_for_log("updateDeviceBatteryValue sim-headset-aurora")
    if not near(pixel_at(win, LISTEN_BOX), MARK):
        fail("监听 is not ticked after a restart")
    quiet("/usr/lib/wine/wine64", "wineboot", "--end-session")
    status = demo.exit_status()
    if status != 0 or "SessionEnd: the session ends" not in demo.log():
        fail("the end of the session gave status %s:\n%s" % (status, demo.log()[-2000:]))

    # A program that crashed leaves its lock behind: the next start runs.
    demo = Demo(elsewhere)
    window()
    kill_in_prefix("kestrolune-demo.exe")
    demo.exit_status()
    demo = Demo(elsewhere)
    win = window()
    click(win, EXIT_BUTTON)
    if demo.exit_status() != 0:
        fail("after a crashed run the program ended with %s" % demo.process.returncode)


def red_text_left(win):
    """Where the system notice (red, above the exit button) begins."""
    x, y = origin(win)
    width = 340
    area = pixels((x + 150, y + 376, width, 22))
    reds = [i % width for i, (r, g, b) in enumerate(area) if r > 180 and g < 110 and b < 110]
    return 150 + min(reds) if reds else None


def no_bluetooth():
    program = Demo(OUT)
    win = window()
    # Centred above the exit button: "蓝牙未开启" (before the first pass)
    # begins near x 270, "蓝牙设备未开启" (the radio is off), two characters
    # longer, near 250.
    deadline = time.time() + 20
    while (red_text_left(win) or 999) > 260:
        if time.time() > deadline:
            screenshot(win, "no-bluetooth.png")
            fail("the notice never said the radio is off (it begins at x %s)" % red_text_left(win))
        time.sleep(0.5)
    screenshot(win, "no-bluetooth.png")
    time.sleep(7)  # two more scan cycles: no failure logged at every one
    log = program.log()
    if "hresult" in log or "message:" in log:
        fail("a missing radio is logged as a failure:\n" + log[-2000:])
    click(win, EXIT_BUTTON)
    if program.exit_status() != 0:
        fail("the exit button gave status %s:\n%s" % (program.process.returncode, program.log()[-2000:]))


if __name__ == "__main__":
    if shutil.which("xdotool") is None or "DISPLAY" not in os.environ:
        fail("needs xdotool and an X server")
    main()
