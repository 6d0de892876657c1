#pragma once

#include "model/Snip.h"
#include "views/LibraryState.h"
#include "views/SnipCardLayout.h"

#include <QAbstractButton>
#include <QLineEdit>
#include <QTextEdit>
#include <QWidget>

#include <optional>

class FlatButton;
class PreviewCache;
class QAction;
class QPainter;

// The image of a card: its cached thumbnail with the marks, a quiet frame until that arrives,
// or the notice that the image is missing. A click opens the mark editor.
class CardPreview : public QAbstractButton {
    Q_OBJECT

public:
    CardPreview(PreviewCache *previews, QWidget *parent = nullptr);

    // The snip to show and where its image goes (in this widget); an empty rectangle shows the
    // placeholder.
    void setContent(const Snip &snip, const QRect &imageRect);
    bool showsPlaceholder() const { return m_imageRect.isEmpty(); }
    // Whether the exact thumbnail has been painted.
    bool hasThumbnail() const { return m_exact; }
    // Stops waiting for a thumbnail (the card left the screen).
    void release();

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    void paintFace(QPainter &painter);

    PreviewCache *m_previews;
    Snip m_snip;
    QRect m_imageRect;
    bool m_exact = false;
};

// The drag source of reordering: carries the snip's id as text.
class DragHandle : public QWidget {
    Q_OBJECT

public:
    explicit DragHandle(QWidget *parent = nullptr);
    void setSnipID(const QUuid &id) { m_id = id; }
    bool isDragging() const { return m_dragging; }

protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;

private:
    QUuid m_id;
    QPoint m_pressAt;
    bool m_pressed = false;
    bool m_dragging = false;
};

// The comment field: grows with its text; its document is laid out as the card's measure says.
class CommentField : public QTextEdit {
    Q_OBJECT

public:
    explicit CommentField(QWidget *parent = nullptr);
    // Replaces the text only when it differs, keeping caret and undo history otherwise.
    void setComment(const QString &text);
    bool isUpdating() const { return m_updating; }

private:
    bool m_updating = false;
};

// One snip of the collection document: number or dot, heading, editor and remove buttons, the
// preview, the comment, the local-only notice and the count of marks. Every change goes through
// the store; the card holds nothing but what it was last given to show.
class SnipCard : public QWidget {
    Q_OBJECT

public:
    struct Content {
        Snip snip;
        int index = 0;
        int count = 1; // snips in the collection
        CollectionMode mode = CollectionMode::Steps;
        bool wide = false;
        bool compact = false;
        bool selected = false;
        std::optional<QSize> imageSize;
    };

    SnipCard(LibraryState *state, PreviewCache *previews, QWidget *parent = nullptr);

    // Shows another snip or the same one changed; the fields are written only where they differ.
    void setContent(const Content &content);
    const Content &content() const { return m_content; }
    QUuid snipID() const { return m_content.snip.id; }
    // The layout input of this content at a card width, for the document to measure.
    static SnipCardLayout::Input layoutInput(const Content &content, int width);
    static int editButtonWidth();

    // Whether the keyboard is on one of the card's controls, or a drag starts from it: such a
    // card stays while it is scrolled away.
    bool isBusy() const;
    QWidget *control(LibraryState::CardControl control) const;
    // The card left the screen: stop waiting for its thumbnail.
    void release();

    QLineEdit *headingField() const { return m_heading; }
    CommentField *commentField() const { return m_comment; }
    FlatButton *editButton() const { return m_edit; }
    FlatButton *removeButton() const { return m_remove; }
    CardPreview *preview() const { return m_preview; }
    DragHandle *handle() const { return m_handle; }
    QString badgeText() const; // "01" …; empty in notes mode, which shows a dot
    QString marksText() const; // empty without marks
    bool showsLocalOnlyNotice() const { return m_content.snip.isLocalOnly(); }
    bool isSelected() const { return m_content.selected; }
    const SnipCardLayout::Geometry &cardGeometry() const { return m_geometry; }
    // The card's controls in the order Tab visits them.
    QList<QWidget *> focusChain() const;
    // The context menu's entries as they would show now.
    QList<QAction *> contextActions(QObject *owner);

Q_SIGNALS:
    // Another snip was dropped on this card and moved in front of it.
    void snipDropped(const QUuid &id);

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;
    bool event(QEvent *event) override;
    void contextMenuEvent(QContextMenuEvent *event) override;
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dragMoveEvent(QDragMoveEvent *event) override;
    void dropEvent(QDropEvent *event) override;

private:
    void placeChildren();
    bool overTextField(const QPoint &at) const;
    void openEditor(LibraryState::CardControl from);
    void removeSnip();

    LibraryState *m_state;
    PreviewCache *m_previews;
    Content m_content;
    bool m_bound = false;
    SnipCardLayout::Geometry m_geometry;
    DragHandle *m_handle;
    QLineEdit *m_heading;
    FlatButton *m_edit;
    FlatButton *m_remove;
    CardPreview *m_preview;
    CommentField *m_comment;
};
