#include "platform/SessionWatcher.h"

#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>

#include <unistd.h>

namespace {

const QString kLogin = QStringLiteral("org.freedesktop.login1");
const QString kLoginPath = QStringLiteral("/org/freedesktop/login1");
const QString kManager = QStringLiteral("org.freedesktop.login1.Manager");
const QString kSession = QStringLiteral("org.freedesktop.login1.Session");
const QString kProperties = QStringLiteral("org.freedesktop.DBus.Properties");

struct ScreenSaver {
    QString service, path;
};

// Desktops announce the screen saver under the freedesktop name, GNOME under its own.
const ScreenSaver kScreenSavers[] = {
    {QStringLiteral("org.freedesktop.ScreenSaver"), QStringLiteral("/org/freedesktop/ScreenSaver")},
    {QStringLiteral("org.freedesktop.ScreenSaver"), QStringLiteral("/ScreenSaver")},
    {QStringLiteral("org.gnome.ScreenSaver"), QStringLiteral("/org/gnome/ScreenSaver")},
};

} // namespace

SessionWatcher::SessionWatcher(const QDBusConnection &system, const QDBusConnection &session, QObject *parent)
    : QObject(parent), m_system(system), m_session(session) {
    // Naming the service makes the connection accept these signals only from the name's owner:
    // any other client of the bus can send a signal that looks the same.
    if (m_system.isConnected()) {
        m_system.connect(kLogin, kLoginPath, kManager, QStringLiteral("PrepareForSleep"), this,
                         SLOT(prepareForSleep(bool)));
        const QString id = qEnvironmentVariable("XDG_SESSION_ID");
        QDBusMessage call = QDBusMessage::createMethodCall(kLogin, kLoginPath, kManager,
                                                           id.isEmpty() ? QStringLiteral("GetSessionByPID")
                                                                        : QStringLiteral("GetSession"));
        call << (id.isEmpty() ? QVariant::fromValue(uint(::getpid())) : QVariant(id));
        auto *watcher = new QDBusPendingCallWatcher(m_system.asyncCall(call), this);
        connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher *call) {
            const QDBusPendingReply<QDBusObjectPath> reply = *call;
            if (reply.isValid())
                watchSession(reply.value().path());
            call->deleteLater();
        });
    }
    if (m_session.isConnected()) {
        for (const ScreenSaver &saver : kScreenSavers)
            m_session.connect(saver.service, saver.path, saver.service, QStringLiteral("ActiveChanged"), this,
                              SLOT(screenSaverActiveChanged(bool)));
    }
}

SessionWatcher::~SessionWatcher() = default;

std::unique_ptr<SessionWatcher> SessionWatcher::createForDesktop(QObject *parent) {
    return std::make_unique<SessionWatcher>(QDBusConnection::systemBus(), QDBusConnection::sessionBus(),
                                            parent);
}

void SessionWatcher::watchSession(const QString &path) {
    m_sessionPath = path;
    m_system.connect(kLogin, path, kSession, QStringLiteral("Lock"), this, SLOT(locked()));
    m_system.connect(kLogin, path, kProperties, QStringLiteral("PropertiesChanged"), this,
                     SLOT(sessionPropertiesChanged(QString, QVariantMap, QStringList)));
}

void SessionWatcher::prepareForSleep(bool start) {
    if (start)
        Q_EMIT away();
}

void SessionWatcher::locked() {
    Q_EMIT away();
}

void SessionWatcher::sessionPropertiesChanged(const QString &interface, const QVariantMap &changed,
                                              const QStringList &) {
    const auto active = changed.constFind(QStringLiteral("Active"));
    if (interface == kSession && active != changed.constEnd() && active->metaType().id() == QMetaType::Bool &&
        !active->toBool())
        Q_EMIT away();
}

void SessionWatcher::screenSaverActiveChanged(bool active) {
    if (active)
        Q_EMIT away();
}
