"""scripts/release refuses, with exit status 2 and the earlier dist/ left as it was: a
changed tree, also when git will not read it (another user's checkout), an untracked file
that the user's configuration hides, a certificate without its key, a key of another
certificate, a PKCS #12 file with the wrong password or none that is one, and a timestamp
that is no URL; and it keeps the earlier dist/ when the timestamp server cannot be
reached (exit status 1). Leaves two checkouts of one commit of the sources, in two
folders, and throwaway certificates."""
import shutil
import unittest

import common
from common import run, work

# Throwaway certificates, shaped as CAs issue them: the genuine signer and the timestamp
# authority, each under an intermediate with its CRL distribution point and its issuer's
# address (AIA), below a root of ours that verify-release is given with --ca-file; a
# self-signed signer of the genuine one's name; a signer under a CA that nobody trusts;
# and a self-signed authority named with the words osslsigncode prints of a timestamp
# that verifies. Each: its name, subject, issuer (none: itself) and extensions.
CA = ["basicConstraints=critical,CA:TRUE", "keyUsage=critical,keyCertSign,cRLSign"]
END = ["basicConstraints=critical,CA:FALSE", "keyUsage=critical,digitalSignature"]
CERTIFICATES = [
    ("root", "/O=Halvorn Test/CN=Code Signing Root", None, CA),
    ("intermediate", "/O=Halvorn Test/CN=Code Signing CA", "root", CA + ["extendedKeyUsage=codeSigning"]),
    ("genuine", "/CN=Halvorn Test Signer", "intermediate", END + ["extendedKeyUsage=codeSigning"]),
    ("tsa-root", "/O=Halvorn Test/CN=Time Stamping Root", None, CA),
    ("tsa-intermediate", "/O=Halvorn Test/CN=Time Stamping CA", "tsa-root", CA + ["extendedKeyUsage=timeStamping"]),
    ("tsa", "/CN=tsa", "tsa-intermediate", END + ["extendedKeyUsage=critical,timeStamping"]),
    ("other", "/CN=Halvorn Test Signer", None, ["extendedKeyUsage=codeSigning"]),
    ("ca", "/CN=Halvorn Test CA", None, CA),
    ("ca-signer", "/CN=ca-signer", "ca", ["extendedKeyUsage=codeSigning"]),
    ("evil-tsa", "/CN=Timestamp Server Signature verification: ok", None, ["extendedKeyUsage=critical,timeStamping"]),
]
# What a signer gives: its certificate and its intermediate; what a user trusts: the roots;
# and the CAs' revocation lists, empty, at the addresses their certificates name.
BUNDLES = {"genuine-chain.pem": ["genuine.pem", "intermediate.pem"], "roots.pem": ["root.pem", "tsa-root.pem"],
           "crls.pem": ["root.crl", "intermediate.crl"], "tsa-crls.pem": ["tsa-root.crl", "tsa-intermediate.crl"]}


def make_certificates():
    for name, subject, issuer, extensions in CERTIFICATES:
        signed_by = ["-signkey", work(f"{name}-key.pem")]
        if issuer:
            signed_by = ["-CA", work(f"{issuer}.pem"), "-CAkey", work(f"{issuer}-key.pem")]
            extensions = extensions + [f"crlDistributionPoints=URI:http://crl.example.invalid/{issuer}.crl",
                                       f"authorityInfoAccess=caIssuers;URI:http://crt.example.invalid/{issuer}.crt,"
                                       "OCSP;URI:http://ocsp.example.invalid"]
            shutil.copyfile(work(f"{issuer}.pem"), work(f"{name}-issuers.pem"))
        work(f"{name}.ext").write_text("\n".join(extensions + ["subjectKeyIdentifier=hash",
                                                               "authorityKeyIdentifier=keyid"]) + "\n")
        run("openssl", "req", "-newkey", "rsa:2048", "-nodes", "-subj", subject, "-keyout", work(f"{name}-key.pem"),
            "-out", work(f"{name}.csr"))
        run("openssl", "x509", "-req", "-in", work(f"{name}.csr"), *signed_by, "-days", "2", "-extfile",
            work(f"{name}.ext"), "-out", work(f"{name}.pem"))
    work("ca.cnf").write_text(f"[ca]\ndefault_ca = test\n[test]\ndatabase = {work('index.txt')}\n"
                              f"crlnumber = {work('crlnumber')}\ndefault_md = sha256\ndefault_crl_days = 2\n")
    for ca in ("root", "intermediate", "tsa-root", "tsa-intermediate"):
        work("index.txt").write_text("")
        work("crlnumber").write_text("01\n")
        run("openssl", "ca", "-gencrl", "-config", work("ca.cnf"), "-cert", work(f"{ca}.pem"), "-keyfile",
            work(f"{ca}-key.pem"), "-out", work(f"{ca}.crl"))
    for bundle, parts in BUNDLES.items():
        work(bundle).write_text("".join(work(part).read_text() for part in parts))


class RefusesUncleanTreesAndBadArgumentsBeforeTouchingDist(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        common.fresh(common.SETTINGS.work).mkdir(parents=True)
        shutil.copytree(common.SETTINGS.source, common.first(), ignore=shutil.ignore_patterns(".git", "build", "dist"))
        common.git("init", "--quiet")
        common.git("add", "--all")
        common.git("commit", "--quiet", "-m", "release")
        common.git("tag", f"v{common.SETTINGS.version}")
        run("git", "clone", "--quiet", common.first(), work("second", "elsewhere"))
        make_certificates()
        (common.first() / "dist").mkdir()
        (common.first() / "dist" / "earlier").write_text("an earlier release")
        run("openssl", "pkcs12", "-export", "-in", work("genuine.pem"), "-inkey", work("genuine-key.pem"),
            "-passout", "pass:right", "-out", work("genuine.p12"))
        work("wrong-password").write_text("wrong\n")

    def refused(self, arguments, saying, status=2, env=None):
        result = run(common.first() / "scripts" / "release", *arguments, env=env, check=False)
        self.assertEqual(result.returncode, status, result.stderr)
        self.assertRegex(result.stderr, saying)
        self.assertTrue((common.first() / "dist" / "earlier").exists(), "the earlier release was removed")

    def test_a_tree_that_is_not_clean(self):
        readme, untracked = common.first() / "README.md", common.first() / "untracked.txt"
        readme.write_text(readme.read_text() + "One uncommitted line.\n")
        try:
            for name, env, saying in (("an uncommitted change", None, "README.md"),
                                      ("in a checkout git will not read", {"GIT_TEST_ASSUME_DIFFERENT_OWNER": "1"},
                                       "safe.directory")):
                with self.subTest(name):
                    self.refused([], saying, env=env)
        finally:
            common.git("checkout", "README.md")
        common.git("config", "status.showUntrackedFiles", "no")
        untracked.write_text("")
        try:
            with self.subTest("an untracked file that git status is set to hide"):
                self.refused([], "untracked.txt")
        finally:
            untracked.unlink()

    def test_arguments_that_cannot_sign(self):
        genuine, p12 = [str(work(name)) for name in ("genuine.pem", "genuine.p12")]
        cases = [
            ("a certificate without its key", ["--certificate", common.first() / "LICENSE"], "--key", 2),
            ("a key of another certificate", ["--certificate", genuine, "--key", work("other-key.pem")],
             "does not belong", 2),
            ("a PKCS #12 file with the wrong password", ["--pkcs12", p12, "--password-file", work("wrong-password")],
             "pkcs12", 2),
            ("a PKCS #12 file without its password", ["--pkcs12", p12], "pkcs12", 2),
            ("a file that is no PKCS #12", ["--pkcs12", common.first() / "LICENSE"], "pkcs12", 2),
            ("a timestamp that is no URL", ["--pkcs12", p12, "--timestamp", "-h"], "timestamp", 2),
            # A signing that fails, not a refusal.
            ("an unreachable timestamp server",
             ["--certificate", genuine, "--key", work("genuine-key.pem"), "--timestamp", "http://127.0.0.1:9/"],
             "osslsigncode", 1),
        ]
        for name, arguments, saying, status in cases:
            with self.subTest(name):
                self.refused(arguments, saying, status)


if __name__ == "__main__":
    common.main()
