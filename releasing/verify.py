"""Checks downloaded Halvorn release files against a rebuild from this checkout.

Rebuilds the release (scripts/release) in a clone of this checkout, in a folder of this
run's own under build/, at the commit that the release's BUILDINFO names (--buildinfo, or
a FILE named BUILDINFO), else at HEAD. Then prints one line for each FILE (halvorn.exe,
halvorn-x64.exe or the zip, under any name): its name in quotes, its verdict, the file of
the release it matched, the version and the commit rebuilt, and whether a tag v<version>
names that commit. The verdict is one of:

  identical                            the same bytes as the rebuilt file;
  identical apart from its signature   the rebuilt file with one Authenticode signature
                                       attached, and that signature exactly what signing
                                       makes from the parts a signer chooses (the rule
                                       in releasing/signature.py); the line names the
                                       signer certificate's SHA-256 fingerprint, whether
                                       it chains to a trusted root, the timestamp, the
                                       program name and URL, and last the subject;
  differs                              anything else, and why: for a signature, the first
                                       field that is not what signing makes.

--ca-file names PEM certificates to trust besides this machine's roots, for the signer's
chain and the timestamp's. Exits 1 if any file differs, 2, with one line on standard
error, when it cannot check, and 130 on Ctrl+C; the rebuild's folder goes either way."""
import argparse
import shutil
import sys
import tempfile
from pathlib import Path

from asn1crypto import pem, x509

from . import layout
from .command import ROOT, Stop, escaped, run_tool
from .reasons import Differs
from .signature import Trust
from .tools import Scratch, run
from .verdicts import SIGNATURE_ROOM, Run, program_verdict, quoted, zip_verdict

USAGE = "scripts/verify-release [--buildinfo FILE] [--ca-file FILE] FILE..."
SYSTEM_ROOTS = Path("/etc/ssl/certs/ca-certificates.crt")
ZIP_MAGIC = b"PK\x03\x04"


def recorded_commit(path):
    recorded = layout.read_buildinfo(path)
    for name in ("Source", "Version", "Commit"):
        if not recorded.get(name):
            raise Stop(f"{escaped(str(path))} is incomplete: it has no {name} field")
    commit = recorded["Commit"].lower()
    if len(commit) != 40 or not all(c in "0123456789abcdef" for c in commit):
        raise Stop(f"{escaped(str(path))} names no commit to rebuild, but {quoted(commit)}")
    return recorded, commit


def git(clone, *arguments, check=True):
    return run("git", "-C", clone, *arguments, check=check)


def rebuild(work, commit):
    """The rebuilt release's folder, and the commit checked out for it."""
    clone = work / "clone"
    run("git", "clone", "--quiet", "--no-checkout", ROOT, clone)
    if git(clone, "cat-file", "-e", f"{commit}^{{commit}}", check=False).returncode:
        raise Stop(f"this clone has no commit {commit}: fetch it, or clone Halvorn's repository afresh")
    git(clone, "checkout", "--quiet", commit)
    built = run(clone / "scripts" / "release", check=False)
    if built.returncode:
        sys.stderr.buffer.write(b"\n".join(built.stderr.splitlines()[-20:]) + b"\n")
        raise Stop(f"the release of commit {commit} does not build: scripts/release failed, as said above")
    return clone / "dist", git(clone, "rev-parse", "HEAD").stdout.decode().strip()


def described(clone, version, commit):
    """Halvorn's version, as that tree states it, and the commit checked out, with the tag
    v<version> where it names that commit."""
    tag = f"v{version}"
    tagged = git(clone, "rev-parse", "--verify", "--quiet", f"refs/tags/{tag}^{{commit}}", check=False)
    named = tagged.returncode == 0 and tagged.stdout.decode().strip() == commit
    return (f"Halvorn {escaped(version)} at commit {commit}, "
            + (f"tagged {escaped(tag)}" if named else f"which no tag {escaped(tag)} names"))


def certificates_in(path):
    """The certificates of a PEM file, which must hold certificates and nothing else."""
    data = path.read_bytes()
    try:
        found = pem.unarmor(data, multiple=True) if pem.detect(data) else []
        return [x509.Certificate.load(der) for kind, _, der in found if kind == "CERTIFICATE"]
    except ValueError:
        return []


def trusted_roots(scratch, ca_file):
    """This machine's roots and those of --ca-file, written to the scratch folder in one PEM
    file for openssl, and found by subject."""
    roots = (certificates_in(SYSTEM_ROOTS) if SYSTEM_ROOTS.exists() else []) + ca_file
    by_subject = {}
    for root in roots:
        by_subject.setdefault(root.subject.hashable, []).append(root)
    return Trust(scratch.certificates("roots.pem", roots), by_subject)


def verdict(run, download, rebuilt, version, rebuilt_as, programs):
    """The line of one download, and whether it differs; its name in quotes, so that no
    name reads as a verdict."""
    try:
        with download.open("rb") as file:
            kind = file.read(len(ZIP_MAGIC))
            # A program is read no further than its size check needs: one byte past the room.
            data = kind + file.read(max(map(len, programs.values())) + SIGNATURE_ROOM + 1 - len(kind))
        if kind == ZIP_MAGIC:
            said, name, words = zip_verdict(run, download, rebuilt / layout.zip_name(version))
        else:
            said, name, words = program_verdict(run, data, programs)
        return f"{quoted(download.name)}: {said}: {name} of {rebuilt_as}" + (f", {words}" if words else ""), False
    except Differs as error:
        return f"{quoted(download.name)}: differs from the release of {rebuilt_as}: {error}", True


def main():
    parser = argparse.ArgumentParser(prog="scripts/verify-release", usage=USAGE)
    parser.add_argument("files", nargs="+", metavar="FILE", type=Path)
    parser.add_argument("--buildinfo", metavar="FILE", type=Path)
    parser.add_argument("--ca-file", metavar="FILE", type=Path)
    arguments = parser.parse_args()
    if not (ROOT / ".git").exists():
        raise Stop(f"{ROOT} is not a git checkout: clone Halvorn's repository and run this there")
    infos = [arguments.buildinfo] if arguments.buildinfo else [f for f in arguments.files if f.name == layout.BUILDINFO]
    downloads = [f for f in arguments.files if f not in infos]
    if len(infos) > 1:
        raise Stop("more than one BUILDINFO was given")
    if not downloads:
        raise Stop("no file to check was given, only a BUILDINFO")
    for path in infos + downloads + ([arguments.ca_file] if arguments.ca_file else []):
        if not path.is_file():
            raise Stop(f"{escaped(str(path))} is not a file" + ("" if path.exists() else ": there is none"))
        try:
            with path.open("rb") as file:
                start = file.read(32)
        except OSError as error:
            raise Stop(f"cannot read {escaped(str(path))}: {error.strerror}") from None
        # A browser may save it as "BUILDINFO (1)" or "BUILDINFO.txt".
        if path in downloads and layout.is_buildinfo(start):
            raise Stop(f"{escaped(str(path))} is a BUILDINFO, not a file of the release: give it with --buildinfo")
    ca_file = certificates_in(arguments.ca_file) if arguments.ca_file else []
    if arguments.ca_file and not ca_file:
        raise Stop(f"--ca-file {escaped(str(arguments.ca_file))} holds no PEM certificates")
    recorded, commit = recorded_commit(infos[0]) if infos else ({}, "HEAD")
    (ROOT / "build").mkdir(exist_ok=True)
    work = Path(tempfile.mkdtemp(prefix="verify-", dir=ROOT / "build"))
    try:
        rebuilt, checked_out = rebuild(work, commit)
        ours = layout.read_buildinfo(rebuilt / layout.BUILDINFO)
        if recorded and recorded.get("Installed-Build-Depends") != ours.get("Installed-Build-Depends"):
            print("note: this machine's tools differ from those BUILDINFO names, so the bytes may differ;"
                  f" BUILDINFO was made on {escaped(recorded.get('Build-Origin', ''))}", file=sys.stderr)
        version = ours.get("Version", "")
        rebuilt_as = described(work / "clone", version, checked_out)
        programs = {program.published: (rebuilt / program.published).read_bytes() for program in layout.PROGRAMS}
        (work / "scratch").mkdir()
        scratch = Scratch(work / "scratch")
        this_run = Run(scratch, trusted_roots(scratch, ca_file))
        differ = False
        for download in downloads:
            line, differs = verdict(this_run, download, rebuilt, version, rebuilt_as, programs)
            differ |= differs
            print(line)
        return 1 if differ else 0
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    run_tool(main, "verify-release")
