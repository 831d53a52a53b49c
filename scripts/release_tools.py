"""What the release's Python tools (verify-release, package-manifests) share: the Debian
packages they import, installed on first use, and one way to stop, with one line on
standard error and exit status 2 (130 on Ctrl+C), never a traceback."""
import importlib.util
import subprocess
import sys
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent


class Stop(Exception):
    """What keeps a tool from doing its work at all: said in one line, exit status 2."""


def install_missing(*modules):
    """Installs the project's Debian packages when one of `modules` is missing, as on a
    fresh machine, so that the imports that follow work."""
    if all(importlib.util.find_spec(module) for module in modules):
        return
    if subprocess.run([str(ROOT / "scripts" / "install-dependencies")]).returncode:
        print(f"{Path(sys.argv[0]).name}: cannot install {', '.join(modules)}", file=sys.stderr)
        sys.exit(2)


def run_tool(main):
    """Runs `main` and exits with its status; a Stop, or anything else that stops it, is
    one line on standard error and exit status 2; Ctrl+C, once `main` has cleaned up
    after itself, one line and 130."""
    name = Path(sys.argv[0]).name
    try:
        sys.exit(main())
    except KeyboardInterrupt:
        print(f"{name}: interrupted", file=sys.stderr)
        sys.exit(130)
    except Stop as error:
        print(f"{name}: {error}", file=sys.stderr)
    except Exception as error:  # noqa: BLE001 (whatever else stops it is still one line)
        print(f"{name}: cannot go on: {type(error).__name__}: {error}", file=sys.stderr)
    sys.exit(2)
