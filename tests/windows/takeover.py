#!/usr/bin/python3
"""The takeover of the audio-gateway service, end to end under Wine: a
service named BTAGService of the tests' own (standinservice.exe) installed
in a fresh Wine prefix, and the program started against it. Wine logs every
ShellExecuteEx call (WINEDEBUG=trace+exec) with its mask, verb, file,
parameters and show state: that is the witness of the elevated launch.

    takeover.py <kestrolune-demo.exe> <standinservice.exe> <Wine prefix>

Wine's "sc" has no "config" (it says "command not supported"), so the
disabled start type cannot be seen here; Wine's "cmd" still runs the
"sc stop" after it. Every failed check ends the run with status 1.
"""
import os
import shutil
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
EXE, SERVICE, PREFIX = (os.path.abspath(a) for a in sys.argv[1:4])
OUT = os.path.join(os.path.dirname(EXE), "windows-takeover")
ENV = dict(os.environ, WINEPREFIX=PREFIX, WINEDEBUG="trace+exec")
WINE = "/usr/lib/wine/wine64"
LAUNCH = ('mask=0x00000140 hwnd=0000000000000000 verb=L"runas" file=L"cmd.exe" '
          'parm=L"/c sc config BTAGService start= disabled && sc stop BTAGService" dir=(null) show=0x00000001')


def fail(what):
    print("takeover: FAIL:", what, flush=True)
    sys.exit(1)


def wine(*args):
    # Into a file, not a pipe: Wine's background processes, started by the
    # first call, would hold a pipe open long after the call returned.
    with tempfile.TemporaryFile("w+") as out:
        done = subprocess.run([WINE, *args], env=dict(ENV, WINEDEBUG="-all"), stdout=out, stderr=out,
                              stdin=subprocess.DEVNULL, timeout=60)
        out.seek(0)
        done.stdout = out.read()
    return done


def state():
    out = wine("sc", "query", "BTAGService").stdout
    for word in ("STOPPED", "RUNNING", "PENDING"):
        if word in out:
            return word
    return "MISSING"


def wait_for(what, check, seconds=30):
    deadline = time.time() + seconds
    while not check():
        if time.time() > deadline:
            fail(what)
        time.sleep(0.3)


def windows_named(name):
    return subprocess.run(["xdotool", "search", "--onlyvisible", "--name", name], capture_output=True,
                          text=True).stdout.split()


def start(case):
    log = os.path.join(OUT, case + ".log")
    out = open(log, "w")
    process = subprocess.Popen([os.path.join(HERE, "wine-run"), EXE], cwd=OUT, env=ENV, stdout=out,
                               stderr=subprocess.STDOUT)
    return process, log


def read(log):
    with open(log, errors="replace") as f:
        return f.read()


def end(process, log):
    """Ends the program as a logout does; it must end with 0."""
    wine("wineboot", "--end-session")
    try:
        status = process.wait(30)
    except subprocess.TimeoutExpired:
        process.kill()
        fail("the program did not end at the end of the session:\n" + read(log)[-2000:])
    if status != 0:
        fail("the program ended with %s:\n%s" % (status, read(log)[-2000:]))


def launches(log):
    return [line for line in read(log).splitlines() if "SHELL_execute" in line and 'verb=L"runas"' in line]


def case_stopped():
    if state() != "STOPPED":
        fail("the service should be stopped, it is " + state())
    process, log = start("stopped")
    wait_for("no window", lambda: windows_named("^Kestrolune$"), 60)
    if launches(log):
        fail("a launch although the service is stopped: %s" % launches(log))
    end(process, log)


def case_running():
    wine("sc", "start", "BTAGService")
    wait_for("the stand-in service did not start", lambda: state() == "RUNNING")
    process, log = start("running")
    wait_for("no elevated launch:\n" + read(log)[-2000:], lambda: launches(log))
    if len(launches(log)) != 1 or LAUNCH not in launches(log)[0]:
        fail("the launch was not the one expected:\n%s\nexpected: %s" % (launches(log), LAUNCH))
    wait_for("the service did not stop, it is " + state(), lambda: state() == "STOPPED")
    wait_for("no window", lambda: windows_named("^Kestrolune$"), 60)
    if windows_named("^警告$"):
        fail("a warning box although the launch succeeded")
    end(process, log)


def case_launch_fails():
    wine("sc", "start", "BTAGService")
    wait_for("the stand-in service did not start", lambda: state() == "RUNNING")
    # Without a command shell the elevated launch fails.
    cmd = os.path.join(PREFIX, "drive_c", "windows", "system32", "cmd.exe")
    os.rename(cmd, cmd + ".away")
    try:
        process, log = start("launch-fails")
        # Without SEE_MASK_FLAG_NO_UI the shell says so itself first ("File
        # not found."), as Windows does; ours comes once that is dismissed.
        wait_for("no box from the shell", lambda: windows_named("^Error$"), 60)
        subprocess.run(["xdotool", "windowfocus", "--sync", windows_named("^Error$")[0], "key", "Return"])
        wait_for("no warning box", lambda: windows_named("^警告$"), 60)
        if windows_named("^Kestrolune$"):
            fail("the window came before the warning box was dismissed")
        subprocess.run(["import", "-window", "root", os.path.join(OUT, "warning-box.png")])
        box = windows_named("^警告$")[0]
        subprocess.run(["xdotool", "windowfocus", "--sync", box, "key", "Return"])
        wait_for("no window after the box", lambda: windows_named("^Kestrolune$"), 60)
        if len(launches(log)) != 1:
            fail("not one attempt: %s" % launches(log))
        if state() != "RUNNING":
            fail("the service is %s although the launch failed" % state())
        end(process, log)
    finally:
        os.rename(cmd + ".away", cmd)


def case_missing():
    wine("sc", "stop", "BTAGService")
    wait_for("the stand-in service did not stop", lambda: state() == "STOPPED")
    wine("sc", "delete", "BTAGService")
    wait_for("the stand-in service is still there", lambda: state() == "MISSING")
    process, log = start("missing")
    wait_for("no window", lambda: windows_named("^Kestrolune$"), 60)
    time.sleep(1)
    if launches(log) or windows_named("^警告$"):
        fail("a launch or a box for a service that does not exist: %s" % launches(log))
    end(process, log)


def main():
    os.makedirs(OUT, exist_ok=True)
    shutil.rmtree(PREFIX, ignore_errors=True)
    subprocess.run([os.path.join(HERE, "wine-prefix"), PREFIX], check=True)
    # Services live as long as the prefix's wineserver: keep it running.
    subprocess.run(["/usr/lib/wine/wineserver", "-p"], env=ENV, check=True)
    try:
        service = "Z:" + SERVICE.replace("/", "\\")
        created = wine("sc", "create", "BTAGService", "binPath=", service)
        if created.returncode != 0:
            fail("sc create: " + created.stdout)
        case_stopped()
        case_running()
        case_launch_fails()
        case_missing()
    finally:
        subprocess.run(["/usr/lib/wine/wineserver", "-k"], env=ENV)
    print("takeover: PASS", flush=True)


if __name__ == "__main__":
    main()
