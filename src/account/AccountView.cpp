#include "account/AccountView.h"

#include "account/AccountStore.h"
#include "account/SheetParts.h"
#include "look/Theme.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

using namespace SheetParts;

AccountView::AccountView(AccountStore *account, std::function<void()> openBackups, QWidget *parent)
    : QDialog(parent), m_account(account), m_openBackups(std::move(openBackups)),
      m_refresh(new CoalescedRefresh(this, [this] { refresh(); })) {
    QVBoxLayout *layout = sheet(this, QStringLiteral("Account"), 420);
    m_heading = label(this, 15, QFont::DemiBold, Theme::ink());
    m_heading->setObjectName(QStringLiteral("heading"));
    m_explanation = label(this, 13, QFont::Normal, Theme::secondaryInk());
    m_explanation->setObjectName(QStringLiteral("explanation"));
    m_busy = busyBar(this);
    m_busy->setObjectName(QStringLiteral("busy"));
    m_keyringNote = label(this, 12, QFont::Normal, Theme::secondaryInk());
    m_keyringNote->setObjectName(QStringLiteral("keyringNote"));
    m_keyringNote->setText(AccountStore::kKeyringMissing);
    m_message = label(this, 12, QFont::Medium, Theme::ink());
    m_message->setObjectName(QStringLiteral("message"));

    m_signIn = button(this, QStringLiteral("Anmelden / Registrieren"), true);
    m_cancel = button(this, QStringLiteral("Anmeldung abbrechen"));
    m_manage = button(this, QStringLiteral("Account im Browser verwalten"));
    m_backups = button(this, QStringLiteral("Cloud-Sicherung"), true);
    m_signOut = button(this, QStringLiteral("Abmelden"));

    auto *actions = new QHBoxLayout;
    actions->setSpacing(8);
    for (QPushButton *b : {m_signIn, m_cancel, m_backups, m_manage, m_signOut})
        actions->addWidget(b);
    actions->addStretch(1);

    layout->addWidget(m_heading);
    layout->addWidget(m_explanation);
    layout->addWidget(m_busy);
    layout->addLayout(actions);
    layout->addWidget(m_keyringNote);
    layout->addWidget(m_message);
    layout->addStretch(0);
    closeButton(this, layout);

    connect(m_signIn, &QPushButton::clicked, m_account, &AccountStore::signIn);
    connect(m_cancel, &QPushButton::clicked, m_account, &AccountStore::cancelSignIn);
    connect(m_manage, &QPushButton::clicked, m_account, &AccountStore::openAccountPage);
    connect(m_signOut, &QPushButton::clicked, m_account, &AccountStore::signOut);
    connect(m_backups, &QPushButton::clicked, this, [this] {
        // The backup sheet takes this sheet's place.
        reject();
        if (m_openBackups)
            m_openBackups();
    });
    connect(m_account, &AccountStore::stateChanged, m_refresh, &CoalescedRefresh::schedule);
    connect(m_account, &AccountStore::identityChanged, m_refresh, &CoalescedRefresh::schedule);
    refresh();
}

AccountView::~AccountView() = default;

void AccountView::refresh() {
    const auto &identity = m_account->identity();
    const bool waiting = m_account->waitingForBrowser();
    const bool busy = m_account->busy();
    const bool signedIn = identity.has_value() && !waiting && !busy;

    QString heading;
    QString explanation;
    if (busy) {
        heading = QStringLiteral("Anmeldung wird abgeschlossen …");
        explanation = QStringLiteral("Vellumbox holt deine Anmeldung beim Anmeldedienst ab.");
    } else if (waiting) {
        heading = QStringLiteral("Weiter im Browser");
        explanation = QStringLiteral("Melde dich im geöffneten Browserfenster an. Danach geht es hier von "
                                     "selbst weiter.");
    } else if (signedIn) {
        heading = identity->email.value_or(QStringLiteral("Dein Account"));
        explanation = QStringLiteral("Du bist angemeldet. Deine Sammlungen lassen sich in der Cloud sichern "
                                     "und einzelne Bilder als Link teilen.");
    } else {
        heading = QStringLiteral("Nicht angemeldet");
        explanation = QStringLiteral("Mit einem Account sicherst du deine Sammlungen in der Cloud und teilst "
                                     "einzelne Bilder als Link. Alles andere funktioniert auch ohne.");
    }
    setText(m_heading, heading);
    setText(m_explanation, explanation);
    setShown(m_busy, waiting || busy);
    setShown(m_signIn, !signedIn && !waiting && !busy);
    setShown(m_cancel, waiting || busy);
    setShown(m_manage, signedIn);
    setShown(m_backups, signedIn);
    setShown(m_signOut, signedIn);
    setShown(m_keyringNote, !m_account->keyringAvailable());
    setText(m_message, m_account->message());
    setShown(m_message, !m_account->message().isEmpty());
    fitToContent(this);
}

void AccountView::showEvent(QShowEvent *event) {
    fitToContent(this);
    QDialog::showEvent(event);
}
