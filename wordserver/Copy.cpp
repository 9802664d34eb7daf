// Range.Copy: the content of a range taken through the engine's own transferables into the
// copy slot, tables the range begins or ends inside as blocks of cells.
#include "DocumentImpl.h"

#include <com/sun/star/beans/XPropertySet.hpp>
#include <com/sun/star/datatransfer/XTransferableSupplier.hpp>
#include <com/sun/star/table/XCellRange.hpp>
#include <com/sun/star/view/XSelectionSupplier.hpp>

#include <algorithm>

namespace wordengine {

using namespace detail;

// Selects [a, b) in the controller, across tables where needed.
void Document::Impl::Select(const Reference<XTextRange>& a, const Reference<XTextRange>& b)
{
    Reference<XText> ta = a->getText(), tb = b->getText();
    Reference<css::view::XSelectionSupplier> sel(controller, UNO_QUERY_THROW);
    if (ta == tb) {
        Reference<XTextCursor> cur = ta->createTextCursorByRange(a);
        cur->gotoRange(b, true);
        sel->select(Any(Reference<XTextRange>(cur, UNO_QUERY)));
    } else {
        throw css::uno::RuntimeException("selection across texts");
    }
}
// Name of the block of cells that covers rows r1..r2 of a table from its leftmost to its
// rightmost column, such as "A3:C7"; a row whose first column is merged into the row
// above starts further right, so the columns are taken over all the rows.
OUString Document::Impl::RowsBlockName(const TextMap::TableSpan& t, int r1, int r2)
{
    auto column = [](const OUString& name) {
        sal_Int32 i = 0;
        while (i < name.getLength() && ((name[i] >= 'A' && name[i] <= 'Z') || (name[i] >= 'a' && name[i] <= 'z')))
            ++i;
        return name.copy(0, i);
    };
    auto before = [](const OUString& x, const OUString& y) {
        return x.getLength() != y.getLength() ? x.getLength() < y.getLength() : x.compareTo(y) < 0;
    };
    auto row = [&](const OUString& name) { return name.copy(column(name).getLength()); };
    OUString left = column(t.firstCell[size_t(r1)]), right = column(t.lastCell[size_t(r2)]);
    for (int r = r1; r <= r2; ++r) {
        if (t.firstCell[size_t(r)].indexOf('.') >= 0 || t.lastCell[size_t(r)].indexOf('.') >= 0)
            return t.firstCell[size_t(r1)] + ":" + t.lastCell[size_t(r2)];
        OUString l = column(t.firstCell[size_t(r)]), rt = column(t.lastCell[size_t(r)]);
        if (before(l, left))
            left = l;
        if (before(right, rt))
            right = rt;
    }
    return left + row(t.firstCell[size_t(r1)]) + ":" + right + row(t.lastCell[size_t(r2)]);
}
// Rows at the top of a table that repeat on every page it runs over (0 when none).
int Document::Impl::HeadingRows(const Reference<XTextTable>& table)
{
    Reference<css::beans::XPropertySet> props(table, UNO_QUERY);
    bool repeat = false;
    sal_Int32 count = 0;
    if (!props.is() || !(props->getPropertyValue("RepeatHeadline") >>= repeat) || !repeat)
        return 0;
    props->getPropertyValue("HeaderRowCount") >>= count;
    return int(count);
}

Reference<css::datatransfer::XTransferable> Document::Impl::SelectionContent()
{
    Reference<css::datatransfer::XTransferableSupplier> ts(controller, UNO_QUERY_THROW);
    Reference<css::datatransfer::XTransferable> t = ts->getTransferable();
    if (!t.is())
        throw css::uno::RuntimeException("no content for the selection");
    return t;
}
// The content of [start, end) as transferables in order. A selection cannot run from the
// main text into a table cell or out of one, so the rows of a table that the range
// begins or ends inside are a piece of their own (selected as a block of cells), and the
// main text between is another; tables wholly inside a run of main text go with it.
// Rows [*dropFrom, *dropFrom + *dropCount) of the first table pasted are copied only to
// keep the block whole; its first *headingRows rows repeat on every page.
EngineStatus Document::Impl::CopyPieces(int start, int end, std::vector<Reference<css::datatransfer::XTransferable>>* out,
                        int* dropFrom, int* dropCount, int* headingRows)
{
    *dropFrom = *dropCount = *headingRows = 0;
    Reference<css::view::XSelectionSupplier> sel(controller, UNO_QUERY_THROW);
    int pos = start;
    do {
        const int ti = map.TableAt(pos);
        if (ti >= 0 && pos < end) {
            const TextMap::TableSpan& t = map.Table(ti);
            const int r1 = map.RowAt(ti, pos);
            const int r2 = map.RowAt(ti, std::min(end, t.end) - 1);
            Reference<css::table::XCellRange> cells(t.table, UNO_QUERY_THROW);
            // Rows that begin a page below the table's first page show its repeated
            // heading rows above them. A block of cells must be whole, so the rows
            // between are copied too and removed after the paste; a block that starts
            // in a repeating heading row cannot be selected, so the table stops
            // repeating it for the moment of the copy.
            const int heading = r1 > 0 && pos == start && out->empty() ? HeadingRows(t.table) : 0;
            int from = r1;
            Reference<css::beans::XPropertySet> tableProps(t.table, UNO_QUERY);
            if (heading > 0 && heading <= r1 && tableProps.is()) {
                from = 0;
                *dropFrom = heading;
                *dropCount = r1 - heading;
                *headingRows = heading;
                tableProps->setPropertyValue("RepeatHeadline", Any(false));
            }
            Reference<css::table::XCellRange> rows;
            bool selected = false;
            try {
                rows = cells->getCellRangeByName(RowsBlockName(t, from, r2));
                selected = rows.is() && sel->select(Any(rows));
                if (selected)
                    out->push_back(SelectionContent());
            } catch (const css::uno::RuntimeException& e) {
                LogFailure("rows", e.Message);
                selected = false;
            }
            if (from != r1)
                tableProps->setPropertyValue("RepeatHeadline", Any(true));
            if (!selected) {
                *dropFrom = *dropCount = *headingRows = 0;
                // Rows whose cells make no block (cells merged across them): the copy
                // keeps what lies in the text the range starts in.
                LogFailure("rows are no block of cells; clipped", OUString());
                Reference<XTextRange> a = map.RangeAt(pos), b = map.LastEndInTextOf(pos, std::min(end, t.end));
                if (!a.is() || !b.is())
                    return EngineStatus::Failed;
                Select(a, b);
                out->push_back(SelectionContent());
            }
            pos = t.end;
            continue;
        }
        // Main text up to the end, or up to a table the end lies inside.
        int stop = end;
        const int te = end > pos ? map.TableAt(end - 1) : -1;
        if (te >= 0 && map.Table(te).start > pos)
            stop = map.Table(te).start;
        Reference<XTextRange> a = map.RangeAt(pos), b = map.RangeAt(stop, true);
        if (!a.is() || !b.is())
            return EngineStatus::Failed;
        if (a->getText() != b->getText()) {
            LogFailure("range crosses texts; clipped", OUString());
            b = map.LastEndInTextOf(pos, stop);
            if (!b.is())
                return EngineStatus::Failed;
        }
        Select(a, b);
        out->push_back(SelectionContent());
        pos = stop;
    } while (pos < end);
    return EngineStatus::Ok;
}

EngineStatus Document::Copy(int start, int end)
{
    EngineStatus ready = Ready();
    if (ready != EngineStatus::Ok)
        return ready;
    Impl& d = *m_impl;
    EngineStatus status = Guarded(d.generation, [&]() -> EngineStatus {
        d.EnsureMap();
        if (start < 0 || end < start || end > d.map.End())
            return EngineStatus::BadArgument;
        Reference<XTextRange> a = d.map.RangeAt(start);
        if (!a.is())
            return EngineStatus::Failed;
        // The page setup in force where the range starts.
        d.EnsureCursors();
        Reference<css::view::XSelectionSupplier> sel(d.controller, UNO_QUERY_THROW);
        sel->select(Any(a));
        OUString style;
        int pageNumber = 0;
        try {
            Reference<css::beans::XPropertySet> vcProps(d.viewCursor, UNO_QUERY);
            if (vcProps.is())
                vcProps->getPropertyValue("PageStyleName") >>= style;
        } catch (const css::uno::RuntimeException& e) {
            LogFailure("page style", e.Message);
        }
        try {
            pageNumber = d.pageCursor->getPage();
        } catch (const css::uno::RuntimeException& e) {
            LogFailure("page number", e.Message);
        }
        std::vector<Reference<css::datatransfer::XTransferable>> pieces;
        int dropFrom = 0, dropCount = 0, headingRows = 0;
        EngineStatus s = d.CopyPieces(start, end, &pieces, &dropFrom, &dropCount, &headingRows);
        if (s != EngineStatus::Ok)
            return s;
        Slot& slot = TheSlot();
        slot.content = std::move(pieces);
        slot.generation = d.generation;
        slot.source = &d;
        slot.pageStyle = style;
        slot.pageNumber = pageNumber;
        slot.startsWithTable = d.map.TableAt(start) >= 0 && start < end;
        slot.dropFrom = dropFrom;
        slot.dropCount = dropCount;
        slot.headingRows = headingRows;
        return EngineStatus::Ok;
    });
    // The content it held is gone: a closed document kept for it can go too.
    if (status == EngineStatus::Ok)
        CloseHeldSource();
    return status;
}

}  // namespace wordengine
