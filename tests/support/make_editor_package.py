#!/usr/bin/python3
"""Makes a stand-in Kestrix editor package for the demo and the end-to-end tests.

The package is a real zip archive laid out like the maker's: one top folder
"lumlum" holding Editor.exe, a Package folder (where the installer writes the
channel file) and filler data of the requested size. Editor.exe is a small
program that records how it was started (see EDITOR below).

Prints one JSON line {"path", "size", "md5"}. A package made before with the
same size is reused: its figures are kept in PACKAGE.json beside it.
"""

import argparse
import hashlib
import json
import os
import random
import zipfile

# Records its arguments in "started.txt" beside itself (or in the file named by
# $KX_EDITOR_RECORD), one block per start, then ends. The record is replaced
# in one rename, so a reader sees a start's block whole or not at all.
EDITOR = r"""#!/bin/sh
# Kestrix editor stand-in: records how it was started.
record=${KX_EDITOR_RECORD:-$(dirname "$0")/started.txt}
next="$record.$$"
{
  [ -f "$record" ] && cat "$record"
  echo "started: $(date '+%Y-%m-%d %H:%M:%S')"
  echo "program: $0"
  echo "folder: $(pwd)"
  echo "arguments: $#"
  for argument in "$@"; do echo "argument: $argument"; done
} > "$next" && mv "$next" "$record"
"""

README = "Kestrix editor (stand-in package made for demonstrations and tests).\n"
CHUNK = 1 << 20


def describe(path):
    digest = hashlib.md5()
    with open(path, "rb") as f:
        for block in iter(lambda: f.read(CHUNK), b""):
            digest.update(block)
    return {"path": os.path.abspath(path), "size": os.path.getsize(path), "md5": digest.hexdigest()}


def entry(name, mode):
    info = zipfile.ZipInfo(name, date_time=(2024, 5, 1, 12, 0, 0))
    info.external_attr = (mode & 0xFFFF) << 16
    info.create_system = 3  # Unix, so that the mode above is read
    return info


def write_package(path, filler_bytes, seed):
    generator = random.Random(seed)
    temporary = path + ".part"
    with zipfile.ZipFile(temporary, "w") as archive:
        archive.writestr(entry("lumlum/", 0o40755), b"")
        archive.writestr(entry("lumlum/Editor.exe", 0o100755), EDITOR, compress_type=zipfile.ZIP_DEFLATED)
        archive.writestr(entry("lumlum/readme.txt", 0o100644), README, compress_type=zipfile.ZIP_DEFLATED)
        archive.writestr(entry("lumlum/Package/", 0o40755), b"")
        # Random data does not compress, so the archive is as large as asked.
        pieces = max(1, min(8, filler_bytes // (32 * CHUNK)))
        for index in range(pieces):
            size = filler_bytes // pieces + (filler_bytes % pieces if index == pieces - 1 else 0)
            info = entry("lumlum/Data/content%d.pak" % index, 0o100644)
            with archive.open(info, "w", force_zip64=size >= 0xFFFFFFFF) as out:
                left = size
                while left:
                    n = min(CHUNK, left)
                    out.write(generator.randbytes(n))
                    left -= n
    os.replace(temporary, path)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("path", help="where the zip goes")
    parser.add_argument("--filler-mib", type=float, default=300, help="size of the filler data in MiB")
    parser.add_argument("--seed", type=int, default=13)
    args = parser.parse_args()

    filler_bytes = int(args.filler_mib * CHUNK)
    figures_path = args.path + ".json"
    wanted = {"filler": filler_bytes, "seed": args.seed, "editor": hashlib.md5(EDITOR.encode()).hexdigest()}
    if os.path.exists(args.path) and os.path.exists(figures_path):
        with open(figures_path) as f:
            figures = json.load(f)
        if figures.get("made_with") == wanted and figures.get("size") == os.path.getsize(args.path):
            print(json.dumps({k: figures[k] for k in ("path", "size", "md5")}))
            return

    os.makedirs(os.path.dirname(os.path.abspath(args.path)), exist_ok=True)
    write_package(args.path, filler_bytes, args.seed)
    figures = describe(args.path)
    with open(figures_path, "w") as f:
        json.dump({**figures, "made_with": wanted}, f)
    print(json.dumps(figures))


if __name__ == "__main__":
    main()
