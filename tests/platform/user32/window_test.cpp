// Windows of registered classes: creation, messages, painting into the backing bitmap,
// scroll bars driven by real Qt scroll bars, mouse input and destruction.
#include <windows.h>

#include "QtApp.h"
#include "platform/internal/ui.h"

#include <QScrollBar>
#include <QStyle>
#include <QTest>
#include <QWidget>
#include <gtest/gtest.h>

#include <vector>

namespace {

struct Msg {
    UINT msg;
    WPARAM wp;
    LPARAM lp;
};
std::vector<Msg> g_log;
void* g_createParam = nullptr;
LRESULT g_createResult = 0;

LRESULT CALLBACK LogProc(HWND h, UINT m, WPARAM wp, LPARAM lp)
{
    g_log.push_back({m, wp, lp});
    if (m == WM_CREATE) {
        g_createParam = reinterpret_cast<CREATESTRUCTA*>(lp)->lpCreateParams;
        return g_createResult;
    }
    return DefWindowProcA(h, m, wp, lp);
}

void Register(const char* name, HBRUSH brush)
{
    WNDCLASSA wc{};
    wc.style = CS_DBLCLKS;
    wc.lpfnWndProc = LogProc;
    wc.hbrBackground = brush;
    wc.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    wc.lpszClassName = name;
    if (!GetClassInfoA(nullptr, name, nullptr)) {
        ASSERT_NE(0, RegisterClassA(&wc));
    }
}

std::vector<UINT> Kinds()
{
    std::vector<UINT> k;
    for (auto& m : g_log)
        k.push_back(m.msg);
    return k;
}

class WindowTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        TestApp();
        g_log.clear();
        g_createResult = 0;
        parent = new QWidget;
        parent->resize(600, 500);
        parent->show();
        Register("TestLog", (HBRUSH)GetStockObject(WHITE_BRUSH));
    }
    void TearDown() override { delete parent; }
    HWND Make(DWORD style, int w = 200, int h = 100)
    {
        return CreateWindowExA(0, "testlog", "", WS_CHILD | style, 5, 6, w, h, platform::ui::WindowOf(parent), nullptr,
                               nullptr, this);
    }
    QScrollBar* Bar(HWND h, Qt::Orientation o)
    {
        for (QScrollBar* sb : platform::ui::WidgetOf(h)->findChildren<QScrollBar*>())
            if (sb->orientation() == o)
                return sb;
        return nullptr;
    }
    int Extent() { return parent->style()->pixelMetric(QStyle::PM_ScrollBarExtent); }
    QWidget* parent;
};

TEST_F(WindowTest, ClassesAreFoundByNameWithoutRegardToCase)
{
    WNDCLASSA wc{};
    EXPECT_TRUE(GetClassInfoA(nullptr, "TESTLOG", &wc));
    EXPECT_EQ(LogProc, wc.lpfnWndProc);
    EXPECT_EQ(CS_DBLCLKS, wc.style);
    wc.lpszClassName = "testLOG";
    EXPECT_EQ(0, RegisterClassA(&wc)) << "a taken name";
    wc.lpszClassName = "NoProc";
    wc.lpfnWndProc = nullptr;
    EXPECT_EQ(0, RegisterClassA(&wc));
    EXPECT_FALSE(GetClassInfoA(nullptr, "NoProc", &wc));
    EXPECT_EQ(nullptr, CreateWindowExA(0, "NoSuchClass", "", WS_CHILD, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr));
}

TEST_F(WindowTest, CreationSendsCreateWithTheParameterThenSize)
{
    HWND h = Make(0);
    ASSERT_TRUE(IsWindow(h));
    EXPECT_EQ(this, g_createParam);
    ASSERT_EQ((std::vector<UINT>{WM_CREATE, WM_SIZE}), Kinds());
    EXPECT_EQ(MAKELPARAM(200, 100), g_log[1].lp);
    RECT rc{1, 2, 3, 4};
    EXPECT_TRUE(GetClientRect(h, &rc));
    EXPECT_EQ(200, rc.right);
    EXPECT_EQ(100, rc.bottom);
    EXPECT_EQ(0, rc.left);
    EXPECT_EQ(QRect(5, 6, 200, 100), platform::ui::WidgetOf(h)->geometry());
    EXPECT_FALSE(IsWindowVisible(h)) << "not WS_VISIBLE";
    EXPECT_FALSE(ShowWindow(h, SW_SHOW));
    EXPECT_TRUE(IsWindowVisible(h));
    EXPECT_TRUE(ShowWindow(h, SW_HIDE));

    g_log.clear();
    g_createResult = -1;
    EXPECT_EQ(nullptr, Make(0)) << "-1 from WM_CREATE refuses the window";
    EXPECT_EQ((std::vector<UINT>{WM_CREATE, WM_DESTROY, WM_NCDESTROY}), Kinds());
}

TEST_F(WindowTest, UserDataHoldsAPointerAndStyleIsReadable)
{
    HWND h = Make(WS_VSCROLL);
    LONG_PTR big = (LONG_PTR)0x7fffdeadbeefLL;
    EXPECT_EQ(0, SetWindowLongPtrA(h, GWLP_USERDATA, big));
    EXPECT_EQ(big, GetWindowLongPtrA(h, GWLP_USERDATA));
    EXPECT_EQ(big, SetWindowLongPtrA(h, GWLP_USERDATA, 1));
    EXPECT_EQ(1, GetWindowLongA(h, GWL_USERDATA));
    EXPECT_EQ((LONG)(WS_CHILD | WS_VSCROLL), GetWindowLongA(h, GWL_STYLE));
    EXPECT_EQ(0, GetWindowLongPtrA(nullptr, GWLP_USERDATA));
}

TEST_F(WindowTest, PaintingGoesThroughBeginPaintIntoTheWindowSurface)
{
    HWND h = Make(WS_VISIBLE);
    UpdateWindow(h);  // the creation's paint: erased with the class brush
    HDC dc = GetDC(h);
    ASSERT_NE(nullptr, dc);
    EXPECT_EQ(RGB(255, 255, 255), GetPixel(dc, 10, 10));
    SetPixel(dc, 10, 10, RGB(0xde, 0xad, 0xbe));
    EXPECT_EQ(1, ReleaseDC(h, dc));

    g_log.clear();
    EXPECT_TRUE(UpdateWindow(h));
    EXPECT_TRUE(g_log.empty()) << "nothing invalid, no WM_PAINT";
    dc = GetDC(h);
    EXPECT_EQ(RGB(0xde, 0xad, 0xbe), GetPixel(dc, 10, 10)) << "untouched without a paint";
    ReleaseDC(h, dc);

    RECT part{0, 0, 5, 5};
    InvalidateRect(h, &part, FALSE);
    UpdateWindow(h);
    EXPECT_EQ((std::vector<UINT>{WM_PAINT}), Kinds()) << "no erase asked";
    InvalidateRect(h, nullptr, TRUE);
    g_log.clear();
    UpdateWindow(h);
    EXPECT_EQ((std::vector<UINT>{WM_PAINT, WM_ERASEBKGND}), Kinds());
    dc = GetDC(h);
    EXPECT_EQ(RGB(255, 255, 255), GetPixel(dc, 10, 10)) << "erased by the default procedure";
    ReleaseDC(h, dc);

    // What the surface holds is what the widget shows.
    QImage shot = platform::ui::WidgetOf(h)->grab().toImage();
    EXPECT_EQ(qRgb(255, 255, 255), shot.pixel(10, 10) | 0xff000000);
}

TEST_F(WindowTest, EmptyScrollRangeHidesTheBarAndResizesTheClient)
{
    HWND h = Make(WS_VISIBLE | WS_VSCROLL | WS_HSCROLL);
    RECT rc;
    GetClientRect(h, &rc);
    EXPECT_EQ(200, rc.right) << "empty ranges at start";
    g_log.clear();
    EXPECT_TRUE(SetScrollRange(h, SB_VERT, 0, 300, TRUE));
    GetClientRect(h, &rc);
    EXPECT_EQ(200 - Extent(), rc.right);
    ASSERT_EQ((std::vector<UINT>{WM_SIZE}), Kinds());
    EXPECT_EQ(MAKELPARAM(200 - Extent(), 100), g_log[0].lp);

    int lo = -1, hi = -1;
    EXPECT_TRUE(GetScrollRange(h, SB_VERT, &lo, &hi));
    EXPECT_EQ(0, lo);
    EXPECT_EQ(300, hi);
    EXPECT_EQ(0, SetScrollPos(h, SB_VERT, 500, TRUE));
    EXPECT_EQ(300, GetScrollPos(h, SB_VERT)) << "clamped to the range";
    SetScrollRange(h, SB_VERT, 0, 100, TRUE);
    EXPECT_EQ(100, GetScrollPos(h, SB_VERT)) << "a smaller range moves the thumb in";
    SetScrollRange(h, SB_VERT, 0, 0, TRUE);
    GetClientRect(h, &rc);
    EXPECT_EQ(200, rc.right);
    EXPECT_EQ(0, GetScrollPos(h, SB_VERT));

    HWND plain = Make(0);
    lo = hi = 0xdead;
    EXPECT_FALSE(GetScrollRange(plain, SB_VERT, &lo, &hi)) << "no scroll bar style";
    EXPECT_EQ(0, lo);
    EXPECT_EQ(0, hi);
}

TEST_F(WindowTest, ScrollBarActionsBecomeScrollMessagesAndTheProcedureMovesTheThumb)
{
    HWND h = Make(WS_VISIBLE | WS_VSCROLL);
    SetScrollRange(h, SB_VERT, 0, 100000, TRUE);
    SetScrollPos(h, SB_VERT, 10, TRUE);
    QScrollBar* sb = Bar(h, Qt::Vertical);
    ASSERT_NE(nullptr, sb);

    struct Row {
        QAbstractSlider::SliderAction action;
        WORD code;
    } rows[] = {{QAbstractSlider::SliderSingleStepSub, SB_LINEUP}, {QAbstractSlider::SliderSingleStepAdd, SB_LINEDOWN},
                {QAbstractSlider::SliderPageStepSub, SB_PAGEUP},   {QAbstractSlider::SliderPageStepAdd, SB_PAGEDOWN},
                {QAbstractSlider::SliderToMinimum, SB_TOP},        {QAbstractSlider::SliderToMaximum, SB_BOTTOM}};
    for (auto& r : rows) {
        SCOPED_TRACE(r.code);
        g_log.clear();
        sb->triggerAction(r.action);
        ASSERT_EQ(1u, g_log.size());
        EXPECT_EQ((UINT)WM_VSCROLL, g_log[0].msg);
        EXPECT_EQ(r.code, LOWORD(g_log[0].wp));
        EXPECT_EQ(10, sb->value()) << "the thumb waits for SetScrollPos";
        EXPECT_EQ(10, GetScrollPos(h, SB_VERT));
    }

    // Dragging: positions travel in 16 bits, the release reports the last one.
    g_log.clear();
    sb->setSliderDown(true);
    sb->setSliderPosition(70000);
    ASSERT_EQ(1u, g_log.size());
    EXPECT_EQ(SB_THUMBTRACK, LOWORD(g_log[0].wp));
    EXPECT_EQ((WORD)70000, HIWORD(g_log[0].wp));
    g_log.clear();
    sb->setSliderDown(false);
    ASSERT_EQ(2u, g_log.size());
    EXPECT_EQ(SB_THUMBPOSITION, LOWORD(g_log[0].wp));
    EXPECT_EQ((WORD)70000, HIWORD(g_log[0].wp));
    EXPECT_EQ(SB_ENDSCROLL, LOWORD(g_log[1].wp));
}

TEST_F(WindowTest, MouseInputArrivesInClientCoordinates)
{
    HWND h = Make(WS_VISIBLE);
    QWidget* client = platform::ui::WidgetOf(h)->childAt(20, 30);
    ASSERT_NE(nullptr, client);
    g_log.clear();
    QTest::mousePress(client, Qt::LeftButton, Qt::ShiftModifier, QPoint(20, 30));
    QTest::mouseRelease(client, Qt::LeftButton, Qt::NoModifier, QPoint(21, 31));
    ASSERT_GE(g_log.size(), 2u);
    Msg down = g_log.front(), up = g_log.back();
    EXPECT_EQ((UINT)WM_LBUTTONDOWN, down.msg);
    EXPECT_EQ(MAKELPARAM(20, 30), down.lp);
    EXPECT_EQ((WPARAM)(MK_LBUTTON | MK_SHIFT), down.wp);
    EXPECT_EQ((UINT)WM_LBUTTONUP, up.msg);
    EXPECT_EQ(MAKELPARAM(21, 31), up.lp);
}

TEST_F(WindowTest, MoveSizesAtOnceAndDestructionReachesTheProcedure)
{
    HWND h = Make(0);
    g_log.clear();
    EXPECT_TRUE(MoveWindow(h, 1, 1, 300, 150, TRUE));
    ASSERT_FALSE(g_log.empty());
    EXPECT_EQ((UINT)WM_SIZE, g_log[0].msg) << "before Qt's deferred resize event";
    EXPECT_EQ(MAKELPARAM(300, 150), g_log[0].lp);
    g_log.clear();
    MoveWindow(h, 2, 2, 300, 150, FALSE);
    EXPECT_TRUE(g_log.empty()) << "same size, no WM_SIZE";

    EXPECT_TRUE(DestroyWindow(h));
    EXPECT_FALSE(IsWindow(h));
    EXPECT_EQ(0, SendMessageA(h, WM_USER, 0, 0));

    HWND child = Make(0);
    g_log.clear();
    delete parent;  // the form goes, its child windows with it
    parent = nullptr;
    EXPECT_FALSE(IsWindow(child));
    EXPECT_EQ((std::vector<UINT>{WM_DESTROY, WM_NCDESTROY}), Kinds());
}

TEST_F(WindowTest, ForeignWidgetsHaveOneHandle)
{
    HWND a = platform::ui::WindowOf(parent);
    EXPECT_EQ(a, platform::ui::WindowOf(parent));
    EXPECT_EQ(parent, platform::ui::WidgetOf(a));
    RECT rc;
    EXPECT_TRUE(GetClientRect(a, &rc));
    EXPECT_EQ(600, rc.right);
    EXPECT_EQ(0, SendMessageA(a, WM_USER, 1, 2));
    QWidget* temp = new QWidget;
    HWND t = platform::ui::WindowOf(temp);
    delete temp;
    EXPECT_FALSE(IsWindow(t));
}

TEST_F(WindowTest, WaitCursorOverridesUntilTheArrowReturns)
{
    HCURSOR arrow = LoadCursorA(nullptr, IDC_ARROW), wait = LoadCursorA(nullptr, IDC_WAIT);
    ASSERT_NE(nullptr, arrow);
    ASSERT_NE(arrow, wait);
    EXPECT_EQ(nullptr, LoadCursorA(nullptr, (LPCSTR)(ULONG_PTR)32650));
    SetCursor(arrow);
    EXPECT_EQ(arrow, SetCursor(wait));
    ASSERT_NE(nullptr, QGuiApplication::overrideCursor());
    EXPECT_EQ(Qt::WaitCursor, QGuiApplication::overrideCursor()->shape());
    SetCursor(wait);  // twice: one override only
    EXPECT_EQ(wait, SetCursor(arrow));
    EXPECT_EQ(nullptr, QGuiApplication::overrideCursor());
    EXPECT_EQ(arrow, GetCursor());
}

}  // namespace
