#!/usr/bin/env python3
"""A Windows CE installation cabinet: its setup file (.000) in the platform's format, packed with
the files under their 8.3 names by Debian's gcab.

  make_cab.py OUT.CAB --app Velmora --provider Zilp --processor 586 --min-ce 3.0 \\
      --file 4:%CE2%:Ostrelle.exe:PATH --link 4:Ostrelle.lnk:4 ...

--file NUMBER:DIR:NAME:SOURCE   install SOURCE as DIR\\NAME (DIR's parts split at "\\")
--link CE:NAME:NUMBER           a shortcut %CEn%\\NAME to file NUMBER
--reg ROOT:KEY:NAME:TYPE:VALUE  a registry entry (ROOT HKCR HKCU HKLM HKU; TYPE dword or sz)
--setup-dll FILE                pack FILE as the package's setup library (file 999)
--min-build N                   the oldest CE build it runs on (0: any)
--setup FILE                    pack FILE as the setup file instead of writing one
--setup-out FILE                also keep the setup file written
--leave-out NUMBER              describe file NUMBER but do not pack it
--no-setup                      pack no setup file at all
"""
import argparse
import os
import re
import shutil
import struct
import subprocess
import sys
import tempfile

HEADER_SIZE = 100
ROOTS = {"HKCR": 1, "HKCU": 2, "HKLM": 3, "HKU": 4}
TYPES = {"dword": 0x00010001, "sz": 0x00000000}


class Strings:
    """The STRINGS section: each distinct text once, numbered from 1."""

    def __init__(self):
        self.ids = {}

    def id(self, text):
        return self.ids.setdefault(text, len(self.ids) + 1)

    def path(self, path):  # a path as string IDs, ended by 0
        ids = [self.id(part) for part in path.split("\\") if part]
        return struct.pack("<%dH" % (len(ids) + 1), *ids, 0)

    def section(self):
        out = b""
        for text, number in self.ids.items():
            data = text.encode("ascii") + b"\0"
            out += struct.pack("<HH", number, len(data)) + data
        return out


def setup_file(args):
    strings = Strings()
    dirs = {}  # path -> id
    files = b""
    for number, directory, name, _ in args.file:
        dir_id = dirs.setdefault(directory, len(dirs) + 1)
        data = name.encode("ascii") + b"\0"
        # Flags: do not skip this file.
        files += struct.pack("<HHHIH", number, dir_id, number, 0x2, len(data)) + data
    dir_section = b""
    for path, number in dirs.items():
        ids = strings.path(path)
        dir_section += struct.pack("<HH", number, len(ids)) + ids
    hives = {}  # (root, key) -> id
    keys = b""
    for index, (root, key, name, kind, value) in enumerate(args.reg, 1):
        hive = hives.setdefault((root, key), len(hives) + 1)
        data = name.encode("ascii") + b"\0"
        data += struct.pack("<I", int(value)) if kind == "dword" else value.encode("ascii") + b"\0"
        keys += struct.pack("<HHHIH", index, hive, 0, TYPES[kind], len(data)) + data
    hive_section = b""
    for (root, key), number in hives.items():
        ids = strings.path(key)
        hive_section += struct.pack("<HHHH", number, ROOTS[root], 0, len(ids)) + ids
    links = b""
    for index, (ce, name, target) in enumerate(args.link, 1):
        ids = strings.path(name)
        # A link to a file (type 1), stored in the standard directory %CEn%.
        links += struct.pack("<HHHHHH", index, 0, ce, target, 1, len(ids)) + ids

    app = args.app.encode("ascii") + b"\0"
    provider = args.provider.encode("ascii") + b"\0"
    sections = [app, provider, strings.section(), dir_section, files, hive_section, keys, links]
    offsets = []
    at = HEADER_SIZE
    for section in sections:
        offsets.append(at)
        at += len(section)
    min_major, min_minor = args.min_ce
    max_major, max_minor = args.max_ce or (0, 0)
    header = struct.pack(
        "<4sIIIIIIIIIII6H6I2H2H2H2H",
        b"MSCE", 0, at, 0, 1, args.processor,
        min_major, min_minor, max_major, max_minor, args.min_build, 0,
        len(strings.ids), len(dirs), len(args.file), len(hives), len(args.reg), len(args.link),
        *offsets[2:],
        offsets[0], len(app), offsets[1], len(provider),
        0, 0,  # no UNSUPPORTED platforms
        0, 0)
    assert len(header) == HEADER_SIZE
    return header + b"".join(sections)


def short_name(name, number, taken):
    """The platform's 8.3 name: up to eight characters of the name, padded on the left with
    "0", or six and "~N" for a longer one, then the file's number as the extension."""
    stem = os.path.splitext(name)[0]
    if re.fullmatch(r"[A-Za-z0-9_-]{1,8}", stem):
        base = stem.rjust(8, "0")
    else:
        cleaned = re.sub(r"[^A-Z0-9_-]", "", stem.upper())[:6]
        n = 1
        while "%s~%d" % (cleaned, n) in taken:
            n += 1
        base = "%s~%d" % (cleaned, n)
    taken.add(base)
    return "%s.%03d" % (base, number)


def version(text):
    major, _, minor = text.partition(".")
    return int(major), int(minor or 0)


def file_entry(text):
    # The name may hold a colon (a test's drive letter), the others do not.
    number, directory, rest = text.split(":", 2)
    name, source = rest.rsplit(":", 1)
    return int(number), directory, name, source


def link_entry(text):
    ce, name, target = text.split(":")
    return int(ce), name, int(target)


def reg_entry(text):
    root, key, name, kind, value = text.split(":", 4)
    if root not in ROOTS or kind not in TYPES:
        raise argparse.ArgumentTypeError("bad registry entry " + text)
    return root, key, name, kind, value


def main():
    parser = argparse.ArgumentParser(description="a Windows CE installation cabinet")
    parser.add_argument("out")
    parser.add_argument("--app", required=True)
    parser.add_argument("--provider", required=True)
    parser.add_argument("--processor", type=int, required=True)
    parser.add_argument("--min-ce", type=version, required=True)
    parser.add_argument("--max-ce", type=version)
    parser.add_argument("--file", type=file_entry, action="append", default=[])
    parser.add_argument("--link", type=link_entry, action="append", default=[])
    parser.add_argument("--reg", type=reg_entry, action="append", default=[])
    parser.add_argument("--setup-dll")
    parser.add_argument("--min-build", type=int, default=0)
    parser.add_argument("--setup")
    parser.add_argument("--setup-out")
    parser.add_argument("--leave-out", type=int, action="append", default=[])
    parser.add_argument("--no-setup", action="store_true")
    args = parser.parse_args()

    taken = set()
    with tempfile.TemporaryDirectory() as work:
        packed = []
        if not args.no_setup:
            setup = os.path.join(work, short_name(args.app, 0, taken))
            if args.setup:
                shutil.copyfile(args.setup, setup)
            else:
                with open(setup, "wb") as out:
                    out.write(setup_file(args))
            if args.setup_out:
                shutil.copyfile(setup, args.setup_out)
            packed.append(setup)
        # The setup file first, then the others in descending order of their numbers.
        if args.setup_dll:
            target = os.path.join(work, short_name("setup.dll", 999, taken))
            shutil.copyfile(args.setup_dll, target)
            packed.append(target)
        for number, _, name, source in sorted(args.file, reverse=True):
            if number in args.leave_out:
                continue
            target = os.path.join(work, short_name(name, number, taken))
            shutil.copyfile(source, target)
            packed.append(target)
        tmp = args.out + ".part"
        subprocess.run(["gcab", "--create", "--nopath", tmp] + packed, check=True)
        os.replace(tmp, args.out)


if __name__ == "__main__":
    sys.exit(main())
