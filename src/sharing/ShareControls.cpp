#include "sharing/ShareControls.h"

#include "account/AccountStore.h"
#include "account/SheetParts.h"
#include "look/Theme.h"
#include "sharing/ImageShareStore.h"
#include "sharing/ShareLinksView.h"
#include "store/CollectionStore.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

using namespace SheetParts;

ShareControls::ShareControls(ImageShareStore *sharing, CollectionStore *store, QWidget *parent)
    : QWidget(parent), m_sharing(sharing), m_store(store),
      m_refresh(new CoalescedRefresh(this, [this] { refresh(); })) {
    m_hint = label(this, 12, QFont::Normal, Theme::secondaryInk());
    m_hint->setObjectName(QStringLiteral("hint"));
    m_busy = busyBar(this);
    m_busy->setObjectName(QStringLiteral("busy"));
    m_link = label(this, 12, QFont::Medium, Theme::ink(), false);
    m_link->setObjectName(QStringLiteral("link"));
    m_link->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_failure = label(this, 12, QFont::Medium, Theme::ink());
    m_failure->setObjectName(QStringLiteral("failure"));
    m_notice = label(this, 12, QFont::Normal, Theme::accent());
    m_notice->setObjectName(QStringLiteral("notice"));
    m_signIn = button(this, QStringLiteral("Anmelden"));
    m_share = button(this, QStringLiteral("Als Link teilen"), true);
    m_copy = button(this, QStringLiteral("Link kopieren"), true);
    m_revoke = button(this, QStringLiteral("Widerrufen"));
    m_allLinks = button(this, QStringLiteral("Alle Links"));

    auto *actions = new QHBoxLayout;
    actions->setSpacing(6);
    for (QPushButton *b : {m_signIn, m_share, m_copy, m_revoke})
        actions->addWidget(b);
    actions->addStretch(1);
    actions->addWidget(m_allLinks);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(6);
    layout->addWidget(m_hint);
    layout->addWidget(m_busy);
    layout->addWidget(m_link);
    layout->addLayout(actions);
    layout->addWidget(m_failure);
    layout->addWidget(m_notice);

    connect(m_signIn, &QPushButton::clicked, this, [this] { m_sharing->account()->setShowSheet(true); });
    connect(m_share, &QPushButton::clicked, this, [this] {
        if (m_snip)
            m_sharing->share(*m_snip, *m_store);
    });
    connect(m_copy, &QPushButton::clicked, this, [this] {
        if (const auto link = m_snip ? m_sharing->linkFor(m_snip->id) : std::nullopt)
            m_sharing->copy(*link);
    });
    connect(m_revoke, &QPushButton::clicked, this, [this] {
        if (const auto link = m_snip ? m_sharing->linkFor(m_snip->id) : std::nullopt)
            m_sharing->revoke(link->id);
    });
    connect(m_allLinks, &QPushButton::clicked, this, [this] {
        auto *sheet = new ShareLinksView(m_sharing, window());
        sheet->setAttribute(Qt::WA_DeleteOnClose);
        sheet->open();
    });
    connect(m_sharing, &ImageShareStore::stateChanged, m_refresh, &CoalescedRefresh::schedule);
    refresh();
}

ShareControls::~ShareControls() = default;

void ShareControls::setSnip(const std::optional<Snip> &snip) {
    m_snip = snip;
    refresh();
}

void ShareControls::refresh() {
    setShown(this, m_snip.has_value());
    if (!m_snip)
        return;
    const bool signedIn = m_sharing->signedIn();
    const bool sharing = signedIn && m_sharing->isSharing(m_snip->id);
    const auto link = signedIn ? m_sharing->linkFor(m_snip->id) : std::nullopt;

    QString hint;
    if (!signedIn)
        hint = QStringLiteral("Melde dich an, um dieses Bild als Link zu teilen.");
    else if (sharing)
        hint = QStringLiteral("Der Link wird erstellt …");
    else if (link)
        hint = QStringLiteral("Dieses Bild ist als Link geteilt.");
    else
        hint = QStringLiteral("Teile das Bild mit seinen Markierungen als Link, 7 Tage gültig.");
    setText(m_hint, hint);
    setShown(m_busy, sharing);
    setText(m_link, link ? link->url.toString(QUrl::FullyEncoded) : QString());
    setShown(m_link, link.has_value());
    setShown(m_signIn, !signedIn);
    setShown(m_share, signedIn && !link);
    enable(m_share, !sharing);
    setShown(m_copy, link.has_value());
    setShown(m_revoke, link.has_value());
    setShown(m_allLinks, signedIn);
    setText(m_failure, signedIn ? m_sharing->failure() : QString());
    setShown(m_failure, signedIn && !m_sharing->failure().isEmpty());
    setText(m_notice, signedIn ? m_sharing->notice() : QString());
    setShown(m_notice, signedIn && !m_sharing->notice().isEmpty());
}
