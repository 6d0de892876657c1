#pragma once

#include "account/AccountAPI.h"
#include "account/SecureHttpClient.h"

// The hosted authentication service (OAuth 2 authorisation code with PKCE). Endpoints are
// relative to a base address ending in "/auth/v1/".
class SupabaseAccountAPI final : public AccountAPI {
public:
    // Replies are refused above this size: tokens and user records are small.
    static constexpr qint64 kMaxReplyBytes = 1'000'000;

    SupabaseAccountAPI(const QString &clientID, const QUrl &base, bool allowLoopbackHttp = false);

    QUrl authorizationURL(const QString &challenge, const QString &state) const override;
    void exchangeCode(const QString &code, const QString &verifier, QObject *receiver,
                      std::function<void(AccountOutcome<AccountTokens>)> done) override;
    void refresh(const QString &refreshToken, QObject *receiver,
                 std::function<void(AccountOutcome<AccountTokens>)> done) override;
    void userInfo(const QString &accessToken, QObject *receiver,
                  std::function<void(AccountOutcome<AccountIdentity>)> done) override;
    void logout(const QString &accessToken, QObject *receiver,
                std::function<void(AccountProblem)> done) override;

private:
    QUrl endpoint(const QString &relative) const;
    void requestTokens(const QList<QPair<QString, QString>> &form, QObject *receiver,
                       std::function<void(AccountOutcome<AccountTokens>)> done);

    QString m_clientID;
    QUrl m_base;
    SecureHttpClient m_http;
};
