#include "account/AccountStore.h"

#include "account/SupabaseAccountAPI.h"
#include "platform/DesktopOpener.h"
#include "platform/KeychainAccountVault.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QPointer>
#include <QUrlQuery>

const QString AccountStore::kNetworkFailure =
    QStringLiteral("Der Anmeldedienst ist gerade nicht erreichbar. Bitte prüfe deine Internetverbindung und "
                   "versuche es erneut.");
const QString AccountStore::kUnexpectedReply =
    QStringLiteral("Der Anmeldedienst hat unerwartet geantwortet. Bitte versuche es später erneut.");
const QString AccountStore::kNoPendingSignIn = QStringLiteral(
    "Zu dieser Rückmeldung gibt es keine offene Anmeldung. Bitte starte die Anmeldung in Vellumbox neu.");
const QString AccountStore::kWrongState =
    QStringLiteral("Die Rückmeldung des Browsers gehört nicht zu dieser Anmeldung und wurde ignoriert.");
const QString AccountStore::kBrowserCancelled = QStringLiteral("Die Anmeldung wurde im Browser abgebrochen.");
const QString AccountStore::kBrowserExpired =
    QStringLiteral("Die Anmeldung im Browser hat zu lange gedauert. Bitte starte sie erneut.");
const QString AccountStore::kBrowserNotOpened = QStringLiteral("Der Browser konnte nicht geöffnet werden.");
const QString AccountStore::kSignInRejected =
    QStringLiteral("Der Anmeldedienst hat die Anmeldung abgelehnt. Bitte versuche es erneut.");
const QString AccountStore::kSessionExpired =
    QStringLiteral("Deine Anmeldung ist abgelaufen. Bitte melde dich erneut an.");
const QString AccountStore::kKeyringReadFailed =
    QStringLiteral("Die gespeicherte Anmeldung konnte nicht aus dem Schlüsselbund gelesen werden.");
const QString AccountStore::kKeyringWriteFailed =
    QStringLiteral("Die Anmeldung konnte nicht im Schlüsselbund gespeichert werden und gilt nur bis zum "
                   "Beenden von Vellumbox.");
const QString AccountStore::kKeyringRemoveFailed =
    QStringLiteral("Die Anmeldung konnte nicht aus dem Schlüsselbund entfernt werden.");
const QString AccountStore::kKeyringMissing = QStringLiteral(
    "Auf diesem Desktop gibt es keinen Schlüsselbund: Die Anmeldung gilt nur, bis du Vellumbox beendest.");
const QString AccountStore::kSignedOut =
    QStringLiteral("Bitte melde dich an, um die Cloud-Funktionen zu nutzen.");
const QString AccountStore::kOtherUser = QStringLiteral("Inzwischen ist ein anderer Account angemeldet.");
const QString AccountStore::kRefreshedForOtherUser = QStringLiteral(
    "Der Anmeldedienst hat die Anmeldung einem anderen Account zugeordnet. Bitte melde dich erneut an.");

namespace {

// Authorisation codes are short opaque texts; anything else is not a code of this service.
bool plausibleCode(const QString &code) {
    return code.size() <= 4096 && AccountChecks::validToken(code);
}

} // namespace

AccountStore::AccountStore(const QString &clientID, std::unique_ptr<AccountAPI> api,
                           std::unique_ptr<AccountVault> vault, OpenURL openURL, QObject *parent)
    : QObject(parent), m_clientID(clientID), m_api(std::move(api)), m_vault(std::move(vault)),
      m_openURL(std::move(openURL)) {
    if (!m_api)
        m_api = std::make_unique<SupabaseAccountAPI>(clientID, AccountConfiguration::authenticationBase());
    if (!m_vault)
        m_vault = std::make_unique<KeychainAccountVault>();
    if (!m_openURL) {
        m_openURL = [this](const QUrl &url, std::function<void(bool)> done) {
            DesktopOpener::open(url, this, std::move(done));
        };
    }
    m_clock = [] { return double(QDateTime::currentMSecsSinceEpoch()) / 1000.0; };
    m_maintenance.setInterval(kMaintenanceIntervalMs);
    connect(&m_maintenance, &QTimer::timeout, this, &AccountStore::runMaintenance);
}

AccountStore::~AccountStore() = default;

void AccountStore::setClock(Clock clock) {
    m_clock = std::move(clock);
}

void AccountStore::setShowSheet(bool value) {
    if (m_showSheet == value)
        return;
    m_showSheet = value;
    Q_EMIT showSheetChanged();
}

void AccountStore::renewRevision() {
    m_revision = QUuid::createUuid();
    Q_EMIT stateChanged();
}

void AccountStore::setMessage(const QString &text) {
    if (m_message == text)
        return;
    m_message = text;
    Q_EMIT stateChanged();
}

void AccountStore::setBusy(bool value) {
    if (m_busy == value)
        return;
    m_busy = value;
    Q_EMIT stateChanged();
}

QString AccountStore::sentenceFor(AccountProblem problem) const {
    switch (problem) {
    case AccountProblem::None:
        return {};
    case AccountProblem::Unreachable:
        return kNetworkFailure;
    case AccountProblem::Rejected:
        return kSignInRejected;
    case AccountProblem::Unexpected:
        break;
    }
    return kUnexpectedReply;
}

void AccountStore::start() {
    const QUuid revision = m_revision;
    m_vault->read(this, [this, revision](AccountVault::Result result) {
        // A sign-in or sign-out of this run knows better than what was stored.
        if (revision != m_revision)
            return;
        switch (result.status) {
        case AccountVault::Status::Found:
            if (const auto session = AccountSession::decode(result.data))
                adoptSession(*session);
            else
                setMessage(kKeyringReadFailed);
            break;
        case AccountVault::Status::Unavailable:
            m_keyringAvailable = false;
            Q_EMIT stateChanged();
            break;
        case AccountVault::Status::Failed:
            setMessage(kKeyringReadFailed);
            break;
        case AccountVault::Status::Missing:
        case AccountVault::Status::Done:
            break;
        }
        runMaintenance();
    });
    m_maintenance.start();
}

void AccountStore::handle(const QUrl &url) {
    if (url.scheme() == AccountConfiguration::urlScheme && url.host() == u"login" && url.path().isEmpty() &&
        !url.hasQuery() && !url.hasFragment()) {
        setShowSheet(true);
        signIn();
        return;
    }
    finishCallback(url);
}

void AccountStore::signIn() {
    renewRevision();
    setBusy(false);
    Attempt attempt{Pkce::makeVerifier(), Pkce::makeState(), now()};
    const QUrl page = m_api->authorizationURL(Pkce::challenge(attempt.verifier), attempt.state);
    m_attempt = std::move(attempt);
    m_message.clear();
    Q_EMIT stateChanged();
    m_openURL(page, [self = QPointer<AccountStore>(this), revision = m_revision](bool opened) {
        // Only this round, still waiting for its browser, ends here: a newer round, or a callback
        // that has arrived meanwhile, knows better.
        if (opened || !self || self->m_revision != revision || !self->m_attempt)
            return;
        self->m_attempt.reset();
        self->m_message = kBrowserNotOpened;
        Q_EMIT self->stateChanged();
    });
}

void AccountStore::cancelSignIn() {
    m_attempt.reset();
    setBusy(false);
    renewRevision();
}

void AccountStore::finishCallback(const QUrl &url) {
    if (!m_attempt)
        return setMessage(kNoPendingSignIn);
    const QUrlQuery query(url);
    const auto single = [&query](const QString &key) {
        const QStringList values = query.allQueryItemValues(key, QUrl::FullyDecoded);
        return values.size() == 1 ? std::optional<QString>(values.first()) : std::nullopt;
    };
    const bool ours = url.scheme() == AccountConfiguration::urlScheme && url.host() == u"auth" &&
                      url.path() == u"/callback" && !url.hasFragment();
    const std::optional<QString> state = single(QStringLiteral("state"));
    // A callback that cannot prove it answers this attempt leaves the attempt waiting.
    if (!ours || !state || *state != m_attempt->state)
        return setMessage(kWrongState);

    const bool hasError = query.hasQueryItem(QStringLiteral("error"));
    const std::optional<QString> code = single(QStringLiteral("code"));
    const QString verifier = m_attempt->verifier;
    m_attempt.reset();
    if (hasError || !code || !plausibleCode(*code)) {
        const bool denied = single(QStringLiteral("error")) == QStringLiteral("access_denied");
        m_message = hasError && denied ? kBrowserCancelled : kSignInRejected;
        Q_EMIT stateChanged();
        return;
    }

    m_message.clear();
    setBusy(true);
    const QUuid revision = m_revision;
    m_api->exchangeCode(*code, verifier, this, [this, revision](AccountOutcome<AccountTokens> tokens) {
        if (revision != m_revision)
            return;
        if (!tokens.value) {
            setBusy(false);
            return setMessage(sentenceFor(tokens.problem));
        }
        const double receivedAt = now();
        const AccountTokens granted = *tokens.value;
        m_api->userInfo(granted.accessToken, this,
                        [this, revision, granted, receivedAt](AccountOutcome<AccountIdentity> user) {
                            if (revision != m_revision)
                                return;
                            setBusy(false);
                            if (!user.value)
                                return setMessage(sentenceFor(user.problem));
                            adoptSession({granted.accessToken, granted.refreshToken,
                                          receivedAt + granted.expiresIn, *user.value});
                            storeSession();
                        });
    });
}

void AccountStore::adoptSession(const AccountSession &session) {
    endSession();
    m_session = session;
    if (m_identity != session.identity) {
        m_identity = session.identity;
        Q_EMIT identityChanged();
    }
}

void AccountStore::endSession() {
    ++m_sessionGeneration;
    m_session.reset();
    m_refreshing = false;
    m_identityUnconfirmed = false;
    const auto waiters = std::exchange(m_refreshWaiters, {});
    for (const auto &waiter : waiters)
        waiter(kSignedOut);
    if (m_identity) {
        m_identity.reset();
        Q_EMIT identityChanged();
    }
}

void AccountStore::storeSession() {
    if (!m_session)
        return;
    const quint64 generation = m_sessionGeneration;
    m_vault->write(m_session->encode(), this, [this, generation](AccountVault::Result result) {
        if (generation != m_sessionGeneration)
            return;
        const bool available = result.status != AccountVault::Status::Unavailable;
        if (available != m_keyringAvailable) {
            m_keyringAvailable = available;
            Q_EMIT stateChanged();
        }
        if (result.status == AccountVault::Status::Failed)
            setMessage(kKeyringWriteFailed);
    });
}

void AccountStore::signOut() {
    const std::optional<AccountSession> previous = m_session;
    m_attempt.reset();
    m_busy = false;
    m_message.clear();
    endSession();
    renewRevision();
    const QUuid revision = m_revision;
    m_vault->remove(this, [this, revision](AccountVault::Result result) {
        if (revision == m_revision && result.status == AccountVault::Status::Failed)
            setMessage(kKeyringRemoveFailed);
    });
    if (previous)
        m_api->logout(previous->accessToken, this, [](AccountProblem) {});
}

void AccountStore::openAccountPage() {
    m_openURL(AccountConfiguration::accountPage(), [self = QPointer<AccountStore>(this)](bool opened) {
        if (!opened && self)
            self->setMessage(kBrowserNotOpened);
    });
}

void AccountStore::runMaintenance() {
    if (m_attempt && now() - m_attempt->startedAt >= kBrowserTimeout) {
        m_attempt.reset();
        m_message = kBrowserExpired;
        Q_EMIT stateChanged();
    }
    if (m_session && !m_refreshing && m_session->expiresAt - now() < kRefreshMargin)
        refreshSession([](const QString &) {});
}

void AccountStore::refreshSession(std::function<void(const QString &)> then) {
    if (!m_session)
        return then(kSignedOut);
    m_refreshWaiters.append(std::move(then));
    if (m_refreshing)
        return;
    m_refreshing = true;
    const quint64 generation = m_sessionGeneration;
    const auto finish = [this](const QString &failure) {
        m_refreshing = false;
        const auto waiters = std::exchange(m_refreshWaiters, {});
        for (const auto &waiter : waiters)
            waiter(failure);
    };
    m_api->refresh(
        m_session->refreshToken, this, [this, generation, finish](AccountOutcome<AccountTokens> tokens) {
            // The session this refresh was for has been replaced or ended; its waiters were told.
            if (generation != m_sessionGeneration)
                return;
            if (!tokens.value) {
                if (tokens.problem != AccountProblem::Rejected)
                    return finish(sentenceFor(tokens.problem));
                // The service no longer knows this session: forget it here and in the keyring.
                const auto waiters = std::exchange(m_refreshWaiters, {});
                forgetSession(kSessionExpired);
                for (const auto &waiter : waiters)
                    waiter(kSessionExpired);
                return;
            }
            const double receivedAt = now();
            const AccountTokens granted = *tokens.value;
            // Nothing from the service is taken on trust: the new tokens must belong to the signed-in
            // user, or the next backup would go to another account.
            m_api->userInfo(
                granted.accessToken, this,
                [this, generation, finish, granted, receivedAt](AccountOutcome<AccountIdentity> user) {
                    if (generation != m_sessionGeneration)
                        return;
                    const bool otherUser = user.value && user.value->sub != m_session->identity.sub;
                    if (otherUser || (!user.value && user.problem == AccountProblem::Rejected)) {
                        const QString sentence = otherUser ? kRefreshedForOtherUser : kSessionExpired;
                        const auto waiters = std::exchange(m_refreshWaiters, {});
                        forgetSession(sentence);
                        for (const auto &waiter : waiters)
                            waiter(sentence);
                        return;
                    }
                    // A rotated refresh token replaces the old one even when the check
                    // could not be made: the old one may no longer be valid.
                    m_session->accessToken = granted.accessToken;
                    m_session->refreshToken = granted.refreshToken;
                    m_session->expiresAt = receivedAt + granted.expiresIn;
                    m_identityUnconfirmed = !user.value;
                    storeSession();
                    finish(user.value ? QString() : sentenceFor(user.problem));
                });
        });
}

void AccountStore::forgetSession(const QString &sentence) {
    endSession();
    renewRevision();
    m_vault->remove(this, [](AccountVault::Result) {});
    setMessage(sentence);
}

void AccountStore::backupAccessToken(const QString &expectedUser, QObject *receiver,
                                     std::function<void(AccessTokenResult)> done) {
    QPointer<QObject> guard(receiver);
    auto deliver = [guard, done = std::move(done)](AccessTokenResult result) {
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [guard, done, result = std::move(result)] {
                if (guard)
                    done(result);
            },
            Qt::QueuedConnection);
    };
    if (!m_session)
        return deliver({{}, kSignedOut});
    if (m_session->identity.sub != expectedUser)
        return deliver({{}, kOtherUser});
    if (m_session->expiresAt - now() >= kRefreshMargin && !m_identityUnconfirmed)
        return deliver({m_session->accessToken, {}});
    refreshSession([this, expectedUser, deliver](const QString &failure) {
        if (!failure.isEmpty())
            return deliver({{}, failure});
        if (!m_session || m_session->identity.sub != expectedUser)
            return deliver({{}, kOtherUser});
        deliver({m_session->accessToken, {}});
    });
}
