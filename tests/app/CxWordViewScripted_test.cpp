// The preview over real documents of the Word layer, served by the scripted automation server:
// what the window shows is the page the document has current.
#include "word/CxWordDoc.h"
#include "word/CxWordUtil.h"
#include "word/CxWordView.h"

#include "QtApp.h"
#include "WordFixture.h"
#include "platform/internal/ui.h"

#include <QApplication>
#include <QKeyEvent>
#include <QScrollBar>
#include <QTest>
#include <QStyle>
#include <QWheelEvent>
#include <QWidget>

#include <cmath>
#include <functional>

#include <memory>

namespace {

class ScriptedViewTest : public WordFixture {
protected:
    void SetUp() override
    {
        TestApp();
        WordFixture::SetUp();
        CoInitialize(nullptr);  // balanced by the instance's end
        util.reset(new CxWordUtil);
        panel.reset(new QWidget);
        panel->resize(700, 700);
        panel->show();
        view = new CxWordView;
        RECT rc = {1, 1, 301, 401};
        ASSERT_TRUE(view->Create(platform::ui::WindowOf(panel.get()), &rc));
    }
    void TearDown() override
    {
        panel.reset();  // ends the window and the view
        util.reset();
        WordFixture::TearDown();
    }
    COLORREF Pixel(int x, int y)
    {
        HDC dc = GetDC(view->GetHandle());
        COLORREF c = GetPixel(dc, x, y);
        ReleaseDC(view->GetHandle(), dc);
        return c;
    }
    int Max(int bar)
    {
        int lo = 0, hi = 0;
        GetScrollRange(view->GetHandle(), bar, &lo, &hi);
        return hi;
    }

    std::unique_ptr<CxWordUtil> util;
    std::unique_ptr<QWidget> panel;
    CxWordView* view = nullptr;
};

TEST_F(ScriptedViewTest, ShowsTheCurrentPageAndScrollsOverItsExtent)
{
    std::string path = Doc("Three.docx", scripted::MakeDocument({"page 1", "page 2", "page 3"}));
    CxWordDoc* doc = util->OpenDocument(path.c_str());
    ASSERT_NE(nullptr, doc);
    view->SetDocument(doc);
    EXPECT_EQ(0, doc->GetCurrentPage());
    EXPECT_EQ(scripted::PageColour("page 1"), Pixel(10, 10));

    // A4 at the screen's resolution, less the client area.
    HDC screen = GetDC(nullptr);
    const int dpi = GetDeviceCaps(screen, LOGPIXELSX);
    ReleaseDC(nullptr, screen);
    const int pw = (21000 * dpi + 1270) / 2540, ph = (29700 * dpi + 1270) / 2540;
    RECT rc;
    GetClientRect(view->GetHandle(), &rc);
    EXPECT_EQ(pw - rc.right, Max(SB_HORZ));
    EXPECT_EQ(ph - rc.bottom, Max(SB_VERT));

    SendMessageA(view->GetHandle(), WM_VSCROLL, MAKEWPARAM(SB_BOTTOM, 0), 0);
    EXPECT_EQ(Max(SB_VERT), GetScrollPos(view->GetHandle(), SB_VERT));
    EXPECT_EQ(scripted::PageColour("page 1"), Pixel(rc.right - 1, rc.bottom - 1)) << "still on the page";

    view->ShowPage(2);
    EXPECT_EQ(2, doc->GetCurrentPage());
    EXPECT_EQ(scripted::PageColour("page 3"), Pixel(10, 10));
    EXPECT_EQ(Max(SB_VERT), GetScrollPos(view->GetHandle(), SB_VERT)) << "the offset stays";

    view->SetDocument(doc);  // the shown document: its page stays
    EXPECT_EQ(2, doc->GetCurrentPage());
    view->ShowPage(3);
    EXPECT_EQ(2, doc->GetCurrentPage());
}

// The zoom over an A4 page (794 x 1123 at 96 dpi) in a 300 x 400 window: the page's shown
// size gives the scroll ranges; the fits leave no bar across (fit width) or none at all (fit
// page), and the page is drawn at its shown size.
TEST_F(ScriptedViewTest, ZoomSetsTheShownSizeAndTheRanges)
{
    CxWordDoc* doc = util->OpenDocument(Doc("Zoom.docx", scripted::MakeDocument({"z 1", "z 2"})).c_str());
    ASSERT_NE(nullptr, doc);
    view->SetDocument(doc);
    const HWND hwnd = view->GetHandle();
    const int bar = panel->style()->pixelMetric(QStyle::PM_ScrollBarExtent);
    const struct {
        int zoom;
        int width, height;       // shown size
        int maxH, maxV;          // scroll ranges
    } rows[] = {
        {100, 794, 1123, 794 - (300 - bar), 1123 - (400 - bar)},
        {50, 397, 562, 397 - (300 - bar), 562 - (400 - bar)},
        {25, 199, 281, 0, 0},
        {400, 3176, 4492, 3176 - (300 - bar), 4492 - (400 - bar)},
        // As wide as the window less the vertical bar; as high as that makes it.
        {CxWordView::kZoomFitWidth, 300 - bar, (int)std::lround(1123.0 * (300 - bar) / 794), 0,
         (int)std::lround(1123.0 * (300 - bar) / 794) - 400},
        // The whole page: the window's height decides for a portrait page.
        {CxWordView::kZoomFitPage, (int)std::lround(794 * 400.0 / 1123), 400, 0, 0},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(testing::Message() << "zoom " << row.zoom);
        view->SetZoom(row.zoom);
        EXPECT_EQ(row.zoom, view->GetZoom());
        POINT shown = {0, 0};
        ASSERT_TRUE(view->GetShownSize(&shown));
        EXPECT_EQ(row.width, shown.x);
        EXPECT_EQ(row.height, shown.y);
        EXPECT_EQ(row.maxH, Max(SB_HORZ));
        EXPECT_EQ(row.maxV, Max(SB_VERT));
        RECT rc;
        GetClientRect(hwnd, &rc);
        EXPECT_EQ(scripted::PageColour("z 1"), Pixel(std::min<int>(rc.right, shown.x) - 1, 5)) << "page to its edge";
        if (shown.x < rc.right)
            EXPECT_EQ(RGB(255, 255, 255), Pixel(shown.x + 1, 5)) << "white beside the page";
    }
    view->SetZoom(7);  // no zoom: ignored
    EXPECT_EQ(CxWordView::kZoomFitPage, view->GetZoom());
    view->ShowPage(1);
    EXPECT_EQ(CxWordView::kZoomFitPage, view->GetZoom()) << "kept from page to page";
    EXPECT_EQ(scripted::PageColour("z 2"), Pixel(5, 5));
}

// Input of the preview itself: Page Up/Down and Home/End go through the pages, Ctrl +/- and
// Ctrl + wheel zoom by steps, Ctrl 0 is full size, the wheel alone scrolls; each change the
// window makes on its own is told to its owner.
TEST_F(ScriptedViewTest, KeysAndTheWheelMoveThroughPagesAndZoom)
{
    CxWordDoc* doc =
        util->OpenDocument(Doc("Keys.docx", scripted::MakeDocument({"p 1", "p 2", "p 3", "p 4"})).c_str());
    ASSERT_NE(nullptr, doc);
    view->SetDocument(doc);
    int told = 0;
    view->SetChangeHandler([&] { ++told; });
    QWidget* client = nullptr;
    for (QWidget* child : platform::ui::WidgetOf(view->GetHandle())->findChildren<QWidget*>())
        if (!qobject_cast<QScrollBar*>(child))
            client = child;
    ASSERT_NE(nullptr, client);
    // A click gives the preview the keys.
    panel->activateWindow();
    QApplication::setActiveWindow(panel.get());
    QTest::mouseClick(client, Qt::LeftButton, Qt::NoModifier, QPoint(10, 10));
    EXPECT_EQ(view->GetHandle(), GetFocus());
    auto key = [&](Qt::Key k, Qt::KeyboardModifiers m) {
        QKeyEvent e(QEvent::KeyPress, k, m);
        QApplication::sendEvent(client, &e);
    };
    auto wheel = [&](int delta, Qt::KeyboardModifiers m) {
        QWheelEvent e(QPointF(20, 20), QPointF(20, 20), QPoint(), QPoint(0, delta), Qt::NoButton, m,
                      Qt::NoScrollPhase, false);
        QApplication::sendEvent(client, &e);
    };
    const struct {
        const char* what;
        std::function<void()> input;
        int page, zoom;
        bool told;
    } rows[] = {
        {"page down", [&] { key(Qt::Key_PageDown, Qt::NoModifier); }, 1, 100, true},
        {"end", [&] { key(Qt::Key_End, Qt::NoModifier); }, 3, 100, true},
        {"page down at the end", [&] { key(Qt::Key_PageDown, Qt::NoModifier); }, 3, 100, false},
        {"page up", [&] { key(Qt::Key_PageUp, Qt::NoModifier); }, 2, 100, true},
        {"home", [&] { key(Qt::Key_Home, Qt::NoModifier); }, 0, 100, true},
        {"ctrl plus", [&] { key(Qt::Key_Plus, Qt::ControlModifier); }, 0, 125, true},
        {"ctrl equal (plus without shift)", [&] { key(Qt::Key_Equal, Qt::ControlModifier); }, 0, 150, true},
        {"ctrl minus", [&] { key(Qt::Key_Minus, Qt::ControlModifier); }, 0, 125, true},
        {"plus without ctrl", [&] { key(Qt::Key_Plus, Qt::NoModifier); }, 0, 125, false},
        {"ctrl wheel up", [&] { wheel(120, Qt::ControlModifier); }, 0, 150, true},
        {"ctrl wheel down", [&] { wheel(-120, Qt::ControlModifier); }, 0, 125, true},
        {"ctrl 0", [&] { key(Qt::Key_0, Qt::ControlModifier); }, 0, 100, true},
        {"wheel down scrolls", [&] { wheel(-120, Qt::NoModifier); }, 0, 100, false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        told = 0;
        row.input();
        EXPECT_EQ(row.page, doc->GetCurrentPage());
        EXPECT_EQ(row.zoom, view->GetZoom());
        EXPECT_EQ(row.told ? 1 : 0, told);
    }
    EXPECT_EQ(60, GetScrollPos(view->GetHandle(), SB_VERT)) << "one notch of the wheel";
    key(Qt::Key_PageDown, Qt::NoModifier);
    EXPECT_EQ(0, GetScrollPos(view->GetHandle(), SB_VERT)) << "another page is read from its top";

    // At the largest step there is no further one.
    view->SetZoom(CxWordView::kMaxZoom);
    EXPECT_FALSE(view->ZoomIn());
    view->SetZoom(CxWordView::kMinZoom);
    EXPECT_FALSE(view->ZoomOut());
}

}  // namespace
