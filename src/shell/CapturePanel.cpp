#include "shell/CapturePanel.h"

#include "platform/XcbSupport.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QScreen>

#include <xcb/xcb.h>

#include <algorithm>

CapturePanel::CapturePanel(std::function<void()> closing) : QWidget(nullptr), m_closing(std::move(closing)) {
    setWindowFlags(Qt::Tool | Qt::WindowStaysOnTopHint | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowCloseButtonHint);
    setWindowTitle(QStringLiteral("Ausschnitt aufnehmen"));
    setObjectName(QStringLiteral("panel"));
    setMinimumSize(kMinimumSize);
    setMaximumSize(kContentSize);
    resize(kContentSize);
}

CapturePanel::~CapturePanel() = default;

QPoint CapturePanel::initialFramePosition(const QRect &available, const QSize &frameSize) {
    // The window manager's borders make the frame wider than the content: the frame's own width
    // puts its right edge on the usable area's edge, not a pixel or two beyond it. A frame
    // larger than the area keeps its top-left corner inside.
    const int x = available.x() + available.width() - frameSize.width();
    const int y = available.y() + kBottomFromTop - frameSize.height();
    return {std::max(available.x(), x),
            std::max(available.y(), std::min(y, available.y() + available.height() - frameSize.height()))};
}

void CapturePanel::placeInitially() {
    const QScreen *screen = QGuiApplication::primaryScreen();
    if (!screen)
        return;
    move(initialFramePosition(screen->availableGeometry(), frameGeometry().size()));
    // The window manager's frame is known only once the panel is on screen.
    m_framePending = frameGeometry().height() <= height();
}

void CapturePanel::orderFront(bool activate) {
    if (!isVisible())
        markOnAllDesktops();
    setAttribute(Qt::WA_ShowWithoutActivating, !activate);
    show();
    raise();
    if (activate)
        activateWindow();
}

void CapturePanel::closeEvent(QCloseEvent *event) {
    event->accept();
    if (m_closing)
        m_closing();
}

void CapturePanel::moveEvent(QMoveEvent *event) {
    QWidget::moveEvent(event);
    // The window manager framed the panel: place it again now that the frame's height is known.
    if (m_framePending && isVisible() && frameGeometry().height() > height()) {
        m_framePending = false;
        placeInitially();
    }
}

void CapturePanel::markOnAllDesktops() {
    // _NET_WM_DESKTOP 0xFFFFFFFF, set before the window is mapped, where the window manager
    // reads it: the panel follows the user to every virtual desktop.
    auto *x11 = qApp->nativeInterface<QNativeInterface::QX11Application>();
    if (!x11 || !x11->connection())
        return;
    xcb_connection_t *c = x11->connection();
    const uint32_t desktop = XcbSupport::atom(c, QByteArrayLiteral("_NET_WM_DESKTOP"));
    if (!desktop)
        return;
    const uint32_t all = 0xFFFFFFFF;
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, uint32_t(winId()), desktop, XCB_ATOM_CARDINAL, 32, 1, &all);
    xcb_flush(c);
}
