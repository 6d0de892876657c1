#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QStringList>
#include <QVariantMap>

#include <memory>

// Tells when the user leaves the screen: the machine is about to sleep, the session is locked or
// switched away from, or the screen saver starts. Collecting pauses then, so nothing is captured
// into a round the user cannot see. Listens over D-Bus to logind on the system bus and to the
// screen saver on the session bus; a bus that is not there is skipped without a word.
class SessionWatcher : public QObject {
    Q_OBJECT

public:
    SessionWatcher(const QDBusConnection &system, const QDBusConnection &session, QObject *parent = nullptr);
    ~SessionWatcher() override;

    // The desktop's own buses.
    static std::unique_ptr<SessionWatcher> createForDesktop(QObject *parent = nullptr);

Q_SIGNALS:
    void away();

private Q_SLOTS:
    void prepareForSleep(bool start);
    void locked();
    void sessionPropertiesChanged(const QString &interface, const QVariantMap &changed,
                                  const QStringList &invalidated);
    void screenSaverActiveChanged(bool active);

private:
    void watchSession(const QString &path);

    QDBusConnection m_system;
    QDBusConnection m_session;
    QString m_sessionPath;
};
