"""Checks a built halvorn.exe as Windows will see it: a small GUI program for
Windows XP and later (32-bit x86, or x64), hardened, importing only system DLLs
and only functions that XP has, with its manifest and version resource.

Usage: python3 -m releasing.pe PROGRAM x86|x64 VERSION XP_IMPORTS MAX_BYTES OBJDUMP"""
import os
import re
import subprocess
import sys
import xml.etree.ElementTree as ElementTree

import pefile

MACHINES = {"x86": 0x14C, "x64": 0x8664}
OS_VERSIONS = {"x86": (5, 1), "x64": (5, 2)}  # XP; x64 Windows began with 5.02
IMAGE_SUBSYSTEM_WINDOWS_GUI = 2
HARDENING = {  # DLL characteristics, and the architectures that must have them
    0x0020: ("high-entropy ASLR", {"x64"}),
    0x0040: ("ASLR", {"x86", "x64"}),
    0x0100: ("DEP", {"x86", "x64"}),
    0x0400: ("NO_SEH: no exception handlers registered", {"x86"}),
    0x8000: ("terminal-server aware", {"x86", "x64"}),
}
SCN_MEM_SHARED, SCN_MEM_EXECUTE, SCN_MEM_WRITE = 0x10000000, 0x20000000, 0x80000000
SYSTEM_DLLS = {"KERNEL32.DLL", "USER32.DLL", "SHELL32.DLL", "MSVCRT.DLL"}
MANIFEST_ARCHITECTURES = {"x86": "x86", "x64": "amd64"}
ASM_V1, ASM_V2, ASM_V3 = (f"{{urn:schemas-microsoft-com:asm.v{n}}}" for n in (1, 2, 3))
WINDOWS_SETTINGS = "{http://schemas.microsoft.com/SMI/%s/WindowsSettings}"
# x86 instructions that only read their destination (AT&T syntax: the last operand), and
# the registers a call may change.
READ_ONLY = {"push", "cmp", "test"}
CALL_CLOBBERED = {"%eax", "%ecx", "%edx"}
OPERAND_SEPARATOR = re.compile(r",(?![^(]*\))")  # the commas not inside (%base,%index,scale)
AT_REGISTER = re.compile(r"(?:0x0)?\((%\w+)\)")


def handler_chain_writes(listing):
    """The instructions of an objdump -d listing that write the head of the thread's
    exception handler chain: fs:[0] itself, or offset 0 of the thread's TIB through its
    address read from fs:[0x18] (what NtCurrentTeb()->ExceptionList = ... compiles to),
    while that address is in a register of the same function. An address kept in memory
    and loaded again is not followed."""
    writes, tib = [], set()
    for line in listing.splitlines():
        if line.endswith(">:"):  # a new function
            tib = set()
        fields = line.split("\t")
        if len(fields) < 3 or not fields[2].strip():
            continue
        instruction = fields[2].strip()
        mnemonic, _, operands = instruction.partition(" ")
        operands = OPERAND_SEPARATOR.split(operands.strip())
        written = operands if mnemonic.startswith("xchg") else operands[-1:]
        if mnemonic in READ_ONLY:
            continue
        if mnemonic == "call":
            tib -= CALL_CLOBBERED
            continue
        if any(o == "%fs:0x0" or (m := AT_REGISTER.fullmatch(o)) and m.group(1) in tib for o in written):
            writes.append(instruction)
        elif mnemonic == "mov" and (operands[0] == "%fs:0x18" or operands[0] in tib):
            tib.add(operands[-1])
        else:
            tib -= set(written)
    return writes


def check_manifest(check, manifest, version, architecture):
    """The manifest as Windows XP's strict loader reads it: a program whose manifest it
    rejects does not start at all."""
    try:
        root = ElementTree.fromstring(manifest.decode("utf-8"))
    except (UnicodeDecodeError, ElementTree.ParseError) as error:
        check(False, f"manifest is well-formed UTF-8 XML: {error}")
        return
    check(root.tag == ASM_V1 + "assembly" and root.get("manifestVersion") == "1.0",
          "manifest: root is an asm.v1 assembly, manifestVersion 1.0")
    identity = root[0] if len(root) else None
    check(identity is not None and identity.tag == ASM_V1 + "assemblyIdentity"
          and identity.get("type") == "win32" and identity.get("name")
          and identity.get("version") == version and identity.get("processorArchitecture") == architecture,
          f"manifest: assemblyIdentity first, win32, named, version {version}, architecture {architecture}")
    level = root.find(f"{ASM_V2}trustInfo/{ASM_V2}security/{ASM_V2}requestedPrivileges/{ASM_V2}requestedExecutionLevel")
    check(level is not None and level.get("level") == "asInvoker" and level.get("uiAccess") == "false",
          'manifest: asm.v2 trustInfo asks for asInvoker, uiAccess="false"')
    controls = [d for d in root.findall(f"{ASM_V1}dependency/{ASM_V1}dependentAssembly/{ASM_V1}assemblyIdentity")
                if d.get("name") == "Microsoft.Windows.Common-Controls"]
    check(len(controls) == 1 and controls[0].get("version") == "6.0.0.0"
          and controls[0].get("publicKeyToken") == "6595b64144ccf1df",
          "manifest: depends on Common Controls 6")
    settings = f"{ASM_V3}application/{ASM_V3}windowsSettings/"
    aware = root.find(settings + WINDOWS_SETTINGS % "2005" + "dpiAware")
    awareness = root.find(settings + WINDOWS_SETTINGS % "2016" + "dpiAwareness")
    check(aware is not None and aware.text == "true" and awareness is not None and awareness.text == "PerMonitorV2",
          "manifest: DPI settings in the asm.v3 application element")


def main(program, architecture, version, xp_imports, max_bytes, objdump):
    failures = []

    def check(condition, what):
        print(("ok   " if condition else "FAIL ") + what)
        if not condition:
            failures.append(what)

    size = os.path.getsize(program)
    print(f"{program}: {size} bytes ({size / 1024:.1f} KiB)")
    check(size <= int(max_bytes), f"at most {max_bytes} bytes")

    pe = pefile.PE(program)
    header, optional = pe.FILE_HEADER, pe.OPTIONAL_HEADER
    check(header.Machine == MACHINES[architecture], f"machine is {architecture}")
    check(optional.Subsystem == IMAGE_SUBSYSTEM_WINDOWS_GUI, "GUI subsystem, no console")
    os_version = OS_VERSIONS[architecture]
    check((optional.MajorSubsystemVersion, optional.MinorSubsystemVersion) == os_version,
          "subsystem version %d.%02d" % os_version)
    check((optional.MajorOperatingSystemVersion, optional.MinorOperatingSystemVersion) == os_version,
          "OS version %d.%02d" % os_version)

    for bit, (name, architectures) in HARDENING.items():
        if architecture in architectures:
            check(optional.DllCharacteristics & bit, name)
    check(any(s.Name.rstrip(b"\0") == b".reloc" for s in pe.sections), "relocations kept, so ASLR can move it")
    sections = [(s.Name.rstrip(b"\0").decode(), s.Characteristics) for s in pe.sections]
    both = [name for name, flags in sections if flags & SCN_MEM_WRITE and flags & SCN_MEM_EXECUTE]
    check(not both, f"no section both writable and executable: {both}")
    shared = [name for name, flags in sections if flags & SCN_MEM_WRITE and flags & SCN_MEM_SHARED]
    check(not shared, f"no shared writable section: {shared}")
    if architecture == "x86":
        # NO_SEH promises that nothing registers a handler: no code may write the chain.
        listing = subprocess.run([objdump, "-d", program], check=True, capture_output=True, text=True).stdout
        writes = handler_chain_writes(listing)
        check("section .text" in listing and not writes, f"no code writes the handler chain at fs:[0]: {writes}")

    allowed = set()
    with open(xp_imports) as listing:
        for line in listing:
            if line.strip() and not line.startswith("#"):
                architectures, dll, function = line.split()
                if architecture in architectures.split(","):
                    allowed.add((dll.upper(), function))
    imported = [(entry.dll.decode().upper(), imp.name.decode() if imp.name else f"#{imp.ordinal}")
                for entry in pe.DIRECTORY_ENTRY_IMPORT for imp in entry.imports]
    dlls = {dll for dll, _ in imported}
    check(dlls <= SYSTEM_DLLS, f"imports only from system DLLs: {sorted(dlls)}")
    unknown = sorted(f"{dll} {function}" for dll, function in imported if (dll, function) not in allowed)
    check(not unknown, f"every imported function exists on {architecture} Windows XP; not known to: {unknown}")

    resources = pe.DIRECTORY_ENTRY_RESOURCE.entries if hasattr(pe, "DIRECTORY_ENTRY_RESOURCE") else []
    manifests = [entry for entry in resources if entry.id == pefile.RESOURCE_TYPE["RT_MANIFEST"]]
    manifest = b""
    if manifests:
        resource = manifests[0].directory.entries[0]
        check(resource.id == 1, "manifest is resource 1, the one the loader reads for a program")
        data = resource.directory.entries[0].data.struct
        manifest = pe.get_data(data.OffsetToData, data.Size)
    # Windows' numeric versions hold the three numbers; the strings, the pre-release label too.
    numeric = re.match(r"[0-9]+\.[0-9]+\.[0-9]+", version).group()
    check_manifest(check, manifest, f"{numeric}.0", MANIFEST_ARCHITECTURES[architecture])

    strings = {}
    for info in getattr(pe, "FileInfo", []):
        for block in info:
            for table in getattr(block, "StringTable", []):
                strings.update({k.decode(): v.decode() for k, v in table.entries.items()})
    for key in ("FileVersion", "ProductVersion"):
        check(strings.get(key) == version, f"{key} is {version} (found {strings.get(key)!r})")
    check(strings.get("ProductName") == "Halvorn", "ProductName is Halvorn")
    check(strings.get("OriginalFilename") == "halvorn.exe", "OriginalFilename is halvorn.exe")
    numbers = []
    if hasattr(pe, "VS_FIXEDFILEINFO"):
        fixed = pe.VS_FIXEDFILEINFO[0]
        numbers = [fixed.FileVersionMS >> 16, fixed.FileVersionMS & 0xFFFF, fixed.FileVersionLS >> 16]
    check(".".join(map(str, numbers)) == numeric, f"fixed file version is {numeric}")

    if failures:
        print(f"{len(failures)} check(s) failed")
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(*sys.argv[1:]))
