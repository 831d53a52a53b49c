"""What verify-release says of one downloaded program or zip: `identical`, `identical apart
from its signature` with what the tools checked of that signature, or Differs and why."""
import filecmp
import hashlib
import io
import json
import lzma
import struct
import zipfile
import zlib
from typing import NamedTuple

from asn1crypto import pem

from . import layout, tools
from .archive import write_zip
from .command import escaped
from .authenticode import AuthenticodeSignature, unsigned_part
from .reasons import Differs, Reason
from .signature import READING_FAILURES, at, first_difference, rebuilt_signature, unreadable_field

# What a signature may add to a program: room for any chain of certificates and a timestamp.
SIGNATURE_ROOM = 1 << 20
IN_ZIP = {program.in_zip for program in layout.PROGRAMS}
# What zipfile and its decompressors raise on a zip they cannot read: a broken or
# unsupported structure, method, encryption or stream.
ZIP_READING_FAILURES = (zipfile.BadZipFile, zipfile.LargeZipFile, NotImplementedError, RuntimeError, EOFError,
                        OSError, ValueError, struct.error, zlib.error, lzma.LZMAError)


class Run(NamedTuple):
    """Where a run keeps its files, and the roots it trusts."""
    scratch: tools.Scratch
    trust: object  # signature.Trust


class Words(NamedTuple):
    """What a verdict line says of a signed program, phrase by phrase, the subject last."""
    signer: str
    chain: str
    timestamp: str
    program: str
    subject: str

    def __str__(self):
        return ", ".join(self)


def quoted(text):
    """`text` in quotes, escaped: it cannot end a quote of ours early."""
    return json.dumps(text)


def fingerprint(certificate):
    digest = hashlib.sha256(certificate.dump()).hexdigest().upper()
    return ":".join(digest[i:i + 2] for i in range(0, 64, 2))


def program_words(opus):
    """The program name and URL that the signer chose, which Windows shows."""
    name, link = at(opus, "program_name"), at(opus, "more_info")
    said = f"program name {quoted(name.native)}" if name is not None and name.native is not None else "no program name"
    if link is not None and link.native is not None and link.name in ("url", "file"):
        said += f" and {'URL' if link.name == 'url' else 'file'} {quoted(link.native)}"
    return said


def checked_by_the_tools(run, signed):
    """The words of a signature whose form is what signing makes, once the tools have
    checked what the rebuild cannot: the signature value, the timestamp, the chain."""
    scratch, trust = run
    signer = signed.path[0]
    if not tools.is_signature_of(scratch, signer, signed.digest, signed.signature, signed.signed_attrs):
        raise Differs(Reason.WRONG_SIGNATURE_VALUE)
    timestamp, at_time = "not timestamped", None
    if signed.token:
        stamped = signed.token["content"]["encap_content_info"]["content"].parsed["gen_time"].native
        # Certificates count as they were when the timestamp was made, as Windows counts them.
        at_time = int(stamped.timestamp())
        if not tools.is_timestamp_of(scratch, signed.token.dump(), signed.signature, trust.roots, at_time):
            raise Differs(Reason.UNTRUSTED_TIMESTAMP)
        timestamp = f"timestamped {stamped:%Y-%m-%d %H:%M:%S} UTC by {quoted(signed.tsa_path[0].subject.human_friendly)}"
    chains = signed.trusted and tools.is_trusted_chain(scratch, signed.path, trust.roots, at_time)
    return Words(f"signed with certificate SHA-256 {fingerprint(signer)}",
                 f"which {'chains' if chains else 'does not chain'} to a root this machine trusts",
                 timestamp, program_words(signed.opus), f"subject {quoted(signer.subject.human_friendly)}")


def signature_words(run, data, signature):
    """The words of the signature of a program that is a rebuilt one with `signature`
    attached; Differs where the signature is not what signing makes."""
    unsigned = unsigned_part(data)
    try:
        der = pem.unarmor(signature)[2]
        AuthenticodeSignature.load(der)
    except READING_FAILURES as error:
        raise Differs(Reason.UNREADABLE, detail=escaped(str(error).splitlines()[0])) from None
    try:
        ours, signed = rebuilt_signature(run.scratch, AuthenticodeSignature.load(der),
                                         lambda digest: hashlib.new(digest, unsigned).digest(), run.trust)
    except READING_FAILURES:
        # Only bytes of the download that do not read as their field make it differ.
        where = unreadable_field(AuthenticodeSignature.load(der)["content"], "SignedData")
        if where is None:
            raise
        raise Differs(Reason.NOT_MADE_BY_SIGNING, field=where) from None
    # Both as read from their bytes, whose encodings asn1crypto then keeps: building a
    # value marks it, and what it was built from, as changed, to be encoded again at each
    # field compared.
    where = first_difference(AuthenticodeSignature.load(ours.dump())["content"],
                             AuthenticodeSignature.load(der)["content"], "SignedData")
    if where:
        raise Differs(Reason.NOT_MADE_BY_SIGNING, field=where)
    return checked_by_the_tools(run, signed)


def program_verdict(run, data, rebuilt):
    """(verdict, name of the rebuilt program it matched, Words or None) of the program
    `data`; Differs when it is not a rebuilt program, signed or not."""
    if len(data) > max(map(len, rebuilt.values())) + SIGNATURE_ROOM:
        raise Differs(Reason.PROGRAM_TOO_LARGE)
    for name, content in rebuilt.items():
        if data == content:
            return "identical", name, None
    signature = tools.extracted_signature(run.scratch, run.scratch.write("download.exe", data))
    if signature is None:
        raise Differs(Reason.UNSIGNED)
    # osslsigncode attaches a signature as signing does; only the file that results counts.
    for name, content in rebuilt.items():
        if tools.with_signature_attached(run.scratch, signature, content) == data:
            return "identical apart from its signature", name, signature_words(run, data, signature)
    raise Differs(Reason.NOT_ATTACHED)


def zip_contents(download, expected):
    """The (name, content) of each entry of the zip `download`, which must hold the entries
    that `expected` names, in that order, each read no further than its expected content
    and, for a program, a signature's room."""
    try:
        with zipfile.ZipFile(download) as theirs:
            if theirs.namelist() != [name for name, _ in expected]:
                raise Differs(Reason.ZIP_OTHER_FILES)
            contents = []
            for name, content in expected:
                room = len(content) + (SIGNATURE_ROOM if name in IN_ZIP else 0)
                with theirs.open(name) as stream:
                    read = stream.read(room + 1)
                if len(read) > room:
                    raise Differs(Reason.ENTRY_TOO_LARGE, entry=name)
                contents.append((name, read))
            return contents
    except ZIP_READING_FAILURES as error:
        raise Differs(Reason.ZIP_UNREADABLE, detail=escaped(str(error) or type(error).__name__)) from None


def together(words):
    """One program's words, from those of the programs of a zip: each phrase once where
    they all say it, else each program's, named."""
    return Words(*(said[0] if len(set(said)) == 1 else ", ".join(f"{phrase} in {name}" for name, phrase in zip(words, said))
                   for said in zip(*words.values())))


def zip_verdict(run, download, rebuilt_zip):
    """The verdict on a zip: the rebuilt zip, or the rebuilt zip with programs signed by one
    certificate in place of ours, zipped again the same way."""
    if download.stat().st_size > rebuilt_zip.stat().st_size + len(IN_ZIP) * SIGNATURE_ROOM:
        raise Differs(Reason.ZIP_TOO_LARGE)
    if filecmp.cmp(download, rebuilt_zip, shallow=False):
        return "identical", rebuilt_zip.name, None
    with zipfile.ZipFile(rebuilt_zip) as ours:
        expected = [(entry.filename, ours.read(entry)) for entry in ours.infolist()]
    contents = zip_contents(download, expected)
    signers = {}
    for (name, content), (_, rebuilt) in zip(contents, expected):
        if name in IN_ZIP:
            try:
                signers[name] = program_verdict(run, content, {name: rebuilt})[2]
            except Differs as error:
                raise Differs(Reason.PROGRAM_DIFFERS, entry=name, detail=error) from None
        elif content != rebuilt:
            raise Differs(Reason.ENTRY_DIFFERS, entry=name)
    rezipped = io.BytesIO()
    write_zip(rezipped, contents)
    if download.read_bytes() != rezipped.getvalue():
        raise Differs(Reason.ZIP_FRAME)
    if None in signers.values() or len({words.signer for words in signers.values()}) != 1:
        raise Differs(Reason.SIGNERS)
    return "identical apart from its signature", rebuilt_zip.name, together(signers)
