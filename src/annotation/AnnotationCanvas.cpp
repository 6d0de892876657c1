#include "annotation/AnnotationCanvas.h"

#include "model/MarkGeometry.h"
#include "model/MarkLayers.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPointer>

#include <algorithm>
#include <cmath>

namespace {
const QString kAccessibleName = QStringLiteral("Screenshot mit bearbeitbaren Markierungen");
const QString kAccessibleHelp =
    QStringLiteral("Markierung anklicken und ziehen. Pfeiltasten verschieben, Rückschritt entfernt. "
                   "Text per Doppelklick bearbeiten.");

// Smallest drawn marks, in widget points: shorter strokes and narrower boxes are taken for slips.
constexpr double kMinimumStroke = 4;
constexpr double kMinimumTextBoxWidth = 20;
constexpr double kMinimumTextBoxHeight = 16;

double clamp01(double v) {
    return std::clamp(v, 0.0, 1.0);
}

bool isBoxShape(MarkKind kind) {
    return kind == MarkKind::Rectangle || kind == MarkKind::Ellipse || kind == MarkKind::FilledRectangle ||
           kind == MarkKind::FilledEllipse;
}

// Window managers often keep Alt+drag for moving windows, so Ctrl draws over marks as well.
bool drawsOver(Qt::KeyboardModifiers modifiers) {
    return modifiers & (Qt::AltModifier | Qt::ControlModifier);
}

bool isUndoKey(const QKeyEvent *event) {
    return event->key() == Qt::Key_Z && (event->modifiers() & Qt::ControlModifier);
}

bool isArrowKey(int key) {
    return key == Qt::Key_Left || key == Qt::Key_Right || key == Qt::Key_Up || key == Qt::Key_Down;
}

// Copies the callback before calling it: the owner may replace the configuration, and with it
// the very function object, while the call runs.
template <typename Callback, typename... Args> void call(const Callback &callback, Args &&...args) {
    const Callback copy = callback;
    copy(std::forward<Args>(args)...);
}
} // namespace

AnnotationCanvas::AnnotationCanvas(AnnotatedCapture configuration, QWidget *parent)
    : QWidget(parent), m_configuration(std::move(configuration)) {
    setAccessibleName(kAccessibleName);
    setAccessibleDescription(kAccessibleHelp);
    m_levels.setImage(m_configuration.image);
    connect(&m_levels, &ImageLevels::changed, this, [this] {
        ++m_qualityGeneration;
        update();
    });
    applyEditable();
}

AnnotationCanvas::~AnnotationCanvas() = default;

void AnnotationCanvas::applyEditable() {
    const bool editable = m_configuration.editable;
    setAttribute(Qt::WA_TransparentForMouseEvents, !editable);
    // The editor's canvas paints every pixel itself, so nothing beneath it is repainted per frame.
    setAttribute(Qt::WA_OpaquePaintEvent, editable);
    // A stop of the Tab round as well: its keys move, delete and undo marks.
    setFocusPolicy(editable ? Qt::StrongFocus : Qt::NoFocus);
    setMouseTracking(editable);
    if (!editable)
        unsetCursor();
}

void AnnotationCanvas::setConfiguration(AnnotatedCapture configuration) {
    if (configuration.tool != m_configuration.tool)
        discardGesture();
    const bool marksChanged = configuration.marks != m_configuration.marks;
    const bool imageChanged = configuration.image.cacheKey() != m_configuration.image.cacheKey();
    const bool editableChanged = configuration.editable != m_configuration.editable;
    m_configuration = std::move(configuration);
    if (imageChanged)
        m_levels.setImage(m_configuration.image);
    if (marksChanged || imageChanged || editableChanged)
        ++m_contentGeneration;
    if (editableChanged)
        applyEditable();
    update();
    if (m_configuration.editable && underMouse())
        updateCursor(mapFromGlobal(QCursor::pos()));
}

void AnnotationCanvas::discardGesture() {
    m_origin.reset();
    m_moving.reset();
    m_movingHandle.reset();
    m_draft.reset();
    m_gestureTool.reset();
    m_selectingText = false;
    m_textRegions.clear();
    update();
}

void AnnotationCanvas::setPanning(bool panning) {
    if (m_panning == panning)
        return;
    m_panning = panning;
    if (m_configuration.editable)
        updateCursor(mapFromGlobal(QCursor::pos()));
}

void AnnotationCanvas::undo() {
    discardGesture();
    call(m_configuration.undo);
}

void AnnotationCanvas::redo() {
    discardGesture();
    call(m_configuration.redo);
}

// ---- Geometry ----

QPointF AnnotationCanvas::normalised(QPointF p) const {
    return {p.x() / width(), p.y() / height()};
}

QSizeF AnnotationCanvas::imageSize() const {
    return QSizeF(m_configuration.image.size());
}

std::optional<Mark> AnnotationCanvas::selectedMark() const {
    if (!m_configuration.selection)
        return std::nullopt;
    for (const Mark &mark : m_configuration.marks)
        if (mark.id == *m_configuration.selection)
            return mark;
    return std::nullopt;
}

void AnnotationCanvas::select(const std::optional<QUuid> &id) {
    // Shown at once, like a binding; the owner's next configuration confirms it.
    m_configuration.selection = id;
    call(m_configuration.select, id);
}

Mark AnnotationCanvas::newMark(MarkKind kind, QPointF a, QPointF b, bool constrained) const {
    const double w = width(), h = height();
    if (constrained && isBoxShape(kind)) {
        const double sx = b.x() >= a.x() ? 1 : -1;
        const double sy = b.y() >= a.y() ? 1 : -1;
        const double side = std::min({std::max(std::abs(b.x() - a.x()), std::abs(b.y() - a.y())),
                                      sx > 0 ? w - a.x() : a.x(), sy > 0 ? h - a.y() : a.y()});
        b = QPointF(a.x() + sx * side, a.y() + sy * side);
    }
    Mark mark =
        Mark::make(kind, clamp01(a.x() / w), clamp01(a.y() / h), clamp01(b.x() / w), clamp01(b.y() / h));
    mark.color = m_configuration.drawingColor;
    mark.strokeWidth = m_configuration.drawingWidth;
    if (kind == MarkKind::Blur)
        mark.blurRadius = m_configuration.drawingBlurRadius;
    if (MarkKinds::isTextBox(kind))
        mark.fixedTextBox = true;
    return mark;
}

// The mark a finished drag from a to b adds, or none when it is too small to be meant.
std::optional<Mark> AnnotationCanvas::finishedMark(MarkKind kind, QPointF a, QPointF b,
                                                   bool constrained) const {
    const double w = width(), h = height();
    if (MarkKinds::isTextBox(kind)) {
        Mark box = newMark(kind, a, b, false);
        if (std::hypot(b.x() - a.x(), b.y() - a.y()) < kMinimumStroke) {
            // A click places a box of a sensible size, kept inside the image.
            box.x1 = std::clamp(a.x() / w, 0.0, 0.6);
            box.y1 = std::clamp(a.y() / h, 0.0, 0.82);
            box.x2 = box.x1 + 0.4;
            box.y2 = box.y1 + 0.18;
        }
        if (std::abs(box.x2 - box.x1) * w < kMinimumTextBoxWidth ||
            std::abs(box.y2 - box.y1) * h < kMinimumTextBoxHeight)
            return std::nullopt;
        if (kind == MarkKind::Callout) {
            const double maxY = std::max(box.y1, box.y2), minY = std::min(box.y1, box.y2);
            box.tipX = (box.x1 + box.x2) / 2;
            box.tipY = maxY <= 0.82 ? maxY + 0.15 : std::max(minY - 0.15, 0.0);
        }
        return box;
    }
    const Mark mark = newMark(kind, a, b, constrained);
    const double dx = std::abs(mark.x2 - mark.x1) * w, dy = std::abs(mark.y2 - mark.y1) * h;
    const bool large = kind == MarkKind::Arrow || kind == MarkKind::Line
                           ? std::hypot(dx, dy) >= kMinimumStroke
                           : dx >= kMinimumStroke && dy >= kMinimumStroke;
    return large ? std::optional<Mark>(mark) : std::nullopt;
}

// ---- Pointer ----

void AnnotationCanvas::mousePressEvent(QMouseEvent *event) {
    press(event, 1);
}

void AnnotationCanvas::mouseDoubleClickEvent(QMouseEvent *event) {
    press(event, 2);
}

void AnnotationCanvas::press(QMouseEvent *event, int clickCount) {
    if (event->button() != Qt::LeftButton || !m_configuration.editable || width() <= 0 || height() <= 0) {
        event->ignore();
        return;
    }
    if (m_panGesture && m_panGesture(event, true))
        return;
    const QPointer<AnnotationCanvas> alive(this);
    call(m_configuration.activate);
    if (!alive)
        return;
    setFocus(Qt::MouseFocusReason);
    const QPointF p = event->position();
    m_origin = p;
    const QSizeF size(width(), height());

    if (!m_configuration.recognizedLines.isEmpty()) {
        m_selectingText = true;
        select(std::nullopt);
        if (!alive)
            return;
        m_textRegions =
            TextMarkerSelection::regions(m_configuration.recognizedLines, normalised(p), normalised(p));
        update();
        return;
    }
    if (m_configuration.tool == MarkKind::Number) {
        select(std::nullopt);
        if (!alive)
            return;
        m_gestureTool = MarkKind::Number;
        update();
        return;
    }
    if (!drawsOver(event->modifiers())) {
        if (const std::optional<Mark> selected = selectedMark()) {
            if (const auto handle = MarkGeometry::handle(*selected, p, size)) {
                m_moving = selected;
                m_movingHandle = handle;
                update();
                return;
            }
        }
        if (const std::optional<Mark> hit = MarkGeometry::hit(p, size, m_configuration.marks)) {
            select(hit->id);
            if (!alive)
                return;
            if (clickCount == 2 && MarkKinds::isTextBox(hit->kind)) {
                discardGesture();
                call(m_configuration.editText, *hit);
                return;
            }
            m_moving = hit;
            setCursor(Qt::ClosedHandCursor);
            update();
            return;
        }
    }
    select(std::nullopt);
    if (!alive)
        return;
    m_gestureTool = m_configuration.tool;
    update();
}

void AnnotationCanvas::mouseMoveEvent(QMouseEvent *event) {
    if (!(event->buttons() & Qt::LeftButton)) {
        if (event->buttons() == Qt::NoButton)
            updateCursor(event->position());
        return;
    }
    if (m_panGesture && m_panGesture(event, false))
        return;
    if (!m_origin)
        return;
    const QPointF p = event->position();
    if (m_selectingText) {
        m_textRegions = TextMarkerSelection::regions(m_configuration.recognizedLines, normalised(*m_origin),
                                                     normalised(p));
    } else if (!m_moving) {
        if (m_gestureTool && *m_gestureTool != MarkKind::Number)
            m_draft = newMark(*m_gestureTool, *m_origin, p, event->modifiers() & Qt::ShiftModifier);
    } else if (!m_movingHandle) {
        m_draft = MarkGeometry::translated(*m_moving, (p.x() - m_origin->x()) / width(),
                                           (p.y() - m_origin->y()) / height());
    } else {
        m_draft = MarkGeometry::movingHandle(*m_moving, *m_movingHandle, normalised(p), imageSize());
    }
    update();
}

void AnnotationCanvas::mouseReleaseEvent(QMouseEvent *event) {
    if (event->button() != Qt::LeftButton) {
        event->ignore();
        return;
    }
    release(event);
}

void AnnotationCanvas::release(QMouseEvent *event) {
    const QPointF p = event->position();
    if (!m_origin) {
        discardGesture();
        updateCursor(p);
        return;
    }
    // Everything the outcome needs is copied first: the callbacks may replace the configuration.
    const QPointF origin = *m_origin;
    const AnnotatedCapture configuration = m_configuration;
    const QPointer<AnnotationCanvas> alive(this);

    if (m_selectingText) {
        const QList<QRectF> regions =
            TextMarkerSelection::regions(configuration.recognizedLines, normalised(origin), normalised(p));
        if (!regions.isEmpty())
            call(configuration.highlightText, regions);
    } else if (m_moving) {
        // Released where it was pressed: only a selection. Without this a click on a callout
        // would store its default tip, and a click near a handle would snap the handle to the
        // pointer, each as an edit with an undo step.
        const Mark moving = *m_moving;
        const Mark moved =
            m_movingHandle ? MarkGeometry::movingHandle(moving, *m_movingHandle, normalised(p), imageSize())
                           : MarkGeometry::translated(moving, (p.x() - origin.x()) / width(),
                                                      (p.y() - origin.y()) / height());
        if (p != origin && moved != moving)
            call(configuration.updateMark, moved);
    } else if (m_gestureTool == MarkKind::Number) {
        const Mark number =
            MarkGeometry::numbered(normalised(origin), Marks::nextNumber(configuration.marks), imageSize(),
                                   configuration.drawingColor.value_or(MarkColor::Blue));
        call(configuration.addMark, number);
    } else if (m_gestureTool) {
        if (const std::optional<Mark> mark =
                finishedMark(*m_gestureTool, origin, p, event->modifiers() & Qt::ShiftModifier))
            call(configuration.addMark, *mark);
    }
    if (!alive)
        return;
    discardGesture();
    updateCursor(p);
}

void AnnotationCanvas::updateCursor(QPointF at) {
    if (!m_configuration.editable)
        return;
    if (m_panning) {
        setCursor(Qt::OpenHandCursor);
        return;
    }
    const QPointF n = normalised(at);
    for (const RecognizedTextLine &line : m_configuration.recognizedLines) {
        if (line.rect.contains(n)) {
            setCursor(Qt::IBeamCursor);
            return;
        }
    }
    setCursor(m_configuration.tool ? Qt::CrossCursor : Qt::ArrowCursor);
}

// ---- Keys ----

bool AnnotationCanvas::handlesKey(const QKeyEvent *event) const {
    const int key = event->key();
    if (isUndoKey(event) || key == Qt::Key_Escape || key == Qt::Key_Backspace || key == Qt::Key_Delete)
        return true;
    const std::optional<Mark> selected = selectedMark();
    if (!selected)
        return false;
    if ((key == Qt::Key_Return || key == Qt::Key_Enter) && MarkKinds::isTextBox(selected->kind))
        return true;
    return isArrowKey(key) && width() > 0 && height() > 0;
}

bool AnnotationCanvas::event(QEvent *event) {
    // Keys the canvas acts on must not also fire a menu action with the same shortcut.
    if (event->type() == QEvent::ShortcutOverride && m_configuration.editable &&
        handlesKey(static_cast<QKeyEvent *>(event))) {
        event->accept();
        return true;
    }
    return QWidget::event(event);
}

void AnnotationCanvas::keyPressEvent(QKeyEvent *event) {
    if (!m_configuration.editable || !handlesKey(event)) {
        QWidget::keyPressEvent(event);
        return;
    }
    const int key = event->key();
    if (isUndoKey(event)) {
        if (event->modifiers() & Qt::ShiftModifier)
            redo();
        else
            undo();
        return;
    }
    if (key == Qt::Key_Escape) {
        discardGesture();
        const QPointer<AnnotationCanvas> alive(this);
        select(std::nullopt);
        if (alive)
            call(m_configuration.cancel);
        return;
    }
    if (key == Qt::Key_Backspace || key == Qt::Key_Delete) {
        call(m_configuration.deleteSelected);
        return;
    }
    const Mark selected = *selectedMark();
    if (key == Qt::Key_Return || key == Qt::Key_Enter) {
        call(m_configuration.editText, selected);
        return;
    }
    // One image pixel, ten with Shift, whatever the zoom.
    const double step = event->modifiers() & Qt::ShiftModifier ? 10 : 1;
    const double dx = key == Qt::Key_Left ? -step : key == Qt::Key_Right ? step : 0;
    const double dy = key == Qt::Key_Up ? -step : key == Qt::Key_Down ? step : 0;
    const QSizeF size = imageSize();
    call(m_configuration.updateMark, MarkGeometry::translated(selected, dx / std::max(size.width(), 1.0),
                                                              dy / std::max(size.height(), 1.0)));
}
