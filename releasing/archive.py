"""Writes the release zip, the same bytes from the same files whoever runs it and
wherever: a fixed order, date and mode for every entry, and no extra fields. Python's
zipfile rather than cmake -E tar, which records the caller's user and group IDs and a
DOS time in the local time zone."""
import zipfile


def write_zip(archive, contents):
    """contents: (name, bytes) pairs, in the order they go in."""
    with zipfile.ZipFile(archive, "w") as release:
        for name, content in contents:
            entry = zipfile.ZipInfo(name, date_time=(2000, 1, 1, 0, 0, 0))
            entry.create_system = 3  # Unix, so that the mode below is read
            entry.external_attr = (0o100755 if name.endswith(".exe") else 0o100644) << 16
            entry.compress_type = zipfile.ZIP_DEFLATED
            release.writestr(entry, content, compresslevel=9)

