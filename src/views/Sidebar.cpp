#include "views/Sidebar.h"

#include "account/AccountStore.h"
#include "backup/CloudBackupStore.h"
#include "look/ElidedText.h"
#include "look/FocusFrame.h"
#include "look/Icons.h"
#include "look/Theme.h"
#include "store/CollectionStore.h"
#include "views/LibraryState.h"
#include "views/LibraryWidgets.h"

#include <QAction>
#include <QLabel>
#include <QMenu>
#include <QPainter>
#include <QScrollArea>
#include <QVBoxLayout>

namespace {

constexpr int kRowHeight = 46;

std::optional<SnipCollection> collectionWithID(const CollectionStore *store, const QUuid &id) {
    for (const SnipCollection &c : store->collections()) {
        if (c.id == id)
            return c;
    }
    return std::nullopt;
}

QString rowTitle(const SnipCollection &collection) {
    return collection.title.isEmpty() ? QStringLiteral("Ohne Titel") : collection.title;
}

QString rowSymbol(CollectionMode mode) {
    return mode == CollectionMode::Steps ? QStringLiteral("folder") : QStringLiteral("square.grid.2x2");
}

// A symbol in the accent beside a semibold line over a secondary one; the whole rectangle clicks.
struct TwoLineButton {
    PanelButton *button;
    QLabel *title;
    QLabel *detail;
};

TwoLineButton makeTwoLineButton(QWidget *parent, const QString &symbol, int symbolSize, QMargins margins,
                                int spacing, int lineSpacing) {
    auto *button = new PanelButton(parent);
    auto *layout = new QHBoxLayout(button);
    layout->setContentsMargins(margins);
    layout->setSpacing(spacing);
    auto *icon = new SymbolLabel(symbol, symbolSize, Theme::accent(), button);
    auto *lines = new QVBoxLayout;
    lines->setSpacing(lineSpacing);
    QLabel *title = makeElidedLabel(QString(), Theme::font(13, QFont::DemiBold), Theme::ink(), button);
    QLabel *detail = makeElidedLabel(QString(), Theme::font(12), Theme::secondaryInk(), button);
    for (QWidget *child :
         {static_cast<QWidget *>(icon), static_cast<QWidget *>(title), static_cast<QWidget *>(detail)})
        button->adopt(child);
    lines->addWidget(title);
    lines->addWidget(detail);
    layout->addWidget(icon);
    layout->addLayout(lines, 1);
    return {button, title, detail};
}

} // namespace

NavigationRow::NavigationRow(QWidget *parent) : QAbstractButton(parent) {
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::TabFocus);
    setCheckable(true);
    setMinimumHeight(kRowHeight);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

void NavigationRow::setContent(const QString &title, const QString &symbol, int count, bool selected) {
    if (text() == title && m_symbol == symbol && m_count == count && m_selected == selected)
        return;
    setText(title);
    setToolTip(title);
    setAccessibleName(title);
    m_symbol = symbol;
    m_count = count;
    m_selected = selected;
    setChecked(selected);
    update();
}

QSize NavigationRow::sizeHint() const {
    return QSize(200, kRowHeight);
}

QSize NavigationRow::minimumSizeHint() const {
    return QSize(80, kRowHeight);
}

bool NavigationRow::showsFocusOutline() const {
    return hasFocus();
}

void NavigationRow::paintEvent(QPaintEvent *) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::TextAntialiasing);
    const QColor foreground = m_selected ? Theme::accent() : Theme::ink();
    if (m_selected)
        LibraryPaint::roundedPanel(painter, QRectF(rect()), 7,
                                   LibraryPaint::withAlpha(Theme::accent(), 0.09));
    const QRect content = rect().adjusted(10, 0, -10, 0);
    // Symbol in a 22-point frame.
    const int symbolSize = 17;
    painter.drawPixmap(
        QPointF(content.left() + (22 - symbolSize) / 2.0, (height() - symbolSize) / 2.0),
        symbolPixmap(m_symbol, QSize(symbolSize, symbolSize), foreground, devicePixelRatioF()));

    // Badge at the right.
    const QFont badgeFont = Theme::font(12, QFont::Medium);
    const QFontMetrics badgeMetrics(badgeFont);
    const QString number = QString::number(m_count);
    const int badgeWidth = std::max(22, badgeMetrics.horizontalAdvance(number) + 10);
    const int badgeHeight = badgeMetrics.height() + 6;
    const QRectF badge(content.right() + 1 - badgeWidth, (height() - badgeHeight) / 2.0, badgeWidth,
                       badgeHeight);
    LibraryPaint::roundedPanel(painter, badge, 4,
                               m_selected ? LibraryPaint::withAlpha(Qt::white, 0.8) : Theme::canvas());
    painter.setFont(badgeFont);
    painter.setPen(foreground);
    painter.drawText(badge, Qt::AlignCenter, number);

    // Title between them, at most two lines.
    const QFont titleFont = Theme::font(14, m_selected ? QFont::DemiBold : QFont::Normal);
    const int left = content.left() + 22 + 10;
    const int width = int(badge.left()) - 2 - left;
    const QStringList lines = Elide::lines(text(), titleFont, std::max(1, width), 2);
    const QFontMetrics metrics(titleFont);
    painter.setFont(titleFont);
    const int lineHeight = metrics.height();
    int y = (height() - lineHeight * int(lines.size())) / 2;
    for (const QString &line : lines) {
        painter.drawText(QRect(left, y, width, lineHeight), Qt::AlignLeft | Qt::AlignVCenter, line);
        y += lineHeight;
    }
    if (showsFocusOutline())
        FocusFrame::paint(painter, QRectF(rect()), 7);
}

Sidebar::Sidebar(LibraryState *state, QWidget *parent) : QWidget(parent), m_state(state) {
    setAutoFillBackground(true);
    QPalette palette = this->palette();
    palette.setColor(QPalette::Window, Theme::surface());
    setPalette(palette);

    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);

    // Brand header, as high as the toolbar beside it.
    auto *brand = new QWidget(this);
    brand->setFixedHeight(72);
    auto *brandLayout = new QHBoxLayout(brand);
    brandLayout->setContentsMargins(22, 0, 22, 0);
    brandLayout->setSpacing(10);
    auto *logo = new QLabel(brand);
    logo->setPixmap(symbolIcon(QStringLiteral("VellumboxLogo")).pixmap(QSize(42, 42), devicePixelRatioF()));
    logo->setFixedSize(42, 42);
    brandLayout->addWidget(logo);
    brandLayout->addWidget(
        makeLabel(QStringLiteral("vellumbox"), Theme::font(23, QFont::DemiBold), Theme::ink(), brand));
    brandLayout->addStretch();
    column->addWidget(brand);
    column->addWidget(new Divider(Qt::Horizontal, this));

    // Navigation.
    auto *navigation = new QVBoxLayout;
    navigation->setContentsMargins(14, 14, 14, 14);
    navigation->setSpacing(18);
    FlatButton::Look newLook =
        FlatButton::Look::plain(Theme::ink(), Theme::font(14, QFont::DemiBold), QStringLiteral("plus"));
    newLook.background = Theme::surface();
    newLook.border = Theme::hairline();
    newLook.radius = 7;
    m_newCollection = new FlatButton(newLook, QStringLiteral("Neue Sammlung"), this);
    m_newCollection->setFixedHeight(42);
    connect(m_newCollection, &QAbstractButton::clicked, this, [this] {
        m_state->setShowingAll(false);
        m_state->store()->newCollection();
    });
    navigation->addWidget(m_newCollection);

    m_allRow = new NavigationRow(this);
    connect(m_allRow, &QAbstractButton::clicked, this, [this] {
        m_state->setShowingAll(true);
        refresh();
    });
    navigation->addWidget(m_allRow);

    auto *section = new QHBoxLayout;
    section->setContentsMargins(10, 0, 10, 0);
    QFont sectionFont = Theme::font(11, QFont::DemiBold);
    sectionFont.setLetterSpacing(QFont::AbsoluteSpacing, 1);
    section->addWidget(makeLabel(QStringLiteral("SAMMLUNGEN"), sectionFont, Theme::secondaryInk(), this));
    section->addStretch();
    const QFont countFont = Theme::font(12);
    m_sectionCount = makeLabel(QStringLiteral("0"), countFont, Theme::secondaryInk(), this);
    section->addWidget(m_sectionCount);
    navigation->addLayout(section);

    m_listArea = new QScrollArea(this);
    m_listArea->setFrameShape(QFrame::NoFrame);
    m_listArea->setWidgetResizable(true);
    m_listArea->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    // The rows take the keyboard; the area around them would be a stop that shows nothing.
    m_listArea->setFocusPolicy(Qt::NoFocus);
    revealTabFocus(m_listArea);
    m_list = new QWidget(m_listArea);
    m_list->setAutoFillBackground(true);
    m_list->setPalette(palette);
    m_listLayout = new QVBoxLayout(m_list);
    m_listLayout->setContentsMargins(0, 0, 0, 0);
    m_listLayout->setSpacing(5);
    m_listLayout->addStretch();
    m_listArea->setWidget(m_list);
    navigation->addWidget(m_listArea, 1);
    column->addLayout(navigation, 1);
    column->addWidget(new Divider(Qt::Horizontal, this));

    // Quick capture.
    const TwoLineButton quick =
        makeTwoLineButton(this, QStringLiteral("camera.viewfinder"), 22, QMargins(20, 20, 20, 20), 12, 5);
    quick.title->setText(QStringLiteral("Schnelle Aufnahme"));
    quick.detail->setText(QStringLiteral("Strg+Umschalt+Leertaste"));
    quick.button->setAccessibleName(quick.title->text());
    quick.button->setAccessibleDescription(quick.detail->text());
    connect(quick.button, &QAbstractButton::clicked, this, [this] {
        if (m_state->actions().quickCapture)
            m_state->actions().quickCapture();
    });
    m_quickCapture = quick.button;
    column->addWidget(quick.button);

    FlatButton::Look cloudLook =
        FlatButton::Look::plain(Theme::ink(), Theme::font(13, QFont::DemiBold), QStringLiteral("cloud"), 15);
    cloudLook.padding = QMargins(10, 10, 10, 10);
    cloudLook.alignment = Qt::AlignLeft | Qt::AlignVCenter;
    m_cloud = new FlatButton(cloudLook, QStringLiteral("Cloud-Sicherung"), this);
    connect(m_cloud, &QAbstractButton::clicked, this, [this] {
        if (m_state->backup())
            m_state->backup()->setShowSheet(true);
    });
    column->addWidget(m_cloud);

    const TwoLineButton account =
        makeTwoLineButton(this, QStringLiteral("person.crop.circle"), 23, QMargins(20, 0, 20, 18), 10, 3);
    m_accountTitle = account.title;
    m_accountDetail = account.detail;
    connect(account.button, &QAbstractButton::clicked, this, [this] {
        if (m_state->account())
            m_state->account()->setShowSheet(true);
    });
    m_account = account.button;
    column->addWidget(account.button);

    auto *storage = new QHBoxLayout;
    storage->setContentsMargins(20, 0, 20, 20);
    storage->setSpacing(6);
    storage->addWidget(new SymbolLabel(QStringLiteral("internaldrive"), 13, Theme::secondaryInk(), this));
    storage->addWidget(
        makeLabel(QStringLiteral("Lokal auf diesem Computer"), Theme::font(12), Theme::secondaryInk(), this));
    storage->addStretch();
    column->addLayout(storage);

    refresh();
}

NavigationRow *Sidebar::row(const QUuid &collectionID) const {
    const auto it = m_rows.constFind(collectionID);
    return it == m_rows.constEnd() ? nullptr : it->button;
}

QAbstractButton *Sidebar::deleteButton(const QUuid &collectionID) const {
    const auto it = m_rows.constFind(collectionID);
    return it == m_rows.constEnd() ? nullptr : it->remove;
}

QString Sidebar::accountTitle() const {
    return m_accountTitle->text();
}

QString Sidebar::accountDetail() const {
    return m_accountDetail->text();
}

QList<QAction *> Sidebar::contextActions(const QUuid &collectionID, QObject *owner) const {
    auto *remove = new QAction(QStringLiteral("Sammlung löschen"), owner);
    remove->setEnabled(!m_state->busy());
    connect(remove, &QAction::triggered, this, [this, collectionID] {
        if (const auto collection = collectionWithID(m_state->store(), collectionID))
            m_state->deleteCollection(*collection);
    });
    return {remove};
}

Sidebar::Row Sidebar::makeRow(const QUuid &id) {
    Row row;
    row.container = new QWidget(m_list);
    auto *layout = new QHBoxLayout(row.container);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(2);
    row.button = new NavigationRow(row.container);
    layout->addWidget(row.button, 1);
    row.remove =
        new FlatButton(FlatButton::Look::plain(Theme::secondaryInk(), QFont(), QStringLiteral("trash"), 12),
                       QString(), row.container);
    row.remove->setFixedSize(26, 32);
    row.remove->setToolTip(QStringLiteral("Sammlung löschen"));
    layout->addWidget(row.remove);
    connect(row.button, &QAbstractButton::clicked, this, [this, id] {
        if (const auto collection = collectionWithID(m_state->store(), id))
            m_state->selectCollection(*collection);
        refresh();
    });
    connect(row.remove, &QAbstractButton::clicked, this, [this, id] {
        if (const auto collection = collectionWithID(m_state->store(), id))
            m_state->deleteCollection(*collection);
    });
    row.container->setContextMenuPolicy(Qt::CustomContextMenu);
    row.button->setContextMenuPolicy(Qt::NoContextMenu);
    row.remove->setContextMenuPolicy(Qt::NoContextMenu);
    connect(row.container, &QWidget::customContextMenuRequested, this,
            [this, id, container = row.container](QPoint at) {
                auto *menu = new QMenu(this);
                menu->setAttribute(Qt::WA_DeleteOnClose);
                menu->addActions(contextActions(id, menu));
                menu->popup(container->mapToGlobal(at));
            });
    return row;
}

void Sidebar::refresh() {
    CollectionStore *store = m_state->store();
    const bool busy = m_state->busy();
    m_newCollection->setEnabled(!busy);
    m_newCollection->setToolTip(store->reusableEmptyCollection()
                                    ? QStringLiteral("Öffnet die bereits vorhandene leere Sammlung")
                                    : QStringLiteral("Neue Sammlung anlegen"));
    m_allRow->setContent(QStringLiteral("Alle Screenshots"), QStringLiteral("photo.on.rectangle"),
                         m_state->totalCount(), m_state->showingAll());
    m_sectionCount->setText(QString::number(store->collections().size()));
    refreshRows();
    m_quickCapture->setEnabled(!busy);

    const OptionalAccountIdentity identity =
        m_state->account() ? m_state->account()->identity() : std::nullopt;
    m_accountTitle->setText(identity ? QStringLiteral("Dein Account")
                                     : QStringLiteral("Anmelden / Registrieren"));
    m_accountDetail->setText(identity && identity->email ? *identity->email
                                                         : QStringLiteral("Über die Vellumbox-Website"));
    // The row's face is made of labels: a screen reader reads its lines from the button itself.
    if (m_account->accessibleName() != m_accountTitle->text())
        m_account->setAccessibleName(m_accountTitle->text());
    if (m_account->accessibleDescription() != m_accountDetail->text())
        m_account->setAccessibleDescription(m_accountDetail->text());
}

NavigationRow *Sidebar::revealSelectedRow() {
    const OptionalUuid selected = m_state->store()->selectedID();
    if (m_state->showingAll() || !selected || !m_rows.contains(*selected))
        return m_allRow;
    NavigationRow *row = m_rows.value(*selected).button;
    // Rows added or removed just now have their places once the list is laid out.
    m_listLayout->activate();
    m_listArea->ensureWidgetVisible(row, 0, 0);
    return row;
}

void Sidebar::refreshRows() {
    CollectionStore *store = m_state->store();
    const bool busy = m_state->busy();
    QList<QUuid> order;
    QSet<QUuid> listed;
    for (const SnipCollection &c : store->collections()) {
        if (listed.contains(c.id))
            continue;
        listed.insert(c.id);
        order.append(c.id);
        auto it = m_rows.find(c.id);
        if (it == m_rows.end())
            it = m_rows.insert(c.id, makeRow(c.id));
        const bool selected = !m_state->showingAll() && store->selectedID() == c.id;
        it->button->setContent(rowTitle(c), rowSymbol(c.mode), int(c.items.size()), selected);
        it->remove->setEnabled(!busy);
        const QString label = QStringLiteral("Sammlung ") + c.title + QStringLiteral(" löschen");
        if (it->remove->accessibleName() != label)
            it->remove->setAccessibleName(label);
    }
    for (auto it = m_rows.begin(); it != m_rows.end();) {
        if (listed.contains(it.key())) {
            ++it;
            continue;
        }
        // Hidden first, so a keyboard on its buttons moves on now, while the window decides
        // where it goes, and not whenever the row is deleted.
        it->container->hide();
        it->container->deleteLater();
        it = m_rows.erase(it);
    }
    if (order != m_order) {
        // The stretch stays last; the rows take the store's order.
        for (qsizetype i = 0; i < order.size(); ++i) {
            QWidget *container = m_rows.value(order[i]).container;
            m_listLayout->removeWidget(container);
            m_listLayout->insertWidget(int(i), container);
        }
        m_order = order;
        chainRows();
    }
}

void Sidebar::chainRows() {
    // A row made after the window joins the end of its tab chain, behind the whole window.
    // A screen reader reads them in the order of the list's children, however late each was made.
    QWidget *previous = m_allRow;
    for (const QUuid &id : std::as_const(m_order)) {
        const Row &row = m_rows[id];
        QWidget::setTabOrder(previous, row.button);
        QWidget::setTabOrder(row.button, row.remove);
        row.container->raise();
        previous = row.remove;
    }
}
