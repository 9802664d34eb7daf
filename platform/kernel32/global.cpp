// kernel32: global memory blocks. A moveable block's handle is not its address: GlobalLock
// gives the address and counts locks; a fixed block's handle is its address.
#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <mutex>
#include <unordered_map>

#include "../internal/global.h"

#ifndef NO_ERROR
#define NO_ERROR 0L
#endif
#ifndef ERROR_NOT_LOCKED
#define ERROR_NOT_LOCKED 158L
#endif

namespace {

struct GlobalBlock {
    void* data;
    SIZE_T size;
    UINT flags;
    unsigned locks;
};

std::mutex s_lock;
// Every live block by its handle; a handle not in here is invalid.
std::unordered_map<HGLOBAL, GlobalBlock*>& Blocks()
{
    static auto* blocks = new std::unordered_map<HGLOBAL, GlobalBlock*>;
    return *blocks;
}

GlobalBlock* Find(HGLOBAL h)
{
    auto it = Blocks().find(h);
    return it == Blocks().end() ? nullptr : it->second;
}

}  // namespace

HGLOBAL WINAPI GlobalAlloc(UINT uFlags, SIZE_T dwBytes)
{
    auto* b = static_cast<GlobalBlock*>(malloc(sizeof(GlobalBlock)));
    // A zero-byte request still gets memory, so that every block has a distinct address.
    void* data = (uFlags & GMEM_ZEROINIT) ? calloc(1, dwBytes ? dwBytes : 1) : malloc(dwBytes ? dwBytes : 1);
    if (!b || !data) {
        free(b);
        free(data);
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    b->data = data;
    b->size = dwBytes;
    b->flags = uFlags;
    b->locks = 0;
    HGLOBAL h = (uFlags & GMEM_MOVEABLE) ? static_cast<HGLOBAL>(b) : static_cast<HGLOBAL>(data);
    try {
        std::lock_guard<std::mutex> guard(s_lock);
        Blocks()[h] = b;
    } catch (...) {
        free(data);
        free(b);
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    return h;
}

LPVOID WINAPI GlobalLock(HGLOBAL hMem)
{
    std::lock_guard<std::mutex> guard(s_lock);
    GlobalBlock* b = Find(hMem);
    if (!b) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    if (b->flags & GMEM_MOVEABLE)
        ++b->locks;
    return b->data;
}

BOOL WINAPI GlobalUnlock(HGLOBAL hMem)
{
    std::lock_guard<std::mutex> guard(s_lock);
    GlobalBlock* b = Find(hMem);
    if (!b) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (b->locks == 0) {
        SetLastError(ERROR_NOT_LOCKED);
        return FALSE;
    }
    if (--b->locks == 0) {
        SetLastError(NO_ERROR);
        return FALSE;
    }
    return TRUE;
}

HGLOBAL WINAPI GlobalFree(HGLOBAL hMem)
{
    GlobalBlock* b = nullptr;
    {
        std::lock_guard<std::mutex> guard(s_lock);
        b = Find(hMem);
        if (b)
            Blocks().erase(hMem);
    }
    if (!b) {
        SetLastError(ERROR_INVALID_HANDLE);
        return hMem;
    }
    free(b->data);
    free(b);
    return nullptr;
}

SIZE_T WINAPI GlobalSize(HGLOBAL hMem)
{
    std::lock_guard<std::mutex> guard(s_lock);
    GlobalBlock* b = Find(hMem);
    if (!b) {
        SetLastError(ERROR_INVALID_HANDLE);
        return 0;
    }
    return b->size;
}

namespace platform {
namespace kernel {

bool GlobalResize(HGLOBAL hMem, SIZE_T dwBytes)
{
    std::lock_guard<std::mutex> guard(s_lock);
    GlobalBlock* b = Find(hMem);
    // Only a moveable block can move; a fixed block's handle is its address.
    if (!b || !(b->flags & GMEM_MOVEABLE))
        return false;
    void* data = realloc(b->data, dwBytes ? dwBytes : 1);
    if (!data)
        return false;
    if (dwBytes > b->size)
        memset(static_cast<char*>(data) + b->size, 0, dwBytes - b->size);
    b->data = data;
    b->size = dwBytes;
    return true;
}

}  // namespace kernel
}  // namespace platform
