#include "platform/KeychainAccountVault.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QPointer>

#include <qt6keychain/keychain.h>

namespace {

const QString kSecretService = QStringLiteral("org.freedesktop.secrets");

// Asks the session bus whether a Secret Service runs or can be started; never blocks.
void askForSecretService(QObject *context, std::function<void(bool)> answer) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return answer(false);
    // Kept by value: the second question is asked after this function has returned.
    const auto call = [bus](const QString &method, const QVariantList &arguments) {
        QDBusMessage message = QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.DBus"),
                                                              QStringLiteral("/org/freedesktop/DBus"),
                                                              QStringLiteral("org.freedesktop.DBus"), method);
        message.setArguments(arguments);
        return bus.asyncCall(message);
    };
    auto *owned =
        new QDBusPendingCallWatcher(call(QStringLiteral("NameHasOwner"), {kSecretService}), context);
    QObject::connect(
        owned, &QDBusPendingCallWatcher::finished, context,
        [context, owned, call, answer = std::move(answer)]() mutable {
            owned->deleteLater();
            const QDBusPendingReply<bool> running = *owned;
            if (running.isValid() && running.value())
                return answer(true);
            auto *startable =
                new QDBusPendingCallWatcher(call(QStringLiteral("ListActivatableNames"), {}), context);
            QObject::connect(startable, &QDBusPendingCallWatcher::finished, context,
                             [startable, answer = std::move(answer)] {
                                 startable->deleteLater();
                                 const QDBusPendingReply<QStringList> names = *startable;
                                 answer(names.isValid() && names.value().contains(kSecretService));
                             });
        });
}

} // namespace

KeychainAccountVault::KeychainAccountVault(QString service, QString account)
    : m_service(std::move(service)), m_account(std::move(account)), m_context(new QObject) {}

KeychainAccountVault::~KeychainAccountVault() = default;

void KeychainAccountVault::read(QObject *receiver, Done done) {
    enqueue({Kind::Read, {}, receiver, std::move(done)});
}

void KeychainAccountVault::write(const QByteArray &data, QObject *receiver, Done done) {
    enqueue({Kind::Write, data, receiver, std::move(done)});
}

void KeychainAccountVault::remove(QObject *receiver, Done done) {
    enqueue({Kind::Remove, {}, receiver, std::move(done)});
}

void KeychainAccountVault::enqueue(Operation operation) {
    m_queue.push_back(std::move(operation));
    if (!m_running)
        runNext();
}

void KeychainAccountVault::runNext() {
    if (m_queue.empty()) {
        m_running = false;
        return;
    }
    m_running = true;
    const Operation &operation = m_queue.front();
    QKeychain::Job *job = nullptr;
    switch (operation.kind) {
    case Kind::Read:
        job = new QKeychain::ReadPasswordJob(m_service, m_context.get());
        break;
    case Kind::Write: {
        auto *writing = new QKeychain::WritePasswordJob(m_service, m_context.get());
        writing->setTextData(QString::fromUtf8(operation.data));
        job = writing;
        break;
    }
    case Kind::Remove:
        job = new QKeychain::DeletePasswordJob(m_service, m_context.get());
        break;
    }
    job->setKey(m_account);
    job->setAutoDelete(true);
    // A plain-text file is no place for a session.
    job->setInsecureFallback(false);
    const Kind kind = operation.kind;
    QObject::connect(job, &QKeychain::Job::finished, m_context.get(), [this, kind](QKeychain::Job *finished) {
        const QKeychain::Error error = finished->error();
        Result result;
        if (error == QKeychain::NoError) {
            result.status = kind == Kind::Read ? Status::Found : Status::Done;
            if (kind == Kind::Read)
                result.data = static_cast<QKeychain::ReadPasswordJob *>(finished)->textData().toUtf8();
        } else if (error == QKeychain::EntryNotFound) {
            result.status = kind == Kind::Read ? Status::Missing : Status::Done;
        } else if (error == QKeychain::NoBackendAvailable || error == QKeychain::NotImplemented) {
            result.status = Status::Unavailable;
        } else {
            // QtKeychain reports a missing Secret Service as an ordinary error: ask the bus.
            askForSecretService(m_context.get(), [this](bool present) {
                finish({present ? Status::Failed : Status::Unavailable, {}});
            });
            return;
        }
        finish(std::move(result));
    });
    job->start();
}

void KeychainAccountVault::finish(Result result) {
    Operation operation = std::move(m_queue.front());
    m_queue.pop_front();
    QPointer<QObject> guard = operation.receiver;
    QMetaObject::invokeMethod(
        m_context.get(),
        [guard, done = std::move(operation.done), result = std::move(result)]() mutable {
            if (guard)
                done(std::move(result));
        },
        Qt::QueuedConnection);
    runNext();
}
