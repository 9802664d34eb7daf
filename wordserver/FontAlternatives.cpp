// A family that is not installed, drawn with the alternative the document's font table names
// for it, as Word draws it. The engine reads the alternative (w:altName) but never uses it: for
// a missing family it takes fontconfig's answer, which is its default font whatever the family
// was. The document itself is changed once laid out (the engine's attribute search finds
// nothing in a document without a view), where its layout drew such a family with another
// face, and laid out again. Nothing of it stays in the engine for later documents.
#include "DocumentImpl.h"
#include "EmbeddedFonts.h"
#include "FontReport.h"
#include "WordFonts.h"

#include <com/sun/star/awt/FontDescriptor.hpp>
#include <com/sun/star/awt/XDevice.hpp>
#include <com/sun/star/awt/XToolkit.hpp>
#include <com/sun/star/beans/XPropertySet.hpp>
#include <com/sun/star/container/XNameAccess.hpp>
#include <com/sun/star/lang/XMultiComponentFactory.hpp>
#include <com/sun/star/lang/XMultiServiceFactory.hpp>
#include <com/sun/star/style/XStyleFamiliesSupplier.hpp>
#include <com/sun/star/util/XPropertyReplace.hpp>
#include <com/sun/star/util/XReplaceable.hpp>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace wordengine {
namespace detail {

namespace {

// The font name properties of text: Western, Asian and complex script.
const char* const kFontProps[] = {"CharFontName", "CharFontNameAsian", "CharFontNameComplex"};

// The families the engine has installed, asked once per engine (the program's font folders are
// part of its configuration from its start).
const std::vector<std::string>& InstalledFamilies(int generation)
{
    static std::vector<std::string> families;
    static int asked = -1;
    if (asked == generation)
        return families;
    families.clear();
    asked = generation;
    Reference<css::lang::XMultiComponentFactory> smgr = State().context->getServiceManager();
    Reference<css::awt::XToolkit> toolkit(
        smgr->createInstanceWithContext("com.sun.star.awt.Toolkit", State().context), UNO_QUERY);
    Reference<css::awt::XDevice> device = toolkit.is() ? toolkit->createScreenCompatibleDevice(1, 1) : nullptr;
    if (!device.is())
        return families;
    for (const css::awt::FontDescriptor& f : device->getFontDescriptors()) {
        const std::string name = ToUtf8(f.Name);
        if (std::none_of(families.begin(), families.end(), [&](const std::string& k) { return SameFamily(k, name); }))
            families.push_back(name);
    }
    return families;
}

// Known: installed, given a stand-in by the program's table, or with a metric clone.
bool Known(const std::string& family, int generation)
{
    static const std::vector<std::string> ruled = FamiliesRuledBy(kWordFonts);
    auto same = [&](const std::string& k) { return SameFamily(k, family); };
    const std::vector<std::string>& installed = InstalledFamilies(generation);
    return MetricCloneOf(family) || std::any_of(ruled.begin(), ruled.end(), same) ||
           std::any_of(installed.begin(), installed.end(), same);
}

// Replaces the family in the font properties of every style of the document and its defaults.
int ReplaceInStyles(const Reference<XTextDocument>& doc, const OUString& family, const OUString& alternative)
{
    int replaced = 0;
    auto replaceIn = [&](const Reference<css::beans::XPropertySet>& props) {
        if (!props.is())
            return;
        Reference<css::beans::XPropertySetInfo> info = props->getPropertySetInfo();
        for (const char* p : kFontProps) {
            OUString name;
            if (info.is() && info->hasPropertyByName(OUString::createFromAscii(p)) &&
                (props->getPropertyValue(OUString::createFromAscii(p)) >>= name) && name.equalsIgnoreAsciiCase(family)) {
                props->setPropertyValue(OUString::createFromAscii(p), Any(alternative));
                ++replaced;
            }
        }
    };
    Reference<css::lang::XMultiServiceFactory> factory(doc, UNO_QUERY);
    if (factory.is())
        replaceIn(Reference<css::beans::XPropertySet>(factory->createInstance("com.sun.star.text.Defaults"), UNO_QUERY));
    Reference<css::style::XStyleFamiliesSupplier> sfs(doc, UNO_QUERY);
    Reference<css::container::XNameAccess> families = sfs.is() ? sfs->getStyleFamilies() : nullptr;
    for (const char* familyName : {"ParagraphStyles", "CharacterStyles"}) {
        Reference<css::container::XNameAccess> styles;
        if (!families.is() || !families->hasByName(OUString::createFromAscii(familyName)) ||
            !(families->getByName(OUString::createFromAscii(familyName)) >>= styles) || !styles.is())
            continue;
        for (const OUString& s : styles->getElementNames())
            replaceIn(Reference<css::beans::XPropertySet>(styles->getByName(s), UNO_QUERY));
    }
    return replaced;
}

// Replaces the family where the text itself asks for it (direct formatting), in the body and in
// headers, footers, notes and frames alike.
int ReplaceInText(const Reference<XTextDocument>& doc, const OUString& family, const OUString& alternative)
{
    Reference<css::util::XReplaceable> replaceable(doc, UNO_QUERY);
    if (!replaceable.is())
        return 0;
    int replaced = 0;
    for (const char* p : kFontProps) {
        Reference<css::util::XReplaceDescriptor> desc = replaceable->createReplaceDescriptor();
        Reference<css::util::XPropertyReplace> attrs(desc, UNO_QUERY);
        if (!attrs.is())
            continue;
        desc->setSearchString(OUString());
        desc->setReplaceString(OUString());
        // Attributes of the text only: styles are done above.
        Reference<css::beans::XPropertySet>(desc, UNO_QUERY_THROW)->setPropertyValue("SearchStyles", Any(false));
        attrs->setValueSearch(true);
        attrs->setSearchAttributes(Props({Prop(p, Any(family))}));
        attrs->setReplaceAttributes(Props({Prop(p, Any(alternative))}));
        replaced += int(replaceable->replaceAll(Reference<css::util::XSearchDescriptor>(desc, UNO_QUERY_THROW)));
    }
    return replaced;
}

}  // namespace

bool UseFontAlternatives(const Reference<XTextDocument>& doc, Document::Impl& d)
{
    int replaced = 0;
    try {
        const std::vector<FontAlternative> candidates = AlternativesToUse(
            d.fontAlternatives, [&](const std::string& f) { return Known(f, d.generation); });
        d.alternativesUsed.clear();
        bool recording = false, stopped = false;
        for (const FontAlternative& a : candidates) {
            // Changing a family reformats all text set in it, which costs as much as the
            // layout: done only where the layout asked for the family and drew it with another
            // face than the alternative's (a missing "NTTimes" already comes out in the face
            // of Times New Roman).
            const char* clone = MetricCloneOf(a.alternative);
            const std::string face = clone ? clone : a.alternative;
            bool asked = false, other = false;
            for (const FontUse& u : d.fontUses) {
                if (!SameFamily(FontFamilyOf(u.requested), a.family))
                    continue;
                asked = true;
                for (const std::string& used : u.used)
                    other = other || !SameFamily(FontFamilyOf(used), face);
            }
            if (!asked || !other)
                continue;
            d.alternativesUsed.push_back(a);
            // Replacing while the document records changes would record a change for each.
            if (!stopped)
                recording = StopRecordingChanges(doc), stopped = true;
            const OUString family = FromUtf8(a.family), alternative = FromUtf8(a.alternative);
            const int styles = ReplaceInStyles(doc, family, alternative);
            const int text = ReplaceInText(doc, family, alternative);
            replaced += styles + text;
            if (getenv("FOLIUM_ENGINE_VERBOSE"))
                fprintf(stderr, "wordserver: %s drawn as its alternative %s (%d styles, %d places in the text)\n",
                        a.family.c_str(), a.alternative.c_str(), styles, text);
        }
        if (recording)
            Reference<css::beans::XPropertySet>(doc, UNO_QUERY_THROW)->setPropertyValue("RecordChanges", Any(true));
    } catch (const css::lang::DisposedException&) {
        throw;
    } catch (const css::uno::Exception& e) {
        // The document is drawn with what the engine fell back to.
        LogFailure("font alternatives", e.Message);
    }
    return replaced > 0;
}

}  // namespace detail
}  // namespace wordengine
