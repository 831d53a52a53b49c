"""Makes tampered copies of a signed release file, for the release tests:

    make(KIND, IN, OUT, EXTRA=None)

KIND, for a program, its bytes changed: code (the middle byte: code in a program,
compressed data in a zip), checksum (another PE checksum), signature (a byte of the
signature value), stuffed (128 bytes hidden in the certificate table, its lengths grown
to match, as in CVE-2013-3900).
Its signature changed with asn1crypto, without the signer's key, and attached again as
osslsigncode attaches one: field (a second digest algorithm whose parameters carry the
payload), token (an unsigned attribute in the timestamp), copies and tsa-copies (a copy
of the root EXTRA, its name and key, issued by an attacker's root, and that root, each
with the payload, among the signer's or the timestamp's certificates), grown (the
intermediate's signature value longer by the payload), fake-ca (the intermediate in
another key's name), nonce (a timestamp of the signature value that HALVORN_TEST_TSA's
authority "tsa" made for a request whose nonce is the payload), ber-tsa (the timestamp's
signed message digest as a constructed OCTET STRING).
With the signer's key EXTRA, signed again: md5 (the file's digest in MD5, which a SHA-256
signer cannot mean), opus-twice (the opus info with a second value).
For a zip, rezipped as a release is: zip:ENTRY=FILE (ENTRY replaced by FILE), extra (one
more file), comment (an archive comment); its halvorn.exe with an unknown compression
method (method), flagged as LZMA that it is not (lzma), flagged as encrypted (encrypted),
or compressed in a block of a type deflate does not have (deflate); a zip64 locator
claiming two disks (disks); the payload of a signature twice over appended (padded)."""
import hashlib
import os
import struct
import subprocess
import tempfile
import urllib.request
import zipfile
from datetime import datetime, timezone
from pathlib import Path

import pefile
from asn1crypto import algos, cms, core, keys, pem, tsp, x509

from releasing.archive import write_zip
from releasing.authenticode import AuthenticodeSignature, unsigned_part

PAYLOAD = b"\xAA" * 315


def tamper(kind, data):
    if kind == "code":
        data[len(data) // 2] ^= 1
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


def openssl(*arguments, data=None):
    return subprocess.run(["openssl", *arguments], input=data, capture_output=True, check=True).stdout


def signed(signed_attrs, key):
    """The signature value of `signed_attrs` with `key`, as signing makes it: over their DER, a SET."""
    return openssl("dgst", "-sha256", "-sign", key, data=b"\x31" + signed_attrs.dump()[1:])


def attacker_certificate(folder, subject, issuer, public_key=None, key=None):
    """A CA certificate carrying the payload, signed with `key` (made anew where none is
    given), holding `public_key` (that key's where none is given); and that key."""
    if key is None:
        key = f"{folder}/attacker-{len(os.listdir(folder))}.pem"
        openssl("genpkey", "-algorithm", "RSA", "-out", key)
    if public_key is None:
        public_key = keys.PublicKeyInfo.load(openssl("pkey", "-in", key, "-pubout", "-outform", "DER"))
    algorithm = {"algorithm": "sha256_rsa", "parameters": core.Null()}
    tbs = x509.TbsCertificate({
        "version": "v3", "serial_number": int.from_bytes(os.urandom(15), "big"), "signature": algorithm,
        "issuer": issuer, "subject": subject, "subject_public_key_info": public_key,
        "validity": {"not_before": x509.Time(name="utc_time", value=datetime(2020, 1, 1, tzinfo=timezone.utc)),
                     "not_after": x509.Time(name="utc_time", value=datetime(2040, 1, 1, tzinfo=timezone.utc))},
        "extensions": [{"extn_id": "basic_constraints", "critical": True, "extn_value": {"ca": True}},
                       {"extn_id": "1.3.6.1.4.1.99999.2", "extn_value": PAYLOAD}]})
    signature = openssl("dgst", "-sha256", "-sign", key, data=tbs.dump())
    return x509.Certificate({"tbs_certificate": tbs, "signature_algorithm": algorithm, "signature_value": signature}), key


def with_copies(folder, certificates, root):
    """`certificates` and a copy of `root`, its name and key, issued by an attacker's own root, and that root."""
    name = x509.Name.build({"common_name": "Attacker Root"})
    attacker, key = attacker_certificate(folder, name, name)
    copy, _ = attacker_certificate(folder, root.subject, name, root.public_key, key)
    return [*certificates, *(cms.CertificateChoices(name="certificate", value=c) for c in (attacker, copy))]


def timestamp_with_nonce(signature):
    """A token that the tests' authority "tsa" makes of `signature` for a request whose nonce is the payload."""
    request = tsp.TimeStampReq({"version": "v1", "cert_req": True, "nonce": int.from_bytes(PAYLOAD, "big"),
                                "message_imprint": {"hash_algorithm": {"algorithm": "sha256", "parameters": core.Null()},
                                                    "hashed_message": hashlib.sha256(signature).digest()}})
    asked = urllib.request.Request(os.environ["HALVORN_TEST_TSA"] + "tsa", data=request.dump(),
                                   headers={"Content-Type": "application/timestamp-query"})
    with urllib.request.urlopen(asked) as reply:
        return tsp.TimeStampResp.load(reply.read())["time_stamp_token"]


def change(kind, signed_data, data, folder, extra):
    info = signed_data["signer_infos"][0]
    token = info["unsigned_attrs"][0]["values"][0]["content"] if info["unsigned_attrs"] else None
    certificates = [c.chosen for c in signed_data["certificates"]]
    intermediate = next((c for c in certificates if c.ca), None)
    if kind == "field":
        # DigestAlgorithm itself would only take NULL parameters.
        loose = core.Sequence(contents=core.ObjectIdentifier("2.16.840.1.101.3.4.2.1").dump() +
                              core.OctetString(PAYLOAD).dump())
        signed_data["digest_algorithms"] = [*signed_data["digest_algorithms"], algos.DigestAlgorithm.load(loose.dump())]
    elif kind == "token":
        token["signer_infos"][0]["unsigned_attrs"] = [cms.CMSAttribute({"type": "1.2.3.4", "values": [core.OctetString(PAYLOAD)]})]
    elif kind in ("copies", "tsa-copies"):
        root = x509.Certificate.load(pem.unarmor(Path(extra).read_bytes())[2])
        holder = signed_data if kind == "copies" else token
        holder["certificates"] = with_copies(folder, holder["certificates"], root)
    elif kind in ("grown", "fake-ca"):
        if kind == "grown":
            forged = x509.Certificate({**{name: intermediate[name] for name in ("tbs_certificate", "signature_algorithm")},
                                       "signature_value": intermediate["signature_value"].native + PAYLOAD})
        else:
            forged, _ = attacker_certificate(folder, intermediate.subject, intermediate.issuer)
        signed_data["certificates"] = [forged if c is intermediate else c for c in certificates]
    elif kind == "nonce":
        info["unsigned_attrs"] = [{"type": "microsoft_time_stamp_token", "values": [timestamp_with_nonce(info["signature"].native)]}]
    elif kind == "ber-tsa":
        for attribute in token["signer_infos"][0]["signed_attrs"]:
            if attribute["type"].native == "message_digest":
                digest = attribute["values"][0].native
                # asn1crypto reads no constructed OCTET STRING, so it is written as it stands.
                attribute["values"] = type(attribute["values"])(
                    contents=bytes([0x24, len(digest) + 2, 0x04, len(digest)]) + digest)
    elif kind == "md5":
        content = signed_data["encap_content_info"]["content"]
        content["message_digest"] = {"digest_algorithm": {"algorithm": "md5", "parameters": core.Null()},
                                     "digest": hashlib.md5(unsigned_part(data)).digest()}
        info["signed_attrs"] = [a if a["type"].native != "message_digest" else {
            "type": "message_digest", "values": [hashlib.sha256(content.contents).digest()]} for a in info["signed_attrs"]]
        info["signature"] = signed(info["signed_attrs"], extra)
    elif kind == "opus-twice":
        info["signed_attrs"] = [a if a["type"].native != "spc_sp_opus_info" else {
            "type": "spc_sp_opus_info", "values": [a["values"][0]] * 2} for a in info["signed_attrs"]]
        info["signature"] = signed(info["signed_attrs"], extra)


def with_signature_changed(kind, source, target, extra):
    data = Path(source).read_bytes()
    with tempfile.TemporaryDirectory() as folder:
        signature, unsigned, changed = (f"{folder}/{name}" for name in ("signature.pem", "unsigned.exe", "changed.pem"))
        # As PEM: osslsigncode 2.5 writes more than the signature without -pem.
        subprocess.run(["osslsigncode", "extract-signature", "-pem", "-in", source, "-out", signature], check=True,
                       capture_output=True)
        subprocess.run(["osslsigncode", "remove-signature", "-in", source, "-out", unsigned], check=True, capture_output=True)
        signature_info = AuthenticodeSignature.load(pem.unarmor(Path(signature).read_bytes())[2])
        change(kind, signature_info["content"], data, folder, extra)
        Path(changed).write_bytes(pem.armor("PKCS7", signature_info.dump()))
        # It attaches what it cannot verify against this machine's roots too, and says so.
        subprocess.run(["osslsigncode", "attach-signature", "-sigin", changed, "-in", unsigned, "-out", target],
                       capture_output=True)
        Path(target).stat()


def tamper_zip(kind, source, target):
    data = Path(source).read_bytes()
    with zipfile.ZipFile(source) as release:
        contents = [(name, release.read(name)) for name in release.namelist()]
        entry = release.getinfo("halvorn.exe")
    if kind == "deflate":
        data = bytearray(data)
        # Its data follows its local header: 30 bytes, then its name and extra field.
        data[entry.header_offset + 30 + len(entry.filename) + len(entry.extra)] |= 0b110  # block type 3
    elif kind == "disks":
        end = data.rindex(b"PK\x05\x06")
        data = data[:end] + struct.pack("<IIQI", 0x07064B50, 0, 0, 2) + data[end:]
    elif kind == "padded":
        data += PAYLOAD * (2 * (1 << 20) // len(PAYLOAD) + 1)
    if kind in ("deflate", "disks", "padded"):
        Path(target).write_bytes(data)
        return
    if kind in ("method", "lzma", "encrypted"):
        # Readers go by the central directory, written from these records as the zip closes.
        with zipfile.ZipFile(target, "w", zipfile.ZIP_LZMA if kind == "lzma" else zipfile.ZIP_DEFLATED) as out:
            for name, content in contents:
                out.writestr(name, content)
                if name == "halvorn.exe" and kind == "encrypted":
                    out.filelist[-1].flag_bits |= 1
                elif name == "halvorn.exe" and kind == "method":
                    out.filelist[-1].compress_type = 99
        if kind == "lzma":
            data = bytearray(Path(target).read_bytes())
            # Past the local header and LZMA's own: its stream, garbled.
            start = 30 + len("halvorn.exe") + 9 + 16
            data[start:start + 64] = bytes(64)
            Path(target).write_bytes(data)
        return
    if kind.startswith("zip:"):
        name, program = kind[4:].split("=")
        contents = [(entry, Path(program).read_bytes() if entry == name else content) for entry, content in contents]
    with open(target, "wb") as out:
        write_zip(out, contents + ([("extra.txt", PAYLOAD)] if kind == "extra" else []))
    if kind == "comment":
        with zipfile.ZipFile(target, "a") as out:
            out.comment = PAYLOAD


def make(kind, source, target, extra=None):
    if kind.startswith("zip:") or kind in ("method", "lzma", "encrypted", "deflate", "extra", "comment", "disks",
                                           "padded"):
        tamper_zip(kind, source, target)
    elif kind in ("code", "checksum", "signature", "stuffed"):
        Path(target).write_bytes(tamper(kind, bytearray(Path(source).read_bytes())))
    else:
        with_signature_changed(kind, source, target, extra)
