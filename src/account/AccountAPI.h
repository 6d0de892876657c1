#pragma once

#include <QObject>
#include <QString>
#include <QUrl>

#include <functional>
#include <optional>

// The signed-in user as the authentication service names them.
struct AccountIdentity {
    QString sub; // the user's id; owner of backups and shares
    std::optional<QString> email;

    bool operator==(const AccountIdentity &other) const = default;
};

// The tokens of one grant; expiresIn counts seconds from the moment the reply arrived.
struct AccountTokens {
    QString accessToken;
    QString refreshToken;
    double expiresIn = 0;
};

// Why a call to the authentication service gave no result.
enum class AccountProblem {
    None,
    Unreachable, // no connection, timeout, or a server error
    Rejected,    // the service refused the code, refresh token or access token
    Unexpected,  // a redirect, an oversized or malformed reply
};

template <typename T> struct AccountOutcome {
    std::optional<T> value;
    AccountProblem problem = AccountProblem::None;
};

// The authentication service. Results arrive on the main thread and are dropped when the
// receiver is gone.
class AccountAPI {
public:
    virtual ~AccountAPI() = default;

    // The page the browser opens to sign in, for a PKCE challenge and a state value.
    virtual QUrl authorizationURL(const QString &challenge, const QString &state) const = 0;
    virtual void exchangeCode(const QString &code, const QString &verifier, QObject *receiver,
                              std::function<void(AccountOutcome<AccountTokens>)> done) = 0;
    virtual void refresh(const QString &refreshToken, QObject *receiver,
                         std::function<void(AccountOutcome<AccountTokens>)> done) = 0;
    virtual void userInfo(const QString &accessToken, QObject *receiver,
                          std::function<void(AccountOutcome<AccountIdentity>)> done) = 0;
    // Ends the session at the service; the result only tells whether the service heard it.
    virtual void logout(const QString &accessToken, QObject *receiver,
                        std::function<void(AccountProblem)> done) = 0;
};
