"""What verify-release says of each download and of copies made as an attacker would, with
throwaway certificates shaped as CAs issue them and the tests' own timestamp authority:
only what signing makes from a signer's own parts is accepted, whoever the signer, with
the issuers of the path to a trusted root and no other certificate, and a timestamp only
as an authority that chains to a trusted root makes it for the request osslsigncode
sends; one forgery of each kind names the first field that is not what signing makes. A
zip's line says of each program what holds of it alone. Every file gets its verdict, an
unreadable zip too, under its name in quotes. What it cannot check is one line and exit
status 2, never a traceback."""
import json
import os
import re
import shutil
import unittest

import tamper

import common
from common import SETTINGS, run, work
from releasing import layout


def fingerprint(certificate):
    said = run("openssl", "x509", "-in", work(certificate), "-noout", "-fingerprint", "-sha256").stdout
    return said.strip().partition("=")[2]


def make_copies(files):
    """The copies an attacker, or an honest signer, makes of the published files."""
    unsigned, mine, zip_name = common.unsigned(), files / "halvorn.exe", common.zip_name()
    shutil.copyfile(unsigned / "halvorn.exe", files / "unsigned.exe")
    shutil.copyfile(unsigned / "halvorn.exe", files / "halvorn.exe: identical: halvorn.exe.exe")
    tamper.make("code", unsigned / "halvorn.exe", files / "changed.exe")
    genuine = ["-certs", work("genuine-chain.pem"), "-key", work("genuine-key.pem")]
    other = ["-certs", work("other.pem"), "-key", work("other-key.pem")]
    work("ca-chain.pem").write_text(work("ca-signer.pem").read_text() + work("ca.pem").read_text())
    signings = [  # what it signs, with what, into which file
        ("halvorn.exe", other, "forged.exe"),
        ("halvorn.exe", ["-certs", work("ca-chain.pem"), "-key", work("ca-signer-key.pem")], "ca-signed.exe"),
        ("halvorn.exe", genuine + ["-ac", work("other.pem")], "extra-certificate.exe"),
        ("halvorn.exe", genuine + ["-ts", os.environ["HALVORN_TEST_TSA"] + "evil-tsa"], "evil-timestamp.exe"),
        ("halvorn-x64.exe", genuine + ["-n", "Halvorn"], "untimestamped-x64.exe"),
        ("halvorn-x64.exe", other, "other-x64.exe"),
    ]
    for program, signing, name in signings:
        run("osslsigncode", "sign", *signing, "-h", "sha256", "-in", unsigned / program, "-out", files / name)
    run("osslsigncode", "sign", *other, "-h", "sha256", "-nest", "-in", mine, "-out", files / "nested.exe")
    run("osslsigncode", "add", "-addUnauthenticatedBlob", "-in", mine, "-out", files / "blob.exe")
    # The published programs are timestamped: a signature value to change is at the end of one that is not.
    tamper.make("signature", files / "forged.exe", files / "signature.exe")
    for kind, extra in (("stuffed", None), ("checksum", None), ("code", None), ("field", None), ("token", None),
                        ("grown", None), ("fake-ca", None), ("nonce", None), ("ber-tsa", None), ("copies", "root.pem"),
                        ("tsa-copies", "tsa-root.pem"), ("md5", "genuine-key.pem"), ("opus-twice", "genuine-key.pem")):
        tamper.make(kind, mine, files / f"{kind}.exe", extra and work(extra))
    for name, kind in (("stuffed", f"zip:halvorn.exe={files / 'stuffed.exe'}"),
                       ("copies", f"zip:halvorn.exe={files / 'copies.exe'}"),
                       ("signers", f"zip:x64/halvorn.exe={files / 'other-x64.exe'}"),
                       ("untimestamped", f"zip:x64/halvorn.exe={files / 'untimestamped-x64.exe'}"),
                       *((kind, kind) for kind in ("extra", "comment", "method", "lzma", "encrypted", "deflate",
                                                   "disks", "padded"))):
        tamper.make(kind, files / zip_name, files / f"{name}.zip")
    # A BUILDINFO as an editor may save it: with a byte order mark, its commit in capitals.
    buildinfo = (files / layout.BUILDINFO).read_text()
    buildinfo = re.sub(r"^Commit: (\w+)$", lambda found: found.group(0).upper().replace("COMMIT", "Commit"),
                       buildinfo, flags=re.M)
    (files / layout.BUILDINFO).write_bytes(b"\xef\xbb\xbf" + buildinfo.encode())


def expected_lines():
    """Each file, and the line verify-release must print of it, as a regular expression."""
    e = re.escape
    of = e(f"of Halvorn {SETTINGS.version} at commit {common.commit_of(common.first())}, tagged v{SETTINGS.version}")
    chains = e("which chains to a root this machine trusts")
    stamp = e("timestamped ") + r"[-0-9]+ [:0-9]+" + e(' UTC by "Common Name: tsa"')
    subject = e('subject "Common Name: Halvorn Test Signer"')
    by_genuine = e(f"signed with certificate SHA-256 {fingerprint('genuine.pem')}, ") + chains
    genuine = f"{by_genuine}, {stamp}, {e('program name')} \"Halvorn\", {subject}"
    signed = e("identical apart from its signature")
    differs = e("differs from the release ") + of
    not_attached = e("it is not one of the rebuilt programs with one signature attached as signing attaches it")
    not_made = e("its signature is not what signing makes, from SignedData")
    token = not_made + e(".signer_infos[0].unsigned_attrs[0].values[0].content")
    no_root = e("its certificates do not chain to a root this machine trusts") + ".*" + e("--ca-file")
    unreadable = e("it cannot be read as a zip (") + ".*" + e(")")
    zip_name = e(common.zip_name())
    per_program = (f"{by_genuine}, {stamp} in halvorn\\.exe, {{}} in x64/halvorn\\.exe, "
                   f"{e('program name')} \"Halvorn\", {subject}")
    return [
        ("halvorn.exe", f"{signed}: halvorn\\.exe {of}, {genuine}"),
        ("halvorn-x64.exe", f"{signed}: halvorn-x64\\.exe {of}, {genuine}"),
        (common.zip_name(), f"{signed}: {zip_name} {of}, " + per_program.format(stamp)),
        ("unsigned.exe", f"identical: halvorn\\.exe {of}"),
        ("halvorn.exe: identical: halvorn.exe.exe", f"identical: halvorn\\.exe {of}"),
        ("changed.exe", f"{differs}: {e('it is no rebuilt program, and carries no signature')}"),
        ("untimestamped.zip", f"{signed}: {zip_name} {of}, " + per_program.format("not timestamped")),
        ("forged.exe", f"{signed}: halvorn\\.exe {of}, " + e(f"signed with certificate SHA-256 {fingerprint('other.pem')}"
         ", which does not chain to a root this machine trusts, not timestamped, no program name, ") + subject),
        ("ca-signed.exe", f"{differs}: {no_root}"),
        ("grown.exe", f"{differs}: {no_root}"),
        ("fake-ca.exe", f"{differs}: {no_root}"),
        ("copies.exe", f"{differs}: {not_made}\\.certificates\\[\\d\\] on"),
        ("tsa-copies.exe", f"{differs}: {token}\\.certificates\\[\\d\\] on"),
        ("nonce.exe", f"{differs}: {token}{e('.encap_content_info.content.nonce on')}"),
        ("ber-tsa.exe", f"{differs}: {token}{e('.signer_infos[0].signed_attrs[')}\\d\\]\\S* on"),
        ("evil-timestamp.exe", f"{differs}: " + e("its timestamp does not verify, or its TSA does not chain to a"
                                                  " trusted root")),
        ("token.exe", f"{differs}: {token}{e('.signer_infos[0].unsigned_attrs on')}"),
        ("field.exe", f"{differs}: {not_made}{e('.digest_algorithms[1] on')}"),
        ("md5.exe", f"{differs}: {not_made}{e('.encap_content_info.content.message_digest.digest_algorithm.algorithm on')}"),
        ("opus-twice.exe", f"{differs}: {not_made}{e('.signer_infos[0].signed_attrs[')}\\d\\]\\S* on"),
        ("nested.exe", f"{differs}: {not_made}{e('.signer_infos[0].unsigned_attrs[0].type on')}"),
        ("extra-certificate.exe", f"{differs}: {not_made}\\.certificates\\[\\d\\] on"),
        ("blob.exe", f"{differs}: {not_made}{e('.signer_infos[0].unsigned_attrs[0].type on')}"),
        ("signature.exe", f"{differs}: {e('its signature value does not verify with the signer' + chr(39) + 's key')}"),
        ("stuffed.exe", f"{differs}: {not_attached}"),
        ("checksum.exe", f"{differs}: {not_attached}"),
        ("code.exe", f"{differs}: {not_attached}"),
        ("stuffed.zip", f"{differs}: {e('its halvorn.exe differs: ')}{not_attached}"),
        ("copies.zip", f"{differs}: {e('its halvorn.exe differs: ')}{not_made}\\.certificates\\[\\d\\] on"),
        ("signers.zip", f"{differs}: {e('its programs are not both signed, with the same certificate')}"),
        ("extra.zip", f"{differs}: {e('it holds other files')}"),
        ("comment.zip", f"{differs}: {e('the zip around its programs is not the rebuilt one')}"),
        ("method.zip", f"{differs}: {unreadable}"),
        ("lzma.zip", f"{differs}: {unreadable}"),
        ("encrypted.zip", f"{differs}: {unreadable}"),
        ("deflate.zip", f"{differs}: {unreadable}"),
        ("disks.zip", f"{differs}: {unreadable}"),
        ("padded.zip", f"{differs}: {e('it is larger than the rebuilt zip could be with two signatures')}"),
        ("halvorn.exe", f"{signed}: halvorn\\.exe {of}, {genuine}"),
    ]


class VerifyReleaseAcceptsOnlyWhatSigningMakesFromASignersOwnParts(unittest.TestCase):
    def verify_release(self, *arguments):
        return run(common.first() / "scripts" / "verify-release", *arguments, check=False)

    def test_each_file_gets_its_verdict(self):
        files = common.fresh(work("verdicts"))
        shutil.copytree(common.downloads(), files)
        make_copies(files)
        rows = expected_lines()
        result = self.verify_release("--ca-file", work("roots.pem"), *(files / name for name, _ in rows),
                                     files / layout.BUILDINFO)
        self.assertEqual(result.returncode, 1, result.stderr)
        lines = result.stdout.splitlines()
        self.assertEqual(len(lines), len(rows), result.stdout)
        for (name, verdict), line in zip(rows, lines):
            with self.subTest(name):
                self.assertRegex(line, f"^{re.escape(json.dumps(name))}: {verdict}$")

    def test_what_it_cannot_check(self):
        """A commit this clone lacks, a commit whose release does not build (the build's own
        error shows), a BUILDINFO that is not UTF-8, a BUILDINFO with no file to check, one
        saved under another name, as if a download, and a --ca-file without certificates."""
        mine = common.downloads() / "halvorn.exe"
        broken = common.fresh(work("broken"))
        common.git("worktree", "add", "--quiet", "-b", "broken", broken)
        (broken / "CMakeLists.txt").write_text((broken / "CMakeLists.txt").read_text()
                                               + 'message(FATAL_ERROR "broken on purpose")\n')
        common.git("commit", "--quiet", "-am", "broken", cwd=broken)
        broken_commit = common.commit_of(broken)
        common.git("worktree", "remove", "--force", broken)
        infos = {}
        for name, content in (("unknown", f"Commit: {'0123456789abcdef' * 2}01234567\n"),
                              ("broken-build", f"Commit: {broken_commit}\n"), ("not-utf-8", None)):
            infos[name] = common.fresh(work(name)) / layout.BUILDINFO
            infos[name].parent.mkdir()
            infos[name].write_bytes(b"Source: halvorn \xff\n" if content is None else
                                    f"Source: halvorn\nVersion: {SETTINGS.version}\n{content}".encode())
        shutil.copyfile(common.downloads() / layout.BUILDINFO, work("BUILDINFO.txt"))
        cases = [
            ("a commit this clone lacks", [mine, infos["unknown"]], "no commit"),
            ("a commit whose release does not build", [mine, infos["broken-build"]], "broken on purpose"),
            ("a BUILDINFO that is not UTF-8", [mine, infos["not-utf-8"]], "not UTF-8"),
            ("a BUILDINFO with no file to check", [common.downloads() / layout.BUILDINFO], "no file to check"),
            ("a BUILDINFO under another name", [mine, work("BUILDINFO.txt")], "give it with --buildinfo"),
            ("a --ca-file without certificates", [mine, "--ca-file", common.first() / "LICENSE"], "no PEM certificates"),
        ]
        for name, arguments, saying in cases:
            with self.subTest(name):
                result = self.verify_release(*arguments)
                self.assertEqual(result.returncode, 2, result.stderr)
                self.assertNotIn("Traceback", result.stderr)
                self.assertIn(saying, result.stderr)


if __name__ == "__main__":
    common.main()
