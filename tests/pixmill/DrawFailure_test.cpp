// The draw exports when there is no memory to describe the image to GDI: each reports
// failure and draws nothing. Linked with the library's code and calloc wrapped
// (-Wl,--wrap=calloc), so that the test can make its allocations fail.
#include "Pixmill.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstddef>

namespace {
std::atomic<bool> gFailCalloc{false};
}  // namespace

extern "C" void* __real_calloc(size_t n, size_t size);
extern "C" void* __wrap_calloc(size_t n, size_t size)
{
    return gFailCalloc ? nullptr : __real_calloc(n, size);
}

namespace {

struct DrawRow {
    const char* name;
    int (*draw)(PIXMILL_IMAGE img, HDC dc);
};

TEST(PixmillDrawFailure, DrawsReportFailureWithoutMemoryAndDrawNothing)
{
    PIXMILL_IMAGE img = Pixmill_CreateImageObject(4, 4, 24);
    ASSERT_NE(img, nullptr);
    HDC dc = CreateCompatibleDC(nullptr);
    HBITMAP bmp = CreateCompatibleBitmap(dc, 8, 8);
    HGDIOBJ old = SelectObject(dc, bmp);
    const DrawRow rows[] = {
        {"DrawImageObjectOnDC", [](PIXMILL_IMAGE i, HDC d) { return Pixmill_DrawImageObjectOnDC(i, d, 0, 0); }},
        {"DrawImageObjectOnDCRect",
         [](PIXMILL_IMAGE i, HDC d) { return Pixmill_DrawImageObjectOnDCRect(i, d, 0, 0, 8, 8); }},
        {"DrawImageObjectRectOnDCRect",
         [](PIXMILL_IMAGE i, HDC d) { return Pixmill_DrawImageObjectRectOnDCRect(i, d, 0, 0, 4, 4, 0, 0, 8, 8); }},
    };
    for (const DrawRow& r : rows) {
        SetPixel(dc, 1, 1, RGB(0xde, 0xad, 0xbe));
        gFailCalloc = true;
        const int failed = r.draw(img, dc);
        gFailCalloc = false;
        EXPECT_EQ(failed, 0) << r.name;
        EXPECT_EQ(GetPixel(dc, 1, 1), RGB(0xde, 0xad, 0xbe)) << r.name << " drew without memory";
        EXPECT_EQ(r.draw(img, dc), 1) << r.name;
        EXPECT_EQ(GetPixel(dc, 1, 1), RGB(0, 0, 0)) << r.name << " did not draw the (black) image";
    }
    SelectObject(dc, old);
    DeleteObject(bmp);
    DeleteDC(dc);
    Pixmill_DestroyImageObject(img);
}

}  // namespace
