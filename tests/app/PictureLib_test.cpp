#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "TempDir.h"
#include "app/PictureLib.h"

namespace {

// A capture through an unbound binding must not reach any library code.
TEST(PictureLibUnbound, CaptureAndFreeDoNothingBeforeAnyLoad)
{
    ASSERT_EQ(0u, PictureLibRefCount());
    PictureLibFree();  // must not underflow the count
    EXPECT_EQ(0u, PictureLibRefCount());
    HDC hdc = CreateCompatibleDC(nullptr);
    EXPECT_EQ(0, PictureLibCaptureDC(hdc, 0, 0, 10, 10, "/nonexistent/never.bmp", 90));
    DeleteDC(hdc);
    for (int i = 0; i < PL_FunctionCount; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(nullptr, PictureLibEntry(i));
    }
    EXPECT_EQ(nullptr, PictureLibEntry(-1));
    EXPECT_EQ(nullptr, PictureLibEntry(PL_FunctionCount));
}

// The real library from the build tree, as the converter loads it.
TEST(PictureLibBound, CountsReferencesAndClearsTheTableOnTheLastFree)
{
    ASSERT_EQ(1, PictureLibLoad());
    EXPECT_EQ(1u, PictureLibRefCount());
    for (int i = 0; i < PL_FunctionCount; ++i) {
        SCOPED_TRACE(i);
        EXPECT_NE(nullptr, PictureLibEntry(i));
    }
    ASSERT_EQ(1, PictureLibLoad());
    EXPECT_EQ(2u, PictureLibRefCount());
    PictureLibFree();
    EXPECT_EQ(1u, PictureLibRefCount());
    EXPECT_NE(nullptr, PictureLibEntry(PL_CaptureDCToJPEG));

    // The forwarder hands its arguments over unchanged.
    TempDir dir;
    HDC hdc = CreateCompatibleDC(nullptr);
    HBITMAP bmp = CreateCompatibleBitmap(hdc, 6, 4);
    HGDIOBJ old = SelectObject(hdc, bmp);
    SetPixel(hdc, 2, 1, RGB(10, 20, 30));
    const std::string path = dir / "page_1.bmp";
    EXPECT_EQ(1, PictureLibCaptureDC(hdc, 2, 1, 5, 3, path.c_str(), 90));
    std::string file = ReadWhole(path);
    ASSERT_EQ(54u + 12 * 2, file.size());
    EXPECT_EQ(3, (unsigned char)file[18]);  // width 3
    EXPECT_EQ(2, (unsigned char)file[22]);  // height 2
    // Top row (the last in the file) starts with the pixel at (2, 1): blue, green, red.
    EXPECT_EQ(std::string("\x1e\x14\x0a", 3), file.substr(54 + 12, 3));
    EXPECT_EQ(0, PictureLibCaptureDC(hdc, 0, 0, 0, 0, (dir / "empty.bmp").c_str(), 90));

    PictureLibFree();
    EXPECT_EQ(0u, PictureLibRefCount());
    for (int i = 0; i < PL_FunctionCount; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(nullptr, PictureLibEntry(i));
    }
    EXPECT_EQ(0, PictureLibCaptureDC(hdc, 0, 0, 6, 4, (dir / "after.bmp").c_str(), 90));
    EXPECT_FALSE(std::filesystem::exists(dir / "after.bmp"));
    PictureLibFree();
    EXPECT_EQ(0u, PictureLibRefCount());

    // A later load binds again.
    ASSERT_EQ(1, PictureLibLoad());
    EXPECT_NE(nullptr, PictureLibEntry(PL_SaveImageObject));
    PictureLibFree();
    SelectObject(hdc, old);
    DeleteObject(bmp);
    DeleteDC(hdc);
}

}  // namespace
