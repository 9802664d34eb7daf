// Memory streams over global memory and OLE pictures loaded from them.
#include <gtest/gtest.h>

#include <objbase.h>
#include <olectl.h>
#include <windows.h>

#include <string>
#include <vector>

#include "../TestImages.h"

using namespace testimages;

namespace {

TEST(HGlobalStream, ReadSeekWriteStatOverTheBlock)
{
    HGLOBAL h = GlobalAlloc(GMEM_MOVEABLE, 5);
    memcpy(GlobalLock(h), "abcde", 5);
    GlobalUnlock(h);
    IStream* s = nullptr;
    ASSERT_EQ(S_OK, CreateStreamOnHGlobal(h, FALSE, &s));
    char buf[16] = {};
    ULONG n = 0xdeadbeef;
    EXPECT_EQ(S_OK, s->Read(buf, 3, &n));
    EXPECT_EQ(3u, n);
    EXPECT_EQ(std::string("abc"), std::string(buf, 3));
    EXPECT_EQ(S_OK, s->Read(buf, 10, &n));
    EXPECT_EQ(2u, n);
    EXPECT_EQ(S_OK, s->Read(buf, 10, &n));
    EXPECT_EQ(0u, n);
    LARGE_INTEGER off;
    off.QuadPart = -2;
    ULARGE_INTEGER pos;
    EXPECT_EQ(S_OK, s->Seek(off, STREAM_SEEK_END, &pos));
    EXPECT_EQ(3u, pos.QuadPart);
    off.QuadPart = -10;
    EXPECT_NE(S_OK, s->Seek(off, STREAM_SEEK_CUR, &pos));
    EXPECT_EQ(S_OK, s->Write("XYZ", 3, &n));  // grows the block by one byte
    EXPECT_EQ(6u, GlobalSize(h));
    STATSTG st;
    EXPECT_EQ(S_OK, s->Stat(&st, STATFLAG_NONAME));
    EXPECT_EQ(6u, st.cbSize.QuadPart);
    EXPECT_EQ(0, memcmp(GlobalLock(h), "abcXYZ", 6));
    GlobalUnlock(h);
    IUnknown* unk = nullptr;
    EXPECT_EQ(S_OK, s->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&unk)));
    EXPECT_EQ(1u, unk->Release());
    EXPECT_EQ(0u, s->Release());
    // Not deleted on release: still the caller's.
    EXPECT_EQ(6u, GlobalSize(h));
    EXPECT_EQ(nullptr, GlobalFree(h));

    // A stream made without a block owns a new one.
    ASSERT_EQ(S_OK, CreateStreamOnHGlobal(nullptr, TRUE, &s));
    EXPECT_EQ(S_OK, s->Write("hello", 5, &n));
    off.QuadPart = 0;
    s->Seek(off, STREAM_SEEK_SET, nullptr);
    EXPECT_EQ(S_OK, s->Read(buf, 16, &n));
    EXPECT_EQ(5u, n);
    s->Release();
    EXPECT_EQ(E_INVALIDARG, CreateStreamOnHGlobal(h, TRUE, &s));  // freed above
    EXPECT_EQ(E_INVALIDARG, CreateStreamOnHGlobal(nullptr, TRUE, nullptr));
}

IStream* StreamOf(const std::string& bytes)
{
    HGLOBAL h = GlobalAlloc(GMEM_MOVEABLE, bytes.size());
    memcpy(GlobalLock(h), bytes.data(), bytes.size());
    GlobalUnlock(h);
    IStream* s = nullptr;
    CreateStreamOnHGlobal(h, TRUE, &s);
    return s;
}

TEST(OleLoadPicture, BitmapPicturesFromGifAndPng)
{
    std::vector<GifColorType> colors = {{255, 0, 0}, {0, 0, 255}};
    std::string gif = MakeGif(3, 2, colors, {0, 1, 0, 1, 1, 1});
    IStream* s = StreamOf(gif);
    IPicture* pic = nullptr;
    ASSERT_EQ(S_OK, OleLoadPicture(s, (LONG)gif.size(), FALSE, IID_IPicture, reinterpret_cast<void**>(&pic)));
    SHORT type = 0;
    EXPECT_EQ(S_OK, pic->get_Type(&type));
    EXPECT_EQ(PICTYPE_BITMAP, type);
    OLE_HANDLE handle = 0;
    ASSERT_EQ(S_OK, pic->get_Handle(&handle));
    HBITMAP hbm = reinterpret_cast<HBITMAP>(handle);
    BITMAP bm = {};
    ASSERT_NE(0, GetObjectW(hbm, sizeof(bm), &bm));
    EXPECT_EQ(3, bm.bmWidth);
    EXPECT_EQ(2, bm.bmHeight);
    LONG hw = 0;
    pic->get_Width(&hw);
    EXPECT_EQ(3 * 2540 / 96, hw);
    HDC dc = CreateCompatibleDC(nullptr);
    HGDIOBJ old = SelectObject(dc, hbm);
    EXPECT_EQ(RGB(255, 0, 0), GetPixel(dc, 0, 0));
    EXPECT_EQ(RGB(0, 0, 255), GetPixel(dc, 1, 0));
    EXPECT_EQ(RGB(0, 0, 255), GetPixel(dc, 0, 1));
    SelectObject(dc, old);
    DeleteDC(dc);
    EXPECT_EQ(0u, pic->Release());
    // The picture owned its bitmap.
    EXPECT_EQ(0, GetObjectW(hbm, sizeof(bm), &bm));
    s->Release();

    // Size 0 reads to the end of the stream.
    PngRecipe rgba;
    rgba.colorType = PNG_COLOR_TYPE_RGB_ALPHA;
    rgba.rows = {{1, 2, 3, 0, 5, 6, 7, 255}, {9, 10, 11, 12, 13, 14, 15, 16}};
    s = StreamOf(MakePng(rgba));
    IUnknown* unk = nullptr;
    ASSERT_EQ(S_OK, OleLoadPicture(s, 0, FALSE, IID_IUnknown, reinterpret_cast<void**>(&unk)));
    ASSERT_EQ(S_OK, unk->QueryInterface(IID_IPicture, reinterpret_cast<void**>(&pic)));
    pic->get_Handle(&handle);
    dc = CreateCompatibleDC(nullptr);
    old = SelectObject(dc, reinterpret_cast<HBITMAP>(handle));
    EXPECT_EQ(RGB(1, 2, 3), GetPixel(dc, 0, 0));  // alpha dropped
    SelectObject(dc, old);
    DeleteDC(dc);
    pic->Release();
    unk->Release();
    s->Release();
}

TEST(OleLoadPicture, RefusesJunkAndOtherInterfaces)
{
    IStream* s = StreamOf("this is not a picture");
    void* out = reinterpret_cast<void*>(0xdeadbeef);
    EXPECT_EQ(CTL_E_INVALIDPICTURE, OleLoadPicture(s, 21, FALSE, IID_IPicture, &out));
    EXPECT_EQ(nullptr, out);
    s->Release();
    std::string gif = MakeGif(1, 1, {{1, 1, 1}}, {0});
    s = StreamOf(gif);
    EXPECT_EQ(E_NOINTERFACE, OleLoadPicture(s, (LONG)gif.size(), FALSE, IID_IStream, &out));
    // Only the first bytes: the picture is cut and refused.
    EXPECT_EQ(CTL_E_INVALIDPICTURE, OleLoadPicture(s, 12, FALSE, IID_IPicture, &out));
    s->Release();
    EXPECT_EQ(E_POINTER, OleLoadPicture(nullptr, 0, FALSE, IID_IPicture, &out));
    EXPECT_EQ(E_POINTER, OleLoadPicture(s, 0, FALSE, IID_IPicture, nullptr));
}

}  // namespace
