#pragma once

#include "annotation/AnnotatedCapture.h"
#include "annotation/TextRecognitionModel.h"
#include "model/AnnotationHistory.h"
#include "model/Snip.h"

#include <QImage>
#include <QObject>
#include <QPointer>
#include <QUuid>

#include <optional>

class CollectionStore;

// The state of one visit of the mark editor to one snip of the current collection: the active
// tool, the selection, the undo history, the zoom request, the style of new marks and the
// inspector page. It is the one place where a changed mark list is recorded for undo and written
// into the library, inside the user action that caused it. Display-free; main thread only.
class AnnotationSession : public QObject {
    Q_OBJECT

public:
    enum class InspectorTab { Layers, Text };

    static constexpr double kZoomStep = 1.25;

    // Without `recognizer`, text is recognised on libtesseract.
    AnnotationSession(CollectionStore *store, const QUuid &snipID, QObject *parent = nullptr,
                      TextRecognitionModel::RecognizerFactory recognizer = {});

    CollectionStore *store() const { return m_store; }
    QUuid snipID() const { return m_snipID; }

    // ---- State ----
    std::optional<MarkKind> tool() const { return m_tool; }
    bool hand() const { return m_hand; }
    std::optional<QUuid> selection() const { return m_selection; }
    const AnnotationHistory &history() const { return m_history; }
    // The text box open in the text form.
    std::optional<Mark> textMark() const { return m_textMark; }
    std::optional<double> zoom() const { return m_zoom; } // none: fit the image to the viewport
    double visibleZoom() const { return m_visibleZoom; }
    MarkColor drawingColor() const { return m_drawingColor; }
    double drawingWidth() const { return m_drawingWidth; }
    double drawingBlurRadius() const { return m_drawingBlurRadius; }
    InspectorTab inspectorTab() const { return m_inspectorTab; }
    bool textMarker() const { return m_textMarker; }
    MarkColor textMarkerColor() const { return m_textMarkerColor; }
    TextRecognitionModel *recognition() const { return m_recognition; }
    QString textQuery() const { return m_textQuery; }
    std::optional<QUuid> recognizedSelection() const { return m_recognizedSelection; }

    // ---- Derived from the state and the library ----
    // The snip in the current collection; none when it is gone or another collection is current.
    std::optional<Snip> item() const;
    MarkList marks() const;
    std::optional<Mark> selected() const;
    // The text marker is in use: the text page, the marker switched on, no tool and no hand.
    bool markingText() const;
    // The recognised lines that contain the query (as typed, ignoring case); all without a query.
    RecognizedTextLines filteredLines() const;
    std::optional<RecognizedTextLine> recognizedLine() const;
    // Whether `text` contains `query`, compared as a German reader would: without regard to case
    // ("änderung" finds "ÄNDERUNG"), ß counting as ss.
    static bool matchesQuery(const QString &text, const QString &query);
    // The canvas configuration for the snip's image, bound to this session.
    AnnotatedCapture configuration(const QImage &image) const;

    // ---- Edits of the mark list ----
    // The one write path: one undo step when the list changed; written in any case.
    void replace(const MarkList &marks);
    void update(const Mark &mark);
    void deleteSelected();
    // A mark drawn on the canvas: it takes the editor's style; text boxes open the form first.
    void addMark(Mark mark);
    void undo();
    void redo();
    void highlightText(const QList<QRectF> &regions);

    // ---- Tools, selection and the text form ----
    void setSelection(const std::optional<QUuid> &id);
    void chooseTool(MarkKind kind);
    void chooseSelect();
    void toggleHand();
    // Esc on the canvas: back to select, out of hand mode, text marker off.
    void cancel();
    void editText(const Mark &mark);
    // The fitted mark from the text form: an existing box keeps its layer, a new one goes on top.
    void saveText(const Mark &mark);
    void cancelText();
    void setInspectorTab(InspectorTab tab);

    // ---- Recognised text ----
    // Recognises the snip's image with its redactions and blurs burnt in, on the text page.
    void recognizeText();
    // The text marker tool: the text page with the marker on; recognises first if it never ran.
    void chooseMarker();
    void setTextQuery(const QString &query);
    void selectRecognizedLine(const QUuid &id);
    void setTextMarker(bool on);
    void setTextMarkerColor(MarkColor color);
    // A mark of `kind` around the line, selected, on the layer page.
    void markRecognized(const RecognizedTextLine &line, MarkKind kind);

    // ---- Style of new marks and of the selected mark ----
    void chooseColor(MarkColor color);
    void chooseWidth(double width);
    void chooseBlurRadius(double radius);

    // ---- Zoom ----
    void setZoom(std::optional<double> zoom);
    void setVisibleZoom(double zoom);
    void zoomIn();
    void zoomOut();
    // Zooming out stops at 5 % and never enlarges a fit below it.
    bool canZoomOut() const;

    // ---- Layers ----
    void selectLayer(const QUuid &id);
    void moveLayer(const QUuid &id, int step);
    bool canMoveLayer(const QUuid &id, int step) const;
    void moveLayerTo(const QUuid &id, qsizetype position);
    // A layer row dropped on the row of `target`; the text must be the dragged mark's id.
    void dropLayer(QStringView text, const QUuid &target);

Q_SIGNALS:
    // Any state of the session changed (the library has its own signals).
    void changed();

private:
    void write(const MarkList &marks);
    void libraryChanged();
    template <typename T> void set(T &field, const T &value) {
        if (field == value)
            return;
        field = value;
        Q_EMIT changed();
    }

    CollectionStore *m_store;
    QUuid m_snipID;
    std::optional<MarkKind> m_tool;
    bool m_hand = false;
    std::optional<QUuid> m_selection;
    AnnotationHistory m_history;
    std::optional<Mark> m_textMark;
    std::optional<double> m_zoom;
    double m_visibleZoom = 1.0;
    MarkColor m_drawingColor = MarkColor::Blue;
    double m_drawingWidth = 4;
    double m_drawingBlurRadius = Mark::kDefaultBlurRadius;
    InspectorTab m_inspectorTab = InspectorTab::Layers;
    bool m_textMarker = true;
    MarkColor m_textMarkerColor = MarkColor::Yellow;
    QString m_textQuery;
    std::optional<QUuid> m_recognizedSelection;
    TextRecognitionModel *m_recognition;
    // The snip's redactions and blurs as recognition last saw them burnt in.
    MarkList m_obscuring;
};
