// The preview on a screen of two device pixels a point (Qt's scale factor 2, set before the
// application starts): the window counts device pixels, so the page is drawn with twice the
// pixels and shown one for one.
#include "word/CxWordDoc.h"
#include "word/CxWordUtil.h"
#include "word/CxWordView.h"

#include "QtApp.h"
#include "WordFixture.h"
#include "platform/internal/ui.h"

#include <QImage>
#include <QScrollBar>
#include <QStyle>
#include <QWidget>

#include <cmath>
#include <cstdlib>
#include <memory>

namespace {

// Before main, so before the one QApplication of the program.
const int kScaled = setenv("QT_SCALE_FACTOR", "2", 1);

QWidget* ClientOf(HWND hwnd)
{
    for (QWidget* child : platform::ui::WidgetOf(hwnd)->findChildren<QWidget*>())
        if (!qobject_cast<QScrollBar*>(child))
            return child;
    return nullptr;
}

class HiDpiViewTest : public WordFixture {
protected:
    void SetUp() override
    {
        ASSERT_EQ(0, kScaled);
        TestApp();
        WordFixture::SetUp();
        CoInitialize(nullptr);
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
        panel.reset();
        util.reset();
        WordFixture::TearDown();
    }

    std::unique_ptr<CxWordUtil> util;
    std::unique_ptr<QWidget> panel;
    CxWordView* view = nullptr;
};

TEST_F(HiDpiViewTest, ThePageIsDrawnInDevicePixels)
{
    ASSERT_EQ(2.0, panel->devicePixelRatioF()) << "the scale factor did not reach the window";
    const HWND hwnd = view->GetHandle();
    CxWordDoc* doc = util->OpenDocument(Doc("Sharp.docx", scripted::MakeDocument({"sharp"})).c_str());
    ASSERT_NE(nullptr, doc);
    view->SetDocument(doc);
    view->SetZoom(CxWordView::kZoomFitPage);

    EXPECT_EQ(192u, GetDpiForWindow(hwnd));
    HDC dc = GetDC(hwnd);
    EXPECT_EQ(192, GetDeviceCaps(dc, LOGPIXELSX));
    ReleaseDC(hwnd, dc);
    QWidget* client = ClientOf(hwnd);
    ASSERT_NE(nullptr, client);
    RECT rc;
    GetClientRect(hwnd, &rc);
    EXPECT_EQ(2 * client->width(), rc.right);
    EXPECT_EQ(2 * client->height(), rc.bottom);

    // Fit page: as high as the window's 800 device pixels, A4 at 192 dpi scaled to it.
    POINT shown = {0, 0};
    ASSERT_TRUE(view->GetShownSize(&shown));
    EXPECT_EQ(rc.bottom, shown.y);
    EXPECT_EQ(std::lround(std::lround(21000 * 192 / 2540.0) * double(rc.bottom) / std::lround(29700 * 192 / 2540.0)),
              shown.x);

    // What Qt shows: an image of the device pixels, the page to its last device column.
    const QImage shot = client->grab().toImage();
    EXPECT_EQ(QSize(rc.right, rc.bottom), shot.size());
    EXPECT_EQ(2.0, shot.devicePixelRatio());
    const COLORREF page = scripted::PageColour("sharp");
    const QRgb expected = qRgb(GetRValue(page), GetGValue(page), GetBValue(page));
    EXPECT_EQ(expected, shot.pixel(shown.x - 1, 10));
    EXPECT_EQ(qRgb(255, 255, 255), shot.pixel(shown.x, 10)) << "not enlarged from half as many pixels";

    // 100 %: the page keeps its size on the screen, so it has twice the pixels of 96 dpi.
    view->SetZoom(100);
    ASSERT_TRUE(view->GetShownSize(&shown));
    EXPECT_EQ(std::lround(21000 * 192 / 2540.0), shown.x);
}

}  // namespace
