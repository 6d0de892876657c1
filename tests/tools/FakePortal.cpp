// A stand-in for the desktop's screenshot portal on a private session bus.
//
//   dbus-run-session -- fake_portal still FILE.png | shortcuts | refuse | none
//
// Screenshot: "still" hands out a copy of FILE.png, every other mode refuses. GlobalShortcuts:
// "shortcuts" binds what it is asked for and then reports one press; other modes decline.
// Prints "READY <bus address>" once it serves, "CALL interactive=<b> modal=<b>" for each request
// and "URI <file>" for each still handed out. Like real portals, it may send the Response signal
// before the reply to the call, so a client has to subscribe first.

#include <QCoreApplication>
#include <QDBusAbstractAdaptor>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusContext>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QFile>
#include <QTemporaryFile>
#include <QTimer>
#include <QUrl>
#include <QVariantMap>

#include <cstdio>

struct PortalShortcut {
    QString id;
    QVariantMap properties;
};
Q_DECLARE_METATYPE(PortalShortcut)

QDBusArgument &operator<<(QDBusArgument &argument, const PortalShortcut &shortcut) {
    argument.beginStructure();
    argument << shortcut.id << shortcut.properties;
    argument.endStructure();
    return argument;
}

const QDBusArgument &operator>>(const QDBusArgument &argument, PortalShortcut &shortcut) {
    argument.beginStructure();
    argument >> shortcut.id >> shortcut.properties;
    argument.endStructure();
    return argument;
}

// The object at /org/freedesktop/portal/desktop; its interfaces are the adaptors below.
class Portal : public QObject, public QDBusContext {
    Q_OBJECT
public:
    Portal(QString mode, QString still) : mode(std::move(mode)), still(std::move(still)) {}

    QString requestPath(const QVariantMap &options, const QString &key = QStringLiteral("handle_token")) {
        QString sender = message().service().mid(1);
        sender.replace(QLatin1Char('.'), QLatin1Char('_'));
        return QStringLiteral("/org/freedesktop/portal/desktop/%1/%2/%3")
            .arg(key == QLatin1String("handle_token") ? QStringLiteral("request") : QStringLiteral("session"),
                 sender, options.value(key).toString());
    }

    // Sent before the method returns, so it reaches the client ahead of the reply.
    void respond(const QString &path, uint response, const QVariantMap &results) {
        QDBusMessage signal = QDBusMessage::createSignal(
            path, QStringLiteral("org.freedesktop.portal.Request"), QStringLiteral("Response"));
        signal << response << results;
        connection().send(signal);
    }

    QString mode;
    QString still;
};

class ScreenshotAdaptor : public QDBusAbstractAdaptor {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.portal.Screenshot")
public:
    explicit ScreenshotAdaptor(Portal *portal) : QDBusAbstractAdaptor(portal), m_portal(portal) {}

public Q_SLOTS:
    QDBusObjectPath Screenshot(const QString &, const QVariantMap &options) {
        const QString path = m_portal->requestPath(options);
        std::printf("CALL interactive=%s modal=%s\n",
                    options.value(QStringLiteral("interactive")).toBool() ? "true" : "false",
                    options.value(QStringLiteral("modal")).toBool() ? "true" : "false");
        uint response = 2;
        QVariantMap results;
        if (m_portal->mode == QLatin1String("still")) {
            QTemporaryFile copy(QStringLiteral("/tmp/fake-portal-XXXXXX.png"));
            copy.setAutoRemove(false);
            QFile source(m_portal->still);
            if (copy.open() && source.open(QIODevice::ReadOnly) && copy.write(source.readAll()) >= 0) {
                copy.close();
                response = 0;
                results.insert(QStringLiteral("uri"), QUrl::fromLocalFile(copy.fileName()).toString());
                std::printf("URI %s\n", qPrintable(copy.fileName()));
            }
        }
        std::fflush(stdout);
        m_portal->respond(path, response, results);
        return QDBusObjectPath(path);
    }

private:
    Portal *m_portal;
};

class GlobalShortcutsAdaptor : public QDBusAbstractAdaptor {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.portal.GlobalShortcuts")
public:
    explicit GlobalShortcutsAdaptor(Portal *portal) : QDBusAbstractAdaptor(portal), m_portal(portal) {}

public Q_SLOTS:
    QDBusObjectPath CreateSession(const QVariantMap &options) {
        const QString path = m_portal->requestPath(options);
        m_portal->respond(path, 0,
                          {{QStringLiteral("session_handle"),
                            m_portal->requestPath(options, QStringLiteral("session_handle_token"))}});
        return QDBusObjectPath(path);
    }

    QDBusObjectPath BindShortcuts(const QDBusObjectPath &session, const QList<PortalShortcut> &shortcuts,
                                  const QString &, const QVariantMap &options) {
        const QString path = m_portal->requestPath(options);
        if (m_portal->mode != QLatin1String("shortcuts") || shortcuts.isEmpty()) {
            m_portal->respond(path, 1, {});
            return QDBusObjectPath(path);
        }
        m_portal->respond(path, 0, {{QStringLiteral("shortcuts"), QVariant::fromValue(shortcuts)}});
        // One press of the first shortcut, as the desktop would report it.
        const QString id = shortcuts.first().id;
        QDBusConnection bus = m_portal->connection();
        QTimer::singleShot(50, this, [bus, session, id]() mutable {
            QDBusMessage signal = QDBusMessage::createSignal(
                QStringLiteral("/org/freedesktop/portal/desktop"),
                QStringLiteral("org.freedesktop.portal.GlobalShortcuts"), QStringLiteral("Activated"));
            signal << QVariant::fromValue(session) << id << qulonglong(1) << QVariantMap();
            bus.send(signal);
        });
        return QDBusObjectPath(path);
    }

private:
    Portal *m_portal;
};

int main(int argc, char **argv) {
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 2)
        return 2;
    qDBusRegisterMetaType<PortalShortcut>();
    qDBusRegisterMetaType<QList<PortalShortcut>>();
    QDBusConnection bus = QDBusConnection::sessionBus();
    Portal portal(args.at(1), args.value(2));
    new ScreenshotAdaptor(&portal);
    new GlobalShortcutsAdaptor(&portal);
    if (args.at(1) != QLatin1String("none")) {
        if (!bus.registerObject(QStringLiteral("/org/freedesktop/portal/desktop"), &portal,
                                QDBusConnection::ExportAdaptors) ||
            !bus.registerService(QStringLiteral("org.freedesktop.portal.Desktop")))
            return 2;
    }
    std::printf("READY %s\n", qgetenv("DBUS_SESSION_BUS_ADDRESS").constData());
    std::fflush(stdout);
    return QCoreApplication::exec();
}

#include "FakePortal.moc"
