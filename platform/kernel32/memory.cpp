// The page allocator behind VirtualAlloc: anonymous mappings, zero-filled by the kernel.
#include "kernel_private.h"

#include <mutex>
#include <sys/mman.h>
#include <unordered_map>

namespace {

std::mutex s_lock;
std::unordered_map<void*, size_t>& Blocks()
{
    static auto* blocks = new std::unordered_map<void*, size_t>;
    return *blocks;
}

}  // namespace

LPVOID WINAPI VirtualAlloc(LPVOID lpAddress, SIZE_T dwSize, DWORD flAllocationType, DWORD flProtect)
{
    if (lpAddress || dwSize == 0 || !(flAllocationType & MEM_COMMIT) || flProtect != PAGE_READWRITE) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    // Pixel blocks are written whole right away: fault their pages in with one call.
    void* p = mmap(nullptr, dwSize, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_POPULATE, -1, 0);
    if (p == MAP_FAILED) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    std::lock_guard<std::mutex> guard(s_lock);
    Blocks()[p] = dwSize;
    return p;
}

BOOL WINAPI VirtualFree(LPVOID lpAddress, SIZE_T dwSize, DWORD dwFreeType)
{
    if (!lpAddress || dwSize != 0 || dwFreeType != MEM_RELEASE) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    size_t size;
    {
        std::lock_guard<std::mutex> guard(s_lock);
        auto it = Blocks().find(lpAddress);
        if (it == Blocks().end()) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return FALSE;
        }
        size = it->second;
        Blocks().erase(it);
    }
    munmap(lpAddress, size);
    return TRUE;
}
