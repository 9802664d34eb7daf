// OLE picture loading (OleLoadPicture): bitmap pictures decoded by the GDI+ codecs and held
// as GDI bitmaps.
#include <comobject.h>
#include <objbase.h>
#include <olectl.h>
#include <windows.h>

#include <atomic>
#include <memory>
#include <new>
#include <vector>

#include "../internal/gdi.h"
#include "../internal/gdiplus.h"

// {7BF80980-BF32-101A-8BBB-00AA00300CAB}
extern "C" const IID IID_IPicture = {0x7BF80980, 0xBF32, 0x101A, {0x8B, 0xBB, 0x00, 0xAA, 0x00, 0x30, 0x0C, 0xAB}};

namespace {

// A picture of type bitmap that owns its bitmap and deletes it when released.
class BitmapPicture final : public com::Object<com::Answers<IPicture, &IID_IPicture>> {
public:
    explicit BitmapPicture(platform::gdi::Bitmap* bmp) : m_pBitmap(bmp) {}

    HRESULT STDMETHODCALLTYPE get_Handle(OLE_HANDLE* pHandle) override
    {
        if (!pHandle)
            return E_POINTER;
        *pHandle = reinterpret_cast<OLE_HANDLE>(m_pBitmap);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_hPal(OLE_HANDLE* phPal) override
    {
        if (!phPal)
            return E_POINTER;
        *phPal = 0;  // 32-bit surfaces need no palette
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_Type(SHORT* pType) override
    {
        if (!pType)
            return E_POINTER;
        *pType = PICTYPE_BITMAP;
        return S_OK;
    }
    // Sizes in HIMETRIC at the screen's resolution.
    HRESULT STDMETHODCALLTYPE get_Width(OLE_XSIZE_HIMETRIC* pWidth) override
    {
        if (!pWidth)
            return E_POINTER;
        *pWidth = (OLE_XSIZE_HIMETRIC)((int64_t)m_pBitmap->width * 2540 / platform::gdi::ScreenDpi());
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_Height(OLE_YSIZE_HIMETRIC* pHeight) override
    {
        if (!pHeight)
            return E_POINTER;
        *pHeight = (OLE_YSIZE_HIMETRIC)((int64_t)m_pBitmap->height * 2540 / platform::gdi::ScreenDpi());
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Render(HDC, LONG, LONG, LONG, LONG, OLE_XPOS_HIMETRIC, OLE_YPOS_HIMETRIC,
                                     OLE_XSIZE_HIMETRIC, OLE_YSIZE_HIMETRIC, LPCRECT) override
    {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE set_hPal(OLE_HANDLE) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_CurDC(HDC* phDC) override
    {
        if (!phDC)
            return E_POINTER;
        *phDC = nullptr;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SelectPicture(HDC, HDC*, OLE_HANDLE*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_KeepOriginalFormat(BOOL* pKeep) override
    {
        if (!pKeep)
            return E_POINTER;
        *pKeep = FALSE;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE put_KeepOriginalFormat(BOOL) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE PictureChanged() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE SaveAsFile(LPSTREAM, BOOL, LONG*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_Attributes(DWORD* pDwAttr) override
    {
        if (!pDwAttr)
            return E_POINTER;
        *pDwAttr = 0;  // opaque, not scalable
        return S_OK;
    }

private:
    // A bitmap the caller left selected into a DC is refused here and stays alive.
    ~BitmapPicture() override { DeleteObject(reinterpret_cast<HBITMAP>(m_pBitmap)); }
    platform::gdi::Bitmap* m_pBitmap;
};

// The stream's bytes: lSize of them, or all up to its end for 0.
HRESULT ReadStream(IStream* stream, LONG lSize, std::vector<uint8_t>& data)
{
    const size_t limit = (size_t)platform::gdiplus::kMaxBitmapBytes;
    if (lSize < 0 || (size_t)lSize > limit)
        return E_INVALIDARG;
    uint8_t chunk[65536];
    for (;;) {
        ULONG want = sizeof(chunk);
        if (lSize > 0) {
            const size_t left = (size_t)lSize - data.size();
            if (left == 0)
                break;
            if (left < want)
                want = (ULONG)left;
        }
        ULONG got = 0;
        HRESULT hr = stream->Read(chunk, want, &got);
        if (FAILED(hr))
            return hr;
        if (got == 0)
            break;
        if (data.size() + got > limit)
            return E_OUTOFMEMORY;
        data.insert(data.end(), chunk, chunk + got);
    }
    return S_OK;
}

}  // namespace

HRESULT WINAPI OleLoadPicture(LPSTREAM lpstream, LONG lSize, BOOL fRunmode, REFIID riid, LPVOID* lplpvObj)
{
    if (!lplpvObj)
        return E_POINTER;
    *lplpvObj = nullptr;
    if (!lpstream)
        return E_POINTER;
    if (!IsEqualIID(riid, IID_IPicture) && !IsEqualIID(riid, IID_IUnknown))
        return E_NOINTERFACE;
    try {
        std::vector<uint8_t> data;
        HRESULT hr = ReadStream(lpstream, lSize, data);
        if (FAILED(hr))
            return hr;
        platform::gdiplus::Bitmap* decoded = nullptr;
        Gdiplus::Status st = platform::gdiplus::DecodeAny(data.data(), data.size(), &decoded);
        std::unique_ptr<platform::gdiplus::Bitmap> source(decoded);
        if (st == Gdiplus::OutOfMemory)
            return E_OUTOFMEMORY;
        if (st != Gdiplus::Ok || !source)
            return CTL_E_INVALIDPICTURE;
        platform::gdi::Bitmap* bmp = platform::gdi::NewBitmap(source->width, source->height);
        if (!bmp)
            return E_OUTOFMEMORY;
        // GDI surfaces hold 0x00RRGGBB: the alpha byte is dropped.
        for (int y = 0; y < source->height; ++y) {
            uint32_t* row = bmp->bits + (size_t)y * bmp->width;
            platform::gdiplus::RowToArgb(*source, y, row);
            for (int x = 0; x < bmp->width; ++x)
                row[x] &= 0x00FFFFFFu;
        }
        auto* pic = new (std::nothrow) BitmapPicture(bmp);
        if (!pic) {
            platform::gdi::FreeBitmap(bmp);
            return E_OUTOFMEMORY;
        }
        *lplpvObj = static_cast<IPicture*>(pic);
        return S_OK;
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}
