"""What the release's Python commands share: where this repository is, and one way to
stop, with one line on standard error and exit status 2 (130 on Ctrl+C), never a
traceback. Their commands in scripts/ install the Debian packages they import first."""
import sys
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent


class Stop(Exception):
    """What keeps a tool from doing its work at all: said in one line, exit status 2."""


def run_tool(main, name):
    """Runs `main` and exits with its status; a Stop, or anything else that stops it, is
    one line on standard error and exit status 2; Ctrl+C, once `main` has cleaned up
    after itself, one line and 130."""
    try:
        sys.exit(main())
    except KeyboardInterrupt:
        print(f"{name}: interrupted", file=sys.stderr)
        sys.exit(130)
    except Stop as error:
        print(f"{name}: {error}", file=sys.stderr)
    except Exception as error:  # noqa: BLE001 (a fault of our own: said as one, in one line)
        print(f"{name}: cannot go on, a fault of this tool: {type(error).__name__}: {error}", file=sys.stderr)
    sys.exit(2)
