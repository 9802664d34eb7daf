// Storage on memory: a growable byte array (ILockBytes) and a storage object on it that serves
// the embedding. The storage keeps the class written into it and its access mode; it holds no
// elements, as the embedded objects of this program keep their data themselves.
#include "ole_private.h"

#include <comobject.h>

#include <atomic>
#include <cstring>
#include <new>
#include <vector>

namespace {

// The largest array served (4 GiB); beyond it SetSize and WriteAt fail as out of memory.
const ULONGLONG kMaxBytes = ULONGLONG(1) << 32;

class MemLockBytes final : public com::Object<com::Answers<ILockBytes, &IID_ILockBytes>> {
public:
    HRESULT STDMETHODCALLTYPE ReadAt(ULARGE_INTEGER ulOffset, void* pv, ULONG cb, ULONG* pcbRead) override
    {
        if (pcbRead)
            *pcbRead = 0;
        if (!pv && cb)
            return STG_E_INVALIDPOINTER;
        const ULONGLONG size = m_bytes.size();
        if (ulOffset.QuadPart >= size)
            return S_OK; // reading at or past the end reads nothing
        const ULONGLONG avail = size - ulOffset.QuadPart;
        const ULONG n = avail < cb ? ULONG(avail) : cb;
        if (n)
            std::memcpy(pv, m_bytes.data() + ulOffset.QuadPart, n);
        if (pcbRead)
            *pcbRead = n;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE WriteAt(ULARGE_INTEGER ulOffset, const void* pv, ULONG cb, ULONG* pcbWritten) override
    {
        if (pcbWritten)
            *pcbWritten = 0;
        if (!pv && cb)
            return STG_E_INVALIDPOINTER;
        if (ulOffset.QuadPart > kMaxBytes || cb > kMaxBytes - ulOffset.QuadPart)
            return STG_E_INSUFFICIENTMEMORY;
        const ULONGLONG end = ulOffset.QuadPart + cb;
        if (end > m_bytes.size() && !Resize(end))
            return STG_E_INSUFFICIENTMEMORY;
        if (cb)
            std::memcpy(m_bytes.data() + ulOffset.QuadPart, pv, cb);
        if (pcbWritten)
            *pcbWritten = cb;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Flush() override { return S_OK; } // memory is the backing store
    HRESULT STDMETHODCALLTYPE SetSize(ULARGE_INTEGER cb) override
    {
        if (cb.QuadPart > kMaxBytes || !Resize(cb.QuadPart))
            return STG_E_INSUFFICIENTMEMORY;
        return S_OK;
    }
    // Memory byte arrays do not lock regions, as on Windows.
    HRESULT STDMETHODCALLTYPE LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return STG_E_INVALIDFUNCTION; }
    HRESULT STDMETHODCALLTYPE UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return STG_E_INVALIDFUNCTION; }
    HRESULT STDMETHODCALLTYPE Stat(STATSTG* pstatstg, DWORD grfStatFlag) override
    {
        if (!pstatstg)
            return STG_E_INVALIDPOINTER;
        std::memset(pstatstg, 0, sizeof(*pstatstg));
        pstatstg->type = STGTY_LOCKBYTES;
        pstatstg->cbSize.QuadPart = m_bytes.size();
        return S_OK;
    }

private:
    bool Resize(ULONGLONG n)
    {
        try {
            m_bytes.resize(size_t(n));
        } catch (const std::bad_alloc&) {
            return false;
        }
        return true;
    }

    std::vector<BYTE> m_bytes;
};

class MemStorage final : public com::Object<com::Answers<IStorage, &IID_IStorage>> {
public:
    MemStorage(ILockBytes* pBytes, DWORD grfMode) : m_pBytes(pBytes), m_grfMode(grfMode) { m_pBytes->AddRef(); }
    ~MemStorage() override { m_pBytes->Release(); }

    // Elements are not kept by this storage.
    HRESULT STDMETHODCALLTYPE CreateStream(const OLECHAR*, DWORD, DWORD, DWORD, IStream** ppstm) override
    {
        return NoElements(reinterpret_cast<void**>(ppstm));
    }
    HRESULT STDMETHODCALLTYPE OpenStream(const OLECHAR*, void*, DWORD, DWORD, IStream** ppstm) override
    {
        if (ppstm)
            *ppstm = nullptr;
        return ppstm ? STG_E_FILENOTFOUND : STG_E_INVALIDPOINTER;
    }
    HRESULT STDMETHODCALLTYPE CreateStorage(const OLECHAR*, DWORD, DWORD, DWORD, IStorage** ppstg) override
    {
        return NoElements(reinterpret_cast<void**>(ppstg));
    }
    HRESULT STDMETHODCALLTYPE OpenStorage(const OLECHAR*, IStorage*, DWORD, SNB, DWORD, IStorage** ppstg) override
    {
        if (ppstg)
            *ppstg = nullptr;
        return ppstg ? STG_E_FILENOTFOUND : STG_E_INVALIDPOINTER;
    }
    HRESULT STDMETHODCALLTYPE CopyTo(DWORD, const IID*, SNB, IStorage* pstgDest) override
    {
        if (!pstgDest)
            return STG_E_INVALIDPOINTER;
        return pstgDest->SetClass(m_clsid); // the class is all there is to copy
    }
    HRESULT STDMETHODCALLTYPE MoveElementTo(const OLECHAR*, IStorage*, const OLECHAR*, DWORD) override
    {
        return STG_E_FILENOTFOUND;
    }
    // Direct mode: nothing is pending.
    HRESULT STDMETHODCALLTYPE Commit(DWORD) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE Revert() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE EnumElements(DWORD, void*, DWORD, IEnumSTATSTG** ppenum) override
    {
        return NoElements(reinterpret_cast<void**>(ppenum));
    }
    HRESULT STDMETHODCALLTYPE DestroyElement(const OLECHAR*) override { return STG_E_FILENOTFOUND; }
    HRESULT STDMETHODCALLTYPE RenameElement(const OLECHAR*, const OLECHAR*) override { return STG_E_FILENOTFOUND; }
    HRESULT STDMETHODCALLTYPE SetElementTimes(const OLECHAR*, const FILETIME*, const FILETIME*, const FILETIME*) override
    {
        return STG_E_FILENOTFOUND;
    }
    HRESULT STDMETHODCALLTYPE SetClass(REFCLSID clsid) override
    {
        if ((m_grfMode & 3) == STGM_READ)
            return STG_E_ACCESSDENIED;
        m_clsid = clsid;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetStateBits(DWORD grfStateBits, DWORD grfMask) override
    {
        m_stateBits = (m_stateBits & ~grfMask) | (grfStateBits & grfMask);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Stat(STATSTG* pstatstg, DWORD grfStatFlag) override
    {
        if (!pstatstg)
            return STG_E_INVALIDPOINTER;
        std::memset(pstatstg, 0, sizeof(*pstatstg));
        pstatstg->type = STGTY_STORAGE;
        pstatstg->grfMode = m_grfMode;
        pstatstg->clsid = m_clsid;
        pstatstg->grfStateBits = m_stateBits;
        return S_OK;
    }

private:
    static HRESULT NoElements(void** ppv)
    {
        if (!ppv)
            return STG_E_INVALIDPOINTER;
        *ppv = nullptr;
        return STG_E_INVALIDFUNCTION;
    }

    ILockBytes* m_pBytes;
    DWORD m_grfMode;
    CLSID m_clsid = GUID_NULL;
    DWORD m_stateBits = 0;
};

} // namespace

extern "C" HRESULT WINAPI CreateILockBytesOnHGlobal(HGLOBAL hGlobal, BOOL fDeleteOnRelease, ILockBytes** pplkbyt)
{
    if (!pplkbyt)
        return E_INVALIDARG;
    *pplkbyt = nullptr;
    if (hGlobal)
        return E_INVALIDARG; // only new arrays are served
    MemLockBytes* p = new (std::nothrow) MemLockBytes;
    if (!p)
        return E_OUTOFMEMORY;
    *pplkbyt = p;
    return S_OK;
}

extern "C" HRESULT WINAPI StgCreateDocfileOnILockBytes(ILockBytes* plkbyt, DWORD grfMode, DWORD reserved,
                                                       IStorage** ppstgOpen)
{
    if (!ppstgOpen)
        return STG_E_INVALIDPOINTER;
    *ppstgOpen = nullptr;
    if (!plkbyt)
        return STG_E_INVALIDPOINTER;
    if (reserved != 0)
        return STG_E_INVALIDPARAMETER;
    if ((grfMode & 3) == 3)
        return STG_E_INVALIDFLAG;
    // A new storage starts the byte array afresh.
    ULARGE_INTEGER zero;
    zero.QuadPart = 0;
    HRESULT hr = plkbyt->SetSize(zero);
    if (FAILED(hr))
        return hr;
    MemStorage* p = new (std::nothrow) MemStorage(plkbyt, grfMode);
    if (!p)
        return STG_E_INSUFFICIENTMEMORY;
    *ppstgOpen = p;
    return S_OK;
}
