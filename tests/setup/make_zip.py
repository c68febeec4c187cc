"""Builds a zip archive for the extraction tests.

usage: make_zip.py ARCHIVE SPEC_JSON

SPEC_JSON is a list of entries, or an object {"entries": [...], "gap": n,
"prefix": n, "count": n}: "gap" puts n bytes between entries (the directory
points past them), "prefix" puts n bytes in front of the archive, as a
self-extractor's program sits there (the offsets are left as they were), and
"count" overwrites the end record's 16-bit entry counts.

An entry is {"name": text, "data": text, "dir": bool, "mode": unix mode,
"symlink": target, "raw_name": hex bytes stored without the UTF-8 flag,
"unicode_path": text for an Info-ZIP Unicode Path field ("unicode_crc":
false gives it a CRC that does not match the stored name), "repeat": how
many times "data" is written, "deflate": bool,
"date_time": [y, m, d, H, M, S]}.

Prints, as JSON, the archive offset at which each entry's data ends, in
archive order.
"""
import json
import struct
import sys
import zipfile
import zlib

CENTRAL = b"PK\x01\x02"
END = b"PK\x05\x06"


def build(archive, entries):
    patches = []
    with zipfile.ZipFile(archive, "w") as z:
        for n, e in enumerate(entries):
            name = e.get("name", "")
            raw = None
            if "raw_name" in e:
                raw = bytes.fromhex(e["raw_name"])
                name = ("%03d" % n) + "Q" * (len(raw) - 3)
                patches.append((name.encode("ascii"), raw))
            if e.get("dir") and not name.endswith("/"):
                name += "/"
            info = zipfile.ZipInfo(name, tuple(e.get("date_time", (2020, 1, 2, 3, 4, 6))))
            info.create_system = 3
            if "unicode_path" in e:
                crc = zlib.crc32(raw if raw is not None else name.encode("utf-8"))
                if not e.get("unicode_crc", True):
                    crc ^= 1
                utf8 = e["unicode_path"].encode("utf-8")
                info.extra = struct.pack("<HHBI", 0x7075, 5 + len(utf8), 1, crc) + utf8
            data = e.get("data", "").encode("utf-8") * e.get("repeat", 1)
            if "symlink" in e:
                info.external_attr = (0o120777 << 16)
                data = e["symlink"].encode("utf-8")
            elif e.get("dir"):
                info.external_attr = (0o40755 << 16) | 0x10
            else:
                info.external_attr = (e.get("mode", 0o100644)) << 16
            info.compress_type = zipfile.ZIP_DEFLATED if e.get("deflate") else zipfile.ZIP_STORED
            z.writestr(info, data)
    content = open(archive, "rb").read()
    for placeholder, raw in patches:
        assert content.count(placeholder) == 2
        content = content.replace(placeholder, raw)
    return content


def directory_records(content):
    """(position of the directory, [(position, length) of each record], position of the end record)."""
    end = content.rindex(END)
    size, offset = struct.unpack("<II", content[end + 12:end + 20])
    records, at = [], offset
    while at < offset + size:
        assert content[at:at + 4] == CENTRAL
        n, x, c = struct.unpack("<HHH", content[at + 28:at + 34])
        records.append((at, 46 + n + x + c))
        at += 46 + n + x + c
    return offset, records, end


def with_gaps(content, gap):
    """The same archive with `gap` bytes after every entry, its offsets moved to match."""
    offset, records, end = directory_records(content)
    starts = sorted(struct.unpack("<I", content[r + 42:r + 46])[0] for r, _ in records) + [offset]
    moved, body = {}, b""
    for start, stop in zip(starts, starts[1:]):
        moved[start] = len(body)
        body += content[start:stop] + b"\xA5" * gap
    directory = b""
    for r, length in records:
        record = bytearray(content[r:r + length])
        record[42:46] = struct.pack("<I", moved[struct.unpack("<I", record[42:46])[0]])
        directory += record
    tail = bytearray(content[end:])
    tail[16:20] = struct.pack("<I", len(body))
    return body + directory + bytes(tail)


def main():
    archive, layout = sys.argv[1], json.loads(sys.argv[2])
    if isinstance(layout, list):
        layout = {"entries": layout}
    content = build(archive, layout["entries"])
    if layout.get("gap"):
        content = with_gaps(content, layout["gap"])
    if "count" in layout:
        end = content.rindex(END)
        content = content[:end + 8] + struct.pack("<HH", layout["count"], layout["count"]) + content[end + 12:]
    content = b"\x4D\x5A" + b"\0" * (layout.get("prefix", 2) - 2) + content if layout.get("prefix") else content
    open(archive, "wb").write(content)
    with zipfile.ZipFile(archive) as z:  # this writer repeats the extra field in the local header
        ends = [i.header_offset + 30 + len(i.orig_filename.encode("utf-8" if i.flag_bits & 0x800 else "cp437"))
                + len(i.extra) + i.compress_size for i in z.infolist()]
    print(json.dumps(sorted(ends)))


main()
