#include "views/Footer.h"

#include "look/Theme.h"
#include "store/CollectionStore.h"
#include "views/DesktopLinks.h"
#include "views/LibraryState.h"
#include "views/LibraryWidgets.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>

namespace {

class Dot : public QWidget {
public:
    explicit Dot(QWidget *parent) : QWidget(parent) { setFixedSize(9, 9); }
    QColor color;

protected:
    void paintEvent(QPaintEvent *) override {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(Qt::NoPen);
        painter.setBrush(color);
        painter.drawEllipse(QRectF(rect()));
    }
};

} // namespace

Footer::Footer(LibraryState *state, QWidget *parent) : QWidget(parent), m_state(state) {
    setFixedHeight(44);
    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(30, 0, 30, 0);
    layout->setSpacing(10);
    m_dot = new Dot(this);
    layout->addWidget(m_dot);
    const QFont font = Theme::font(12);
    m_status = makeElidedLabel(QString(), font, Theme::secondaryInk(), this);
    layout->addWidget(m_status, 0);
    const FlatButton::Look look = FlatButton::Look::plain(Theme::accent(), font);
    m_restore = new FlatButton(look, QStringLiteral("Sammlung wiederherstellen"), this);
    connect(m_restore, &QAbstractButton::clicked, this,
            [this] { m_state->store()->restoreDeletedCollection(); });
    layout->addWidget(m_restore);
    layout->addStretch(1);
    m_reveal = new FlatButton(look, QStringLiteral("Export im Dateimanager zeigen"), this);
    connect(m_reveal, &QAbstractButton::clicked, this, [this] {
        const QString path = m_state->store()->exportURL();
        DesktopLinks::revealFile(path, this, [this, path] {
            if (CollectionStore *store = m_state->store())
                store->setError(DesktopLinks::folderNotOpened(path));
        });
    });
    layout->addWidget(m_reveal);
    m_shortcut = makeLabel(QStringLiteral("Strg+Umschalt+Leertaste"), font, Theme::secondaryInk(), this);
    layout->addWidget(m_shortcut);
    refresh();
}

void Footer::refresh() {
    CollectionStore *store = m_state->store();
    m_saved = store->saveState() == CollectionStore::SaveState::Saved;
    static_cast<Dot *>(m_dot)->color = m_saved ? Theme::accent() : QColor(0xFF, 0x95, 0x00);
    m_dot->update();
    if (m_saved)
        m_status->setText(store->collectionNotice().isEmpty() ? QStringLiteral("Alle Änderungen gesichert")
                                                              : store->collectionNotice());
    else
        m_status->setText(store->saveStateText());
    m_restore->setVisible(!store->deletedCollections().isEmpty());
    m_restore->setEnabled(!m_state->busy());
    const bool exported = !store->exportURL().isEmpty();
    m_reveal->setVisible(exported);
    m_shortcut->setVisible(!exported);
}

void Footer::paintEvent(QPaintEvent *) {
    QPainter painter(this);
    painter.fillRect(rect(), Theme::surface());
    painter.fillRect(QRect(0, 0, width(), 1), Theme::hairline());
}
