"""Why verify-release calls a downloaded file `differs`: each reason once, with its words."""
import enum


class Reason(enum.Enum):
    # The file around a program's signature.
    PROGRAM_TOO_LARGE = "it is larger than any rebuilt program with a signature"
    UNSIGNED = "it is no rebuilt program, and carries no signature"
    NOT_ATTACHED = "it is not one of the rebuilt programs with one signature attached as signing attaches it"
    # The signature, rebuilt from the parts its signer chooses.
    UNREADABLE = "its signature cannot be read ({detail})"
    NOT_SIGNED_DATA = "its signature is not a PKCS #7 SignedData"
    NO_SIGNER = "its signature holds no signer"
    NO_SIGNER_CERTIFICATE = "its signature lacks the signer's certificate"
    UNTRUSTED_ISSUERS = ("its certificates do not chain to a root this machine trusts, and without that root the"
                         " issuers it carries cannot be told from copies: give the root with --ca-file")
    NOT_SELF_SIGNED = "its certificate names itself as its issuer, but is not signed by its own key"
    NOT_MADE_BY_SIGNING = "its signature is not what signing makes, from {field} on"
    UNKNOWN_VALUE = "its signature holds a value of a kind that signing does not write ({detail})"
    # What the tools check of a signature that has the form signing makes.
    WRONG_SIGNATURE_VALUE = "its signature value does not verify with the signer's key"
    UNTRUSTED_TIMESTAMP = "its timestamp does not verify, or its TSA does not chain to a trusted root"
    # The zip around the programs.
    ZIP_TOO_LARGE = "it is larger than the rebuilt zip could be with two signatures"
    ZIP_UNREADABLE = "it cannot be read as a zip ({detail})"
    ZIP_OTHER_FILES = "it holds other files"
    ENTRY_TOO_LARGE = "its {entry} is larger than the rebuilt one could be"
    ENTRY_DIFFERS = "its {entry} differs"
    PROGRAM_DIFFERS = "its {entry} differs: {detail}"
    ZIP_FRAME = "the zip around its programs is not the rebuilt one"
    SIGNERS = "its programs are not both signed, with the same certificate"


class Differs(Exception):
    """A downloaded file that is not what the rebuild and signing make, and why."""

    def __init__(self, reason, **details):
        super().__init__(reason.value.format(**details))
        self.reason = reason
        self.details = details
