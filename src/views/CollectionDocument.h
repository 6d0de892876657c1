#pragma once

#include "views/SnipCard.h"

#include <QHash>
#include <QList>
#include <QPointer>
#include <QScrollArea>
#include <QUuid>

#include <optional>

class DocumentHeader;
class EmptyState;
class FlatButton;
class LibraryState;
class PreviewCache;
class QPropertyAnimation;

// The current collection as one scrolling page: the header, a card per snip and the button for
// the next capture. Every card's height is known without building it, so only the cards on
// screen (and one whose field has the focus) exist; they are kept per snip id while they stay.
class CollectionDocument : public QScrollArea {
    Q_OBJECT

public:
    static constexpr int kPadding = 28;
    static constexpr int kSpacing = 20;

    CollectionDocument(LibraryState *state, PreviewCache *previews, QWidget *parent = nullptr);
    ~CollectionDocument() override;

    // Follows the store; compares before it writes. Call when the store or the view state changed.
    void refresh();

    // Whether cards lay preview and comment side by side at the current width.
    bool isWide() const;
    DocumentHeader *header() const { return m_header; }
    EmptyState *emptyState() const { return m_empty; }
    FlatButton *addNextButton() const { return m_addNext; }
    // The card of a snip if it is built (on screen or holding the focus), else null.
    SnipCard *card(const QUuid &snipID) const { return m_cards.value(snipID); }
    QList<SnipCard *> builtCards() const { return m_cards.values(); }
    // Where a snip's card lies on the page; empty when the snip is not listed.
    QRect cardRect(const QUuid &snipID) const;
    // Scrolls the card on screen at once and builds it.
    SnipCard *showCard(const QUuid &snipID);
    // The control a landing names, brought on screen at once; when its snip has gone, the same
    // control of the card now at its place, else of the one before. Null without cards.
    QWidget *revealLanding(const LibraryState::Landing &landing);
    // Whether a scroll animation runs.
    bool isScrolling() const;

protected:
    void resizeEvent(QResizeEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void scrollContentsBy(int dx, int dy) override;

private:
    struct Entry {
        SnipCard::Content content;
        SnipCardLayout::Input input;
        int height = 0;
        int top = 0;
    };
    void rebuildEntries(const SnipCollection &collection);
    void relayout(bool keepAnchor);
    void placeCards();
    void chainFocus();
    void scrollTo(const QUuid &snipID, bool animated);
    void revealHeader(const QUuid &snipID);
    int contentWidth() const;

    LibraryState *m_state;
    PreviewCache *m_previews;
    QWidget *m_page;
    DocumentHeader *m_header;
    EmptyState *m_empty;
    FlatButton *m_addNext;
    QList<Entry> m_entries;
    QHash<QUuid, qsizetype> m_indexOf;
    QHash<QUuid, SnipCard *> m_cards;
    QList<SnipCard *> m_spare;
    QList<QWidget *> m_focusChain;
    std::optional<QUuid> m_collectionID;
    std::optional<QUuid> m_lastSelected;
    std::optional<QUuid> m_dropped;
    bool m_appearing = true;
    bool m_refreshQueued = false;
    QPointer<QPropertyAnimation> m_animation;
    QUuid m_scrollTarget;
};
