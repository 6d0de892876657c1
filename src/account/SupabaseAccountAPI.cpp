#include "account/SupabaseAccountAPI.h"

#include "account/AccountConfiguration.h"
#include "account/AccountSession.h"
#include "account/ServiceJson.h"

#include <QUrlQuery>

#include <cmath>

namespace {

constexpr double kMaxLifetime = 366.0 * 24 * 3600;

AccountProblem problemOf(const HttpReply &reply) {
    switch (reply.problem) {
    case HttpReply::Problem::Unreachable:
        return AccountProblem::Unreachable;
    case HttpReply::Problem::TooLarge:
    case HttpReply::Problem::AddressRefused:
        return AccountProblem::Unexpected;
    case HttpReply::Problem::None:
        break;
    }
    if (reply.status == 400 || reply.status == 401 || reply.status == 403)
        return AccountProblem::Rejected;
    if (reply.status >= 500)
        return AccountProblem::Unreachable;
    return AccountProblem::Unexpected;
}

std::optional<AccountTokens> readTokens(const QByteArray &body) {
    return readServiceJson<AccountTokens>(body, [](const json::Value &root) {
        AccountTokens tokens;
        tokens.accessToken = json::readString(json::member(root, "access_token"));
        tokens.refreshToken = json::readString(json::member(root, "refresh_token"));
        tokens.expiresIn = json::readDouble(json::member(root, "expires_in"));
        const QString type = json::readString(json::member(root, "token_type"));
        if (type.compare(u"bearer", Qt::CaseInsensitive) != 0 ||
            !AccountChecks::validToken(tokens.accessToken) ||
            !AccountChecks::validToken(tokens.refreshToken) || !std::isfinite(tokens.expiresIn) ||
            tokens.expiresIn <= 0 || tokens.expiresIn > kMaxLifetime)
            throw json::DecodeError("unusable grant");
        return tokens;
    });
}

std::optional<AccountIdentity> readIdentity(const QByteArray &body) {
    return readServiceJson<AccountIdentity>(body, [](const json::Value &root) {
        AccountIdentity identity;
        identity.sub = json::readString(json::member(root, "sub"));
        if (const auto email = json::optionalMember(root, "email"))
            identity.email = json::readString(*email);
        if (identity.email && identity.email->isEmpty())
            identity.email.reset();
        if (!AccountChecks::validUserID(identity.sub) ||
            (identity.email && !AccountChecks::validEmail(*identity.email)))
            throw json::DecodeError("unusable user");
        return identity;
    });
}

QByteArray bearer(const QString &token) {
    return "Bearer " + token.toLatin1();
}

} // namespace

SupabaseAccountAPI::SupabaseAccountAPI(const QString &clientID, const QUrl &base, bool allowLoopbackHttp)
    : m_clientID(clientID), m_base(base), m_http(allowLoopbackHttp) {}

QUrl SupabaseAccountAPI::endpoint(const QString &relative) const {
    return m_base.resolved(QUrl(relative));
}

QUrl SupabaseAccountAPI::authorizationURL(const QString &challenge, const QString &state) const {
    QUrl url = endpoint(QStringLiteral("oauth/authorize"));
    QUrlQuery query;
    query.addQueryItem(QStringLiteral("response_type"), QStringLiteral("code"));
    query.addQueryItem(QStringLiteral("client_id"), m_clientID);
    query.addQueryItem(QStringLiteral("redirect_uri"), AccountConfiguration::redirectURI);
    query.addQueryItem(QStringLiteral("code_challenge"), challenge);
    query.addQueryItem(QStringLiteral("code_challenge_method"), QStringLiteral("S256"));
    query.addQueryItem(QStringLiteral("state"), state);
    url.setQuery(query.query(QUrl::FullyEncoded), QUrl::StrictMode);
    return url;
}

void SupabaseAccountAPI::requestTokens(const QList<QPair<QString, QString>> &form, QObject *receiver,
                                       std::function<void(AccountOutcome<AccountTokens>)> done) {
    QByteArray body;
    for (const auto &[name, value] : form)
        body += (body.isEmpty() ? "" : "&") + name.toLatin1() + '=' + QUrl::toPercentEncoding(value);
    HttpRequest request;
    request.method = "POST";
    request.url = endpoint(QStringLiteral("oauth/token"));
    request.headers = {{"Content-Type", "application/x-www-form-urlencoded"}, {"Accept", "application/json"}};
    request.body = body;
    request.maxReplyBytes = kMaxReplyBytes;
    m_http.send(std::move(request), receiver, [done = std::move(done)](const HttpReply &reply) {
        AccountOutcome<AccountTokens> outcome;
        if (!reply.succeeded())
            outcome.problem = problemOf(reply);
        else if (!(outcome.value = readTokens(reply.body)))
            outcome.problem = AccountProblem::Unexpected;
        done(std::move(outcome));
    });
}

void SupabaseAccountAPI::exchangeCode(const QString &code, const QString &verifier, QObject *receiver,
                                      std::function<void(AccountOutcome<AccountTokens>)> done) {
    requestTokens({{QStringLiteral("grant_type"), QStringLiteral("authorization_code")},
                   {QStringLiteral("code"), code},
                   {QStringLiteral("redirect_uri"), AccountConfiguration::redirectURI},
                   {QStringLiteral("client_id"), m_clientID},
                   {QStringLiteral("code_verifier"), verifier}},
                  receiver, std::move(done));
}

void SupabaseAccountAPI::refresh(const QString &refreshToken, QObject *receiver,
                                 std::function<void(AccountOutcome<AccountTokens>)> done) {
    requestTokens({{QStringLiteral("grant_type"), QStringLiteral("refresh_token")},
                   {QStringLiteral("refresh_token"), refreshToken},
                   {QStringLiteral("client_id"), m_clientID}},
                  receiver, std::move(done));
}

void SupabaseAccountAPI::userInfo(const QString &accessToken, QObject *receiver,
                                  std::function<void(AccountOutcome<AccountIdentity>)> done) {
    HttpRequest request;
    request.url = endpoint(QStringLiteral("oauth/userinfo"));
    request.headers = {{"Authorization", bearer(accessToken)}, {"Accept", "application/json"}};
    request.maxReplyBytes = kMaxReplyBytes;
    m_http.send(std::move(request), receiver, [done = std::move(done)](const HttpReply &reply) {
        AccountOutcome<AccountIdentity> outcome;
        if (!reply.succeeded())
            outcome.problem = problemOf(reply);
        else if (!(outcome.value = readIdentity(reply.body)))
            outcome.problem = AccountProblem::Unexpected;
        done(std::move(outcome));
    });
}

void SupabaseAccountAPI::logout(const QString &accessToken, QObject *receiver,
                                std::function<void(AccountProblem)> done) {
    HttpRequest request;
    request.method = "POST";
    request.url = endpoint(QStringLiteral("logout?scope=local"));
    request.headers = {{"Authorization", bearer(accessToken)}};
    request.maxReplyBytes = kMaxReplyBytes;
    m_http.send(std::move(request), receiver, [done = std::move(done)](const HttpReply &reply) {
        done(reply.succeeded() ? AccountProblem::None : problemOf(reply));
    });
}
