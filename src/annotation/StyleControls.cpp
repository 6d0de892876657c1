#include "annotation/StyleControls.h"

#include "annotation/AnnotationSession.h"
#include "annotation/WorkspaceControls.h"
#include "look/Theme.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

namespace {
struct Choice {
    const char16_t *title;
    double value;
};
constexpr Choice kWidths[] = {{u"Fein", 2}, {u"Mittel", 4}, {u"Stark", 8}};
constexpr Choice kBlurs[] = {{u"Leicht", 8}, {u"Mittel", 18}, {u"Stark", 32}};

// A labelled picker; the value of each entry is its item data.
QWidget *picker(const QString &title, const Choice (&choices)[3], QComboBox **combo, QWidget *parent) {
    auto *row = new QWidget(parent);
    auto *layout = rowLayout(row, 8);
    QLabel *label = editorLabel(title, 11, QFont::Normal, false, row);
    layout->addWidget(label);
    *combo = new QComboBox(row);
    // Screen readers name the picker by its label (its own name is the chosen entry).
    label->setBuddy(*combo);
    (*combo)->setFont(Theme::font(11));
    (*combo)->setAccessibleName(title);
    // Its popup hands the keyboard back to the canvas, so Strg+Z undoes the choice.
    (*combo)->setFocusPolicy(Qt::TabFocus);
    for (const Choice &c : choices)
        (*combo)->addItem(QString::fromUtf16(c.title), c.value);
    layout->addWidget(*combo, 1);
    return row;
}

// The entry showing `value`; none (a blank picker) for a value from elsewhere.
void showValue(QComboBox *combo, double value) {
    const int index = combo->findData(value);
    if (combo->currentIndex() != index)
        combo->setCurrentIndex(index);
}

} // namespace

StyleControls::StyleControls(AnnotationSession *session, QWidget *parent)
    : QWidget(parent), m_session(session) {
    auto *layout = columnLayout(this, 10);
    m_heading = editorLabel(QString(), 12, QFont::DemiBold, false, this);
    layout->addWidget(m_heading);
    m_redactNote = editorLabel(QStringLiteral("Schwärzungen bleiben immer vollständig deckend und schwarz."),
                               11, QFont::Normal, true, this);
    layout->addWidget(m_redactNote);
    m_blurRow = picker(QStringLiteral("Blur-Stärke"), kBlurs, &m_blur, this);
    layout->addWidget(m_blurRow);
    m_blurNote = editorLabel(QStringLiteral("Für vertrauliche Inhalte bitte Schwärzen verwenden."), 11,
                             QFont::Normal, true, this);
    layout->addWidget(m_blurNote);

    m_colorRow = new QWidget(this);
    auto *colors = rowLayout(m_colorRow, 4);
    for (MarkColor color : MarkColors::all()) {
        auto *swatch = new ColorSwatch(color, m_colorRow);
        connect(swatch, &ColorSwatch::clicked, this, [this, color] { m_session->chooseColor(color); });
        colors->addWidget(swatch);
        m_swatches.append(swatch);
    }
    colors->addStretch();
    layout->addWidget(m_colorRow);
    m_widthRow = picker(QStringLiteral("Linienstärke"), kWidths, &m_width, this);
    layout->addWidget(m_widthRow);

    connect(m_width, &QComboBox::activated, this,
            [this](int index) { m_session->chooseWidth(m_width->itemData(index).toDouble()); });
    connect(m_blur, &QComboBox::activated, this,
            [this](int index) { m_session->chooseBlurRadius(m_blur->itemData(index).toDouble()); });
    refresh();
}

void StyleControls::refresh() {
    const std::optional<Mark> selected = m_session->selected();
    const std::optional<MarkKind> kind =
        selected ? std::optional<MarkKind>(selected->kind) : m_session->tool();
    setTextIfChanged(m_heading,
                     selected ? QStringLiteral("Darstellung") : QStringLiteral("Für neue Markierungen"));
    const bool redact = kind == MarkKind::Redact;
    const bool blur = kind == MarkKind::Blur;
    m_redactNote->setVisible(redact);
    m_blurRow->setVisible(blur);
    m_blurNote->setVisible(blur);
    m_colorRow->setVisible(!redact && !blur);
    m_widthRow->setVisible(!redact && !blur && kind && MarkKinds::supportsStroke(*kind));

    const MarkColor color =
        selected ? selected->color.value_or(selected->displayColor()) : m_session->drawingColor();
    for (ColorSwatch *swatch : m_swatches)
        swatch->setCurrent(swatch->color() == color);
    showValue(m_width, selected ? selected->strokeWidth.value_or(4) : m_session->drawingWidth());
    showValue(m_blur, selected ? selected->effectiveBlurRadius() : m_session->drawingBlurRadius());
}
