#pragma once

#include "account/AccountAPI.h"
#include "account/AccountConfiguration.h"
#include "account/AccountSession.h"

#include <QObject>
#include <QString>
#include <QTimer>
#include <QUrl>
#include <QUuid>

#include <functional>
#include <memory>
#include <optional>

class AccountVault;

using OptionalAccountIdentity = std::optional<AccountIdentity>;

// A fresh access token of the expected user, or the German sentence why there is none.
struct AccessTokenResult {
    QString token;
    QString failure;
    bool succeeded() const { return failure.isEmpty(); }
};

// The optional account: browser sign-in, the session in the keyring, token refresh. Main thread.
//
// Every sign-in round and every sign-out renews `revision`; a network or keyring result that
// arrives after the revision changed belongs to a round the user has left and is dropped.
class AccountStore : public QObject {
    Q_OBJECT
    Q_PROPERTY(OptionalAccountIdentity identity READ identity NOTIFY identityChanged)
    Q_PROPERTY(bool showSheet READ showSheet WRITE setShowSheet NOTIFY showSheetChanged)
    Q_PROPERTY(bool waitingForBrowser READ waitingForBrowser NOTIFY stateChanged)
    Q_PROPERTY(bool busy READ busy NOTIFY stateChanged)
    Q_PROPERTY(QString message READ message NOTIFY stateChanged)
    Q_PROPERTY(bool keyringAvailable READ keyringAvailable NOTIFY stateChanged)
    Q_PROPERTY(QUuid revision READ revision NOTIFY stateChanged)

public:
    // Unix seconds; tests pass their own clock.
    using Clock = std::function<double()>;
    // Opens a web address in the browser. `done` says whether a browser took it, at once or later:
    // the desktop's opener knows only after it has looked for one.
    using OpenURL = std::function<void(const QUrl &url, std::function<void(bool opened)> done)>;

    static constexpr int kMaintenanceIntervalMs = 60'000;
    static constexpr double kRefreshMargin = 120.0;
    static constexpr double kBrowserTimeout = 600.0;

    // Without an api or vault the production ones are made; without openURL the desktop opens it.
    explicit AccountStore(const QString &clientID, std::unique_ptr<AccountAPI> api = {},
                          std::unique_ptr<AccountVault> vault = {}, OpenURL openURL = {},
                          QObject *parent = nullptr);
    ~AccountStore() override;

    void setClock(Clock clock);

    // Once at launch: restores the stored session and starts the maintenance timer.
    void start();
    // A URL of the application's scheme that the desktop handed over.
    void handle(const QUrl &url);

    // Opens the sign-in page in the browser and waits for its callback; a browser that does not
    // open ends the waiting with kBrowserNotOpened.
    void signIn();
    void cancelSignIn();
    // Forgets the session here and in the keyring at once; the service is told when reachable.
    void signOut();
    // A browser that does not open leaves kBrowserNotOpened in `message`.
    void openAccountPage();

    // One pass of the maintenance timer: refresh a token about to run out, drop a browser
    // sign-in that waited too long.
    void runMaintenance();

    // A token of expectedUser that is valid for at least the refresh margin, refreshed first when
    // needed; never a token of another user. `done` runs on the main thread, unless receiver is gone.
    void backupAccessToken(const QString &expectedUser, QObject *receiver,
                           std::function<void(AccessTokenResult)> done);

    const OptionalAccountIdentity &identity() const { return m_identity; }
    bool showSheet() const { return m_showSheet; }
    void setShowSheet(bool value);
    bool waitingForBrowser() const { return m_attempt.has_value(); }
    bool busy() const { return m_busy; }
    QString message() const { return m_message; } // empty: none
    // False when the desktop has no Secret Service: the session then lasts only for this run.
    bool keyringAvailable() const { return m_keyringAvailable; }
    QUuid revision() const { return m_revision; }

    // The sentences the store shows.
    static const QString kNetworkFailure;
    static const QString kUnexpectedReply;
    static const QString kNoPendingSignIn;
    static const QString kWrongState;
    static const QString kBrowserCancelled;
    static const QString kBrowserExpired;
    static const QString kBrowserNotOpened;
    static const QString kSignInRejected;
    static const QString kSessionExpired;
    static const QString kKeyringReadFailed;
    static const QString kKeyringWriteFailed;
    static const QString kKeyringRemoveFailed;
    static const QString kKeyringMissing;
    static const QString kSignedOut;
    static const QString kOtherUser;
    static const QString kRefreshedForOtherUser;

Q_SIGNALS:
    void identityChanged();
    void showSheetChanged();
    void stateChanged();

private:
    struct Attempt {
        QString verifier;
        QString state;
        double startedAt = 0;
    };

    double now() const { return m_clock(); }
    void renewRevision();
    void setMessage(const QString &text);
    void setBusy(bool value);
    void finishCallback(const QUrl &url);
    void adoptSession(const AccountSession &session);
    void endSession();
    void storeSession();
    void refreshSession(std::function<void(const QString &failure)> then);
    QString sentenceFor(AccountProblem problem) const;
    void forgetSession(const QString &sentence);

    QString m_clientID;
    std::unique_ptr<AccountAPI> m_api;
    std::unique_ptr<AccountVault> m_vault;
    OpenURL m_openURL;
    Clock m_clock;

    OptionalAccountIdentity m_identity;
    bool m_showSheet = false;
    bool m_busy = false;
    QString m_message;
    bool m_keyringAvailable = true;
    QUuid m_revision = QUuid::createUuid();

    std::optional<AccountSession> m_session;
    // Renewed whenever the session is replaced or ended; a refresh applies only to its own.
    quint64 m_sessionGeneration = 0;
    std::optional<Attempt> m_attempt;
    bool m_refreshing = false;
    // A refresh whose tokens could not be checked against the signed-in user yet: the next token
    // request refreshes and checks again before handing one out.
    bool m_identityUnconfirmed = false;
    QList<std::function<void(const QString &)>> m_refreshWaiters;
    QTimer m_maintenance;
};
