"""Checks the built halvorn.exe as Windows will see it: a small 32-bit x86 GUI
program for Windows XP and later, hardened, importing only system DLLs and only
functions that XP has, with its manifest and version resource.

Usage: check_pe.py PROGRAM VERSION XP_IMPORTS MAX_BYTES"""
import os
import sys

import pefile

IMAGE_FILE_MACHINE_I386 = 0x14C
IMAGE_SUBSYSTEM_WINDOWS_GUI = 2
DYNAMIC_BASE, NX_COMPAT, TERMINAL_SERVER_AWARE = 0x0040, 0x0100, 0x8000
SYSTEM_DLLS = {"KERNEL32.DLL", "USER32.DLL", "SHELL32.DLL", "MSVCRT.DLL"}


def main(program, version, xp_imports, max_bytes):
    failures = []

    def check(condition, what):
        print(("ok   " if condition else "FAIL ") + what)
        if not condition:
            failures.append(what)

    size = os.path.getsize(program)
    print(f"size {size} bytes ({size / 1024:.1f} KiB)")
    check(size <= int(max_bytes), f"at most {max_bytes} bytes")

    pe = pefile.PE(program)
    header, optional = pe.FILE_HEADER, pe.OPTIONAL_HEADER
    check(header.Machine == IMAGE_FILE_MACHINE_I386, "machine is i386")
    check(optional.Subsystem == IMAGE_SUBSYSTEM_WINDOWS_GUI, "GUI subsystem, no console")
    check((optional.MajorSubsystemVersion, optional.MinorSubsystemVersion) == (5, 1), "subsystem version 5.01")
    check((optional.MajorOperatingSystemVersion, optional.MinorOperatingSystemVersion) == (5, 1), "OS version 5.01")
    for bit, name in ((DYNAMIC_BASE, "ASLR"), (NX_COMPAT, "DEP"), (TERMINAL_SERVER_AWARE, "terminal-server aware")):
        check(optional.DllCharacteristics & bit, name)
    check(any(s.Name.rstrip(b"\0") == b".reloc" for s in pe.sections), "relocations kept, so ASLR can move it")

    allowed = set()
    with open(xp_imports) as listing:
        for line in listing:
            if line.strip() and not line.startswith("#"):
                dll, function = line.split()
                allowed.add((dll.upper(), function))
    imported = [(entry.dll.decode().upper(), imp.name.decode() if imp.name else f"#{imp.ordinal}")
                for entry in pe.DIRECTORY_ENTRY_IMPORT for imp in entry.imports]
    dlls = {dll for dll, _ in imported}
    check(dlls <= SYSTEM_DLLS, f"imports only from system DLLs: {sorted(dlls)}")
    unknown = sorted(f"{dll} {function}" for dll, function in imported if (dll, function) not in allowed)
    check(not unknown, f"every imported function exists on Windows XP; not known to: {unknown}")

    resources = pe.DIRECTORY_ENTRY_RESOURCE.entries if hasattr(pe, "DIRECTORY_ENTRY_RESOURCE") else []
    manifests = [entry for entry in resources if entry.id == pefile.RESOURCE_TYPE["RT_MANIFEST"]]
    manifest = b""
    if manifests:
        resource = manifests[0].directory.entries[0]
        check(resource.id == 1, "manifest is resource 1, the one the loader reads for a program")
        data = resource.directory.entries[0].data.struct
        manifest = pe.get_data(data.OffsetToData, data.Size)
    check(b'level="asInvoker"' in manifest, "manifest asks for asInvoker")

    strings = {}
    for info in getattr(pe, "FileInfo", []):
        for block in info:
            for table in getattr(block, "StringTable", []):
                strings.update({k.decode(): v.decode() for k, v in table.entries.items()})
    for key in ("FileVersion", "ProductVersion"):
        check(strings.get(key) == version, f"{key} is {version} (found {strings.get(key)!r})")
    check(strings.get("ProductName") == "Halvorn", "ProductName is Halvorn")
    check(strings.get("OriginalFilename") == "halvorn.exe", "OriginalFilename is halvorn.exe")
    fixed = pe.VS_FIXEDFILEINFO[0]
    numbers = [fixed.FileVersionMS >> 16, fixed.FileVersionMS & 0xFFFF, fixed.FileVersionLS >> 16]
    check(".".join(map(str, numbers)) == version, f"fixed file version is {version}")

    if failures:
        print(f"{len(failures)} check(s) failed")
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(*sys.argv[1:]))
