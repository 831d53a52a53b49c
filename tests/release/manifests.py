"""The winget and Scoop manifests published beside the signed files describe those files:
every field that winget's 1.12.0 schemas and Scoop require is there, in the form they
require; each hash is SHA256SUMS's, each URL under the base; the version reads back as
written; Scoop's file has CRLF line endings, no BOM and a final newline (winget validate,
on Windows, has the last word). A release folder whose programs are not those of its
SHA256SUMS, a URL base that is not plain https, and an identifier that winget refuses
are refused."""
import json
import shutil
import unittest

import yaml

import common
from common import run, work
from releasing import layout

IDENTIFIER = "Example.Halvorn"
# What winget's schemas require of each manifest.
REQUIRED = {
    ".yaml": ("version", ["PackageIdentifier", "PackageVersion", "DefaultLocale"]),
    ".installer.yaml": ("installer", ["PackageIdentifier", "PackageVersion", "Installers"]),
    ".locale.en-US.yaml": ("defaultLocale", ["PackageIdentifier", "PackageVersion", "PackageLocale", "Publisher",
                                             "PackageName", "License", "ShortDescription"]),
}


class PublishesManifestsThatDescribeThePublishedFiles(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        downloads = common.downloads()
        cls.sums = layout.read_checksums(downloads)
        cls.version = layout.read_buildinfo(downloads / layout.BUILDINFO)["Version"]
        cls.base = common.url_base()
        cls.architectures = {program.published: program.architecture for program in layout.PROGRAMS}

    def test_winget_manifests(self):
        for suffix, (kind, required) in REQUIRED.items():
            with self.subTest(kind):
                text = (common.downloads() / (IDENTIFIER + suffix)).read_text()
                self.assertTrue(text.startswith(
                    f"# yaml-language-server: $schema=https://aka.ms/winget-manifest.{kind}.1.12.0.schema.json\n"))
                fields = yaml.load(text, Loader=yaml.BaseLoader)  # every value as the string it is
                for field in required + ["ManifestType", "ManifestVersion"]:
                    self.assertTrue(fields.get(field), field)
                self.assertEqual((fields["ManifestType"], fields["ManifestVersion"]), (kind, "1.12.0"))
                self.assertEqual((fields["PackageIdentifier"], fields["PackageVersion"]), (IDENTIFIER, self.version))
                if kind == "installer":
                    self.assertEqual((fields.get("InstallerType"), fields.get("Commands")), ("portable", ["halvorn"]))
                    self.assertEqual(sorted(i["Architecture"] for i in fields["Installers"]), ["x64", "x86"])
                    for installer in fields["Installers"]:
                        name = installer["InstallerUrl"].removeprefix(self.base)
                        self.assertTrue(installer["InstallerUrl"].startswith(self.base))
                        self.assertEqual(self.architectures.get(name), installer["Architecture"])
                        self.assertRegex(installer["InstallerSha256"], "^[0-9A-F]{64}$")
                        self.assertEqual(installer["InstallerSha256"].lower(), self.sums.get(name))

    def test_scoop_manifest(self):
        data = (common.downloads() / "halvorn.json").read_bytes()
        self.assertFalse(data.startswith(b"\xef\xbb\xbf"))
        self.assertTrue(data.endswith(b"\r\n") and data.count(b"\n") == data.count(b"\r\n"), "CRLF, a final newline")
        scoop = json.loads(data)
        for field in ("version", "homepage", "license", "description", "bin"):
            self.assertTrue(scoop.get(field), field)
        self.assertEqual(scoop["version"], self.version)
        for bits, name in (("32bit", "halvorn.exe"), ("64bit", "halvorn-x64.exe")):
            with self.subTest(bits):
                entry = scoop["architecture"][bits]
                self.assertEqual((entry["url"].split("#")[0], entry["hash"]), (self.base + name, self.sums[name]))
                later = scoop["autoupdate"]["architecture"][bits]["url"]
                self.assertEqual(later.count("$version"), 1)
                self.assertEqual(later.replace("$version", self.version), entry["url"])
        self.assertEqual(scoop["autoupdate"]["hash"]["url"], "$baseurl/SHA256SUMS")

    def test_refusals(self):
        tampered = common.fresh(work("tampered"))
        shutil.copytree(common.downloads(), tampered)
        shutil.copyfile(common.unsigned() / "halvorn.exe", tampered / "halvorn.exe")
        cases = [
            ("programs that are not those of SHA256SUMS", tampered, self.base, IDENTIFIER),
            ("a URL base that is not https", common.downloads(), "http://example.invalid/halvorn/", IDENTIFIER),
            ("a URL base with a query", common.downloads(), self.base + "?token=abc", IDENTIFIER),
            ("an identifier part longer than 32", common.downloads(), self.base, "Example.Halvorn" + "Halvorn" * 4),
        ]
        for name, dist, base, identifier in cases:
            with self.subTest(name):
                result = run(common.first() / "scripts" / "package-manifests", "--dist", dist, "--url-base", base,
                             "--identifier", identifier, "--out", common.fresh(work("refused-manifests")), check=False)
                self.assertEqual(result.returncode, 2, result.stderr)
                self.assertFalse(work("refused-manifests").exists())


if __name__ == "__main__":
    common.main()
