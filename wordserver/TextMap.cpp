#include "TextMap.h"

#include <com/sun/star/container/XEnumeration.hpp>
#include <com/sun/star/container/XEnumerationAccess.hpp>
#include <com/sun/star/lang/XServiceInfo.hpp>
#include <com/sun/star/text/XTextCursor.hpp>
#include <com/sun/star/text/XTextTable.hpp>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace wordengine {

using namespace css::text;
using css::uno::UNO_QUERY;
using css::uno::UNO_QUERY_THROW;

namespace {

// Row number of a cell name such as "B3" (split cells carry ".n.m" after it).
int RowOfCellName(const rtl::OUString& name)
{
    int i = 0, n = name.getLength();
    while (i < n && ((name[i] >= 'A' && name[i] <= 'Z') || (name[i] >= 'a' && name[i] <= 'z')))
        ++i;
    int row = 0;
    while (i < n && name[i] >= '0' && name[i] <= '9')
        row = row * 10 + (name[i++] - '0');
    return row;
}

}  // namespace

void TextMap::Clear()
{
    m_built = false;
    m_end = 0;
    m_segs.clear();
    m_texts.clear();
    m_tables.clear();
    m_anchors.clear();
}

void TextMap::Build(const Reference<XTextDocument>& doc)
{
    Clear();
    AddText(doc->getText(), false);
    if (m_segs.empty()) {
        // A body always has a paragraph; an empty enumeration still ends after one mark.
        m_end = 1;
    }
    m_built = true;
    if (getenv("FOLIUM_ENGINE_VERBOSE")) {
        for (const Segment& sg : m_segs)
            fprintf(stderr, "segment text %d start %d length %d marks %d\n", sg.text, sg.start, sg.length, sg.marks);
    }
}

void TextMap::AddText(const Reference<XText>& text, bool inTable)
{
    int ti = int(m_texts.size());
    m_texts.push_back(TextInfo{text, Reference<XTextRangeCompare>(text, UNO_QUERY), {}, inTable});
    Reference<css::container::XEnumerationAccess> ea(text, UNO_QUERY_THROW);
    Reference<css::container::XEnumeration> en = ea->createEnumeration();
    while (en->hasMoreElements()) {
        Reference<css::lang::XServiceInfo> si(en->nextElement(), UNO_QUERY);
        if (!si.is())
            continue;
        Reference<XTextTable> table(si, UNO_QUERY);
        if (table.is()) {
            css::uno::Sequence<rtl::OUString> names = table->getCellNames();
            // Tables of the main text keep their rows' places; nested ones go with their cell.
            TableSpan* span = nullptr;
            if (ti == 0) {
                m_tables.emplace_back();
                span = &m_tables.back();
                span->table = table;
                span->start = m_end;
            }
            int row = -1;
            for (sal_Int32 i = 0; i < names.getLength(); ++i) {
                int r = RowOfCellName(names[i]);
                if (row != -1 && r != row && !m_segs.empty()) {
                    m_segs.back().marks += 1;  // end-of-row mark
                    m_end += 1;
                }
                if (span && r != row) {
                    span->rowStart.push_back(m_end);
                    span->firstCell.push_back(names[i]);
                    span->lastCell.push_back(names[i]);
                }
                if (span)
                    span->lastCell.back() = names[i];
                row = r;
                Reference<XText> cell(table->getCellByName(names[i]), UNO_QUERY);
                if (!cell.is())
                    continue;
                size_t before = m_segs.size();
                AddText(cell, true);
                if (m_segs.size() == before) {
                    // An empty cell still has its mark.
                    Segment s;
                    s.text = int(m_texts.size()) - 1;
                    s.para = cell->getStart();
                    s.start = m_end;
                    s.length = 0;
                    s.marks = 1;
                    m_end += 1;
                    m_texts.back().segs.push_back(int(m_segs.size()));
                    m_segs.push_back(s);
                }
            }
            if (row != -1 && !m_segs.empty()) {
                m_segs.back().marks += 1;  // the last row's mark
                m_end += 1;
            }
            if (span) {
                span->end = m_end;
                if (span->rowStart.empty())
                    m_tables.pop_back();
            }
            continue;
        }
        Reference<XTextRange> para(si, UNO_QUERY);
        if (!para.is() || !si->supportsService("com.sun.star.text.Paragraph"))
            continue;
        Segment s;
        s.text = ti;
        s.para = para;
        s.start = m_end;
        s.length = para->getString().getLength();
        s.marks = 1;
        m_end += s.length + s.marks;
        m_texts[ti].segs.push_back(int(m_segs.size()));
        m_segs.push_back(s);
    }
}

int TextMap::SegmentAt(int pos) const
{
    if (m_segs.empty() || pos < 0)
        return -1;
    auto it = std::upper_bound(m_segs.begin(), m_segs.end(), pos,
                               [](int p, const Segment& s) { return p < s.start; });
    if (it == m_segs.begin())
        return -1;
    return int(it - m_segs.begin()) - 1;
}

int TextMap::TableAt(int pos) const
{
    auto it = std::upper_bound(m_tables.begin(), m_tables.end(), pos,
                               [](int p, const TableSpan& t) { return p < t.start; });
    if (it == m_tables.begin())
        return -1;
    --it;
    return pos < it->end ? int(it - m_tables.begin()) : -1;
}

int TextMap::RowAt(int i, int pos) const
{
    const TableSpan& t = m_tables[size_t(i)];
    auto it = std::upper_bound(t.rowStart.begin(), t.rowStart.end(), pos);
    return it == t.rowStart.begin() ? 0 : int(it - t.rowStart.begin()) - 1;
}

int TextMap::PositionOf(const Reference<XTextRange>& r)
{
    if (!r.is())
        return -1;
    Reference<XText> text = r->getText();
    for (auto& ti : m_texts) {
        if (ti.text != text || !ti.compare.is() || ti.segs.empty())
            continue;
        // Last paragraph of this text that starts at or before r.
        int lo = 0, hi = int(ti.segs.size()) - 1, found = -1;
        Reference<XTextRange> start = r->getStart();
        while (lo <= hi) {
            int mid = (lo + hi) / 2;
            // 1: paragraph starts before r, 0: same place, -1: after.
            sal_Int16 c = ti.compare->compareRegionStarts(m_segs[ti.segs[mid]].para, start);
            if (c >= 0) {
                found = mid;
                lo = mid + 1;
            } else {
                hi = mid - 1;
            }
        }
        if (found < 0)
            return -1;
        const Segment& s = m_segs[ti.segs[found]];
        // A cursor drawn up to a place at a content control's edge takes in the whole
        // control: the paragraph's own edges are told by comparing first.
        int offset;
        if (ti.compare->compareRegionStarts(s.para->getStart(), start) == 0) {
            offset = 0;
        } else {
            Reference<XTextCursor> cur = text->createTextCursorByRange(s.para->getStart());
            cur->gotoRange(start, true);
            offset = std::min<int>(cur->getString().getLength(), s.length);
        }
        int pos = s.start + offset;
        m_anchors[pos] = start;
        return pos;
    }
    return -1;
}

Reference<XText> TextMap::TextAt(int pos)
{
    int si = SegmentAt(std::min(pos, m_end - 1));
    if (si < 0)
        return nullptr;
    return m_texts[m_segs[si].text].text;
}

bool TextMap::InTable(int pos)
{
    int si = SegmentAt(std::min(pos, m_end - 1));
    return si >= 0 && m_texts[m_segs[si].text].inTable;
}

Reference<XTextRange> TextMap::LastEndInTextOf(int from, int pos)
{
    int f = SegmentAt(std::min(from, m_end - 1));
    if (f < 0)
        return nullptr;
    int text = m_segs[f].text;
    for (int i = SegmentAt(std::min(pos, m_end - 1)); i >= f; --i) {
        if (i >= 0 && m_segs[i].text == text && m_segs[i].start < pos)
            return m_segs[i].para->getEnd();
    }
    return m_segs[f].para->getEnd();
}

Reference<XTextRange> TextMap::RangeAt(int pos, bool asEnd)
{
    if (pos < 0 || pos > m_end)
        return nullptr;
    if (asEnd && pos < m_end) {
        int si = SegmentAt(pos);
        if (si > 0 && m_segs[si].start == pos && m_segs[si - 1].text != m_segs[si].text)
            return m_segs[si - 1].para->getEnd();
    }
    auto a = m_anchors.find(pos);
    if (a != m_anchors.end())
        return a->second;
    if (m_segs.empty())
        return nullptr;
    if (pos >= m_end) {
        // After the last mark: the end of the last paragraph.
        const Segment& s = m_segs.back();
        if (m_texts[s.text].inTable)
            return m_texts[0].text->getEnd();
        return s.para->getEnd();
    }
    int si = SegmentAt(pos);
    if (si < 0)
        return nullptr;
    const Segment& s = m_segs[si];
    int k = pos - s.start;
    if (k >= s.length)
        return s.para->getEnd();  // on the mark: the paragraph's end
    if (k == 0)
        return s.para->getStart();
    // Cursor steps and string lengths differ on fields and surrogate pairs: step, then
    // correct by the length of what lies between.
    Reference<XText> text = m_texts[s.text].text;
    Reference<XTextCursor> cur = text->createTextCursorByRange(s.para->getStart());
    // One step moves at most 32,767 characters: long paragraphs take several.
    for (int left = k; left > 0;) {
        int step = std::min(left, 32767);
        if (!cur->goRight(sal_Int16(step), false))
            break;
        left -= step;
    }
    for (int guard = 0; guard < 64; ++guard) {
        Reference<XTextCursor> probe = text->createTextCursorByRange(s.para->getStart());
        probe->gotoRange(cur->getStart(), true);
        int have = probe->getString().getLength();
        if (have == k)
            break;
        if (have > k) {
            if (!cur->goLeft(1, false))
                break;
        } else {
            if (!cur->goRight(1, false))
                break;
            Reference<XTextCursor> again = text->createTextCursorByRange(s.para->getStart());
            again->gotoRange(cur->getStart(), true);
            if (again->getString().getLength() > k) {
                cur->goLeft(1, false);  // inside a field: its start is the nearest place
                break;
            }
        }
    }
    return cur->getStart();
}

}  // namespace wordengine
