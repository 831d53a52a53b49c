"""Authenticode's structures, which asn1crypto does not know, as Microsoft's Authenticode
PE format describes them and as signing tools write them; and what of a signed PE file
its signature digests. Read and written with asn1crypto, the file with pefile.

Loading this module teaches asn1crypto's cms the OIDs of Authenticode's content and of
its signed attributes, so that they read as the classes below."""
import pefile
from asn1crypto import algos, cms, core

SPC_INDIRECT_DATA = "1.3.6.1.4.1.311.2.1.4"


class SpcString(core.Choice):
    _alternatives = [("unicode", core.BMPString, {"implicit": 0}), ("ascii", core.IA5String, {"implicit": 1})]


class SpcLink(core.Choice):
    _alternatives = [("url", core.IA5String, {"implicit": 0}), ("moniker", core.Any, {"implicit": 1}),
                     ("file", SpcString, {"explicit": 2})]


class SpcPeImageFlags(core.BitString):
    _map = {0: "include_resources", 1: "include_debug_info", 2: "include_import_address_table"}


class SpcPeImageData(core.Sequence):
    _fields = [("flags", SpcPeImageFlags), ("file", SpcLink, {"explicit": 0, "optional": True})]


class SpcAttributeTypeAndOptionalValue(core.Sequence):
    _fields = [("type", core.ObjectIdentifier), ("value", SpcPeImageData, {"optional": True})]


class DigestInfo(core.Sequence):
    _fields = [("digest_algorithm", algos.DigestAlgorithm), ("digest", core.OctetString)]


class SpcIndirectDataContent(core.Sequence):
    _fields = [("data", SpcAttributeTypeAndOptionalValue), ("message_digest", DigestInfo)]


class SpcSpOpusInfo(core.Sequence):
    _fields = [("program_name", SpcString, {"explicit": 0, "optional": True}),
               ("more_info", SpcLink, {"explicit": 1, "optional": True})]


class SetOfSpcSpOpusInfo(core.SetOf):
    _child_spec = SpcSpOpusInfo


class SpcStatementType(core.SequenceOf):
    _child_spec = core.ObjectIdentifier


class SetOfSpcStatementType(core.SetOf):
    _child_spec = SpcStatementType


class SpcContentInfo(core.Sequence):
    """Authenticode's content, which PKCS #7 holds as it is and CMS in an OCTET STRING."""
    _fields = [("content_type", cms.ContentType), ("content", SpcIndirectDataContent, {"explicit": 0})]


class AuthenticodeSignedData(cms.SignedData):
    _fields = [(field[0], SpcContentInfo) if field[0] == "encap_content_info" else field for field in cms.SignedData._fields]
    _spec_callbacks = None


class AuthenticodeSignature(cms.ContentInfo):
    _oid_specs = {**cms.ContentInfo._oid_specs, "signed_data": AuthenticodeSignedData}


cms.ContentType._map[SPC_INDIRECT_DATA] = "spc_indirect_data"
cms.CMSAttributeType._map.update({"1.3.6.1.4.1.311.2.1.12": "spc_sp_opus_info",
                                  "1.3.6.1.4.1.311.2.1.11": "spc_statement_type"})
cms.CMSAttribute._oid_specs.update(spc_sp_opus_info=SetOfSpcSpOpusInfo, spc_statement_type=SetOfSpcStatementType)


def unsigned_part(data):
    """What Authenticode digests of a signed PE file: all of it but its checksum, the entry
    of its certificate table, and that table, which ends a file that signing made."""
    pe = pefile.PE(data=data, fast_load=True)
    checksum = pe.OPTIONAL_HEADER.get_field_absolute_offset("CheckSum")
    table = pe.OPTIONAL_HEADER.DATA_DIRECTORY[pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_SECURITY"]]
    entry = table.get_field_absolute_offset("VirtualAddress")
    return data[:checksum] + data[checksum + 4:entry] + data[entry + 8:table.VirtualAddress]
