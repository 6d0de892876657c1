#pragma once

#include "platform/AccountVault.h"

#include <QPointer>
#include <QString>

#include <deque>
#include <memory>

// The session as one item of the desktop's Secret Service, through QtKeychain. Nothing is ever
// written elsewhere: without a Secret Service every operation reports Unavailable.
class KeychainAccountVault final : public AccountVault {
public:
    static inline const QString kService = QStringLiteral("app.vellumbox.account");
    static inline const QString kAccount = QStringLiteral("supabase-oauth-session");

    explicit KeychainAccountVault(QString service = kService, QString account = kAccount);
    ~KeychainAccountVault() override;

    void read(QObject *receiver, Done done) override;
    void write(const QByteArray &data, QObject *receiver, Done done) override;
    void remove(QObject *receiver, Done done) override;

private:
    enum class Kind { Read, Write, Remove };
    struct Operation {
        Kind kind;
        QByteArray data;
        QPointer<QObject> receiver; // guarded from the start: it may go while the job runs
        Done done;
    };
    void enqueue(Operation operation);
    void runNext();
    void finish(Result result);

    QString m_service;
    QString m_account;
    std::unique_ptr<QObject> m_context; // parent of the running job; cancels callbacks when gone
    std::deque<Operation> m_queue;
    bool m_running = false;
};
