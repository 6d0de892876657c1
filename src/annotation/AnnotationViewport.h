#pragma once

#include "annotation/AnnotatedCapture.h"
#include "annotation/AnnotationViewportGeometry.h"

#include <QPointF>
#include <QPointer>
#include <QScrollArea>

#include <functional>
#include <optional>

class AnnotationCanvas;
class QMouseEvent;

// The mark editor's scrollable, zoomable view of the image: the editing canvas in a larger
// document with a margin, fitted to the view or shown at a requested factor; the visible centre
// stays put when the factor or the window size changes. Ctrl+wheel and pinch zoom; in hand mode
// a drag anywhere pans.
class AnnotationViewport : public QScrollArea {
    Q_OBJECT

public:
    explicit AnnotationViewport(AnnotatedCapture configuration, QWidget *parent = nullptr);
    ~AnnotationViewport() override;

    AnnotationCanvas *canvas() const { return m_canvas; }
    const std::optional<AnnotationViewportGeometry> &layoutGeometry() const { return m_geometry; }

    // The editor's state, handed over after every change. A new tool, hand mode or set of
    // recognised lines drops a gesture in progress; a new selection or tool gives the canvas the
    // keyboard focus, unless a dialog of the window or the keeper has it.
    void apply(AnnotatedCapture configuration, std::optional<double> zoom, bool hand);
    // A control that shows the selection as well and selects by its own keys (the layer list):
    // while it has the keyboard it keeps it, so its next key does not reach the canvas.
    void setKeyboardKeeper(QWidget *keeper) { m_keeper = keeper; }
    // The factor shown, reported one event-loop turn after a layout that changed it.
    void setReportZoom(std::function<void(double)> report) { m_reportZoom = std::move(report); }
    // A pinch or Ctrl+wheel asks for this factor.
    void setChangeZoom(std::function<void(double)> change) { m_changeZoom = std::move(change); }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void wheelEvent(QWheelEvent *event) override;
    bool viewportEvent(QEvent *event) override;

private:
    class Document;
    class FocusRing;
    void placeFocusRing();
    // Lays out for the current view size and zoom; in zoom mode the image point at `centre`
    // (relative to the image) ends up in the middle, by default the one there now.
    void refresh(std::optional<QPointF> centre = std::nullopt);
    void layoutOnce(QPointF centre);
    QPointF relativeCentre(QSize view) const;
    bool pan(QMouseEvent *event, bool begin);
    void zoomTo(double zoom);

    Document *m_document;
    AnnotationCanvas *m_canvas;
    FocusRing *m_focusRing;
    QPointer<QWidget> m_keeper;
    std::optional<QUuid> m_observedSelection;
    std::optional<double> m_requestedZoom;
    bool m_hand = false;
    std::function<void(double)> m_reportZoom = [](double) {};
    std::function<void(double)> m_changeZoom = [](double) {};
    std::optional<AnnotationViewportGeometry> m_geometry;
    QSize m_lastViewport;
    bool m_refreshing = false;
    bool m_again = false;
    QPointF m_panStart;
    QPoint m_panOrigin;
};
