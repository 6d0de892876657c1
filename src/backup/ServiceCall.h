#pragma once

#include "backup/BackupAPI.h"

#include <functional>

class AccountStore;

// One authorised call of the backup or share service on behalf of `owner`: a fresh token of that
// user first, then the request. `stillCurrent` is asked after every wait; once it says no, the
// result belongs to a user or task that is gone and nothing more happens. Otherwise a successful
// body goes to `next` and any failure sentence to `failed`.
struct ServiceCall {
    AccountStore *account;
    BackupAPI *api;
    QObject *receiver;
    QString owner;
    std::function<bool()> stillCurrent;
    std::function<void(const QString &failure)> failed;

    void send(BackupRequest request, std::function<void(const QByteArray &body)> next) const;
};
