// Which documents the engine opens and how: the import filter a file's content calls for,
// the export filter a file name's extension names, and the handler that answers the
// engine's questions so that no load waits for a person.
#include "DocumentImpl.h"

#include <com/sun/star/container/XNameAccess.hpp>
#include <com/sun/star/document/XTypeDetection.hpp>
#include <com/sun/star/lang/XMultiComponentFactory.hpp>
#include <com/sun/star/task/XInteractionAbort.hpp>
#include <com/sun/star/task/XInteractionDisapprove.hpp>
#include <com/sun/star/task/XInteractionHandler.hpp>
#include <com/sun/star/task/XInteractionRequest.hpp>
#include <cppuhelper/implbase1.hxx>

#include <strings.h>
#include <utility>

namespace wordengine {

using namespace detail;

namespace {

// Answers every question the engine would put to a person with "cancel": passwords,
// repair offers, filter options, link updates. A load that needs an answer then fails.
class NoQuestionsHandler : public cppu::WeakImplHelper1<css::task::XInteractionHandler> {
public:
    void SAL_CALL handle(const Reference<css::task::XInteractionRequest>& request) override
    {
        if (!request.is())
            return;
        const Sequence<Reference<css::task::XInteractionContinuation>> conts =
            request->getContinuations();
        Reference<css::task::XInteractionContinuation> pick;
        for (sal_Int32 i = 0; i < conts.getLength() && !pick.is(); ++i)
            if (Reference<css::task::XInteractionAbort>(conts[i], UNO_QUERY).is())
                pick = conts[i];
        if (!pick.is()) {
            for (sal_Int32 i = 0; i < conts.getLength() && !pick.is(); ++i)
                if (Reference<css::task::XInteractionDisapprove>(conts[i], UNO_QUERY).is())
                    pick = conts[i];
        }
        if (pick.is())
            pick->select();
    }
};

}  // namespace

namespace detail {

Reference<css::task::XInteractionHandler> NewNoQuestionsHandler()
{
    return Reference<css::task::XInteractionHandler>(new NoQuestionsHandler);
}

// Import filters of word-processing documents; anything else (plain text, HTML, a
// spreadsheet) is not a Word document and is refused.
bool IsDocumentFilter(const OUString& filter)
{
    static const char* const known[] = {
        "MS Word 97", "MS Word 97 Vorlage", "MS Word 95", "MS Word 95 Vorlage",
        "MS WinWord 6.0", "MS WinWord 5", "MS Word 2007 XML", "MS Word 2007 XML Template",
        "MS Word 2007 XML VBA", "Office Open XML Text", "Office Open XML Text Template",
        "Rich Text Format", "writer8", "writer8_template", "StarOffice XML (Writer)",
        "OpenDocument Text Flat XML", "MS Word 2003 XML", "WordPerfect",
    };
    for (const char* k : known)
        if (filter.equalsAscii(k))
            return true;
    return false;
}

// Import filters of Word's binary formats (Word 2 to 2003).
bool IsBinaryWordFilter(const OUString& filter)
{
    return filter.startsWith("MS Word 9") || filter.startsWith("MS WinWord");
}

// Export filter by the file name's extension; null when the extension names none.
const char* FilterForPath(const std::string& path)
{
    size_t dot = path.find_last_of('.');
    size_t slash = path.find_last_of('/');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash))
        return nullptr;
    std::string ext = path.substr(dot + 1);
    if (strcasecmp(ext.c_str(), "doc") == 0)
        return "MS Word 97";
    if (strcasecmp(ext.c_str(), "docx") == 0)
        return "MS Word 2007 XML";
    if (strcasecmp(ext.c_str(), "rtf") == 0)
        return "Rich Text Format";
    if (strcasecmp(ext.c_str(), "odt") == 0)
        return "writer8";
    if (strcasecmp(ext.c_str(), "pdf") == 0)
        return "writer_pdf_Export";
    return nullptr;
}

// The import filter that fits a file's content (not its name); empty when none does.
OUString DetectFilter(const OUString& url, const Reference<css::task::XInteractionHandler>& handler)
{
    Reference<css::lang::XMultiComponentFactory> smgr = State().context->getServiceManager();
    Reference<css::document::XTypeDetection> detection(
        smgr->createInstanceWithContext("com.sun.star.document.TypeDetection", State().context), UNO_QUERY_THROW);
    Sequence<PropertyValue> desc = Props({Prop("URL", Any(url)), Prop("InteractionHandler", Any(handler))});
    const OUString type = detection->queryTypeByDescriptor(desc, true);
    if (type.isEmpty())
        return OUString();
    OUString filter;
    for (const PropertyValue& p : std::as_const(desc))
        if (p.Name == "FilterName")
            p.Value >>= filter;
    if (filter.isEmpty()) {
        Reference<css::container::XNameAccess> types(detection, UNO_QUERY_THROW);
        Sequence<PropertyValue> props;
        if (types->hasByName(type) && (types->getByName(type) >>= props))
            for (const PropertyValue& p : std::as_const(props))
                if (p.Name == "PreferredFilter")
                    p.Value >>= filter;
    }
    return filter;
}

}  // namespace detail

}  // namespace wordengine
