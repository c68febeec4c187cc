"""Builds a zip archive for the extraction tests.

usage: make_zip.py ARCHIVE ENTRIES_JSON

ENTRIES_JSON is a list of entries: {"name": text, "data": text, "dir": bool,
"mode": unix mode, "symlink": target, "raw_name": hex bytes stored without the
UTF-8 flag, "deflate": bool, "date_time": [y, m, d, H, M, S]}. Prints, as JSON,
the archive offset at which each entry's data ends, in archive order.
"""
import json
import sys
import zipfile


def main():
    archive, entries = sys.argv[1], json.loads(sys.argv[2])
    patches = []
    with zipfile.ZipFile(archive, "w") as z:
        for n, e in enumerate(entries):
            name = e.get("name", "")
            if "raw_name" in e:
                raw = bytes.fromhex(e["raw_name"])
                name = ("%03d" % n) + "Q" * (len(raw) - 3)
                patches.append((name.encode("ascii"), raw))
            if e.get("dir") and not name.endswith("/"):
                name += "/"
            info = zipfile.ZipInfo(name, tuple(e.get("date_time", (2020, 1, 2, 3, 4, 6))))
            info.create_system = 3
            data = e.get("data", "").encode("utf-8")
            if "symlink" in e:
                info.external_attr = (0o120777 << 16)
                data = e["symlink"].encode("utf-8")
            elif e.get("dir"):
                info.external_attr = (0o40755 << 16) | 0x10
            else:
                info.external_attr = (e.get("mode", 0o100644)) << 16
            info.compress_type = zipfile.ZIP_DEFLATED if e.get("deflate") else zipfile.ZIP_STORED
            z.writestr(info, data)
        ends = [i.header_offset + 30 + len(i.filename.encode("utf-8")) + len(i.extra) + i.compress_size
                for i in z.infolist()]
    if patches:
        content = open(archive, "rb").read()
        for placeholder, raw in patches:
            assert content.count(placeholder) == 2
            content = content.replace(placeholder, raw)
        open(archive, "wb").write(content)
    print(json.dumps(ends))


main()
