#include "views/SessionBar.h"

#include "look/TextDirection.h"
#include "look/Theme.h"
#include "store/CollectionStore.h"
#include "views/LibraryState.h"
#include "views/LibraryWidgets.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>

namespace {

FlatButton *makeBorderedButton(const QString &text, bool prominent, QWidget *parent) {
    FlatButton::Look look =
        FlatButton::Look::plain(prominent ? Theme::surface() : Theme::ink(), Theme::font(13, QFont::Medium));
    look.background = prominent ? Theme::accent() : Theme::surface();
    look.pressedBackground = prominent ? LibraryPaint::withAlpha(Theme::accent(), 0.78) : Theme::canvas();
    look.border = prominent ? QColor(Qt::transparent) : Theme::hairline();
    look.radius = 6;
    look.padding = QMargins(12, 6, 12, 6);
    return new FlatButton(look, text, parent);
}

void run(const std::function<void()> &action) {
    if (action)
        action();
}

} // namespace

SessionBar::SessionBar(LibraryState *state, QWidget *parent) : QWidget(parent), m_state(state) {
    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(24, 10, 24, 10);
    layout->setSpacing(12);
    m_symbol = new SymbolLabel(QStringLiteral("record.circle"), 20, Theme::accent(), this);
    layout->addWidget(m_symbol);
    auto *lines = new QVBoxLayout;
    lines->setSpacing(3);
    m_headline = makeElidedLabel(QString(), Theme::font(13, QFont::DemiBold), Theme::ink(), this);
    m_detail = makeElidedLabel(QString(), Theme::font(12), Theme::secondaryInk(), this);
    for (QLabel *label : {m_headline, m_detail}) {
        label->setMinimumWidth(40);
        label->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
        lines->addWidget(label);
    }
    layout->addLayout(lines, 1);
    layout->addSpacing(4);
    m_panel = makeBorderedButton(QStringLiteral("Sammelleiste"), false, this);
    m_pause = makeBorderedButton(QStringLiteral("Pausieren"), false, this);
    m_finish = makeBorderedButton(QStringLiteral("Sammeln beenden"), true, this);
    connect(m_panel, &QAbstractButton::clicked, this, [this] { run(m_state->actions().showPanel); });
    connect(m_pause, &QAbstractButton::clicked, this, [this] { run(m_state->actions().pause); });
    connect(m_finish, &QAbstractButton::clicked, this, [this] { run(m_state->actions().finish); });
    layout->addWidget(m_panel);
    layout->addWidget(m_pause);
    layout->addWidget(m_finish);
    refresh();
}

QString SessionBar::symbol() const {
    return m_symbol->symbol();
}

void SessionBar::refresh() {
    CollectionStore *store = m_state->store();
    const OptionalCaptureSession session = store->session();
    const std::optional<SnipCollection> collection = session ? store->sessionCollection() : std::nullopt;
    setVisible(session && collection);
    if (!session || !collection)
        return;
    const bool paused = session->isPaused;
    const QString title = collection->title.isEmpty() ? QStringLiteral("Ohne Titel") : collection->title;
    m_symbol->setSymbol(paused ? QStringLiteral("pause.circle") : QStringLiteral("record.circle"));
    m_headline->setText(paused ? QStringLiteral("Sammeln pausiert")
                               : QStringLiteral("Aufnahmeziel: ") + TextDirection::isolated(title));
    m_detail->setText(paused ? collection->title
                             : QStringLiteral("Neue globale Aufnahmen werden hier hinzugefügt."));
    m_panel->setText(paused ? QStringLiteral("Fortsetzen") : QStringLiteral("Sammelleiste"));
    m_pause->setVisible(!paused);
    setEnabled(!m_state->busy());
}

void SessionBar::paintEvent(QPaintEvent *) {
    QPainter(this).fillRect(rect(), LibraryPaint::withAlpha(Theme::accent(), 0.065));
}
