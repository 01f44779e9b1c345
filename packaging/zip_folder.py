"""Writes a folder into a zip archive that is the same, byte for byte, every time
it is made from the same files: entries in sorted order, one fixed time for all,
no owners or Unix modes (the archive is for Windows), the best compression.

    zip_folder.py FOLDER ARCHIVE EPOCH_SECONDS
"""
import os
import sys
import time
import zipfile

DIRECTORY_ATTRIBUTE = 0x10  # FILE_ATTRIBUTE_DIRECTORY


def entries(folder):
    """(archive name, path) of every folder and file under folder, sorted by name."""
    found = []
    for parent, dirs, files in os.walk(folder):
        for name in dirs + files:
            path = os.path.join(parent, name)
            relative = os.path.relpath(path, folder).replace(os.sep, "/")
            found.append((relative + "/" if os.path.isdir(path) else relative, path))
    return sorted(found)


def main():
    folder, archive, epoch = sys.argv[1], sys.argv[2], int(sys.argv[3])
    # Zip times are DOS times, which start in 1980.
    stamp = time.gmtime(max(epoch, 315532800))[:6]
    with zipfile.ZipFile(archive, "w") as out:
        for name, path in entries(folder):
            info = zipfile.ZipInfo(name, stamp)
            info.create_system = 0
            if name.endswith("/"):
                info.external_attr = DIRECTORY_ATTRIBUTE
                out.writestr(info, b"")
            else:
                info.compress_type = zipfile.ZIP_DEFLATED
                with open(path, "rb") as f:
                    out.writestr(info, f.read(), compresslevel=9)


if __name__ == "__main__":
    main()
