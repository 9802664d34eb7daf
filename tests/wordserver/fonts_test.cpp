// The fonts Word documents ask for, as the engine draws them: each Word font with its
// metric-compatible clone or the program's stand-in, never with whatever the system falls back
// to. Pages of the same text are compared pixel for pixel.
#include <gtest/gtest.h>

#include "Engine.h"
#include "TempDir.h"
#include "WordServerTest.h"

#include <string>
#include <vector>

using namespace wstest;

namespace {

// The first page of a text whose every paragraph asks for `family`, drawn by the engine.
std::vector<uint32_t> PageInFont(Word& word, const TempDir& dir, const std::string& family)
{
    const std::string src = dir.Write("font.fodt", InFont(Fodt(Para("Figures, 1234567890. " + Lorem(160, 7))), family));
    const std::string pdf = dir / "font.pdf";
    IDispatch* doc = word.Open(src);
    if (!doc)
        return {};
    const HRESULT hr = Call(doc, u"SaveAs", DISPATCH_METHOD, {Arg::Str(pdf)}, nullptr);
    Call(doc, u"Close", DISPATCH_METHOD, {}, nullptr);
    doc->Release();
    const std::string bytes = ReadWhole(pdf);
    wordengine::PdfBytes p;
    p.data.assign(bytes.begin(), bytes.end());
    std::vector<uint32_t> px;
    if (FAILED(hr) || !wordengine::RasterisePdfPage(p, 0, 595, 842, &px))
        px.clear();
    return px;
}

}  // namespace

TEST(EngineFonts, WordFontsAreDrawnWithTheirStandIns)
{
    Word word;
    ASSERT_NE(word.docs, nullptr);
    TempDir dir;
    const std::vector<uint32_t> carlito = PageInFont(word, dir, "Carlito");
    const std::vector<uint32_t> dejavu = PageInFont(word, dir, "DejaVu Sans");
    ASSERT_FALSE(carlito.empty());
    // Carlito is installed and is no fallback: otherwise every row below proves nothing.
    ASSERT_NE(carlito, dejavu);
    const struct {
        const char* word;
        const char* standIn;
    } rows[] = {
        {"Aptos", "Carlito"},           // the program's table
        {"Aptos Display", "Carlito"},   // the program's table
        {"Calibri Light", "Carlito"},   // the program's table
        {"Calibri", "Carlito"},         // metric clone
        {"Cambria", "Caladea"},         // metric clone
        {"Arial", "Liberation Sans"},   // metric clone
        {"Times New Roman", "Liberation Serif"},
        {"Courier New", "Liberation Mono"},
    };
    for (const auto& r : rows) {
        const std::vector<uint32_t> asked = PageInFont(word, dir, r.word);
        ASSERT_FALSE(asked.empty()) << r.word;
        EXPECT_TRUE(asked == PageInFont(word, dir, r.standIn)) << r.word << " is not drawn with " << r.standIn;
        EXPECT_TRUE(asked != dejavu) << r.word << " falls back to DejaVu Sans";
    }
}
