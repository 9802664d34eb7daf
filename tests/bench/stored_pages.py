#!/usr/bin/env python3
"""Compare the page count Word stored in a document with the engine's.

Usage: stored_pages.py [--pdf-dir DIR] FILE...

One line per FILE: path, stored page count ('-' if none), the saving
application and, with --pdf-dir, the pages of DIR/<stem>.pdf as written by
`soffice --convert-to pdf`.  Agreement is counted over files saved by Word
with a stored count above 1 (a stored 1 is often stale).  Reads are bounded:
the inputs are untrusted.
"""
import os
import re
import shutil
import struct
import subprocess
import sys
import zipfile

MAX_FILE = 256 << 20    # larger documents and PDFs are skipped
MAX_PART = 4 << 20      # docProps/app.xml, a property set stream
END = 0xFFFFFFFE        # first of the special sector numbers (end of chain...)


def docx_info(path):
    with zipfile.ZipFile(path) as z:
        info = next((i for i in z.infolist() if i.filename == "docProps/app.xml"), None)
        if info is None or info.file_size > MAX_PART:
            return None, ""
        xml = z.read(info).decode("utf-8", "replace")
    pages = re.search(r"<(?:\w+:)?Pages>\s*(\d+)\s*<", xml)
    app = re.search(r"<(?:\w+:)?Application>([^<]*)<", xml)
    return (int(pages.group(1)) if pages else None), (app.group(1).strip() if app else "")


class Ole:
    """Just enough of the OLE compound file format to read one small stream."""

    def __init__(self, data):
        if data[:8] != b"\xd0\xcf\x11\xe0\xa1\xb1\x1a\xe1" or len(data) < 512:
            raise ValueError("not a compound file")
        self.data = data
        self.ssz = 1 << struct.unpack_from("<H", data, 0x1E)[0]
        if self.ssz not in (512, 4096) or struct.unpack_from("<H", data, 0x20)[0] != 6:
            raise ValueError("unexpected sector size")
        nfat, self.dir_start = struct.unpack_from("<II", data, 0x2C)
        self.cutoff, minifat, _, difat, ndifat = struct.unpack_from("<5I", data, 0x38)
        per = self.ssz // 4
        fat_sectors = list(struct.unpack_from("<109I", data, 0x4C))
        for _ in range(min(ndifat, len(data) // self.ssz)):
            if difat >= END:
                break
            ent = struct.unpack_from("<%dI" % per, self.sector(difat))
            fat_sectors += ent[:-1]
            difat = ent[-1]
        self.fat = []
        for s in [s for s in fat_sectors if s < END][:nfat]:
            self.fat += struct.unpack_from("<%dI" % per, self.sector(s))
        raw = self.chain(minifat)
        self.minifat = struct.unpack_from("<%dI" % (len(raw) // 4), raw)

    def sector(self, n):
        off = (n + 1) * self.ssz
        if off + self.ssz > len(self.data):
            raise ValueError("sector out of range")
        return self.data[off:off + self.ssz]

    def chain(self, start, table=None, read=None, limit=MAX_PART):
        table = self.fat if table is None else table
        read = read or self.sector
        out, seen, total = [], set(), 0
        while start < END and start < len(table) and start not in seen:
            seen.add(start)
            out.append(read(start))
            total += len(out[-1])
            if total > limit:
                raise ValueError("stream too long")
            start = table[start]
        return b"".join(out)

    def stream(self, name):
        """A stream directly in the root storage, not inside an embedded object."""
        dirs, ents = self.chain(self.dir_start, limit=MAX_FILE), []
        for off in range(0, len(dirs) - 127, 128):
            nlen, kind, _, left, right, child = struct.unpack_from("<HBB3I", dirs, off + 0x40)
            start, size = struct.unpack_from("<II", dirs, off + 0x74)
            ename = dirs[off:off + max(0, min(nlen, 64) - 2)].decode("utf-16-le", "replace")
            ents.append((ename, kind, left, right, child, start, size))
        todo, seen = [ents[0][4]] if ents else [], set()
        while todo:         # the root's children form a tree of siblings
            i = todo.pop()
            if i >= len(ents) or i in seen:
                continue
            seen.add(i)
            ename, kind, left, right, _, start, size = ents[i]
            todo += [left, right]
            if kind == 2 and ename == name:
                return self.read(start, size, ents[0][5])
        return None

    def read(self, start, size, mini_start):
        if size > MAX_PART:
            raise ValueError("stream too long")
        if size >= self.cutoff:
            return self.chain(start)[:size]
        mini = self.chain(mini_start, limit=MAX_FILE)

        def mini_sector(n):
            if (n + 1) * 64 > len(mini):
                raise ValueError("mini sector out of range")
            return mini[n * 64:(n + 1) * 64]
        return self.chain(start, self.minifat, mini_sector)[:size]


def summary_props(ps):
    """Property id -> int (VT_I4) or str (VT_LPSTR) from the first section."""
    props = {}
    sec = struct.unpack_from("<I", ps, 44)[0] if len(ps) >= 48 else 0
    if sec < 48 or sec + 8 > len(ps):
        return props
    for i in range(min(struct.unpack_from("<I", ps, sec + 4)[0], 1000)):
        p = sec + 8 + 8 * i
        if p + 8 > len(ps):
            break
        pid, off = struct.unpack_from("<II", ps, p)
        v = sec + off
        if v + 8 > len(ps):
            continue
        vt, val = struct.unpack_from("<II", ps, v)
        if vt == 3:
            props[pid] = val
        elif vt == 30 and v + 8 + val <= len(ps):
            props[pid] = ps[v + 8:v + 8 + val].split(b"\0")[0].decode("cp1252", "replace")
    return props


def doc_info(path):
    with open(path, "rb") as f:
        ps = Ole(f.read(MAX_FILE)).stream("\x05SummaryInformation")
    props = summary_props(ps) if ps else {}
    pages = props.get(14)                 # PIDSI_PAGECOUNT
    return (pages if isinstance(pages, int) else None), str(props.get(18, "")).strip()  # PIDSI_APPNAME


def stored(path):
    try:
        if os.path.getsize(path) > MAX_FILE:
            return None, "(too large)"
        with open(path, "rb") as f:
            zipped = f.read(4) == b"PK\x03\x04"
        return docx_info(path) if zipped else doc_info(path)
    except Exception as e:      # any damage in an untrusted file: report, go on
        return None, "(unreadable: %s)" % e


def pdf_pages(pdf):
    if not os.path.isfile(pdf) or os.path.getsize(pdf) > MAX_FILE:
        return None
    if shutil.which("pdfinfo"):
        out = subprocess.run(["pdfinfo", pdf], capture_output=True, text=True, errors="replace").stdout
        counts = re.findall(r"^Pages:\s+(\d+)", out, re.M)
    else:                                   # the engine writes its page tree uncompressed
        with open(pdf, "rb") as f:
            counts = re.findall(rb"/Type\s*/Pages\b[^>]*?/Count\s+(\d+)", f.read())
    return max(map(int, counts)) if counts else None


def main(argv):
    pdf_dir = None
    if len(argv) > 1 and argv[0] == "--pdf-dir":
        pdf_dir, argv = argv[1], argv[2:]
    if not argv:
        print(__doc__.strip(), file=sys.stderr)
        return 2
    match = total = 0
    for path in argv:
        pages, app = stored(path)
        line = [path, "-" if pages is None else str(pages), app or "-"]
        if pdf_dir is not None:
            stem = os.path.splitext(os.path.basename(path))[0]
            got = pdf_pages(os.path.join(pdf_dir, stem + ".pdf"))
            line.append("-" if got is None else str(got))
            if pages and pages > 1 and "Microsoft" in app and "Word" in app:
                total += 1
                match += got == pages
        print("\t".join(line))
    if pdf_dir is not None:
        print("%d of %d match" % (match, total))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
