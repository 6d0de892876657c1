#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QUrl>

#include <functional>
#include <optional>

// One call of the backup or share service: a method, a path below the service's base address,
// the user's access token and an optional body.
struct BackupRequest {
    QByteArray method = "GET";
    QString path; // "" or starting with "/"; only letters, digits and "-._/"
    QString token;
    std::optional<QByteArray> body;
    QByteArray contentType = "application/json";
    qint64 maxReplyBytes = 8'000'000;
};

// The reply body of a successful call (2xx), or the German sentence why there is none.
struct BackupResponse {
    QByteArray body;
    QString failure;
    bool succeeded() const { return failure.isEmpty(); }
};

// The one HTTP client interface of the backup and share services. Replies arrive on the main
// thread and are dropped when the receiver is gone.
class BackupAPI {
public:
    virtual ~BackupAPI() = default;
    // The service's base address; share links must live on its host.
    virtual QUrl endpoint() const = 0;
    virtual void request(BackupRequest request, QObject *receiver,
                         std::function<void(BackupResponse)> done) = 0;
};
