"""The publish job's work, on the tested release laid out outside the tree as the job gets
it: unsigned, the tested files as they are; signed with a throwaway certificate, the same
programs signed, as a user downloads them, which verify and still pass the file check.
Refused before anything is removed or written: OUT that is TESTED, the checkout or a
folder that holds it, one signing secret without the other, an identifier that winget
refuses, a tag that is not v and the version, or that v and the version begin with; and
signed programs that are not the tested ones."""
import os
import shutil
import unittest

import tamper

import common
from common import SETTINGS, run, work
from releasing import layout

IDENTIFIER = "Example.Halvorn"


def publish(tested, out, url=None, identifier=IDENTIFIER, env=None):
    return run(common.first() / "scripts" / "publish", tested, out, url or common.url_base(), identifier, env=env,
               check=False)


def signing_secrets():
    return {"CODE_SIGNING_CERTIFICATE": work("genuine-chain.pem").read_text(),
            "CODE_SIGNING_KEY": work("genuine-key.pem").read_text(),
            "TIMESTAMP_URL": os.environ["HALVORN_TEST_TSA"] + "tsa"}


class PublishesTheTestedFilesOrSignsThemAndRefusesBeforeActing(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        for folder in (common.tested(), common.unsigned(), common.downloads()):
            common.fresh(folder)
        shutil.copytree(common.first() / "dist", common.tested())

    def test_a_to_publish_unsigned_publishes_the_tested_files(self):
        result = publish(common.tested(), common.unsigned())
        self.assertEqual(result.returncode, 0, result.stderr)
        for name in [*layout.checksummed(SETTINGS.version), layout.CHECKSUMS, layout.BUILDINFO]:
            with self.subTest(name):
                self.assertEqual((common.tested() / name).read_bytes(), (common.unsigned() / name).read_bytes())

    def test_b_refusals_act_on_nothing(self):
        other_tag = common.url_base().replace(f"v{SETTINGS.version}", "v9.9.9")
        # One that v and the version begin with: the version less its last character.
        prefix_tag = common.url_base().replace(f"v{SETTINGS.version}/", f"v{SETTINGS.version[:-1]}/")
        cases = [
            ("OUT that is TESTED", common.tested(), IDENTIFIER, {}, None),
            ("OUT that is the checkout", common.first(), IDENTIFIER, {}, None),
            ("OUT that holds the checkout", work(), IDENTIFIER, {}, None),
            ("only one signing secret", work("new"), IDENTIFIER, {"CODE_SIGNING_KEY": "key"}, None),
            ("an identifier that winget refuses", work("new"), "Halvorn", {}, None),
            ("another version's tag", work("new"), IDENTIFIER, {}, other_tag),
            ("a tag that v and the version begin with", work("new"), IDENTIFIER, {}, prefix_tag),
        ]
        for name, out, identifier, secrets, url in cases:
            with self.subTest(name):
                result = publish(common.tested(), out, url, identifier, {"CODE_SIGNING_KEY": "", **secrets})
                self.assertEqual(result.returncode, 2, result.stderr)
                run("sha256sum", "--check", "--quiet", layout.CHECKSUMS, cwd=common.tested())
                self.assertTrue((common.unsigned() / "halvorn.json").exists())
                self.assertTrue((common.first() / "README.md").exists())
                self.assertFalse(work("new").exists())

    def test_c_to_publish_signed_signs_the_tested_programs(self):
        result = publish(common.tested(), common.downloads(), env=signing_secrets())
        self.assertEqual(result.returncode, 0, result.stderr)
        for program in layout.PROGRAMS:
            with self.subTest(program.published):
                run("osslsigncode", "verify", "-CAfile", work("root.pem"), "-CRLfile", work("crls.pem"),
                    "-TSA-CAfile", work("tsa-root.pem"), "-TSA-CRLfile", work("tsa-crls.pem"),
                    "-in", common.downloads() / program.published)
                status, said = common.check_pe(common.downloads() / program.published, program.architecture)
                self.assertEqual(status, 0, said)

    def test_d_signed_programs_that_are_not_the_tested_ones_are_not_published(self):
        changed = work("changed-release")
        for program in layout.PROGRAMS:
            with self.subTest(program.published):
                common.fresh(changed)
                common.fresh(work("refused"))
                shutil.copytree(common.tested(), changed)
                tamper.make("code", common.tested() / program.published, changed / program.published)
                layout.write_checksums(changed, SETTINGS.version)
                result = publish(changed, work("refused"), env=signing_secrets())
                self.assertNotEqual(result.returncode, 0, "a changed program was published")
                self.assertFalse(work("refused").exists())


if __name__ == "__main__":
    common.main()
