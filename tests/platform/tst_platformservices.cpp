// The small platform layers that run without a display: the single-instance socket, the session
// watcher (against a fake logind and screen saver on a private bus), the termination signals and
// the desktop settings lookup.
#include "platform/DesktopSettings.h"
#include "platform/SessionWatcher.h"
#include "platform/SingleInstance.h"
#include "platform/TerminationRequests.h"

#include <QDBusAbstractAdaptor>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QFile>
#include <QSemaphore>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QtConcurrent>

#include <csignal>
#include <vector>

using namespace Qt::StringLiterals;

namespace {

constexpr int kPatienceMs = 20'000;
const QString kSessionPath = u"/org/freedesktop/login1/session/c7"_s;

// logind's manager, as much of it as the watcher asks for.
class FakeLoginManager : public QDBusAbstractAdaptor {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.login1.Manager")
public:
    explicit FakeLoginManager(QObject *parent) : QDBusAbstractAdaptor(parent) {}
    int asked = 0;
public Q_SLOTS:
    QDBusObjectPath GetSessionByPID(uint) { return answer(); }
    QDBusObjectPath GetSession(const QString &) { return answer(); }

private:
    QDBusObjectPath answer() {
        ++asked;
        return QDBusObjectPath(kSessionPath);
    }
};

// A second client of the bus, which can own the services' names and send their signals.
struct FakeDesktop {
    QDBusConnection bus;
    QObject manager;
    FakeLoginManager *login = nullptr;

    explicit FakeDesktop(const QString &name)
        : bus(QDBusConnection::connectToBus(QDBusConnection::SessionBus, name)) {}
    ~FakeDesktop() { QDBusConnection::disconnectFromBus(bus.name()); }

    bool own(const QString &service) { return bus.registerService(service); }
    bool serveLogin() {
        login = new FakeLoginManager(&manager);
        return bus.registerObject(u"/org/freedesktop/login1"_s, &manager) && own(u"org.freedesktop.login1"_s);
    }
    void send(const QString &path, const QString &interface, const QString &name, const QVariantList &args) {
        QDBusMessage signal = QDBusMessage::createSignal(path, interface, name);
        signal.setArguments(args);
        bus.send(signal);
        // A round trip to the bus: once answered, the bus has passed the signal on, so a later
        // signal of another client cannot overtake it.
        bus.interface()->isServiceRegistered(u"org.example.None"_s);
    }
};

} // namespace

class TestPlatformServices : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() {
        QVERIFY2(QDBusConnection::sessionBus().isConnected(), "runs on a private bus (dbus-run-session)");
    }

    // Starts at the same moment: exactly one listens, and it is the one the others reach.
    void simultaneousStartsLeaveOneReachable() {
        constexpr int kStarts = 6;
        for (int round = 0; round < 10; ++round) {
            QTemporaryDir dir;
            const QString path = dir.filePath(u"vellumbox-instance"_s);
            QSemaphore gate;
            std::vector<std::unique_ptr<SingleInstance>> instances(kStarts);
            std::vector<int> listening(kStarts, 0);
            std::vector<std::unique_ptr<QThread>> starts;
            for (int i = 0; i < kStarts; ++i)
                starts.emplace_back(QThread::create([&, i] {
                    gate.acquire();
                    auto instance = std::make_unique<SingleInstance>(path);
                    listening[i] = instance->listen() ? 1 : 0;
                    instance->moveToThread(QCoreApplication::instance()->thread());
                    instances[i] = std::move(instance);
                }));
            for (const auto &start : starts)
                start->start();
            gate.release(kStarts);
            for (const auto &start : starts)
                QVERIFY(start->wait(QDeadlineTimer(kPatienceMs)));
            QCOMPARE(std::count(listening.begin(), listening.end(), 1), 1);
            const auto winner = std::find(listening.begin(), listening.end(), 1) - listening.begin();
            QSignalSpy received(instances[winner].get(), &SingleInstance::received);
            QFuture<bool> handedOver =
                QtConcurrent::run([path] { return SingleInstance::handOver(path, {u"zweiter Start"_s}); });
            QTRY_COMPARE_WITH_TIMEOUT(received.count(), 1, kPatienceMs);
            QCOMPARE(received.first().first().toStringList(), QStringList{u"zweiter Start"_s});
            QVERIFY(handedOver.result());
        }
    }

    // After the instance has gone, the next start takes the socket, even over a stale one.
    void nextStartAfterTheEnd() {
        QTemporaryDir dir;
        const QString path = dir.filePath(u"vellumbox-instance"_s);
        {
            SingleInstance first(path);
            QVERIFY(first.listen());
        }
        QVERIFY(!SingleInstance::handOver(path, {}));
        SingleInstance next(path);
        QVERIFY(next.listen());
        QVERIFY(!SingleInstance(path).listen());
    }

    void sessionWatcher_data() {
        QTest::addColumn<QString>("event");
        QTest::addColumn<bool>("away");
        QTest::newRow("going to sleep") << u"sleep"_s << true;
        QTest::newRow("waking up") << u"wake"_s << false;
        QTest::newRow("session locked") << u"lock"_s << true;
        QTest::newRow("switched away") << u"inactive"_s << true;
        QTest::newRow("switched back") << u"active"_s << false;
        QTest::newRow("Active not a Bool") << u"active text"_s << false;
        QTest::newRow("another interface's Active") << u"other interface"_s << false;
        QTest::newRow("screen saver starts") << u"saver on"_s << true;
        QTest::newRow("screen saver ends") << u"saver off"_s << false;
        QTest::newRow("GNOME screen saver starts") << u"gnome saver on"_s << true;
        // Anyone on the bus can send a signal that looks like logind's: only the owner counts.
        QTest::newRow("forged sleep") << u"forged sleep"_s << false;
        QTest::newRow("forged screen saver") << u"forged saver"_s << false;
    }
    void sessionWatcher() {
        QFETCH(QString, event);
        QFETCH(bool, away);
        FakeDesktop desktop(u"desktop"_s);
        QVERIFY(desktop.serveLogin());
        QVERIFY(desktop.own(u"org.freedesktop.ScreenSaver"_s));
        QVERIFY(desktop.own(u"org.gnome.ScreenSaver"_s));
        FakeDesktop stranger(u"stranger"_s);
        const QDBusConnection watched = QDBusConnection::sessionBus();
        SessionWatcher watcher(watched, watched);
        QSignalSpy spy(&watcher, &SessionWatcher::away);
        // The watcher asks logind for its session and then listens to it.
        QTRY_COMPARE_WITH_TIMEOUT(desktop.login->asked, 1, kPatienceMs);
        QTest::qWait(200);
        const QString manager = u"org.freedesktop.login1.Manager"_s;
        const QString properties = u"org.freedesktop.DBus.Properties"_s;
        const QString session = u"org.freedesktop.login1.Session"_s;
        const auto changed = [&](const QString &interface, const QVariant &active) {
            desktop.send(kSessionPath, properties, u"PropertiesChanged"_s,
                         {interface, QVariantMap{{u"Active"_s, active}}, QStringList()});
        };
        if (event == u"sleep")
            desktop.send(u"/org/freedesktop/login1"_s, manager, u"PrepareForSleep"_s, {true});
        else if (event == u"wake")
            desktop.send(u"/org/freedesktop/login1"_s, manager, u"PrepareForSleep"_s, {false});
        else if (event == u"lock")
            desktop.send(kSessionPath, session, u"Lock"_s, {});
        else if (event == u"inactive")
            changed(session, false);
        else if (event == u"active")
            changed(session, true);
        else if (event == u"active text")
            changed(session, u"false"_s);
        else if (event == u"other interface")
            changed(u"org.example.Other"_s, false);
        else if (event == u"saver on" || event == u"saver off")
            desktop.send(u"/org/freedesktop/ScreenSaver"_s, u"org.freedesktop.ScreenSaver"_s,
                         u"ActiveChanged"_s, {event == u"saver on"});
        else if (event == u"gnome saver on")
            desktop.send(u"/org/gnome/ScreenSaver"_s, u"org.gnome.ScreenSaver"_s, u"ActiveChanged"_s, {true});
        else if (event == u"forged sleep")
            stranger.send(u"/org/freedesktop/login1"_s, manager, u"PrepareForSleep"_s, {true});
        else if (event == u"forged saver")
            stranger.send(u"/org/freedesktop/ScreenSaver"_s, u"org.freedesktop.ScreenSaver"_s,
                          u"ActiveChanged"_s, {true});
        // A marker sent after the event: once it has arrived, so has the event.
        desktop.send(kSessionPath, session, u"Lock"_s, {});
        QTRY_VERIFY_WITH_TIMEOUT(spy.count() >= 1 + (away ? 1 : 0), kPatienceMs);
        QTest::qWait(100);
        QCOMPARE(spy.count(), 1 + (away ? 1 : 0));
    }

    // Without any bus the watcher is quiet and does not fail.
    void sessionWatcherWithoutBuses() {
        const QDBusConnection none(u"not connected"_s);
        SessionWatcher watcher(none, none);
        QSignalSpy spy(&watcher, &SessionWatcher::away);
        QTest::qWait(50);
        QCOMPARE(spy.count(), 0);
    }

    void terminationRequests_data() {
        QTest::addColumn<int>("signal");
        QTest::newRow("SIGTERM") << int(SIGTERM);
        QTest::newRow("SIGINT") << int(SIGINT);
    }
    void terminationRequests() {
        QFETCH(int, signal);
        TerminationRequests requests;
        QVERIFY(requests.isInstalled());
        // One per process: a second does not take the signals away from the first.
        {
            TerminationRequests second;
            QVERIFY(!second.isInstalled());
        }
        QSignalSpy spy(&requests, &TerminationRequests::requested);
        QCOMPARE(::raise(signal), 0);
        QCOMPARE(::raise(signal), 0);
        QTRY_COMPARE_WITH_TIMEOUT(spy.count(), 2, kPatienceMs);
    }

    // Once the handler is gone, the next one installs again.
    void terminationRequestsReinstall() {
        { TerminationRequests first; }
        TerminationRequests again;
        QVERIFY(again.isInstalled());
    }

    void desktopSettings_data() {
        QTest::addColumn<QStringList>("installed");
        QTest::addColumn<QString>("found");
        QTest::newRow("none") << QStringList() << QString();
        QTest::newRow("GNOME") << QStringList{u"gnome-control-center"_s} << u"gnome-control-center"_s;
        QTest::newRow("KDE") << QStringList{u"systemsettings"_s} << u"systemsettings"_s;
        QTest::newRow("first in the list wins")
            << QStringList{u"lxqt-config"_s, u"xfce4-settings-manager"_s} << u"xfce4-settings-manager"_s;
        QTest::newRow("not executable") << QStringList{u"-mate-control-center"_s} << QString();
    }
    void desktopSettings() {
        QFETCH(QStringList, installed);
        QFETCH(QString, found);
        QTemporaryDir bin;
        for (QString name : installed) {
            const bool executable = !name.startsWith(u'-');
            if (!executable)
                name.remove(0, 1);
            QFile file(bin.filePath(name));
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write("#!/bin/sh\n: > \"${0%/*}/started\"\n"); // PATH names only this folder
            file.close();
            if (executable)
                QVERIFY(file.setPermissions(file.permissions() | QFile::ExeOwner));
        }
        const QByteArray oldPath = qgetenv("PATH");
        qputenv("PATH", QFile::encodeName(bin.path()));
        const QString program = DesktopSettings::program();
        const bool opened = DesktopSettings::open();
        qputenv("PATH", oldPath);
        QCOMPARE(program, found.isEmpty() ? QString() : bin.filePath(found));
        QCOMPARE(opened, !found.isEmpty());
        if (opened)
            QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(bin.filePath(u"started"_s)), kPatienceMs);
    }
};

QTEST_GUILESS_MAIN(TestPlatformServices)
#include "tst_platformservices.moc"
