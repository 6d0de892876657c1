#include "views/CollectionPanelView.h"

#include "account/SheetParts.h"
#include "annotation/AnnotationCanvas.h"
#include "common/Background.h"
#include "look/ElidedText.h"
#include "look/FieldText.h"
#include "look/FocusFrame.h"
#include "look/Theme.h"
#include "model/AppFailure.h"
#include "sharing/ShareControls.h"
#include "store/CollectionStore.h"
#include "views/LibraryWidgets.h"
#include "views/PreviewCache.h"

#include <QHBoxLayout>
#include <QHash>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QSet>
#include <QStyle>
#include <QStyleOptionFrame>
#include <QToolButton>
#include <QVBoxLayout>

#include <cmath>

namespace {

const QString kUntitled = QStringLiteral("Ohne Titel");
// Large enough for the preview at twice the panel's size, small enough to scale in a blink.
constexpr QSize kPreviewPixels{780, 600};
constexpr QSize kThumbnailSize{56, 40};
constexpr QSize kThumbnailPixels{112, 80};
constexpr int kThumbnailGap = 6;
// How far the focus frame stands out around a thumbnail, within the gap.
constexpr int kFrameRoom = 4;
// The widest a collection's title may be in the destination menu, so the menu stays near the
// panel and on the screen.
constexpr int kMenuTitleWidth = 240;

QString displayTitle(const QString &title) {
    return title.trimmed().isEmpty() ? kUntitled : title;
}

QString snipCount(qsizetype count) {
    if (count == 0)
        return QStringLiteral("Noch keine Ausschnitte");
    return count == 1 ? QStringLiteral("1 Ausschnitt")
                      : QString::number(count) + QStringLiteral(" Ausschnitte");
}

// A small picture of a snip file, decoded scaled: the full image never enters memory.
// Through the previews' decoder: only a regular file, within the image limits, so the strip never
// waits on a pipe someone left in Images.
QImage readThumbnail(const QString &path) {
    return Previews::decode(
        path, [](QSize stored) { return stored.scaled(kThumbnailPixels, Qt::KeepAspectRatioByExpanding); });
}

} // namespace

// The row of the collection's snips; a click picks one. Thumbnails are read when they come
// into view and kept per image file. For the keyboard the row is one Tab stop whose arrow keys
// pick the snip shown, so every snip's title and note can be reached without the mouse.
class SnipStrip : public QWidget {
public:
    SnipStrip(CollectionStore *store, std::function<void(const QUuid &)> picked, QWidget *parent)
        : QWidget(parent), m_store(store), m_picked(std::move(picked)) {
        setCursor(Qt::PointingHandCursor);
        setFocusPolicy(Qt::NoFocus);
        setAccessibleName(QStringLiteral("Ausschnitte"));
    }

    void setItems(const QList<Snip> &items, const QUuid &selected) {
        QList<QPair<QUuid, QString>> next;
        for (const Snip &snip : items)
            next.append({snip.id, snip.imageFile});
        if (next == m_items && selected == m_selected)
            return;
        m_items = next;
        m_selected = selected;
        QSet<QString> files;
        for (const auto &item : std::as_const(m_items))
            files.insert(item.second);
        m_thumbnails.removeIf([&](auto it) { return !files.contains(it.key()); });
        // Without snips there is nothing to stop at.
        setFocusPolicy(m_items.isEmpty() ? Qt::NoFocus : Qt::TabFocus);
        describeShown();
        setFixedSize(int(m_items.size()) * (kThumbnailSize.width() + kThumbnailGap) + kThumbnailGap,
                     kThumbnailSize.height() + 2 * kThumbnailGap);
        update();
    }

    int indexOf(const QUuid &id) const {
        for (qsizetype i = 0; i < m_items.size(); ++i)
            if (m_items[i].first == id)
                return int(i);
        return -1;
    }

    QRect itemRect(int index) const {
        return {kThumbnailGap + index * (kThumbnailSize.width() + kThumbnailGap), kThumbnailGap,
                kThumbnailSize.width(), kThumbnailSize.height()};
    }

    QVariant inputMethodQuery(Qt::InputMethodQuery query) const override {
        // What the scroll area brings on screen when the keyboard arrives by Tab.
        if (query == Qt::ImCursorRectangle && !m_items.isEmpty())
            return itemRect(std::max(0, indexOf(m_selected)));
        return QWidget::inputMethodQuery(query);
    }

protected:
    void keyPressEvent(QKeyEvent *event) override {
        const int shown = indexOf(m_selected);
        const qsizetype next = steppedItem(event, shown, m_items.size(), m_items.size());
        if (next < 0) {
            QWidget::keyPressEvent(event);
            return;
        }
        // Shown at once, so a second key pressed before the panel refreshes moves on from here.
        if (next != shown) {
            m_selected = m_items[next].first;
            describeShown();
            update();
            m_picked(m_selected);
        }
    }

    void focusInEvent(QFocusEvent *event) override {
        QWidget::focusInEvent(event);
        update();
    }

    void focusOutEvent(QFocusEvent *event) override {
        QWidget::focusOutEvent(event);
        update();
    }

    void mousePressEvent(QMouseEvent *event) override {
        for (qsizetype i = 0; i < m_items.size(); ++i) {
            if (itemRect(int(i)).contains(event->position().toPoint())) {
                m_picked(m_items[i].first);
                return;
            }
        }
    }

    void paintEvent(QPaintEvent *event) override {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        for (qsizetype i = 0; i < m_items.size(); ++i) {
            const QRect rect = itemRect(int(i));
            if (!rect.intersects(event->rect()))
                continue;
            QPainterPath shape;
            shape.addRoundedRect(rect, 5, 5);
            painter.save();
            painter.setClipPath(shape);
            painter.fillRect(rect, Theme::hairline());
            const auto thumbnail = m_thumbnails.constFind(m_items[i].second);
            if (thumbnail == m_thumbnails.constEnd())
                request(m_items[i].second);
            else if (!thumbnail->isNull())
                painter.drawImage(rect, *thumbnail, centredCrop(thumbnail->size(), rect.size()));
            painter.restore();
            const bool selected = m_items[i].first == m_selected;
            painter.setPen(QPen(selected ? Theme::accent() : Theme::hairline(), selected ? 2.0 : 1.0));
            painter.setBrush(Qt::NoBrush);
            painter.drawRoundedRect(QRectF(rect).adjusted(0.5, 0.5, -0.5, -0.5), 5, 5);
        }
        // Around the shown snip, in the gap beside it, so its own selected edge stays visible.
        if (hasFocus() && !m_items.isEmpty()) {
            const QRectF shown = QRectF(itemRect(std::max(0, indexOf(m_selected))));
            FocusFrame::paint(painter, shown.adjusted(-kFrameRoom, -kFrameRoom, kFrameRoom, kFrameRoom),
                              5 + kFrameRoom);
        }
    }

private:
    // Screen readers hear which of the snips is shown.
    void describeShown() {
        const int shown = indexOf(m_selected);
        setAccessibleDescription(shown < 0 ? QString()
                                           : QStringLiteral("Ausschnitt ") + QString::number(shown + 1) +
                                                 QStringLiteral(" von ") + QString::number(m_items.size()));
    }

    static QRect centredCrop(QSize source, QSize target) {
        const QSize crop = target.scaled(source, Qt::KeepAspectRatio);
        return {(source.width() - crop.width()) / 2, (source.height() - crop.height()) / 2, crop.width(),
                crop.height()};
    }

    void request(const QString &file) {
        if (m_loading.contains(file))
            return;
        QString path;
        try {
            path = m_store->imageURL(file);
        } catch (const AppFailure &) {
            m_thumbnails.insert(file, QImage());
            return;
        }
        m_loading.insert(file);
        Background::run(
            this, [path] { return readThumbnail(path); },
            [this, file](const QImage &image) {
                m_loading.remove(file);
                if (indexOfFile(file) < 0)
                    return;
                m_thumbnails.insert(file, image);
                update();
            });
    }

    int indexOfFile(const QString &file) const {
        for (qsizetype i = 0; i < m_items.size(); ++i)
            if (m_items[i].second == file)
                return int(i);
        return -1;
    }

    CollectionStore *m_store;
    std::function<void(const QUuid &)> m_picked;
    QList<QPair<QUuid, QString>> m_items;
    QUuid m_selected;
    QHash<QString, QImage> m_thumbnails;
    QSet<QString> m_loading;
};

namespace {

QPushButton *primaryButton(QWidget *parent) {
    auto *button = new QPushButton(parent);
    button->setFont(Theme::font(15, QFont::DemiBold));
    button->setCursor(Qt::PointingHandCursor);
    button->setStyleSheet(QStringLiteral("QPushButton { color: white; background: %1; border: none; "
                                         "border-radius: 8px; padding: 10px 22px; }"
                                         "QPushButton:pressed { background: rgba(20, 107, 245, 199); }"
                                         "QPushButton:disabled { background: rgba(20, 107, 245, 102); }")
                              .arg(Theme::accent().name()));
    return button;
}

// The same as the share controls' and the sheets' buttons beside them.
QPushButton *secondaryButton(QWidget *parent) {
    return SheetParts::button(parent, QString());
}

// Its padding leaves the focus frame room around the text.
QPushButton *linkButton(const QString &text, QWidget *parent) {
    auto *button = new QPushButton(text, parent);
    button->setFlat(true);
    button->setCursor(Qt::PointingHandCursor);
    button->setFont(Theme::font(12, QFont::Medium));
    button->setStyleSheet(
        QStringLiteral(
            "QPushButton { color: %1; border: none; padding: 0 6px; } QPushButton:disabled { color: %2; }")
            .arg(Theme::accent().name(), Theme::disabledInk().name()));
    return button;
}

// Without a snip the title and note cannot take text; they must not look as if they could.
QPalette fieldPalette(QPalette palette) {
    palette.setColor(QPalette::Disabled, QPalette::Base, Theme::canvas());
    palette.setColor(QPalette::Disabled, QPalette::PlaceholderText, Theme::disabledInk());
    palette.setColor(QPalette::Disabled, QPalette::Text, Theme::disabledInk());
    return palette;
}

} // namespace

CollectionPanelView::CollectionPanelView(CollectionStore *store, ImageShareStore *sharing,
                                         std::function<void()> capture, std::function<void()> openEditor,
                                         std::function<void()> finish, std::function<void()> pause,
                                         QWidget *parent)
    : QWidget(parent), m_store(store), m_capture(std::move(capture)), m_pause(std::move(pause)) {
    setAutoFillBackground(true);
    QPalette palette = this->palette();
    palette.setColor(QPalette::Window, Theme::canvas());
    setPalette(palette);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(14, 12, 14, 12);
    layout->setSpacing(8);

    auto *header = new QHBoxLayout;
    auto *titles = new QVBoxLayout;
    titles->setSpacing(1);
    m_heading = makeElidedLabel(QString(), Theme::font(16, QFont::DemiBold), Theme::ink(), this);
    m_detail = makeElidedLabel(QString(), Theme::font(12), Theme::secondaryInk(), this);
    titles->addWidget(m_heading);
    titles->addWidget(m_detail);
    header->addLayout(titles, 1);
    m_destination = new QToolButton(this);
    m_destination->setText(QStringLiteral("Ziel ▾"));
    m_destination->setFont(Theme::font(13, QFont::Medium));
    m_destination->setCursor(Qt::PointingHandCursor);
    m_destination->setStyleSheet(
        QStringLiteral(
            "QToolButton { color: %1; background: white; border: 1px solid %2; border-radius: 7px; "
            "padding: 5px 10px; } QToolButton:disabled { color: %3; } "
            "QToolButton::menu-indicator { image: none; width: 0; }")
            .arg(Theme::ink().name(), Theme::hairline().name(), Theme::disabledInk().name()));
    m_destination->setPopupMode(QToolButton::InstantPopup);
    m_destination->setToolTip(QStringLiteral("Wohin der nächste Ausschnitt kommt"));
    auto *destinations = new QMenu(m_destination);
    m_destination->setMenu(destinations);
    connect(destinations, &QMenu::aboutToShow, this, &CollectionPanelView::fillDestinationMenu);
    header->addWidget(m_destination, 0, Qt::AlignTop);
    layout->addLayout(header);

    m_previewFrame = new QWidget(this);
    m_previewFrame->setMinimumHeight(60);
    m_previewFrame->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    m_previewFrame->installEventFilter(this);
    m_canvas = new AnnotationCanvas(AnnotatedCapture{}, m_previewFrame);
    m_canvas->setAttribute(Qt::WA_TransparentForMouseEvents);
    m_canvas->setFocusPolicy(Qt::NoFocus);
    m_canvas->hide();
    m_placeholder = makeLabel(QString(), Theme::font(13), Theme::secondaryInk(), m_previewFrame);
    m_placeholder->setAlignment(Qt::AlignCenter);
    layout->addWidget(m_previewFrame, 1);

    m_openEditor = linkButton(QStringLiteral("Im Editor ansehen"), this);
    connect(m_openEditor, &QPushButton::clicked, this, [openEditor] { openEditor(); });
    layout->addWidget(m_openEditor, 0, Qt::AlignRight);

    m_stripArea = new QScrollArea(this);
    m_stripArea->setFrameShape(QFrame::NoFrame);
    m_stripArea->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_stripArea->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    // A click on a thumbnail leaves the keyboard in the field the user types in.
    m_stripArea->setFocusPolicy(Qt::NoFocus);
    m_stripArea->setFixedHeight(kThumbnailSize.height() + 2 * kThumbnailGap +
                                m_stripArea->horizontalScrollBar()->sizeHint().height());
    m_strip = new SnipStrip(
        store, [this](const QUuid &id) { m_store->selectPanelSnip(id); }, m_stripArea);
    m_stripArea->setWidget(m_strip);
    m_stripArea->setBackgroundRole(QPalette::Window);
    revealTabFocus(m_stripArea);
    layout->addWidget(m_stripArea);

    m_title = new ElidingLineEdit(this);
    m_title->setPalette(fieldPalette(m_title->palette()));
    m_title->setPlaceholderText(QStringLiteral("Titel"));
    m_title->setAccessibleName(QStringLiteral("Titel"));
    m_title->setFont(Theme::font(14, QFont::Medium));
    m_title->setAcceptDrops(false);
    connect(m_title, &QLineEdit::textEdited, this, [this](const QString &text) {
        m_store->editPanelSnip(m_snipID, m_collectionID, [text](Snip &snip) { snip.title = text; });
    });
    layout->addWidget(m_title);

    m_noteRow = new QWidget(this);
    auto *noteLayout = new QVBoxLayout(m_noteRow);
    noteLayout->setContentsMargins(0, 0, 0, 0);
    noteLayout->setSpacing(4);
    m_note = new QPlainTextEdit(m_noteRow);
    m_note->setPalette(fieldPalette(m_note->palette()));
    m_note->setPlaceholderText(QStringLiteral("Notiz"));
    m_note->setAccessibleName(QStringLiteral("Notiz"));
    m_note->setFont(Theme::font(13));
    // Four lines where there is room; near the panel's 500 px it gives way down to two lines
    // instead of sliding under the link below it.
    const int noteFrame = 2 * (m_note->frameWidth() + int(std::ceil(m_note->document()->documentMargin())));
    m_note->setMinimumHeight(2 * m_note->fontMetrics().lineSpacing() + noteFrame);
    m_note->setMaximumHeight(64);
    m_note->setAcceptDrops(false);
    m_note->setTabChangesFocus(true);
    connect(m_note, &QPlainTextEdit::textChanged, this, [this] {
        const QString text = FieldText::typed(m_note->document());
        // Also fires when refresh() fills the field: only the user's typing is an edit.
        const std::optional<Snip> shown = m_store->panelSnip();
        if (!shown || shown->id != m_snipID || FieldText::shown(shown->note) == text)
            return;
        m_store->editPanelSnip(m_snipID, m_collectionID, [text](Snip &snip) { snip.note = text; });
    });
    noteLayout->addWidget(m_note);
    // The title's text and placeholder start as far in as the note's: the note keeps its
    // document margin inside its frame, the line edit only Qt's own 2 px.
    QStyleOptionFrame titleFrame;
    titleFrame.initFrom(m_title);
    const int titleInset =
        m_title->style()->pixelMetric(QStyle::PM_DefaultFrameWidth, &titleFrame, m_title) + 2;
    const int noteInset = m_note->frameWidth() + int(std::lround(m_note->document()->documentMargin()));
    const int extra = std::max(0, noteInset - titleInset);
    m_title->setTextMargins(extra, 0, extra, 0);
    auto *details = linkButton(QStringLiteral("Details im Editor"), m_noteRow);
    connect(details, &QPushButton::clicked, this, [openEditor] { openEditor(); });
    noteLayout->addWidget(details, 0, Qt::AlignRight);
    layout->addWidget(m_noteRow);

    m_share = new ShareControls(sharing, store, this);
    layout->addWidget(m_share);

    m_primary = primaryButton(this);
    connect(m_primary, &QPushButton::clicked, this, [this] { m_capture(); });
    layout->addWidget(m_primary);
    auto *buttons = new QHBoxLayout;
    buttons->setSpacing(8);
    m_secondary = secondaryButton(this);
    connect(m_secondary, &QPushButton::clicked, this, [this] { m_pause(); });
    m_finish = secondaryButton(this);
    m_finish->setText(QStringLiteral("Sammlung abschließen"));
    connect(m_finish, &QPushButton::clicked, this, [finish] { finish(); });
    buttons->addWidget(m_secondary, 1);
    buttons->addWidget(m_finish, 1);
    layout->addLayout(buttons);

    m_status = makeLabel(QString(), Theme::font(12), Theme::secondaryInk(), this);
    m_status->setWordWrap(true);
    layout->addWidget(m_status);

    // Buttons take the keyboard from Tab only: a click leaves it where the user types, and a
    // button that kept it would be pressed by the next space or Return typed into the panel. The
    // one that has it shows the focus frame.
    for (QAbstractButton *button : findChildren<QAbstractButton *>()) {
        button->setFocusPolicy(Qt::TabFocus);
        const auto *push = qobject_cast<QPushButton *>(button);
        FocusFrame::attach(button, button == m_primary ? 8 : push && push->isFlat() ? 4 : 7);
    }

    for (auto signal : {&CollectionStore::collectionsChanged, &CollectionStore::captureChoiceChanged,
                        &CollectionStore::sessionChanged, &CollectionStore::sessionSnipIDChanged,
                        &CollectionStore::panelSelectionsChanged, &CollectionStore::statusChanged,
                        &CollectionStore::isCapturingChanged, &CollectionStore::isExportingChanged})
        connect(store, signal, this, &CollectionPanelView::scheduleRefresh);
    refresh();
}

CollectionPanelView::~CollectionPanelView() = default;

void CollectionPanelView::scheduleRefresh() {
    if (m_refreshPending)
        return;
    m_refreshPending = true;
    QMetaObject::invokeMethod(this, &CollectionPanelView::refresh, Qt::QueuedConnection);
}

void CollectionPanelView::refresh() {
    m_refreshPending = false;
    // A control disabled or hidden below while it has the keyboard hands it on to the next one
    // in the tab chain, as if Tab had been pressed; it is parked instead.
    const QPointer<QWidget> focused = window()->focusWidget();
    const OptionalCaptureChoice choice = m_store->captureChoice();
    const std::optional<SnipCollection> collection = m_store->panelCollection();
    const std::optional<Snip> snip = m_store->panelSnip();
    const OptionalCaptureSession session = m_store->session();

    QString heading, detail;
    if (choice && choice->isNewCollection()) {
        // Where the first capture lands: an empty collection is filled before a new one is made.
        const std::optional<SnipCollection> empty = m_store->reusableEmptyCollection();
        heading = empty ? displayTitle(empty->title) : QStringLiteral("Neue Sammlung");
        detail = QStringLiteral("Ziel für den nächsten Ausschnitt");
    } else if (collection) {
        heading = displayTitle(collection->title);
        detail =
            choice ? QStringLiteral("Ziel für den nächsten Ausschnitt") : snipCount(collection->items.size());
        if (!choice && session && session->isPaused)
            detail += QStringLiteral(" · pausiert");
    } else {
        heading = QStringLiteral("Keine Sammelrunde");
    }
    setTextIfChanged(m_heading, heading);
    setTextIfChanged(m_detail, detail);

    m_collectionID = collection ? collection->id : QUuid();
    m_strip->setItems(collection ? collection->items : QList<Snip>(), snip ? snip->id : QUuid());
    // A strip left without snips takes no keys and shows no frame: the keyboard is parked.
    if (window()->focusWidget() == m_strip && m_strip->focusPolicy() == Qt::NoFocus)
        setFocus(Qt::OtherFocusReason);
    // The shown snip comes into view when it changes, not while the user scrolls the strip.
    if (snip && snip->id != m_stripScrolledTo) {
        const int index = m_strip->indexOf(snip->id);
        if (index >= 0)
            m_stripArea->ensureVisible(m_strip->itemRect(index).center().x(), 0, 40, 0);
        m_stripScrolledTo = snip->id;
    }
    showSnip(snip);

    const bool busy = m_store->isBusy();
    setTextIfChanged(m_primary,
                     choice ? QStringLiteral("Ausschnitt aufnehmen") : QStringLiteral("Nächster Ausschnitt"));
    setTextIfChanged(m_secondary, choice ? QStringLiteral("Abbrechen") : QStringLiteral("Pausieren"));
    m_primary->setEnabled(!busy);
    m_finish->setVisible(!choice);
    m_finish->setEnabled(session.has_value() && !m_store->isCapturing());
    setTextIfChanged(m_status, m_store->status());
    if (focused && isAncestorOf(focused) && window()->focusWidget() != focused)
        setFocus(Qt::OtherFocusReason);
}

void CollectionPanelView::showSnip(const std::optional<Snip> &snip) {
    m_snipID = snip ? snip->id : QUuid();
    // A control about to be disabled or hidden would pass the keyboard on to the next button in
    // the tab chain.
    const QWidget *focus = window()->focusWidget();
    if (!snip && focus &&
        (focus == m_title || focus == m_note || focus == m_openEditor || m_share->isAncestorOf(focus)))
        setFocus(Qt::OtherFocusReason);
    m_title->setEnabled(snip.has_value());
    m_note->setEnabled(snip.has_value());
    m_openEditor->setEnabled(snip.has_value());
    const QString title = snip ? snip->title : QString();
    if (m_title->text() != title)
        m_title->setText(title);
    const QString note = snip ? snip->note : QString();
    if (!FieldText::holds(m_note->document(), note))
        m_note->setPlainText(note);
    m_share->setSnip(snip);

    if (!snip) {
        m_previewFile.clear();
        m_canvas->hide();
        setTextIfChanged(m_placeholder, QStringLiteral("Noch kein Ausschnitt"));
        m_placeholder->show();
        return;
    }
    AnnotatedCapture configuration = m_canvas->configuration();
    if (configuration.marks != snip->marks) {
        configuration.marks = snip->marks;
        m_canvas->setConfiguration(configuration);
    }
    if (snip->imageFile == m_previewFile)
        return;
    m_previewFile = snip->imageFile;
    m_canvas->hide();
    m_placeholder->clear();
    m_placeholder->show();
    const QString file = snip->imageFile;
    m_store->requestImage(*snip, this, [this, file](const QImage &image) {
        if (file != m_previewFile)
            return;
        if (image.isNull()) {
            m_placeholder->setText(QStringLiteral("Bild nicht verfügbar"));
            return;
        }
        const QSize size = image.size();
        // Scaling a large capture takes longer than a frame: off the main thread.
        Background::run(
            this,
            [image] {
                return image.width() > kPreviewPixels.width() || image.height() > kPreviewPixels.height()
                           ? image.scaled(kPreviewPixels, Qt::KeepAspectRatio, Qt::SmoothTransformation)
                           : image;
            },
            [this, file, size](const QImage &scaled) {
                if (file != m_previewFile)
                    return;
                AnnotatedCapture configuration = m_canvas->configuration();
                configuration.image = scaled;
                m_canvas->setConfiguration(configuration);
                m_imageSize = size;
                m_placeholder->hide();
                m_canvas->show();
                layoutPreview();
            });
    });
}

void CollectionPanelView::layoutPreview() {
    const QRect area = m_previewFrame->rect();
    m_placeholder->setGeometry(area);
    if (m_imageSize.isEmpty())
        return;
    QRect fitted(QPoint(), m_imageSize.scaled(area.size(), Qt::KeepAspectRatio));
    fitted.moveCenter(area.center());
    m_canvas->setGeometry(fitted);
}

void CollectionPanelView::fillDestinationMenu() {
    QMenu *menu = m_destination->menu();
    menu->clear();
    const bool busy = m_store->isBusy();
    // The tick goes where the next capture goes: the choice made here, else the running round's
    // collection, else a new collection (an empty one is filled first).
    CaptureChoice current = CaptureChoice::newCollection();
    if (const OptionalCaptureChoice choice = m_store->captureChoice())
        current = *choice;
    else if (const OptionalUuid active = m_store->activeCollectionID())
        current = CaptureChoice::existing(*active);
    // Long titles are cut, never the count that tells two alike apart; on a narrow screen the
    // titles give way further.
    const QScreen *screen = m_destination->screen();
    const int room =
        std::min(kMenuTitleWidth, screen ? screen->availableGeometry().width() / 2 : kMenuTitleWidth);
    const auto entry = [&](const SnipCollection &collection) {
        const QString count = QStringLiteral(" · ") + snipCount(collection.items.size());
        return Elide::line(displayTitle(collection.title), menu->font(), room) + count;
    };
    auto add = [&](const QString &title, const CaptureChoice &target) {
        QAction *action = menu->addAction(title);
        action->setCheckable(true);
        action->setChecked(current == target);
        action->setEnabled(!busy);
        connect(action, &QAction::triggered, this, [this, target] { m_store->prepareCapture(target); });
    };
    add(QStringLiteral("Neue Sammlung"), CaptureChoice::newCollection());
    menu->addSeparator();
    // An existing collection carries its count, so one titled like the entry above stays apart.
    for (const SnipCollection &collection : m_store->collections())
        add(entry(collection), CaptureChoice::existing(collection.id));
}

void CollectionPanelView::setCompact(bool compact) {
    if (compact == m_compact)
        return;
    m_compact = compact;
    // Hidden with the keyboard, the strip or the note would hand it on to the next control.
    const QWidget *focus = window()->focusWidget();
    if (compact && focus && (m_stripArea->isAncestorOf(focus) || m_noteRow->isAncestorOf(focus)))
        setFocus(Qt::OtherFocusReason);
    m_stripArea->setVisible(!compact);
    m_noteRow->setVisible(!compact);
}

bool CollectionPanelView::event(QEvent *event) {
    // Sent before Qt hands the keyboard to the window's focus widget, or else to the first
    // control in the tab chain: the "Ziel ▾" button, where a space opens its menu.
    if (event->type() == QEvent::WindowActivate)
        parkFocus();
    return QWidget::event(event);
}

void CollectionPanelView::parkFocus() {
    const QWidget *focus = window()->focusWidget();
    if (focus && isAncestorOf(focus) && focus->isEnabled() && focus->isVisible())
        return;
    setFocus(Qt::OtherFocusReason);
}

void CollectionPanelView::mousePressEvent(QMouseEvent *event) {
    QWidget::mousePressEvent(event);
    // A click into the title or note while they take no text ends up here: the keyboard leaves
    // the control it was on, so what the user types next goes nowhere.
    const QWidget *under = childAt(event->position().toPoint());
    if (under && !under->isEnabled() && (under == m_title || under == m_note || m_note->isAncestorOf(under)))
        setFocus(Qt::MouseFocusReason);
}

bool CollectionPanelView::eventFilter(QObject *watched, QEvent *event) {
    if (watched == m_previewFrame && event->type() == QEvent::Resize)
        layoutPreview();
    return QWidget::eventFilter(watched, event);
}

void CollectionPanelView::resizeEvent(QResizeEvent *event) {
    QWidget::resizeEvent(event);
    setCompact(height() < kCompactBelowHeight);
}

void CollectionPanelView::showEvent(QShowEvent *event) {
    QWidget::showEvent(event);
    refresh();
    layoutPreview();
}
