"""Checks what scripts/package-manifests wrote against the release it was given:

    check_manifests.py OUT DIST URL-BASE IDENTIFIER

OUT holds the manifests, in winget/ and scoop/ as package-manifests writes them, or
side by side as the publish job gathers them.
Every field that winget's 1.12.0 schemas and Scoop require is there, in the form they
require; each hash is SHA256SUMS's, each URL under the base; the version reads back as
written; Scoop's file has CRLF line endings, no BOM and a final newline. winget validate,
on Windows, has the last word."""
import json
import re
import sys
from pathlib import Path

import yaml

out, dist, base, identifier = Path(sys.argv[1]), Path(sys.argv[2]), sys.argv[3], sys.argv[4]
sums = {name: digest for digest, name in re.findall(r"^(\S{64})  (\S+)$", (dist / "SHA256SUMS").read_text(), re.M)}
version = re.search(r"^Version: (\S+)$", (dist / "BUILDINFO").read_text(), re.M).group(1)
files = {"halvorn.exe": "x86", "halvorn-x64.exe": "x64"}
failures = []


def check(condition, what):
    if not condition:
        failures.append(what)


required = {
    "version": ["PackageIdentifier", "PackageVersion", "DefaultLocale"],
    "installer": ["PackageIdentifier", "PackageVersion", "Installers"],
    "defaultLocale": ["PackageIdentifier", "PackageVersion", "PackageLocale", "Publisher", "PackageName", "License",
                      "ShortDescription"],
}
for suffix, kind in ((".yaml", "version"), (".installer.yaml", "installer"), (".locale.en-US.yaml", "defaultLocale")):
    path = next(out.rglob(identifier + suffix))
    text = path.read_text()
    check(text.startswith(f"# yaml-language-server: $schema=https://aka.ms/winget-manifest.{kind}.1.12.0.schema.json\n"),
          f"{path.name} starts with its schema")
    fields = yaml.load(text, Loader=yaml.BaseLoader)  # every value as the string it is
    for field in required[kind] + ["ManifestType", "ManifestVersion"]:
        check(fields.get(field), f"{path.name} has {field}")
    check(fields["ManifestType"] == kind and fields["ManifestVersion"] == "1.12.0", f"{path.name}'s type and version")
    check(fields["PackageIdentifier"] == identifier, f"{path.name}'s identifier")
    check(fields["PackageVersion"] == version, f"{path.name}'s version reads back as {version}")
    if kind == "installer":
        check(fields.get("InstallerType") == "portable" and fields.get("Commands") == ["halvorn"],
              "one portable installer per architecture, whose command is halvorn")
        for installer in fields["Installers"]:
            name = installer["InstallerUrl"].removeprefix(base)
            check(installer["InstallerUrl"].startswith(base) and files.get(name) == installer["Architecture"],
                  f"{installer['InstallerUrl']} is under the base, for {installer['Architecture']}")
            check(re.fullmatch("[0-9A-F]{64}", installer["InstallerSha256"])
                  and installer["InstallerSha256"].lower() == sums.get(name), f"{name}'s hash is SHA256SUMS'")
        check(sorted(i["Architecture"] for i in fields["Installers"]) == ["x64", "x86"], "x86 and x64")

scoop_bytes = next(out.rglob("halvorn.json")).read_bytes()
check(not scoop_bytes.startswith(b"\xef\xbb\xbf") and scoop_bytes.endswith(b"\r\n")
      and scoop_bytes.count(b"\n") == scoop_bytes.count(b"\r\n"), "Scoop's file: CRLF, no BOM, a final newline")
scoop = json.loads(scoop_bytes)
for field in ("version", "homepage", "license", "description", "bin"):
    check(scoop.get(field), f"Scoop's file has {field}")
check(scoop["version"] == version, "Scoop's version")
for bits, name in (("32bit", "halvorn.exe"), ("64bit", "halvorn-x64.exe")):
    entry = scoop["architecture"][bits]
    check(entry["url"].split("#")[0] == base + name and entry["hash"] == sums[name], f"Scoop's {bits} url and hash")
    later = scoop["autoupdate"]["architecture"][bits]["url"]
    check(later.count("$version") == 1 and later.replace("$version", version) == entry["url"],
          f"Scoop's {bits} autoupdate url has $version once, in the version's place")
check(scoop["autoupdate"]["hash"]["url"] == "$baseurl/SHA256SUMS", "Scoop reads new hashes from SHA256SUMS")
sys.exit("\n".join(failures) or None)
