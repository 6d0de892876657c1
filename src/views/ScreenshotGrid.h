#pragma once

#include "model/Snip.h"

#include <QList>
#include <QScrollArea>
#include <QUuid>

#include <optional>

class EmptyState;
class LayoutPicker;
class LibraryState;
class PreviewCache;
class QLabel;

// "3 Ausschnitte in 2 Sammlungen".
QString screenshotSummary(int snips, int collections);

// The cards of every snip of every collection, painted in one widget: a library of a thousand
// snips costs a thousand small records, not a thousand widgets.
class ScreenshotCells : public QWidget {
    Q_OBJECT

public:
    struct Item {
        QUuid collectionID;
        Snip snip;
        QString heading;
        QString collectionTitle;
        std::optional<QSize> imageSize;
    };

    ScreenshotCells(LibraryState *state, PreviewCache *previews, QWidget *parent = nullptr);

    void setItems(QList<Item> items, bool compact);
    // Lays the cells out for a width; returns the height they take.
    int arrange(int width);
    int columnCount() const { return m_columns; }
    const QList<Item> &items() const { return m_items; }
    // The cell of an item, in this widget's coordinates.
    QRect cellRect(qsizetype index) const;
    qsizetype itemAt(const QPoint &at) const;
    // Forgets the thumbnails asked for cells that scrolled away.
    void dropRequests();

    // The card the keyboard is on: the one Return or Space opens while the grid has the focus.
    // The grid is one Tab stop; arrows, Home and End move between its cards.
    qsizetype currentIndex() const { return m_current; }
    // Whether the keyboard is on the grid, or comes back to it when the window is active again.
    bool holdsKeyboard() const;
    // What a screen reader calls a card: its heading and its collection's title.
    QString accessibleName(qsizetype index) const;
    // Opens a card's snip in its collection, as a click does.
    void activate(qsizetype index);
    QVariant inputMethodQuery(Qt::InputMethodQuery query) const override;

Q_SIGNALS:
    // The current card moved; the page brings it on screen.
    void currentMoved();

protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void focusInEvent(QFocusEvent *event) override;
    void focusOutEvent(QFocusEvent *event) override;
    bool event(QEvent *event) override;

private:
    int previewHeight(const Item &item) const;
    int cellHeight(const Item &item) const;
    void setCurrent(qsizetype index);

    LibraryState *m_state;
    PreviewCache *m_previews;
    QList<Item> m_items;
    bool m_compact = false;
    int m_columns = 1;
    int m_columnWidth = 0;
    QList<int> m_rowTops;
    QList<int> m_rowHeights;
    qsizetype m_pressed = -1;
    qsizetype m_current = 0;
};

// All screenshots: title, summary, layout switch and the grid of cards; a click opens the snip
// in its collection.
class ScreenshotGrid : public QScrollArea {
    Q_OBJECT

public:
    ScreenshotGrid(LibraryState *state, PreviewCache *previews, QWidget *parent = nullptr);

    void refresh();

    QLabel *summaryLabel() const { return m_summary; }
    EmptyState *emptyState() const { return m_empty; }
    ScreenshotCells *cells() const { return m_cells; }
    LayoutPicker *layoutPicker() const { return m_picker; }

protected:
    void resizeEvent(QResizeEvent *event) override;
    void scrollContentsBy(int dx, int dy) override;

private:
    void relayout();
    // The current card in the page's coordinates; empty without cards.
    QRect currentCard() const;
    void revealCurrent();

    LibraryState *m_state;
    PreviewCache *m_previews;
    QWidget *m_page;
    QWidget *m_titleLine;
    QLabel *m_summary;
    LayoutPicker *m_picker;
    EmptyState *m_empty;
    ScreenshotCells *m_cells;
    QRect m_laidOutCurrent;
};
