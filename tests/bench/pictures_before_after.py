#!/usr/bin/env python3
"""A page with a screenshot inside, before and after the pages' own export settings.

Usage: pictures_before_after.py BINDIR [--crop OUT.png] [--corpus DIR]

Makes a .docx holding a screenshot-like lossless picture (a grainy band beside
one-pixel strokes, 400 x 300 at its natural size: the picture of the pictures
test) and draws its page at 96 dpi (a) from the office suite's PDF export with
its default settings (`soffice --convert-to pdf`: pictures as JPEG where that
is smaller, at most 300 dpi) and (b) by BINDIR/pagesnap-batch.  Prints the
grey-level difference of both from the page exported with the pages' settings
(lossless), the PNG sizes of the pages and the PDF sizes of the exports; --crop
writes the two side by side at 1:1, and before's difference 16 times over.  --corpus also exports every document of
DIR both ways and prints the total PDF and PNG sizes (pages drawn by pdftoppm
at 96 dpi).  Every program runs with folders of its own (profile, home,
caches, temporary files), removed at the end.
"""
import json
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import zipfile
import zlib

# The pages' export settings (wordserver/Export.cpp).
PAGE_SETTINGS = {
    "UseLosslessCompression": True, "ReduceImageResolution": False, "UseTaggedPDF": False,
    "PDFUACompliance": False, "ExportBookmarks": False, "ExportNotes": False,
    "ExportNotesInMargin": False, "ExportNotesPages": False, "ExportFormFields": False,
    "IsAddStream": False, "EmbedStandardFonts": False,
}
PICTURE = (96, 96, 400, 300)  # where the picture lies on the 96-dpi page: x, y, width, height
CROP = (96 + 140, 96 + 40, 240, 180)  # x, y, width, height: the band's edge and the strokes


def screenshot(w, h):
    """The pictures test's screenshot: rows of r, g, b bytes."""
    px = bytearray(b"\xff" * (w * h * 3))
    seed = 12345
    for y in range(h):
        for x in range(w):
            seed = (seed * 1103515245 + 12345) & 0xFFFFFFFF
            grain = (seed >> 16) % 61 - 30
            i = (y * w + x) * 3
            if x < w // 2:
                px[i:i + 3] = bytes(max(0, min(255, v + grain))
                                    for v in (60 + x * 150 // w, 90 + y * 120 // h, 140))
            elif x % 7 == 0 or y % 9 == 0 or (x + y) % 23 == 0:
                px[i:i + 3] = b"\0\0\0"
    return px


def png_bytes(w, h, rgb):
    rows = b"".join(b"\0" + bytes(rgb[y * w * 3:(y + 1) * w * 3]) for y in range(h))

    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body))
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", w, h, 8, 2, 0, 0, 0)) +
            chunk(b"IDAT", zlib.compress(rows, 9)) + chunk(b"IEND", b""))


def picture_docx(path, png, w, h):
    cx, cy = w * 9525, h * 9525
    ns = ('xmlns:w="http://schemas.openxmlformats.org/wordprocessingml/2006/main" '
          'xmlns:r="http://schemas.openxmlformats.org/officeDocument/2006/relationships" '
          'xmlns:wp="http://schemas.openxmlformats.org/drawingml/2006/wordprocessingDrawing" '
          'xmlns:a="http://schemas.openxmlformats.org/drawingml/2006/main" '
          'xmlns:pic="http://schemas.openxmlformats.org/drawingml/2006/picture"')
    ext = f'cx="{cx}" cy="{cy}"'
    document = (
        f'<?xml version="1.0" encoding="UTF-8" standalone="yes"?><w:document {ns}><w:body>'
        '<w:p><w:pPr><w:spacing w:before="0" w:after="0"/></w:pPr><w:r><w:drawing>'
        f'<wp:inline distT="0" distB="0" distL="0" distR="0"><wp:extent {ext}/><wp:docPr id="1" name="Picture 1"/>'
        '<a:graphic><a:graphicData uri="http://schemas.openxmlformats.org/drawingml/2006/picture"><pic:pic>'
        '<pic:nvPicPr><pic:cNvPr id="1" name="picture.png"/><pic:cNvPicPr/></pic:nvPicPr>'
        '<pic:blipFill><a:blip r:embed="rIdPic"/><a:stretch><a:fillRect/></a:stretch></pic:blipFill>'
        f'<pic:spPr><a:xfrm><a:off x="0" y="0"/><a:ext {ext}/></a:xfrm><a:prstGeom prst="rect"><a:avLst/>'
        '</a:prstGeom></pic:spPr></pic:pic></a:graphicData></a:graphic></wp:inline></w:drawing></w:r></w:p>'
        '<w:sectPr><w:pgSz w:w="11906" w:h="16838"/><w:pgMar w:top="1440" w:right="1440" w:bottom="1440" '
        'w:left="1440" w:header="720" w:footer="720" w:gutter="0"/></w:sectPr></w:body></w:document>')
    rel = "http://schemas.openxmlformats.org/officeDocument/2006/relationships"
    parts = {
        "[Content_Types].xml":
            '<?xml version="1.0" encoding="UTF-8" standalone="yes"?>'
            '<Types xmlns="http://schemas.openxmlformats.org/package/2006/content-types">'
            '<Default Extension="rels" ContentType="application/vnd.openxmlformats-package.relationships+xml"/>'
            '<Default Extension="xml" ContentType="application/xml"/><Default Extension="png" ContentType="image/png"/>'
            '<Override PartName="/word/document.xml" ContentType="application/vnd.openxmlformats-officedocument.'
            'wordprocessingml.document.main+xml"/></Types>',
        "_rels/.rels":
            '<?xml version="1.0" encoding="UTF-8" standalone="yes"?><Relationships xmlns="http://schemas.'
            f'openxmlformats.org/package/2006/relationships"><Relationship Id="rId1" Type="{rel}/officeDocument" '
            'Target="word/document.xml"/></Relationships>',
        "word/document.xml": document,
        "word/_rels/document.xml.rels":
            '<?xml version="1.0" encoding="UTF-8" standalone="yes"?><Relationships xmlns="http://schemas.'
            f'openxmlformats.org/package/2006/relationships"><Relationship Id="rIdPic" Type="{rel}/image" '
            'Target="media/picture.png"/></Relationships>',
    }
    with zipfile.ZipFile(path, "w", zipfile.ZIP_STORED) as z:
        for name, text in parts.items():
            z.writestr(name, text)
        z.writestr("word/media/picture.png", png)


class Private:
    """Folders of its own for every program run: profile, home, caches, runtime, temporary."""

    def __init__(self):
        self.root = tempfile.mkdtemp(prefix="folium-pictures-")
        self.env = dict(os.environ)
        for var, sub in (("HOME", "home"), ("TMPDIR", "tmp"), ("XDG_RUNTIME_DIR", "run"),
                         ("XDG_CACHE_HOME", "cache"), ("XDG_CONFIG_HOME", "config"), ("XDG_DATA_HOME", "data")):
            os.makedirs(os.path.join(self.root, sub), mode=0o700)
            self.env[var] = os.path.join(self.root, sub)

    def run(self, args):
        subprocess.run(args, env=self.env, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    def export(self, docs, outdir, settings):
        """PDFs of the documents by the suite itself, with its defaults or the given settings."""
        os.makedirs(outdir, exist_ok=True)
        target = "pdf"
        if settings is not None:
            target += ":writer_pdf_Export:" + json.dumps(
                {k: {"type": "boolean", "value": "true" if v else "false"} for k, v in settings.items()})
        self.run(["soffice", "-env:UserInstallation=file://" + self.root + "/profile", "--headless",
                  "--convert-to", target, "--outdir", outdir] + docs)

    def done(self):
        shutil.rmtree(self.root, ignore_errors=True)


def read_ppm(path):
    data = open(path, "rb").read()
    fields, pos = [], 0
    while len(fields) < 4:
        while data[pos:pos + 1].isspace():
            pos += 1
        end = pos
        while not data[end:end + 1].isspace():
            end += 1
        fields.append(data[pos:end])
        pos = end
    assert fields[0] == b"P6" and fields[3] == b"255", path
    w, h = int(fields[1]), int(fields[2])
    return w, h, data[pos + 1:pos + 1 + w * h * 3]


def read_bmp(path):
    """A 24-bit bottom-up BMP, as pagesnap-batch writes one, as r, g, b rows top-down."""
    data = open(path, "rb").read()
    off, = struct.unpack_from("<I", data, 10)
    w, h, _, bpp = struct.unpack_from("<iiHH", data, 18)
    assert bpp == 24 and h > 0, path
    stride = (w * 3 + 3) & ~3
    out = bytearray()
    for y in range(h - 1, -1, -1):
        bgr = data[off + y * stride:off + y * stride + w * 3]
        rgb = bytearray(bgr)
        rgb[0::3], rgb[2::3] = bgr[2::3], bgr[0::3]
        out += rgb
    return w, h, bytes(out)


def page96(pdf, out_prefix, fmt):
    """Page 1 of the PDF drawn by pdftoppm at 96 dpi: the file written."""
    subprocess.run(["pdftoppm", "-r", "96", "-f", "1", "-l", "1", "-singlefile"] + (["-png"] if fmt == "png" else []) +
                   [pdf, out_prefix], check=True)
    return out_prefix + "." + fmt


def diff(a, b, box=None):
    """Mean and largest difference of one channel, over box (x, y, w, h) or the whole page."""
    wa, ha, pa = a
    wb, hb, pb = b
    assert (wa, ha) == (wb, hb), "pages of different sizes"
    x0, y0, w, h = box or (0, 0, wa, ha)
    total = largest = 0
    for y in range(y0, y0 + h):
        i = (y * wa + x0) * 3
        for u, v in zip(pa[i:i + w * 3], pb[i:i + w * 3]):
            d = abs(u - v)
            total += d
            largest = max(largest, d)
    return total / (w * h * 3), largest


def crop(page, box):
    w, _, px = page
    x0, y0, cw, ch = box
    return [px[((y0 + y) * w + x0) * 3:((y0 + y) * w + x0 + cw) * 3] for y in range(ch)]


def main():
    args = sys.argv[1:]
    if not args or args[0].startswith("-"):
        sys.exit(__doc__)
    bindir, crop_out, corpus = args[0], None, None
    rest = args[1:]
    while rest:
        opt = rest.pop(0)
        if opt == "--crop" and rest:
            crop_out = rest.pop(0)
        elif opt == "--corpus" and rest:
            corpus = rest.pop(0)
        else:
            sys.exit(__doc__)
    env = Private()
    try:
        work = os.path.join(env.root, "work")
        os.makedirs(work)
        docx = os.path.join(work, "screenshot.docx")
        picture_docx(docx, png_bytes(400, 300, screenshot(400, 300)), 400, 300)
        env.export([docx], os.path.join(work, "default"), None)
        env.export([docx], os.path.join(work, "pages"), PAGE_SETTINGS)
        pdf_default = os.path.join(work, "default", "screenshot.pdf")
        pdf_pages = os.path.join(work, "pages", "screenshot.pdf")
        before = read_ppm(page96(pdf_default, os.path.join(work, "before"), "ppm"))
        exact = read_ppm(page96(pdf_pages, os.path.join(work, "exact"), "ppm"))
        png_before = page96(pdf_default, os.path.join(work, "before"), "png")
        for fmt in ("bmp", "png"):
            env.run([os.path.join(bindir, "pagesnap-batch"), "-j", "1", "-r", "96", "-f", fmt,
                     "-o", os.path.join(work, fmt), docx])
        after = read_bmp(os.path.join(work, "bmp", "screenshot_1.bmp"))
        png_after = os.path.join(work, "png", "screenshot_1.png")
        png_exact = page96(pdf_pages, os.path.join(work, "exact"), "png")
        print("page 1 at 96 dpi, grey levels off the page exported losslessly (mean, largest; picture / page):")
        for name, page in (("before (default export)", before), ("after (pagesnap-batch)", after)):
            pm, px = diff(page, exact, PICTURE)
            gm, gx = diff(page, exact)
            print(f"  {name:24} picture {pm:.2f}, {px}   page {gm:.3f}, {gx}")
        print(f"PDF: default export {os.path.getsize(pdf_default)} bytes, pages' settings "
              f"{os.path.getsize(pdf_pages)} bytes")
        print(f"PNG page: before {os.path.getsize(png_before)} bytes (pdftoppm), after "
              f"{os.path.getsize(png_after)} bytes (pagesnap-batch; pdftoppm from the lossless export: "
              f"{os.path.getsize(png_exact)})")
        if crop_out:
            # Before, after, and before's difference from the lossless page 16 times over
            # (dark where it differs): at 1:1 the ringing is hard to see.
            gap = bytes([128, 128, 128]) * 8
            rows = []
            for b, a, e in zip(crop(before, CROP), crop(after, CROP), crop(exact, CROP)):
                d = bytearray()
                for i in range(0, len(b), 3):
                    v = 255 - min(255, 16 * max(abs(b[i + k] - e[i + k]) for k in range(3)))
                    d += bytes((v, v, v))
                rows.append(b + gap + a + gap + bytes(d))
            w = CROP[2] * 3 + 16
            with open(crop_out, "wb") as f:
                f.write(png_bytes(w, len(rows), b"".join(rows)))
            print(f"{crop_out}: {w} x {len(rows)} at 1:1: before, after, before's difference x 16")
        if corpus:
            docs = sorted(os.path.join(corpus, n) for n in os.listdir(corpus)
                          if n.lower().endswith((".doc", ".docx")))
            for name, settings in (("default export", None), ("pages' settings", PAGE_SETTINGS)):
                out = os.path.join(work, "corpus-" + ("default" if settings is None else "pages"))
                env.export(docs, out, settings)
                pdfs = [os.path.join(out, n) for n in sorted(os.listdir(out)) if n.endswith(".pdf")]
                for pdf in pdfs:
                    prefix = os.path.join(out, "png", os.path.basename(pdf)[:-4])
                    os.makedirs(os.path.dirname(prefix), exist_ok=True)
                    subprocess.run(["pdftoppm", "-r", "96", "-png", pdf, prefix], check=True)
                pics = [os.path.join(out, "png", n) for n in os.listdir(os.path.join(out, "png"))]
                pngs = sum(os.path.getsize(p) for p in pics)
                print(f"corpus, {name}: {len(pdfs)} PDFs {sum(os.path.getsize(p) for p in pdfs) / 1e6:.2f} MB, "
                      f"{len(pics)} PNG pages at 96 dpi {pngs / 1e6:.2f} MB")
    finally:
        env.done()


if __name__ == "__main__":
    main()
