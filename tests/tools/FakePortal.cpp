// A stand-in for the desktop portal: dbus-run-session -- fake_portal accept FILE.png | refuse | none
// "accept" hands out FILE.png itself as the screenshot, binds the shortcuts it is asked for and
// reports presses: of the first shortcut in another session, of another shortcut in the session,
// then one of the first in the session; "refuse" declines everything; "none" does not serve at all.
// Prints the bus address once ready; ends when its input closes. Like real portals, it sends the
// Response signal before the reply to the call, so a client has to subscribe first.

#include <QCoreApplication>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusVirtualObject>
#include <QSocketNotifier>
#include <QUrl>

#include <cstdio>
#include <unistd.h>

namespace {

const QString kObject = "/org/freedesktop/portal/desktop";

struct Portal : QDBusVirtualObject {
    QStringList args; // ours: mode, still

    bool accept() const { return args.value(1) == "accept"; }
    QString introspect(const QString &) const override { return {}; }

    bool handleMessage(const QDBusMessage &message, const QDBusConnection &bus) override {
        // Every method here takes its options last; they name the request.
        const QList<QVariant> arguments = message.arguments();
        const QVariantMap options = qdbus_cast<QVariantMap>(arguments.value(arguments.size() - 1));
        const QString request = kObject + "/request/" + message.service().mid(1).replace('.', '_') + '/' +
                                options.value("handle_token").toString();
        const QString method = message.member();
        QVariantMap results;
        if (method == "Screenshot")
            results.insert("uri", QUrl::fromLocalFile(args.value(2)).toString());
        else if (method == "CreateSession")
            results.insert("session_handle", kObject + "/session/fake");
        else if (method == "BindShortcuts")
            results.insert("shortcuts", arguments.at(1));
        else
            return false;
        bus.send(QDBusMessage::createSignal(request, "org.freedesktop.portal.Request", "Response")
                 << uint(accept() ? 0 : 1) << results);
        bus.send(message.createReply(QVariant::fromValue(QDBusObjectPath(request))));
        if (accept() && method == "BindShortcuts") {
            const QDBusArgument shortcuts = arguments.at(1).value<QDBusArgument>();
            QString first;
            shortcuts.beginArray();
            shortcuts.beginStructure();
            shortcuts >> first;
            const auto press = [&](const QVariant &session, const QString &id) {
                bus.send(
                    QDBusMessage::createSignal(kObject, "org.freedesktop.portal.GlobalShortcuts", "Activated")
                    << session << id << qulonglong(1) << QVariantMap());
            };
            press(QVariant::fromValue(QDBusObjectPath(kObject + "/session/other")), first);
            press(arguments.at(0), first + "-other");
            press(arguments.at(0), first);
        }
        return true;
    }
};

} // namespace

int main(int argc, char **argv) {
    QCoreApplication app(argc, argv);
    Portal portal;
    portal.args = app.arguments();
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (portal.args.value(1) != "none" && !(bus.registerVirtualObject(kObject, &portal) &&
                                            bus.registerService("org.freedesktop.portal.Desktop")))
        return 2;
    // Nothing is ever written to it: readable means closed.
    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&input, &QSocketNotifier::activated, &app, &QCoreApplication::quit);
    std::printf("%s\n", qgetenv("DBUS_SESSION_BUS_ADDRESS").constData());
    std::fflush(stdout);
    return QCoreApplication::exec();
}
