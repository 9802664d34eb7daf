// The process-wide copy slot (what Word keeps on the system clipboard), and the closed
// document it keeps loaded while it holds content copied from it.
#include "DocumentImpl.h"

namespace wordengine {

using namespace detail;

namespace detail {

Slot& TheSlot()
{
    static auto* s = new Slot;
    return *s;
}

std::unique_ptr<Document::Impl>& HeldSource()
{
    static auto* held = new std::unique_ptr<Document::Impl>;
    return *held;
}

void CloseHeldSource()
{
    std::lock_guard<std::recursive_mutex> lock(EngineMutex());
    std::unique_ptr<Document::Impl> held = std::move(HeldSource());
    if (held)
        CloseImpl(*held);
}

// Closes a document in the engine, unless the slot holds content copied from it: then it
// stays loaded, out of reach, until that content is replaced or cleared.
void ReleaseImpl(std::unique_ptr<Document::Impl> impl)
{
    if (!impl)
        return;
    std::lock_guard<std::recursive_mutex> lock(EngineMutex());
    Slot& slot = TheSlot();
    if (impl->open && slot.source == impl.get() && !slot.content.empty()) {
        CloseHeldSource();
        HeldSource() = std::move(impl);
        return;
    }
    CloseImpl(*impl);
}

}  // namespace detail

bool ClipboardHasContent()
{
    std::lock_guard<std::recursive_mutex> lock(EngineMutex());
    Slot& s = TheSlot();
    return !s.content.empty() && s.generation == State().generation && State().alive;
}

void ClipboardClear()
{
    std::lock_guard<std::recursive_mutex> lock(EngineMutex());
    Slot& s = TheSlot();
    try {
        s.content.clear();
    } catch (...) {
    }
    s.generation = -1;
    s.source = nullptr;
    s.pageStyle.clear();
    s.pageNumber = 0;
    s.startsWithTable = false;
    s.dropFrom = s.dropCount = s.headingRows = 0;
    CloseHeldSource();
}

}  // namespace wordengine
