#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""Packs one folder into a ZIP or a gzipped tarball whose bytes depend only on
the files' names, contents and whether each is executable:

    archive.py OUTPUT.zip|OUTPUT.tar.gz FOLDER

The archive holds FOLDER itself, by its own name, as its one top-level entry.
Entries come in byte order of their paths, each dated SOURCE_DATE_EPOCH,
owned by root (0:0, no names), mode 0755 for folders and executables and 0644
for the rest: what a umask, a clock or a user name would change is left out.
"""
import gzip
import os
import stat
import sys
import tarfile
import time
import zipfile

# ZIP dates are DOS dates, which start in 1980.
ZipEpochMin = 315532800


def Entries(folder):
    """(path in the archive, path on disk) for FOLDER and everything in it."""
    parent = os.path.dirname(os.path.abspath(folder))
    found = []
    for root, dirs, files in os.walk(folder):
        for name in dirs + files:
            if os.path.islink(os.path.join(root, name)):
                raise SystemExit(f"archive.py: {os.path.join(root, name)} is a link; a release holds none")
        for path in [root] + [os.path.join(root, name) for name in files]:
            found.append((os.path.relpath(os.path.abspath(path), parent).replace(os.sep, "/"), path))
    return sorted(found)


def Mode(path):
    mode = os.stat(path).st_mode
    return 0o755 if stat.S_ISDIR(mode) or mode & 0o111 else 0o644


def WriteZip(output, entries, epoch):
    dateTime = time.gmtime(max(epoch, ZipEpochMin))[:6]
    with zipfile.ZipFile(output, "w") as archive:
        for name, path in entries:
            isDir = os.path.isdir(path)
            info = zipfile.ZipInfo(name + "/" if isDir else name, dateTime)
            info.create_system = 3  # Unix, so that unzip applies the modes
            info.external_attr = ((stat.S_IFDIR if isDir else stat.S_IFREG) | Mode(path)) << 16
            if isDir:
                info.external_attr |= 0x10  # MS-DOS directory flag
                archive.writestr(info, b"")
            else:
                info.compress_type = zipfile.ZIP_DEFLATED
                with open(path, "rb") as f:
                    archive.writestr(info, f.read(), compresslevel=9)


def WriteTarGz(output, entries, epoch):
    # gzip's header then holds no file name and no time.
    with open(output, "wb") as raw, gzip.GzipFile(filename="", mode="wb", compresslevel=9, fileobj=raw,
                                                  mtime=0) as compressed, \
            tarfile.open(fileobj=compressed, mode="w", format=tarfile.GNU_FORMAT) as archive:
        for name, path in entries:
            info = archive.gettarinfo(path, arcname=name)
            info.mtime = epoch
            info.mode = Mode(path)
            info.uid = info.gid = 0
            info.uname = info.gname = ""
            if info.isfile():
                with open(path, "rb") as f:
                    archive.addfile(info, f)
            else:
                archive.addfile(info)


def Main(argv):
    if len(argv) != 3 or not os.path.isdir(argv[2]):
        raise SystemExit("usage: archive.py OUTPUT.zip|OUTPUT.tar.gz FOLDER")
    output, folder = argv[1], argv[2]
    epoch = int(os.environ.get("SOURCE_DATE_EPOCH", "") or
                sys.exit("archive.py: SOURCE_DATE_EPOCH is not set; the entries' date comes from it"))
    entries = Entries(folder)
    if output.endswith(".zip"):
        WriteZip(output, entries, epoch)
    elif output.endswith(".tar.gz"):
        WriteTarGz(output, entries, epoch)
    else:
        raise SystemExit(f"archive.py: {output} is neither .zip nor .tar.gz")


if __name__ == "__main__":
    Main(sys.argv)
