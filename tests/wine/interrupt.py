"""Ctrl+C at any moment of `wine-session start`, as a terminal sends it (SIGINT to the
foreground process group), ends it within seconds with a non-zero status and leaves no
process of its prefix; an interrupted prefix is made anew, and the next start works.

    interrupt.py SESSION PREFIX WINE SETUP...

The start runs in a process group of its own with SIGINT at its default, as under a
terminal: a script's background job would start with SIGINT ignored."""
import os
import shutil
import signal
import subprocess
import sys
import time

session, prefix, wine, *setup = sys.argv[1:]
ENDS_WITHIN_S = 10


def processes_of_prefix():
    """The processes that run with the prefix, as `ps` would show them."""
    found = []
    for pid in filter(str.isdigit, os.listdir("/proc")):
        try:
            environment = open(f"/proc/{pid}/environ", "rb").read().split(b"\0")
            command = open(f"/proc/{pid}/cmdline", "rb").read().replace(b"\0", b" ").decode(errors="replace")
        except OSError:
            continue
        if f"WINEPREFIX={prefix}".encode() in environment:
            found.append(f"{pid} {command}")
    return found


def as_from_a_terminal():
    os.setpgid(0, 0)
    signal.signal(signal.SIGINT, signal.SIG_DFL)


def start(interrupt_after=None):
    began = time.monotonic()
    run = subprocess.Popen([session, "start", prefix, wine, "640x480", *setup], preexec_fn=as_from_a_terminal,
                           stderr=subprocess.DEVNULL)
    if interrupt_after is not None:
        time.sleep(interrupt_after)
        os.killpg(run.pid, signal.SIGINT)
    try:
        status = run.wait(timeout=ENDS_WITHIN_S if interrupt_after is not None else 120)
    except subprocess.TimeoutExpired:
        os.killpg(run.pid, signal.SIGKILL)
        sys.exit(f"a start interrupted after {interrupt_after} s still ran {ENDS_WITHIN_S} s later")
    print(f"start{'' if interrupt_after is None else f' interrupted after {interrupt_after:.1f} s'}: "
          f"status {status} after {time.monotonic() - began:.1f} s", flush=True)
    return status


def stop():
    subprocess.run([session, "stop", prefix], check=True)


def timed_start():
    began = time.monotonic()
    if start() != 0:
        sys.exit("a start failed")
    return time.monotonic() - began


failures = []


def interrupt(delay):
    """A start interrupted after `delay` s must end at once and leave nothing, and the
    next start must work."""
    status = start(delay)
    left = processes_of_prefix()
    if status == 0:
        failures.append(f"a start interrupted after {delay:.1f} s exited with 0")
    if left:
        failures.append(f"a start interrupted after {delay:.1f} s left:\n  " + "\n  ".join(left))
        subprocess.run(["kill", "-KILL", *(line.split()[0] for line in left)])
    timed_start()
    stop()


# While the prefix is made, which the next start must make anew; then, with the prefix
# made, a third and two thirds into a start that takes its usual time.
shutil.rmtree(prefix, ignore_errors=True)
interrupt(3)
usual = timed_start()
stop()
interrupt(usual / 3)
interrupt(usual * 2 / 3)
if failures:
    sys.exit("\n".join(failures))
