// The page preview window over a document whose page extent is known without a word
// processor: painting, scroll ranges, the scroll algorithm and the window's ownership.
#include "word/CxWordDoc.h"
#include "word/CxWordView.h"

#include "QtApp.h"
#include "platform/internal/ui.h"

#include <QStyle>
#include <QWidget>
#include <gtest/gtest.h>

namespace {

// A loaded document as far as the preview sees it: a page count, a current page and an
// extent; it cannot switch pages (there is no word processor behind it).
class PagedDoc : public CxWordDoc {
public:
    PagedDoc(int pages, int width, int height) : CxWordDoc(nullptr)
    {
        m_nPageCount = pages;
        m_nCurrPage = 0;
        m_PageSizes.assign(size_t(pages), POINT{width, height});
    }
    void SetCurrent(int n) { m_nCurrPage = n; }
};

int g_deleted = 0;

class TestView : public CxWordView {
public:
    ~TestView() override { ++g_deleted; }
    int X() const { return m_nOffsetX; }
    int Y() const { return m_nOffsetY; }
};

const COLORREF kSentinel = RGB(0xde, 0xad, 0xbe);

class WordViewTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        TestApp();
        panel = new QWidget;
        panel->resize(800, 700);
        panel->show();
        view = new TestView;
        RECT rc = {3, 3, 303, 403};
        ASSERT_TRUE(view->Create(platform::ui::WindowOf(panel), &rc));
        hwnd = view->GetHandle();
        extent = panel->style()->pixelMetric(QStyle::PM_ScrollBarExtent);
    }
    void TearDown() override { delete panel; }

    COLORREF Pixel(int x, int y)
    {
        HDC dc = GetDC(hwnd);
        COLORREF c = GetPixel(dc, x, y);
        ReleaseDC(hwnd, dc);
        return c;
    }
    void Mark() { HDC dc = GetDC(hwnd); SetPixel(dc, 1, 1, kSentinel); ReleaseDC(hwnd, dc); }
    int Max(int bar)
    {
        int lo = -1, hi = -1;
        EXPECT_TRUE(GetScrollRange(hwnd, bar, &lo, &hi));
        EXPECT_EQ(0, lo);
        return hi;
    }
    void V(WORD code, WORD thumb = 0) { SendMessageA(hwnd, WM_VSCROLL, MAKEWPARAM(code, thumb), 0); }
    RECT Client() { RECT rc; GetClientRect(hwnd, &rc); return rc; }

    QWidget* panel;
    TestView* view;
    HWND hwnd;
    int extent;
};

TEST_F(WordViewTest, WithoutADocumentGreyAndNothingToScroll)
{
    EXPECT_TRUE(IsWindowVisible(hwnd));
    EXPECT_EQ(RGB(192, 192, 192), Pixel(10, 10));
    EXPECT_EQ(0, Max(SB_HORZ));
    EXPECT_EQ(0, Max(SB_VERT));
    EXPECT_EQ(300, Client().right) << "empty ranges hide the bars";
    EXPECT_EQ(nullptr, view->GetDocument());
    Mark();
    view->ShowPage(0);  // no document: nothing happens
    UpdateWindow(hwnd);
    EXPECT_EQ(kSentinel, Pixel(1, 1));
}

TEST_F(WordViewTest, SmallPageSitsTopLeftOnWhiteWithoutBars)
{
    PagedDoc doc(3, 100, 50);
    view->SetDocument(&doc);
    EXPECT_EQ(&doc, view->GetDocument());
    EXPECT_EQ(RGB(255, 255, 255), Pixel(10, 10));
    EXPECT_EQ(RGB(255, 255, 255), Pixel(200, 300));
    EXPECT_EQ(0, Max(SB_HORZ));
    EXPECT_EQ(0, Max(SB_VERT));
    EXPECT_EQ(0, view->X());
    EXPECT_EQ(0, view->Y());
    view->SetDocument(nullptr);  // never done by the program; must not crash
}

TEST_F(WordViewTest, LargePageGetsRangesOfTheOverhang)
{
    PagedDoc doc(2, 1000, 2000);
    view->SetDocument(&doc);
    RECT rc = Client();
    EXPECT_EQ(300 - extent, rc.right);
    EXPECT_EQ(400 - extent, rc.bottom);
    EXPECT_EQ(1000 - rc.right, Max(SB_HORZ));
    EXPECT_EQ(2000 - rc.bottom, Max(SB_VERT)) << "measured after the horizontal bar appeared";
}

TEST_F(WordViewTest, ScrollRequestsMoveAndClampTheOffset)
{
    PagedDoc doc(2, 1000, 2000);
    view->SetDocument(&doc);
    const int max = Max(SB_VERT);
    struct Row {
        int from;
        WORD code;
        WORD thumb;
        int expected;
    } rows[] = {
        {3, SB_LINEUP, 0, 0},                 // clamped, not -2
        {10, SB_LINEUP, 0, 5},
        {10, SB_LINEDOWN, 0, 15},
        {max - 10, SB_PAGEDOWN, 0, max},      // clamped to max
        {max - 2, SB_LINEDOWN, 0, max},
        {250, SB_PAGEUP, 0, 50},
        {150, SB_PAGEUP, 0, 0},
        {50, SB_PAGEDOWN, 0, 250},
        {50, SB_THUMBTRACK, 777, 777},
        {50, SB_THUMBPOSITION, 900, 900},
        {50, SB_THUMBTRACK, 65535, max},      // 16 bits, then clamped
        {50, SB_BOTTOM, 0, max},
        {50, SB_TOP, 0, 0},
        {50, SB_ENDSCROLL, 0, 50},
    };
    for (auto& r : rows) {
        SCOPED_TRACE(testing::Message() << "from " << r.from << " code " << r.code);
        V(SB_THUMBPOSITION, (WORD)r.from);
        ASSERT_EQ(r.from, view->Y());
        V(r.code, r.thumb);
        EXPECT_EQ(r.expected, view->Y());
        EXPECT_EQ(r.expected, GetScrollPos(hwnd, SB_VERT));
    }
    EXPECT_EQ(0, view->X()) << "the other bar untouched";
    SendMessageA(hwnd, WM_HSCROLL, MAKEWPARAM(SB_LINERIGHT, 0), 0);
    EXPECT_EQ(5, view->X());
}

TEST_F(WordViewTest, RequestsAtTheEndsChangeAndRepaintNothing)
{
    PagedDoc doc(2, 1000, 2000);
    view->SetDocument(&doc);
    V(SB_TOP);
    Mark();
    V(SB_LINEUP);
    V(SB_PAGEUP);
    UpdateWindow(hwnd);
    EXPECT_EQ(kSentinel, Pixel(1, 1));
    EXPECT_EQ(0, view->Y());
    V(SB_BOTTOM);
    EXPECT_NE(kSentinel, Pixel(1, 1)) << "a move repaints at once";
    Mark();
    V(SB_LINEDOWN);
    V(SB_PAGEDOWN);
    UpdateWindow(hwnd);
    EXPECT_EQ(kSentinel, Pixel(1, 1));
}

TEST_F(WordViewTest, ThumbPositionsAreSixteenBits)
{
    PagedDoc doc(1, 100, 100000);
    view->SetDocument(&doc);
    V(SB_THUMBTRACK, 65535);
    EXPECT_EQ(65535, view->Y());
    // A drag of the real bar past 65535 arrives cut to 16 bits, as on Windows.
    V(SB_BOTTOM);
    EXPECT_EQ(100000 - Client().bottom, view->Y());
}

TEST_F(WordViewTest, EnlargingAtTheBottomLowersTheOffset)
{
    PagedDoc doc(2, 1000, 2000);
    view->SetDocument(&doc);
    V(SB_BOTTOM);
    const int bottom = view->Y();
    ASSERT_EQ(Max(SB_VERT), bottom);
    MoveWindow(hwnd, 1, 1, 300, 500, TRUE);
    EXPECT_EQ(bottom - 100, view->Y());
    EXPECT_EQ(bottom - 100, GetScrollPos(hwnd, SB_VERT));
    MoveWindow(hwnd, 1, 1, 300, 2500, TRUE);
    EXPECT_EQ(0, view->Y()) << "taller than the page";
    EXPECT_EQ(0, Max(SB_VERT));
}

TEST_F(WordViewTest, ShowPageIgnoresIndexesOutsideTheDocument)
{
    PagedDoc doc(4, 500, 500);
    view->SetDocument(&doc);
    for (int index : {4, -1, 1000}) {
        SCOPED_TRACE(index);
        Mark();
        view->ShowPage(index);
        UpdateWindow(hwnd);
        EXPECT_EQ(kSentinel, Pixel(1, 1)) << "no repaint";
    }
    Mark();
    view->ShowPage(0);  // the current page: shown again
    EXPECT_EQ(RGB(255, 255, 255), Pixel(1, 1));
}

TEST_F(WordViewTest, SettingTheShownDocumentAgainKeepsItsPageAndPicture)
{
    PagedDoc doc(4, 500, 500), other(2, 500, 500);
    view->SetDocument(&doc);
    doc.SetCurrent(2);  // as if page 3 were being shown
    Mark();
    view->SetDocument(&doc);
    UpdateWindow(hwnd);
    EXPECT_EQ(2, doc.GetCurrentPage());
    EXPECT_EQ(kSentinel, Pixel(1, 1)) << "not refreshed";
    view->SetDocument(&other);
    EXPECT_EQ(&other, view->GetDocument());
    EXPECT_EQ(RGB(255, 255, 255), Pixel(1, 1));
}

TEST_F(WordViewTest, TheWindowOwnsTheViewAndEndsItWithItsParent)
{
    g_deleted = 0;
    auto* second = new TestView;
    ASSERT_TRUE(second->Create(platform::ui::WindowOf(panel), nullptr));
    HWND h2 = second->GetHandle();
    EXPECT_EQ(0, Client().left);
    delete panel;
    panel = nullptr;
    EXPECT_EQ(2, g_deleted);
    EXPECT_FALSE(IsWindow(hwnd));
    EXPECT_FALSE(IsWindow(h2));
    // The class stays registered for the next view.
    WNDCLASSA wc;
    EXPECT_TRUE(GetClassInfoA(GetModuleHandleA(nullptr), "CxWordView", &wc));
    EXPECT_EQ(CS_DBLCLKS, wc.style);
    EXPECT_EQ(&CxWordView::WindowProc, wc.lpfnWndProc);
}

}  // namespace
