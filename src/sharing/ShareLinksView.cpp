#include "sharing/ShareLinksView.h"

#include "account/SheetParts.h"
#include "sharing/ImageShareStore.h"
#include "views/Theme.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QScrollArea>
#include <QVBoxLayout>

using namespace SheetParts;

ShareLinksView::ShareLinksView(ImageShareStore *sharing, QWidget *parent)
    : QDialog(parent), m_sharing(sharing), m_refresh(new CoalescedRefresh(this, [this] { refresh(); })) {
    setWindowTitle(QStringLiteral("Geteilte Links"));
    setWindowModality(Qt::WindowModal);
    setMinimumSize(420, 360);
    QPalette palette = this->palette();
    palette.setColor(QPalette::Window, Theme::surface());
    setPalette(palette);

    auto *title = label(this, 20, QFont::DemiBold, Theme::ink());
    title->setText(QStringLiteral("Geteilte Links"));
    auto *note = label(this, 12, QFont::Normal, Theme::secondaryInk());
    note->setText(
        QStringLiteral("Wer einen Link hat, sieht das Bild mit seinen Markierungen. Links sind 7 Tage "
                       "gültig; ein widerrufener Link zeigt nichts mehr."));
    auto *rows = new QWidget;
    m_rows = new QVBoxLayout(rows);
    m_rows->setContentsMargins(0, 0, 0, 0);
    m_rows->setSpacing(6);
    m_empty = label(rows, 12, QFont::Normal, Theme::secondaryInk());
    m_empty->setText(QStringLiteral("Du hast noch keine Bilder geteilt."));
    m_rows->addWidget(m_empty);
    m_rows->addStretch(1);
    auto *scroll = new QScrollArea(this);
    scroll->setWidget(rows);
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    m_failure = label(this, 12, QFont::Medium, Theme::ink());
    m_failure->setObjectName(QStringLiteral("failure"));
    m_notice = label(this, 12, QFont::Normal, Theme::accent());
    m_notice->setObjectName(QStringLiteral("notice"));
    auto *close = button(this, QStringLiteral("Schließen"));
    auto *footer = new QHBoxLayout;
    footer->addStretch(1);
    footer->addWidget(close);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(24, 22, 24, 18);
    layout->setSpacing(10);
    layout->addWidget(title);
    layout->addWidget(note);
    layout->addWidget(scroll, 1);
    layout->addWidget(m_failure);
    layout->addWidget(m_notice);
    layout->addLayout(footer);

    connect(close, &QPushButton::clicked, this, &QDialog::reject);
    connect(m_sharing, &ImageShareStore::stateChanged, m_refresh, &CoalescedRefresh::schedule);
    refresh();
}

ShareLinksView::~ShareLinksView() = default;

void ShareLinksView::showEvent(QShowEvent *event) {
    QDialog::showEvent(event);
    m_sharing->refreshLinks();
}

void ShareLinksView::refresh() {
    if (m_sharing->links() != m_shown) {
        m_shown = m_sharing->links();
        rebuild();
    }
    setShown(m_empty, m_sharing->linksLoaded() && m_shown.isEmpty());
    setText(m_failure, m_sharing->failure());
    setShown(m_failure, !m_sharing->failure().isEmpty());
    setText(m_notice, m_sharing->notice());
    setShown(m_notice, !m_sharing->notice().isEmpty());
}

void ShareLinksView::rebuild() {
    while (m_rows->count() > 2) {
        QLayoutItem *item = m_rows->takeAt(1);
        delete item->widget();
        delete item;
    }
    for (qsizetype i = 0; i < m_shown.size(); ++i) {
        const ShareLink link = m_shown[i];
        auto *row = new QWidget;
        row->setObjectName(QStringLiteral("link"));
        auto *line = new QHBoxLayout(row);
        line->setContentsMargins(0, 2, 0, 2);
        auto *text = label(row, 13, QFont::Normal, Theme::ink(), false);
        text->setText(link.url.toString(QUrl::FullyEncoded));
        text->setTextInteractionFlags(Qt::TextSelectableByMouse);
        auto *copy = button(row, QStringLiteral("Kopieren"));
        auto *revoke = button(row, QStringLiteral("Widerrufen"));
        line->addWidget(text, 1);
        line->addWidget(copy);
        line->addWidget(revoke);
        m_rows->insertWidget(int(i) + 1, row);
        connect(copy, &QPushButton::clicked, this, [this, link] { m_sharing->copy(link); });
        connect(revoke, &QPushButton::clicked, this, [this, link] { m_sharing->revoke(link.id); });
    }
}
