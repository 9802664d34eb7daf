// Pictures inside pages as exact as the document holds them: a lossless picture stays lossless
// (the engine's default export stores one as JPEG whenever that is smaller, a grainy band
// beside one-pixel strokes for instance), and a fine picture keeps its resolution (the
// default brings anything finer than 300 dpi at its placed size down to 300 dpi).
#include <gtest/gtest.h>

#include "PagePixels.h"
#include "TempDir.h"
#include "WordServerTest.h"
#include "word/CxWordDoc.h"
#include "word/CxWordUtil.h"

#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

using namespace wstest;

namespace {

struct Rgb {
    int w = 0, h = 0;
    std::vector<unsigned char> px;  // r, g, b, rows top-down
};

void Put32Be(std::string& s, uint32_t v)
{
    for (int sh = 24; sh >= 0; sh -= 8)
        s.push_back(char((v >> sh) & 0xff));
}

void Chunk(std::string& png, const char* type, const std::string& data)
{
    Put32Be(png, uint32_t(data.size()));
    const std::string body = std::string(type, 4) + data;
    png += body;
    Put32Be(png, uint32_t(crc32(0, reinterpret_cast<const Bytef*>(body.data()), uInt(body.size()))));
}

// A truecolour PNG of the picture.
std::string Png(const Rgb& im)
{
    std::string raw;
    for (int y = 0; y < im.h; ++y) {
        raw.push_back(0);  // no filter
        raw.append(reinterpret_cast<const char*>(im.px.data()) + size_t(y) * im.w * 3, size_t(im.w) * 3);
    }
    uLongf n = compressBound(uLong(raw.size()));
    std::string z(n, '\0');
    compress2(reinterpret_cast<Bytef*>(&z[0]), &n, reinterpret_cast<const Bytef*>(raw.data()), uLong(raw.size()), 9);
    z.resize(n);
    std::string png = "\x89PNG\r\n\x1a\n";
    std::string ihdr;
    Put32Be(ihdr, uint32_t(im.w));
    Put32Be(ihdr, uint32_t(im.h));
    ihdr += std::string("\x08\x02\x00\x00\x00", 5);  // 8 bits, RGB
    Chunk(png, "IHDR", ihdr);
    Chunk(png, "IDAT", z);
    Chunk(png, "IEND", "");
    return png;
}

// Like a screenshot: a grainy photograph-like band on the left, one-pixel black strokes on
// white on the right (where JPEG rings).
Rgb Screenshot(int w, int h)
{
    Rgb im{w, h, std::vector<unsigned char>(size_t(w) * h * 3, 255)};
    uint32_t seed = 12345;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            unsigned char* p = &im.px[(size_t(y) * w + x) * 3];
            seed = seed * 1103515245u + 12345u;
            const int grain = int((seed >> 16) % 61) - 30;
            if (x < w / 2) {
                p[0] = (unsigned char)std::max(0, std::min(255, 60 + x * 150 / w + grain));
                p[1] = (unsigned char)std::max(0, std::min(255, 90 + y * 120 / h + grain));
                p[2] = (unsigned char)std::max(0, std::min(255, 140 + grain));
            } else if (x % 7 == 0 || y % 9 == 0 || (x + y) % 23 == 0) {
                p[0] = p[1] = p[2] = 0;
            }
        }
    return im;
}

// A photograph-like picture: smooth colour with grain in every pixel.
Rgb Photo(int w, int h)
{
    Rgb im{w, h, std::vector<unsigned char>(size_t(w) * h * 3)};
    uint32_t seed = 777;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            seed = seed * 1103515245u + 12345u;
            const int grain = int((seed >> 16) % 41) - 20;
            unsigned char* p = &im.px[(size_t(y) * w + x) * 3];
            p[0] = (unsigned char)std::max(0, std::min(255, 40 + 180 * x / w + grain));
            p[1] = (unsigned char)std::max(0, std::min(255, 200 - 150 * y / h + grain));
            p[2] = (unsigned char)std::max(0, std::min(255, 100 + grain));
        }
    return im;
}

// A .docx (A4, one-inch margins) whose only paragraph holds the PNG inline at cx x cy EMU.
bool PictureDocx(const std::string& path, const std::string& png, long cx, long cy)
{
    const std::string types =
        R"(<?xml version="1.0" encoding="UTF-8" standalone="yes"?>)"
        R"(<Types xmlns="http://schemas.openxmlformats.org/package/2006/content-types">)"
        R"(<Default Extension="rels" ContentType="application/vnd.openxmlformats-package.relationships+xml"/>)"
        R"(<Default Extension="xml" ContentType="application/xml"/><Default Extension="png" ContentType="image/png"/>)"
        R"(<Override PartName="/word/document.xml" ContentType="application/vnd.openxmlformats-officedocument.wordprocessingml.document.main+xml"/></Types>)";
    const std::string rels =
        R"(<?xml version="1.0" encoding="UTF-8" standalone="yes"?>)"
        R"(<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships">)"
        R"(<Relationship Id="rId1" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/officeDocument" Target="word/document.xml"/></Relationships>)";
    const std::string docRels =
        R"(<?xml version="1.0" encoding="UTF-8" standalone="yes"?>)"
        R"(<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships">)"
        R"(<Relationship Id="rIdPic" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/image" Target="media/picture.png"/></Relationships>)";
    const std::string ext = "cx=\"" + std::to_string(cx) + "\" cy=\"" + std::to_string(cy) + "\"";
    const std::string document =
        R"(<?xml version="1.0" encoding="UTF-8" standalone="yes"?>)"
        R"(<w:document xmlns:w="http://schemas.openxmlformats.org/wordprocessingml/2006/main" )"
        R"(xmlns:r="http://schemas.openxmlformats.org/officeDocument/2006/relationships" )"
        R"(xmlns:wp="http://schemas.openxmlformats.org/drawingml/2006/wordprocessingDrawing" )"
        R"(xmlns:a="http://schemas.openxmlformats.org/drawingml/2006/main" )"
        R"(xmlns:pic="http://schemas.openxmlformats.org/drawingml/2006/picture"><w:body>)"
        R"(<w:p><w:pPr><w:spacing w:before="0" w:after="0"/></w:pPr><w:r><w:drawing><wp:inline distT="0" distB="0" distL="0" distR="0">)"
        "<wp:extent " + ext + "/>"
        R"(<wp:docPr id="1" name="Picture 1"/><a:graphic><a:graphicData uri="http://schemas.openxmlformats.org/drawingml/2006/picture">)"
        R"(<pic:pic><pic:nvPicPr><pic:cNvPr id="1" name="picture.png"/><pic:cNvPicPr/></pic:nvPicPr>)"
        R"(<pic:blipFill><a:blip r:embed="rIdPic"/><a:stretch><a:fillRect/></a:stretch></pic:blipFill>)"
        "<pic:spPr><a:xfrm><a:off x=\"0\" y=\"0\"/><a:ext " + ext + "/></a:xfrm>"
        R"(<a:prstGeom prst="rect"><a:avLst/></a:prstGeom></pic:spPr></pic:pic></a:graphicData></a:graphic></wp:inline></w:drawing></w:r></w:p>)"
        R"(<w:sectPr><w:pgSz w:w="11906" w:h="16838"/><w:pgMar w:top="1440" w:right="1440" w:bottom="1440" w:left="1440" w:header="720" w:footer="720" w:gutter="0"/></w:sectPr>)"
        R"(</w:body></w:document>)";
    std::ofstream f(path, std::ios::binary);
    f << StoredZip({{"[Content_Types].xml", types},
                    {"_rels/.rels", rels},
                    {"word/document.xml", document},
                    {"word/_rels/document.xml.rels", docRels},
                    {"word/media/picture.png", png}});
    return bool(f);
}

struct Page {
    int w = 0, h = 0;
    std::vector<uint32_t> px;  // 0x00RRGGBB, rows top-down
};

// Page 1 of the document as the office suite itself exports it with filterOptions (its own
// process and profile, in dir), drawn by pdftoppm at 96 dpi; empty on any failure.
Page SuitePage(const std::string& docx, const std::string& dir, const std::string& filterOptions)
{
    Page p;
    const std::string cmd = "cd '" + dir + "' && soffice -env:UserInstallation=file://" + dir +
                            "/profile --headless --convert-to '" +
                            (filterOptions.empty() ? "pdf" : "pdf:writer_pdf_Export:" + filterOptions) + "' --outdir '" + dir + "' '" + docx + "' >/dev/null 2>&1 && pdftoppm -r 96 -f 1 -l 1 '" +
                            dir + "/screenshot.pdf' '" + dir + "/page' && mv '" + dir + "'/page*.ppm '" + dir +
                            "/page.ppm'";
    if (std::system(cmd.c_str()) != 0)
        return p;
    const std::string b = ReadWhole(dir + "/page.ppm");
    int max = 0, used = 0;
    if (std::sscanf(b.c_str(), "P6 %d %d %d%n", &p.w, &p.h, &max, &used) != 3 || max != 255 || p.w <= 0 ||
        b.size() < size_t(used) + 1 + size_t(p.w) * p.h * 3)
        return Page();
    const auto* d = reinterpret_cast<const unsigned char*>(b.data() + used + 1);
    p.px.resize(size_t(p.w) * p.h);
    for (size_t i = 0; i < p.px.size(); ++i, d += 3)
        p.px[i] = uint32_t(d[0]) << 16 | uint32_t(d[1]) << 8 | d[2];
    return p;
}

// Mean difference per channel over the rectangle x0..x1, y0..y1 of two pages of one size.
double MeanDiff(const Page& a, const Page& b, int x0, int y0, int x1, int y1)
{
    if (a.w != b.w || a.h != b.h || x1 > a.w || y1 > a.h)
        return 1e9;
    double sum = 0;
    for (int y = y0; y < y1; ++y)
        for (int x = x0; x < x1; ++x) {
            const uint32_t p = a.px[size_t(y) * a.w + x], q = b.px[size_t(y) * b.w + x];
            for (int sh = 0; sh < 24; sh += 8)
                sum += std::abs(int((p >> sh) & 0xff) - int((q >> sh) & 0xff));
        }
    return sum / (3.0 * (x1 - x0) * (y1 - y0));
}

struct ImageRow {
    int width = 0, height = 0;
    std::string enc;
    int xppi = 0;
};

// The pictures of a PDF as pdfimages lists them.
std::vector<ImageRow> PdfImages(const std::string& pdf)
{
    std::vector<ImageRow> rows;
    FILE* p = popen(("pdfimages -list '" + pdf + "' 2>/dev/null").c_str(), "r");
    if (!p)
        return rows;
    char line[512];
    int n = 0;
    while (fgets(line, sizeof line, p)) {
        if (++n <= 2)  // header and rule
            continue;
        std::istringstream in(line);
        std::string page, num, type, color, comp, bpc, interp, object, id;
        ImageRow r;
        if (in >> page >> num >> type >> r.width >> r.height >> color >> comp >> bpc >> r.enc >> interp >> object >> id >>
            r.xppi)
            rows.push_back(r);
    }
    pclose(p);
    return rows;
}

}  // namespace

// A screenshot-like PNG at its natural size on a 96-dpi page: the page has the pixels of the
// same page exported losslessly (the defaults left them about 1.6 levels off on average, with
// ringing around every stroke).
TEST(WordServerPictures, LosslessPictureKeepsItsPixels)
{
    TempDir dir;
    const std::string path = dir / "screenshot.docx";
    ASSERT_TRUE(PictureDocx(path, Png(Screenshot(400, 300)), 400L * 9525, 300L * 9525));

    CxWordUtil util;
    CxWordDoc doc(&util);
    ASSERT_TRUE(doc.Open(path.c_str()));
    ASSERT_TRUE(doc.SelectPage(0));
    HDC screen = GetDC(nullptr);
    POINT size;
    bool drawn = false;
    const std::vector<uint32_t> page = PagePixels(doc, 0, screen, &size, &drawn);
    ReleaseDC(nullptr, screen);
    ASSERT_TRUE(drawn);
    ASSERT_FALSE(page.empty());
    EXPECT_EQ(size.x, 794);  // A4 at 96 dpi

    Page ours;
    ours.w = size.x;
    ours.h = size.y;
    ours.px = page;

    // The same page exported by the suite itself losslessly, and with its defaults.
    TempDir lossless, plain;
    const Page exact = SuitePage(path, lossless.Path(),
                                 R"({"UseLosslessCompression":{"type":"boolean","value":"true"},)"
                                 R"("ReduceImageResolution":{"type":"boolean","value":"false"}})");
    const Page jpeg = SuitePage(path, plain.Path(), "");
    ASSERT_FALSE(exact.px.empty());
    ASSERT_FALSE(jpeg.px.empty());
    // The picture's box (one-inch margins, 400 x 300 pixels) and a pixel around it.
    const int x0 = 95, y0 = 95, x1 = 498, y1 = 398;
    // What makes the picture a case: the defaults change its pixels.
    EXPECT_GT(MeanDiff(exact, jpeg, x0, y0, x1, y1), 0.8);
    EXPECT_LT(MeanDiff(ours, exact, x0, y0, x1, y1), 0.05);
    EXPECT_LT(MeanDiff(ours, exact, 0, 0, ours.w, ours.h), 0.01);
}

// A 1300 x 920 photograph in a 1.4-inch box (about 930 dpi): the PDF of the pages keeps all
// its pixels, losslessly, so a 600-dpi page draws it at 600 dpi (not at 300).
TEST(WordServerPictures, FinePictureIsNotReduced)
{
    TempDir dir;
    const std::string path = dir / "photo.docx", pdf = dir / "photo.pdf";
    ASSERT_TRUE(PictureDocx(path, Png(Photo(1300, 920)), 1280160, 905933));  // 1.4 x 0.99 in

    Word word;
    ASSERT_NE(word.docs, nullptr);
    IDispatch* doc = word.Open(path);
    ASSERT_NE(doc, nullptr);
    EXPECT_EQ(Call(doc, u"SaveAs", DISPATCH_METHOD, {Arg::Str(pdf)}, nullptr), S_OK);
    Call(doc, u"Close", DISPATCH_METHOD, {}, nullptr);
    doc->Release();

    const std::vector<ImageRow> images = PdfImages(pdf);
    ASSERT_EQ(images.size(), 1u) << "pdfimages -list " << pdf;
    EXPECT_EQ(images[0].width, 1300);
    EXPECT_EQ(images[0].height, 920);
    EXPECT_NE(images[0].enc, "jpeg");
    EXPECT_GE(images[0].xppi, 900);
}
