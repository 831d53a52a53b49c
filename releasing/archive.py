"""Writes the release zip, the same bytes from the same files whoever runs it and
wherever: a fixed order, date and mode for every entry, and no extra fields. Python's
zipfile rather than cmake -E tar, which records the caller's user and group IDs and a
DOS time in the local time zone.

    python3 -m releasing.archive ZIP FOLDER    puts every file under FOLDER in ZIP, by
                                               its path there, in the order of those paths"""
import sys
import zipfile
from pathlib import Path


def write_zip(archive, contents):
    """contents: (name, bytes) pairs, in the order they go in."""
    with zipfile.ZipFile(archive, "w") as release:
        for name, content in contents:
            entry = zipfile.ZipInfo(name, date_time=(2000, 1, 1, 0, 0, 0))
            entry.create_system = 3  # Unix, so that the mode below is read
            entry.external_attr = (0o100755 if name.endswith(".exe") else 0o100644) << 16
            entry.compress_type = zipfile.ZIP_DEFLATED
            release.writestr(entry, content, compresslevel=9)


if __name__ == "__main__":
    archive, folder = sys.argv[1:]
    files = sorted(path for path in Path(folder).rglob("*") if path.is_file())
    write_zip(archive, [(path.relative_to(folder).as_posix(), path.read_bytes()) for path in files])
