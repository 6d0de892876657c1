#include "backup/CloudBackupAPI.h"

#include "account/AccountConfiguration.h"
#include "account/AccountSession.h"

#include <QPointer>
#include <QRegularExpression>

const QString CloudBackupAPI::kUnreachable =
    QStringLiteral("Der Cloud-Dienst ist gerade nicht erreichbar. Bitte prüfe deine Internetverbindung und "
                   "versuche es erneut.");
const QString CloudBackupAPI::kUnexpected = QStringLiteral("Der Cloud-Dienst hat unerwartet geantwortet.");
const QString CloudBackupAPI::kSignInRefused =
    QStringLiteral("Der Cloud-Dienst hat deine Anmeldung nicht angenommen. Bitte melde dich erneut an.");
const QString CloudBackupAPI::kNotFound = QStringLiteral("Der Eintrag wurde im Cloud-Dienst nicht gefunden.");
const QString CloudBackupAPI::kNoRoom = QStringLiteral("Im Cloud-Speicher ist nicht mehr genug Platz.");
const QString CloudBackupAPI::kRefused = QStringLiteral("Der Cloud-Dienst hat die Anfrage abgelehnt.");
const QString CloudBackupAPI::kServiceFailed =
    QStringLiteral("Beim Cloud-Dienst ist ein Fehler aufgetreten. Bitte versuche es später erneut.");

QUrl CloudBackupAPI::base() {
    return AccountConfiguration::backupBase();
}

QUrl CloudBackupAPI::shareBase() {
    return AccountConfiguration::shareBase();
}

CloudBackupAPI::CloudBackupAPI(const QUrl &base, bool allowLoopbackHttp)
    : m_endpoint(base), m_http(allowLoopbackHttp) {}

QString CloudBackupAPI::failureOf(const HttpReply &reply) {
    switch (reply.problem) {
    case HttpReply::Problem::Unreachable:
        return kUnreachable;
    case HttpReply::Problem::TooLarge:
    case HttpReply::Problem::AddressRefused:
        return kUnexpected;
    case HttpReply::Problem::None:
        break;
    }
    const int status = reply.status;
    if (status >= 200 && status < 300)
        return {};
    if (status == 401 || status == 403)
        return kSignInRefused;
    if (status == 404 || status == 410)
        return kNotFound;
    if (status == 413 || status == 507)
        return kNoRoom;
    if (status >= 400 && status < 500)
        return kRefused;
    if (status >= 500)
        return kServiceFailed;
    return kUnexpected; // redirects and the like are never followed
}

void CloudBackupAPI::request(BackupRequest request, QObject *receiver,
                             std::function<void(BackupResponse)> done) {
    // Segments never start with a dot, so no path can climb out of the service's base.
    static const QRegularExpression safePath(QStringLiteral("^(/[A-Za-z0-9_-][A-Za-z0-9._-]*)*$"));
    if (!safePath.match(request.path).hasMatch() || !AccountChecks::validToken(request.token)) {
        QPointer<QObject> guard(receiver);
        QMetaObject::invokeMethod(
            receiver,
            [guard, done = std::move(done)] {
                if (guard)
                    done({{}, kUnexpected});
            },
            Qt::QueuedConnection);
        return;
    }
    HttpRequest out;
    out.method = request.method;
    out.url = QUrl(m_endpoint.toString(QUrl::FullyEncoded) + request.path, QUrl::StrictMode);
    out.headers = {{"Authorization", "Bearer " + request.token.toLatin1()}, {"Accept", "application/json"}};
    if (request.body) {
        out.headers.append({"Content-Type", request.contentType});
        out.body = *request.body;
    }
    out.maxReplyBytes = request.maxReplyBytes;
    m_http.send(std::move(out), receiver, [done = std::move(done)](HttpReply reply) {
        const QString failure = failureOf(reply);
        done({failure.isEmpty() ? std::move(reply.body) : QByteArray(), failure});
    });
}
