"""Makes tampered copies of a signed release file, for verify-release's test:

    tamper.py KIND IN OUT

KIND: code (byte 1000 changed: code in a program, compressed data in a zip), checksum (another PE checksum), signature (a byte
of the signature value changed), stuffed (128 bytes hidden in the certificate table,
its lengths grown to match, as in CVE-2013-3900), or zip:PROGRAM (the zip IN with its
halvorn.exe replaced by PROGRAM, zipped as a release is)."""
import struct
import sys
import zipfile
from pathlib import Path

import pefile

sys.path.insert(0, str(Path(__file__).resolve().parents[2] / "scripts"))
from release_zip import write_zip  # noqa: E402


def tamper(kind, data):
    if kind == "code":
        data[1000] ^= 1
        return data
    pe = pefile.PE(data=bytes(data), fast_load=True)
    table = pe.OPTIONAL_HEADER.DATA_DIRECTORY[pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_SECURITY"]]
    offset, size = table.VirtualAddress, table.Size  # a file offset, for this entry alone
    if kind == "checksum":
        data[pe.OPTIONAL_HEADER.get_field_absolute_offset("CheckSum")] ^= 1
    elif kind == "signature":
        data[offset + size - 40] ^= 1  # in the signature value, which ends the signer's part
    elif kind == "stuffed":
        data[offset + size:offset + size] = b"\xAA" * 128
        struct.pack_into("<I", data, table.get_field_absolute_offset("Size"), size + 128)
        struct.pack_into("<I", data, offset, size + 128)
    if kind in ("signature", "stuffed"):
        # As an attacker would, so that only what was meant to change has changed.
        pe = pefile.PE(data=bytes(data), fast_load=True)
        struct.pack_into("<I", data, pe.OPTIONAL_HEADER.get_field_absolute_offset("CheckSum"), pe.generate_checksum())
    return data


kind, source, target = sys.argv[1:]
if kind.startswith("zip:"):
    with zipfile.ZipFile(source) as release:
        contents = [(name, Path(kind[4:]).read_bytes() if name == "halvorn.exe" else release.read(name))
                    for name in release.namelist()]
    with open(target, "wb") as out:
        write_zip(out, contents)
else:
    Path(target).write_bytes(tamper(kind, bytearray(Path(source).read_bytes())))
