#include "support/OAuthTestServer.h"

#include "account/AccountSession.h"
#include "account/AccountStore.h"
#include "account/SecureHttpClient.h"
#include "platform/KeychainAccountVault.h"

#include <QSignalSpy>
#include <QTest>

namespace {

constexpr double kStart = 1'700'000'000;

// A store against the local service with a fake browser, an in-memory vault (or the given one)
// and a settable clock.
struct Fixture {
    OAuthTestServer oauth;
    FakeBrowser browser;
    std::shared_ptr<std::optional<QByteArray>> item;
    MemoryVault *vault = nullptr;
    double clock = kStart;
    std::unique_ptr<AccountStore> store;

    explicit Fixture(std::unique_ptr<AccountVault> other = {}) {
        if (!other) {
            auto memory = std::make_unique<MemoryVault>();
            vault = memory.get();
            item = memory->item;
            other = std::move(memory);
        }
        store = std::make_unique<AccountStore>(AccountConfiguration::clientID, oauth.api(), std::move(other),
                                               browser.opener());
        store->setClock([this] { return clock; });
        browser.store = store.get();
    }
    bool signIn() {
        store->signIn();
        return QTest::qWaitFor([this] { return store->identity().has_value() && !store->busy(); }, 5000);
    }
    QString token(const QString &user) {
        std::optional<AccessTokenResult> result;
        store->backupAccessToken(user, store.get(), [&result](AccessTokenResult r) { result = r; });
        if (!QTest::qWaitFor([&result] { return result.has_value(); }, 5000))
            return QStringLiteral("(no answer)");
        return result->succeeded() ? result->token : QStringLiteral("failure: ") + result->failure;
    }
    // The state part of the pending attempt, read from the page the browser was sent to.
    QString pendingState() const {
        return QUrlQuery(browser.opened.last()).queryItemValue(QStringLiteral("state"));
    }
};

QString keyringMode() {
    return qEnvironmentVariable("VELLUMBOX_TEST_KEYRING");
}

} // namespace

class TestAccount : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void pkceChallengeFollowsS256() {
        // The example of RFC 7636, appendix B.
        QCOMPARE(Pkce::challenge(QStringLiteral("dBjftJeZ4CVP-mB92K27uhbUJU1p1r_wW1gFWFOEjXk")),
                 QStringLiteral("E9Melhoa2OwvFrEMTJguCHaoeK1t8URWbuGJSstw-cM"));
        const QRegularExpression unreserved(QStringLiteral("^[A-Za-z0-9._~-]{64}$"));
        QSet<QString> seen;
        for (int i = 0; i < 50; ++i) {
            const QString verifier = Pkce::makeVerifier();
            QVERIFY2(unreserved.match(verifier).hasMatch(), qPrintable(verifier));
            seen.insert(verifier);
        }
        QCOMPARE(seen.size(), 50);
        QVERIFY(Pkce::makeState() != Pkce::makeState());
    }

    void sessionRecord_data() {
        QTest::addColumn<QByteArray>("json");
        QTest::addColumn<bool>("valid");
        const QByteArray user = R"("user":{"id":"8f0c2a5e-4b1d-4c3e-9a7f-1d2e3f4a5b6c")";
        QTest::newRow("complete") << R"({"access_token":"a","refresh_token":"r","expires_at":5,)" + user +
                                         "}}"
                                  << true;
        QTest::newRow("email null") << R"({"access_token":"a","refresh_token":"r","expires_at":5,)" + user +
                                           R"(,"email":null}})"
                                    << true;
        QTest::newRow("no refresh token") << R"({"access_token":"a","expires_at":5,)" + user + "}}" << false;
        QTest::newRow("header in token")
            << R"({"access_token":"a\r\nX: y","refresh_token":"r","expires_at":5,)" + user + "}}" << false;
        QTest::newRow("expiry as text")
            << R"({"access_token":"a","refresh_token":"r","expires_at":"5",)" + user + "}}" << false;
        QTest::newRow("user id not a uuid")
            << QByteArray(R"({"access_token":"a","refresh_token":"r","expires_at":5,"user":{"id":"../x"}})")
            << false;
        QTest::newRow("not json") << QByteArray("access_token=a") << false;
    }
    void sessionRecord() {
        QFETCH(QByteArray, json);
        QFETCH(bool, valid);
        const auto session = AccountSession::decode(json);
        QCOMPARE(session.has_value(), valid);
        if (session)
            QCOMPARE(AccountSession::decode(session->encode()), session);
    }

    void addressPolicy_data() {
        QTest::addColumn<QString>("url");
        QTest::addColumn<bool>("loopbackAllowed");
        QTest::addColumn<bool>("allowed");
        QTest::newRow("https") << "https://auth.example.org/auth/v1/" << false << true;
        QTest::newRow("http elsewhere") << "http://auth.example.org/auth/v1/" << true << false;
        QTest::newRow("http loopback in tests") << "http://127.0.0.1:8080/x" << true << true;
        QTest::newRow("http loopback otherwise") << "http://127.0.0.1:8080/x" << false << false;
        QTest::newRow("http localhost name") << "http://localhost:8080/x" << true << false;
        QTest::newRow("user info") << "https://user:pw@auth.example.org/" << false << false;
        QTest::newRow("other scheme") << "ftp://auth.example.org/" << false << false;
    }
    void addressPolicy() {
        QFETCH(QString, url);
        QFETCH(bool, loopbackAllowed);
        QFETCH(bool, allowed);
        QCOMPARE(SecureHttpClient::allowedAddress(QUrl(url), loopbackAllowed), allowed);
    }

    void signInStoresTheSession() {
        Fixture f;
        QSignalSpy identity(f.store.get(), &AccountStore::identityChanged);
        QVERIFY(f.signIn());
        QCOMPARE(f.store->identity()->sub, OAuthTestServer::kUser);
        QCOMPARE(f.store->identity()->email, QStringLiteral("ada@example.org"));
        QCOMPARE(identity.count(), 1);
        QVERIFY(f.store->message().isEmpty());
        QCOMPARE(f.oauth.cookiesReceived, 0);
        QVERIFY(!f.store->waitingForBrowser());
        // The authorize page carries the challenge of the verifier the token request proved.
        const QUrlQuery page(f.browser.opened.first());
        QCOMPARE(page.queryItemValue(QStringLiteral("code_challenge_method")), QStringLiteral("S256"));
        QVERIFY(QTest::qWaitFor([&f] { return f.item->has_value(); }));
        const auto stored = AccountSession::decode(**f.item);
        QVERIFY(stored);
        QCOMPARE(stored->accessToken, f.oauth.access);
        QCOMPARE(stored->expiresAt, kStart + 3600);
    }

    void callbackRefusals_data() {
        QTest::addColumn<QString>("callback"); // %1: the pending state, %2: a used code
        QTest::addColumn<bool>("pending");
        QTest::addColumn<QString>("message");
        QTest::addColumn<bool>("stillWaiting");
        const QString base = QStringLiteral("app.vellumbox.prototype://auth/callback?");
        QTest::newRow("no attempt") << base + "code=code-1&state=x" << false << AccountStore::kNoPendingSignIn
                                    << false;
        QTest::newRow("wrong state") << base + "code=code-1&state=forged" << true << AccountStore::kWrongState
                                     << true;
        QTest::newRow("no state") << base + "code=code-1" << true << AccountStore::kWrongState << true;
        QTest::newRow("state twice") << base + "code=code-1&state=%1&state=%1" << true
                                     << AccountStore::kWrongState << true;
        QTest::newRow("foreign address") << "https://evil.example/auth/callback?code=code-1&state=%1" << true
                                         << AccountStore::kWrongState << true;
        QTest::newRow("denied") << base + "error=access_denied&state=%1" << true
                                << AccountStore::kBrowserCancelled << false;
        QTest::newRow("server error") << base + "error=server_error&code=code-1&state=%1" << true
                                      << AccountStore::kSignInRejected << false;
        QTest::newRow("reused code") << base + "code=%2&state=%1" << true << AccountStore::kSignInRejected
                                     << false;
    }
    void callbackRefusals() {
        QFETCH(QString, callback);
        QFETCH(bool, pending);
        QFETCH(QString, message);
        QFETCH(bool, stillWaiting);
        Fixture f;
        // A finished sign-in leaves a used code behind.
        QVERIFY(f.signIn());
        const QString usedCode = QUrlQuery(f.browser.lastCallback).queryItemValue(QStringLiteral("code"));
        const auto identity = f.store->identity();
        f.browser.follow = false;
        if (pending)
            f.store->signIn();
        const int tokenCalls = f.oauth.tokenCalls;
        f.store->handle(QUrl(callback.replace(QStringLiteral("%1"), pending ? f.pendingState() : QString())
                                 .replace(QStringLiteral("%2"), usedCode)));
        QCOMPARE(f.store->waitingForBrowser(), stillWaiting);
        QCOMPARE(f.store->identity(), identity);
        if (QTest::currentDataTag() != QByteArray("reused code")) {
            QCOMPARE(f.store->message(), message);
            QTest::qWait(50);
            QCOMPARE(f.oauth.tokenCalls, tokenCalls);
        } else {
            // The service refuses the second use itself; the store keeps the signed-in user.
            QVERIFY(QTest::qWaitFor([&f] { return !f.store->busy(); }));
            QCOMPARE(f.store->message(), message);
            QCOMPARE(f.store->identity(), identity);
        }
    }

    void secondCallbackOfOneAttemptIsRefused() {
        Fixture f;
        f.browser.follow = false;
        f.store->signIn();
        f.browser.visit(f.browser.opened.last());
        QVERIFY(QTest::qWaitFor([&f] { return f.store->identity().has_value(); }));
        const int tokenCalls = f.oauth.tokenCalls;
        f.store->handle(f.browser.lastCallback);
        QCOMPARE(f.store->message(), AccountStore::kNoPendingSignIn);
        QCOMPARE(f.oauth.tokenCalls, tokenCalls);
    }

    void tokenEndpointFaults_data() {
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QString>("message");
        QTest::newRow("redirect") << 302 << QByteArray() << AccountStore::kUnexpectedReply;
        // Valid grants, padded: only the size may refuse them.
        const QByteArray padded =
            QByteArray(2'000'000, ' ') +
            R"({"access_token":"a","token_type":"bearer","expires_in":60,"refresh_token":"r"})";
        QTest::newRow("2 MB reply") << 200 << padded << AccountStore::kUnexpectedReply;
        QTest::newRow("2 MB reply without length") << -200 << padded << AccountStore::kUnexpectedReply;
        QTest::newRow("server error") << 503 << QByteArray() << AccountStore::kNetworkFailure;
        QTest::newRow("refused grant")
            << 400 << QByteArray(R"({"error":"invalid_grant"})") << AccountStore::kSignInRejected;
        QTest::newRow("not json") << 200 << QByteArray("<html>") << AccountStore::kUnexpectedReply;
        QTest::newRow("header in token")
            << 200
            << QByteArray(
                   R"({"access_token":"a\nb","token_type":"bearer","expires_in":60,"refresh_token":"r"})")
            << AccountStore::kUnexpectedReply;
        QTest::newRow("other token type")
            << 200
            << QByteArray(R"({"access_token":"a","token_type":"mac","expires_in":60,"refresh_token":"r"})")
            << AccountStore::kUnexpectedReply;
    }
    void tokenEndpointFaults() {
        QFETCH(int, status);
        QFETCH(QByteArray, body);
        QFETCH(QString, message);
        Fixture f;
        int followed = 0;
        LocalHttpServer elsewhere([&followed](const HttpTestRequest &) {
            ++followed;
            return HttpTestResponse::json(
                200, R"({"access_token":"x","token_type":"bearer","expires_in":60,"refresh_token":"y"})");
        });
        f.oauth.tokenFault = [&](const HttpTestRequest &) -> std::optional<HttpTestResponse> {
            HttpTestResponse r = HttpTestResponse::json(std::abs(status), body);
            r.unannounced = status < 0;
            if (status == 302)
                r.headers.append({"Location", elsewhere.url(QStringLiteral("/token")).toEncoded()});
            return r;
        };
        f.store->signIn();
        QVERIFY(QTest::qWaitFor([&f] { return !f.store->message().isEmpty(); }, 5000));
        QCOMPARE(f.store->message(), message);
        QVERIFY(!f.store->identity());
        QVERIFY(!f.store->busy());
        QCOMPARE(followed, 0);
        QVERIFY(!f.item->has_value());
    }

    // A grant lives a positive number of seconds, at most a year of 366 days; any other lifetime
    // refuses the reply and keeps no session.
    void tokenLifetime_data() {
        QTest::addColumn<QByteArray>("expiresIn");
        QTest::addColumn<bool>("accepted");
        QTest::newRow("one second") << QByteArray("1") << true;
        QTest::newRow("366 days") << QByteArray("31622400") << true;
        QTest::newRow("366 days and a second") << QByteArray("31622401") << false;
        QTest::newRow("ten years") << QByteArray("315576000") << false;
        QTest::newRow("zero") << QByteArray("0") << false;
        QTest::newRow("negative") << QByteArray("-3600") << false;
    }
    void tokenLifetime() {
        QFETCH(QByteArray, expiresIn);
        QFETCH(bool, accepted);
        Fixture f;
        // The service's own grant, with the lifetime written exactly as given.
        f.oauth.tokenFault = [&f, expiresIn](const HttpTestRequest &) -> std::optional<HttpTestResponse> {
            f.oauth.expiresIn = 4242;
            HttpTestResponse grant = f.oauth.issue();
            grant.body.replace("\"expires_in\":4242", "\"expires_in\":" + expiresIn);
            return grant;
        };
        f.store->signIn();
        QVERIFY(QTest::qWaitFor(
            [&f] { return !f.store->busy() && (f.store->identity() || !f.store->message().isEmpty()); },
            5000));
        QCOMPARE(f.store->message(), accepted ? QString() : AccountStore::kUnexpectedReply);
        QCOMPARE(f.store->identity().has_value(), accepted);
        if (accepted) {
            QVERIFY(QTest::qWaitFor([&f] { return f.item->has_value(); }));
            QCOMPARE(AccountSession::decode(**f.item)->expiresAt, kStart + expiresIn.toDouble());
        } else {
            QVERIFY(!f.item->has_value());
        }
    }

    void unreachableService() {
        auto api = [] {
            QTcpServer closed;
            closed.listen(QHostAddress::LocalHost, 0);
            const quint16 port = closed.serverPort();
            closed.close();
            return std::make_unique<SupabaseAccountAPI>(
                AccountConfiguration::clientID,
                QUrl(QStringLiteral("http://127.0.0.1:%1/auth/v1/").arg(port)), true);
        };
        FakeBrowser browser;
        AccountStore store(AccountConfiguration::clientID, api(), std::make_unique<MemoryVault>(),
                           browser.opener());
        store.signIn();
        store.handle(QUrl(QStringLiteral("app.vellumbox.prototype://auth/callback?code=c&state=") +
                          QUrlQuery(browser.opened.last()).queryItemValue(QStringLiteral("state"))));
        QVERIFY(QTest::qWaitFor([&store] { return !store.message().isEmpty(); }, 5000));
        QCOMPARE(store.message(), AccountStore::kNetworkFailure);
    }

    void browserThatDoesNotOpen() {
        Fixture f;
        f.browser.opens = false;
        f.store->signIn();
        QVERIFY(!f.store->waitingForBrowser());
        QCOMPARE(f.store->message(), AccountStore::kBrowserNotOpened);
    }

    void supersededSignInIsDropped() {
        Fixture f;
        f.oauth.tokenDelayMs = 300;
        f.store->signIn(); // the browser answers at once; the token reply comes late
        QVERIFY(QTest::qWaitFor([&f] { return f.store->busy(); }));
        f.browser.follow = false;
        f.store->signIn();
        QVERIFY(QTest::qWaitFor([&f] { return f.oauth.tokenCalls == 1; }));
        QTest::qWait(600);
        QVERIFY(!f.store->identity());
        QVERIFY(f.store->waitingForBrowser());
        QVERIFY(!f.store->busy());
        QVERIFY(!f.item->has_value());
    }

    void browserAttemptTimesOut_data() {
        QTest::addColumn<double>("waited");
        QTest::addColumn<bool>("dropped");
        QTest::newRow("599 s") << 599.0 << false;
        QTest::newRow("600 s") << 600.0 << true;
    }
    void browserAttemptTimesOut() {
        QFETCH(double, waited);
        QFETCH(bool, dropped);
        Fixture f;
        f.browser.follow = false;
        f.store->signIn();
        const QString state = f.pendingState();
        f.clock += waited;
        f.store->runMaintenance();
        QCOMPARE(f.store->waitingForBrowser(), !dropped);
        QCOMPARE(f.store->message(), dropped ? AccountStore::kBrowserExpired : QString());
        if (dropped) {
            f.store->handle(
                QUrl(QStringLiteral("app.vellumbox.prototype://auth/callback?code=code-1&state=") + state));
            QCOMPARE(f.store->message(), AccountStore::kNoPendingSignIn);
        }
    }

    void refreshMargin_data() {
        QTest::addColumn<double>("left");
        QTest::addColumn<bool>("refreshed");
        QTest::newRow("119 s left") << 119.0 << true;
        QTest::newRow("120 s left") << 120.0 << false;
        QTest::newRow("121 s left") << 121.0 << false;
    }
    void refreshMargin() {
        QFETCH(double, left);
        QFETCH(bool, refreshed);
        Fixture f;
        QVERIFY(f.signIn());
        const QString before = f.oauth.access;
        f.clock = kStart + 3600 - left;
        f.store->runMaintenance();
        QTest::qWait(100);
        QCOMPARE(f.oauth.refreshCalls, refreshed ? 1 : 0);
        QCOMPARE(f.token(OAuthTestServer::kUser) == before, !refreshed);
        if (refreshed) {
            QVERIFY(QTest::qWaitFor(
                [&f] { return AccountSession::decode(**f.item)->accessToken == f.oauth.access; }));
            QCOMPARE(AccountSession::decode(**f.item)->expiresAt, f.clock + 3600);
        }
    }

    void backupAccessToken_data() {
        QTest::addColumn<bool>("signedIn");
        QTest::addColumn<QString>("user");
        QTest::addColumn<double>("elapsed");
        QTest::addColumn<bool>("refreshRejected");
        QTest::addColumn<QString>("expected"); // "fresh", "refreshed" or a failure sentence
        const QString me = OAuthTestServer::kUser;
        const QString other = QStringLiteral("11111111-2222-4333-8444-555555555555");
        QTest::newRow("valid token") << true << me << 0.0 << false << "fresh";
        QTest::newRow("other user") << true << other << 0.0 << false << AccountStore::kOtherUser;
        QTest::newRow("other user, token due")
            << true << other << 3590.0 << false << AccountStore::kOtherUser;
        QTest::newRow("signed out") << false << me << 0.0 << false << AccountStore::kSignedOut;
        QTest::newRow("due for refresh") << true << me << 3500.0 << false << "refreshed";
        QTest::newRow("refresh refused") << true << me << 3500.0 << true << AccountStore::kSessionExpired;
    }
    void backupAccessToken() {
        QFETCH(bool, signedIn);
        QFETCH(QString, user);
        QFETCH(double, elapsed);
        QFETCH(bool, refreshRejected);
        QFETCH(QString, expected);
        Fixture f;
        if (signedIn)
            QVERIFY(f.signIn());
        const QString first = f.oauth.access;
        if (refreshRejected)
            f.oauth.refresh.clear();
        f.clock += elapsed;
        const QString token = f.token(user);
        if (expected == u"fresh")
            QCOMPARE(token, first);
        else if (expected == u"refreshed")
            QVERIFY(token == f.oauth.access && token != first);
        else
            QCOMPARE(token, QStringLiteral("failure: ") + expected);
        if (refreshRejected) {
            QVERIFY(!f.store->identity());
            QVERIFY(QTest::qWaitFor([&f] { return !f.item->has_value(); }));
        }
    }

    // After a refresh the tokens must still be the signed-in user's: tokens of another account end
    // the session instead of being used for the next backup.
    void refreshChecksTheUser_data() {
        QTest::addColumn<QString>("userInfo"); // "same", "other", "refused" or "down"
        QTest::addColumn<QString>("expected"); // "refreshed" or a failure sentence
        QTest::addColumn<bool>("signedIn");
        QTest::newRow("same user") << "same"
                                   << "refreshed" << true;
        QTest::newRow("another user") << "other" << AccountStore::kRefreshedForOtherUser << false;
        QTest::newRow("new token refused") << "refused" << AccountStore::kSessionExpired << false;
        QTest::newRow("service down") << "down" << AccountStore::kNetworkFailure << true;
    }
    void refreshChecksTheUser() {
        QFETCH(QString, userInfo);
        QFETCH(QString, expected);
        QFETCH(bool, signedIn);
        Fixture f;
        QVERIFY(f.signIn());
        const QString first = f.oauth.access;
        if (userInfo == u"other")
            f.oauth.userID = QStringLiteral("11111111-2222-4333-8444-555555555555");
        else if (userInfo != u"same")
            f.oauth.userInfoFault = [userInfo](const HttpTestRequest &) -> std::optional<HttpTestResponse> {
                return HttpTestResponse{userInfo == u"refused" ? 401 : 503, {}};
            };
        f.clock += 3550;
        const QString token = f.token(OAuthTestServer::kUser);
        if (expected == u"refreshed")
            QVERIFY(token == f.oauth.access && token != first);
        else
            QCOMPARE(token, QStringLiteral("failure: ") + expected);
        QCOMPARE(f.store->identity().has_value(), signedIn);
        if (!signedIn) {
            QCOMPARE(f.store->message(), expected);
            QTRY_VERIFY_WITH_TIMEOUT(!f.item->has_value(), 5000);
        }
        if (userInfo == u"down") {
            // The rotated refresh token is kept, and the next request checks again before it
            // hands out a token.
            QTRY_COMPARE_WITH_TIMEOUT(AccountSession::decode(**f.item)->refreshToken, f.oauth.refresh, 5000);
            f.oauth.userInfoFault = {};
            QCOMPARE(f.token(OAuthTestServer::kUser), f.oauth.access);
            QCOMPARE(f.oauth.refreshCalls, 2);
        }
    }

    void concurrentTokenRequestsShareOneRefresh() {
        Fixture f;
        QVERIFY(f.signIn());
        f.clock += 3550;
        QStringList tokens;
        for (int i = 0; i < 3; ++i)
            f.store->backupAccessToken(OAuthTestServer::kUser, f.store.get(),
                                       [&tokens](AccessTokenResult r) { tokens.append(r.token); });
        QVERIFY(QTest::qWaitFor([&tokens] { return tokens.size() == 3; }));
        QCOMPARE(f.oauth.refreshCalls, 1);
        QCOMPARE(QSet<QString>(tokens.begin(), tokens.end()), QSet<QString>{f.oauth.access});
    }

    void signOutWorksWithoutTheService() {
        auto fixture = std::make_unique<Fixture>();
        QVERIFY(fixture->signIn());
        QVERIFY(QTest::qWaitFor([&] { return fixture->item->has_value(); }));
        // The service goes away; the session must still go.
        auto store = std::move(fixture->store);
        auto item = fixture->item;
        fixture.reset();
        store->signOut();
        QVERIFY(!store->identity());
        QVERIFY(QTest::qWaitFor([&item] { return !item->has_value(); }));
        QTest::qWait(50);
        QVERIFY(store->message().isEmpty());
    }

    void signOutTellsTheService() {
        Fixture f;
        QVERIFY(f.signIn());
        f.store->signOut();
        QVERIFY(QTest::qWaitFor([&f] { return f.oauth.logoutCalls == 1; }));
        QVERIFY(!f.store->identity());
    }

    void lateRefreshOfAnEndedSessionIsDropped() {
        Fixture f;
        QVERIFY(f.signIn());
        f.oauth.tokenDelayMs = 300;
        f.clock += 3550;
        f.store->runMaintenance();
        QVERIFY(QTest::qWaitFor([&f] { return f.oauth.refreshCalls == 1; }));
        // Signed out and in again while the old session's refresh is still on its way.
        f.store->signOut();
        f.oauth.tokenDelayMs = 0;
        QVERIFY(f.signIn());
        const QString current = f.oauth.access;
        QTest::qWait(500);
        QCOMPARE(f.token(OAuthTestServer::kUser), current);
        QCOMPARE(AccountSession::decode(**f.item)->accessToken, current);
    }

    void restoredSessionOnStart_data() {
        QTest::addColumn<int>("status"); // AccountVault::Status
        QTest::addColumn<QByteArray>("stored");
        QTest::addColumn<bool>("signedIn");
        QTest::addColumn<bool>("keyring");
        QTest::addColumn<QString>("message");
        const QByteArray good = AccountSession{
            QStringLiteral("a"),
            QStringLiteral("r"),
            kStart + 3600,
            {OAuthTestServer::kUser,
             std::nullopt}}.encode();
        QTest::newRow("stored") << int(AccountVault::Status::Found) << good << true << true << QString();
        QTest::newRow("nothing stored")
            << int(AccountVault::Status::Missing) << QByteArray() << false << true << QString();
        QTest::newRow("damaged") << int(AccountVault::Status::Found) << QByteArray("{") << false << true
                                 << AccountStore::kKeyringReadFailed;
        QTest::newRow("no keyring") << int(AccountVault::Status::Unavailable) << QByteArray() << false
                                    << false << QString();
        QTest::newRow("keyring failed") << int(AccountVault::Status::Failed) << QByteArray() << false << true
                                        << AccountStore::kKeyringReadFailed;
    }
    void restoredSessionOnStart() {
        QFETCH(int, status);
        QFETCH(QByteArray, stored);
        QFETCH(bool, signedIn);
        QFETCH(bool, keyring);
        QFETCH(QString, message);
        Fixture f;
        if (AccountVault::Status(status) == AccountVault::Status::Found)
            *f.item = stored;
        else if (AccountVault::Status(status) != AccountVault::Status::Missing)
            f.vault->forced = AccountVault::Status(status);
        f.store->start();
        QTest::qWait(50);
        QCOMPARE(f.store->identity().has_value(), signedIn);
        QCOMPARE(f.store->keyringAvailable(), keyring);
        QCOMPARE(f.store->message(), message);
    }

    void signInWithoutKeyringLastsForTheRun() {
        Fixture f;
        f.vault->forced = AccountVault::Status::Unavailable;
        f.store->start();
        QVERIFY(f.signIn());
        QVERIFY(QTest::qWaitFor([&f] { return !f.store->keyringAvailable(); }));
        QVERIFY(f.store->message().isEmpty());
        QCOMPARE(f.token(OAuthTestServer::kUser), f.oauth.access);
    }

    // Runs inside a private session bus with an unlocked gnome-keyring (tests/account/keyring-session.sh).
    void keyringKeepsTheSessionAcrossRestarts() {
        if (keyringMode() != u"secret-service")
            QSKIP("needs the private keyring session");
        Fixture first(std::make_unique<KeychainAccountVault>());
        first.store->start();
        QVERIFY(first.signIn());
        QVERIFY(first.store->keyringAvailable());

        // A restart reads the session back; the service is the same.
        OAuthTestServer &service = first.oauth;
        auto restart = [&service] {
            return std::make_unique<AccountStore>(AccountConfiguration::clientID, service.api(),
                                                  std::make_unique<KeychainAccountVault>(),
                                                  [](const QUrl &, const auto &done) { done(true); });
        };
        QTest::qWait(200);
        auto second = restart();
        second->start();
        QVERIFY(QTest::qWaitFor([&second] { return second->identity().has_value(); }, 5000));
        QCOMPARE(second->identity()->sub, OAuthTestServer::kUser);
        QVERIFY(second->message().isEmpty());

        second->signOut();
        QTest::qWait(200);
        auto third = restart();
        third->start();
        QTest::qWait(500);
        QVERIFY(!third->identity());
        QVERIFY(third->message().isEmpty());
    }

    // A reply is measured against its limit by what it announces, before any of its body has
    // arrived: an announced body that never comes is still refused as too large.
    void replyLimit_data() {
        QTest::addColumn<qint64>("size");
        QTest::addColumn<int>("sent"); // body bytes the server sends; -1: all, unannounced
        QTest::addColumn<int>("problem");
        constexpr qint64 limit = 100'000;
        const int none = int(HttpReply::Problem::None);
        const int tooLarge = int(HttpReply::Problem::TooLarge);
        const int unreachable = int(HttpReply::Problem::Unreachable);
        QTest::newRow("exactly the limit") << limit << int(limit) << none;
        QTest::newRow("one byte more announced, nothing sent") << limit + 1 << 0 << tooLarge;
        QTest::newRow("far more announced, a little sent") << 50 * limit << 10 << tooLarge;
        QTest::newRow("within the limit, cut off") << limit << 10 << unreachable;
        QTest::newRow("unannounced, above the limit") << limit + 1 << -1 << tooLarge;
        QTest::newRow("unannounced, within the limit") << limit << -1 << none;
    }
    void replyLimit() {
        QFETCH(qint64, size);
        QFETCH(int, sent);
        QFETCH(int, problem);
        LocalHttpServer server([&](const HttpTestRequest &) {
            HttpTestResponse response{200, QByteArray(size, 'x')};
            if (sent < 0)
                response.unannounced = true;
            else if (sent < size)
                response.cutAfter = sent;
            return response;
        });
        SecureHttpClient client(true);
        HttpRequest request;
        request.url = server.url(QStringLiteral("/reply"));
        request.maxReplyBytes = 100'000;
        QObject receiver;
        std::optional<HttpReply> reply;
        client.send(request, &receiver, [&reply](HttpReply r) { reply = std::move(r); });
        QTRY_VERIFY_WITH_TIMEOUT(reply.has_value(), 20000);
        QCOMPARE(int(reply->problem), problem);
        QCOMPARE(reply->body.size(), problem == int(HttpReply::Problem::None) ? size : 0);
    }

    void vaultWithoutSecretService() {
        if (keyringMode() != u"none")
            QSKIP("needs a session bus without a Secret Service");
        KeychainAccountVault vault(QStringLiteral("app.vellumbox.account.test"));
        QObject receiver;
        QList<AccountVault::Status> statuses;
        const auto record = [&statuses](AccountVault::Result r) { statuses.append(r.status); };
        vault.write("{}", &receiver, record);
        vault.read(&receiver, record);
        vault.remove(&receiver, record);
        QVERIFY(QTest::qWaitFor([&statuses] { return statuses.size() == 3; }, 10000));
        QCOMPARE(statuses, QList<AccountVault::Status>(3, AccountVault::Status::Unavailable));
    }

    // A receiver that goes while its keychain job runs (or waits behind another) is never called.
    void vaultReceiverGoneMidJob() {
        if (keyringMode() != u"secret-service")
            QSKIP("needs the private keyring session");
        KeychainAccountVault vault(QStringLiteral("app.vellumbox.account.test"));
        int lateCalls = 0;
        const auto late = [&lateCalls](AccountVault::Result) { ++lateCalls; };
        auto *gone = new QObject;
        vault.read(gone, late);        // running
        vault.write("{}", gone, late); // waiting
        delete gone;
        QObject receiver;
        bool done = false;
        vault.remove(&receiver, [&done](AccountVault::Result) { done = true; });
        QTRY_VERIFY_WITH_TIMEOUT(done, 10000);
        QTest::qWait(50);
        QCOMPARE(lateCalls, 0);
    }

    void vaultRoundTrip() {
        if (keyringMode() != u"secret-service")
            QSKIP("needs the private keyring session");
        KeychainAccountVault vault(QStringLiteral("app.vellumbox.account.test"));
        QObject receiver;
        QList<AccountVault::Result> results;
        const auto record = [&results](AccountVault::Result r) { results.append(r); };
        const QByteArray session = R"({"access_token":"ä","n":1})";
        vault.read(&receiver, record);
        vault.write(session, &receiver, record);
        vault.read(&receiver, record);
        vault.remove(&receiver, record);
        vault.read(&receiver, record);
        vault.remove(&receiver, record);
        QVERIFY(QTest::qWaitFor([&results] { return results.size() == 6; }, 10000));
        using S = AccountVault::Status;
        const QList<S> expected{S::Missing, S::Done, S::Found, S::Done, S::Missing, S::Done};
        for (int i = 0; i < 6; ++i)
            QCOMPARE(results[i].status, expected[i]);
        QCOMPARE(results[2].data, session);
    }
};

QTEST_GUILESS_MAIN(TestAccount)
#include "tst_account.moc"
