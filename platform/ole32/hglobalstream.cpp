// ole32: a stream over a global memory block (CreateStreamOnHGlobal).
#include <comobject.h>
#include <objbase.h>
#include <windows.h>

#include <atomic>
#include <cstring>
#include <new>

#include "../internal/global.h"

#ifndef STG_E_MEDIUMFULL
#define STG_E_MEDIUMFULL _HRESULT_TYPEDEF_(0x80030070L)
#endif

namespace {

class HGlobalStream final : public com::Object<com::Answers<IStream, &IID_IStream, &IID_ISequentialStream>> {
public:
    HGlobalStream(HGLOBAL hGlobal, bool bDeleteOnRelease) : m_hGlobal(hGlobal), m_bDelete(bDeleteOnRelease) {}

    // Reads up to cb bytes from the position; fewer at the end of the block.
    HRESULT STDMETHODCALLTYPE Read(void* pv, ULONG cb, ULONG* pcbRead) override
    {
        if (!pv)
            return STG_E_INVALIDPOINTER;
        const SIZE_T size = GlobalSize(m_hGlobal);
        ULONG n = 0;
        if (m_nPos < size) {
            const SIZE_T left = size - m_nPos;
            n = left < cb ? (ULONG)left : cb;
            const BYTE* p = static_cast<const BYTE*>(GlobalLock(m_hGlobal));
            if (!p)
                return E_OUTOFMEMORY;
            memcpy(pv, p + m_nPos, n);
            GlobalUnlock(m_hGlobal);
            m_nPos += n;
        }
        if (pcbRead)
            *pcbRead = n;
        return S_OK;
    }
    // Writes at the position, growing the block as needed.
    HRESULT STDMETHODCALLTYPE Write(const void* pv, ULONG cb, ULONG* pcbWritten) override
    {
        if (!pv)
            return STG_E_INVALIDPOINTER;
        if (pcbWritten)
            *pcbWritten = 0;
        const uint64_t end = m_nPos + (uint64_t)cb;
        if (end > GlobalSize(m_hGlobal) && !platform::kernel::GlobalResize(m_hGlobal, (SIZE_T)end))
            return STG_E_MEDIUMFULL;
        BYTE* p = static_cast<BYTE*>(GlobalLock(m_hGlobal));
        if (!p)
            return E_OUTOFMEMORY;
        memcpy(p + m_nPos, pv, cb);
        GlobalUnlock(m_hGlobal);
        m_nPos = end;
        if (pcbWritten)
            *pcbWritten = cb;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Seek(LARGE_INTEGER dlibMove, DWORD dwOrigin, ULARGE_INTEGER* plibNewPosition) override
    {
        int64_t base;
        switch (dwOrigin) {
        case STREAM_SEEK_SET: base = 0; break;
        case STREAM_SEEK_CUR: base = (int64_t)m_nPos; break;
        case STREAM_SEEK_END: base = (int64_t)GlobalSize(m_hGlobal); break;
        default: return STG_E_INVALIDFUNCTION;
        }
        const int64_t pos = base + dlibMove.QuadPart;
        if (pos < 0)
            return STG_E_INVALIDFUNCTION;
        m_nPos = (uint64_t)pos;
        if (plibNewPosition)
            plibNewPosition->QuadPart = m_nPos;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetSize(ULARGE_INTEGER libNewSize) override
    {
        return platform::kernel::GlobalResize(m_hGlobal, (SIZE_T)libNewSize.QuadPart) ? S_OK : STG_E_MEDIUMFULL;
    }
    HRESULT STDMETHODCALLTYPE CopyTo(IStream*, ULARGE_INTEGER, ULARGE_INTEGER*, ULARGE_INTEGER*) override
    {
        return E_NOTIMPL;
    }
    // Memory has nothing to flush.
    HRESULT STDMETHODCALLTYPE Commit(DWORD) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE Revert() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override
    {
        return STG_E_INVALIDFUNCTION;
    }
    HRESULT STDMETHODCALLTYPE UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override
    {
        return STG_E_INVALIDFUNCTION;
    }
    HRESULT STDMETHODCALLTYPE Stat(STATSTG* pstatstg, DWORD) override
    {
        if (!pstatstg)
            return STG_E_INVALIDPOINTER;
        memset(pstatstg, 0, sizeof(*pstatstg));
        pstatstg->type = STGTY_STREAM;
        pstatstg->cbSize.QuadPart = GlobalSize(m_hGlobal);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Clone(IStream**) override { return E_NOTIMPL; }

private:
    ~HGlobalStream() override
    {
        if (m_bDelete)
            GlobalFree(m_hGlobal);
    }
    HGLOBAL m_hGlobal;
    bool m_bDelete;
    uint64_t m_nPos = 0;
};

}  // namespace

HRESULT WINAPI CreateStreamOnHGlobal(HGLOBAL hGlobal, BOOL fDeleteOnRelease, LPSTREAM* ppstm)
{
    if (!ppstm)
        return E_INVALIDARG;
    *ppstm = nullptr;
    // NULL asks for a new, empty moveable block.
    const bool bNew = !hGlobal;
    if (bNew) {
        hGlobal = GlobalAlloc(GMEM_MOVEABLE, 0);
        if (!hGlobal)
            return E_OUTOFMEMORY;
    } else if (!GlobalLock(hGlobal)) {
        return E_INVALIDARG;
    } else {
        GlobalUnlock(hGlobal);
    }
    auto* s = new (std::nothrow) HGlobalStream(hGlobal, fDeleteOnRelease != FALSE);
    if (!s) {
        if (bNew)
            GlobalFree(hGlobal);
        return E_OUTOFMEMORY;
    }
    *ppstm = s;
    return S_OK;
}
