"""Ctrl+C at any moment of `wine-session start`, as a terminal sends it (SIGINT to the
foreground process group), ends it within seconds with a non-zero status and leaves no
process of its prefix; an interrupted prefix is made anew, and the next start works. A
start while that session runs is refused in one line, with nothing from the log.

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


def start(point=None, reached=None):
    """A start, interrupted once `reached()` holds, if given; its exit status."""
    began = time.monotonic()
    run = subprocess.Popen([session, "start", prefix, wine, "640x480", *setup], preexec_fn=as_from_a_terminal,
                           stderr=subprocess.DEVNULL)
    if reached:
        while not reached() and run.poll() is None:
            time.sleep(0.01)
        if run.poll() is not None:
            sys.exit(f"the start ended before it was {point}")
        os.killpg(run.pid, signal.SIGINT)
        interrupted = time.monotonic()
    try:
        status = run.wait(timeout=ENDS_WITHIN_S if reached else 120)
    except subprocess.TimeoutExpired:
        os.killpg(run.pid, signal.SIGKILL)
        sys.exit(f"a start interrupted {point} still ran {ENDS_WITHIN_S} s later")
    print(f"start{f' interrupted {point}' if reached else ''}: status {status} after "
          f"{time.monotonic() - began:.1f} s" + (f", {time.monotonic() - interrupted:.1f} s after Ctrl+C" if reached else ""),
          flush=True)
    return status


def stop():
    subprocess.run([session, "stop", prefix], check=True)


failures = []


def interrupt(point, reached):
    """A start interrupted at `point` must end at once and leave nothing, and the next
    start must work."""
    if start(point, reached) == 0:
        failures.append(f"a start interrupted {point} exited with 0")
    left = processes_of_prefix()
    if left:
        failures.append(f"a start interrupted {point} left:\n  " + "\n  ".join(left))
        subprocess.run(["kill", "-KILL", *(line.split()[0] for line in left)])
    if start() != 0:
        failures.append(f"the start after one interrupted {point} failed")
    refused = subprocess.run([session, "start", prefix, wine, "640x480", *setup], capture_output=True, text=True)
    if refused.returncode == 0 or len(refused.stderr.splitlines()) != 1:
        failures.append(f"a start while the session ran exited with {refused.returncode} and said:\n{refused.stderr}")
    stop()


# While the prefix is made, which the next start must make anew; then, with the prefix
# made, while its display starts and while Wine's desktop starts.
shutil.rmtree(prefix, ignore_errors=True)
interrupt("while its prefix was made", lambda: any("services.exe" in p for p in processes_of_prefix()))
interrupt("while its display started", lambda: os.path.exists(f"{prefix}/xvfb"))
interrupt("while Wine's desktop started", lambda: any("rundll32" in p for p in processes_of_prefix()))
if failures:
    sys.exit("\n".join(failures))
