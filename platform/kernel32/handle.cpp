// The table of live kernel handles.
#include "kernel_private.h"

#include <mutex>
#include <unordered_set>

namespace platform {

static std::mutex s_lock;
static std::unordered_set<KernelObject*>& Live()
{
    static auto* live = new std::unordered_set<KernelObject*>;  // outlives static destructors
    return *live;
}

HANDLE RegisterHandle(KernelObject* obj)
{
    std::lock_guard<std::mutex> guard(s_lock);
    Live().insert(obj);
    return obj;
}

KernelObject* LookupHandle(HANDLE h, KernelObjectType type)
{
    std::lock_guard<std::mutex> guard(s_lock);
    auto* obj = static_cast<KernelObject*>(h);
    if (!Live().count(obj) || obj->type != type)
        return nullptr;
    return obj;
}

bool UnregisterHandle(HANDLE h)
{
    std::lock_guard<std::mutex> guard(s_lock);
    return Live().erase(static_cast<KernelObject*>(h)) == 1;
}

}  // namespace platform
