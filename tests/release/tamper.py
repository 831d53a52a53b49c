"""Makes tampered copies of a signed release file, for verify-release's test:

    tamper.py KIND IN OUT [KEY]

KIND, for a program: code (byte 1000 changed: code in a program, compressed data in a
zip), checksum (another PE checksum), signature (a byte of the signature value changed),
stuffed (128 bytes hidden in the certificate table, its lengths grown to match, as in
CVE-2013-3900); and, the signature changed with asn1crypto and attached again as
osslsigncode attaches one: field (a second digest algorithm whose parameters carry 315
bytes, which the signature does not cover), token (an unsigned attribute of 315 bytes in
the timestamp), md5 (the file's digest in MD5, signed again with KEY, which a SHA-256
signer cannot mean).
For a zip: zip:PROGRAM (its halvorn.exe replaced by PROGRAM, zipped as a release is),
and its halvorn.exe with an unknown compression method (method), flagged as encrypted
(encrypted), or compressed in a block of a type deflate does not have (deflate)."""
import hashlib
import struct
import subprocess
import sys
import tempfile
import zipfile
from pathlib import Path

import pefile
from asn1crypto import algos, cms, core, pem

sys.path.insert(0, str(Path(__file__).resolve().parents[2] / "scripts"))
from authenticode import AuthenticodeSignature, unsigned_part  # noqa: E402
from release_zip import write_zip  # noqa: E402

PAYLOAD = b"\xAA" * 315


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


def sign_again(signed_data, data, key):
    """MD5 as the file's digest, and the signed attributes signed again with `key`."""
    content = signed_data["encap_content_info"]["content"]
    content["message_digest"] = {"digest_algorithm": {"algorithm": "md5", "parameters": core.Null()},
                                 "digest": hashlib.md5(unsigned_part(data)).digest()}
    info = signed_data["signer_infos"][0]
    info["signed_attrs"] = [a if a["type"].native != "message_digest" else {
        "type": "message_digest", "values": [hashlib.sha256(content.contents).digest()]}
        for a in info["signed_attrs"]]
    signed = b"\x31" + info["signed_attrs"].dump()[1:]
    info["signature"] = subprocess.run(["openssl", "dgst", "-sha256", "-sign", key], input=signed,
                                       capture_output=True, check=True).stdout


def with_signature_changed(kind, source, target, key=None):
    data = Path(source).read_bytes()
    with tempfile.TemporaryDirectory() as folder:
        signature, unsigned, changed = (f"{folder}/{name}" for name in ("signature.pem", "unsigned.exe", "changed.pem"))
        # As PEM: osslsigncode 2.5 writes more than the signature without -pem.
        subprocess.run(["osslsigncode", "extract-signature", "-pem", "-in", source, "-out", signature], check=True,
                       capture_output=True)
        subprocess.run(["osslsigncode", "remove-signature", "-in", source, "-out", unsigned], check=True, capture_output=True)
        signature_info = AuthenticodeSignature.load(pem.unarmor(Path(signature).read_bytes())[2])
        signed_data = signature_info["content"]
        if kind == "field":
            # DigestAlgorithm itself would only take NULL parameters.
            loose = core.Sequence(contents=core.ObjectIdentifier("2.16.840.1.101.3.4.2.1").dump() +
                                  core.OctetString(PAYLOAD).dump())
            signed_data["digest_algorithms"] = [*signed_data["digest_algorithms"],
                                                algos.DigestAlgorithm.load(loose.dump())]
        elif kind == "token":
            token = signed_data["signer_infos"][0]["unsigned_attrs"][0]["values"][0]["content"]
            token["signer_infos"][0]["unsigned_attrs"] = [
                cms.CMSAttribute({"type": "1.2.3.4", "values": [core.OctetString(PAYLOAD)]})]
        else:
            sign_again(signed_data, data, key)
        Path(changed).write_bytes(pem.armor("PKCS7", signature_info.dump()))
        # It attaches what it cannot verify against this machine's roots too, and says so.
        subprocess.run(["osslsigncode", "attach-signature", "-sigin", changed, "-in", unsigned, "-out", target],
                       capture_output=True)
        Path(target).stat()


def tamper_zip(kind, source, target):
    with zipfile.ZipFile(source) as release:
        contents = [(name, release.read(name)) for name in release.namelist()]
        entry = release.getinfo("halvorn.exe")
    if kind == "deflate":
        data = bytearray(Path(source).read_bytes())
        # Its data follows its local header: 30 bytes, then its name and extra field.
        data[entry.header_offset + 30 + len(entry.filename) + len(entry.extra)] |= 0b110  # block type 3
        Path(target).write_bytes(data)
        return
    if kind.startswith("zip:"):
        with open(target, "wb") as out:
            write_zip(out, [(name, Path(kind[4:]).read_bytes() if name == "halvorn.exe" else content)
                            for name, content in contents])
        return
    # Readers go by the central directory, written from these records as the zip closes.
    with zipfile.ZipFile(target, "w", zipfile.ZIP_DEFLATED) as out:
        for name, content in contents:
            out.writestr(name, content)
            if name == "halvorn.exe" and kind == "method":
                out.filelist[-1].compress_type = 99
            elif name == "halvorn.exe":
                out.filelist[-1].flag_bits |= 1


kind, source, target, *key = sys.argv[1:]
if kind.startswith("zip:") or kind in ("method", "encrypted", "deflate"):
    tamper_zip(kind, source, target)
elif kind in ("field", "token", "md5"):
    with_signature_changed(kind, source, target, *key)
else:
    Path(target).write_bytes(tamper(kind, bytearray(Path(source).read_bytes())))
