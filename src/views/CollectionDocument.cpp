#include "views/CollectionDocument.h"

#include "look/Theme.h"
#include "store/CollectionStore.h"
#include "views/DocumentHeader.h"
#include "views/EmptyState.h"
#include "views/LibraryState.h"
#include "views/LibraryWidgets.h"
#include "views/PreviewCache.h"

#include <QApplication>
#include <QPropertyAnimation>
#include <QScrollBar>

namespace {

constexpr int kAddNextGap = 4;
// Cards kept hidden for reuse, so scrolling rarely builds one.
constexpr int kSpareCards = 8;

} // namespace

CollectionDocument::CollectionDocument(LibraryState *state, PreviewCache *previews, QWidget *parent)
    : QScrollArea(parent), m_state(state), m_previews(previews) {
    setFrameShape(QFrame::NoFrame);
    setWidgetResizable(false);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    verticalScrollBar()->setSingleStep(40);
    // The page's fields and buttons take the keyboard; the area itself would be a stop that shows
    // nothing.
    setFocusPolicy(Qt::NoFocus);
    revealTabFocus(this);
    m_page = new QWidget;
    m_page->setAutoFillBackground(false);
    setWidget(m_page);
    viewport()->setAutoFillBackground(true);
    QPalette palette = viewport()->palette();
    palette.setColor(QPalette::Window, Theme::canvas());
    viewport()->setPalette(palette);

    m_header = new DocumentHeader(state, m_page);
    connect(m_header, &DocumentHeader::heightChanged, this, [this] { relayout(true); });
    m_empty = new EmptyState(state, m_page);
    FlatButton::Look look =
        FlatButton::Look::plain(Theme::accent(), Theme::font(13, QFont::Medium), QStringLiteral("plus"), 13);
    look.border = LibraryPaint::withAlpha(Theme::accent(), 0.25);
    look.dashedBorder = true;
    look.radius = 12;
    look.padding = QMargins(19, 19, 19, 19);
    m_addNext = new FlatButton(look, QStringLiteral("Nächsten Ausschnitt hinzufügen"), m_page);
    connect(m_addNext, &QAbstractButton::clicked, this, [this] {
        if (m_state->actions().capture)
            m_state->actions().capture();
    });
    // The page glides to a newly selected card; when the keyboard moves on out of that card
    // meanwhile, the control it reaches is brought on screen and must stay there.
    connect(qApp, &QApplication::focusChanged, this, [this](QWidget *, QWidget *now) {
        const SnipCard *target = card(m_scrollTarget);
        if (isScrolling() && now && m_page->isAncestorOf(now) && !(target && target->isAncestorOf(now)))
            m_animation->stop();
    });
    // Header sizes arrive after the first layout: place again, keeping what is on screen.
    connect(previews, &PreviewCache::sizesKnown, this, [this] {
        if (m_refreshQueued || !isVisible())
            return;
        m_refreshQueued = true;
        QMetaObject::invokeMethod(
            this,
            [this] {
                m_refreshQueued = false;
                refresh();
            },
            Qt::QueuedConnection);
    });
}

CollectionDocument::~CollectionDocument() = default;

bool CollectionDocument::isWide() const {
    return width() > SnipCardLayout::kWideThreshold;
}

int CollectionDocument::contentWidth() const {
    return std::max(1, viewport()->width() - 2 * kPadding);
}

bool CollectionDocument::isScrolling() const {
    return m_animation && m_animation->state() == QAbstractAnimation::Running;
}

void CollectionDocument::refresh() {
    const std::optional<SnipCollection> current = m_state->store()->current();
    if (!current) {
        m_collectionID.reset();
        m_entries.clear();
        m_indexOf.clear();
        placeCards();
        return;
    }
    const bool other = m_collectionID != current->id;
    m_collectionID = current->id;
    m_header->setCollection(*current);
    m_empty->refresh();
    m_addNext->setEnabled(!m_state->busy());
    rebuildEntries(*current);
    // A drop moves a card to where the pointer is; holding the card that was at the top of the
    // screen in place instead would push the moved one out of view.
    const std::optional<QUuid> dropped = std::exchange(m_dropped, std::nullopt);
    relayout(!other && !m_appearing && !dropped);
    if (dropped && !other)
        revealHeader(*dropped);

    const std::optional<QUuid> selected = m_state->store()->selectedSnipID();
    if (other || m_appearing) {
        if (other)
            verticalScrollBar()->setValue(0);
        // Appearing, the page moves only when the selected card is not on screen already.
        if (selected && m_indexOf.contains(*selected)) {
            const QRect rect = cardRect(*selected);
            const int top = verticalScrollBar()->value();
            const int bottom = top + viewport()->height();
            const bool whole = rect.top() >= top && rect.bottom() < bottom;
            const bool tallWithTopShown =
                rect.height() > viewport()->height() && rect.top() >= top && rect.top() < bottom;
            if (!whole && !tallWithTopShown)
                scrollTo(*selected, false);
        }
        m_appearing = false;
    } else if (selected && selected != m_lastSelected && m_indexOf.contains(*selected)) {
        scrollTo(*selected, true);
    }
    m_lastSelected = selected;
    placeCards();
}

void CollectionDocument::rebuildEntries(const SnipCollection &collection) {
    const bool wide = isWide();
    const bool compact = m_state->compactLayout();
    const std::optional<QUuid> selected = m_state->store()->selectedSnipID();
    const int width = contentWidth();
    QHash<QUuid, qsizetype> oldIndex = std::move(m_indexOf);
    QList<Entry> old = std::move(m_entries);
    m_entries.clear();
    m_entries.reserve(collection.items.size());
    m_indexOf.clear();
    for (qsizetype i = 0; i < collection.items.size(); ++i) {
        const Snip &snip = collection.items[i];
        if (m_indexOf.contains(snip.id))
            continue;
        Entry entry;
        entry.content.snip = snip;
        entry.content.index = int(i);
        entry.content.count = int(collection.items.size());
        entry.content.mode = collection.mode;
        entry.content.wide = wide;
        entry.content.compact = compact;
        entry.content.selected = selected == snip.id;
        entry.content.imageSize = m_previews->imageSize(snip.imageFile);
        // Measuring a comment lays out text: reuse the height while nothing it depends on changed.
        const auto before = oldIndex.constFind(snip.id);
        const Entry *previous = before == oldIndex.constEnd() ? nullptr : &old[*before];
        if (previous && previous->input.width == width && previous->content.snip.note == snip.note &&
            previous->content.wide == wide && previous->content.compact == compact) {
            entry.input = previous->input;
            entry.input.imageSize = entry.content.imageSize;
            entry.input.localOnly = snip.isLocalOnly();
            entry.input.hasMarks = !snip.marks.isEmpty();
        } else {
            entry.input = SnipCard::layoutInput(entry.content, width);
        }
        entry.height = previous && previous->input == entry.input
                           ? previous->height
                           : SnipCardLayout::compute(entry.input).height;
        m_indexOf.insert(snip.id, m_entries.size());
        m_entries.append(std::move(entry));
    }
}

void CollectionDocument::relayout(bool keepAnchor) {
    // Whatever is at the top of the screen stays there when cards above it change height.
    std::optional<QUuid> anchor;
    int anchorOffset = 0;
    const int scrollY = verticalScrollBar()->value();
    if (keepAnchor && !isScrolling()) {
        for (const auto &[id, card] : m_cards.asKeyValueRange()) {
            if (card->isVisible() && card->y() + card->height() > scrollY &&
                (!anchor || card->y() < m_cards.value(*anchor)->y())) {
                anchor = id;
            }
        }
        if (anchor)
            anchorOffset = scrollY - m_cards.value(*anchor)->y();
    }

    const int width = contentWidth();
    int y = kPadding;
    const int headerHeight = m_header->heightForWidth(width);
    m_header->setGeometry(kPadding, y, width, headerHeight);
    y += headerHeight + kSpacing;
    const bool empty = m_entries.isEmpty();
    m_empty->setVisible(empty);
    m_addNext->setVisible(!empty);
    if (empty) {
        const int h =
            m_empty->hasHeightForWidth() ? m_empty->heightForWidth(width) : m_empty->sizeHint().height();
        m_empty->setGeometry(kPadding, y, width, h);
        y += h;
    } else {
        for (Entry &entry : m_entries) {
            entry.top = y;
            y += entry.height + kSpacing;
        }
        y += kAddNextGap;
        const int h = m_addNext->sizeHint().height();
        m_addNext->setGeometry(kPadding, y, width, h);
        y += h;
    }
    y += kPadding;
    m_page->resize(viewport()->width(), y);

    if (anchor && m_indexOf.contains(*anchor))
        verticalScrollBar()->setValue(m_entries[m_indexOf.value(*anchor)].top + anchorOffset);
}

void CollectionDocument::placeCards() {
    const int viewHeight = viewport()->height();
    const int top = verticalScrollBar()->value() - viewHeight / 2;
    const int bottom = verticalScrollBar()->value() + viewHeight + viewHeight / 2;
    const int width = contentWidth();

    // The entries on screen, found by their tops, which grow down the page.
    const auto first = std::partition_point(m_entries.cbegin(), m_entries.cend(),
                                            [&](const Entry &e) { return e.top + e.height < top; });
    QSet<QUuid> wanted;
    for (auto it = first; it != m_entries.cend() && it->top <= bottom; ++it)
        wanted.insert(it->content.snip.id);

    // Cards that leave go to the spares, except one being typed in or dragged.
    for (auto it = m_cards.begin(); it != m_cards.end();) {
        SnipCard *card = it.value();
        const bool listed = m_indexOf.contains(it.key());
        if (wanted.contains(it.key()) || (listed && card->isBusy())) {
            ++it;
            continue;
        }
        card->release();
        if (card->isBusy()) {
            // Its snip is gone while its field has the focus: let the focus move on first.
            card->hide();
            card->deleteLater();
        } else if (m_spare.size() < kSpareCards) {
            card->hide();
            m_spare.append(card);
        } else {
            card->deleteLater();
        }
        it = m_cards.erase(it);
    }

    for (const auto &[id, index] : m_indexOf.asKeyValueRange()) {
        if (!wanted.contains(id) && !m_cards.contains(id))
            continue;
        const Entry &entry = m_entries[index];
        SnipCard *card = m_cards.value(id);
        if (!card) {
            if (m_spare.isEmpty()) {
                card = new SnipCard(m_state, m_previews, m_page);
                connect(card, &SnipCard::snipDropped, this, [this](const QUuid &dropped) {
                    if (m_indexOf.contains(dropped))
                        m_dropped = dropped;
                });
            } else {
                card = m_spare.takeLast();
            }
            m_cards.insert(id, card);
        }
        const QRect rect(kPadding, entry.top, width, entry.height);
        if (card->geometry() != rect)
            card->setGeometry(rect);
        card->setContent(entry.content);
        if (!card->isVisible())
            card->show();
    }
    chainFocus();
}

// Cards are built and reused in any order; Tab must still walk them as they stand on the page.
void CollectionDocument::chainFocus() {
    QList<SnipCard *> cards = m_cards.values();
    std::sort(cards.begin(), cards.end(), [](SnipCard *a, SnipCard *b) { return a->y() < b->y(); });
    QList<QWidget *> chain;
    for (SnipCard *card : std::as_const(cards))
        chain << card->focusChain();
    chain << m_addNext;
    if (chain == m_focusChain)
        return;
    m_focusChain = chain;
    // A screen reader reads the page's parts in the order of its children: they follow the page.
    for (SnipCard *card : std::as_const(cards))
        card->raise();
    m_addNext->raise();
    QWidget *previous = m_header->lastInFocusChain();
    for (QWidget *widget : std::as_const(chain)) {
        QWidget::setTabOrder(previous, widget);
        previous = widget;
    }
}

QRect CollectionDocument::cardRect(const QUuid &snipID) const {
    const auto it = m_indexOf.constFind(snipID);
    if (it == m_indexOf.constEnd())
        return {};
    const Entry &entry = m_entries[*it];
    return QRect(kPadding, entry.top, contentWidth(), entry.height);
}

SnipCard *CollectionDocument::showCard(const QUuid &snipID) {
    if (!m_indexOf.contains(snipID))
        return nullptr;
    if (m_animation)
        m_animation->stop();
    verticalScrollBar()->setValue(cardRect(snipID).top() - kPadding);
    placeCards();
    return card(snipID);
}

QWidget *CollectionDocument::revealLanding(const LibraryState::Landing &landing) {
    if (m_entries.isEmpty() || !landing.snipID)
        return nullptr;
    QUuid id = *landing.snipID;
    if (!m_indexOf.contains(id)) {
        if (landing.index < 0)
            return nullptr;
        id = m_entries[std::min<qsizetype>(landing.index, m_entries.size() - 1)].content.snip.id;
    }
    SnipCard *shown = card(id);
    if (!shown || !shown->isVisible())
        shown = showCard(id);
    if (!shown)
        return nullptr;
    if (m_animation)
        m_animation->stop();
    QWidget *control = shown->control(landing.control);
    // As little as it takes, and not at all when it is on screen already.
    ensureWidgetVisible(control, 0, kSpacing);
    return control;
}

void CollectionDocument::scrollTo(const QUuid &snipID, bool animated) {
    const QRect rect = cardRect(snipID);
    if (rect.isEmpty())
        return;
    const int viewHeight = viewport()->height();
    int target = rect.center().y() - viewHeight / 2;
    if (rect.height() > viewHeight) {
        // Centring a tall card would push the field being edited out of view: keep the caret on
        // screen instead, or the card's top when nothing in it has the focus.
        target = rect.top() - kSpacing;
        SnipCard *shown = card(snipID);
        QWidget *focus = QApplication::focusWidget();
        if (shown && focus && shown->isAncestorOf(focus)) {
            const QRect caret = focus->inputMethodQuery(Qt::ImCursorRectangle).toRect();
            const QPoint onCard =
                focus->mapTo(shown, caret.isValid() ? caret.center() : focus->rect().center());
            target = rect.top() + onCard.y() - viewHeight / 2;
        }
    }
    target = std::clamp(target, verticalScrollBar()->minimum(), verticalScrollBar()->maximum());
    if (m_animation)
        m_animation->stop();
    if (!animated || !isVisible()) {
        verticalScrollBar()->setValue(target);
        return;
    }
    m_scrollTarget = snipID;
    m_animation = new QPropertyAnimation(verticalScrollBar(), "value", this);
    m_animation->setDuration(250);
    m_animation->setEasingCurve(QEasingCurve::InOutQuad);
    m_animation->setEndValue(target);
    m_animation->start(QAbstractAnimation::DeleteWhenStopped);
}

void CollectionDocument::revealHeader(const QUuid &snipID) {
    const QRect rect = cardRect(snipID);
    if (rect.isEmpty())
        return;
    const int header = 2 * SnipCardLayout::kPadding + SnipCardLayout::kHeaderControlHeight;
    const int top = verticalScrollBar()->value();
    if (rect.top() >= top && rect.top() + header <= top + viewport()->height())
        return;
    if (m_animation)
        m_animation->stop();
    verticalScrollBar()->setValue(
        std::clamp(rect.top() - kSpacing, verticalScrollBar()->minimum(), verticalScrollBar()->maximum()));
}

void CollectionDocument::resizeEvent(QResizeEvent *event) {
    QScrollArea::resizeEvent(event);
    if (!m_collectionID)
        return;
    if (const auto current = m_state->store()->current()) {
        rebuildEntries(*current);
        relayout(true);
        placeCards();
    }
}

void CollectionDocument::showEvent(QShowEvent *event) {
    QScrollArea::showEvent(event);
    m_appearing = true;
    refresh();
}

void CollectionDocument::scrollContentsBy(int dx, int dy) {
    QScrollArea::scrollContentsBy(dx, dy);
    placeCards();
}
