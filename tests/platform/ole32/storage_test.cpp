// Storage on memory: the byte array and the storage object that the embedding is given.
#include <ole2.h>

#include <gtest/gtest.h>

#include <cstring>

namespace {

ULARGE_INTEGER At(ULONGLONG n)
{
    ULARGE_INTEGER u;
    u.QuadPart = n;
    return u;
}

TEST(LockBytesTest, WritesGrowTheArrayAndReadsStopAtItsEnd)
{
    ILockBytes* bytes = nullptr;
    ASSERT_EQ(CreateILockBytesOnHGlobal(nullptr, TRUE, &bytes), S_OK);
    ASSERT_NE(bytes, nullptr);
    ULONG n = 0xdeadbeef;
    ASSERT_EQ(bytes->WriteAt(At(4), "abcd", 4, &n), S_OK);
    EXPECT_EQ(n, 4u);
    STATSTG st;
    ASSERT_EQ(bytes->Stat(&st, STATFLAG_NONAME), S_OK);
    EXPECT_EQ(st.type, DWORD(STGTY_LOCKBYTES));
    EXPECT_EQ(st.cbSize.QuadPart, 8u);

    char buf[16];
    std::memset(buf, '#', sizeof(buf));
    ASSERT_EQ(bytes->ReadAt(At(0), buf, sizeof(buf), &n), S_OK);
    EXPECT_EQ(n, 8u);
    EXPECT_EQ(std::memcmp(buf, "\0\0\0\0abcd", 8), 0) << "the gap reads as zeros";
    EXPECT_EQ(buf[8], '#');
    ASSERT_EQ(bytes->ReadAt(At(100), buf, 4, &n), S_OK);
    EXPECT_EQ(n, 0u);

    ASSERT_EQ(bytes->SetSize(At(2)), S_OK);
    ASSERT_EQ(bytes->ReadAt(At(0), buf, sizeof(buf), &n), S_OK);
    EXPECT_EQ(n, 2u);
    EXPECT_EQ(bytes->LockRegion(At(0), At(1), LOCK_WRITE), STG_E_INVALIDFUNCTION);
    // Beyond what can be held: refused, nothing written.
    EXPECT_EQ(bytes->WriteAt(At(~0ull - 1), "x", 1, &n), STG_E_INSUFFICIENTMEMORY);
    EXPECT_EQ(n, 0u);
    EXPECT_EQ(bytes->Release(), 0u);
}

TEST(LockBytesTest, OnlyNewArraysAreServed)
{
    ILockBytes* bytes = reinterpret_cast<ILockBytes*>(uintptr_t(0xdeadbeef));
    EXPECT_EQ(CreateILockBytesOnHGlobal(reinterpret_cast<HGLOBAL>(uintptr_t(0x10)), TRUE, &bytes), E_INVALIDARG);
    EXPECT_EQ(bytes, nullptr);
    EXPECT_EQ(CreateILockBytesOnHGlobal(nullptr, TRUE, nullptr), E_INVALIDARG);
}

TEST(MemoryStorageTest, ANewStorageKeepsItsBytesClassAndMode)
{
    ILockBytes* bytes = nullptr;
    ASSERT_EQ(CreateILockBytesOnHGlobal(nullptr, TRUE, &bytes), S_OK);
    IStorage* stg = nullptr;
    const DWORD mode = STGM_CREATE | STGM_READWRITE | STGM_SHARE_EXCLUSIVE;
    ASSERT_EQ(mode, 0x1012u);
    ASSERT_EQ(StgCreateDocfileOnILockBytes(bytes, mode, 0, &stg), S_OK);
    ASSERT_NE(stg, nullptr);
    // The storage holds the bytes: the caller's reference can go first.
    bytes->Release();

    const CLSID cls = {0x12345678, 1, 2, {3, 4, 5, 6, 7, 8, 9, 10}};
    ASSERT_EQ(stg->SetClass(cls), S_OK);
    STATSTG st;
    ASSERT_EQ(stg->Stat(&st, STATFLAG_NONAME), S_OK);
    EXPECT_EQ(st.type, DWORD(STGTY_STORAGE));
    EXPECT_EQ(st.grfMode, mode);
    EXPECT_TRUE(IsEqualCLSID(st.clsid, cls));
    EXPECT_EQ(stg->Commit(STGC_DEFAULT), S_OK);

    // Elements are not kept: asking for them fails and gives nothing.
    IStream* stm = reinterpret_cast<IStream*>(uintptr_t(0xdeadbeef));
    EXPECT_EQ(stg->CreateStream(u"Contents", STGM_CREATE | STGM_READWRITE | STGM_SHARE_EXCLUSIVE, 0, 0, &stm),
              STG_E_INVALIDFUNCTION);
    EXPECT_EQ(stm, nullptr);
    stm = reinterpret_cast<IStream*>(uintptr_t(0xdeadbeef));
    EXPECT_EQ(stg->OpenStream(u"Contents", nullptr, STGM_READ | STGM_SHARE_EXCLUSIVE, 0, &stm), STG_E_FILENOTFOUND);
    EXPECT_EQ(stm, nullptr);
    EXPECT_EQ(stg->Release(), 0u);
}

TEST(MemoryStorageTest, BadArgumentsAreRefused)
{
    IStorage* stg = reinterpret_cast<IStorage*>(uintptr_t(0xdeadbeef));
    EXPECT_EQ(StgCreateDocfileOnILockBytes(nullptr, STGM_CREATE | STGM_READWRITE, 0, &stg), STG_E_INVALIDPOINTER);
    EXPECT_EQ(stg, nullptr);
    ILockBytes* bytes = nullptr;
    ASSERT_EQ(CreateILockBytesOnHGlobal(nullptr, TRUE, &bytes), S_OK);
    EXPECT_EQ(StgCreateDocfileOnILockBytes(bytes, STGM_CREATE | STGM_READWRITE, 1, &stg), STG_E_INVALIDPARAMETER);
    EXPECT_EQ(StgCreateDocfileOnILockBytes(bytes, STGM_CREATE | 3, 0, &stg), STG_E_INVALIDFLAG);
    EXPECT_EQ(StgCreateDocfileOnILockBytes(bytes, STGM_CREATE, 0, nullptr), STG_E_INVALIDPOINTER);
    // A read-only storage refuses to record a class.
    ASSERT_EQ(StgCreateDocfileOnILockBytes(bytes, STGM_READ, 0, &stg), S_OK);
    EXPECT_EQ(stg->SetClass(GUID_NULL), STG_E_ACCESSDENIED);
    stg->Release();
    EXPECT_EQ(bytes->Release(), 0u);
}

} // namespace
