"""Writes the winget and Scoop manifests of a finished release:

    scripts/package-manifests --dist DIR --url-base URL --identifier ID --out DIR

--dist is the release folder as published (signed or not): the hashes come from its
SHA256SUMS, which must verify and list both programs, and the version from its BUILDINFO.
--url-base is the https URL under which its files are downloaded, such as
https://github.com/halvorn/halvorn/releases/download/v1.0.0/. --identifier is winget's
PackageIdentifier, Publisher.Package. Writes OUT/winget/ID.yaml, ID.installer.yaml and
ID.locale.en-US.yaml (ManifestVersion 1.12.0, a portable installer per architecture
whose command is halvorn), and OUT/scoop/halvorn.json, in a folder of its own beside
OUT that takes OUT's name once complete: OUT must not exist, or be an empty folder. The
description, publisher and license come from this repository's CMakeLists.txt and
LICENSE; the home page and release notes from the URL base when it is a GitHub
release's. Exits with 2, and one line on standard error, when it cannot write them."""
import argparse
import hashlib
import json
import re
import shutil
import tempfile
import urllib.parse
from pathlib import Path

import yaml

from . import layout
from .command import ROOT, Stop, run_tool

USAGE = "scripts/package-manifests --dist DIR --url-base URL --identifier ID --out DIR"

MANIFEST_VERSION = "1.12.0"
# winget's architectures are the release's.
PROGRAMS = {program.architecture: program.published for program in layout.PROGRAMS}
GITHUB_RELEASE = re.compile(r"(https://github\.com/[^/]+/[^/]+)/releases/download/([^/]+)/$")
# winget's PackageIdentifier: 2 to 8 parts of 1 to 32 characters, 128 in all.
PART = r"[^.\s\\/:*?\"<>|\x00-\x1f\x7f]{1,32}"
IDENTIFIER = re.compile(rf"{PART}(\.{PART}){{1,7}}")
COPYRIGHT = re.compile(r"^\s*Copyright\s+(?:\(c\)\s*|©\s*)?[0-9]{4}(?:\s*[-–,]\s*[0-9]{4})*,?\s+(\S.*?)\s*$",
                       re.I | re.M)


def verified_hashes(dist):
    """SHA256SUMS's hashes of the programs, each checked against its file."""
    listed = layout.read_checksums(dist)
    hashes = {}
    for name in PROGRAMS.values():
        if name not in listed:
            raise Stop(f"{dist / layout.CHECKSUMS} lists no {name}")
        try:
            actual = hashlib.sha256((dist / name).read_bytes()).hexdigest()
        except OSError as error:
            raise Stop(f"cannot read {dist / name}: {error.strerror}")
        if actual != listed[name]:
            raise Stop(f"{dist / name} does not match its line in {layout.CHECKSUMS}")
        hashes[name] = actual
    return hashes


def project():
    """What the repository says of itself, once: description, publisher and license."""
    cmake = (ROOT / "CMakeLists.txt").read_text()
    license_text = (ROOT / "LICENSE").read_text()
    found = re.search(r'project\([^)]*DESCRIPTION "((?:[^"\\]|\\.)*)"', cmake)
    if not found:
        raise Stop("CMakeLists.txt's project() has no DESCRIPTION")
    description = re.sub(r"\\(.)", r"\1", found.group(1))
    if not 3 <= len(description) <= 256:
        raise Stop(f"the DESCRIPTION in CMakeLists.txt has {len(description)} characters; winget takes 3 to 256")
    copyright_line = COPYRIGHT.search(license_text)
    if not copyright_line:
        raise Stop("LICENSE has no line of the form 'Copyright (c) YEAR HOLDER' to name the publisher")
    return description, copyright_line.group(1), license_text.splitlines()[0].removesuffix(" License")


def url_base(given):
    """The URL base, ending in /, or a failure for one that is not a plain https URL."""
    base = given if given.endswith("/") else given + "/"
    parts = urllib.parse.urlsplit(base)
    if parts.scheme != "https" or not parts.hostname or re.search(r"\s", base):
        raise Stop(f"{given} is not an https URL")
    if parts.query or parts.fragment or parts.username or parts.password:
        raise Stop(f"{given} has a query, a fragment or user information: give the plain folder URL")
    if any(folder in (".", "..") for folder in parts.path.split("/")):
        raise Stop(f"{given} has a folder . or ..: give the folder's own URL")
    return base


def later(base, version):
    """The URL base of a later version, "$version" in place of this one in the tag, which
    is the last folder of the URL; None if the tag does not carry the version."""
    head, _, tag = base.rstrip("/").rpartition("/")
    return f"{head}/{tag.replace(version, '$version')}/" if version in tag else None


def yaml_text(fields):
    """YAML that reads back as the strings written: PyYAML quotes whatever would read as a
    number or a date (1.10, 2026-12-08)."""
    return yaml.safe_dump(fields, sort_keys=False, allow_unicode=True, width=1000)


def write_manifests(dist, url, identifier, out):
    """Writes the manifests of the release folder `dist`, downloaded from under `url`, as
    winget's `identifier`, to `out`: made beside it, and given its name once complete."""
    dist, out = Path(dist), Path(out)
    if out.exists() and not (out.is_dir() and not any(out.iterdir())):
        raise Stop(f"{out} exists and is not an empty folder: give a new one")
    base = url_base(url)
    if not IDENTIFIER.fullmatch(identifier) or len(identifier) > 128:
        raise Stop(f"{identifier!r} is no winget identifier: Publisher.Package, 2 to 8 parts of 1 to 32 characters,"
                   " without spaces or \\/:*?\"<>|, 128 in all")
    hashes = verified_hashes(dist)
    version = layout.read_buildinfo(dist / layout.BUILDINFO).get("Version") if (dist / layout.BUILDINFO).exists() else None
    if not version:
        raise Stop(f"{dist / layout.BUILDINFO} names no version")
    description, publisher, license_name = project()
    github = GITHUB_RELEASE.match(base)
    homepage = github.group(1) if github else base

    header = "# yaml-language-server: $schema=https://aka.ms/winget-manifest.{}.%s.schema.json\n\n" % MANIFEST_VERSION
    common = {"PackageIdentifier": identifier, "PackageVersion": version}
    manifests = {
        f"{identifier}.yaml": ("version", {**common, "DefaultLocale": "en-US"}),
        f"{identifier}.installer.yaml": ("installer", {
            **common,
            "InstallerType": "portable",
            "Commands": ["halvorn"],
            "Installers": [{"Architecture": architecture, "InstallerUrl": base + name,
                            "InstallerSha256": hashes[name].upper()} for architecture, name in PROGRAMS.items()],
        }),
        f"{identifier}.locale.en-US.yaml": ("defaultLocale", {
            **common,
            "PackageLocale": "en-US",
            "Publisher": publisher,
            "PackageName": "Halvorn",
            "PackageUrl": homepage,
            "License": license_name,
            "ShortDescription": description,
            "Moniker": "halvorn",
            **({"LicenseUrl": f"{homepage}/blob/{github.group(2)}/LICENSE",
                "ReleaseNotesUrl": f"{homepage}/releases/tag/{github.group(2)}"} if github else {}),
        }),
    }
    scoop = {
        "version": version,
        "description": description,
        "homepage": homepage,
        "license": license_name,
        "architecture": {
            "64bit": {"url": base + PROGRAMS["x64"] + "#/halvorn.exe", "hash": hashes[PROGRAMS["x64"]]},
            "32bit": {"url": base + PROGRAMS["x86"], "hash": hashes[PROGRAMS["x86"]]},
        },
        "bin": "halvorn.exe",
    }
    # Scoop finds new versions on GitHub, and fills them into URLs that carry the version.
    if github:
        scoop["checkver"] = "github"
    update = later(base, version)
    if update:
        scoop["autoupdate"] = {
            "architecture": {
                "64bit": {"url": update + PROGRAMS["x64"] + "#/halvorn.exe"},
                "32bit": {"url": update + PROGRAMS["x86"]},
            },
            "hash": {"url": f"$baseurl/{layout.CHECKSUMS}"},
        }
    out.parent.mkdir(parents=True, exist_ok=True)
    partial = Path(tempfile.mkdtemp(prefix=f"{out.name}.partial-", dir=out.parent))
    try:
        write(partial, manifests, header.format, scoop)
        partial.chmod(0o755)
        partial.rename(out)
    finally:
        shutil.rmtree(partial, ignore_errors=True)


def main():
    parser = argparse.ArgumentParser(prog="scripts/package-manifests", usage=USAGE)
    for option in ("--dist", "--url-base", "--identifier", "--out"):
        parser.add_argument(option, required=True)
    arguments = parser.parse_args()
    write_manifests(arguments.dist, arguments.url_base, arguments.identifier, arguments.out)


def write(folder, manifests, header, scoop):
    (folder / "winget").mkdir()
    for name, (kind, fields) in manifests.items():
        fields.update({"ManifestType": kind, "ManifestVersion": MANIFEST_VERSION})
        (folder / "winget" / name).write_text(header(kind) + yaml_text(fields))
    (folder / "scoop").mkdir()
    # As Scoop's buckets want it: CRLF line endings, no BOM, a final newline.
    (folder / "scoop" / "halvorn.json").write_bytes((json.dumps(scoop, indent=4) + "\n").replace("\n", "\r\n").encode())


if __name__ == "__main__":
    run_tool(main, "package-manifests")
