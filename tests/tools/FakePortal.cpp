// A stand-in for the desktop's screenshot portal on a private session bus.
//
//   dbus-run-session -- fake_portal still FILE.png | refuse | none
//
// Prints "READY <bus address>" once it serves, "CALL interactive=<b> modal=<b>" for each request
// and "URI <file>" for each still handed out. Like real portals, it may send the Response signal
// before the reply to the call, so a client has to subscribe first.

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusContext>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QFile>
#include <QTemporaryFile>
#include <QUrl>
#include <QVariantMap>

#include <cstdio>

class ScreenshotPortal : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.portal.Screenshot")
public:
    ScreenshotPortal(QString mode, QString still) : m_mode(std::move(mode)), m_still(std::move(still)) {}

public Q_SLOTS:
    QDBusObjectPath Screenshot(const QString &, const QVariantMap &options) {
        QString sender = message().service().mid(1);
        sender.replace(QLatin1Char('.'), QLatin1Char('_'));
        const QString path = QStringLiteral("/org/freedesktop/portal/desktop/request/%1/%2")
                                 .arg(sender, options.value(QStringLiteral("handle_token")).toString());
        std::printf("CALL interactive=%s modal=%s\n",
                    options.value(QStringLiteral("interactive")).toBool() ? "true" : "false",
                    options.value(QStringLiteral("modal")).toBool() ? "true" : "false");
        uint response = 2;
        QVariantMap results;
        if (m_mode == QLatin1String("still")) {
            QTemporaryFile copy(QStringLiteral("/tmp/fake-portal-XXXXXX.png"));
            copy.setAutoRemove(false);
            QFile source(m_still);
            if (copy.open() && source.open(QIODevice::ReadOnly) && copy.write(source.readAll()) >= 0) {
                copy.close();
                response = 0;
                results.insert(QStringLiteral("uri"), QUrl::fromLocalFile(copy.fileName()).toString());
                std::printf("URI %s\n", qPrintable(copy.fileName()));
            }
        }
        std::fflush(stdout);
        QDBusMessage signal = QDBusMessage::createSignal(
            path, QStringLiteral("org.freedesktop.portal.Request"), QStringLiteral("Response"));
        signal << response << results;
        connection().send(signal);
        return QDBusObjectPath(path);
    }

private:
    QString m_mode;
    QString m_still;
};

int main(int argc, char **argv) {
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 2)
        return 2;
    QDBusConnection bus = QDBusConnection::sessionBus();
    ScreenshotPortal portal(args.at(1), args.value(2));
    if (args.at(1) != QLatin1String("none")) {
        if (!bus.registerObject(QStringLiteral("/org/freedesktop/portal/desktop"), &portal,
                                QDBusConnection::ExportAllSlots) ||
            !bus.registerService(QStringLiteral("org.freedesktop.portal.Desktop")))
            return 2;
    }
    std::printf("READY %s\n", qgetenv("DBUS_SESSION_BUS_ADDRESS").constData());
    std::fflush(stdout);
    return QCoreApplication::exec();
}

#include "FakePortal.moc"
