#include "PageMemory.h"

#include <malloc.h>

void KeepPageBuffers()
{
    // Blocks past 32 MB (pages finer than about 300 dpi) are still mapped: they are rare, and
    // a heap holding them would keep that much for the rest of the process.
    mallopt(M_MMAP_THRESHOLD, 32 << 20);
    mallopt(M_TRIM_THRESHOLD, 128 << 20);
}
