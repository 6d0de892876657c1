#pragma once

#include <QImage>
#include <QList>
#include <QPointer>
#include <QUuid>
#include <QWidget>

#include <functional>
#include <memory>

class AnnotationSession;
class AnnotationTextEditor;
class AnnotationViewport;
class CollectionStore;
class LayerInspector;
class TextInspector;
class TextRecognizer;
class QLabel;
class QMenu;
class QPushButton;
class QStackedWidget;
class QToolButton;
class ToolButton;
enum class MarkKind;

// The full-window mark editor for one snip of the current collection: header, tool column, the
// zoomable canvas with its zoom bar, and the inspector. Every edit is written into the collection
// at once. `close` asks the window to leave the editor (it may delete the workspace). Errors go to
// the store's error text, which the window shows in its one "Hinweis" alert.
class AnnotationWorkspace : public QWidget {
    Q_OBJECT

public:
    AnnotationWorkspace(CollectionStore *store, const QUuid &snipID, std::function<void()> close,
                        QWidget *parent = nullptr);
    // The same with another text recogniser (tests pass a scripted one).
    AnnotationWorkspace(CollectionStore *store, const QUuid &snipID, std::function<void()> close,
                        QWidget *parent, std::function<std::unique_ptr<TextRecognizer>()> recognizer);
    ~AnnotationWorkspace() override;

    AnnotationSession *session() const { return m_session; }
    // Null until the image has arrived, and while the snip or its image is missing.
    AnnotationViewport *viewport() const { return m_viewport; }
    LayerInspector *layerInspector() const { return m_layers; }
    TextInspector *textInspector() const { return m_text; }
    // The open text form, if any.
    AnnotationTextEditor *textEditor() const;
    QList<ToolButton *> toolButtons() const;
    // The mode hint of the zoom bar.
    QString hint() const;

public Q_SLOTS:
    // The marks' history wherever the keyboard is in the editor, as on the canvas. The Edit menu
    // (Strg+Z) asks the focused control and then its parents, so a text field answers for its own
    // typing and the editor for every other control; Strg+Umschalt+Z, which has no menu item, is
    // the editor's own shortcut, which the canvas and text fields take for themselves.
    void undo();
    void redo();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void showEvent(QShowEvent *event) override;

private:
    QWidget *buildHeader();
    QWidget *buildTools();
    QWidget *buildZoomBar();
    QWidget *buildInspector();
    void showInspectorTab();
    void sessionChanged();
    void libraryChanged();
    void applyCanvas();
    void scheduleRefresh();
    void refresh();
    void requestImage();
    void syncTextEditor();
    void back();
    // Closes the editor; back() calls it once the library is saved.
    void leave();
    void toggleFullScreen();
    // The editor's keys act on the canvas, so the keyboard starts there. Until the picture has
    // arrived no control holds it: on "Zur Sammlung", where opening the editor puts it, a space
    // would close the editor again.
    void takeKeyboard();

    CollectionStore *m_store;
    AnnotationSession *m_session;
    std::function<void()> m_close;

    // NoSnip: the snip was not in the collection when the image was wanted.
    enum class ImageState { Waiting, Loaded, NoSnip, Unreadable };
    ImageState m_imageState = ImageState::Waiting;
    QImage m_image;
    bool m_refreshPending = false;
    bool m_appeared = false;
    bool m_initiallyFullScreen = false;
    bool m_leaving = false; // a save for leaving is under way
    bool m_fullScreen = false;
    QPointer<QWidget> m_watchedWindow;

    // Header
    QLabel *m_title;
    QPushButton *m_recognize;
    QLabel *m_saveState;
    QPushButton *m_fullScreenButton;
    // Tools
    ToolButton *m_select;
    ToolButton *m_hand;
    ToolButton *m_shapes;
    QMenu *m_shapeMenu;
    QList<QPair<MarkKind, ToolButton *>> m_singles;
    ToolButton *m_marker;
    QToolButton *m_undo;
    QToolButton *m_redo;
    // Centre
    QStackedWidget *m_centre;
    QWidget *m_waiting;
    QLabel *m_unavailable;
    AnnotationViewport *m_viewport = nullptr;
    QLabel *m_hint;
    QToolButton *m_zoomOut;
    QToolButton *m_zoomMenu;
    QToolButton *m_zoomIn;
    QPushButton *m_fit;
    // Inspector
    QPushButton *m_layersTab;
    QPushButton *m_textTab;
    QStackedWidget *m_pages;
    LayerInspector *m_layers;
    TextInspector *m_text;
    QPointer<AnnotationTextEditor> m_textEditor;
};
