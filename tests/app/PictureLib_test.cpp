#include <gtest/gtest.h>

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

}  // namespace
