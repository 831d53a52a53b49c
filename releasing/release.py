"""Builds a release of Halvorn from a committed tree and writes it to dist/ (the files that
releasing/layout.py declares):

    halvorn-VERSION-windows.zip  halvorn.exe, x64/halvorn.exe, README.txt and LICENSE.txt
    halvorn.exe, halvorn-x64.exe the two programs, to download alone
    SHA256SUMS                   sha256sum -c SHA256SUMS
    BUILDINFO                    the version, the commit, and the tools that made the bytes

Two runs from the same commit with the same tools, in any two folders, write the same
bytes. Given a certificate, it signs both programs with Authenticode (SHA-256) first,
timestamped by --timestamp's RFC 3161 server. The release is made beside dist/ and takes
its place only once it is whole and signed, so the earlier dist/ stays as it was
whenever this fails: exit status 2, with one message, for every refusal of an argument or
of the tree, made before anything is built; 1 when the build or the signing fails."""
import os
import re
import shutil
import subprocess
import sys
import time
from pathlib import Path

from . import layout, tools
from .archive import write_zip
from .command import ROOT, Failed, Stop, run_tool

USAGE = ("usage: scripts/release [--certificate CERT.pem --key KEY.pem | --pkcs12 FILE] [--password-file FILE]"
         " [--timestamp URL]")
# Each option takes one value; some need another option, one of those named, beside them.
OPTIONS = ("--certificate", "--key", "--pkcs12", "--password-file", "--timestamp")
NEEDS = {"--certificate": ("--key",), "--key": ("--certificate",), "--password-file": ("--pkcs12", "--key"),
         "--timestamp": ("--certificate", "--pkcs12")}
FILES = ("--certificate", "--key", "--pkcs12", "--password-file")
# An RFC 3161 server's URL, which osslsigncode would otherwise take for an option or a file.
URL = re.compile(r"https?://[^/\s]+(/\S*)?")
PRESETS = ("release-windows", "release-windows-x64")
# Timestamp servers ask scripts to wait 15 seconds between requests (Sectigo's "Time
# Stamp Server & Stamping Protocols" page).
BETWEEN_TIMESTAMPS = 15


def given(arguments):
    """The options given, each once and with a value, and what each needs beside it."""
    options = {}
    while arguments:
        option, *rest = arguments
        if option not in OPTIONS:
            print(USAGE, file=sys.stderr)
            sys.exit(2)
        if not rest:
            raise Stop(f"{option} needs a value")
        if not rest[0]:
            raise Stop(f"{option} is given an empty value")
        if option in options:
            raise Stop(f"{option} is given twice")
        options[option], arguments = rest[0], rest[1:]
    for option, needed in NEEDS.items():
        if option in options and not any(other in options for other in needed):
            what = "a certificate to sign with (--certificate and --key, or --pkcs12)" if option == "--timestamp" \
                else " or ".join(needed)
            raise Stop(f"{option} needs {what}")
    if "--pkcs12" in options and "--certificate" in options:
        raise Stop("give --certificate and --key, or --pkcs12, not both")
    if "--timestamp" in options and not URL.fullmatch(options["--timestamp"]):
        raise Stop(f"--timestamp: {options['--timestamp']} is not an http or https URL")
    for option in FILES:
        if option in options:
            path = Path(options[option])
            if not path.is_file() or not os.access(path, os.R_OK):
                raise Stop(f"{option}: cannot read {path}")
            options[option] = path.resolve()
    return options


def signing_options(options):
    """osslsigncode's options for the certificate, key and timestamp given; [] for none.
    The key must open, with the password if it is encrypted, and belong to the certificate."""
    password = options.get("--password-file")
    if "--pkcs12" in options and not tools.opens_pkcs12(options["--pkcs12"], password):
        raise Stop(f"--pkcs12: cannot open {options['--pkcs12']} as PKCS #12 with the password given (one that has"
                   " a password needs --password-file)")
    if "--key" in options:
        key = tools.public_key_of_key(options["--key"], password)
        if key is None:
            raise Stop(f"--key: cannot read the key in {options['--key']} (an encrypted key needs --password-file)")
        certificate = tools.public_key_of_certificate(options["--certificate"])
        if certificate is None:
            raise Stop(f"--certificate: {options['--certificate']} holds no PEM certificate")
        if key != certificate:
            raise Stop(f"the key in {options['--key']} does not belong to the certificate in {options['--certificate']}")
    names = {"--certificate": "-certs", "--key": "-key", "--pkcs12": "-pkcs12", "--password-file": "-readpass",
             "--timestamp": "-ts"}
    return [part for option, value in options.items() for part in (names[option], str(value))]


def clean_commit():
    """The commit of this checkout, which must be clean by git's whole answer, whatever this
    user's configuration hides: every untracked file, submodules included. A checkout that
    git refuses to read (one another user owns) is refused; only a tree that is no
    checkout at all goes on as one, naming no commit."""
    if not (ROOT / ".git").exists():
        print("scripts/release: not a git checkout: the release names no commit", file=sys.stderr)
        return "none (not a git checkout)"
    top = subprocess.run(["git", "rev-parse", "--show-toplevel"], cwd=ROOT, capture_output=True, text=True)
    if top.returncode:
        sys.stderr.write(top.stderr)
        raise Stop("git cannot read this checkout, so it cannot tell whether it is clean; if you trust it:"
                   f" git config --global --add safe.directory {ROOT}")
    changes = tools.run("git", "-C", ROOT, "-c", "core.excludesFile=/dev/null", "status", "--porcelain",
                        "--untracked-files=all", "--ignore-submodules=none").stdout.decode()
    if changes:
        sys.stderr.write(changes)
        raise Stop("refused: the tree has the uncommitted changes or untracked files above")
    return tools.run("git", "-C", ROOT, "rev-parse", "HEAD").stdout.decode().strip()


def build():
    """Both programs built afresh, so that nothing from an earlier build or configuration
    gets in; the version that the build states."""
    for preset in PRESETS:
        shutil.rmtree(ROOT / "build" / preset, ignore_errors=True)
        if subprocess.run(["cmake", "--workflow", "--preset", preset], cwd=ROOT, stdout=subprocess.DEVNULL).returncode:
            raise Failed(f"the build of {preset} failed, as said above")
    cache = (ROOT / "build" / PRESETS[0] / "CMakeCache.txt").read_text()
    return re.search(r"^HALVORN_VERSION:INTERNAL=(.*)$", cache, re.M).group(1)


def install(stage):
    """The zip's files, as the builds install them, in `stage`."""
    for preset, prefix, component in zip(PRESETS, (stage, stage / "x64"), ([], ["--component", "program"])):
        tools.run("cmake", "--install", ROOT / "build" / preset, "--prefix", prefix, *component)
    found = sorted(path.relative_to(stage).as_posix() for path in stage.rglob("*") if path.is_file())
    if found != layout.zip_entries():
        raise Failed(f"the builds installed {found}, not the release's {layout.zip_entries()}")


def sign(stage, signing, timestamped):
    """Each program in `stage` signed, in place."""
    for index, program in enumerate(layout.PROGRAMS):
        if timestamped and index:
            time.sleep(BETWEEN_TIMESTAMPS)
        said = tools.signed(stage / program.in_zip, stage.parent / "signed.exe", signing)
        if said is not None:
            sys.stderr.write(said)
            raise Failed(f"osslsigncode could not sign {program.in_zip}")
        os.replace(stage.parent / "signed.exe", stage / program.in_zip)


def package(stage, out, version):
    """The release's files in `out`: the zip, the programs to download alone, SHA256SUMS."""
    out.mkdir(parents=True)
    with open(out / layout.zip_name(version), "wb") as archive:
        write_zip(archive, [(name, (stage / name).read_bytes()) for name in layout.zip_entries()])
    for program in layout.PROGRAMS:
        shutil.copyfile(stage / program.in_zip, out / program.published)
    layout.write_checksums(out, version)


def replace_dist(out):
    """dist/ is `out` now; the earlier one, made by this command, goes only once this one is whole."""
    dist = ROOT / "dist"
    if dist.exists():
        os.replace(dist, out.parent / "earlier")
    os.replace(out, dist)
    return dist


def main():
    options = given(sys.argv[1:])
    signing = signing_options(options)
    commit = clean_commit()
    version = build()
    staging = ROOT / "build" / "release-stage"
    shutil.rmtree(staging, ignore_errors=True)
    install(staging / "files")
    if signing:
        sign(staging / "files", signing, "--timestamp" in options)
    package(staging / "files", staging / "dist", version)
    layout.write_buildinfo(staging / "dist" / layout.BUILDINFO, version, commit, bool(signing))
    dist = replace_dist(staging / "dist")
    shutil.rmtree(staging)
    print(f"Halvorn {version}, in {dist}:")
    print((dist / layout.CHECKSUMS).read_text(), end="")
    return 0


if __name__ == "__main__":
    run_tool(main, "scripts/release")
