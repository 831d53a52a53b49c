"""What the release's Python commands share: where this repository is, and how they stop:
with one line on standard error, never a traceback, and exit status 2 when they cannot do
their work at all, 1 when a tool they run fails at it, 130 on Ctrl+C. Their commands in
scripts/ install the Debian packages they import first."""
import json
import sys
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent


def escaped(text):
    """`text` with everything outside printable ASCII escaped, so that it stays on its line
    and nothing in it reads as ours."""
    return json.dumps(str(text))[1:-1]


class Stop(Exception):
    """What keeps a command from doing its work at all: said in one line, exit status 2."""


class Failed(Exception):
    """A tool that failed at the work, its own words shown already: one line, exit status 1."""


def run_tool(main, name):
    """Runs `main` and exits with its status; a Failed is one line on standard error and
    exit status 1; a Stop, or a fault of the command's own, one line and 2; Ctrl+C, once
    `main` has cleaned up after itself, one line and 130."""
    try:
        sys.exit(main())
    except KeyboardInterrupt:
        print(f"{name}: interrupted", file=sys.stderr)
        sys.exit(130)
    except Failed as error:
        print(f"{name}: {error}", file=sys.stderr)
        sys.exit(1)
    except Stop as error:
        print(f"{name}: {error}", file=sys.stderr)
    except Exception as error:  # noqa: BLE001 (a fault of our own: said as one, in one line)
        print(f"{name}: cannot go on, a fault of this tool: {type(error).__name__}: {error}", file=sys.stderr)
    sys.exit(2)
