// COM library initialisation and task memory.
#include "ole_private.h"

#include <cstdlib>

namespace {
thread_local int tInitCount = 0;
} // namespace

extern "C" HRESULT WINAPI CoInitializeEx(LPVOID pvReserved, DWORD dwCoInit)
{
    // Every apartment model is served the same way here: objects are called on the thread that
    // made them.
    if (tInitCount++ > 0)
        return S_FALSE;
    return S_OK;
}

extern "C" HRESULT WINAPI CoInitialize(LPVOID pvReserved)
{
    return CoInitializeEx(pvReserved, COINIT_APARTMENTTHREADED);
}

extern "C" void WINAPI CoUninitialize(void)
{
    if (tInitCount <= 0)
        return; // unbalanced: ignored as on Windows
    --tInitCount;
}

extern "C" LPVOID WINAPI CoTaskMemAlloc(SIZE_T cb)
{
    return std::malloc(cb ? cb : 1);
}

extern "C" void WINAPI CoTaskMemFree(LPVOID pv)
{
    std::free(pv);
}
