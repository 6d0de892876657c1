#pragma once

#include "ScreenStill.h"

#include <QList>
#include <QObject>
#include <QPointF>
#include <QTimer>

class QScreen;
class RegionOverlay;

// The interactive part of a capture: one overlay per screen showing the still, a rectangle
// dragged with the left button (across screens if need be), and the cropped region written as
// a PNG. Ends with finished(exit status, see CaptureExit).
class RegionSelector : public QObject {
    Q_OBJECT
public:
    RegionSelector(ScreenStill still, QString outputPath, QObject *parent = nullptr);
    ~RegionSelector() override;

    // Shows the overlays; with requireGrab, failing to grab keyboard and pointer ends with Failed.
    void start(bool requireGrab);

    const ScreenStill &still() const { return m_still; }
    // The part of the still a screen area shows, in image pixels.
    QRect imageRect(const QRectF &area) const;
    // The current selection in a window's own coordinates; empty when there is none.
    QRect selectionIn(const QRect &windowGeometry) const;

    // From the overlays, positions in the window system's global coordinates.
    void pointerPressed(const QPointF &global, Qt::MouseButton button);
    void pointerMoved(const QPointF &global);
    void pointerReleased(const QPointF &global, Qt::MouseButton button);
    void cancelRequested();
    void inputSeen();
    void overlayExposed();

signals:
    void finished(int exitStatus);

private:
    QPoint toImage(const QPointF &global) const;
    QRect selectionInImage() const;
    void setCurrent(const QPointF &global);
    void tryGrab();
    void releaseGrab();
    void finish(int exitStatus);
    void writeSelection();

    ScreenStill m_still;
    QString m_outputPath;
    QList<RegionOverlay *> m_overlays;
    RegionOverlay *m_grabber = nullptr;
    QTimer m_idleTimer;
    QTimer m_grabRetry;
    int m_grabAttempts = 0;
    bool m_requireGrab = true;
    bool m_grabbed = false;
    bool m_dragging = false;
    bool m_done = false;
    QPoint m_anchor; // image pixels
    QPoint m_current;
};
