// Global memory: moveable blocks with lock counts, fixed blocks that are their own address.
#include <gtest/gtest.h>

#include <windows.h>

namespace {

TEST(GlobalMemory, MoveableBlocksCountLocksAndFixedBlocksAreTheirAddress)
{
    HGLOBAL h = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, 10);
    ASSERT_NE(nullptr, h);
    EXPECT_EQ(10u, GlobalSize(h));
    BYTE* p = static_cast<BYTE*>(GlobalLock(h));
    ASSERT_NE(nullptr, p);
    EXPECT_NE(static_cast<void*>(p), h);
    for (int i = 0; i < 10; ++i)
        EXPECT_EQ(0, p[i]);
    EXPECT_EQ(p, GlobalLock(h));
    EXPECT_TRUE(GlobalUnlock(h));  // one lock left
    SetLastError(1234);
    EXPECT_FALSE(GlobalUnlock(h));  // none left: FALSE with NO_ERROR
    EXPECT_EQ(0u, GetLastError());
    EXPECT_FALSE(GlobalUnlock(h));
    EXPECT_NE(0u, GetLastError());
    EXPECT_EQ(nullptr, GlobalFree(h));
    // A freed handle is refused everywhere.
    EXPECT_EQ(nullptr, GlobalLock(h));
    EXPECT_EQ(0u, GlobalSize(h));
    EXPECT_EQ(h, GlobalFree(h));

    HGLOBAL f = GlobalAlloc(GMEM_FIXED, 4);
    ASSERT_NE(nullptr, f);
    EXPECT_EQ(static_cast<void*>(f), GlobalLock(f));
    EXPECT_EQ(nullptr, GlobalFree(f));
    HGLOBAL z = GlobalAlloc(GMEM_MOVEABLE, 0);
    ASSERT_NE(nullptr, z);
    EXPECT_EQ(0u, GlobalSize(z));
    EXPECT_EQ(nullptr, GlobalFree(z));
    EXPECT_EQ(nullptr, GlobalLock(nullptr));
}

}  // namespace
