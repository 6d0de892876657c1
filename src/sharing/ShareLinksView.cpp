#include "sharing/ShareLinksView.h"

#include "account/SheetParts.h"
#include "look/Theme.h"
#include "sharing/ImageShareStore.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QScrollArea>
#include <QVBoxLayout>

using namespace SheetParts;

ShareLinksView::ShareLinksView(ImageShareStore *sharing, QWidget *parent)
    : QDialog(parent), m_sharing(sharing), m_refresh(new CoalescedRefresh(this, [this] { refresh(); })) {
    QVBoxLayout *layout = sheet(this, QStringLiteral("Geteilte Links"), 420, 360);
    auto *note = label(this, 12, QFont::Normal, Theme::secondaryInk());
    note->setText(
        QStringLiteral("Wer einen Link hat, sieht das Bild mit seinen Markierungen. Links sind 7 Tage "
                       "gültig; ein widerrufener Link zeigt nichts mehr."));
    m_rows = new RowList(this, QStringLiteral("Du hast noch keine Bilder geteilt."), QStringLiteral("link"));
    m_failure = label(this, 12, QFont::Medium, Theme::ink());
    m_failure->setObjectName(QStringLiteral("failure"));
    m_notice = label(this, 12, QFont::Normal, Theme::accent());
    m_notice->setObjectName(QStringLiteral("notice"));
    layout->addWidget(note);
    layout->addWidget(m_rows, 1);
    layout->addWidget(m_failure);
    layout->addWidget(m_notice);
    closeButton(this, layout);

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
    m_rows->setEmptyNoteShown(m_sharing->linksLoaded() && m_shown.isEmpty());
    setText(m_failure, m_sharing->failure());
    setShown(m_failure, !m_sharing->failure().isEmpty());
    setText(m_notice, m_sharing->notice());
    setShown(m_notice, !m_sharing->notice().isEmpty());
}

void ShareLinksView::rebuild() {
    QList<RowList::Row> rows;
    for (const ShareLink &link : std::as_const(m_shown))
        rows.append({link.url.toString(QUrl::FullyEncoded),
                     {{QStringLiteral("Kopieren"), [this, link] { m_sharing->copy(link); }},
                      {QStringLiteral("Widerrufen"), [this, id = link.id] { m_sharing->revoke(id); }}}});
    m_rows->setRows(rows, true);
}
