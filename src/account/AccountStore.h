#pragma once

#include <QObject>
#include <QString>
#include <QUrl>
#include <QUuid>

#include <functional>
#include <memory>
#include <optional>

class AccountAPI;
class AccountVault;

namespace AccountConfiguration {
// The desktop application's OAuth client at the authentication service.
inline const QString clientID = QStringLiteral("4e9b2d70-8c1f-4a36-9e5d-2b7c61f0a8d4");
} // namespace AccountConfiguration

// The signed-in user as the authentication service names them.
struct AccountIdentity {
    QString sub; // the user's id; owner of backups and shares
    std::optional<QString> email;

    bool operator==(const AccountIdentity &other) const = default;
};
using OptionalAccountIdentity = std::optional<AccountIdentity>;

// The optional account: browser sign-in, the session in the keyring, token refresh. Main thread.
class AccountStore : public QObject {
    Q_OBJECT
    Q_PROPERTY(OptionalAccountIdentity identity READ identity NOTIFY identityChanged)
    Q_PROPERTY(bool showSheet READ showSheet WRITE setShowSheet NOTIFY showSheetChanged)

public:
    // Without an api or vault the production ones are made; without openURL the desktop opens it.
    explicit AccountStore(const QString &clientID, std::unique_ptr<AccountAPI> api = {},
                          std::unique_ptr<AccountVault> vault = {},
                          std::function<bool(const QUrl &)> openURL = {}, QObject *parent = nullptr);
    ~AccountStore() override;

    // Once at launch: restores the stored session and starts the maintenance timer.
    void start();
    // A URL of the application's scheme that the desktop handed over.
    void handle(const QUrl &url);

    const OptionalAccountIdentity &identity() const { return m_identity; }
    bool showSheet() const { return m_showSheet; }
    void setShowSheet(bool value);

Q_SIGNALS:
    void identityChanged();
    void showSheetChanged();

private:
    OptionalAccountIdentity m_identity;
    bool m_showSheet = false;
};
