#include "annotation/TextInspector.h"

#include "annotation/AnnotationSession.h"
#include "annotation/WorkspaceControls.h"
#include "look/ElidedText.h"
#include "look/FocusFrame.h"
#include "look/Icons.h"
#include "look/Theme.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QClipboard>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPainter>
#include <QPainterPath>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollArea>
#include <QToolButton>
#include <QVBoxLayout>

namespace {
constexpr MarkColor kMarkerColors[] = {MarkColor::Yellow, MarkColor::Green, MarkColor::Coral, MarkColor::Blue,
                                       MarkColor::Purple};
constexpr MarkKind kMarkKinds[] = {MarkKind::Highlight, MarkKind::Rectangle, MarkKind::Cloud, MarkKind::Blur,
                                   MarkKind::Redact};

} // namespace

// One recognised line in the list: its whole text, tinted in the accent while selected.
class TextLineRow : public QAbstractButton {
public:
    TextLineRow(const RecognizedTextLine &line, QWidget *parent) : QAbstractButton(parent) {
        setText(line.text);
        setAccessibleName(QStringLiteral("Erkannter Text: ") + line.text);
        setFont(Theme::font(13));
        setCursor(Qt::PointingHandCursor);
        // Made after the editor set up its buttons: Tab only, as they are.
        setFocusPolicy(Qt::TabFocus);
        // Wrapped text: the column's layout asks for the height at its width.
        QSizePolicy policy(QSizePolicy::Preferred, QSizePolicy::Preferred);
        policy.setHeightForWidth(true);
        setSizePolicy(policy);
    }
    void setSelected(bool selected) {
        if (selected == m_selected)
            return;
        m_selected = selected;
        setAccessibleDescription(selected ? QStringLiteral("ausgewählt") : QString());
        update();
    }
    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override {
        const QRect bounds = fontMetrics().boundingRect(QRect(0, 0, std::max(width - 20, 1), 100000),
                                                        Qt::TextWordWrap, text());
        return bounds.height() + 20;
    }
    QSize sizeHint() const override { return {200, heightForWidth(200)}; }

protected:
    void paintEvent(QPaintEvent *) override {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        QColor back = m_selected ? editorAccent() : QColor(Qt::gray);
        back.setAlphaF(m_selected ? 0.08f : 0.045f);
        QPainterPath shape;
        shape.addRoundedRect(QRectF(rect()), 7, 7);
        painter.fillPath(shape, back);
        painter.setPen(m_selected ? editorAccent() : Theme::ink());
        painter.drawText(rect().adjusted(10, 10, -10, -10), Qt::TextWordWrap | Qt::AlignLeft | Qt::AlignTop,
                         text());
        if (hasFocus())
            FocusFrame::paint(painter, QRectF(rect()), 7);
    }

private:
    bool m_selected = false;
};

TextInspector::TextInspector(AnnotationSession *session, QWidget *parent)
    : QWidget(parent), m_session(session) {
    auto *layout = columnLayout(this, 0);

    auto *header = new QWidget(this);
    auto *head = new QVBoxLayout(header);
    head->setContentsMargins(16, 16, 16, 16);
    head->setSpacing(10);
    auto *titleRow = new QHBoxLayout;
    titleRow->addWidget(
        editorLabel(QStringLiteral("Texterkennung"), 14, QFont::DemiBold, false, header, false));
    titleRow->addStretch(1);
    titleRow->addSpacing(4);
    titleRow->addWidget(editorLabel(QStringLiteral("Lokal"), 11, QFont::Medium, true, header, false));
    head->addLayout(titleRow);
    head->addWidget(
        editorLabel(QStringLiteral("Wörter im Bild anklicken oder mit dem Textmarker überziehen."), 12,
                    QFont::Normal, true, header));
    auto *actions = new QHBoxLayout;
    actions->setSpacing(8);
    m_recognize = new QPushButton(symbolIcon(QStringLiteral("text.viewfinder")), QString(), header);
    m_recognize->setFont(Theme::font(12));
    m_recognize->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    connect(m_recognize, &QPushButton::clicked, m_session, &AnnotationSession::recognizeText);
    actions->addWidget(m_recognize, 1);
    m_cancel = new QToolButton(header);
    m_cancel->setIcon(symbolIcon(QStringLiteral("xmark")));
    m_cancel->setAutoRaise(true);
    m_cancel->setToolTip(QStringLiteral("Erkennung abbrechen"));
    m_cancel->setAccessibleName(QStringLiteral("Erkennung abbrechen"));
    connect(m_cancel, &QToolButton::clicked, m_session, [this] { m_session->recognition()->reset(); });
    actions->addWidget(m_cancel);
    head->addLayout(actions);
    layout->addWidget(header);
    layout->addWidget(hairline(this, Qt::Horizontal));

    auto *scroll = new QScrollArea(this);
    scroll->setFocusPolicy(Qt::NoFocus); // its controls are the stops
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setWidgetResizable(true);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    auto *content = new QWidget(scroll);
    auto *column = new QVBoxLayout(content);
    column->setContentsMargins(16, 16, 16, 16);
    column->setSpacing(16);

    m_progress = new QWidget(content);
    auto *progress = rowLayout(m_progress, 10);
    auto *busy = new QProgressBar(m_progress);
    busy->setRange(0, 0);
    busy->setTextVisible(false);
    busy->setFixedSize(32, 8);
    progress->addWidget(busy);
    progress->addWidget(
        editorLabel(QStringLiteral("Text wird im Bild gesucht …"), 12, QFont::Normal, true, m_progress), 1);
    column->addWidget(m_progress);

    m_error = editorLabel(QString(), 12, QFont::Normal, false, content);
    setColorIfChanged(m_error, QPalette::WindowText, QColor(Qt::red));
    column->addWidget(m_error);

    m_markerGroup = new QWidget(content);
    auto *marker = columnLayout(m_markerGroup, 12);
    m_marker = new QCheckBox(QStringLiteral("Textmarker im Bild"), m_markerGroup);
    m_marker->setFont(Theme::font(13, QFont::Medium));
    connect(m_marker, &QCheckBox::clicked, m_session, &AnnotationSession::setTextMarker);
    marker->addWidget(m_marker);
    auto *swatches = new QHBoxLayout;
    swatches->setSpacing(8);
    for (MarkColor color : kMarkerColors) {
        auto *swatch = new ColorSwatch(color, m_markerGroup);
        swatch->setAccessibleName(QStringLiteral("Markerfarbe: ") + MarkColors::title(color));
        connect(swatch, &ColorSwatch::clicked, m_session,
                [this, color] { m_session->setTextMarkerColor(color); });
        swatches->addWidget(swatch);
        m_swatches.append(swatch);
    }
    swatches->addStretch(1);
    marker->addLayout(swatches);
    marker->addWidget(hairline(m_markerGroup, Qt::Horizontal));
    column->addWidget(m_markerGroup);

    m_startHint = editorLabel(
        QStringLiteral("Starte die Erkennung, um Text im Screenshot zu markieren oder zu kopieren."), 13,
        QFont::Normal, true, content);
    column->addWidget(m_startHint);

    m_results = new QWidget(content);
    auto *results = columnLayout(m_results, 10);
    m_search = new QLineEdit(m_results);
    m_search->setPlaceholderText(QStringLiteral("Text suchen …"));
    m_search->setAccessibleName(QStringLiteral("Erkannten Text suchen"));
    m_search->setClearButtonEnabled(true);
    connect(m_search, &QLineEdit::textEdited, m_session, &AnnotationSession::setTextQuery);
    results->addWidget(m_search);
    m_count = editorLabel(QString(), 12, QFont::Medium, true, m_results, false);
    results->addWidget(m_count);
    m_message = editorLabel(QString(), 13, QFont::Normal, true, m_results);
    results->addWidget(m_message);
    m_rowsBox = new QWidget(m_results);
    m_rows = columnLayout(m_rowsBox, 6);
    results->addWidget(m_rowsBox);
    column->addWidget(m_results);
    column->addStretch(1);
    scroll->setWidget(content);
    layout->addWidget(scroll, 1);

    m_selected = new QWidget(this);
    m_selected->setAutoFillBackground(true);
    // Grey at 2.5 % over the white column.
    setColorIfChanged(m_selected, QPalette::Window, QColor::fromRgbF(0.9875f, 0.9875f, 0.9875f));
    auto *block = new QVBoxLayout(m_selected);
    block->setContentsMargins(16, 16, 16, 16);
    block->setSpacing(10);
    block->addWidget(editorLabel(QStringLiteral("Ausgewählter Text"), 12, QFont::DemiBold, true, m_selected));
    m_selectedText = editorLabel(QString(), 13, QFont::Normal, false, m_selected);
    m_selectedText->setTextInteractionFlags(Qt::TextSelectableByMouse);
    block->addWidget(m_selectedText);
    auto *buttons = new QHBoxLayout;
    buttons->setSpacing(8);
    m_copy = new QPushButton(QStringLiteral("Kopieren"), m_selected);
    connect(m_copy, &QPushButton::clicked, this, [this] {
        if (const std::optional<RecognizedTextLine> line = m_session->recognizedLine())
            QGuiApplication::clipboard()->setText(line->text);
    });
    m_mark = new QPushButton(QStringLiteral("Markieren"), m_selected);
    auto *kinds = new QMenu(m_mark);
    for (MarkKind kind : kMarkKinds) {
        kinds->addAction(MarkKinds::title(kind), m_session, [this, kind] {
            if (const std::optional<RecognizedTextLine> line = m_session->recognizedLine())
                m_session->markRecognized(*line, kind);
        });
    }
    m_mark->setMenu(kinds);
    for (QPushButton *button : {m_copy, m_mark}) {
        button->setFont(Theme::font(12));
        button->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
        buttons->addWidget(button, 1);
    }
    block->addLayout(buttons);
    m_selectedDivider = hairline(this, Qt::Horizontal);
    layout->addWidget(m_selectedDivider);
    layout->addWidget(m_selected);
    refresh();
}

QString TextInspector::message() const {
    return m_results->isVisibleTo(this) && m_message->isVisibleTo(this) ? m_message->text() : QString();
}

QStringList TextInspector::shownLines() const {
    QStringList texts;
    for (const QUuid &id : m_rowIds)
        if (TextLineRow *row = m_rowById.value(id); row && row->isVisibleTo(this))
            texts << row->text();
    return texts;
}

// Rows are made once per result and only shown or hidden while the query changes.
void TextInspector::rebuildRows() {
    const RecognizedTextLines &lines = m_session->recognition()->lines();
    QList<QUuid> ids;
    for (const RecognizedTextLine &line : lines)
        ids.append(line.id);
    if (ids == m_rowIds)
        return;
    qDeleteAll(m_rowById);
    m_rowById.clear();
    m_rowIds = ids;
    // New rows would come last in the Tab round; they belong where they show, after the search.
    QWidget *before = m_search;
    for (const RecognizedTextLine &line : lines) {
        auto *row = new TextLineRow(line, m_rowsBox);
        const QUuid id = line.id;
        connect(row, &TextLineRow::clicked, m_session, [this, id] { m_session->selectRecognizedLine(id); });
        m_rows->addWidget(row);
        m_rowById.insert(id, row);
        QWidget::setTabOrder(before, row);
        before = row;
    }
}

void TextInspector::refresh() {
    const TextRecognitionModel *model = m_session->recognition();
    const bool running = model->isRunning();
    const bool didRun = model->didRun();
    const QString label = running  ? QStringLiteral("Erkennung läuft …")
                          : didRun ? QStringLiteral("Erneut erkennen")
                                   : QStringLiteral("Text erkennen");
    setTextIfChanged(m_recognize, label);
    m_recognize->setEnabled(!running);
    m_cancel->setVisible(running);
    m_progress->setVisible(running);
    setTextIfChanged(m_error, model->error());
    m_error->setVisible(!model->error().isEmpty());

    const bool found = didRun && !model->lines().isEmpty();
    m_markerGroup->setVisible(found);
    if (m_marker->isChecked() != m_session->textMarker())
        m_marker->setChecked(m_session->textMarker());
    for (ColorSwatch *swatch : m_swatches)
        swatch->setCurrent(swatch->color() == m_session->textMarkerColor());
    m_startHint->setVisible(!didRun && !running && model->error().isEmpty());

    m_results->setVisible(didRun);
    if (m_search->text() != m_session->textQuery())
        m_search->setText(m_session->textQuery());
    rebuildRows();
    const RecognizedTextLines filtered = m_session->filteredLines();
    setTextIfChanged(m_count, QString::number(filtered.size()) + QStringLiteral(" Textstellen"));
    const QString message = model->lines().isEmpty() ? QStringLiteral("Kein lesbarer Text gefunden.")
                            : filtered.isEmpty()     ? QStringLiteral("Keine Treffer für diese Suche.")
                                                     : QString();
    setTextIfChanged(m_message, message);
    m_message->setVisible(!message.isEmpty());
    QSet<QUuid> shown;
    for (const RecognizedTextLine &line : filtered)
        shown.insert(line.id);
    for (auto it = m_rowById.cbegin(); it != m_rowById.cend(); ++it) {
        it.value()->setVisible(shown.contains(it.key()));
        it.value()->setSelected(m_session->recognizedSelection() == it.key());
    }

    const std::optional<RecognizedTextLine> line = m_session->recognizedLine();
    m_selected->setVisible(bool(line));
    m_selectedDivider->setVisible(bool(line));
    if (line) {
        const int width = std::max(m_selected->width() - 32, 120);
        setTextIfChanged(m_selectedText,
                         Elide::lines(line->text, m_selectedText->font(), width, 2).join(u'\n'));
        m_selectedText->setToolTip(line->text);
    }
}
