#!/usr/bin/env python3
"""Writes a ZIP file that depends on nothing but the files' names and bytes.

Every entry gets the same time (1980-01-01 00:00, the earliest a ZIP entry
can hold), no extra fields (so no access or creation times, no owner),
permissions from its name alone (.exe and .dll 0755, folders 0755, the rest
0644) and its place in byte order of its path. The folder FOLDER itself
becomes the one top folder of the archive.

Usage: DeterministicZip.py FOLDER OUTPUT.zip
"""
import os
import sys
import zipfile

FIXED_TIME = (1980, 1, 1, 0, 0, 0)
UNIX = 3


def entries(folder):
    top = os.path.basename(os.path.normpath(folder))
    found = [(top + "/", None)]
    for root, directories, files in os.walk(folder):
        relative = os.path.relpath(root, folder)
        prefix = top + "/" + ("" if relative == "." else relative.replace(os.sep, "/") + "/")
        for name in directories:
            found.append((prefix + name + "/", None))
        for name in files:
            found.append((prefix + name, os.path.join(root, name)))
    return sorted(found, key=lambda entry: entry[0].encode("utf-8"))


def write(folder, output):
    temporary = output + ".part"
    with zipfile.ZipFile(temporary, "w") as archive:
        for name, path in entries(folder):
            info = zipfile.ZipInfo(name, date_time=FIXED_TIME)
            info.create_system = UNIX
            if path is None:
                info.external_attr = (0o40755 << 16) | 0x10  # folder, MS-DOS folder flag
                archive.writestr(info, b"")
                continue
            mode = 0o755 if name.lower().endswith((".exe", ".dll")) else 0o644
            info.external_attr = (0o100000 | mode) << 16
            info.compress_type = zipfile.ZIP_DEFLATED
            with open(path, "rb") as stream:
                archive.writestr(info, stream.read(), compress_type=zipfile.ZIP_DEFLATED,
                                 compresslevel=9)
    os.replace(temporary, output)


def main():
    if len(sys.argv) != 3 or not os.path.isdir(sys.argv[1]):
        print(__doc__, file=sys.stderr)
        return 2
    write(sys.argv[1], sys.argv[2])
    return 0


if __name__ == "__main__":
    sys.exit(main())
