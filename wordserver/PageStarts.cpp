// Pages of a document: how many the engine's layout has, and the position each starts at,
// as Word's Goto gives them.
#include "DocumentImpl.h"

#include <com/sun/star/beans/XPropertySet.hpp>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace wordengine {

using namespace detail;

int Document::Impl::LayoutPageCount()
{
    if (layoutPages.empty()) {
        EnsureCursors();
        // The view's own count includes pages the body text does not reach (endnotes).
        sal_Int32 viewCount = 0;
        Reference<css::beans::XPropertySet> vp(controller, UNO_QUERY);
        if (vp.is())
            vp->getPropertyValue("PageCount") >>= viewCount;
        pageCursor->jumpToLastPage();
        const int last = pageCursor->getPage();
        const int count = std::max<int>(last, int(viewCount));
        if (getenv("FOLIUM_ENGINE_VERBOSE"))
            fprintf(stderr, "wordserver: layout: last page %d, view count %d\n", last, int(viewCount));
        // The cursor cannot go to a blank page. Nor, from LibreOffice 25.2 on, to the pages
        // after the text that hold only the endnotes of a Word document (set after the text,
        // as Word does): the view counts those, and a blank page is never after the text.
        for (int k = 1; k <= count && k <= 32767; ++k)
            if (k == 1 || k > last || pageCursor->jumpToPage(sal_Int16(k)))
                layoutPages.push_back(k);
    }
    return int(layoutPages.size());
}
// The layout page that holds a position (0 when the position has no place).
int Document::Impl::PageOf(int pos)
{
    Reference<XTextRange> r = map.RangeAt(pos);
    if (!r.is())
        return 0;
    EnsureCursors();
    viewCursor->gotoRange(r, false);
    return pageCursor->getPage();
}
// First position in [from, map.End()) that the layout puts on page n or later;
// map.End() when there is none. Positions run through the layout in order.
int Document::Impl::FirstOnPage(int n, int from)
{
    int lo = from, hi = map.End();
    while (lo < hi) {
        int mid = lo + (hi - lo) / 2;
        if (PageOf(mid) >= n)
            hi = mid;
        else
            lo = mid + 1;
    }
    return lo;
}
// Start of layout page n, the page before it starting at prev. The page cursor
// gives it for most pages; where it lands outside the main text (an endnote page, a
// frame), inside a repeated table heading, or not past the previous page, the layout is
// searched for the first position on the page. A page that holds no main text at all
// (an inserted blank page, endnotes) starts just before the next text, so that it still
// has a start of its own: its copy is only that mark and draws as a blank page.
int Document::Impl::FindPageStart(int n, int prev)
{
    int pos = -1;
    EnsureCursors();
    if (pageCursor->jumpToPage(sal_Int16(n))) {
        pageCursor->jumpToStartOfPage();
        if (pageCursor->getPage() == n)
            pos = map.PositionOf(viewCursor->getStart());
    }
    if (pos > prev)
        return pos;
    int t = FirstOnPage(n, prev + 1);
    const bool empty = t < map.End() && PageOf(t) > n && t - 1 > prev;
    if (getenv("FOLIUM_ENGINE_VERBOSE"))
        fprintf(stderr, "wordserver: page %d: cursor gave %d after %d; layout gives %d%s\n", n, pos, prev, t,
                empty ? ", a page without text" : "");
    return empty ? t - 1 : t;
}

EngineStatus Document::ContentEnd(int* end)
{
    // A document handed out again answers its file's end without loading it again.
    EngineStatus ready = Ready(true);
    if (ready != EngineStatus::Ok)
        return ready;
    Impl& d = *m_impl;
    return Guarded(d.generation, [&]() -> EngineStatus {
        if (d.stale) {
            *end = d.fileEnd;
            return EngineStatus::Ok;
        }
        d.EnsureMap();
        *end = d.map.End();
        return EngineStatus::Ok;
    });
}

EngineStatus Document::PageCount(int* count)
{
    EngineStatus ready = Ready();
    if (ready != EngineStatus::Ok)
        return ready;
    Impl& d = *m_impl;
    return Guarded(d.generation, [&]() -> EngineStatus {
        *count = d.LayoutPageCount();
        return *count > 0 ? EngineStatus::Ok : EngineStatus::Failed;
    });
}

EngineStatus Document::PageStart(int page, int* start)
{
    EngineStatus ready = Ready();
    if (ready != EngineStatus::Ok)
        return ready;
    Impl& d = *m_impl;
    if (page < 1)
        return EngineStatus::BadArgument;
    return Guarded(d.generation, [&]() -> EngineStatus {
        d.EnsureMap();
        const int count = d.LayoutPageCount();
        if (count <= 0)
            return EngineStatus::Failed;
        // Past the last page: the last page's start, as Word's Goto gives. Everything before
        // the second page belongs to the first, whatever the cursor finds there.
        const int n = std::min(page, count);
        if (d.pageStarts.empty())
            d.pageStarts.push_back(0);
        while (int(d.pageStarts.size()) < n) {
            const size_t next = d.pageStarts.size();
            d.pageStarts.push_back(d.FindPageStart(d.layoutPages[next], d.pageStarts.back()));
        }
        *start = d.pageStarts[size_t(n) - 1];
        return EngineStatus::Ok;
    });
}

}  // namespace wordengine
