#include "annotation/AnnotationSession.h"

#include "annotation/AnnotationViewportGeometry.h"
#include "model/AppFailure.h"
#include "model/MarkLayers.h"
#include "store/CollectionStore.h"

#include <QRegularExpression>

#include <algorithm>
#include <cmath>

namespace {
const QString kNumberLimit = QStringLiteral("Pro Bild sind Nummern bis 9999 möglich.");

std::optional<QUuid> strictUuid(QStringView text) {
    static const QRegularExpression form(
        QStringLiteral("^[0-9A-Fa-f]{8}(-[0-9A-Fa-f]{4}){3}-[0-9A-Fa-f]{12}$"));
    if (!form.match(text).hasMatch())
        return std::nullopt;
    return QUuid::fromString(text);
}

MarkList obscuring(const MarkList &marks) {
    MarkList hiding;
    for (const Mark &mark : marks)
        if (mark.obscuresText())
            hiding.append(mark);
    return hiding;
}

// Case folding keeps the length of most text; ß folds to ss, as a German reader compares.
QString folded(const QString &text) {
    return text.toCaseFolded().replace(QChar(0x00DF), QStringLiteral("ss"));
}

qsizetype positionOf(const MarkList &order, const QUuid &id) {
    for (qsizetype i = 0; i < order.size(); ++i)
        if (order[i].id == id)
            return i;
    return -1;
}
} // namespace

AnnotationSession::AnnotationSession(CollectionStore *store, const QUuid &snipID, QObject *parent,
                                     TextRecognitionModel::RecognizerFactory recognizer)
    : QObject(parent), m_store(store), m_snipID(snipID),
      m_recognition(recognizer ? new TextRecognitionModel(std::move(recognizer), this)
                               : new TextRecognitionModel(this)) {
    m_obscuring = obscuring(marks());
    connect(store, &CollectionStore::collectionsChanged, this, &AnnotationSession::libraryChanged);
    connect(store, &CollectionStore::selectedIDChanged, this, &AnnotationSession::libraryChanged);
    for (auto signal : {&TextRecognitionModel::linesChanged, &TextRecognitionModel::isRunningChanged,
                        &TextRecognitionModel::didRunChanged, &TextRecognitionModel::errorChanged})
        connect(m_recognition, signal, this, &AnnotationSession::changed);
}

std::optional<Snip> AnnotationSession::item() const {
    const std::optional<SnipCollection> current = m_store->current();
    if (!current)
        return std::nullopt;
    for (const Snip &snip : current->items)
        if (snip.id == m_snipID)
            return snip;
    return std::nullopt;
}

MarkList AnnotationSession::marks() const {
    const std::optional<Snip> snip = item();
    return snip ? snip->marks : MarkList();
}

std::optional<Mark> AnnotationSession::selected() const {
    if (!m_selection)
        return std::nullopt;
    for (const Mark &mark : marks())
        if (mark.id == *m_selection)
            return mark;
    return std::nullopt;
}

bool AnnotationSession::markingText() const {
    return m_inspectorTab == InspectorTab::Text && m_textMarker && !m_hand && !m_tool;
}

bool AnnotationSession::matchesQuery(const QString &text, const QString &query) {
    return query.isEmpty() || folded(text).contains(folded(query));
}

RecognizedTextLines AnnotationSession::filteredLines() const {
    RecognizedTextLines lines;
    for (const RecognizedTextLine &line : m_recognition->lines())
        if (matchesQuery(line.text, m_textQuery))
            lines.append(line);
    return lines;
}

std::optional<RecognizedTextLine> AnnotationSession::recognizedLine() const {
    if (!m_recognizedSelection)
        return std::nullopt;
    for (const RecognizedTextLine &line : m_recognition->lines())
        if (line.id == *m_recognizedSelection)
            return line;
    return std::nullopt;
}

AnnotatedCapture AnnotationSession::configuration(const QImage &image) const {
    // The canvas may outlive the session by a moment while the window tears down.
    const QPointer<AnnotationSession> self(const_cast<AnnotationSession *>(this));
    AnnotatedCapture c;
    c.image = image;
    c.marks = marks();
    c.tool = m_tool;
    c.selection = m_selection;
    c.editable = true;
    c.drawingColor = markingText() ? m_textMarkerColor : m_drawingColor;
    if (markingText())
        c.recognizedLines = m_recognition->lines();
    if (m_inspectorTab == InspectorTab::Text)
        if (const std::optional<RecognizedTextLine> line = recognizedLine())
            c.focusRect = line->rect;
    c.drawingWidth = m_drawingWidth;
    c.drawingBlurRadius = m_drawingBlurRadius;
    c.select = [self](const std::optional<QUuid> &id) {
        if (self)
            self->setSelection(id);
    };
    c.highlightText = [self](const QList<QRectF> &regions) {
        if (self)
            self->highlightText(regions);
    };
    c.updateMark = [self](const Mark &m) {
        if (self)
            self->update(m);
    };
    c.deleteSelected = [self] {
        if (self)
            self->deleteSelected();
    };
    c.editText = [self](const Mark &m) {
        if (self)
            self->editText(m);
    };
    c.undo = [self] {
        if (self)
            self->undo();
    };
    c.redo = [self] {
        if (self)
            self->redo();
    };
    c.cancel = [self] {
        if (self)
            self->cancel();
    };
    c.addMark = [self](const Mark &m) {
        if (self)
            self->addMark(m);
    };
    return c;
}

// ---- Edits ----

void AnnotationSession::write(const MarkList &marks) {
    m_store->editSnip(m_snipID, [&](Snip &snip) { snip.marks = marks; });
}

void AnnotationSession::replace(const MarkList &marks) {
    const MarkList before = this->marks();
    const AnnotationHistory old = m_history;
    m_history.record(before, marks);
    // Written even when nothing changed, like every other edit, so the library always holds what
    // the editor shows.
    write(marks);
    if (!(m_history == old))
        Q_EMIT changed();
}

void AnnotationSession::update(const Mark &mark) {
    MarkList list = marks();
    for (Mark &m : list)
        if (m.id == mark.id) {
            m = mark;
            break;
        }
    replace(list);
}

void AnnotationSession::deleteSelected() {
    if (!m_selection)
        return;
    MarkList list = marks();
    const QUuid id = *m_selection;
    list.removeIf([&](const Mark &m) { return m.id == id; });
    replace(list);
    set(m_selection, std::optional<QUuid>());
}

void AnnotationSession::addMark(Mark mark) {
    mark.color = m_drawingColor;
    mark.strokeWidth = m_drawingWidth;
    if (mark.kind == MarkKind::Blur)
        mark.blurRadius = m_drawingBlurRadius;
    if (MarkKinds::isTextBox(mark.kind)) {
        editText(mark);
        return;
    }
    if (mark.kind == MarkKind::Number) {
        const qint64 next = Marks::nextNumber(marks());
        if (next > Marks::kMaxNumber) {
            m_store->setError(kNumberLimit);
            return;
        }
        mark.number = next;
        replace(marks() << mark);
        set(m_selection, std::optional<QUuid>());
        return;
    }
    replace(marks() << mark);
    set(m_selection, std::optional<QUuid>(mark.id));
    set(m_tool, std::optional<MarkKind>());
}

void AnnotationSession::undo() {
    if (const std::optional<MarkList> previous = m_history.undo(marks())) {
        write(*previous);
        Q_EMIT changed();
    }
}

void AnnotationSession::redo() {
    if (const std::optional<MarkList> next = m_history.redo(marks())) {
        write(*next);
        Q_EMIT changed();
    }
}

void AnnotationSession::highlightText(const QList<QRectF> &regions) {
    replace(marks() << TextMarkerSelection::marks(regions, m_textMarkerColor));
    // The marked words are done with: the line picked in the list and its outline go too.
    set(m_recognizedSelection, std::optional<QUuid>());
    set(m_selection, std::optional<QUuid>());
}

void AnnotationSession::libraryChanged() {
    // A selection the snip no longer holds (deleted, undone, snip gone) is dropped.
    if (m_selection && !selected())
        set(m_selection, std::optional<QUuid>());
    // Recognition read the image with these burnt in; after any change of them, by any path, its
    // lines may show text that is now hidden, or miss text that is now visible.
    const MarkList hiding = obscuring(marks());
    if (hiding != m_obscuring) {
        m_obscuring = hiding;
        m_recognition->reset();
        set(m_recognizedSelection, std::optional<QUuid>());
    }
}

// ---- Tools, selection and the text form ----

void AnnotationSession::setSelection(const std::optional<QUuid> &id) {
    set(m_selection, id);
}

void AnnotationSession::chooseTool(MarkKind kind) {
    set(m_tool, std::optional<MarkKind>(kind));
    set(m_hand, false);
    set(m_selection, std::optional<QUuid>());
    set(m_inspectorTab, InspectorTab::Layers);
    // Highlights and text boxes start yellow; other tools leave a yellow chosen for them.
    if (kind == MarkKind::Highlight || MarkKinds::isTextBox(kind))
        set(m_drawingColor, MarkColor::Yellow);
    else if (m_drawingColor == MarkColor::Yellow)
        set(m_drawingColor, MarkColor::Blue);
}

void AnnotationSession::chooseSelect() {
    set(m_tool, std::optional<MarkKind>());
    set(m_hand, false);
    set(m_inspectorTab, InspectorTab::Layers);
}

void AnnotationSession::toggleHand() {
    set(m_tool, std::optional<MarkKind>());
    set(m_hand, !m_hand);
}

void AnnotationSession::cancel() {
    set(m_tool, std::optional<MarkKind>());
    set(m_hand, false);
    set(m_textMarker, false);
}

void AnnotationSession::editText(const Mark &mark) {
    set(m_textMark, std::optional<Mark>(mark));
}

void AnnotationSession::saveText(const Mark &mark) {
    const MarkList list = marks();
    const bool exists = std::any_of(list.begin(), list.end(), [&](const Mark &m) { return m.id == mark.id; });
    if (exists)
        update(mark);
    else
        replace(list + MarkList{mark});
    set(m_selection, std::optional<QUuid>(mark.id));
    set(m_tool, std::optional<MarkKind>());
    set(m_textMark, std::optional<Mark>());
}

void AnnotationSession::cancelText() {
    set(m_textMark, std::optional<Mark>());
}

void AnnotationSession::setInspectorTab(InspectorTab tab) {
    set(m_inspectorTab, tab);
}

// ---- Recognised text ----

void AnnotationSession::recognizeText() {
    const std::optional<Snip> snip = item();
    if (!snip)
        return;
    QString path;
    try {
        path = m_store->imageURL(snip->imageFile);
    } catch (const AppFailure &) {
        return;
    }
    set(m_inspectorTab, InspectorTab::Text);
    set(m_recognizedSelection, std::optional<QUuid>());
    set(m_textMarker, true);
    set(m_tool, std::optional<MarkKind>());
    set(m_hand, false);
    set(m_selection, std::optional<QUuid>());
    m_recognition->recognize(path, obscuring(marks()));
}

void AnnotationSession::chooseMarker() {
    set(m_inspectorTab, InspectorTab::Text);
    set(m_textMarker, true);
    set(m_tool, std::optional<MarkKind>());
    set(m_hand, false);
    set(m_selection, std::optional<QUuid>());
    if (!m_recognition->didRun())
        recognizeText();
}

void AnnotationSession::setTextQuery(const QString &query) {
    if (query == m_textQuery)
        return;
    m_textQuery = query;
    m_recognizedSelection.reset();
    Q_EMIT changed();
}

void AnnotationSession::selectRecognizedLine(const QUuid &id) {
    set(m_recognizedSelection, std::optional<QUuid>(id));
    set(m_selection, std::optional<QUuid>());
    set(m_tool, std::optional<MarkKind>());
    set(m_hand, false);
}

void AnnotationSession::setTextMarker(bool on) {
    set(m_textMarker, on);
    if (on) {
        // The canvas is left free for the marker.
        set(m_tool, std::optional<MarkKind>());
        set(m_hand, false);
        set(m_selection, std::optional<QUuid>());
    }
}

void AnnotationSession::setTextMarkerColor(MarkColor color) {
    set(m_textMarkerColor, color);
}

void AnnotationSession::markRecognized(const RecognizedTextLine &line, MarkKind kind) {
    const Mark mark = line.mark(kind, kind == MarkKind::Highlight ? MarkColor::Yellow : m_drawingColor);
    replace(marks() << mark);
    set(m_selection, std::optional<QUuid>(mark.id));
    set(m_tool, std::optional<MarkKind>());
    set(m_hand, false);
    set(m_recognizedSelection, std::optional<QUuid>());
    set(m_inspectorTab, InspectorTab::Layers);
}

// ---- Style ----

void AnnotationSession::chooseColor(MarkColor color) {
    set(m_drawingColor, color);
    if (std::optional<Mark> mark = selected()) {
        mark->color = color;
        update(*mark);
    }
}

void AnnotationSession::chooseWidth(double width) {
    set(m_drawingWidth, width);
    if (std::optional<Mark> mark = selected()) {
        mark->strokeWidth = width;
        update(*mark);
    }
}

void AnnotationSession::chooseBlurRadius(double radius) {
    set(m_drawingBlurRadius, radius);
    if (std::optional<Mark> mark = selected()) {
        mark->blurRadius = radius;
        update(*mark);
    }
}

// ---- Zoom ----

void AnnotationSession::setZoom(std::optional<double> zoom) {
    set(m_zoom, zoom);
}

void AnnotationSession::setVisibleZoom(double zoom) {
    set(m_visibleZoom, zoom);
}

void AnnotationSession::zoomIn() {
    setZoom(std::min(m_visibleZoom * kZoomStep, AnnotationViewportGeometry::kMaximumZoom));
}

bool AnnotationSession::canZoomOut() const {
    return m_visibleZoom > AnnotationViewportGeometry::kMinimumZoom;
}

void AnnotationSession::zoomOut() {
    if (canZoomOut())
        setZoom(std::max(m_visibleZoom / kZoomStep, AnnotationViewportGeometry::kMinimumZoom));
}

// ---- Layers ----

void AnnotationSession::selectLayer(const QUuid &id) {
    set(m_selection, std::optional<QUuid>(id));
    set(m_hand, false);
    set(m_tool, std::optional<MarkKind>());
}

void AnnotationSession::moveLayer(const QUuid &id, int step) {
    const MarkList list = marks();
    const qsizetype i = positionOf(Marks::renderingOrder(list), id);
    if (i < 0)
        return;
    replace(Marks::reordered(list, id, i + step));
}

bool AnnotationSession::canMoveLayer(const QUuid &id, int step) const {
    const MarkList list = marks();
    const qsizetype i = positionOf(Marks::renderingOrder(list), id);
    return i >= 0 && Marks::reordered(list, id, i + step) != list;
}

void AnnotationSession::moveLayerTo(const QUuid &id, qsizetype position) {
    const MarkList list = marks();
    replace(Marks::reordered(list, id, position));
}

void AnnotationSession::dropLayer(QStringView text, const QUuid &target) {
    const std::optional<QUuid> dragged = strictUuid(text.trimmed());
    if (!dragged)
        return;
    const MarkList list = marks();
    const qsizetype j = positionOf(Marks::renderingOrder(list), target);
    if (j < 0)
        return;
    const MarkList result = Marks::reordered(list, *dragged, j);
    if (result == list)
        return;
    replace(result);
    set(m_selection, dragged);
}
