#include "account/AccountStore.h"

// Placeholder until the account is built: never signed in.
AccountStore::AccountStore(const QString &, std::unique_ptr<AccountAPI>, std::unique_ptr<AccountVault>,
                           std::function<bool(const QUrl &)>, QObject *parent)
    : QObject(parent) {}

AccountStore::~AccountStore() = default;

void AccountStore::start() {}

void AccountStore::handle(const QUrl &) {}

void AccountStore::setShowSheet(bool value) {
    if (m_showSheet == value)
        return;
    m_showSheet = value;
    Q_EMIT showSheetChanged();
}
