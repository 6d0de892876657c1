#include "RegionOverlay.h"

#include "RegionSelector.h"

#include <QGuiApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>

namespace {
const QColor kDim(0, 0, 0, 115);
} // namespace

RegionOverlay::RegionOverlay(RegionSelector *selector, QScreen *screen) : m_selector(selector) {
    setScreen(screen);
    setFlags(Qt::Window | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint | Qt::BypassWindowManagerHint);
    setGeometry(screen->geometry());
    setCursor(Qt::CrossCursor);
    setTitle(QStringLiteral("vellumbox-screencapture"));
    m_source = selector->imageRect(screen->geometry());
}

void RegionOverlay::selectionChanged(const QRect &previous, const QRect &current) {
    QRegion dirty;
    if (!previous.isEmpty())
        dirty += previous.adjusted(-2, -2, 2, 2);
    if (!current.isEmpty())
        dirty += current.adjusted(-2, -2, 2, 2);
    if (!dirty.isEmpty())
        update(dirty);
}

void RegionOverlay::paintEvent(QPaintEvent *event) {
    QPainter painter(this);
    const QRegion exposed = event->region();
    painter.setClipRegion(exposed);
    painter.drawImage(QRect(QPoint(0, 0), size()), m_selector->still().image, m_source);
    const QRect selection = m_selector->selectionIn(geometry());
    for (const QRect &rect : exposed - selection)
        painter.fillRect(rect, kDim);
    if (!selection.isEmpty()) {
        // Outside the selection, so the frame never hides a pixel that will be captured.
        painter.setPen(QPen(Qt::white, 1));
        painter.setBrush(Qt::NoBrush);
        painter.drawRect(selection.adjusted(-1, -1, 0, 0));
    }
}

void RegionOverlay::exposeEvent(QExposeEvent *event) {
    QRasterWindow::exposeEvent(event);
    if (isExposed() && !m_reportedExposure) {
        m_reportedExposure = true;
        m_selector->overlayExposed();
    }
}

void RegionOverlay::mousePressEvent(QMouseEvent *event) {
    m_selector->inputSeen();
    m_selector->pointerPressed(event->globalPosition(), event->button());
}

void RegionOverlay::mouseMoveEvent(QMouseEvent *event) {
    m_selector->inputSeen();
    m_selector->pointerMoved(event->globalPosition());
}

void RegionOverlay::mouseReleaseEvent(QMouseEvent *event) {
    m_selector->inputSeen();
    m_selector->pointerReleased(event->globalPosition(), event->button());
}

void RegionOverlay::keyPressEvent(QKeyEvent *event) {
    m_selector->inputSeen();
    if (event->key() == Qt::Key_Escape)
        m_selector->cancelRequested();
}

void RegionOverlay::wheelEvent(QWheelEvent *) {
    m_selector->inputSeen();
}
