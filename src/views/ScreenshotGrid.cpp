#include "views/ScreenshotGrid.h"

#include "look/ElidedText.h"
#include "look/FocusFrame.h"
#include "look/Icons.h"
#include "look/TextDirection.h"
#include "look/Theme.h"
#include "store/CollectionStore.h"
#include "views/EmptyState.h"
#include "views/LibraryState.h"
#include "views/LibraryWidgets.h"
#include "views/PreviewCache.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QHBoxLayout>
#include <QHelpEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPointer>
#include <QScrollBar>
#include <QToolTip>

namespace {

constexpr int kPagePadding = 30;
constexpr int kPageSpacing = 20;
constexpr int kGap = 16;
constexpr int kCellPadding = 14;
constexpr int kCellSpacing = 10;
constexpr int kMissingHeight = 100;

QFont headingFont() {
    return Theme::font(14, QFont::Medium);
}

QFont titleFont() {
    return Theme::font(12);
}

const QString kCardHelp = QStringLiteral("In Sammlung öffnen");

// One painted card as an accessible button; it reads the grid's items live, by position.
class CardAccessible : public QAccessibleInterface, public QAccessibleActionInterface {
public:
    CardAccessible(ScreenshotCells *cells, int index) : m_cells(cells), m_index(index) {}

    int index() const { return m_index; }
    bool isValid() const override { return m_cells && m_index < m_cells->items().size(); }
    QObject *object() const override { return nullptr; }
    QWindow *window() const override { return m_cells ? m_cells->window()->windowHandle() : nullptr; }
    QAccessibleInterface *parent() const override { return QAccessible::queryAccessibleInterface(m_cells); }
    QAccessibleInterface *child(int) const override { return nullptr; }
    int childCount() const override { return 0; }
    int indexOfChild(const QAccessibleInterface *) const override { return -1; }
    QAccessibleInterface *childAt(int, int) const override { return nullptr; }
    QAccessible::Role role() const override { return QAccessible::Button; }
    void setText(QAccessible::Text, const QString &) override {}

    QString text(QAccessible::Text type) const override {
        if (!isValid())
            return {};
        if (type == QAccessible::Name)
            return m_cells->accessibleName(m_index);
        if (type == QAccessible::Description)
            return kCardHelp;
        return {};
    }

    QRect rect() const override {
        if (!isValid())
            return {};
        const QRect cell = m_cells->cellRect(m_index);
        return QRect(m_cells->mapToGlobal(cell.topLeft()), cell.size());
    }

    QAccessible::State state() const override {
        QAccessible::State state;
        if (!isValid()) {
            state.invalid = true;
            return state;
        }
        state.focusable = true;
        state.focused = m_cells->hasFocus() && m_cells->currentIndex() == m_index;
        state.offscreen = !m_cells->visibleRegion().intersects(m_cells->cellRect(m_index));
        return state;
    }

    void *interface_cast(QAccessible::InterfaceType type) override {
        return type == QAccessible::ActionInterface ? static_cast<QAccessibleActionInterface *>(this)
                                                    : nullptr;
    }
    QStringList actionNames() const override { return {pressAction()}; }
    void doAction(const QString &name) override {
        if (isValid() && name == pressAction())
            m_cells->activate(m_index);
    }
    QStringList keyBindingsForAction(const QString &) const override { return {}; }

private:
    QPointer<ScreenshotCells> m_cells;
    int m_index;
};

// The grid as a group of card buttons. The cards are made when asked for, and live as long as
// the grid.
class CellsAccessible : public QAccessibleWidget {
public:
    explicit CellsAccessible(ScreenshotCells *cells) : QAccessibleWidget(cells, QAccessible::Grouping) {}
    ~CellsAccessible() override {
        for (const QAccessible::Id id : std::as_const(m_cards))
            QAccessible::deleteAccessibleInterface(id);
    }

    int childCount() const override { return int(cells()->items().size()); }

    QAccessibleInterface *child(int index) const override {
        if (index < 0 || index >= childCount())
            return nullptr;
        if (const auto it = m_cards.constFind(index); it != m_cards.cend())
            return QAccessible::accessibleInterface(*it);
        auto *card = new CardAccessible(cells(), index);
        m_cards.insert(index, QAccessible::registerAccessibleInterface(card));
        return card;
    }

    int indexOfChild(const QAccessibleInterface *child) const override {
        const auto *card = dynamic_cast<const CardAccessible *>(child);
        return card && card->isValid() && card->parent() == this ? card->index() : -1;
    }

    QAccessibleInterface *childAt(int x, int y) const override {
        return child(int(cells()->itemAt(cells()->mapFromGlobal(QPoint(x, y)))));
    }

    QAccessibleInterface *focusChild() const override {
        return cells()->hasFocus() ? child(int(cells()->currentIndex())) : nullptr;
    }

private:
    ScreenshotCells *cells() const { return static_cast<ScreenshotCells *>(widget()); }

    mutable QHash<int, QAccessible::Id> m_cards;
};

QAccessibleInterface *cellsAccessible(const QString &key, QObject *object) {
    if (key == QLatin1String("ScreenshotCells"))
        if (auto *cells = qobject_cast<ScreenshotCells *>(object))
            return new CellsAccessible(cells);
    return nullptr;
}

} // namespace

QString screenshotSummary(int snips, int collections) {
    return QString::number(snips) +
           (snips == 1 ? QStringLiteral(" Ausschnitt") : QStringLiteral(" Ausschnitte")) +
           QStringLiteral(" in ") + QString::number(collections) +
           (collections == 1 ? QStringLiteral(" Sammlung") : QStringLiteral(" Sammlungen"));
}

// ---- ScreenshotCells ----

ScreenshotCells::ScreenshotCells(LibraryState *state, PreviewCache *previews, QWidget *parent)
    : QWidget(parent), m_state(state), m_previews(previews) {
    static const bool accessible = [] {
        QAccessible::installFactory(cellsAccessible);
        return true;
    }();
    Q_UNUSED(accessible);
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::NoFocus);
    connect(previews, &PreviewCache::thumbnailReady, this, [this] { update(); });
}

void ScreenshotCells::setItems(QList<Item> items, bool compact) {
    // The current card stays on its snip wherever that moved; when the snip went, on the card
    // that took its place.
    qsizetype current = m_current;
    if (m_current >= 0 && m_current < m_items.size()) {
        const Item &was = m_items[m_current];
        const auto same = std::find_if(items.cbegin(), items.cend(), [&](const Item &item) {
            return item.snip.id == was.snip.id && item.collectionID == was.collectionID;
        });
        if (same != items.cend())
            current = same - items.cbegin();
    }
    m_items = std::move(items);
    m_compact = compact;
    m_current = std::clamp<qsizetype>(current, 0, std::max<qsizetype>(0, m_items.size() - 1));
    // One Tab stop for all cards, as a button takes it; without cards there is nothing to stop at.
    setFocusPolicy(m_items.isEmpty() ? Qt::NoFocus : Qt::TabFocus);
    update();
}

bool ScreenshotCells::holdsKeyboard() const {
    return !m_items.isEmpty() && window()->focusWidget() == this;
}

QString ScreenshotCells::accessibleName(qsizetype index) const {
    if (index < 0 || index >= m_items.size())
        return {};
    const Item &item = m_items[index];
    return item.collectionTitle.isEmpty() ? item.heading
                                          : item.heading + QStringLiteral(", ") + item.collectionTitle;
}

void ScreenshotCells::activate(qsizetype index) {
    if (index < 0 || index >= m_items.size())
        return;
    const Item item = m_items[index];
    m_state->openSnipInCollection(item.collectionID, item.snip.id);
}

void ScreenshotCells::setCurrent(qsizetype index) {
    if (m_items.isEmpty())
        return;
    index = std::clamp<qsizetype>(index, 0, m_items.size() - 1);
    if (index != m_current) {
        update(cellRect(m_current));
        m_current = index;
    }
    update(cellRect(m_current));
    Q_EMIT currentMoved();
    if (hasFocus() && QAccessible::isActive()) {
        QAccessibleEvent event(this, QAccessible::Focus);
        event.setChild(int(m_current));
        QAccessible::updateAccessibility(&event);
    }
}

QVariant ScreenshotCells::inputMethodQuery(Qt::InputMethodQuery query) const {
    // The scroll area brings this rectangle on screen when the focus arrives by Tab.
    if (query == Qt::ImCursorRectangle && !m_items.isEmpty())
        return cellRect(m_current);
    return QWidget::inputMethodQuery(query);
}

void ScreenshotCells::keyPressEvent(QKeyEvent *event) {
    if (const qsizetype next = steppedItem(event, m_current, m_items.size(), m_columns); next >= 0) {
        setCurrent(next);
        return;
    }
    const int key = event->key();
    if (!m_items.isEmpty() && !(event->modifiers() & ~Qt::KeypadModifier) &&
        (key == Qt::Key_Return || key == Qt::Key_Enter || key == Qt::Key_Space)) {
        activate(m_current);
        return;
    }
    QWidget::keyPressEvent(event);
}

void ScreenshotCells::focusInEvent(QFocusEvent *event) {
    // The keyboard comes back to the card it left; the scroll area brings that on screen.
    QWidget::focusInEvent(event);
    update(cellRect(m_current));
}

void ScreenshotCells::focusOutEvent(QFocusEvent *event) {
    QWidget::focusOutEvent(event);
    update(cellRect(m_current));
}

int ScreenshotCells::previewHeight(const Item &item) const {
    if (item.imageSize && !item.imageSize->isValid())
        return kMissingHeight;
    return m_compact ? 100 : 150;
}

int ScreenshotCells::cellHeight(const Item &item) const {
    return kCellPadding + previewHeight(item) + kCellSpacing + QFontMetrics(headingFont()).height() +
           kCellSpacing + QFontMetrics(titleFont()).height() + kCellPadding;
}

int ScreenshotCells::arrange(int width) {
    const int minimum = m_compact ? 180 : 260;
    m_columns = std::max(1, (width + kGap) / (minimum + kGap));
    m_columnWidth = std::max(1, (width - kGap * (m_columns - 1)) / m_columns);
    m_rowTops.clear();
    m_rowHeights.clear();
    int y = 0;
    for (qsizetype start = 0; start < m_items.size(); start += m_columns) {
        int height = 0;
        for (qsizetype i = start; i < std::min(m_items.size(), start + m_columns); ++i)
            height = std::max(height, cellHeight(m_items[i]));
        if (!m_rowTops.isEmpty())
            y += kGap;
        m_rowTops.append(y);
        m_rowHeights.append(height);
        y += height;
    }
    return y;
}

QRect ScreenshotCells::cellRect(qsizetype index) const {
    if (index < 0 || index >= m_items.size() || m_columns < 1)
        return {};
    const qsizetype row = index / m_columns;
    const int column = int(index % m_columns);
    if (row >= m_rowTops.size())
        return {};
    const int height = cellHeight(m_items[index]);
    return QRect(column * (m_columnWidth + kGap), m_rowTops[row] + (m_rowHeights[row] - height) / 2,
                 m_columnWidth, height);
}

qsizetype ScreenshotCells::itemAt(const QPoint &at) const {
    const auto row = std::upper_bound(m_rowTops.cbegin(), m_rowTops.cend(), at.y()) - m_rowTops.cbegin() - 1;
    if (row < 0)
        return -1;
    const int column = at.x() / (m_columnWidth + kGap);
    if (column >= m_columns)
        return -1;
    const qsizetype index = row * m_columns + column;
    return cellRect(index).contains(at) ? index : -1;
}

void ScreenshotCells::dropRequests() {
    m_previews->drop(this);
}

void ScreenshotCells::paintEvent(QPaintEvent *event) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::TextAntialiasing);
    const QRect area = event->rect();
    const qreal ratio = devicePixelRatioF();
    const QFont heading = headingFont();
    const QFont title = titleFont();
    const QFontMetrics headingMetrics(heading);
    const QFontMetrics titleMetrics(title);
    const auto firstRow =
        std::upper_bound(m_rowTops.cbegin(), m_rowTops.cend(), area.top()) - m_rowTops.cbegin() - 1;
    for (qsizetype row = std::max<qsizetype>(0, firstRow);
         row < m_rowTops.size() && m_rowTops[row] <= area.bottom(); ++row) {
        for (qsizetype i = row * m_columns; i < std::min(m_items.size(), (row + 1) * m_columns); ++i) {
            const Item &item = m_items[i];
            const QRect cell = cellRect(i);
            if (!cell.intersects(area))
                continue;
            LibraryPaint::roundedPanel(painter, QRectF(cell), 12, Theme::surface(), Theme::hairline());
            const QRect inner = cell.adjusted(kCellPadding, kCellPadding, -kCellPadding, -kCellPadding);
            const QRect preview(inner.left(), inner.top(), inner.width(), previewHeight(item));
            if (item.imageSize && !item.imageSize->isValid()) {
                const QString text = QStringLiteral("Bild nicht verfügbar");
                const QFont font = Theme::font(13);
                const int width = 15 + 6 + QFontMetrics(font).horizontalAdvance(text);
                const int x = preview.left() + (preview.width() - width) / 2;
                painter.drawPixmap(
                    QPointF(x, preview.center().y() - 7.5),
                    symbolPixmap(QStringLiteral("photo"), QSize(15, 15), Theme::secondaryInk(), ratio));
                painter.setFont(font);
                painter.setPen(Theme::secondaryInk());
                painter.drawText(QRect(x + 21, preview.top(), width - 21, preview.height()),
                                 Qt::AlignLeft | Qt::AlignVCenter, text);
            } else {
                const QSize image = item.imageSize.value_or(QSize(16, 9));
                const QSize fitted =
                    image.scaled(preview.size(), Qt::KeepAspectRatio).expandedTo(QSize(1, 1));
                const QRect target(preview.left() + (preview.width() - fitted.width()) / 2,
                                   preview.top() + (preview.height() - fitted.height()) / 2, fitted.width(),
                                   fitted.height());
                const QSize box(int(std::lround(target.width() * ratio)),
                                int(std::lround(target.height() * ratio)));
                const PreviewCache::Lookup found =
                    item.imageSize ? m_previews->thumbnail(item.snip, box, this) : PreviewCache::Lookup{};
                if (found.image.isNull()) {
                    painter.fillRect(target, LibraryPaint::withAlpha(Theme::hairline(), 0.6));
                } else {
                    painter.setRenderHint(QPainter::SmoothPixmapTransform, !found.exact);
                    painter.drawImage(QRectF(target), found.image);
                }
            }
            int y = preview.bottom() + 1 + kCellSpacing;
            painter.setFont(heading);
            painter.setPen(Theme::ink());
            painter.drawText(QRect(inner.left(), y, inner.width(), headingMetrics.height()), Qt::AlignLeft,
                             Elide::line(item.heading, heading, inner.width()));
            y += headingMetrics.height() + kCellSpacing;
            painter.setFont(title);
            painter.setPen(Theme::secondaryInk());
            painter.drawText(QRect(inner.left(), y, inner.width(), titleMetrics.height()), Qt::AlignLeft,
                             Elide::line(item.collectionTitle, title, inner.width()));
            if (i == m_current && hasFocus())
                FocusFrame::paint(painter, QRectF(cell), 12);
        }
    }
}

void ScreenshotCells::mousePressEvent(QMouseEvent *event) {
    m_pressed = event->button() == Qt::LeftButton ? itemAt(event->position().toPoint()) : -1;
    // The pressed card becomes the current one where it stands: moving the page now would put
    // another card under the release.
    if (m_pressed >= 0) {
        update(cellRect(m_current));
        m_current = m_pressed;
        update(cellRect(m_current));
    }
}

void ScreenshotCells::mouseReleaseEvent(QMouseEvent *event) {
    const qsizetype index = itemAt(event->position().toPoint());
    const qsizetype pressed = std::exchange(m_pressed, -1);
    if (event->button() == Qt::LeftButton && index == pressed)
        activate(index);
}

bool ScreenshotCells::event(QEvent *event) {
    if (event->type() == QEvent::ToolTip) {
        auto *help = static_cast<QHelpEvent *>(event);
        const qsizetype index = itemAt(help->pos());
        if (index >= 0)
            QToolTip::showText(help->globalPos(), kCardHelp, this, cellRect(index));
        else
            QToolTip::hideText();
        return true;
    }
    return QWidget::event(event);
}

// ---- ScreenshotGrid ----

ScreenshotGrid::ScreenshotGrid(LibraryState *state, PreviewCache *previews, QWidget *parent)
    : QScrollArea(parent), m_state(state), m_previews(previews) {
    // The cards and the layout switch take the keyboard; the area itself would be a stop that
    // shows nothing.
    setFocusPolicy(Qt::NoFocus);
    revealTabFocus(this);
    setFrameShape(QFrame::NoFrame);
    setWidgetResizable(false);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    verticalScrollBar()->setSingleStep(40);
    viewport()->setAutoFillBackground(true);
    QPalette palette = viewport()->palette();
    palette.setColor(QPalette::Window, Theme::canvas());
    viewport()->setPalette(palette);
    m_page = new QWidget;
    setWidget(m_page);

    m_titleLine = new QWidget(m_page);
    auto *titleLayout = new QHBoxLayout(m_titleLine);
    titleLayout->setContentsMargins(0, 0, 0, 0);
    titleLayout->addWidget(makeLabel(QStringLiteral("Alle Screenshots"), Theme::font(30, QFont::DemiBold),
                                     Theme::ink(), m_titleLine));
    titleLayout->addStretch(1);
    m_picker = new LayoutPicker(state, m_titleLine);
    titleLayout->addWidget(m_picker);
    m_summary = makeLabel(QString(), Theme::font(14), Theme::secondaryInk(), m_page);
    m_empty = new EmptyState(state, m_page);
    m_cells = new ScreenshotCells(state, previews, m_page);
    connect(m_cells, &ScreenshotCells::currentMoved, this, &ScreenshotGrid::revealCurrent);
    connect(previews, &PreviewCache::sizesKnown, this, [this] {
        if (isVisible())
            refresh();
    });
}

void ScreenshotGrid::refresh() {
    const QList<SnipCollection> &collections = m_state->store()->collections();
    QList<ScreenshotCells::Item> items;
    for (const SnipCollection &collection : collections) {
        for (qsizetype i = 0; i < collection.items.size(); ++i) {
            const Snip &snip = collection.items[i];
            // The title keeps its own direction inside the heading, so "1. " stays in front of a
            // right-to-left title and its punctuation beside it.
            Snip shown = snip;
            shown.title = TextDirection::isolated(snip.title.trimmed());
            items.append({collection.id, snip, shown.heading(i, collection.mode), collection.title,
                          m_previews->imageSize(snip.imageFile)});
        }
    }
    const int total = int(items.size());
    m_summary->setText(screenshotSummary(total, int(collections.size())));
    m_empty->setVisible(total == 0);
    m_empty->refresh();
    m_picker->refresh();
    m_cells->setItems(std::move(items), m_state->compactLayout());
    relayout();
}

void ScreenshotGrid::relayout() {
    const int width = std::max(1, viewport()->width() - 2 * kPagePadding);
    int y = kPagePadding;
    const int titleHeight = m_titleLine->sizeHint().height();
    m_titleLine->setGeometry(kPagePadding, y, width, titleHeight);
    y += titleHeight + kPageSpacing;
    const int summaryHeight = m_summary->sizeHint().height();
    m_summary->setGeometry(kPagePadding, y, width, summaryHeight);
    y += summaryHeight + kPageSpacing;
    if (m_empty->isVisibleTo(m_page)) {
        const int emptyHeight = m_empty->heightForWidth(width);
        m_empty->setGeometry(kPagePadding, y, width, emptyHeight);
        y += emptyHeight + kPageSpacing;
    }
    const int cellsHeight = m_cells->arrange(width);
    m_cells->setGeometry(kPagePadding, y, width, cellsHeight);
    y += cellsHeight + kPagePadding;
    m_page->resize(viewport()->width(), y);
    // A change of the library or of the width moves the card the keyboard is on: it stays in view.
    const QRect current = currentCard();
    if (current != std::exchange(m_laidOutCurrent, current) && m_cells->holdsKeyboard())
        revealCurrent();
}

QRect ScreenshotGrid::currentCard() const {
    const QRect cell = m_cells->cellRect(m_cells->currentIndex());
    return cell.isEmpty() ? QRect() : cell.translated(m_cells->pos());
}

void ScreenshotGrid::revealCurrent() {
    const QRect cell = currentCard();
    if (cell.isEmpty())
        return;
    ensureVisible(cell.center().x(), cell.center().y(), cell.width() / 2 + kGap, cell.height() / 2 + kGap);
}

void ScreenshotGrid::resizeEvent(QResizeEvent *event) {
    QScrollArea::resizeEvent(event);
    relayout();
}

void ScreenshotGrid::scrollContentsBy(int dx, int dy) {
    // Thumbnails asked for cells that left the screen are not made any more.
    m_cells->dropRequests();
    QScrollArea::scrollContentsBy(dx, dy);
    m_cells->update();
}
