// Global memory internals shared with the memory stream of ole32.
#pragma once

#include <windows.h>

namespace platform {
namespace kernel {

// Grows or shrinks a moveable block (new bytes zero), as GlobalReAlloc would; false for a
// fixed or invalid block or when memory runs out (the block is then unchanged).
bool GlobalResize(HGLOBAL hMem, SIZE_T dwBytes);

}  // namespace kernel
}  // namespace platform
