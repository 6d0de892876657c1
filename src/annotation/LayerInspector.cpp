#include "annotation/LayerInspector.h"

#include "annotation/AnnotationSession.h"
#include "annotation/StyleControls.h"
#include "annotation/WorkspaceControls.h"
#include "look/ElidedText.h"
#include "look/FocusFrame.h"
#include "look/Icons.h"
#include "look/Theme.h"
#include "model/MarkLayers.h"

#include <QDrag>
#include <QDragEnterEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QResizeEvent>
#include <QScrollArea>
#include <QStyledItemDelegate>
#include <QToolButton>
#include <QVBoxLayout>

namespace {
constexpr int kIdRole = Qt::UserRole;
constexpr int kSymbolRole = Qt::UserRole + 1;
constexpr int kRowGap = 3;
constexpr int kRowHeight = 10 + 18 + 10 + kRowGap;

QString idText(const QUuid &id) {
    return id.toString(QUuid::WithoutBraces).toUpper();
}

QPushButton *smallButton(const QString &title, QWidget *parent) {
    auto *button = new QPushButton(title, parent);
    button->setFont(Theme::font(11));
    return button;
}

// The detail pane: as tall as its content at its width, so at the usual window sizes it neither
// scrolls nor moves anything in it while it is used; only a low window makes it scroll. The list
// above it takes the rest.
class DetailPane : public QScrollArea {
public:
    explicit DetailPane(QWidget *parent) : QScrollArea(parent) {
        setFocusPolicy(Qt::NoFocus); // its controls are the stops
        setFrameShape(QFrame::NoFrame);
        setWidgetResizable(true);
        setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Maximum);
    }
    void setPane(QWidget *pane) {
        setWidget(pane);
        pane->installEventFilter(this);
    }
    QSize sizeHint() const override {
        const QWidget *pane = widget();
        if (!pane)
            return QScrollArea::sizeHint();
        // Wrapped hints grow taller as the pane gets narrower: measured at the width it has.
        const int height = pane->heightForWidth(width());
        return {width(), height > 0 ? height : pane->sizeHint().height()};
    }
    QSize minimumSizeHint() const override { return {0, std::min(sizeHint().height(), 160)}; }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override {
        if (watched == widget() && event->type() == QEvent::LayoutRequest)
            updateGeometry();
        return QScrollArea::eventFilter(watched, event);
    }
    void resizeEvent(QResizeEvent *event) override {
        QScrollArea::resizeEvent(event);
        if (event->oldSize().width() != width())
            updateGeometry();
    }
};

// Rows as the design draws them: symbol, one line of text, the selected row tinted in the accent.
class LayerDelegate : public QStyledItemDelegate {
public:
    LayerDelegate(const AnnotationSession *session, QObject *parent)
        : QStyledItemDelegate(parent), m_session(session) {}

    QSize sizeHint(const QStyleOptionViewItem &, const QModelIndex &) const override {
        return {200, kRowHeight};
    }

    void paint(QPainter *painter, const QStyleOptionViewItem &option,
               const QModelIndex &index) const override {
        const QUuid id = QUuid::fromString(index.data(kIdRole).toString());
        const bool screenshot = id.isNull();
        const bool selected = !screenshot && m_session->selection() == id;
        const QRectF row = QRectF(option.rect).adjusted(0, 0, 0, -kRowGap);
        painter->save();
        painter->setRenderHint(QPainter::Antialiasing);
        if (selected) {
            QColor tint = editorAccent();
            tint.setAlphaF(0.09f);
            painter->setPen(Qt::NoPen);
            painter->setBrush(tint);
            painter->drawRoundedRect(row, 6, 6);
        }
        const QColor ink = selected ? editorAccent() : screenshot ? Theme::secondaryInk() : Theme::ink();
        const QRectF icon(row.left() + 10, row.center().y() - 9, 18, 18);
        const qreal ratio = painter->device()->devicePixelRatioF();
        const QPixmap symbol = tinted(index.data(kSymbolRole).toString(), 16, ink, ratio);
        if (!symbol.isNull())
            painter->drawPixmap(QRectF(icon.center() - QPointF(8, 8), QSizeF(16, 16)), symbol, symbol.rect());
        painter->setFont(Theme::font(12));
        painter->setPen(ink);
        QRectF label = row.adjusted(10 + 18 + 10, 0, -10, 0);
        if (screenshot) {
            const QPixmap lock = tinted(QStringLiteral("lock"), 12, ink, ratio);
            if (!lock.isNull())
                painter->drawPixmap(QRectF(row.right() - 10 - 12, row.center().y() - 6, 12, 12), lock,
                                    lock.rect());
            label.adjust(0, 0, -16, 0);
        }
        const QString shown = Elide::line(index.data(Qt::DisplayRole).toString().split(u'\n').first(),
                                          painter->font(), int(label.width()));
        painter->drawText(label, Qt::AlignVCenter | Qt::AlignLeft, shown);
        // The row the keyboard is on, once the window is used by keyboard (as the style does).
        if ((option.state & QStyle::State_HasFocus) && (option.state & QStyle::State_KeyboardFocusChange))
            FocusFrame::paint(*painter, row, 6);
        painter->restore();
    }

private:
    // Rendering an SVG symbol costs more than a row; each tint and size is made once.
    QPixmap tinted(const QString &symbol, int side, const QColor &ink, qreal ratio) const {
        const QString key =
            symbol + u'/' + QString::number(side) + u'/' + ink.name() + u'/' + QString::number(ratio);
        auto found = m_pixmaps.constFind(key);
        if (found == m_pixmaps.cend())
            found = m_pixmaps.insert(key, symbolPixmap(symbol, QSize(side, side), ink, ratio));
        return *found;
    }

    const AnnotationSession *m_session;
    mutable QHash<QString, QPixmap> m_pixmaps;
};
} // namespace

LayerList::LayerList(AnnotationSession *session, QWidget *parent) : QListWidget(parent), m_session(session) {
    setItemDelegate(new LayerDelegate(session, this));
    // The item view starts a drag only from a selected row, so a press selects the row in the view
    // for the drag. Otherwise the view's selection, which screen readers report, is the editor's.
    setSelectionMode(QAbstractItemView::SingleSelection);
    setFrameShape(QFrame::NoFrame);
    setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setViewportMargins(8, 8, 8, 8);
    // However tall the details below get, a few rows stay in view.
    setMinimumHeight(3 * kRowHeight + 16);
    setDragEnabled(true);
    setAcceptDrops(true);
    setDropIndicatorShown(false);
    setDragDropMode(QAbstractItemView::DragDrop);
    setDefaultDropAction(Qt::MoveAction);
    setContextMenuPolicy(Qt::CustomContextMenu);
    setAccessibleName(QStringLiteral("Ebenen"));
    // A click on a row or beside the rows leaves the keyboard where a click on any other control
    // of the editor does; Tab brings it here for the arrow keys.
    setFocusPolicy(Qt::TabFocus);
    connect(this, &QListWidget::itemClicked, this, [this](QListWidgetItem *item) {
        if (const QUuid id = idOf(item); !id.isNull())
            m_session->selectLayer(id);
    });
    connect(this, &QWidget::customContextMenuRequested, this, [this](const QPoint &at) {
        const QUuid id = idOf(itemAt(at));
        if (id.isNull())
            return;
        QMenu *menu = menuFor(id);
        menu->setAttribute(Qt::WA_DeleteOnClose);
        menu->popup(viewport()->mapToGlobal(at));
    });
    refresh();
}

QUuid LayerList::idOf(const QListWidgetItem *item) {
    return item ? QUuid::fromString(item->data(kIdRole).toString()) : QUuid();
}

QMenu *LayerList::menuFor(const QUuid &id) {
    auto *menu = new QMenu(this);
    const QPointer<AnnotationSession> session(m_session);
    menu->addAction(QStringLiteral("Ganz nach vorne"), this, [session, id] {
        if (session)
            session->moveLayerTo(id, session->marks().size() - 1);
    });
    menu->addAction(QStringLiteral("Eine Ebene nach vorne"), this, [session, id] {
        if (session)
            session->moveLayer(id, 1);
    });
    menu->addAction(QStringLiteral("Eine Ebene nach hinten"), this, [session, id] {
        if (session)
            session->moveLayer(id, -1);
    });
    menu->addAction(QStringLiteral("Ganz nach hinten"), this, [session, id] {
        if (session)
            session->moveLayerTo(id, 0);
    });
    return menu;
}

void LayerList::refresh() {
    const MarkList order = Marks::renderingOrder(m_session->marks());
    QList<QPair<QUuid, QString>> rows;
    rows.reserve(order.size());
    for (auto it = order.crbegin(); it != order.crend(); ++it)
        rows.append({it->id, MarkKinds::symbol(it->kind) + u'\x1f' + it->label()});
    // Nothing shown yet counts as different even from an empty mark list: the screenshot row
    // must appear on the first fill too.
    if (!m_rows || rows != *m_rows) {
        m_rows = rows;
        clear();
        for (auto it = order.crbegin(); it != order.crend(); ++it) {
            auto *item = new QListWidgetItem(it->label(), this);
            item->setData(kIdRole, idText(it->id));
            item->setData(kSymbolRole, MarkKinds::symbol(it->kind));
            item->setData(Qt::AccessibleTextRole, QStringLiteral("Ebene: ") + it->label());
            item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsDragEnabled |
                           Qt::ItemIsDropEnabled);
        }
        auto *screenshot = new QListWidgetItem(QStringLiteral("Screenshot"), this);
        screenshot->setData(kSymbolRole, QStringLiteral("photo"));
        screenshot->setFlags(Qt::ItemIsEnabled);
    }
    // The highlight follows the session's selection; the delegate reads it when painting.
    if (m_highlighted != m_session->selection()) {
        m_highlighted = m_session->selection();
        viewport()->update();
    }
    followSelection();
}

void LayerList::followSelection() {
    const std::optional<QUuid> id = m_session->selection();
    QListWidgetItem *row = nullptr;
    for (int i = 0; id && !row && i < count(); ++i)
        if (idOf(item(i)) == *id)
            row = item(i);
    const QList<QListWidgetItem *> selected = selectedItems();
    if (row && (selected.size() != 1 || selected.first() != row))
        setCurrentItem(row, QItemSelectionModel::ClearAndSelect);
    else if (!row && !selected.isEmpty())
        clearSelection();
}

QItemSelectionModel::SelectionFlags LayerList::selectionCommand(const QModelIndex &index,
                                                                const QEvent *event) const {
    // Keys move the keyboard's row only; Space or Return selects its mark, as a click does.
    if (event && event->type() == QEvent::KeyPress)
        return QItemSelectionModel::NoUpdate;
    return QListWidget::selectionCommand(index, event);
}

void LayerList::keyPressEvent(QKeyEvent *event) {
    const int key = event->key();
    if (key == Qt::Key_Space || key == Qt::Key_Return || key == Qt::Key_Enter) {
        if (const QUuid id = idOf(currentItem()); !id.isNull()) {
            m_session->selectLayer(id);
            return;
        }
    }
    QListWidget::keyPressEvent(event);
}

void LayerList::keyboardSearch(const QString &search) {
    // A typed letter moves the keyboard's row as the arrow keys do. In single selection the item
    // view would also select the row it finds, past the editor.
    setSelectionMode(QAbstractItemView::NoSelection);
    QListWidget::keyboardSearch(search);
    setSelectionMode(QAbstractItemView::SingleSelection);
}

void LayerList::mouseReleaseEvent(QMouseEvent *event) {
    QListWidget::mouseReleaseEvent(event);
    // A press that ended without a click on its row selected nothing in the editor.
    followSelection();
}

QStringList LayerList::mimeTypes() const {
    return {QStringLiteral("text/plain")};
}

QMimeData *LayerList::mimeData(const QList<QListWidgetItem *> &items) const {
    const QUuid id = items.isEmpty() ? QUuid() : idOf(items.first());
    if (id.isNull())
        return nullptr;
    auto *data = new QMimeData;
    data->setText(idText(id));
    return data;
}

void LayerList::mousePressEvent(QMouseEvent *event) {
    m_pressedAt = event->position().toPoint();
    QListWidget::mousePressEvent(event);
}

void LayerList::startDrag(Qt::DropActions) {
    // The item view's own drag would remove the dragged row once it is dropped as a move; here
    // the rows only ever follow the session.
    const QList<QListWidgetItem *> items = selectedItems();
    QMimeData *data = mimeData(items);
    if (!data)
        return;
    auto *drag = new QDrag(this);
    drag->setMimeData(data);
    const QRect row = visualItemRect(items.first());
    drag->setPixmap(viewport()->grab(row));
    drag->setHotSpot(m_pressedAt - row.topLeft());
    drag->exec(Qt::MoveAction);
    // A drop that changed nothing leaves the editor's selection as it was.
    followSelection();
}

void LayerList::dragEnterEvent(QDragEnterEvent *event) {
    if (event->mimeData()->hasText())
        event->acceptProposedAction();
    else
        event->ignore();
}

void LayerList::dragMoveEvent(QDragMoveEvent *event) {
    if (event->mimeData()->hasText())
        event->acceptProposedAction();
    else
        event->ignore();
}

void LayerList::dropEvent(QDropEvent *event) {
    // The list never moves rows itself: the session reorders the marks and the rows follow.
    if (!event->mimeData()->hasText()) {
        event->ignore();
        return;
    }
    const QUuid target = idOf(itemAt(event->position().toPoint()));
    event->acceptProposedAction();
    if (!target.isNull())
        m_session->dropLayer(event->mimeData()->text(), target);
}

// ---- The page ----

LayerInspector::LayerInspector(AnnotationSession *session, QWidget *parent)
    : QWidget(parent), m_session(session) {
    auto *layout = columnLayout(this, 0);

    auto *header = new QHBoxLayout;
    header->setContentsMargins(18, 18, 18, 18);
    header->addWidget(editorLabel(QStringLiteral("Ebenen"), 13, QFont::DemiBold, false, this));
    header->addStretch();
    m_count = editorLabel(QStringLiteral("0"), 11, QFont::Normal, true, this);
    m_count->setWordWrap(false);
    header->addWidget(m_count);
    layout->addLayout(header);
    layout->addWidget(hairline(this, Qt::Horizontal));
    m_list = new LayerList(session, this);
    layout->addWidget(m_list, 1);
    layout->addWidget(hairline(this, Qt::Horizontal));

    auto *detail = new DetailPane(this);
    m_detail = detail;
    auto *pane = new QWidget(detail);
    auto *column = new QVBoxLayout(pane);
    column->setContentsMargins(18, 18, 18, 18);
    column->setSpacing(14);
    m_style = new StyleControls(session, pane);
    column->addWidget(m_style);

    const auto block = [pane](std::initializer_list<QWidget *> widgets) {
        auto *box = new QWidget(pane);
        auto *l = columnLayout(box, 4);
        for (QWidget *w : widgets) {
            w->setParent(box);
            l->addWidget(w);
        }
        return box;
    };
    m_nextNumber = editorLabel(QString(), 13, QFont::DemiBold, false, pane);
    m_numberHint = block(
        {m_nextNumber, editorLabel(QStringLiteral("Jeder Klick setzt den nächsten Kreis. Esc beendet die "
                                                  "Nummerierung."),
                                   11, QFont::Normal, true, pane)});
    column->addWidget(m_numberHint);
    m_selectionHint =
        block({editorLabel(QStringLiteral("Markierung auswählen"), 13, QFont::DemiBold, false, pane),
               editorLabel(QStringLiteral("Klicke auf eine Markierung im Bild oder auf ihre Ebene."), 11,
                           QFont::Normal, true, pane)});
    column->addWidget(m_selectionHint);

    m_details = new QWidget(pane);
    auto *details = columnLayout(m_details, 14);
    m_stepper = new QWidget(m_details);
    auto *stepper = rowLayout(m_stepper, -1);
    m_stepperLabel = editorLabel(QString(), 12, QFont::Normal, false, m_stepper);
    m_decrement = new QToolButton(m_stepper);
    m_decrement->setIcon(symbolIcon(QStringLiteral("minus")));
    m_decrement->setAccessibleName(QStringLiteral("Nummer verringern"));
    m_increment = new QToolButton(m_stepper);
    m_increment->setIcon(symbolIcon(QStringLiteral("plus")));
    m_increment->setAccessibleName(QStringLiteral("Nummer erhöhen"));
    stepper->addWidget(m_stepperLabel);
    stepper->addStretch();
    stepper->addWidget(m_decrement);
    stepper->addWidget(m_increment);
    details->addWidget(m_stepper);
    m_kindTitle = editorLabel(QString(), 13, QFont::DemiBold, false, m_details);
    m_kindHint = editorLabel(QString(), 11, QFont::Normal, true, m_details);
    details->addWidget(block({m_kindTitle, m_kindHint}));
    m_editText = smallButton(QStringLiteral("Text bearbeiten"), m_details);
    m_reverse = smallButton(QStringLiteral("Pfeilrichtung umkehren"), m_details);
    details->addWidget(m_editText, 0, Qt::AlignLeft);
    details->addWidget(m_reverse, 0, Qt::AlignLeft);
    auto *order = new QHBoxLayout;
    order->setSpacing(8);
    m_backward = smallButton(QStringLiteral("Nach hinten"), m_details);
    m_forward = smallButton(QStringLiteral("Nach vorne"), m_details);
    order->addWidget(m_backward);
    order->addWidget(m_forward);
    order->addStretch();
    details->addLayout(order);
    m_kindNote = editorLabel(QString(), 11, QFont::Normal, true, m_details);
    details->addWidget(m_kindNote);
    m_remove = smallButton(QStringLiteral("Markierung entfernen"), m_details);
    QPalette destructive = m_remove->palette();
    destructive.setColor(QPalette::ButtonText, QColor(0xD7, 0x2C, 0x20));
    m_remove->setPalette(destructive);
    details->addWidget(m_remove, 0, Qt::AlignLeft);
    column->addWidget(m_details);
    column->addStretch();
    detail->setPane(pane);
    layout->addWidget(detail);

    const auto withSelected = [this](auto action) {
        return [this, action] {
            if (const std::optional<Mark> mark = m_session->selected())
                action(*mark);
        };
    };
    const auto renumber = [this](int step) {
        if (std::optional<Mark> mark = m_session->selected()) {
            mark->number = std::clamp<qint64>(mark->number.value_or(1) + step, 1, Marks::kMaxNumber);
            m_session->update(*mark);
        }
    };
    connect(m_decrement, &QToolButton::clicked, this, [renumber] { renumber(-1); });
    connect(m_increment, &QToolButton::clicked, this, [renumber] { renumber(1); });
    connect(m_editText, &QPushButton::clicked, this,
            withSelected([this](const Mark &m) { m_session->editText(m); }));
    connect(m_reverse, &QPushButton::clicked, this, withSelected([this](Mark m) {
                std::swap(m.x1, m.x2);
                std::swap(m.y1, m.y2);
                m_session->update(m);
            }));
    connect(m_backward, &QPushButton::clicked, this,
            withSelected([this](const Mark &m) { m_session->moveLayer(m.id, -1); }));
    connect(m_forward, &QPushButton::clicked, this,
            withSelected([this](const Mark &m) { m_session->moveLayer(m.id, 1); }));
    connect(m_remove, &QPushButton::clicked, this, [this] { m_session->deleteSelected(); });
    refresh();
}

void LayerInspector::refresh() {
    const MarkList marks = m_session->marks();
    setTextIfChanged(m_count, QString::number(marks.size()));
    m_list->refresh();
    m_style->refresh();

    fillDetails(m_session->selected());
    // Shown and hidden details change the pane's height at once; wrapped texts change it when
    // their own layout runs, which the pane's event filter hears.
    m_detail->updateGeometry();
}

void LayerInspector::fillDetails(const std::optional<Mark> &selected) {
    const MarkList marks = m_session->marks();
    m_numberHint->setVisible(m_session->tool() == MarkKind::Number && !selected);
    setTextIfChanged(m_nextNumber,
                     QStringLiteral("Nächste Nummer: ") + QString::number(Marks::nextNumber(marks)));
    m_selectionHint->setVisible(!selected);
    m_details->setVisible(bool(selected));
    if (!selected)
        return;
    const MarkKind kind = selected->kind;
    const qint64 number = selected->number.value_or(1);
    m_stepper->setVisible(kind == MarkKind::Number);
    setTextIfChanged(m_stepperLabel, QStringLiteral("Nummer: ") + QString::number(number));
    m_decrement->setEnabled(number > 1);
    m_increment->setEnabled(number < Marks::kMaxNumber);
    setTextIfChanged(m_kindTitle, MarkKinds::title(kind));
    setTextIfChanged(
        m_kindHint,
        kind == MarkKind::Arrow
            ? QStringLiteral("Pfeil ziehen, um ihn zu verschieben. An den Griffen Anfang und Spitze ändern.")
            : QStringLiteral("Im Bild verschieben. Die Griffe ändern die Größe; Pfeiltasten richten die "
                             "Markierung aus."));
    m_editText->setVisible(MarkKinds::isTextBox(kind));
    m_reverse->setVisible(kind == MarkKind::Arrow);
    m_backward->setEnabled(m_session->canMoveLayer(selected->id, -1));
    m_forward->setEnabled(m_session->canMoveLayer(selected->id, 1));
    const QString note =
        kind == MarkKind::Redact    ? QStringLiteral("Schwärzungen bleiben über allen anderen Ebenen.")
        : kind == MarkKind::Blur    ? QStringLiteral("Blur bleibt direkt auf dem Screenshot, unter den "
                                                        "Markierungen.")
        : kind == MarkKind::Callout ? QStringLiteral("Den Griff an der Pfeilspitze ziehen, um das Ziel "
                                                     "zu ändern.")
                                    : QString();
    setTextIfChanged(m_kindNote, note);
    m_kindNote->setVisible(!note.isEmpty());
}
