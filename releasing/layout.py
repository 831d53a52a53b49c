"""What a Halvorn release is made of, declared once: its files, the architectures of its
programs and where each lies in the zip, and BUILDINFO, with its one writer and its one
reader. What cannot import this, tests/windows/run-tests.cmd and the CI workflow, is
checked against it by the lint:

    python3 -m releasing.layout check RUN-TESTS.CMD WORKFLOW"""
import hashlib
import platform
import re
import subprocess
import sys
import zlib
from pathlib import Path
from typing import NamedTuple

import yaml

from .command import Stop, escaped


class Program(NamedTuple):
    architecture: str  # as winget and the CI workflow's Windows job name it
    published: str  # its name among the release's files
    in_zip: str  # its path in the zip


PROGRAMS = (Program("x86", "halvorn.exe", "halvorn.exe"), Program("x64", "halvorn-x64.exe", "x64/halvorn.exe"))
TEXTS = ("LICENSE.txt", "README.txt")  # beside the programs in the zip, for Notepad
CHECKSUMS = "SHA256SUMS"
BUILDINFO = "BUILDINFO"
SOURCE = "halvorn"  # BUILDINFO's Source, by which a BUILDINFO is known


def zip_name(version):
    return f"halvorn-{version}-windows.zip"


def zip_entries():
    """The zip's entries, in the order they are written: by path."""
    return sorted([*TEXTS, *(program.in_zip for program in PROGRAMS)])


def checksummed(version):
    """The files that SHA256SUMS lists, in its order."""
    return [zip_name(version), *(program.published for program in PROGRAMS)]


def read_checksums(folder):
    """The SHA-256 of each file that the folder's SHA256SUMS lists, in lower case."""
    try:
        sums = (folder / CHECKSUMS).read_text()
    except OSError as error:
        raise Stop(f"cannot read {escaped(folder / CHECKSUMS)}: {error.strerror}") from None
    return {name: digest.lower() for digest, name in re.findall(r"^([0-9a-fA-F]{64}) [ *](.+)$", sums, re.M)}


def write_checksums(folder, version):
    """SHA256SUMS, as sha256sum writes it, of the release in `folder`."""
    lines = (f"{hashlib.sha256((folder / name).read_bytes()).hexdigest()}  {name}\n" for name in checksummed(version))
    (folder / CHECKSUMS).write_text("".join(lines))


# --- BUILDINFO, in the manner of Debian's .buildinfo: what a rebuild needs to give the same bytes ---

# The tools whose versions decide the bytes, and the Debian packages they come from.
TOOLS = ("i686-w64-mingw32-g++-win32", "x86_64-w64-mingw32-g++-win32", "i686-w64-mingw32-windres", "cmake")
PACKAGES = ("cmake", "python3", "zlib1g:{arch}", "g++-mingw-w64-i686-win32", "g++-mingw-w64-x86-64-win32",
            "binutils-mingw-w64-i686", "binutils-mingw-w64-x86-64", "mingw-w64-i686-dev", "mingw-w64-x86-64-dev",
            "mingw-w64-common")


def output(*command):
    return subprocess.run(command, capture_output=True, text=True, check=True).stdout


def write_buildinfo(path, version, commit, signed):
    """The release's BUILDINFO: the version, the commit, whether it is signed, and the
    tools and packages that made the bytes."""
    origin = platform.freedesktop_os_release().get("PRETTY_NAME", "unknown")
    architecture = output("dpkg", "--print-architecture").strip()
    packages = output("dpkg-query", "-W", "-f", " ${Package} (= ${Version})\n",
                      *(package.format(arch=architecture) for package in PACKAGES))
    lines = [f"Source: {SOURCE}", f"Version: {version}", f"Commit: {commit}", f"Build-Origin: {origin}",
             f"Signed: {'yes' if signed else 'no'}", "Tools:",
             *(" " + output(tool, "--version").splitlines()[0] for tool in TOOLS),
             f" Python {platform.python_version()} with zlib {zlib.ZLIB_RUNTIME_VERSION}",
             "Installed-Build-Depends:", packages.rstrip("\n")]
    Path(path).write_text("\n".join(lines) + "\n")


def read_buildinfo(path):
    """BUILDINFO's fields, a continued field's lines joined; a byte order mark, as an
    editor may save it, is no part of the first. Stop where it is no UTF-8 text."""
    try:
        text = Path(path).read_bytes().decode("utf-8-sig")
    except UnicodeDecodeError:
        raise Stop(f"{escaped(path)} is not UTF-8, so it is no BUILDINFO") from None
    except OSError as error:
        raise Stop(f"cannot read {escaped(path)}: {error.strerror}") from None
    fields, name = {}, None
    for line in text.splitlines():
        if line.startswith(" ") and name:
            fields[name] += line.strip() + "\n"
        else:
            name, _, value = line.partition(":")
            fields[name] = value.strip()
    return fields


def is_buildinfo(start):
    """Whether a file's first bytes are a BUILDINFO's, under whatever name it was saved."""
    return start.removeprefix(b"\xef\xbb\xbf").startswith(f"Source: {SOURCE}\n".encode())


# --- What the lint checks of the files that cannot import this ---

def check(run_tests, workflow):
    """What run-tests.cmd and the workflow's Windows job say of the release that differs
    from this layout, one line each."""
    found = []
    script = Path(run_tests).read_text()
    for program in PROGRAMS:
        if not re.search(rf"\b{re.escape(program.published)}\b", script):
            found.append(f"{run_tests} does not name {program.published}, the {program.architecture} program")
    steps = [step.get("run", "") for job in yaml.safe_load(Path(workflow).read_text())["jobs"].values()
             for step in job.get("steps", [])]
    calls = [step for step in steps if "run-tests.cmd" in step]
    architectures = " ".join(program.architecture for program in PROGRAMS)
    if not calls or any(f'"{architectures}"' not in call for call in calls):
        found.append(f"{workflow} does not run run-tests.cmd for the architectures \"{architectures}\"")
    return found


if __name__ == "__main__":
    if sys.argv[1:2] != ["check"] or len(sys.argv) != 4:
        sys.exit("usage: python3 -m releasing.layout check RUN-TESTS.CMD WORKFLOW")
    faults = check(*sys.argv[2:])
    print("\n".join(faults) or "the release's layout is as run-tests.cmd and the workflow have it")
    sys.exit(1 if faults else 0)
