// The stand-in's COM methods when memory runs out: the method fails with E_OUTOFMEMORY and
// the object stays usable; nothing thrown leaves it. Needs no engine: allocation fails
// before the engine is reached.
#include <ole2.h>
#include <oleclasses.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>

// The replacement pair below is malloc/free on purpose; the compiler cannot tell.
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"

namespace {
// While set, every allocation through operator new fails.
std::atomic<bool> gFailAllocations{false};
}  // namespace

void* operator new(std::size_t n)
{
    if (gFailAllocations)
        throw std::bad_alloc();
    if (void* p = std::malloc(n ? n : 1))
        return p;
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }

namespace {

TEST(WordServerFailure, LoadOutOfMemoryFailsAndTheObjectStaysUsable)
{
    ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr)));
    IPersistFile* file = nullptr;
    ASSERT_EQ(CoCreateInstance(CLSID_WordDocument, nullptr, CLSCTX_INPROC_SERVER, IID_IPersistFile,
                               reinterpret_cast<void**>(&file)),
              S_OK);
    IOleObject* ole = nullptr;
    ASSERT_EQ(file->QueryInterface(IID_IOleObject, reinterpret_cast<void**>(&ole)), S_OK);

    gFailAllocations = true;
    const HRESULT load = file->Load(u"/nonexistent/folder/report.doc", STGM_READ);
    const HRESULT close = ole->Close(OLECLOSE_NOSAVE);
    gFailAllocations = false;
    EXPECT_EQ(load, E_OUTOFMEMORY);
    EXPECT_EQ(close, S_OK) << "nothing loaded: nothing to close";

    // With memory again the same object answers as usual: a missing file is not found.
    EXPECT_EQ(file->Load(u"/nonexistent/folder/report.doc", STGM_READ), STG_E_FILENOTFOUND);
    SIZEL size = {(LONG)0xdeadbeef, (LONG)0xdeadbeef};
    EXPECT_EQ(ole->GetExtent(DVASPECT_CONTENT, &size), OLE_E_BLANK);
    EXPECT_EQ(size.cx, (LONG)0xdeadbeef);
    ole->Release();
    file->Release();
    CoUninitialize();
}

}  // namespace
