"""Both checkouts of the sources, in two folders, write the same zip; it holds exactly the
two programs and two text files for Windows (CRLF, ASCII, no line wider than Notepad on
XP shows, 79), the README naming the version, the commit of a development build and the
home, and linking nothing in the zip; SHA256SUMS verifies, and its halvorn.exe is the
program under test."""
import io
import unittest
import zipfile

import common
from common import SETTINGS, run, work

# What the zip holds, as whoever downloads it finds it.
ENTRIES = ["LICENSE.txt", "README.txt", "halvorn.exe", "x64/halvorn.exe"]


class BuildsOneZipInTwoFoldersHoldingTheProgramsAndTextForWindows(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        for checkout in (common.first(), work("second", "elsewhere")):
            run(checkout / "scripts" / "release")
        cls.zip = (common.first() / "dist" / common.zip_name()).read_bytes()

    def test_two_folders_write_the_same_zip(self):
        self.assertEqual(self.zip, (work("second", "elsewhere", "dist") / common.zip_name()).read_bytes())

    def test_its_checksums_verify(self):
        run("sha256sum", "-c", "SHA256SUMS", cwd=common.first() / "dist")

    def test_the_zip_holds_the_programs_and_texts_for_windows(self):
        with zipfile.ZipFile(io.BytesIO(self.zip)) as release:
            self.assertEqual(release.namelist(), ENTRIES)
            for name in ("README.txt", "LICENSE.txt"):
                with self.subTest(name):
                    text = release.read(name)
                    self.assertTrue(text.isascii(), "a character that is not ASCII")
                    self.assertEqual(text.count(b"\n"), text.count(b"\r\n"), "a line ending that is not CRLF")
                    self.assertTrue(text.endswith(b"\r\n"))
                    self.assertLessEqual(max(map(len, text.split(b"\r\n"))), 79, "a line over 79 characters")
            readme = release.read("README.txt").decode()
            self.assertIn(f"Halvorn {SETTINGS.version}\r\n", readme)
            self.assertIn(f"{SETTINGS.home}\r\n", readme)
            self.assertNotIn(".md", readme, "it names a document the zip lacks")
            if "-" in SETTINGS.version:  # a release names its tag, not its commit
                self.assertIn(common.commit_of(common.first()), readme)
            with open(SETTINGS.program, "rb") as program:
                self.assertEqual(release.read("halvorn.exe"), program.read(), "not the program under test")


if __name__ == "__main__":
    common.main()
