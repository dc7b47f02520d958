# The program from the build tree under an X server of its own, inside the
# guest: started with a given configuration, read through its log, clicked
# with xdotool as a person would.
import json
import os
import subprocess
import threading

from world import BUILD, LOGS, Failure, check, now, say, wait


class Program:
    """The program from the build tree under an X server of its own."""
    EXIT = (320, 435)
    TRAY_X, LISTEN_X = 457, 567

    def __init__(self, profiles, environment=None):
        self.xvfb = subprocess.Popen(["Xvfb", ":7", "-screen", "0", "1024x768x24", "-nolisten", "tcp"],
                                     stderr=subprocess.DEVNULL)
        self.env = dict(os.environ, DISPLAY=":7", HOME="/root", QT_QPA_PLATFORM="xcb", **(environment or {}))
        wait("Xvfb", lambda: os.path.exists("/tmp/.X11-unix/X7"))
        with open("/root/kestrolune.json", "w") as f:
            json.dump({path: {"tray": tray, "listen": listen} for path, (tray, listen) in profiles.items()}, f)
        self.lines = []
        self.started = now()
        self.process = subprocess.Popen([f"{BUILD}/kestrolune"], cwd=BUILD, env=self.env,
                                        stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
        threading.Thread(target=self._read, daemon=True).start()
        self.window = wait("the program's window", lambda: self.xdotool("search", "--onlyvisible", "--name",
                                                                          "^Kestrolune$").split("\n")[-1], 60, 0.5)
        say(f"program started, window {self.window}")

    def _read(self):
        with open(f"{LOGS}/program.log", "w") as log:
            for raw in self.process.stderr:
                line = raw.decode("utf-8", "replace").rstrip("\n")
                self.lines.append((now(), line))
                log.write(f"[{now():7.2f}] {line}\n")
                log.flush()

    def xdotool(self, *args):
        return subprocess.run(["xdotool", *args], env=self.env, capture_output=True, text=True).stdout.strip()

    def logged(self, text, since=0.0):
        """The time of the first log line since 'since' that holds text, or None."""
        return next((t for t, line in list(self.lines) if t >= since and text in line), None)

    def wait_logged(self, text, since=0.0, timeout=30.0):
        return wait(f"the program's log saying {text!r}", lambda: self.logged(text, since), timeout)

    def level_shown(self, path, level, since=0.0, timeout=30.0):
        return self.wait_logged(f"updateDeviceBatteryValue {path} {level}", since, timeout)

    def row(self, path):
        """The row a device is on: the order in which the window was given them."""
        rows = []
        for _, line in list(self.lines):
            words = line.split()
            if "registerToIndex" in words[:2] and words[-1] not in rows:
                rows.append(words[-1])
            elif "unregisterFromIndex" in words[:2] and words[-1] in rows:
                rows.remove(words[-1])
        if path not in rows:
            raise Failure(f"{path} has no row; rows: {rows}")
        return rows.index(path)

    def click(self, x, y):
        self.xdotool("mousemove", "--window", self.window, str(x), str(y), "click", "1")

    def click_box(self, path, x):
        self.click(x, 40 + 80 * self.row(path))

    def stored(self):
        with open("/root/kestrolune.json") as f:
            return json.load(f)

    def quit(self):
        self.click(*self.EXIT)
        try:
            status = self.process.wait(15)
        except subprocess.TimeoutExpired:
            self.process.kill()
            raise Failure("the program did not exit within 15 s of its exit button")
        check(status == 0, f"the program exits with status 0 (got {status})")
        check(self.logged("did not stop") is None, "every thread stopped in time")
        self.xvfb.terminate()
