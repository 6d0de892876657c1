#include "RegionSelector.h"

#include "CaptureExit.h"
#include "RegionOverlay.h"
#include "TerminationSignals.h"

#include <QCursor>
#include <QGuiApplication>
#include <QImageWriter>
#include <QSaveFile>
#include <QScreen>

#include <cmath>

namespace {
constexpr int kIdleMilliseconds = 120'000;
constexpr int kGrabRetryMilliseconds = 25;
constexpr int kGrabAttempts = 40;
// zlib level 1: the store re-encodes the image anyway, so speed matters more than size here.
constexpr int kPngQuality = 80;
} // namespace

RegionSelector::RegionSelector(ScreenStill still, QString outputPath, QObject *parent)
    : QObject(parent), m_still(std::move(still)), m_outputPath(std::move(outputPath)) {
    m_idleTimer.setSingleShot(true);
    m_idleTimer.setInterval(kIdleMilliseconds);
    connect(&m_idleTimer, &QTimer::timeout, this, [this] { finish(CaptureExit::NothingCaptured); });
    m_grabRetry.setSingleShot(true);
    connect(&m_grabRetry, &QTimer::timeout, this, &RegionSelector::tryGrab);
}

RegionSelector::~RegionSelector() {
    releaseGrab();
    qDeleteAll(m_overlays);
}

void RegionSelector::start(bool requireGrab) {
    m_requireGrab = requireGrab;
    const QList<QScreen *> screens = QGuiApplication::screens();
    if (screens.isEmpty() || !m_still.isValid()) {
        finish(CaptureExit::Failed);
        return;
    }
    const bool wayland = QGuiApplication::platformName() == QLatin1String("wayland");
    for (QScreen *screen : screens) {
        auto *overlay = new RegionOverlay(this, screen);
        m_overlays.append(overlay);
        if (wayland)
            overlay->showFullScreen();
        else
            overlay->show();
    }
    m_idleTimer.start();
}

QRect RegionSelector::imageRect(const QRectF &area) const {
    const QPoint topLeft = toImage(area.topLeft());
    const QPoint bottomRight = toImage(area.bottomRight());
    return QRect(topLeft, QSize(bottomRight.x() - topLeft.x(), bottomRight.y() - topLeft.y()));
}

QPoint RegionSelector::toImage(const QPointF &global) const {
    const double sx = double(m_still.image.width()) / m_still.area.width();
    const double sy = double(m_still.image.height()) / m_still.area.height();
    const double x = std::round((global.x() - m_still.area.x()) * sx);
    const double y = std::round((global.y() - m_still.area.y()) * sy);
    return QPoint(int(std::clamp(x, 0.0, double(m_still.image.width()))),
                  int(std::clamp(y, 0.0, double(m_still.image.height()))));
}

QRect RegionSelector::selectionInImage() const {
    if (!m_dragging && m_current == m_anchor)
        return {};
    const int left = std::min(m_anchor.x(), m_current.x());
    const int top = std::min(m_anchor.y(), m_current.y());
    const int right = std::max(m_anchor.x(), m_current.x());
    const int bottom = std::max(m_anchor.y(), m_current.y());
    return QRect(left, top, right - left, bottom - top);
}

QRect RegionSelector::selectionIn(const QRect &windowGeometry) const {
    const QRect selection = selectionInImage();
    if (selection.isEmpty())
        return {};
    const double sx = double(m_still.area.width()) / m_still.image.width();
    const double sy = double(m_still.area.height()) / m_still.image.height();
    const QRectF global(m_still.area.x() + selection.x() * sx, m_still.area.y() + selection.y() * sy,
                        selection.width() * sx, selection.height() * sy);
    return global.translated(-windowGeometry.topLeft()).toAlignedRect();
}

void RegionSelector::setCurrent(const QPointF &global) {
    QList<QRect> before;
    for (RegionOverlay *overlay : std::as_const(m_overlays))
        before.append(selectionIn(overlay->geometry()));
    m_current = toImage(global);
    for (qsizetype i = 0; i < m_overlays.size(); ++i)
        m_overlays[i]->selectionChanged(before[i], selectionIn(m_overlays[i]->geometry()));
}

void RegionSelector::pointerPressed(const QPointF &global, Qt::MouseButton button) {
    if (m_done)
        return;
    if (button == Qt::RightButton) {
        finish(CaptureExit::NothingCaptured);
        return;
    }
    if (button != Qt::LeftButton || m_dragging)
        return;
    m_dragging = true;
    m_anchor = m_current = toImage(global);
}

void RegionSelector::pointerMoved(const QPointF &global) {
    if (m_dragging && !m_done)
        setCurrent(global);
}

void RegionSelector::pointerReleased(const QPointF &global, Qt::MouseButton button) {
    if (!m_dragging || m_done || button != Qt::LeftButton)
        return;
    setCurrent(global);
    m_dragging = false;
    writeSelection();
}

void RegionSelector::cancelRequested() {
    finish(CaptureExit::NothingCaptured);
}

void RegionSelector::inputSeen() {
    if (!m_done)
        m_idleTimer.start();
}

void RegionSelector::overlayExposed() {
    if (m_grabbed || m_done || m_grabRetry.isActive())
        return;
    if (m_requireGrab) {
        tryGrab();
    } else if (!m_overlays.isEmpty()) {
        m_overlays.first()->requestActivate();
    }
}

void RegionSelector::tryGrab() {
    if (m_grabbed || m_done)
        return;
    // The window under the pointer first: its cursor shape is the one shown during the grab.
    RegionOverlay *target = nullptr;
    const QPoint cursor = QCursor::pos();
    for (RegionOverlay *overlay : std::as_const(m_overlays)) {
        if (overlay->isExposed() && (!target || overlay->geometry().contains(cursor)))
            target = overlay;
    }
    if (target && target->setKeyboardGrabEnabled(true)) {
        if (target->setMouseGrabEnabled(true)) {
            m_grabbed = true;
            m_grabber = target;
            return;
        }
        target->setKeyboardGrabEnabled(false);
    }
    if (++m_grabAttempts >= kGrabAttempts)
        finish(CaptureExit::Failed);
    else
        m_grabRetry.start(kGrabRetryMilliseconds);
}

void RegionSelector::releaseGrab() {
    if (!m_grabber)
        return;
    m_grabber->setMouseGrabEnabled(false);
    m_grabber->setKeyboardGrabEnabled(false);
    m_grabber = nullptr;
    m_grabbed = false;
}

void RegionSelector::finish(int exitStatus) {
    if (m_done)
        return;
    m_done = true;
    m_idleTimer.stop();
    m_grabRetry.stop();
    releaseGrab();
    for (RegionOverlay *overlay : std::as_const(m_overlays))
        overlay->hide();
    emit finished(exitStatus);
}

void RegionSelector::writeSelection() {
    const QRect region = selectionInImage();
    if (region.isEmpty()) {
        finish(CaptureExit::NothingCaptured);
        return;
    }
    // Give the screen back first; the file follows once the overlays are gone.
    m_done = true;
    m_idleTimer.stop();
    releaseGrab();
    for (RegionOverlay *overlay : std::as_const(m_overlays))
        overlay->hide();
    QTimer::singleShot(0, this, [this, region] {
        const QImage image = m_still.region(region);
        QSaveFile file(m_outputPath);
        bool written = !image.isNull() && file.open(QIODevice::WriteOnly);
        if (written) {
            QImageWriter writer(&file, "png");
            writer.setQuality(kPngQuality);
            written = writer.write(image);
        }
        // A termination that arrived while encoding still leaves no file.
        if (!written || TerminationSignals::received()) {
            file.cancelWriting();
            emit finished(CaptureExit::Failed);
            return;
        }
        emit finished(file.commit() ? CaptureExit::Captured : CaptureExit::Failed);
    });
}
