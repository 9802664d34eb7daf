// Range.Paste: the copy slot's content replaces a range, or the whole main text keeping the
// page setup of the page it was copied from.
#include "DocumentImpl.h"

#include <com/sun/star/beans/XPropertySet.hpp>
#include <com/sun/star/container/XEnumeration.hpp>
#include <com/sun/star/container/XEnumerationAccess.hpp>
#include <com/sun/star/datatransfer/XTransferableSupplier.hpp>
#include <com/sun/star/table/XTableRows.hpp>
#include <com/sun/star/text/XTextContent.hpp>
#include <com/sun/star/view/XSelectionSupplier.hpp>

namespace wordengine {

using namespace detail;

EngineStatus Document::Paste(int start, int end)
{
    // A document handed out again may have all of its text replaced as it stands.
    EngineStatus ready = Ready(start == 0 && end == m_impl->fileEnd);
    if (ready != EngineStatus::Ok)
        return ready;
    Impl& d = *m_impl;
    return Guarded(d.generation, [&]() -> EngineStatus {
        Slot& slot = TheSlot();
        if (slot.content.empty() || slot.generation != d.generation)
            return EngineStatus::Failed;
        // A document handed out again is replaced whole: its old text needs no positions.
        if (!d.stale)
            d.EnsureMap();
        const bool whole = start == 0 && end == (d.stale ? d.fileEnd : d.map.End());
        if (!whole && (start < 0 || end < start || end > d.map.End()))
            return EngineStatus::BadArgument;
        // A document that records changes would keep what the paste replaces as a tracked
        // deletion (the page copy would show both), and removing its hidden comments that way
        // makes the engine build comment windows it cannot make headless, which kills it.
        StopRecordingChanges(d.component);
        Reference<css::datatransfer::XTransferableSupplier> ts(d.controller, UNO_QUERY_THROW);
        Reference<XText> body = d.textDoc->getText();
        if (!whole) {
            d.otherEdit = true;
            Reference<XTextRange> a = d.map.RangeAt(start), b = d.map.RangeAt(end, true);
            if (!a.is() || !b.is())
                return EngineStatus::Failed;
            if (a->getText() != b->getText())
                b = d.map.LastEndInTextOf(start, end);
            if (!b.is())
                return EngineStatus::Failed;
            d.Select(a, b);
            // Each piece goes where the one before it ended.
            for (const auto& piece : slot.content)
                ts->insertTransferable(piece);
            d.Changed();
            return EngineStatus::Ok;
        }

        if (!d.replaced && !d.otherEdit)
            d.fileEnd = d.map.End();
        d.replaced = true;
        d.stale = false;
        // The whole main text: remove its tables, empty it (the one paragraph left keeps
        // the first page's attributes), paste, then drop the empty paragraph that the
        // paste leaves after the last pasted mark.
        {
            Reference<css::container::XEnumerationAccess> ea(body, UNO_QUERY_THROW);
            Reference<css::container::XEnumeration> en = ea->createEnumeration();
            std::vector<Reference<XTextContent>> tables;
            while (en->hasMoreElements()) {
                Reference<XTextTable> t(en->nextElement(), UNO_QUERY);
                if (t.is())
                    tables.emplace_back(t, UNO_QUERY);
            }
            for (auto& t : tables)
                body->removeTextContent(t);
        }
        Reference<XTextCursor> all = body->createTextCursor();
        all->gotoStart(false);
        all->gotoEnd(true);
        all->setString(OUString());
        Reference<css::view::XSelectionSupplier> sel(d.controller, UNO_QUERY_THROW);
        all->gotoStart(false);
        sel->select(Any(Reference<XTextRange>(all, UNO_QUERY)));
        for (size_t i = 0; i < slot.content.size(); ++i) {
            // A piece after a table goes into the paragraph the table was put before.
            if (i > 0)
                sel->select(Any(body->getEnd()));
            ts->insertTransferable(slot.content[i]);
        }
        // Rows pasted first go before the paragraph left in the emptied text, which would
        // push them down a line: that paragraph goes.
        if (slot.startsWithTable) {
            Reference<css::container::XEnumerationAccess> ea(body, UNO_QUERY_THROW);
            Reference<css::container::XEnumeration> en = ea->createEnumeration();
            Reference<css::uno::XInterface> first;
            if (en->hasMoreElements())
                first.set(en->nextElement(), UNO_QUERY);
            Reference<XTextRange> lead(first, UNO_QUERY);
            // LibreOffice 25.2 puts the rows before that paragraph: the table comes first.
            Reference<XTextTable> next(first, UNO_QUERY);
            if (!next.is() && en->hasMoreElements())
                next.set(en->nextElement(), UNO_QUERY);
            if (lead.is() && next.is() && !Reference<XTextTable>(first, UNO_QUERY).is() && lead->getString().isEmpty())
                Reference<css::lang::XComponent>(lead, UNO_QUERY_THROW)->dispose();
            if (next.is() && slot.dropCount > 0)
                next->getRows()->removeByIndex(slot.dropFrom, slot.dropCount);
            Reference<css::beans::XPropertySet> np(next, UNO_QUERY);
            if (np.is() && slot.headingRows > 0) {
                np->setPropertyValue("RepeatHeadline", Any(true));
                np->setPropertyValue("HeaderRowCount", Any(sal_Int32(slot.headingRows)));
            }
        }

        Reference<css::container::XEnumerationAccess> ea(body, UNO_QUERY_THROW);
        Reference<css::container::XEnumeration> en = ea->createEnumeration();
        Reference<css::uno::XInterface> first, last, beforeLast;
        while (en->hasMoreElements()) {
            Reference<css::uno::XInterface> e(en->nextElement(), UNO_QUERY);
            if (!first.is())
                first = e;
            beforeLast = last;
            last = e;
        }
        Reference<XTextRange> lastPara(last, UNO_QUERY);
        bool lastIsTable = Reference<XTextTable>(last, UNO_QUERY).is();
        bool prevIsTable = Reference<XTextTable>(beforeLast, UNO_QUERY).is();
        if (lastPara.is() && !lastIsTable && beforeLast.is() && !prevIsTable &&
            lastPara->getString().isEmpty()) {
            Reference<XTextCursor> tail = body->createTextCursorByRange(body->getEnd());
            if (tail->goLeft(1, true))
                tail->setString(OUString());
        }
        // The pasted page keeps the page style and number it had in its source.
        Reference<css::beans::XPropertySet> fp(first, UNO_QUERY);
        if (fp.is() && !slot.pageStyle.isEmpty()) {
            try {
                fp->setPropertyValue("PageDescName", Any(slot.pageStyle));
                if (slot.pageNumber > 0)
                    fp->setPropertyValue("PageNumberOffset", Any(sal_Int16(slot.pageNumber)));
            } catch (const css::uno::Exception&) {
                // A style the copy lacks: its first page's setup stays.
            }
        }
        d.Changed();
        return EngineStatus::Ok;
    });
}

}  // namespace wordengine
