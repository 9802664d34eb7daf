// The preview over real documents of the Word layer, served by the scripted automation server:
// what the window shows is the page the document has current.
#include "word/CxWordDoc.h"
#include "word/CxWordUtil.h"
#include "word/CxWordView.h"

#include "QtApp.h"
#include "WordFixture.h"
#include "platform/internal/ui.h"

#include <QWidget>

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

}  // namespace
