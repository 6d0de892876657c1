#include "views/DocumentHeader.h"

#include "look/ElidedText.h"
#include "look/FieldText.h"
#include "look/Theme.h"
#include "model/Ids.h"
#include "store/CollectionStore.h"
#include "views/LibraryState.h"
#include "views/LibraryWidgets.h"

#include <QAbstractTextDocumentLayout>
#include <QBoxLayout>
#include <QDateTime>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPainter>
#include <QTextBlock>

namespace {

constexpr int kModeDateSpacing = 8;

class ModePicker : public QWidget {
public:
    using QWidget::QWidget;

protected:
    void paintEvent(QPaintEvent *) override {
        QPainter painter(this);
        LibraryPaint::roundedPanel(painter, QRectF(rect()), 10, LibraryPaint::withAlpha(Theme::ink(), 0.035));
    }
};

QPalette textPalette(QPalette palette, const QColor &text) {
    palette.setColor(QPalette::Base, Qt::transparent);
    palette.setColor(QPalette::Text, text);
    return palette;
}

} // namespace

QString collectionDateText(double referenceSeconds) {
    const QDateTime when = QDateTime::fromMSecsSinceEpoch(
        qint64(std::llround((referenceSeconds + kReferenceDateUnixOffset) * 1000.0)));
    return QLocale(QLocale::German, QLocale::Germany).toString(when.date(), QStringLiteral("d. MMMM yyyy"));
}

DescriptionField::DescriptionField(QWidget *parent) : QPlainTextEdit(parent) {
    setFrameShape(QFrame::NoFrame);
    setAcceptDrops(false);
    setTabChangesFocus(true);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setFont(Theme::font(15));
    setPalette(textPalette(palette(), Theme::secondaryInk()));
    viewport()->setAutoFillBackground(false);
    document()->setDocumentMargin(0);
    setPlaceholderText(QStringLiteral("Beschreibung hinzufügen …"));
    setAccessibleName(QStringLiteral("Beschreibung der Sammlung"));
}

void DescriptionField::setDescription(const QString &text) {
    if (FieldText::holds(document(), text))
        return;
    m_updating = true;
    setPlainText(text);
    m_updating = false;
}

int DescriptionField::neededHeight() const {
    const int line = fontMetrics().lineSpacing();
    int lines = 0;
    for (QTextBlock block = document()->begin(); block.isValid(); block = block.next())
        lines += std::max(1, block.layout() ? block.layout()->lineCount() : 1);
    return std::clamp(lines, 1, 4) * line + 2;
}

DocumentHeader::DocumentHeader(LibraryState *state, QWidget *parent) : QWidget(parent), m_state(state) {
    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 2);
    column->setSpacing(16);
    QFont kicker = Theme::font(11, QFont::DemiBold);
    kicker.setLetterSpacing(QFont::AbsoluteSpacing, 1);
    column->addWidget(makeLabel(QStringLiteral("SAMMLUNG"), kicker, Theme::secondaryInk(), this));

    m_title = new ElidingLineEdit(this);
    m_title->setFrame(false);
    m_title->setAcceptDrops(false);
    m_title->setFont(Theme::font(30, QFont::DemiBold));
    m_title->setPalette(textPalette(m_title->palette(), Theme::ink()));
    m_title->setPlaceholderText(QStringLiteral("Titel deiner Sammlung"));
    m_title->setAccessibleName(QStringLiteral("Titel der Sammlung"));
    m_title->setTextMargins(0, 0, 0, 0);
    connect(m_title, &QLineEdit::textEdited, this, [this](const QString &text) {
        m_state->store()->editCurrent([text](SnipCollection &c) { c.title = text; });
    });
    column->addWidget(m_title);

    m_description = new DescriptionField(this);
    connect(m_description, &QPlainTextEdit::textChanged, this, [this] {
        if (m_description->isUpdating())
            return;
        const QString text = FieldText::typed(m_description->document());
        m_state->store()->editCurrent([text](SnipCollection &c) { c.subtitle = text; });
    });
    connect(m_description->document()->documentLayout(), &QAbstractTextDocumentLayout::documentSizeChanged,
            this, [this] {
                const int height = m_description->neededHeight();
                if (height == m_lastDescriptionHeight)
                    return;
                m_lastDescriptionHeight = height;
                m_description->setFixedHeight(height);
                Q_EMIT heightChanged();
            });
    m_lastDescriptionHeight = m_description->neededHeight();
    m_description->setFixedHeight(m_lastDescriptionHeight);
    column->addWidget(m_description);

    m_modePicker = new ModePicker(this);
    auto *modes = new QHBoxLayout(m_modePicker);
    modes->setContentsMargins(3, 3, 3, 3);
    modes->setSpacing(3);
    for (const CollectionMode mode : CollectionModes::all()) {
        FlatButton::Look look = FlatButton::Look::plain(LibraryPaint::withAlpha(Theme::ink(), 0.75),
                                                        Theme::font(12, QFont::Medium));
        look.radius = 7;
        look.padding = QMargins(12, 9, 12, 9);
        auto *button = new FlatButton(look, CollectionModes::title(mode), m_modePicker);
        button->setCheckable(true);
        connect(button, &QAbstractButton::clicked, this, [this, mode] {
            m_state->store()->editCurrent([mode](SnipCollection &c) { c.mode = mode; });
            refresh();
        });
        modes->addWidget(button);
        m_modes.append(button);
    }
    m_dateBox = new QWidget(this);
    auto *dateLayout = new QHBoxLayout(m_dateBox);
    dateLayout->setContentsMargins(0, 0, 0, 0);
    dateLayout->setSpacing(6);
    dateLayout->addWidget(new SymbolLabel(QStringLiteral("calendar"), 13, Theme::secondaryInk(), m_dateBox));
    m_date = makeLabel(QString(), Theme::font(12), Theme::secondaryInk(), m_dateBox);
    dateLayout->addWidget(m_date);
    m_modeLine = new QBoxLayout(QBoxLayout::LeftToRight);
    m_modeLine->setSpacing(kModeDateSpacing);
    m_modeLine->addWidget(m_modePicker, 0, Qt::AlignLeft | Qt::AlignVCenter);
    m_modeLine->addStretch(1);
    m_modeLine->addWidget(m_dateBox, 0, Qt::AlignLeft | Qt::AlignVCenter);
    column->addLayout(m_modeLine);

    // The rule keeps 6 points more above it than the rows keep between them.
    auto *rule = new QWidget(this);
    auto *ruleLayout = new QVBoxLayout(rule);
    ruleLayout->setContentsMargins(0, 6, 0, 0);
    ruleLayout->addWidget(new Divider(Qt::Horizontal, rule));
    column->addWidget(rule);

    auto *countLine = new QHBoxLayout;
    countLine->addWidget(
        makeLabel(QStringLiteral("Screenshots"), Theme::font(16, QFont::DemiBold), Theme::ink(), this));
    m_count = makeLabel(QString(), Theme::font(13), Theme::secondaryInk(), this);
    countLine->addWidget(m_count);
    countLine->addStretch(1);
    m_picker = new LayoutPicker(state, this);
    countLine->addWidget(m_picker);
    column->addLayout(countLine);
}

void DocumentHeader::setCollection(const SnipCollection &collection) {
    setTextIfChanged(m_title, collection.title);
    m_description->setDescription(collection.subtitle);
    m_date->setText(collectionDateText(collection.createdAt));
    m_count->setText(QString::number(collection.items.size()));
    refresh();
}

void DocumentHeader::refresh() {
    const std::optional<SnipCollection> current = m_state->store()->current();
    for (qsizetype i = 0; i < m_modes.size(); ++i) {
        FlatButton *button = m_modes[i];
        const bool selected = current && current->mode == CollectionModes::all()[size_t(i)];
        FlatButton::Look look = button->look();
        const QColor color = selected ? Theme::surface() : LibraryPaint::withAlpha(Theme::ink(), 0.75);
        const QColor background = selected ? Theme::accent() : QColor(Qt::transparent);
        if (look.color != color || look.background != background) {
            look.color = color;
            look.background = background;
            button->setLook(look);
        }
        button->setChecked(selected);
    }
    m_picker->refresh();
}

QWidget *DocumentHeader::lastInFocusChain() const {
    return m_picker->compactButton();
}

void DocumentHeader::arrange(int width) const {
    const int needed = m_modePicker->sizeHint().width() + kModeDateSpacing + m_dateBox->sizeHint().width();
    const bool stacked = needed > width;
    if (stacked == m_stacked)
        return;
    m_stacked = stacked;
    m_modeLine->setDirection(stacked ? QBoxLayout::TopToBottom : QBoxLayout::LeftToRight);
    m_modeLine->setSpacing(stacked ? 12 : kModeDateSpacing);
    layout()->invalidate();
}

int DocumentHeader::heightForWidth(int width) const {
    arrange(width);
    return layout()->sizeHint().height();
}

void DocumentHeader::resizeEvent(QResizeEvent *event) {
    arrange(width());
    QWidget::resizeEvent(event);
}
