// Character positions as Word counts them, over a Writer document's main text: every
// paragraph counts its characters plus one for its mark; a table counts its cells' text and
// marks (the last paragraph mark of a cell is the cell's mark) plus one mark per row.
// Functions here call UNO and may throw; callers run them inside Guarded().
#pragma once

#include "EngineInternal.h"

#include <com/sun/star/text/XText.hpp>
#include <com/sun/star/text/XTextDocument.hpp>
#include <com/sun/star/text/XTextRange.hpp>
#include <com/sun/star/text/XTextRangeCompare.hpp>
#include <com/sun/star/text/XTextTable.hpp>

#include <map>
#include <vector>

namespace wordengine {

class TextMap {
public:
    struct Segment {
        int text = 0;   // index into m_texts
        Reference<css::text::XTextRange> para;
        int start = 0;  // position of the paragraph's first character
        int length = 0; // characters, marks excluded
        int marks = 1;  // paragraph mark, plus the row mark after a row's last cell
    };

    void Build(const Reference<css::text::XTextDocument>& doc);
    bool Built() const { return m_built; }
    void Clear();

    // End of the whole main text (after the last paragraph mark).
    int End() const { return m_end; }
    // Position of a range's start; -1 when it is not in the main text.
    int PositionOf(const Reference<css::text::XTextRange>& r);
    // A collapsed range at a position (0..End()); null when out of range. As the end of a
    // range, a position that starts a paragraph in another text (a table after text, text
    // after a table) is the end of the paragraph before it.
    Reference<css::text::XTextRange> RangeAt(int pos, bool asEnd = false);
    // The end of the last paragraph before pos that lies in the same text as position from.
    Reference<css::text::XTextRange> LastEndInTextOf(int from, int pos);
    // The text that holds a position (null when out of range).
    Reference<css::text::XText> TextAt(int pos);
    // True when pos lies inside a table cell.
    bool InTable(int pos);

    const std::vector<Segment>& Segments() const { return m_segs; }

    // A table of the main text (not one nested in a cell) and where its rows begin.
    struct TableSpan {
        Reference<css::text::XTextTable> table;
        int start = 0;                       // position of its first cell's text
        int end = 0;                         // position after its last row mark
        std::vector<int> rowStart;           // position of each row's first cell
        std::vector<rtl::OUString> firstCell, lastCell;  // cell names at each row's ends
    };
    // The table of the main text that holds pos (-1 when none).
    int TableAt(int pos) const;
    const TableSpan& Table(int i) const { return m_tables[size_t(i)]; }
    // Row of table i that holds pos (clamped to its rows).
    int RowAt(int i, int pos) const;

private:
    struct TextInfo {
        Reference<css::text::XText> text;
        Reference<css::text::XTextRangeCompare> compare;
        std::vector<int> segs;  // indexes into m_segs, in order
        bool inTable = false;
    };
    void AddText(const Reference<css::text::XText>& text, bool inTable);
    int SegmentAt(int pos) const;

    bool m_built = false;
    int m_end = 0;
    std::vector<Segment> m_segs;
    std::vector<TextInfo> m_texts;
    std::vector<TableSpan> m_tables;
    // Exact ranges of positions computed from the layout, so that a position handed out is
    // turned back into the very same place.
    std::map<int, Reference<css::text::XTextRange>> m_anchors;
};

}  // namespace wordengine
