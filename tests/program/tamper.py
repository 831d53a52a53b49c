"""Makes tampered copies of a signed release file, for verify-release's test:

    tamper.py KIND IN OUT

KIND: code (a byte of code changed), checksum (another PE checksum), signature (a byte
of the signature value changed), stuffed (128 bytes hidden in the certificate table,
its lengths grown to match, as in CVE-2013-3900), or zip:PROGRAM (the zip IN with its
halvorn.exe replaced by PROGRAM, zipped as a release is)."""
import importlib.machinery
import struct
import sys
import zipfile
from pathlib import Path

scripts = Path(__file__).resolve().parents[2] / "scripts"
verify = importlib.machinery.SourceFileLoader("verify_release", str(scripts / "verify-release")).load_module()


def tamper(kind, data):
    at_checksum, directory = verify.layout(data)
    offset, size = struct.unpack_from("<II", data, directory)
    if kind == "code":
        data[1000] ^= 1
    elif kind == "checksum":
        data[at_checksum] ^= 1
    elif kind == "signature":
        data[offset + size - 40] ^= 1  # in the signature value, which ends the signer's part
    elif kind == "stuffed":
        data[offset + size:offset + size] = b"\xAA" * 128
        struct.pack_into("<II", data, directory, offset, size + 128)
        struct.pack_into("<I", data, offset, size + 128)
    if kind in ("signature", "stuffed"):
        # As an attacker would, so that only what was meant to change has changed.
        struct.pack_into("<I", data, at_checksum, 0)
        struct.pack_into("<I", data, at_checksum, verify.checksum(bytes(data)))
    return data


kind, source, target = sys.argv[1:]
if kind.startswith("zip:"):
    with zipfile.ZipFile(source) as release:
        contents = [(name, Path(kind[4:]).read_bytes() if name == "halvorn.exe" else release.read(name))
                    for name in release.namelist()]
    with open(target, "wb") as out:
        verify.write_zip(out, contents)
else:
    Path(target).write_bytes(tamper(kind, bytearray(Path(source).read_bytes())))
