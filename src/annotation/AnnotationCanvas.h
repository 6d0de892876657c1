#pragma once

#include "annotation/AnnotatedCapture.h"
#include "annotation/BlurPreviews.h"
#include "annotation/ImageLevels.h"
#include "export/MarkRenderer.h"

#include <QImage>
#include <QSet>
#include <QWidget>

#include <functional>
#include <optional>

class QMouseEvent;

// Draws a snip image with its marks, exactly as the export burns them in, and in the mark editor
// turns the pointer and the keyboard into mark edits. The canvas never changes marks itself: it
// reports each finished edit through one callback of its configuration and keeps only the state
// of the gesture in progress.
//
// Read-only (the default) it lets every click through and takes no focus. Editable, it takes the
// focus from clicks and Tab and covers exactly the displayed image; a normalised point (x, y) is
// the widget point (x · width, y · height).
class AnnotationCanvas : public QWidget {
    Q_OBJECT

public:
    explicit AnnotationCanvas(AnnotatedCapture configuration, QWidget *parent = nullptr);
    ~AnnotationCanvas() override;

    const AnnotatedCapture &configuration() const { return m_configuration; }
    // Replaces the whole configuration; a change of tool drops the gesture in progress.
    void setConfiguration(AnnotatedCapture configuration);
    // Forgets the gesture in progress; leaves the selection alone.
    void discardGesture();

    // A hosting viewport in hand mode: the open hand over the whole canvas.
    void setPanning(bool panning);
    bool isPanning() const { return m_panning; }
    // Sees presses (begin = true) and left-button drags before the canvas does; returns true when
    // it took the event (the host pans), and the canvas then ignores it.
    using PanGesture = std::function<bool(QMouseEvent *event, bool begin)>;
    void setPanGesture(PanGesture gesture) { m_panGesture = std::move(gesture); }

    // How many blurred copies the canvas has made (they are kept and reused across frames).
    int blurCopiesMade() const { return m_blurs.made(); }
    // How many kept frames were drawn on the paint path (new marks, far scrolls); zooming draws none.
    int framesDrawnWhilePainting() const { return m_framesDrawnWhilePainting; }

public Q_SLOTS:
    // Undo and redo from the Edit menu while the canvas has the focus: the menu finds them by
    // name on the focused widget, as it finds a text field's.
    void undo();
    void redo();

protected:
    bool event(QEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;

private:
    // ---- Editing (AnnotationCanvas.cpp) ----
    void applyEditable();
    void press(QMouseEvent *event, int clickCount);
    void release(QMouseEvent *event);
    bool handlesKey(const QKeyEvent *event) const;
    void updateCursor(QPointF at);
    void select(const std::optional<QUuid> &id);
    QPointF normalised(QPointF p) const;
    QSizeF imageSize() const;
    std::optional<Mark> selectedMark() const;
    Mark newMark(MarkKind kind, QPointF a, QPointF b, bool constrained) const;
    std::optional<Mark> finishedMark(MarkKind kind, QPointF a, QPointF b, bool constrained) const;

    // ---- Drawing (AnnotationCanvasPainting.cpp) ----
    // Where the image lies: the whole canvas when editable; in a preview the image fitted in.
    QRectF imageRect() const;
    // The configuration's marks with the live result of the gesture in place; the ids of that
    // live part go into `live`.
    MarkList drawnList(QSet<QUuid> *live) const;
    MarkList visibleMarks(const MarkList &marks, const QRect &area) const;
    BlurLookup blurLookup();
    void prepareScene(const QRect &needed, const MarkList &order, qsizetype below, qsizetype above);
    void paintLive(QPainter &painter, const MarkList &marks);
    void paintAids(QPainter &painter, const MarkList &drawn);

    AnnotatedCapture m_configuration;
    bool m_panning = false;
    PanGesture m_panGesture;

    // The gesture in progress; no origin means none.
    std::optional<QPointF> m_origin;
    std::optional<Mark> m_moving;
    std::optional<MarkHandle> m_movingHandle;
    std::optional<Mark> m_draft;
    std::optional<MarkKind> m_gestureTool;
    bool m_selectingText = false;
    QList<QRectF> m_textRegions;

    // What the last frames drew, kept so a frame during a gesture repaints only the live part:
    // the picture with the marks beneath it, and the marks above it, over the visible area.
    ImageLevels m_levels;
    BlurPreviews m_blurs;
    quint64 m_contentGeneration = 0; // the image and the marks
    quint64 m_qualityGeneration = 0; // sharper copies of the picture
    struct SceneKey {
        quint64 content = 0;
        quint64 quality = 0;
        qsizetype below = -1;
        qsizetype above = -1;
        QSize size;
        qreal ratio = 0;
        bool operator==(const SceneKey &) const = default;
    };
    struct Scene {
        QImage below;
        QImage above;
        QRect area;   // the part of the canvas the layers cover
        QRectF image; // where the image lay when they were drawn
        SceneKey key;
    };
    Scene m_scene;
    bool m_building = false; // a frame is being drawn on the background pool
    int m_framesDrawnWhilePainting = 0;
};
