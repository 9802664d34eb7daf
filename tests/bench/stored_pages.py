#!/usr/bin/env python3
"""Compare the page count Word stored in a document with the engine's.

Usage: stored_pages.py [--pdf-dir DIR] FILE...

For each FILE prints: path, stored page count ('-' if none), the application
that saved it and, with --pdf-dir, the page count of DIR/<stem>.pdf (as made
by `soffice --convert-to pdf`).  The closing line counts the files whose
stored count is above 1 and that Word saved (a stored 1 is often stale).
Standard library only; every read is bounded since the inputs are untrusted.
"""
import os
import re
import shutil
import struct
import subprocess
import sys
import zipfile

MAX_FILE = 256 << 20      # documents and PDFs larger than this are skipped
MAX_PART = 4 << 20        # docProps/app.xml or a property stream
ENDOFCHAIN = 0xFFFFFFFE


def docx_info(path):
    with zipfile.ZipFile(path) as z:
        try:
            info = z.getinfo("docProps/app.xml")
        except KeyError:
            return None, ""
        if info.file_size > MAX_PART:
            return None, ""
        xml = z.read(info).decode("utf-8", "replace")
    pages = re.search(r"<(?:\w+:)?Pages>\s*(\d+)\s*<", xml)
    app = re.search(r"<(?:\w+:)?Application>([^<]*)<", xml)
    return (int(pages.group(1)) if pages else None), (app.group(1).strip() if app else "")


class Ole:
    """Just enough of the compound file format to read one small stream."""

    def __init__(self, data):
        if data[:8] != b"\xd0\xcf\x11\xe0\xa1\xb1\x1a\xe1" or len(data) < 512:
            raise ValueError("not a compound file")
        self.data = data
        self.ssz = 1 << struct.unpack_from("<H", data, 0x1E)[0]
        self.mssz = 1 << struct.unpack_from("<H", data, 0x20)[0]
        if self.ssz not in (512, 4096) or self.mssz != 64:
            raise ValueError("bad sector size")
        nfat, self.dir_start = struct.unpack_from("<II", data, 0x2C)
        self.cutoff, minifat_start, _, difat_start, ndifat = \
            struct.unpack_from("<IIIII", data, 0x38)
        fat_sectors = [s for s in struct.unpack_from("<109I", data, 0x4C) if s < ENDOFCHAIN]
        per = self.ssz // 4
        while difat_start < ENDOFCHAIN and ndifat > 0:
            ndifat -= 1
            ent = struct.unpack_from("<%dI" % per, self.sector(difat_start))
            fat_sectors += [s for s in ent[:-1] if s < ENDOFCHAIN]
            difat_start = ent[-1]
        fat_sectors = fat_sectors[:nfat]
        self.fat = []
        for s in fat_sectors:
            self.fat += struct.unpack_from("<%dI" % per, self.sector(s))
        raw = self.chain(minifat_start)
        self.minifat = struct.unpack_from("<%dI" % (len(raw) // 4), raw)

    def sector(self, n):
        off = (n + 1) * self.ssz
        if off + self.ssz > len(self.data):
            raise ValueError("sector out of range")
        return self.data[off:off + self.ssz]

    def chain(self, start, table=None, read=None, limit=MAX_PART):
        table = self.fat if table is None else table
        read = read or self.sector
        out, seen = [], set()
        while start < ENDOFCHAIN and start < len(table) and start not in seen:
            seen.add(start)
            out.append(read(start))
            if sum(map(len, out)) > limit:
                raise ValueError("stream too long")
            start = table[start]
        return b"".join(out)

    def stream(self, name):
        """A stream directly under the root storage (not inside an embedded object)."""
        dirs = self.chain(self.dir_start, limit=MAX_FILE)
        count = len(dirs) // 128

        def entry(i):
            e = dirs[i * 128:(i + 1) * 128]
            nlen, kind = struct.unpack_from("<HB", e, 0x40)
            left, right, child = struct.unpack_from("<III", e, 0x44)
            start, size = struct.unpack_from("<II", e, 0x74)
            ename = e[:max(0, min(nlen, 64) - 2)].decode("utf-16-le", "replace")
            return ename, kind, left, right, child, start, size

        if count == 0:
            return None
        _, _, _, _, child, root_start, _ = entry(0)
        todo, seen = [child], set()
        while todo:
            i = todo.pop()
            if i >= count or i in seen:
                continue
            seen.add(i)
            ename, kind, left, right, _, start, size = entry(i)
            todo += [left, right]
            if kind != 2 or ename != name:
                continue
            if size > MAX_PART:
                raise ValueError("stream too long")
            if size >= self.cutoff:
                return self.chain(start)[:size]
            mini = self.chain(root_start, limit=MAX_FILE)

            def msec(n):
                if (n + 1) * 64 > len(mini):
                    raise ValueError("mini sector out of range")
                return mini[n * 64:(n + 1) * 64]
            return self.chain(start, self.minifat, msec)[:size]
        return None


def summary_props(ps):
    """Property id -> int or str from a SummaryInformation property set."""
    props = {}
    if len(ps) < 48:
        return props
    sec = struct.unpack_from("<I", ps, 44)[0]
    if sec + 8 > len(ps):
        return props
    count = min(struct.unpack_from("<I", ps, sec + 4)[0], 1000)
    for i in range(count):
        p = sec + 8 + 8 * i
        if p + 8 > len(ps):
            break
        pid, off = struct.unpack_from("<II", ps, p)
        v = sec + off
        if v + 8 > len(ps):
            continue
        vt, val = struct.unpack_from("<II", ps, v)
        if vt == 3:                                   # VT_I4
            props[pid] = val
        elif vt == 30 and v + 8 + val <= len(ps):     # VT_LPSTR
            props[pid] = ps[v + 8:v + 8 + val].split(b"\0")[0].decode("cp1252", "replace")
    return props


def doc_info(path):
    with open(path, "rb") as f:
        ps = Ole(f.read(MAX_FILE)).stream("\x05SummaryInformation")
    if not ps:
        return None, ""
    props = summary_props(ps)
    pages = props.get(14)
    return (pages if isinstance(pages, int) else None), str(props.get(18, "")).strip()


def stored(path):
    try:
        if os.path.getsize(path) > MAX_FILE:
            return None, "(too large)"
        with open(path, "rb") as f:
            magic = f.read(4)
        if magic == b"PK\x03\x04":
            return docx_info(path)
        return doc_info(path)
    except (OSError, ValueError, struct.error, zipfile.BadZipFile) as e:
        return None, "(unreadable: %s)" % e


def pdf_pages(pdf):
    if not os.path.isfile(pdf) or os.path.getsize(pdf) > MAX_FILE:
        return None
    if shutil.which("pdfinfo"):
        r = subprocess.run(["pdfinfo", pdf], capture_output=True, text=True, errors="replace")
        m = re.search(r"^Pages:\s+(\d+)", r.stdout, re.M)
        return int(m.group(1)) if m else None
    with open(pdf, "rb") as f:           # the engine writes an uncompressed page tree
        counts = re.findall(rb"/Type\s*/Pages\b[^>]*?/Count\s+(\d+)", f.read())
    return max(map(int, counts)) if counts else None


def by_word(app):
    return "Microsoft" in app and "Word" in app


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
            if pages and pages > 1 and by_word(app):
                total += 1
                match += got == pages
        print("\t".join(line))
    if pdf_dir is not None:
        print("%d of %d match" % (match, total))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
