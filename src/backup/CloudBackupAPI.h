#pragma once

#include "account/SecureHttpClient.h"
#include "backup/BackupAPI.h"

// The backup and share services over HTTPS: one instance per base address. No redirect is ever
// followed, nothing is cached or kept in cookies, and replies are refused above their limit.
class CloudBackupAPI final : public BackupAPI {
public:
    // The backup service; the share service is the same host under "/v1/shares".
    static QUrl base();
    static QUrl shareBase();

    explicit CloudBackupAPI(const QUrl &base, bool allowLoopbackHttp = false);

    QUrl endpoint() const override { return m_endpoint; }
    void request(BackupRequest request, QObject *receiver, std::function<void(BackupResponse)> done) override;

    // The sentences a failed call reports.
    static const QString kUnreachable;
    static const QString kUnexpected;
    static const QString kSignInRefused;
    static const QString kNotFound;
    static const QString kNoRoom;
    static const QString kRefused;
    static const QString kServiceFailed;

    // Why a reply gives no body, or an empty text for a success.
    static QString failureOf(const HttpReply &reply);

private:
    QUrl m_endpoint;
    SecureHttpClient m_http;
};
