#include "views/SnipCard.h"

#include "look/ElidedText.h"
#include "look/FieldText.h"
#include "look/FocusFrame.h"
#include "look/Icons.h"
#include "look/Theme.h"
#include "model/Ids.h"
#include "store/CollectionStore.h"
#include "views/LibraryState.h"
#include "views/LibraryWidgets.h"
#include "views/PreviewCache.h"

#include <QAction>
#include <QApplication>
#include <QContextMenuEvent>
#include <QDrag>
#include <QFocusEvent>
#include <QHelpEvent>
#include <QMenu>
#include <QMimeData>
#include <QPainter>
#include <QToolTip>

namespace {

const QColor kWarning(0xFF, 0x95, 0x00);
const QString kLocalOnlyHelp = QStringLiteral(
    "Dieses Bild, seine Kommentare und Markierungen werden nicht in der Cloud gesichert. Bereits vorhandene "
    "Cloud-Stände bleiben erhalten.");
const QString kEditTitle = QStringLiteral("Bild bearbeiten");

FlatButton::Look editButtonLook() {
    FlatButton::Look look = FlatButton::Look::plain(Theme::accent(), Theme::font(13, QFont::DemiBold),
                                                    QStringLiteral("slider.horizontal.3"));
    look.background = LibraryPaint::withAlpha(Theme::accent(), 0.08);
    look.pressedBackground = LibraryPaint::withAlpha(Theme::accent(), 0.16);
    look.radius = 6;
    look.padding = QMargins(12, 0, 12, 0);
    return look;
}

void paintSymbolLine(QPainter &painter, const QRect &rect, const QString &symbol, const QString &text,
                     const QFont &font, const QColor &color, qreal ratio) {
    const int size = 13;
    painter.drawPixmap(QPointF(rect.left(), rect.top() + (rect.height() - size) / 2.0),
                       symbolPixmap(symbol, QSize(size, size), color, ratio));
    painter.setFont(font);
    painter.setPen(color);
    const QRect textRect = rect.adjusted(size + 6, 0, 0, 0);
    painter.drawText(textRect, Qt::AlignLeft | Qt::AlignVCenter, Elide::line(text, font, textRect.width()));
}

} // namespace

// ---- CardPreview ----

CardPreview::CardPreview(PreviewCache *previews, QWidget *parent)
    : QAbstractButton(parent), m_previews(previews) {
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::TabFocus);
    setToolTip(QStringLiteral("Bild im Markierungseditor öffnen"));
    connect(previews, &PreviewCache::thumbnailReady, this, [this](const QString &file) {
        if (file == m_snip.imageFile && !m_exact)
            update();
    });
}

void CardPreview::setContent(const Snip &snip, const QRect &imageRect) {
    if (snip.imageFile == m_snip.imageFile && snip.marks == m_snip.marks && imageRect == m_imageRect)
        return;
    m_snip = snip;
    m_imageRect = imageRect;
    m_exact = false;
    update();
}

void CardPreview::release() {
    m_previews->drop(this);
}

void CardPreview::paintEvent(QPaintEvent *) {
    QPainter painter(this);
    paintFace(painter);
    if (hasFocus())
        FocusFrame::paint(painter, QRectF(rect()), 6);
}

void CardPreview::paintFace(QPainter &painter) {
    LibraryPaint::roundedPanel(painter, QRectF(rect()), 6, Theme::canvas());
    if (m_imageRect.isEmpty()) {
        const QFont font = Theme::font(13, QFont::Medium);
        const QString text = QStringLiteral("Bild nicht verfügbar");
        const int width = 16 + 6 + QFontMetrics(font).horizontalAdvance(text);
        paintSymbolLine(painter, QRect((this->width() - width) / 2, 0, width, height()),
                        QStringLiteral("exclamationmark.triangle"), text, font, Theme::secondaryInk(),
                        devicePixelRatioF());
        return;
    }
    const qreal ratio = devicePixelRatioF();
    const QSize box(int(std::lround(m_imageRect.width() * ratio)),
                    int(std::lround(m_imageRect.height() * ratio)));
    const PreviewCache::Lookup found = m_previews->thumbnail(m_snip, box, this);
    m_exact = found.exact;
    if (found.image.isNull()) {
        painter.fillRect(m_imageRect, LibraryPaint::withAlpha(Theme::hairline(), 0.6));
        return;
    }
    painter.save();
    if (!found.exact)
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(QRectF(m_imageRect), found.image);
    painter.restore();
}

// ---- DragHandle ----

DragHandle::DragHandle(QWidget *parent) : QWidget(parent) {
    setCursor(Qt::OpenHandCursor);
    setToolTip(QStringLiteral("Zum Umsortieren ziehen"));
    setAccessibleName(QStringLiteral("Ausschnitt verschieben"));
}

void DragHandle::paintEvent(QPaintEvent *) {
    QPainter painter(this);
    const int size = 14;
    painter.drawPixmap(QPointF((width() - size) / 2.0, (height() - size) / 2.0),
                       symbolPixmap(QStringLiteral("line.3.horizontal"), QSize(size, size),
                                    Theme::secondaryInk(), devicePixelRatioF()));
}

void DragHandle::mousePressEvent(QMouseEvent *event) {
    m_pressed = event->button() == Qt::LeftButton;
    m_pressAt = event->position().toPoint();
}

void DragHandle::mouseMoveEvent(QMouseEvent *event) {
    if (!m_pressed || m_dragging ||
        (event->position().toPoint() - m_pressAt).manhattanLength() < QApplication::startDragDistance())
        return;
    m_pressed = false;
    auto *data = new QMimeData;
    data->setText(uuidText(m_id));
    auto *drag = new QDrag(this);
    drag->setMimeData(data);
    if (QWidget *card = parentWidget()) {
        const QPixmap face = card->grab(QRect(0, 0, card->width(), std::min(card->height(), 70)));
        drag->setPixmap(face.scaledToWidth(std::min(face.width(), 360), Qt::SmoothTransformation));
    }
    m_dragging = true;
    drag->exec(Qt::MoveAction);
    m_dragging = false;
}

// ---- CommentField ----

CommentField::CommentField(QWidget *parent) : QTextEdit(parent) {
    setFrameShape(QFrame::NoFrame);
    setAcceptRichText(false);
    setAcceptDrops(false);
    setTabChangesFocus(true);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setViewportMargins(0, 0, 0, 0);
    viewport()->setAutoFillBackground(false);
    setAutoFillBackground(false);
    setPlaceholderText(QStringLiteral("Kommentar zu diesem Screenshot hinzufügen …"));
    QPalette palette = this->palette();
    palette.setColor(QPalette::Text, Theme::ink());
    palette.setColor(QPalette::Base, Qt::transparent);
    setPalette(palette);
    setFont(Theme::font(15));
    SnipCardLayout::configureComment(document());
}

void CommentField::setComment(const QString &text) {
    if (FieldText::holds(document(), text))
        return;
    m_updating = true;
    setPlainText(text);
    SnipCardLayout::configureComment(document());
    m_updating = false;
}

// ---- SnipCard ----

SnipCard::SnipCard(LibraryState *state, PreviewCache *previews, QWidget *parent)
    : QWidget(parent), m_state(state), m_previews(previews) {
    setAcceptDrops(true);
    m_handle = new DragHandle(this);

    m_heading = new ElidingLineEdit(this);
    m_heading->setFrame(false);
    m_heading->setAcceptDrops(false);
    m_heading->setFont(Theme::font(16, QFont::DemiBold));
    QPalette palette = m_heading->palette();
    palette.setColor(QPalette::Base, Qt::transparent);
    palette.setColor(QPalette::Text, Theme::ink());
    m_heading->setPalette(palette);
    m_heading->setTextMargins(0, 0, 0, 0);
    connect(m_heading, &QLineEdit::textEdited, this, [this](const QString &text) {
        m_state->store()->editSnip(snipID(), [text](Snip &snip) { snip.title = text; });
    });

    m_edit = new FlatButton(editButtonLook(), kEditTitle, this);
    m_edit->setToolTip(QStringLiteral("Im Markierungseditor öffnen – mit Zoom und Vollbild"));
    connect(m_edit, &QAbstractButton::clicked, this, [this] { openEditor(LibraryState::CardControl::Edit); });

    m_remove = new FlatButton(
        FlatButton::Look::plain(Theme::secondaryInk(), QFont(), QStringLiteral("trash")), QString(), this);
    m_remove->setToolTip(QStringLiteral("Entfernen – über das Menü rückgängig machen"));
    m_remove->setAccessibleName(QStringLiteral("Ausschnitt entfernen"));
    connect(m_remove, &QAbstractButton::clicked, this, [this] { removeSnip(); });

    m_preview = new CardPreview(previews, this);
    connect(m_preview, &QAbstractButton::clicked, this,
            [this] { openEditor(LibraryState::CardControl::Preview); });

    m_comment = new CommentField(this);
    connect(m_comment, &QTextEdit::textChanged, this, [this] {
        if (m_comment->isUpdating())
            return;
        const QString text = FieldText::typed(m_comment->document());
        m_state->store()->editSnip(snipID(), [text](Snip &snip) { snip.note = text; });
    });

    m_heading->installEventFilter(this);
    m_comment->installEventFilter(this);
}

int SnipCard::editButtonWidth() {
    static const int width = FlatButton(editButtonLook(), kEditTitle).sizeHint().width();
    return width;
}

SnipCardLayout::Input SnipCard::layoutInput(const Content &content, int width) {
    SnipCardLayout::Input input;
    input.width = width;
    input.wide = content.wide;
    input.compact = content.compact;
    input.imageSize = content.imageSize;
    input.localOnly = content.snip.isLocalOnly();
    input.hasMarks = !content.snip.marks.isEmpty();
    input.commentHeight = SnipCardLayout::commentHeight(
        content.snip.note, SnipCardLayout::commentWidth(width, content.wide, content.compact));
    input.editButtonWidth = editButtonWidth();
    return input;
}

void SnipCard::setContent(const Content &content) {
    const bool sameSnip = m_bound && content.snip.id == m_content.snip.id;
    const Content before = m_content;
    m_content = content;
    m_bound = true;
    m_handle->setSnipID(content.snip.id);
    setTextIfChanged(m_heading, content.snip.title);
    if (!sameSnip)
        m_heading->setCursorPosition(0);
    const QString placeholder = content.mode == CollectionMode::Steps
                                    ? QStringLiteral("Schritt beschreiben …")
                                    : QStringLiteral("Überschrift …");
    if (m_heading->placeholderText() != placeholder)
        m_heading->setPlaceholderText(placeholder);
    const QString number = QString::number(content.index + 1);
    m_heading->setAccessibleName(QStringLiteral("Titel von Ausschnitt ") + number);
    m_comment->setAccessibleName(QStringLiteral("Kommentar zu Ausschnitt ") + number);
    m_preview->setAccessibleName(QStringLiteral("Screenshot ") + number +
                                 QStringLiteral(" im Markierungseditor öffnen"));
    // The buttons' names are the same on every card: a screen reader hears whose they are.
    const QString title = content.snip.title.trimmed();
    const QString whose = QStringLiteral("Ausschnitt ") + number +
                          (title.isEmpty() ? QString() : QStringLiteral(" „") + title + QStringLiteral("“"));
    if (m_edit->accessibleDescription() != whose) {
        m_edit->setAccessibleDescription(whose);
        m_remove->setAccessibleDescription(whose);
    }
    m_comment->setComment(content.snip.note);
    if (!sameSnip)
        m_comment->document()->clearUndoRedoStacks();
    placeChildren();
    if (!sameSnip || before.index != content.index || before.mode != content.mode ||
        before.selected != content.selected || before.snip.isLocalOnly() != content.snip.isLocalOnly() ||
        before.snip.marks.size() != content.snip.marks.size())
        update();
}

void SnipCard::placeChildren() {
    const SnipCardLayout::Geometry before = m_geometry;
    m_geometry = SnipCardLayout::compute(layoutInput(m_content, width()));
    // The card paints the caption, the marks line and the dividers itself: when a growing comment
    // moves them within a card of the same size, nothing else would repaint them.
    if (m_geometry != before)
        update();
    m_handle->setGeometry(m_geometry.handle);
    m_heading->setGeometry(m_geometry.heading);
    m_edit->setGeometry(m_geometry.editButton);
    m_remove->setGeometry(m_geometry.removeButton);
    m_preview->setGeometry(m_geometry.preview);
    m_preview->setContent(m_content.snip, m_geometry.image.translated(-m_geometry.preview.topLeft()));
    m_comment->setGeometry(m_geometry.comment);
}

void SnipCard::resizeEvent(QResizeEvent *) {
    placeChildren();
}

bool SnipCard::isBusy() const {
    // The window's own focus widget: it keeps the keyboard for when a message box has gone.
    const QWidget *focus = window()->focusWidget();
    return (focus && isAncestorOf(focus)) || m_handle->isDragging();
}

QWidget *SnipCard::control(LibraryState::CardControl control) const {
    switch (control) {
    case LibraryState::CardControl::Edit:
        return m_edit;
    case LibraryState::CardControl::Remove:
        return m_remove;
    case LibraryState::CardControl::Preview:
        break;
    }
    return m_preview;
}

QList<QWidget *> SnipCard::focusChain() const {
    return {m_heading, m_edit, m_remove, m_preview, m_comment};
}

void SnipCard::release() {
    m_preview->release();
}

QString SnipCard::badgeText() const {
    if (m_content.mode != CollectionMode::Steps)
        return {};
    return QStringLiteral("%1").arg(m_content.index + 1, 2, 10, QLatin1Char('0'));
}

QString SnipCard::marksText() const {
    const qsizetype n = m_content.snip.marks.size();
    if (n == 0)
        return {};
    return QString::number(n) + (n == 1 ? QStringLiteral(" Markierung") : QStringLiteral(" Markierungen")) +
           QStringLiteral(" im Bild");
}

void SnipCard::openEditor(LibraryState::CardControl from) {
    m_state->setLanding({snipID(), from, m_content.index});
    m_state->setAnnotationSnipID(snipID());
}

void SnipCard::removeSnip() {
    m_state->setLanding({snipID(), LibraryState::CardControl::Remove, m_content.index});
    m_state->store()->deleteSnip(snipID());
}

QList<QAction *> SnipCard::contextActions(QObject *owner) {
    const QUuid id = snipID();
    const Snip snip = m_content.snip;
    CollectionStore *store = m_state->store();
    QList<QAction *> actions;
    const auto add = [&](const QString &text, bool enabled, std::function<void()> run) {
        auto *action = new QAction(text, owner);
        action->setEnabled(enabled);
        connect(action, &QAction::triggered, this, std::move(run));
        actions.append(action);
    };
    const auto separator = [&] {
        auto *action = new QAction(owner);
        action->setSeparator(true);
        actions.append(action);
    };
    // The menu may outlive this card's binding to the snip: every entry names its snip itself.
    LibraryState *state = m_state;
    const int index = m_content.index;
    // The menu has gone when the window changes: the keyboard goes to the card's own button.
    add(kEditTitle, true, [state, id, index] {
        state->setLanding({id, LibraryState::CardControl::Edit, index});
        state->setAnnotationSnipID(id);
    });
    add(snip.isLocalOnly() ? QStringLiteral("Für Cloud-Sicherung einschließen")
                           : QStringLiteral("Nur lokal speichern (ohne Cloud)"),
        true, [store, snip] { store->setLocalOnly(snip, !snip.isLocalOnly()); });
    separator();
    const std::optional<SnipCollection> current = store->current();
    const int last = int(current ? current->items.size() : 0) - 1;
    add(QStringLiteral("Nach oben"), m_content.index != 0, [store, id] { store->move(id, -1); });
    add(QStringLiteral("Nach unten"), m_content.index != last, [store, id] { store->move(id, 1); });
    separator();
    add(QStringLiteral("Ausschnitt entfernen"), true, [state, store, id, index] {
        state->setLanding({id, LibraryState::CardControl::Remove, index});
        store->deleteSnip(id);
    });
    return actions;
}

void SnipCard::contextMenuEvent(QContextMenuEvent *event) {
    auto *menu = new QMenu(this);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->addActions(contextActions(menu));
    menu->popup(event->globalPos());
}

bool SnipCard::eventFilter(QObject *watched, QEvent *event) {
    // Only the user's own move into a field selects the card; focus that lands here because
    // another part of the window went away must not move the selection (and the page).
    if (event->type() == QEvent::FocusIn && (watched == m_heading || watched == m_comment)) {
        const Qt::FocusReason reason = static_cast<QFocusEvent *>(event)->reason();
        if (reason == Qt::MouseFocusReason || reason == Qt::TabFocusReason ||
            reason == Qt::BacktabFocusReason || reason == Qt::ShortcutFocusReason)
            m_state->store()->setSelectedSnipID(snipID());
    }
    return QWidget::eventFilter(watched, event);
}

bool SnipCard::event(QEvent *event) {
    if (event->type() == QEvent::ToolTip) {
        auto *help = static_cast<QHelpEvent *>(event);
        if (m_content.snip.isLocalOnly() && m_geometry.localOnly.contains(help->pos())) {
            QToolTip::showText(help->globalPos(), kLocalOnlyHelp, this, m_geometry.localOnly);
            return true;
        }
        QToolTip::hideText();
        event->ignore();
        return true;
    }
    return QWidget::event(event);
}

bool SnipCard::overTextField(const QPoint &at) const {
    return m_geometry.heading.contains(at) || m_geometry.comment.contains(at);
}

void SnipCard::dragEnterEvent(QDragEnterEvent *event) {
    if (event->mimeData()->hasText())
        event->acceptProposedAction();
}

void SnipCard::dragMoveEvent(QDragMoveEvent *event) {
    if (overTextField(event->position().toPoint()))
        event->ignore();
    else
        event->acceptProposedAction();
}

void SnipCard::dropEvent(QDropEvent *event) {
    if (overTextField(event->position().toPoint()) || !event->mimeData()->hasText()) {
        event->ignore();
        return;
    }
    event->acceptProposedAction();
    const QString text = event->mimeData()->text();
    const QUuid target = snipID();
    m_state->store()->moveDropped(text, target);
    if (const std::optional<QUuid> id = parseUuid(text); id && *id != target)
        Q_EMIT snipDropped(*id);
}

void SnipCard::paintEvent(QPaintEvent *) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::TextAntialiasing);
    LibraryPaint::roundedPanel(painter, QRectF(rect()), 10, Theme::surface(),
                               m_content.selected ? LibraryPaint::withAlpha(Theme::accent(), 0.5)
                                                  : Theme::hairline());
    painter.fillRect(m_geometry.headerDivider.adjusted(1, 0, -1, 0), Theme::hairline());
    if (!m_geometry.bodyDivider.isEmpty())
        painter.fillRect(m_geometry.bodyDivider.adjusted(1, 0, -1, 0), Theme::hairline());

    // Badge: the two-digit step number, or a small dot for notes.
    if (m_content.mode == CollectionMode::Steps) {
        painter.setFont(Theme::font(13, QFont::DemiBold));
        painter.setPen(Theme::secondaryInk());
        painter.drawText(m_geometry.badge.adjusted(-6, 0, 6, 0), Qt::AlignCenter, badgeText());
    } else {
        painter.save();
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(Qt::NoPen);
        painter.setBrush(Theme::secondaryInk());
        painter.drawEllipse(QPointF(m_geometry.badge.center()) + QPointF(0.5, 0.5), 3.5, 3.5);
        painter.restore();
    }

    const qreal ratio = devicePixelRatioF();
    if (!m_geometry.localOnly.isEmpty())
        paintSymbolLine(painter, m_geometry.localOnly, QStringLiteral("icloud.slash"),
                        QStringLiteral("Nur lokal · nicht cloudgesichert"), Theme::font(12, QFont::DemiBold),
                        kWarning, ratio);
    paintSymbolLine(painter, m_geometry.caption, QStringLiteral("text.alignleft"),
                    QStringLiteral("Kommentar"), Theme::font(12, QFont::DemiBold), Theme::secondaryInk(),
                    ratio);
    if (!m_geometry.marks.isEmpty()) {
        painter.setFont(Theme::font(12));
        painter.setPen(Theme::secondaryInk());
        painter.drawText(m_geometry.marks, Qt::AlignLeft | Qt::AlignVCenter, marksText());
    }
}
