"""The rule by which verify-release accepts an Authenticode signature: every byte of it is
rebuilt here, or signed by the signer, or vouched for by a root that the user trusts.
Nothing else. RULE below is that rule, part by part, and docs/verifying.md shows it as
it stands (python3 -m releasing.signature prints it; the lint compares the two).

A timestamp proves only when the TSA saw the signature value: one that a third party
added, replaced or removed cannot be told from the signer's."""
import hashlib
import sys
from typing import NamedTuple

from asn1crypto import algos, cms, core, tsp, x509

from . import tools
from .reasons import Differs, Reason
from .authenticode import SpcIndirectDataContent, SpcLink, SpcPeImageData, SpcString, AuthenticodeSignature

# Each as asn1crypto names it, and in words.
# The digest algorithms of a signature, and of a timestamp's imprint; the first where none is.
DIGESTS = {"sha256": "SHA-256", "sha384": "SHA-384", "sha512": "SHA-512"}
FIRST_DIGEST = "sha256"
# The signed attributes that signing tools write, besides content type and message digest.
SIGNER_ATTRIBUTES = {"signing_time": "signing time", "spc_sp_opus_info": "opus info (program name and URL)",
                     "spc_statement_type": "statement type"}
# What a TSA signs besides content type and message digest: the signing time, its
# certificate (RFC 3161's ESS, RFC 5816's v2) and the algorithms it used (RFC 6211).
TSA_ATTRIBUTES = {"signing_time": "signing time", "signing_certificate": "ESS signing certificate",
                  "signing_certificate_v2": "ESS signing certificate v2",
                  "cms_algorithm_protection": "algorithm protection"}
# The fields of a TSTInfo that the TSA chooses and signs.
TSA_FIELDS = {"policy": "policy", "serial_number": "serial number", "gen_time": "time", "accuracy": "accuracy",
              "ordering": "ordering", "tsa": "TSA name", "extensions": "extensions"}
# osslsigncode 2.9 asks for a timestamp with a nonce of 64 random bits; 2.5 with none.
NONCE_BITS = 64
# The PE image data as osslsigncode writes it: 2.9 sets the flag for resources, 2.5 none.
PE_IMAGE_DATA = [SpcPeImageData({"flags": flags, "file": SpcLink(
    name="file", value=SpcString(name="unicode", value="<<<Obsolete>>>"))}) for flags in ({"include_resources"}, set())]


class Part(NamedTuple):
    part: str  # of the signature
    taken: str  # from the download, and in which forms
    vouched_by: str  # who answers for those bytes


def names(words):
    return ", ".join(words.values())


# Every part of a signature that its signer, or the TSA it asked, chooses; the rest is rebuilt.
RULE = (
    Part("the signer's certificate", "as it is", "its SHA-256 fingerprint, which the line prints"),
    Part("the signer's issuers", "exactly the path that openssl verify checks to a root this machine or --ca-file "
         "trusts, with or without the root; where there is none, no issuer at all", "that root"),
    Part("the signed attributes besides content type and message digest",
         f"{names(SIGNER_ATTRIBUTES)}: each once, with one value, as DER", "the signer's signature"),
    Part("the signature value", "as it is", "the signer's key (openssl dgst -verify)"),
    Part("the RFC 3161 timestamp", "at most one", "its TSA, below"),
    Part("the timestamp's TSA fields", f"{names(TSA_FIELDS)}: as DER", "the TSA's signature"),
    Part("the timestamp's nonce", f"as osslsigncode asks for one: none (2.5), or under 2^{NONCE_BITS} (2.9)",
         "nobody: the requester chooses it"),
    Part("the timestamp's imprint", f"its hash algorithm, {names(DIGESTS)}, with its parameters NULL or absent; "
         "the hash rebuilt from the signature value", "the TSA's signature"),
    Part("the TSA's signed attributes besides content type and message digest",
         f"{names(TSA_ATTRIBUTES)}: each once, with one value, as DER", "the TSA's signature"),
    Part("the TSA's certificate and its issuers", "as the signer's, and they must reach a trusted root", "that root"),
    Part("the TSA's signature value", "as it is", "the TSA's key (openssl ts -verify)"),
    Part("the digest algorithms", f"{names(DIGESTS)}, the same throughout a SignedData, its parameters NULL or "
         "absent", "the signer's, or the TSA's, signature"),
    Part("the certificates' order", "DER's, as osslsigncode writes them, or the chain's either way, as openssl ts "
         "-reply writes a TSA's", "(the same certificates)"),
    Part("the PE image data", "as osslsigncode 2.9 writes it (resources flagged) or 2.5 (no flag)",
         "the signer's signature"),
)


def rule_as_markdown():
    """RULE as the table that docs/verifying.md shows."""
    rows = ["| Part | Taken from the download | Vouched for by |", "|---|---|---|"]
    return "\n".join(rows + [f"| {part.part} | {part.taken} | {part.vouched_by} |" for part in RULE]) + "\n"


# Longer paths to a root are not what CAs issue.
MAX_PATH = 6


class Trust(NamedTuple):
    """The roots this run trusts (this machine's and --ca-file's), in one PEM file for
    openssl, and as certificates, found by subject."""
    roots: object  # Path
    by_subject: dict  # subject's hashable form: [certificate]

    def issuers_of(self, certificate):
        return self.by_subject.get(certificate.issuer.hashable, [])

    def holds(self, certificate):
        return any(c.dump() == certificate.dump() for c in self.by_subject.get(certificate.subject.hashable, []))


class Signed(NamedTuple):
    """Who signed a file, and with what, as its rebuilt signature says."""
    path: list  # the signer's certificate, then its issuers up to a trusted root; or it alone
    trusted: bool  # whether the path ends at a trusted root
    digest: str
    signed_attrs: bytes  # as signed: DER, a SET
    signature: bytes
    opus: object  # SpcSpOpusInfo, or None
    token: cms.ContentInfo  # the RFC 3161 timestamp, or None
    tsa_path: list  # the TSA's certificate, then its issuers up to a trusted root


def at(value, *path):
    """value[path[0]][path[1]]…, or None where there is no such field."""
    try:
        for step in path:
            value = value[step]
        return value
    except (KeyError, IndexError, ValueError, TypeError):
        return None


def one_of(theirs, *ways):
    """Of the ways signing tools write a field, the one that `theirs` is, else the first;
    by content, whatever tag each carries where it stands."""
    for way in ways:
        way.dump()
        if theirs is not None and way.contents == theirs.contents:
            return way
    return ways[0]


def algorithm(kind, name, theirs):
    """Algorithm `name`, with NULL parameters or none, as `theirs` has them."""
    with_null = kind({"algorithm": name, "parameters": core.Null()})
    # asn1crypto gives NULL to what it builds of an algorithm that takes it: one without
    # parameters is read from its bytes instead.
    return one_of(theirs, with_null, kind.load(core.Sequence(contents=with_null["algorithm"].dump()).dump()))


def canonical(value):
    """`value` encoded afresh from what it means, as DER: whatever else the encoding held is
    gone. A value of a type that signing does not write differs."""
    if isinstance(value, core.Choice):
        return type(value)(name=value.name, value=canonical(value.chosen))
    if isinstance(value, core.Sequence):
        return type(value)({name: canonical(value[name]) for name, *_ in value._fields
                            if not isinstance(value[name], core.Void)})
    if isinstance(value, (core.SequenceOf, core.SetOf)):
        return type(value)([canonical(child) for child in value])
    if isinstance(value, core.ParsableOctetString):
        return type(value)(bytes(value))
    if isinstance(value, core.Any):
        raise Differs(Reason.UNKNOWN_VALUE, detail=f"tag {value.tag}")
    return type(value)(value.native)


def once_each(attributes, types):
    """Of `types`, each attribute's first instance with its first value, as DER: what
    signing writes, so that a second instance or value makes the file differ."""
    chosen = []
    for name in types:
        found = [a for a in attributes or [] if a["type"].native == name]
        if found:
            chosen.append({"type": name, "values": [canonical(found[0]["values"][0])]})
    return chosen


def named_by(sid, certificates):
    """The certificate that a SignerInfo's IssuerAndSerialNumber names, or None."""
    return next((c for c in certificates if sid.name == "issuer_and_serial_number"
                 and c.issuer == sid.chosen["issuer"] and c.serial_number == sid.chosen["serial_number"].native), None)


def trusted_path(scratch, leaf, carried, trust):
    """The leaf and its issuers up to a root that this run trusts, each signed by the next
    as openssl verify finds; issuers by name, the trusted ones first, then those the
    signature carries; None where no trusted root is reached that way."""
    def paths(path):
        top = path[-1]
        if top.self_issued:
            if trust.holds(top):
                yield path
            return
        if len(path) < MAX_PATH:
            seen = set()
            for issuer in [*trust.issuers_of(top), *(c for c in carried if c.subject == top.issuer)]:
                if issuer.dump() not in seen and all(issuer.subject != c.subject for c in path):
                    seen.add(issuer.dump())
                    yield from paths(path + [issuer])
    return next((path for path in paths([leaf]) if tools.is_chain(scratch, path)), None)


def signer_path(scratch, signer, carried, trust):
    """The signer's path to a trusted root, and whether there is one: else the signer's
    certificate alone, which is then all a signature may carry, and whose self-signature,
    where it names itself as its issuer, must hold."""
    path = trusted_path(scratch, signer, carried, trust)
    if path:
        return path, True
    if len(carried) > 1:
        raise Differs(Reason.UNTRUSTED_ISSUERS)
    if signer.self_issued and not tools.is_chain(scratch, [signer]):
        raise Differs(Reason.NOT_SELF_SIGNED)
    return [signer], False


def certificate_set(path, theirs):
    """The first certificates of the path, as many as `theirs` holds, each as its issuer
    signed it, in an order that signing tools write: sorted as DER sorts a SET OF, or the
    chain's, either way."""
    count = max(1, min(len(theirs or []), len(path)))
    signed = [cms.CertificateChoices(name="certificate", value=x509.Certificate({
        "tbs_certificate": c["tbs_certificate"], "signature_algorithm": c["tbs_certificate"]["signature"],
        "signature_value": canonical(c["signature_value"])})) for c in path[:count]]
    return one_of(theirs, cms.CertificateSet(signed), *(cms.CertificateSet(contents=b"".join(c.dump() for c in order))
                                                        for order in (signed, signed[::-1])))


def signer_info(theirs, signer, digest, signed_attrs, unsigned_attrs=None):
    """A SignerInfo as signing writes it, with the signer's own signature value."""
    rsa = signer.public_key.algorithm == "rsa"
    ways = [f"{digest}_rsa", "rsassa_pkcs1v15"] if rsa else [f"{digest}_ecdsa"]
    signature_algorithm = at(theirs, "signature_algorithm")
    info = {
        "version": "v1",
        "sid": cms.SignerIdentifier(name="issuer_and_serial_number", value={
            "issuer": signer.issuer, "serial_number": signer.serial_number}),
        "digest_algorithm": algorithm(algos.DigestAlgorithm, digest, at(theirs, "digest_algorithm")),
        "signed_attrs": signed_attrs,
        "signature_algorithm": one_of(signature_algorithm, *(
            algorithm(algos.SignedDigestAlgorithm, way, signature_algorithm) for way in ways)),
        "signature": canonical(theirs["signature"]),
    }
    return cms.SignerInfo({**info, "unsigned_attrs": unsigned_attrs} if unsigned_attrs else info)


def signed_data(kind, theirs, path, digest, content_type, content, signer, version="v1"):
    return kind({"content_type": "signed_data", "content": {
        "version": version,
        "digest_algorithms": [algorithm(algos.DigestAlgorithm, digest, at(theirs, "digest_algorithms", 0))],
        "encap_content_info": {"content_type": content_type, "content": content},
        "certificates": certificate_set(path, at(theirs, "certificates")),
        "signer_infos": [signer],
    }})


def parts(theirs):
    """The SignerInfo, the signer's certificate, the certificates and the digest algorithm
    of a SignedData."""
    infos = at(theirs, "signer_infos")
    if at(theirs, "version") is None or not infos:
        raise Differs(Reason.NO_SIGNER)
    certificates = [c.chosen for c in at(theirs, "certificates") or [] if c.name == "certificate"]
    signer = named_by(infos[0]["sid"], certificates)
    if signer is None:
        raise Differs(Reason.NO_SIGNER_CERTIFICATE)
    digest = infos[0]["digest_algorithm"]["algorithm"].native
    return infos[0], signer, certificates, digest if digest in DIGESTS else FIRST_DIGEST


def rebuilt_tst_info(theirs, signature):
    """The TSTInfo that a TSA makes for the request osslsigncode sends about `signature`:
    the TSA's fields as DER, the imprint of `signature`, the nonce only as osslsigncode
    asks for one."""
    hashed = at(theirs, "message_imprint", "hash_algorithm")
    name = at(hashed, "algorithm")
    name = name.native if name is not None and name.native in DIGESTS else FIRST_DIGEST
    fields = {field: canonical(theirs[field]) for field in TSA_FIELDS if not isinstance(theirs[field], core.Void)}
    nonce = at(theirs, "nonce")
    if nonce is not None and not isinstance(nonce, core.Void) and 0 <= nonce.native < 1 << NONCE_BITS:
        fields["nonce"] = nonce.native
    return tsp.TSTInfo({"version": "v1", "message_imprint": {
        "hash_algorithm": algorithm(algos.DigestAlgorithm, name, hashed),
        "hashed_message": hashlib.new(name, signature).digest()}, **fields})


def rebuilt_token(scratch, theirs, signature, trust):
    """An RFC 3161 token as a TSA makes it about `signature`, from the parts the TSA
    chooses, with the TSA's path to a trusted root; and that path."""
    if at(theirs, "content_type") is None or theirs["content_type"].native != "signed_data":
        raise Differs(Reason.UNTRUSTED_TIMESTAMP)
    info, tsa, certificates, digest = parts(theirs["content"])
    path = trusted_path(scratch, tsa, certificates, trust)
    if path is None:
        raise Differs(Reason.UNTRUSTED_TIMESTAMP)
    tst_info = rebuilt_tst_info(theirs["content"]["encap_content_info"]["content"].parsed, signature)
    attributes = cms.CMSAttributes([{"type": "content_type", "values": ["tst_info"]},
                                    {"type": "message_digest", "values": [hashlib.new(digest, tst_info.dump()).digest()]},
                                    *once_each(at(info, "signed_attrs"), TSA_ATTRIBUTES)])
    return signed_data(cms.ContentInfo, theirs["content"], path, digest, "tst_info", tst_info,
                       signer_info(info, tsa, digest, attributes), version="v3"), path


def rebuilt_signature(scratch, signature, file_digest, trust):
    """The signature that signing makes of the file whose Authenticode digest is
    `file_digest(name)`, from the parts of `signature` that its signer chooses; and who
    signed it, with what."""
    if signature["content_type"].native != "signed_data":
        raise Differs(Reason.NOT_SIGNED_DATA)
    theirs = signature["content"]
    info, signer, certificates, digest = parts(theirs)
    path, trusted = signer_path(scratch, signer, certificates, trust)
    their_digest = at(theirs, "encap_content_info", "content", "message_digest", "digest_algorithm")
    content = SpcIndirectDataContent({
        "data": {"type": "1.3.6.1.4.1.311.2.1.15", "value": one_of(
            at(theirs, "encap_content_info", "content", "data", "value"), *PE_IMAGE_DATA)},
        "message_digest": {"digest_algorithm": algorithm(algos.DigestAlgorithm, digest, their_digest),
                           "digest": file_digest(digest)}})
    chosen = once_each(at(info, "signed_attrs"), SIGNER_ATTRIBUTES)
    # Authenticode digests the content without its own tag and length.
    signed_attrs = cms.CMSAttributes([
        {"type": "content_type", "values": ["spc_indirect_data"]},
        {"type": "message_digest", "values": [hashlib.new(digest, content.contents).digest()]}, *chosen])
    tokens = [a["values"][0] for a in at(info, "unsigned_attrs") or [] if a["type"].native == "microsoft_time_stamp_token"]
    value = info["signature"].native
    token, tsa_path = rebuilt_token(scratch, tokens[0], value, trust) if tokens else (None, [])
    ours = signed_data(AuthenticodeSignature, theirs, path, digest, "spc_indirect_data", content, signer_info(
        info, signer, digest, signed_attrs, [{"type": "microsoft_time_stamp_token", "values": [token]}] if token else None))
    opus = next((a["values"][0] for a in chosen if a["type"] == "spc_sp_opus_info"), None)
    return ours, Signed(path, trusted, digest, b"\x31" + signed_attrs.dump()[1:], value, opus, token, tsa_path)


# How asn1crypto says that bytes do not read as the structure it expects.
READING_FAILURES = (ValueError,)


def fields_of(value, path):
    """(field, path) of each field of `value`, read from its bytes as it comes."""
    if isinstance(value, core.ParsableOctetString):
        if value.parsed is not None:
            yield value.parsed, path
    elif isinstance(value, core.Choice):
        yield value.chosen, path
    elif isinstance(value, core.Sequence):
        for name, *_ in value._fields:
            yield value[name], f"{path}.{name}"
    elif isinstance(value, (core.SequenceOf, core.SetOf)):
        for index in range(len(value)):
            yield value[index], f"{path}[{index}]"


def unreadable_field(value, path):
    """The path of the first field of the download's `value` whose bytes do not read as
    that field; None where all do."""
    fields = fields_of(value, path)
    while True:
        try:
            field, field_path = next(fields, (None, None))
            if field is None:
                value.native
                return None
        except READING_FAILURES:
            return path
        found = unreadable_field(field, field_path)
        if found:
            return found


def first_difference(ours, theirs, path):
    """The path of the innermost field where the download's `theirs` is not `ours`, a field
    whose bytes do not read as it among them; None where it is `ours`. Both were read by
    one class, so that they have one structure."""
    if ours.dump() == theirs.dump():
        return None
    if type(ours) is not type(theirs) or isinstance(ours, core.Choice) and ours.name != theirs.name:
        return path
    if isinstance(ours, x509.Certificate) and ours["tbs_certificate"].dump() != theirs["tbs_certificate"].dump():
        return path  # another certificate altogether
    their_fields = fields_of(theirs, path)
    for field, field_path in fields_of(ours, path):
        try:
            theirs_field, _ = next(their_fields, (None, None))
        except READING_FAILURES:
            return field_path
        found = field_path if theirs_field is None else first_difference(field, theirs_field, field_path)
        if found:
            return found
    try:
        extra = next(their_fields, None)
    except READING_FAILURES:
        return path
    return extra[1] if extra else path

if __name__ == "__main__":
    sys.stdout.write(rule_as_markdown())
