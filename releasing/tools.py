"""What the release tools ask of openssl and osslsigncode, one call each, named for what
it does or what a success proves. What verify-release's checks read is written to a
scratch folder of the run's own; their text output is never read, since it prints names
that a signer chooses."""
import subprocess
from pathlib import Path
from typing import NamedTuple

from asn1crypto import pem

from .command import Stop


def run(*command, check=True):
    """The finished command; with `check`, a Stop where it fails."""
    try:
        result = subprocess.run([str(part) for part in command], capture_output=True)
    except OSError as error:
        raise Stop(f"cannot run {command[0]}: {error.strerror}") from None
    if check and result.returncode != 0:
        said = (result.stderr.strip() or result.stdout.strip() or b"no message").decode(errors="replace")
        raise Stop(f"{' '.join(map(str, command[:2]))} failed: {said.splitlines()[-1]}")
    return result


def succeeds(*command):
    return run(*command, check=False).returncode == 0


class Scratch(NamedTuple):
    """A folder of the run's own, for the files that the tools read and write."""
    folder: Path

    def write(self, name, content):
        path = self.folder / name
        path.write_bytes(content)
        return path

    def certificates(self, name, certificates):
        return self.write(name, b"".join(pem.armor("CERTIFICATE", c.dump()) for c in certificates))

    def untrusted(self, name, certificates):
        """openssl's -untrusted option for `certificates`; none where there are none."""
        return ["-untrusted", self.certificates(name, certificates)] if certificates else []


def is_chain(scratch, path):
    """Whether each certificate of `path` is signed by the next, the last, where it is
    self-signed, by itself: openssl verify on those certificates alone, anchored at the
    last, their times aside."""
    return succeeds("openssl", "verify", "-no-CAfile", "-no-CApath", "-no_check_time", "-check_ss_sig",
                    *([] if path[-1].self_issued else ["-partial_chain"]),
                    "-trusted", scratch.certificates("anchor.pem", path[-1:]),
                    *scratch.untrusted("between.pem", path[1:-1]), scratch.certificates("first.pem", path[:1]))


def is_trusted_chain(scratch, path, roots, at_time):
    """Whether the path's first certificate chains to a root in the PEM file `roots` through
    the others, and is valid, at `at_time` (seconds since 1970) or now (openssl verify)."""
    return succeeds("openssl", "verify", "-no-CApath", "-CAfile", roots, *scratch.untrusted("issuers.pem", path[1:]),
                    *(["-attime", str(at_time)] if at_time is not None else []),
                    scratch.certificates("signer.pem", path[:1]))


def is_signature_of(scratch, certificate, digest, signature, signed):
    """Whether `signature` is the signature of `signed` with the key of `certificate`
    (openssl dgst -verify)."""
    key = scratch.write("key.pem", pem.armor("PUBLIC KEY", certificate.public_key.dump()))
    return succeeds("openssl", "dgst", f"-{digest}", "-verify", key, "-signature",
                    scratch.write("signature.bin", signature), scratch.write("signed.der", signed))


def is_timestamp_of(scratch, token, signature, roots, at_time):
    """Whether the RFC 3161 token stamps `signature`, and its signer chains to a root in the
    PEM file `roots` at `at_time` (openssl ts -verify)."""
    return succeeds("openssl", "ts", "-verify", "-data", scratch.write("stamped.bin", signature), "-token_in",
                    "-attime", str(at_time), "-in", scratch.write("token.der", token), "-CAfile", roots)


def extracted_signature(scratch, program):
    """The PEM signature of the PE file `program`, or None where it carries none
    (osslsigncode extract-signature; as PEM, since osslsigncode 2.5 writes more than the
    signature without -pem)."""
    out = scratch.folder / "extracted.pem"
    out.unlink(missing_ok=True)
    if not succeeds("osslsigncode", "extract-signature", "-pem", "-in", program, "-out", out) or not out.exists():
        return None
    return out.read_bytes()


def with_signature_attached(scratch, signature, unsigned):
    """The bytes of the PE file `unsigned` with `signature` attached as osslsigncode
    attaches one, or None where it cannot."""
    out = scratch.folder / "attached.exe"
    out.unlink(missing_ok=True)
    # It attaches a signature that it cannot verify too. Given roots, osslsigncode 2.9
    # would go on to fetch the revocation lists at the addresses that the certificates
    # name, addresses that the signer chooses (seen with strace): given none, it
    # fetches nothing.
    run("osslsigncode", "attach-signature", "-sigin", scratch.write("attach.pem", signature),
        "-CAfile", scratch.write("no-roots.pem", b""), "-in", scratch.write("unsigned.exe", unsigned), "-out", out,
        check=False)
    return out.read_bytes() if out.exists() else None


# --- Signing, as scripts/release and scripts/publish do it ---

def password_option(password_file):
    """openssl's -passin for a password read from `password_file`, or for none."""
    return ["-passin", f"file:{password_file}" if password_file else "pass:"]


def opens_pkcs12(path, password_file):
    """Whether openssl opens the PKCS #12 file with the password given (none without one)."""
    return succeeds("openssl", "pkcs12", "-in", path, "-noout", *password_option(password_file))


def public_key_of_key(path, password_file):
    """The public key of the PEM private key in `path`, or None where it cannot be read."""
    result = run("openssl", "pkey", "-in", path, *password_option(password_file), "-pubout", check=False)
    return result.stdout if result.returncode == 0 else None


def public_key_of_certificate(path):
    """The public key of the first PEM certificate in `path`, or None where there is none."""
    result = run("openssl", "x509", "-in", path, "-noout", "-pubkey", check=False)
    return result.stdout if result.returncode == 0 else None


def signed(program, out, signing):
    """osslsigncode's own words where it cannot sign `program` into `out` with Authenticode,
    SHA-256, and the options `signing` (its certificate, key or PKCS #12 file, password
    file and timestamp server); None where it signs."""
    result = run("osslsigncode", "sign", *signing, "-h", "sha256", "-n", "Halvorn", "-in", program, "-out", out,
                 check=False)
    return None if result.returncode == 0 else (result.stdout + result.stderr).decode(errors="replace")


def without_signature(program, out):
    """`program` with its signature set aside, as osslsigncode removes one, into `out`."""
    run("osslsigncode", "remove-signature", "-in", program, "-out", out)
