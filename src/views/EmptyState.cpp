#include "views/EmptyState.h"

#include "look/Theme.h"
#include "store/CollectionStore.h"
#include "views/LibraryState.h"
#include "views/LibraryWidgets.h"

#include <QLabel>
#include <QPainter>
#include <QVBoxLayout>

EmptyState::EmptyState(LibraryState *state, QWidget *parent) : QWidget(parent), m_state(state) {
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(20, 65, 20, 65);
    layout->setSpacing(18);
    layout->addWidget(new SymbolLabel(QStringLiteral("viewfinder"), 42, Theme::accent(), this), 0,
                      Qt::AlignHCenter);
    auto *title = makeLabel(QStringLiteral("Noch keine Screenshots"), Theme::font(22, QFont::DemiBold),
                            Theme::ink(), this);
    layout->addWidget(title, 0, Qt::AlignHCenter);
    // Two sentences, one per line; the 4 points between them are the text's line spacing.
    auto *lines = new QVBoxLayout;
    lines->setSpacing(4);
    for (const QString &sentence :
         {QStringLiteral("Nimm einen Bildschirmausschnitt auf oder importiere ein Bild."),
          QStringLiteral("Danach kannst du es markieren und kommentieren.")}) {
        QLabel *label = makeLabel(sentence, Theme::font(14), Theme::secondaryInk(), this);
        label->setAlignment(Qt::AlignHCenter);
        label->setWordWrap(true);
        lines->addWidget(label);
    }
    layout->addLayout(lines);
    m_capture = makeCaptureButton(QStringLiteral("Ersten Ausschnitt aufnehmen"), this);
    connect(m_capture, &QAbstractButton::clicked, this, [this] {
        m_state->setShowingAll(false);
        m_state->captureIntoCurrent();
    });
    layout->addWidget(m_capture, 0, Qt::AlignHCenter);
    m_import = new FlatButton(FlatButton::Look::plain(Theme::accent(), Theme::font(12)),
                              QStringLiteral("Oder vorhandene Bilder importieren"), this);
    connect(m_import, &QAbstractButton::clicked, this, [this] {
        m_state->setShowingAll(false);
        m_state->store()->importImages();
    });
    layout->addWidget(m_import, 0, Qt::AlignHCenter);
    refresh();
}

void EmptyState::refresh() {
    m_capture->setEnabled(!m_state->busy());
    m_import->setEnabled(!m_state->importing());
}

void EmptyState::paintEvent(QPaintEvent *) {
    QPainter painter(this);
    LibraryPaint::roundedPanel(painter, QRectF(rect()), 14, Theme::surface(), Theme::hairline());
}
