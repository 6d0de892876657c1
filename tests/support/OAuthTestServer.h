#pragma once

#include "support/LocalHttpServer.h"

#include "account/AccountStore.h"
#include "account/SupabaseAccountAPI.h"
#include "platform/AccountVault.h"

#include <QCryptographicHash>
#include <QNetworkAccessManager>
#include <QNetworkReply>

// The authentication service as the client expects it: authorize redirect, code and refresh
// grants with PKCE checks, userinfo and logout. `tokenFault` replaces the token endpoint's answer.
struct OAuthTestServer {
    static inline const QString kUser = QStringLiteral("8f0c2a5e-4b1d-4c3e-9a7f-1d2e3f4a5b6c");

    struct Grant {
        QString challenge;
        bool used = false;
    };
    QHash<QString, Grant> codes;
    QString userID = kUser;
    QByteArray email = "ada@example.org";
    QString access;
    QString refresh;
    double expiresIn = 3600;
    int tokenCalls = 0;
    int refreshCalls = 0;
    int logoutCalls = 0;
    int cookiesReceived = 0;
    int tokenDelayMs = 0;
    std::function<std::optional<HttpTestResponse>(const HttpTestRequest &)> tokenFault;
    // Replaces the userinfo endpoint's answer.
    std::function<std::optional<HttpTestResponse>(const HttpTestRequest &)> userInfoFault;
    LocalHttpServer server{[this](const HttpTestRequest &r) { return answer(r); }};

    QUrl base() const { return server.url(QStringLiteral("/auth/v1/")); }

    std::unique_ptr<AccountAPI> api() const {
        return std::make_unique<SupabaseAccountAPI>(AccountConfiguration::clientID, base(), true);
    }

    HttpTestResponse issue() {
        const int n = ++m_serial;
        access = QStringLiteral("access-%1").arg(n);
        refresh = QStringLiteral("refresh-%1").arg(n);
        HttpTestResponse response = HttpTestResponse::json(
            200, QStringLiteral(
                     R"({"access_token":"%1","token_type":"bearer","expires_in":%2,"refresh_token":"%3"})")
                     .arg(access)
                     .arg(expiresIn)
                     .arg(refresh)
                     .toUtf8());
        response.delayMs = tokenDelayMs;
        // A client that kept cookies would send this back.
        response.headers.append(qMakePair(QByteArray("Set-Cookie"), QByteArray("session=tracked; Path=/")));
        return response;
    }

    HttpTestResponse answer(const HttpTestRequest &r) {
        if (r.headers.contains("cookie"))
            ++cookiesReceived;
        const QString path = r.path();
        if (r.method == "GET" && path == u"/auth/v1/oauth/authorize") {
            const QUrlQuery q = r.query();
            if (q.queryItemValue(QStringLiteral("client_id")) != AccountConfiguration::clientID ||
                q.queryItemValue(QStringLiteral("code_challenge_method")) != u"S256" ||
                q.queryItemValue(QStringLiteral("response_type")) != u"code")
                return {400, {}};
            const QString code = QStringLiteral("code-%1").arg(codes.size() + 1);
            codes.insert(code, {q.queryItemValue(QStringLiteral("code_challenge"))});
            QUrl target(q.queryItemValue(QStringLiteral("redirect_uri"), QUrl::FullyDecoded));
            target.setQuery(QStringLiteral("code=%1&state=%2")
                                .arg(code, q.queryItemValue(QStringLiteral("state"), QUrl::FullyEncoded)));
            return HttpTestResponse::redirect(target.toEncoded());
        }
        if (r.method == "POST" && path == u"/auth/v1/oauth/token") {
            ++tokenCalls;
            if (tokenFault)
                if (auto fault = tokenFault(r))
                    return *fault;
            const QUrlQuery form = r.form();
            const auto value = [&form](const char *key) {
                return form.queryItemValue(QString::fromLatin1(key), QUrl::FullyDecoded);
            };
            if (value("client_id") != AccountConfiguration::clientID)
                return HttpTestResponse::json(400, R"({"error":"invalid_client"})");
            if (value("grant_type") == u"authorization_code") {
                auto grant = codes.find(value("code"));
                const QString challenge = QString::fromLatin1(
                    QCryptographicHash::hash(value("code_verifier").toLatin1(), QCryptographicHash::Sha256)
                        .toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals));
                if (grant == codes.end() || grant->used || grant->challenge != challenge ||
                    value("redirect_uri") != AccountConfiguration::redirectURI)
                    return HttpTestResponse::json(400, R"({"error":"invalid_grant"})");
                grant->used = true;
                return issue();
            }
            if (value("grant_type") == u"refresh_token") {
                ++refreshCalls;
                if (refresh.isEmpty() || value("refresh_token") != refresh)
                    return HttpTestResponse::json(400, R"({"error":"invalid_grant"})");
                return issue();
            }
            return HttpTestResponse::json(400, R"({"error":"unsupported_grant_type"})");
        }
        if (r.method == "GET" && path == u"/auth/v1/oauth/userinfo") {
            if (userInfoFault)
                if (auto fault = userInfoFault(r))
                    return *fault;
            if (access.isEmpty() || r.bearer() != access.toLatin1())
                return {401, {}};
            return HttpTestResponse::json(200,
                                          R"({"sub":")" + userID.toUtf8() + R"(","email":")" + email + "\"}");
        }
        if (r.method == "POST" && path == u"/auth/v1/logout" &&
            r.query().queryItemValue("scope") == u"local") {
            ++logoutCalls;
            return {204, {}};
        }
        return {404, {}};
    }

private:
    int m_serial = 0;
};

// Opens the authorize page the way a browser would: follows it to its redirect and hands the
// application's URL to the store.
struct FakeBrowser {
    AccountStore *store = nullptr;
    bool follow = true;
    bool opens = true;
    // Whether the browser opened is known only in a later turn of the event loop, as on a desktop.
    bool answersLater = false;
    QList<QUrl> opened;
    QNetworkAccessManager network;

    AccountStore::OpenURL opener() {
        return [this](const QUrl &url, std::function<void(bool)> done) {
            opened.append(url);
            if (opens && follow && url.path().endsWith(u"/authorize"))
                visit(url);
            if (answersLater)
                QMetaObject::invokeMethod(
                    &network, [done, opens = opens] { done(opens); }, Qt::QueuedConnection);
            else
                done(opens);
        };
    }
    void visit(const QUrl &url) {
        QNetworkRequest request(url);
        request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
        QNetworkReply *reply = network.get(request);
        QObject::connect(reply, &QNetworkReply::finished, reply, [this, reply] {
            reply->deleteLater();
            lastCallback = QUrl::fromEncoded(reply->rawHeader("Location"));
            if (store && lastCallback.isValid())
                store->handle(lastCallback);
        });
    }
    QUrl lastCallback;
};

// A vault in memory; `forced` makes every operation answer with that status.
struct MemoryVault final : AccountVault {
    std::shared_ptr<std::optional<QByteArray>> item = std::make_shared<std::optional<QByteArray>>();
    std::optional<Status> forced;

    void answer(QObject *receiver, Done done, Result result) {
        QMetaObject::invokeMethod(
            receiver, [done, result] { done(result); }, Qt::QueuedConnection);
    }
    void read(QObject *receiver, Done done) override {
        if (forced)
            return answer(receiver, done, {*forced, {}});
        answer(receiver, done, *item ? Result{Status::Found, **item} : Result{Status::Missing, {}});
    }
    void write(const QByteArray &data, QObject *receiver, Done done) override {
        if (!forced)
            *item = data;
        answer(receiver, done, {forced.value_or(Status::Done), {}});
    }
    void remove(QObject *receiver, Done done) override {
        if (!forced)
            item->reset();
        answer(receiver, done, {forced.value_or(Status::Done), {}});
    }
};
