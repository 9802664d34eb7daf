// The page allocator behind VirtualAlloc: anonymous mappings, zero-filled by the kernel.
// Large blocks freed are kept a while and handed out again, cleared, for a request of the
// same size: a converter allocates one page-sized pixel block per page, and clearing a block
// still in the cache costs a fraction of mapping and faulting in fresh pages.
#include "kernel_private.h"

#include <cstring>
#include <mutex>
#include <sys/mman.h>
#include <unistd.h>
#include <unordered_map>
#include <vector>

namespace {

std::mutex s_lock;
std::unordered_map<void*, size_t>& Blocks()
{
    static auto* blocks = new std::unordered_map<void*, size_t>;
    return *blocks;
}

// Freed blocks kept for reuse, oldest first, with their mapped sizes.
struct FreeBlock {
    void* p;
    size_t size;
};
const size_t kMinKept = 64 * 1024, kMaxKeptBytes = 64 * 1024 * 1024;
const size_t kMaxKeptBlocks = 4;
// Room for one more than are kept is reserved up front: keeping a block never allocates.
std::vector<FreeBlock>& Kept()
{
    static auto* kept = [] {
        auto* v = new std::vector<FreeBlock>;
        v->reserve(kMaxKeptBlocks + 1);
        return v;
    }();
    return *kept;
}

size_t MappedSize(size_t n)
{
    static const size_t page = (size_t)sysconf(_SC_PAGESIZE);
    return (n + page - 1) / page * page;
}

// A kept block of exactly that mapped size, taken out of the cache; null when there is none.
void* TakeKept(size_t size)
{
    std::lock_guard<std::mutex> guard(s_lock);
    std::vector<FreeBlock>& kept = Kept();
    for (size_t i = kept.size(); i-- > 0;) {
        if (kept[i].size == size) {
            void* p = kept[i].p;
            kept.erase(kept.begin() + (ptrdiff_t)i);
            return p;
        }
    }
    return nullptr;
}

}  // namespace

LPVOID WINAPI VirtualAlloc(LPVOID lpAddress, SIZE_T dwSize, DWORD flAllocationType, DWORD flProtect)
{
    if (lpAddress || dwSize == 0 || !(flAllocationType & MEM_COMMIT) || flProtect != PAGE_READWRITE) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    if (dwSize > SIZE_MAX / 2) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    const size_t size = MappedSize(dwSize);
    void* p = size >= kMinKept ? TakeKept(size) : nullptr;
    if (p) {
        // Committed pages read as zero, reused ones too.
        memset(p, 0, size);
    } else {
        // Pixel blocks are written whole right away: fault their pages in with one call.
        p = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_POPULATE, -1, 0);
        if (p == MAP_FAILED) {
            SetLastError(ERROR_NOT_ENOUGH_MEMORY);
            return nullptr;
        }
    }
    std::lock_guard<std::mutex> guard(s_lock);
    Blocks()[p] = size;
    return p;
}

BOOL WINAPI VirtualFree(LPVOID lpAddress, SIZE_T dwSize, DWORD dwFreeType)
{
    if (!lpAddress || dwSize != 0 || dwFreeType != MEM_RELEASE) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    FreeBlock dropped = {lpAddress, 0};
    FreeBlock evicted[kMaxKeptBlocks + 1];
    size_t nEvicted = 0;
    {
        std::lock_guard<std::mutex> guard(s_lock);
        auto it = Blocks().find(lpAddress);
        if (it == Blocks().end()) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return FALSE;
        }
        dropped.size = it->second;
        Blocks().erase(it);
        if (dropped.size >= kMinKept && dropped.size <= kMaxKeptBytes) {
            // Kept; the oldest kept blocks make room.
            std::vector<FreeBlock>& kept = Kept();
            kept.push_back(dropped);
            dropped = {nullptr, 0};
            size_t total = 0;
            for (const FreeBlock& b : kept)
                total += b.size;
            while (kept.size() > kMaxKeptBlocks || total > kMaxKeptBytes) {
                total -= kept.front().size;
                evicted[nEvicted++] = kept.front();
                kept.erase(kept.begin());
            }
        }
    }
    if (dropped.p)
        munmap(dropped.p, dropped.size);
    for (size_t i = 0; i < nEvicted; ++i)
        munmap(evicted[i].p, evicted[i].size);
    return TRUE;
}
