"""Gathers what the CI workflow's publish job publishes, from the release that its Windows
job tested:

    scripts/publish TESTED OUT URL-BASE IDENTIFIER

TESTED is that release's folder, as the job downloads it. Without CODE_SIGNING_CERTIFICATE
and CODE_SIGNING_KEY in the environment (PEM text, as the repository's secrets hold them),
OUT gets the tested files as they are. With both, the release is rebuilt here, signed and
timestamped by the RFC 3161 server at TIMESTAMP_URL, and each signed program, its
signature set aside, must be the tested one; TESTED and OUT must then lie outside this
tree, which scripts/release must find clean. Either way OUT also gets the winget and Scoop
manifests of those files, downloaded from URL-BASE, under winget's IDENTIFIER. URL-BASE's
last folder is the tag, which must be v and the release's version. OUT must not exist, or
be an empty folder: it is made beside itself and takes its name once complete.
Everything is checked first: a refusal is one line and exit status 2."""
import hashlib
import os
import shutil
import subprocess
import sys
import tempfile
from pathlib import Path

from . import layout, tools
from .command import ROOT, Failed, Stop, run_tool
from .manifests import write_manifests

USAGE = "usage: scripts/publish TESTED OUT URL-BASE IDENTIFIER"
SECRETS = ("CODE_SIGNING_CERTIFICATE", "CODE_SIGNING_KEY")


def inside(path, folder):
    return path == folder or folder in path.parents


def refusals_checked(tested, out, url, environment):
    """The tested release's version, and whether to sign; Stop on anything that keeps
    this from publishing, before anything is written."""
    if not (tested / layout.CHECKSUMS).is_file():
        raise Stop(f"{tested} holds no {layout.CHECKSUMS}: it is not a release folder")
    info = tested / layout.BUILDINFO
    version = layout.read_buildinfo(info).get("Version", "") if info.is_file() else ""
    tag = url.rstrip("/").rpartition("/")[2]
    if tag != f"v{version}":
        raise Stop(f"the tag {tag} is not v{version}, the version that {tested} holds (its {layout.BUILDINFO})")
    if out.exists() and not (out.is_dir() and not any(out.iterdir())):
        raise Stop(f"OUT ({out}) exists and is not an empty folder: give a new one")
    if inside(out, tested):
        raise Stop(f"OUT ({out}) lies inside TESTED ({tested}), which must stay as it was tested")
    # A repository that lacks one of the two secrets gives it as empty.
    given = [secret for secret in SECRETS if environment.get(secret)]
    if len(given) == 1:
        raise Stop(f"only {given[0]} is set: set CODE_SIGNING_CERTIFICATE and CODE_SIGNING_KEY to sign, or neither")
    signing = len(given) == 2
    if signing:
        for folder in (tested, out):
            if inside(folder, ROOT):
                raise Stop(f"{folder} lies in this tree, which signing rebuilds and must find clean")
        # Once its certificate expires, Windows takes an untimestamped signature for invalid.
        if not environment.get("TIMESTAMP_URL"):
            raise Stop("signing needs TIMESTAMP_URL, the RFC 3161 server that timestamps it")
    return version, signing


def matches_checksums(folder):
    """Whether every file that the folder's SHA256SUMS lists is there, as listed."""
    for name, digest in layout.read_checksums(folder).items():
        path = folder / name
        if not path.is_file() or hashlib.sha256(path.read_bytes()).hexdigest() != digest:
            return False
    return True


def signed_release(made, tested):
    """This tree's release, rebuilt and signed with the secrets, which leave the environment;
    each signed program, its signature set aside, must be the tested one."""
    # Owner-only files, and no secret left in the environment of the tools that follow.
    old_mask = os.umask(0o077)
    try:
        for secret, name in zip(SECRETS, ("certificate.pem", "key.pem")):
            (made / name).write_text(os.environ.pop(secret) + "\n")
    finally:
        os.umask(old_mask)
    if subprocess.run([ROOT / "scripts" / "release", "--certificate", made / "certificate.pem", "--key",
                       made / "key.pem", "--timestamp", os.environ["TIMESTAMP_URL"]]).returncode:
        raise Failed("scripts/release could not make the signed release, as said above")
    dist = ROOT / "dist"
    for program in layout.PROGRAMS:
        tools.without_signature(dist / program.published, made / program.published)
        if (made / program.published).read_bytes() != (tested / program.published).read_bytes():
            raise Failed(f"the signed {program.published} is not the tested one once its signature is set aside")
    return dist


def main():
    if len(sys.argv) != 5:
        print(USAGE, file=sys.stderr)
        return 2
    tested, out = Path(sys.argv[1]).resolve(), Path(sys.argv[2]).resolve()
    url, identifier = sys.argv[3], sys.argv[4]
    version, signing = refusals_checked(tested, out, url, os.environ)
    if not matches_checksums(tested):
        raise Stop(f"the files of {tested} do not match its {layout.CHECKSUMS}")
    made = Path(tempfile.mkdtemp())
    out.parent.mkdir(parents=True, exist_ok=True)
    partial = Path(tempfile.mkdtemp(prefix=f"{out.name}.partial-", dir=out.parent))
    partial.chmod(0o755)
    try:
        # The URL base and identifier are judged now, on the tested files, as they will be at the end.
        write_manifests(tested, url, identifier, made / "tested")
        if signing:
            source = signed_release(made, tested)
        else:
            print("scripts/publish: no code-signing certificate: publishing the tested files unsigned", file=sys.stderr)
            source = tested
        shutil.copytree(source, partial, dirs_exist_ok=True)
        write_manifests(partial, url, identifier, made / "published")
        for kind in ("winget", "scoop"):
            for manifest in (made / "published" / kind).iterdir():
                shutil.copyfile(manifest, partial / manifest.name)
        os.replace(partial, out)
    finally:
        shutil.rmtree(made, ignore_errors=True)
        shutil.rmtree(partial, ignore_errors=True)
    folder = f"manifests/{identifier[0].lower()}/{identifier.replace('.', '/')}/{version}"
    print(f"To submit this version to winget's community repository: in a fork of microsoft/winget-pkgs, put"
          f" {identifier}.yaml, {identifier}.installer.yaml and {identifier}.locale.en-US.yaml in {folder}/, check"
          f" them on Windows with 'winget validate --manifest {folder}', and open a pull request.", file=sys.stderr)
    return 0


if __name__ == "__main__":
    run_tool(main, "scripts/publish")
