// The window manager: window classes and windows of the platform over Qt widgets. A window
// of a registered class is a frame widget holding a client-area widget and the standard
// scroll bars; Qt's events become the window procedure's messages, and everything the
// procedure draws lands in a 32-bit backing bitmap of the client area that the widget shows.
#include "../internal/gdi.h"
#include "user_private.h"
#include "../internal/ui.h"

#include <QApplication>
#include <QGuiApplication>
#include <QImage>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QWheelEvent>
#include <QPainter>
#include <QPointer>
#include <QScreen>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QStyle>
#include <QWidget>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

using namespace platform::gdi;

namespace {

struct WndClass {
    std::string name;
    WNDCLASSA wc;
    ATOM atom;
};

std::vector<std::unique_ptr<WndClass>>& Classes()
{
    static std::vector<std::unique_ptr<WndClass>> classes;
    return classes;
}

WndClass* FindClass(const char* name)
{
    if (!name)
        return nullptr;
    for (auto& c : Classes())
        if (strcasecmp(c->name.c_str(), name) == 0)
            return c.get();
    return nullptr;
}

class FrameWidget;
class ClientWidget;

struct ScrollBar {
    int min = 0, max = 0, pos = 0;
    int dragPos = 0;
    QScrollBar* qt = nullptr;
};

struct Window {
    WndClass* cls = nullptr;  // null for a window of one of the program's own widgets
    QPointer<QWidget> widget;
    FrameWidget* frame = nullptr;
    ClientWidget* client = nullptr;
    DWORD style = 0;
    LONG_PTR userData = 0;
    ScrollBar bars[2];
    Bitmap* backing = nullptr;  // the client area's pixels
    std::set<Dc*> dcs;          // device contexts handed out on the backing
    bool invalid = false, erase = false;
    RECT update{};
    int clientW = -1, clientH = -1;  // the size last reported with WM_SIZE
    // Made per-monitor aware: the client area counts device pixels, `scale` to a logical one.
    bool perMonitor = false;
    double scale = 1.0;
    bool created = false, destroying = false, painting = false;
    int sizeDepth = 0;
};

std::set<Window*>& Windows()
{
    static std::set<Window*> windows;
    return windows;
}

std::unordered_map<QWidget*, Window*>& ForeignWindows()
{
    static std::unordered_map<QWidget*, Window*> map;
    return map;
}

Window* Win(HWND h)
{
    auto* w = reinterpret_cast<Window*>(h);
    return w && Windows().count(w) ? w : nullptr;
}

HWND Handle(Window* w) { return reinterpret_cast<HWND>(w); }

DPI_AWARENESS_CONTEXT s_dpiContext = DPI_AWARENESS_CONTEXT_SYSTEM_AWARE;

// Logical pixels of a window's client widget in the window's own units.
int Device(const Window* w, int logical) { return w->perMonitor ? (int)std::lround(logical * w->scale) : logical; }

int WindowDpi(const Window* w) { return w->perMonitor ? (int)std::lround(ScreenDpi() * w->scale) : ScreenDpi(); }

LRESULT Send(Window* w, UINT msg, WPARAM wp, LPARAM lp)
{
    if (!w || !w->cls || !w->cls->wc.lpfnWndProc)
        return 0;
    return w->cls->wc.lpfnWndProc(Handle(w), msg, wp, lp);
}

void DestroyInternals(Window* w);
void Relayout(Window* w);

// The modifier keys of the input event being handed to a window procedure, for GetKeyState;
// outside such an event, the application's.
bool s_inInput = false;
Qt::KeyboardModifiers s_inputModifiers;

struct InputScope {
    explicit InputScope(Qt::KeyboardModifiers m) : was(s_inInput), wasMods(s_inputModifiers)
    {
        s_inInput = true;
        s_inputModifiers = m;
    }
    ~InputScope()
    {
        s_inInput = was;
        s_inputModifiers = wasMods;
    }
    bool was;
    Qt::KeyboardModifiers wasMods;
};

// The virtual key of a Qt key; 0 for keys the platform does not pass on.
WPARAM VirtualKey(const QKeyEvent* e)
{
    const int k = e->key();
    const bool keypad = e->modifiers() & Qt::KeypadModifier;
    if ((k >= Qt::Key_0 && k <= Qt::Key_9) || (k >= Qt::Key_A && k <= Qt::Key_Z))
        return WPARAM(k);  // Qt's codes of digits and letters are their ASCII capitals
    switch (k) {
    case Qt::Key_Backspace: return VK_BACK;
    case Qt::Key_Tab: return VK_TAB;
    case Qt::Key_Return:
    case Qt::Key_Enter: return VK_RETURN;
    case Qt::Key_Escape: return VK_ESCAPE;
    case Qt::Key_Space: return VK_SPACE;
    case Qt::Key_PageUp: return VK_PRIOR;
    case Qt::Key_PageDown: return VK_NEXT;
    case Qt::Key_End: return VK_END;
    case Qt::Key_Home: return VK_HOME;
    case Qt::Key_Left: return VK_LEFT;
    case Qt::Key_Up: return VK_UP;
    case Qt::Key_Right: return VK_RIGHT;
    case Qt::Key_Down: return VK_DOWN;
    case Qt::Key_Delete: return VK_DELETE;
    case Qt::Key_Plus: return keypad ? VK_ADD : VK_OEM_PLUS;
    case Qt::Key_Equal: return VK_OEM_PLUS;  // the key that carries '+' on most layouts
    case Qt::Key_Minus: return keypad ? VK_SUBTRACT : VK_OEM_MINUS;
    default: return 0;
    }
}

// The client area: shows the backing bitmap and turns mouse input into messages.
class ClientWidget : public QWidget {
public:
    ClientWidget(Window* w, QWidget* parent) : QWidget(parent), m_w(w)
    {
        setMouseTracking(true);
        setAttribute(Qt::WA_OpaquePaintEvent);
        setFocusPolicy(Qt::ClickFocus);
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        // Moved to a screen of another density: a backing of its pixels, and WM_SIZE.
        if (m_w->perMonitor && devicePixelRatioF() != m_w->scale)
            Relayout(m_w);
        if (m_w->invalid) {
            m_w->painting = true;
            Send(m_w, WM_PAINT, 0, 0);
            m_w->painting = false;
        }
        m_w->invalid = false;  // a procedure that never validates must not loop
        QPainter p(this);
        if (Bitmap* b = m_w->backing) {
            QImage img(reinterpret_cast<const uchar*>(b->bits), b->width, b->height, b->width * 4,
                       QImage::Format_RGB32);
            img.setDevicePixelRatio(m_w->scale);  // device pixels one for one
            p.drawImage(0, 0, img);
        }
    }
    void mousePressEvent(QMouseEvent* e) override { Mouse(e, Down(e)); }
    void mouseReleaseEvent(QMouseEvent* e) override
    {
        Mouse(e, e->button() == Qt::RightButton ? WM_RBUTTONUP : WM_LBUTTONUP);
    }
    void mouseDoubleClickEvent(QMouseEvent* e) override
    {
        bool dbl = e->button() == Qt::LeftButton && m_w->cls && (m_w->cls->wc.style & CS_DBLCLKS);
        Mouse(e, dbl ? WM_LBUTTONDBLCLK : Down(e));
    }
    void mouseMoveEvent(QMouseEvent* e) override { Mouse(e, WM_MOUSEMOVE); }
    void keyPressEvent(QKeyEvent* e) override
    {
        const WPARAM vk = VirtualKey(e);
        if (!vk) {
            QWidget::keyPressEvent(e);
            return;
        }
        InputScope scope(e->modifiers());
        // Bit 30: the key was down before (auto-repeat); the repeat count in the low word.
        Send(m_w, WM_KEYDOWN, vk, LPARAM(1) | (e->isAutoRepeat() ? LPARAM(1) << 30 : 0));
    }
    void wheelEvent(QWheelEvent* e) override
    {
        const int delta = e->angleDelta().y();
        if (delta == 0) {
            e->ignore();
            return;
        }
        InputScope scope(e->modifiers());
        WORD keys = 0;
        if (e->buttons() & Qt::LeftButton)
            keys |= MK_LBUTTON;
        if (e->buttons() & Qt::RightButton)
            keys |= MK_RBUTTON;
        if (e->modifiers() & Qt::ShiftModifier)
            keys |= MK_SHIFT;
        if (e->modifiers() & Qt::ControlModifier)
            keys |= MK_CONTROL;
        // The position in screen coordinates, as Windows gives it.
        const QPoint pt = e->globalPosition().toPoint();
        Send(m_w, WM_MOUSEWHEEL, MAKEWPARAM(keys, (WORD)(short)std::clamp(delta, -32768, 32767)),
             MAKELPARAM((SHORT)pt.x(), (SHORT)pt.y()));
        e->accept();
    }

private:
    static UINT Down(QMouseEvent* e) { return e->button() == Qt::RightButton ? WM_RBUTTONDOWN : WM_LBUTTONDOWN; }
    void Mouse(QMouseEvent* e, UINT msg)
    {
        WPARAM keys = 0;
        if (e->buttons() & Qt::LeftButton)
            keys |= MK_LBUTTON;
        if (e->buttons() & Qt::RightButton)
            keys |= MK_RBUTTON;
        if (e->modifiers() & Qt::ShiftModifier)
            keys |= MK_SHIFT;
        if (e->modifiers() & Qt::ControlModifier)
            keys |= MK_CONTROL;
        QPoint pt = (e->position() * (m_w->perMonitor ? m_w->scale : 1.0)).toPoint();
        InputScope scope(e->modifiers());
        Send(m_w, msg, keys, MAKELPARAM((SHORT)pt.x(), (SHORT)pt.y()));
    }
    Window* m_w;
};

void Relayout(Window* w);

// The window's frame: client area plus the standard scroll bars.
class FrameWidget : public QWidget {
public:
    FrameWidget(Window* w, QWidget* parent) : QWidget(parent), m_w(w) {}
    ~FrameWidget() override
    {
        if (Win(Handle(m_w)) && !m_w->destroying)
            DestroyInternals(m_w);
    }

protected:
    void resizeEvent(QResizeEvent*) override { Relayout(m_w); }

private:
    Window* m_w;
};

void FreeBacking(Window* w)
{
    for (Dc* dc : w->dcs)
        dc->bitmap = nullptr;
    if (w->backing)
        FreeBitmap(w->backing);
    w->backing = nullptr;
}

// Places the scroll bars and the client area; a changed client size gets a new backing
// bitmap (keeping what fits of the old picture), invalidates the window and sends WM_SIZE.
void Relayout(Window* w)
{
    if (!w->frame)
        return;
    int extent = w->frame->style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, w->frame);
    bool showV = (w->style & WS_VSCROLL) && w->bars[SB_VERT].min < w->bars[SB_VERT].max;
    bool showH = (w->style & WS_HSCROLL) && w->bars[SB_HORZ].min < w->bars[SB_HORZ].max;
    int fw = w->frame->width(), fh = w->frame->height();
    int cw = std::max(0, fw - (showV ? extent : 0));
    int ch = std::max(0, fh - (showH ? extent : 0));
    if (QScrollBar* v = w->bars[SB_VERT].qt) {
        v->setGeometry(cw, 0, extent, ch);
        v->setVisible(showV);
    }
    if (QScrollBar* h = w->bars[SB_HORZ].qt) {
        h->setGeometry(0, ch, cw, extent);
        h->setVisible(showH);
    }
    w->client->setGeometry(0, 0, cw, ch);
    // A per-monitor aware window's client area and backing count device pixels.
    if (w->perMonitor) {
        w->scale = w->client->devicePixelRatioF();
        cw = Device(w, cw);
        ch = Device(w, ch);
    }

    int oldW = w->backing ? w->backing->width : 0, oldH = w->backing ? w->backing->height : 0;
    if (cw != oldW || ch != oldH) {
        Bitmap* nb = (cw > 0 && ch > 0) ? NewBitmap(cw, ch) : nullptr;
        if (nb && w->backing) {
            int rows = std::min(ch, oldH), cols = std::min(cw, oldW);
            for (int y = 0; y < rows; ++y)
                memcpy(nb->bits + (size_t)y * cw, w->backing->bits + (size_t)y * oldW, (size_t)cols * 4);
        }
        std::set<Dc*> dcs = w->dcs;
        FreeBacking(w);
        w->backing = nb;
        for (Dc* dc : dcs)
            dc->bitmap = nb;
        InvalidateRect(Handle(w), nullptr, TRUE);
    }
    // Showing or hiding a scroll bar from inside WM_SIZE resizes the client again; the depth
    // bound stops a page that fits only without the bars from flipping them forever.
    if (w->created && (cw != w->clientW || ch != w->clientH) && w->sizeDepth < 3) {
        w->clientW = cw;
        w->clientH = ch;
        ++w->sizeDepth;
        Send(w, WM_SIZE, SIZE_RESTORED, MAKELPARAM(cw, ch));
        --w->sizeDepth;
    }
}

void OnScrollAction(Window* w, int bar, int action)
{
    ScrollBar& sb = w->bars[bar];
    int requested = sb.qt->sliderPosition();
    {
        QSignalBlocker block(sb.qt);
        sb.qt->setSliderPosition(sb.pos);  // the procedure decides where the thumb goes
    }
    WORD code;
    switch (action) {
    case QAbstractSlider::SliderSingleStepSub: code = SB_LINEUP; break;
    case QAbstractSlider::SliderSingleStepAdd: code = SB_LINEDOWN; break;
    case QAbstractSlider::SliderPageStepSub: code = SB_PAGEUP; break;
    case QAbstractSlider::SliderPageStepAdd: code = SB_PAGEDOWN; break;
    case QAbstractSlider::SliderToMinimum: code = SB_TOP; break;
    case QAbstractSlider::SliderToMaximum: code = SB_BOTTOM; break;
    case QAbstractSlider::SliderMove: code = SB_THUMBTRACK; break;
    default: return;
    }
    WORD thumb = 0;
    if (code == SB_THUMBTRACK) {
        sb.dragPos = requested;
        thumb = (WORD)requested;  // 16 bits, as the message carries it
    }
    Send(w, bar == SB_HORZ ? WM_HSCROLL : WM_VSCROLL, MAKEWPARAM(code, thumb), 0);
    if (Win(Handle(w))) {
        QSignalBlocker block(sb.qt);
        sb.qt->setSliderPosition(sb.pos);
    }
}

void OnScrollReleased(Window* w, int bar)
{
    UINT msg = bar == SB_HORZ ? WM_HSCROLL : WM_VSCROLL;
    Send(w, msg, MAKEWPARAM(SB_THUMBPOSITION, (WORD)w->bars[bar].dragPos), 0);
    if (Win(Handle(w)))
        Send(w, msg, MAKEWPARAM(SB_ENDSCROLL, 0), 0);
}

void DestroyInternals(Window* w)
{
    w->destroying = true;
    Send(w, WM_DESTROY, 0, 0);
    Send(w, WM_NCDESTROY, 0, 0);
    for (Dc* dc : w->dcs)
        FreeDc(dc);
    w->dcs.clear();
    FreeBacking(w);
    Windows().erase(w);
    if (!w->cls && w->widget)
        ForeignWindows().erase(w->widget.data());
    delete w;
}

HDC WindowDc(Window* w)
{
    Dc* dc = NewDc(OBJ_DC, w->backing, Handle(w));
    if (dc && w->perMonitor)
        dc->dpi = WindowDpi(w);
    if (dc)
        w->dcs.insert(dc);
    return reinterpret_cast<HDC>(dc);
}

bool ReleaseWindowDc(Window* w, Dc* dc)
{
    if (!w->dcs.erase(dc))
        return false;
    FreeDc(dc);
    if (w->client && !w->painting)
        w->client->update();  // what was drawn outside WM_PAINT is shown too
    return true;
}

HDC HookGetDc(HWND h)
{
    Window* w = Win(h);
    return w ? WindowDc(w) : nullptr;
}

int HookReleaseDc(HWND h, HDC hdc)
{
    Dc* dc = AsDc(hdc);
    if (!dc)
        return 0;
    if (Window* w = Win(h))
        return ReleaseWindowDc(w, dc) ? 1 : 0;
    for (Window* w : Windows())  // released with another handle than it was taken with
        if (ReleaseWindowDc(w, dc))
            return 1;
    return 0;
}

void InstallHooks()
{
    static bool done = [] {
        platform::WindowDcHooks hooks;
        hooks.getDc = HookGetDc;
        hooks.releaseDc = HookReleaseDc;
        platform::SetWindowDcHooks(hooks);
        return true;
    }();
    (void)done;
}

// Installed when the library is loaded, so GetDC of a window works before the first window.
struct HookInstaller {
    HookInstaller() { InstallHooks(); }
} s_hookInstaller;

QWidget* ParentWidget(HWND parent)
{
    Window* p = Win(parent);
    if (!p)
        return nullptr;
    return p->cls ? static_cast<QWidget*>(p->client) : p->widget.data();
}

}  // namespace

namespace platform {
namespace ui {

HWND WindowOf(QWidget* widget)
{
    if (!widget)
        return nullptr;
    auto it = ForeignWindows().find(widget);
    if (it != ForeignWindows().end())
        return Handle(it->second);
    auto* w = new Window;
    w->widget = widget;
    w->created = true;
    Windows().insert(w);
    ForeignWindows()[widget] = w;
    QObject::connect(widget, &QObject::destroyed, [w] {
        if (Windows().count(w)) {
            auto it = std::find_if(ForeignWindows().begin(), ForeignWindows().end(),
                                   [w](auto& kv) { return kv.second == w; });
            if (it != ForeignWindows().end())
                ForeignWindows().erase(it);
            w->widget = nullptr;
            DestroyInternals(w);
        }
    });
    return Handle(w);
}

QWidget* WidgetOf(HWND hWnd)
{
    Window* w = Win(hWnd);
    return w ? w->widget.data() : nullptr;
}

void SyncScreenMetrics()
{
    if (!qobject_cast<QGuiApplication*>(QCoreApplication::instance()))
        return;
    if (QScreen* s = QGuiApplication::primaryScreen())
        SetScreenMetrics(s->size().width(), s->size().height(), (int)(s->logicalDotsPerInch() + 0.5));
}

}  // namespace ui
}  // namespace platform

ATOM WINAPI RegisterClassA(const WNDCLASSA* lpWndClass)
{
    if (!lpWndClass || !lpWndClass->lpszClassName || !*lpWndClass->lpszClassName || !lpWndClass->lpfnWndProc)
        return 0;
    if (FindClass(lpWndClass->lpszClassName))
        return 0;  // ERROR_CLASS_ALREADY_EXISTS
    static ATOM next = 0xC000;
    auto c = std::make_unique<WndClass>();
    c->name = lpWndClass->lpszClassName;
    c->wc = *lpWndClass;
    c->wc.lpszClassName = nullptr;  // the caller's string need not outlive the call
    c->wc.lpszMenuName = nullptr;
    c->atom = next++;
    ATOM atom = c->atom;
    Classes().push_back(std::move(c));
    return atom;
}

BOOL WINAPI GetClassInfoA(HINSTANCE, LPCSTR lpClassName, LPWNDCLASSA lpWndClass)
{
    WndClass* c = FindClass(lpClassName);
    if (!c)
        return FALSE;
    if (lpWndClass) {
        *lpWndClass = c->wc;
        lpWndClass->lpszClassName = lpClassName;
    }
    return TRUE;
}

HWND WINAPI CreateWindowExA(DWORD dwExStyle, LPCSTR lpClassName, LPCSTR lpWindowName, DWORD dwStyle, int X, int Y,
                            int nWidth, int nHeight, HWND hWndParent, HMENU hMenu, HINSTANCE hInstance,
                            LPVOID lpParam)
{
    WndClass* cls = FindClass(lpClassName);
    if (!cls || !QCoreApplication::instance())
        return nullptr;
    if (hWndParent && !Win(hWndParent))
        return nullptr;
    InstallHooks();
    platform::ui::SyncScreenMetrics();

    auto* w = new Window;
    w->cls = cls;
    w->style = dwStyle;
    w->perMonitor = s_dpiContext == DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE ||
                    s_dpiContext == DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2;
    Windows().insert(w);
    w->frame = new FrameWidget(w, ParentWidget(hWndParent));
    w->widget = w->frame;
    w->client = new ClientWidget(w, w->frame);
    if (cls->wc.hCursor)
        w->client->setCursor(Qt::ArrowCursor);
    w->frame->setWindowTitle(QString::fromUtf8(lpWindowName ? lpWindowName : ""));
    for (int bar = SB_HORZ; bar <= SB_VERT; ++bar) {
        if (!(dwStyle & (bar == SB_HORZ ? WS_HSCROLL : WS_VSCROLL)))
            continue;
        auto* sb = new QScrollBar(bar == SB_HORZ ? Qt::Horizontal : Qt::Vertical, w->frame);
        sb->setFocusPolicy(Qt::NoFocus);
        sb->setRange(0, 0);
        sb->setSingleStep(1);
        sb->setPageStep(0);  // no page size: the style's default thumb
        sb->hide();
        QObject::connect(sb, &QAbstractSlider::actionTriggered, sb, [w, bar](int action) { OnScrollAction(w, bar, action); });
        QObject::connect(sb, &QAbstractSlider::sliderReleased, sb, [w, bar] { OnScrollReleased(w, bar); });
        w->bars[bar].qt = sb;
    }
    w->frame->setGeometry(X, Y, std::max(0, nWidth), std::max(0, nHeight));
    w->frame->setVisible(false);
    Relayout(w);

    CREATESTRUCTA cs{};
    cs.lpCreateParams = lpParam;
    cs.hInstance = hInstance;
    cs.hMenu = hMenu;
    cs.hwndParent = hWndParent;
    cs.cx = nWidth;
    cs.cy = nHeight;
    cs.x = X;
    cs.y = Y;
    cs.style = (LONG)dwStyle;
    cs.lpszName = lpWindowName;
    cs.lpszClass = lpClassName;
    cs.dwExStyle = dwExStyle;
    HWND h = Handle(w);
    if (Send(w, WM_CREATE, 0, reinterpret_cast<LPARAM>(&cs)) == -1) {
        DestroyWindow(h);
        return nullptr;
    }
    if (!Win(h))
        return nullptr;
    w->created = true;
    Relayout(w);  // the first WM_SIZE
    if (Win(h) && (dwStyle & WS_VISIBLE))
        ShowWindow(h, SW_SHOW);
    return Win(h) ? h : nullptr;
}

BOOL WINAPI DestroyWindow(HWND hWnd)
{
    Window* w = Win(hWnd);
    if (!w || w->destroying)
        return FALSE;
    if (!w->cls) {
        delete w->widget.data();  // its destroyed signal ends the window
        return TRUE;
    }
    FrameWidget* frame = w->frame;
    DestroyInternals(w);
    delete frame;  // child windows end with it
    return TRUE;
}

BOOL WINAPI IsWindow(HWND hWnd) { return Win(hWnd) != nullptr; }

LRESULT WINAPI SendMessageA(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam)
{
    return Send(Win(hWnd), Msg, wParam, lParam);
}

LRESULT WINAPI DefWindowProcA(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam)
{
    Window* w = Win(hWnd);
    if (!w)
        return 0;
    switch (Msg) {
    case WM_PAINT: {
        PAINTSTRUCT ps;
        if (BeginPaint(hWnd, &ps))
            EndPaint(hWnd, &ps);
        return 0;
    }
    case WM_ERASEBKGND: {
        HBRUSH brush = w->cls ? w->cls->wc.hbrBackground : nullptr;
        if (!brush)
            return 0;
        RECT rc;
        GetClientRect(hWnd, &rc);
        FillRect(reinterpret_cast<HDC>(wParam), &rc, brush);
        return 1;
    }
    case WM_CLOSE: DestroyWindow(hWnd); return 0;
    default: return 0;
    }
}

static LONG_PTR WindowLong(Window* w, int nIndex, const LONG_PTR* newValue)
{
    if (!w)
        return 0;
    switch (nIndex) {
    case GWLP_USERDATA: {
        LONG_PTR old = w->userData;
        if (newValue)
            w->userData = *newValue;
        return old;
    }
    case GWL_STYLE: return (LONG)w->style;  // read only here
    default: return 0;
    }
}

LONG WINAPI GetWindowLongA(HWND hWnd, int nIndex) { return (LONG)WindowLong(Win(hWnd), nIndex, nullptr); }

LONG WINAPI SetWindowLongA(HWND hWnd, int nIndex, LONG dwNewLong)
{
    LONG_PTR v = dwNewLong;
    return (LONG)WindowLong(Win(hWnd), nIndex, &v);
}

LONG_PTR WINAPI GetWindowLongPtrA(HWND hWnd, int nIndex) { return WindowLong(Win(hWnd), nIndex, nullptr); }

LONG_PTR WINAPI SetWindowLongPtrA(HWND hWnd, int nIndex, LONG_PTR dwNewLong)
{
    return WindowLong(Win(hWnd), nIndex, &dwNewLong);
}

BOOL WINAPI GetClientRect(HWND hWnd, LPRECT lpRect)
{
    Window* w = Win(hWnd);
    if (!w || !lpRect)
        return FALSE;
    QWidget* c = w->cls ? static_cast<QWidget*>(w->client) : w->widget.data();
    if (!c)
        return FALSE;
    if (w->cls)
        SetRect(lpRect, 0, 0, Device(w, c->width()), Device(w, c->height()));
    else
        SetRect(lpRect, 0, 0, c->width(), c->height());
    return TRUE;
}

BOOL WINAPI MoveWindow(HWND hWnd, int X, int Y, int nWidth, int nHeight, BOOL bRepaint)
{
    Window* w = Win(hWnd);
    if (!w || !w->widget)
        return FALSE;
    w->widget->setGeometry(X, Y, std::max(0, nWidth), std::max(0, nHeight));
    if (!w->cls)
        return TRUE;
    Relayout(w);  // WM_SIZE now, as on Windows, not when Qt gets round to the resize event
    if (Win(hWnd) && bRepaint)
        InvalidateRect(hWnd, nullptr, TRUE);
    return TRUE;
}

BOOL WINAPI ShowWindow(HWND hWnd, int nCmdShow)
{
    Window* w = Win(hWnd);
    if (!w || !w->widget)
        return FALSE;
    BOOL was = w->widget->isVisibleTo(w->widget->parentWidget()) ? TRUE : FALSE;
    if (!w->widget->parentWidget())
        was = w->widget->isVisible();
    w->widget->setVisible(nCmdShow != SW_HIDE);
    return was;
}

BOOL WINAPI IsWindowVisible(HWND hWnd)
{
    Window* w = Win(hWnd);
    return w && w->widget && w->widget->isVisible();
}

BOOL WINAPI InvalidateRect(HWND hWnd, const RECT* lpRect, BOOL bErase)
{
    Window* w = Win(hWnd);
    if (!w)
        return FALSE;
    if (!w->cls) {
        if (w->widget)
            w->widget->update();
        return TRUE;
    }
    RECT client;
    GetClientRect(hWnd, &client);
    RECT r = lpRect ? *lpRect : client;
    IntersectRect(&r, &r, &client);
    if (!IsRectEmpty(&r)) {
        if (!w->invalid || IsRectEmpty(&w->update)) {
            w->update = r;
        } else {
            w->update.left = std::min(w->update.left, r.left);
            w->update.top = std::min(w->update.top, r.top);
            w->update.right = std::max(w->update.right, r.right);
            w->update.bottom = std::max(w->update.bottom, r.bottom);
        }
        w->invalid = true;
        if (bErase)
            w->erase = true;
    }
    w->client->update();
    return TRUE;
}

BOOL WINAPI UpdateWindow(HWND hWnd)
{
    Window* w = Win(hWnd);
    if (!w)
        return FALSE;
    if (w->cls && w->invalid) {
        Send(w, WM_PAINT, 0, 0);
        if (Win(hWnd)) {
            w->invalid = false;
            w->client->update();
        }
    }
    return TRUE;
}

HDC WINAPI BeginPaint(HWND hWnd, LPPAINTSTRUCT lpPaint)
{
    Window* w = Win(hWnd);
    if (!w || !w->cls || !lpPaint)
        return nullptr;
    memset(lpPaint, 0, sizeof *lpPaint);
    HDC hdc = WindowDc(w);
    if (!hdc)
        return nullptr;
    lpPaint->hdc = hdc;
    if (w->invalid)
        lpPaint->rcPaint = w->update;
    bool erase = w->erase;
    w->invalid = false;
    w->erase = false;
    SetRect(&w->update, 0, 0, 0, 0);
    if (erase)
        lpPaint->fErase = Send(w, WM_ERASEBKGND, reinterpret_cast<WPARAM>(hdc), 0) ? FALSE : TRUE;
    return hdc;
}

BOOL WINAPI EndPaint(HWND hWnd, const PAINTSTRUCT* lpPaint)
{
    Window* w = Win(hWnd);
    if (!w || !lpPaint)
        return FALSE;
    Dc* dc = AsDc(lpPaint->hdc);
    return dc && ReleaseWindowDc(w, dc);
}

static ScrollBar* Bar(HWND hWnd, int nBar)
{
    Window* w = Win(hWnd);
    if (!w || (nBar != SB_HORZ && nBar != SB_VERT))
        return nullptr;
    ScrollBar* sb = &w->bars[nBar];
    return sb->qt ? sb : nullptr;
}

BOOL WINAPI SetScrollRange(HWND hWnd, int nBar, int nMinPos, int nMaxPos, BOOL bRedraw)
{
    ScrollBar* sb = Bar(hWnd, nBar);
    if (!sb || nMaxPos < nMinPos)
        return FALSE;
    sb->min = nMinPos;
    sb->max = nMaxPos;
    sb->pos = std::clamp(sb->pos, nMinPos, nMaxPos);
    {
        QSignalBlocker block(sb->qt);
        sb->qt->setRange(nMinPos, nMaxPos);
        sb->qt->setValue(sb->pos);
    }
    Relayout(Win(hWnd));  // an empty range hides the bar, which resizes the client area
    return TRUE;
}

BOOL WINAPI GetScrollRange(HWND hWnd, int nBar, LPINT lpMinPos, LPINT lpMaxPos)
{
    if (!lpMinPos || !lpMaxPos)
        return FALSE;
    ScrollBar* sb = Bar(hWnd, nBar);
    *lpMinPos = sb ? sb->min : 0;
    *lpMaxPos = sb ? sb->max : 0;
    return sb ? TRUE : FALSE;
}

int WINAPI SetScrollPos(HWND hWnd, int nBar, int nPos, BOOL bRedraw)
{
    ScrollBar* sb = Bar(hWnd, nBar);
    if (!sb)
        return 0;
    int old = sb->pos;
    sb->pos = std::clamp(nPos, sb->min, sb->max);
    QSignalBlocker block(sb->qt);
    sb->qt->setValue(sb->pos);
    return old;
}

int WINAPI GetScrollPos(HWND hWnd, int nBar)
{
    ScrollBar* sb = Bar(hWnd, nBar);
    return sb ? sb->pos : 0;
}

HWND WINAPI GetFocus(void)
{
    QWidget* focus = QApplication::focusWidget();
    for (Window* w : Windows()) {
        if (w->cls && w->client == focus)
            return Handle(w);
        if (!w->cls && w->widget == focus)
            return Handle(w);
    }
    return nullptr;
}

HWND WINAPI SetFocus(HWND hWnd)
{
    HWND before = GetFocus();
    Window* w = Win(hWnd);
    if (!w)
        return before;
    QWidget* target = w->cls ? static_cast<QWidget*>(w->client) : w->widget.data();
    if (target)
        target->setFocus(Qt::OtherFocusReason);
    return before;
}

SHORT WINAPI GetKeyState(int nVirtKey)
{
    const Qt::KeyboardModifiers mods = s_inInput ? s_inputModifiers : QGuiApplication::keyboardModifiers();
    Qt::KeyboardModifier wanted;
    switch (nVirtKey) {
    case VK_SHIFT: wanted = Qt::ShiftModifier; break;
    case VK_CONTROL: wanted = Qt::ControlModifier; break;
    case VK_MENU: wanted = Qt::AltModifier; break;
    default: return 0;
    }
    return (mods & wanted) ? SHORT(0x8000) : SHORT(0);
}

DPI_AWARENESS_CONTEXT WINAPI SetThreadDpiAwarenessContext(DPI_AWARENESS_CONTEXT dpiContext)
{
    if (dpiContext != DPI_AWARENESS_CONTEXT_UNAWARE && dpiContext != DPI_AWARENESS_CONTEXT_SYSTEM_AWARE &&
        dpiContext != DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE &&
        dpiContext != DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2)
        return nullptr;
    DPI_AWARENESS_CONTEXT old = s_dpiContext;
    s_dpiContext = dpiContext;
    return old;
}

UINT WINAPI GetDpiForWindow(HWND hwnd)
{
    Window* w = Win(hwnd);
    if (!w)
        return 0;
    if (w->perMonitor && w->client)
        w->scale = w->client->devicePixelRatioF();
    return (UINT)WindowDpi(w);
}
