#pragma once

#include "model/Snip.h"

#include <QUuid>
#include <QWidget>

#include <functional>
#include <optional>

class AnnotationCanvas;
class CollectionStore;
class ImageShareStore;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QScrollArea;
class QToolButton;
class ShareControls;
class SnipStrip;

// The capture panel's view: the collection being filled and, large and read-only, the snip the
// panel shows; a strip to pick another snip, its title and note, where the next capture goes,
// the round's buttons and the store's status line. Below 500 px of height the strip and the note
// make room for the picture. Every change goes through the store.
class CollectionPanelView : public QWidget {
    Q_OBJECT

public:
    static constexpr int kCompactBelowHeight = 500;

    CollectionPanelView(CollectionStore *store, ImageShareStore *sharing, std::function<void()> capture,
                        std::function<void()> openEditor, std::function<void()> finish,
                        std::function<void()> pause, QWidget *parent = nullptr);
    ~CollectionPanelView() override;

    bool isCompact() const { return m_compact; }

protected:
    bool event(QEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void showEvent(QShowEvent *event) override;

private:
    void scheduleRefresh();
    void refresh();
    void showSnip(const std::optional<Snip> &snip);
    void layoutPreview();
    void fillDestinationMenu();
    void setCompact(bool compact);
    // Keys typed into the panel reach a field that takes them, or nothing: never a control that a
    // space or Return would press by accident.
    void parkFocus();

    CollectionStore *m_store;
    std::function<void()> m_capture;
    std::function<void()> m_pause;
    bool m_refreshPending = false;
    bool m_compact = false;

    QLabel *m_heading;
    QLabel *m_detail;
    QToolButton *m_destination;
    QWidget *m_previewFrame;
    AnnotationCanvas *m_canvas;
    QLabel *m_placeholder;
    QPushButton *m_openEditor;
    QScrollArea *m_stripArea;
    SnipStrip *m_strip;
    QLineEdit *m_title;
    QWidget *m_noteRow;
    QPlainTextEdit *m_note;
    ShareControls *m_share;
    QPushButton *m_primary;
    QPushButton *m_secondary;
    QPushButton *m_finish;
    QLabel *m_status;

    // What the fields show, so edits go to the snip they were typed for.
    QUuid m_collectionID;
    QUuid m_snipID;
    QUuid m_stripScrolledTo;
    QString m_previewFile;
    QSize m_imageSize;
};
