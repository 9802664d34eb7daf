// Small helpers over UNO for the engine's sources: property lists, closing a component,
// change recording, absolute paths.
#include "DocumentImpl.h"

#include <com/sun/star/beans/XPropertySet.hpp>
#include <com/sun/star/util/XCloseable.hpp>

#include <climits>
#include <unistd.h>

namespace wordengine {

using namespace detail;

namespace detail {

PropertyValue Prop(const char* name, const Any& value)
{
    PropertyValue p;
    p.Name = OUString::createFromAscii(name);
    p.Value = value;
    return p;
}

Sequence<PropertyValue> Props(std::initializer_list<PropertyValue> list)
{
    return Sequence<PropertyValue>(list.begin(), sal_Int32(list.size()));
}

std::string AbsolutePath(const std::string& path)
{
    if (!path.empty() && path[0] == '/')
        return path;
    char cwd[PATH_MAX];
    if (!getcwd(cwd, sizeof cwd))
        return path;
    return std::string(cwd) + "/" + path;
}

// Closes a component the engine made for us, whatever state it is in.
void CloseComponent(const Reference<css::lang::XComponent>& comp)
{
    if (!comp.is())
        return;
    try {
        Reference<css::util::XCloseable> c(comp, UNO_QUERY);
        if (c.is())
            c->close(true);
        else
            comp->dispose();
    } catch (const css::uno::Exception&) {
        try {
            comp->dispose();
        } catch (const css::uno::Exception&) {
        }
    }
}

// Turns off change recording, so that edits change the text instead of being tracked.
// True when the document was recording.
bool StopRecordingChanges(const Reference<css::uno::XInterface>& doc)
{
    Reference<css::beans::XPropertySet> props(doc, UNO_QUERY);
    if (!props.is())
        return false;
    bool recording = false;
    props->getPropertyValue("RecordChanges") >>= recording;
    if (recording)
        props->setPropertyValue("RecordChanges", Any(false));
    return recording;
}

}  // namespace detail

}  // namespace wordengine
