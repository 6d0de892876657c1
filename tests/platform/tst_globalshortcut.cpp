#include "platform/PortalGlobalShortcut.h"
#include "platform/X11GlobalShortcut.h"

#include "support/X11TestSupport.h"

#include <QDBusConnection>
#include <QSignalSpy>
#include <QTest>

#include <xcb/xcb.h>

using namespace X11TestSupport;

namespace {

const QString kFakePortal = QStringLiteral(FAKE_PORTAL_PATH);

// Space's keycode and the modifier masks, as another client would grab them.
struct SpaceGrab {
    Connection x;
    uint8_t keycode = 0;

    SpaceGrab() {
        const xcb_setup_t *setup = xcb_get_setup(x.connection);
        xcb_get_keyboard_mapping_reply_t *reply = xcb_get_keyboard_mapping_reply(
            x.connection,
            xcb_get_keyboard_mapping(x.connection, setup->min_keycode,
                                     uint8_t(setup->max_keycode - setup->min_keycode + 1)),
            nullptr);
        const xcb_keysym_t *keysyms = xcb_get_keyboard_mapping_keysyms(reply);
        for (int i = 0; i <= setup->max_keycode - setup->min_keycode && !keycode; ++i) {
            if (keysyms[i * reply->keysyms_per_keycode] == 0x20)
                keycode = uint8_t(setup->min_keycode + i);
        }
        std::free(reply);
    }

    bool grab(uint16_t extra) {
        xcb_generic_error_t *error = xcb_request_check(
            x.connection, xcb_grab_key_checked(x.connection, false, x.root,
                                               XCB_MOD_MASK_CONTROL | XCB_MOD_MASK_SHIFT | extra, keycode,
                                               XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC));
        std::free(error);
        return !error;
    }
};

bool keys(const QString &sequence) {
    QStringList arguments{QStringLiteral("key")};
    arguments += sequence.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    return xdotool(arguments);
}

// The portal's bus, on a private session bus started for the test.
class FakePortal {
public:
    bool start(const QString &mode) {
        m_process.start(QStringLiteral("dbus-run-session"), {QStringLiteral("--"), kFakePortal, mode});
        while (m_process.waitForReadyRead(kPatienceMs) || m_process.canReadLine()) {
            while (m_process.canReadLine()) {
                const QByteArray line = m_process.readLine().trimmed();
                if (line.startsWith("READY "))
                    return connectTo(QString::fromUtf8(line.mid(6)));
            }
        }
        return false;
    }
    ~FakePortal() {
        QDBusConnection::disconnectFromBus(QStringLiteral("fake-portal"));
        m_process.terminate();
        if (!m_process.waitForFinished(kPatienceMs))
            m_process.kill();
    }
    QDBusConnection bus() const { return QDBusConnection(QStringLiteral("fake-portal")); }

private:
    bool connectTo(const QString &address) {
        return QDBusConnection::connectToBus(address, QStringLiteral("fake-portal")).isConnected();
    }
    QProcess m_process;
};

} // namespace

class TestGlobalShortcut : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void firesForTheCombinationOnly_data();
    void firesForTheCombinationOnly();
    void heldKeyFiresOnce();
    void keyHeldByAnotherClient_data();
    void keyHeldByAnotherClient();
    void destroyingReleasesTheKey();
    void portal_data();
    void portal();
};

void TestGlobalShortcut::initTestCase() {
    QVERIFY2(QGuiApplication::platformName() == QLatin1String("xcb"), "needs an X server");
    QVERIFY(SpaceGrab().keycode != 0);
}

void TestGlobalShortcut::firesForTheCombinationOnly_data() {
    QTest::addColumn<QString>("lock"); // toggled before and after
    QTest::addColumn<QString>("sequence");
    QTest::addColumn<int>("expected");
    QTest::newRow("Control-Shift-Space") << QString() << "ctrl+shift+space" << 1;
    QTest::newRow("twice") << QString() << "ctrl+shift+space ctrl+shift+space" << 2;
    QTest::newRow("Control-Space") << QString() << "ctrl+space" << 0;
    QTest::newRow("Shift-Space") << QString() << "shift+space" << 0;
    QTest::newRow("Space") << QString() << "space" << 0;
    QTest::newRow("Control-Shift-A") << QString() << "ctrl+shift+a" << 0;
    QTest::newRow("Control-Alt-Shift-Space") << QString() << "ctrl+alt+shift+space" << 0;
    QTest::newRow("Num Lock on") << "Num_Lock"
                                 << "ctrl+shift+space" << 1;
    QTest::newRow("Caps Lock on") << "Caps_Lock"
                                  << "ctrl+shift+space" << 1;
    QTest::newRow("both locks on") << "Num_Lock Caps_Lock"
                                   << "ctrl+shift+space ctrl+space" << 1;
}

void TestGlobalShortcut::firesForTheCombinationOnly() {
    QFETCH(QString, lock);
    QFETCH(QString, sequence);
    QFETCH(int, expected);
    X11GlobalShortcut shortcut;
    QSignalSpy activated(&shortcut, &GlobalShortcut::activated);
    QSignalSpy failed(&shortcut, &GlobalShortcut::failed);
    shortcut.registerShortcut();
    QVERIFY(shortcut.isRegistered());

    if (!lock.isEmpty())
        QVERIFY(keys(lock));
    QVERIFY(keys(sequence));
    // A last press as a marker: once it has arrived, everything before it has been handled.
    QVERIFY(keys(QStringLiteral("ctrl+shift+space")));
    if (!lock.isEmpty())
        QVERIFY(keys(lock));
    QTRY_COMPARE_WITH_TIMEOUT(activated.count(), expected + 1, kPatienceMs);
    QCoreApplication::processEvents();
    QCOMPARE(activated.count(), expected + 1);
    QCOMPARE(failed.count(), 0);
}

void TestGlobalShortcut::heldKeyFiresOnce() {
    X11GlobalShortcut shortcut;
    QSignalSpy activated(&shortcut, &GlobalShortcut::activated);
    shortcut.registerShortcut();
    QVERIFY(shortcut.isRegistered());
    QVERIFY(xdotool({QStringLiteral("keydown"), QStringLiteral("ctrl+shift+space")}));
    QTest::qWait(1200); // long enough for the server's auto-repeat to start
    QVERIFY(xdotool({QStringLiteral("keyup"), QStringLiteral("ctrl+shift+space")}));
    QVERIFY(keys(QStringLiteral("ctrl+shift+space")));
    QTRY_COMPARE_WITH_TIMEOUT(activated.count(), 2, kPatienceMs);
    QCoreApplication::processEvents();
    QCOMPARE(activated.count(), 2);
}

void TestGlobalShortcut::keyHeldByAnotherClient_data() {
    QTest::addColumn<uint>("held");
    QTest::newRow("plain") << uint(0);
    QTest::newRow("with Caps Lock") << uint(XCB_MOD_MASK_LOCK);
}

void TestGlobalShortcut::keyHeldByAnotherClient() {
    QFETCH(uint, held);
    auto other = std::make_unique<SpaceGrab>();
    QVERIFY(other->grab(uint16_t(held)));

    X11GlobalShortcut shortcut;
    QSignalSpy failed(&shortcut, &GlobalShortcut::failed);
    QSignalSpy activated(&shortcut, &GlobalShortcut::activated);
    shortcut.registerShortcut();
    QVERIFY(!shortcut.isRegistered());
    QTRY_COMPARE_WITH_TIMEOUT(failed.count(), 1, kPatienceMs);

    // What the failed attempt took is free again: the other client can take every combination.
    SpaceGrab third;
    for (uint16_t lock : {uint16_t(0), uint16_t(XCB_MOD_MASK_LOCK)}) {
        if (lock != held)
            QVERIFY(third.grab(lock));
    }
    keys(QStringLiteral("ctrl+shift+space"));
    QCoreApplication::processEvents();
    QCOMPARE(activated.count(), 0);
}

void TestGlobalShortcut::destroyingReleasesTheKey() {
    {
        X11GlobalShortcut first;
        first.registerShortcut();
        QVERIFY(first.isRegistered());
        X11GlobalShortcut second;
        second.registerShortcut();
        QVERIFY(!second.isRegistered());
    }
    X11GlobalShortcut again;
    again.registerShortcut();
    QVERIFY(again.isRegistered());
}

void TestGlobalShortcut::portal_data() {
    QTest::addColumn<QString>("mode");
    QTest::addColumn<bool>("registered");
    QTest::newRow("bound and pressed") << QStringLiteral("shortcuts") << true;
    QTest::newRow("user declines") << QStringLiteral("refuse") << false;
    QTest::newRow("no portal") << QStringLiteral("none") << false;
}

void TestGlobalShortcut::portal() {
    QFETCH(QString, mode);
    QFETCH(bool, registered);
    FakePortal fake;
    QVERIFY(fake.start(mode));
    auto shortcut = std::make_unique<PortalGlobalShortcut>(fake.bus());
    QSignalSpy activated(shortcut.get(), &GlobalShortcut::activated);
    QSignalSpy failed(shortcut.get(), &GlobalShortcut::failed);
    shortcut->registerShortcut();
    if (registered) {
        // The fake presses the shortcut once right after binding it.
        QTRY_COMPARE_WITH_TIMEOUT(activated.count(), 1, kPatienceMs);
        QVERIFY(shortcut->isRegistered());
        QCOMPARE(failed.count(), 0);
    } else {
        QTRY_COMPARE_WITH_TIMEOUT(failed.count(), 1, kPatienceMs);
        QVERIFY(!shortcut->isRegistered());
        QCOMPARE(activated.count(), 0);
    }
    shortcut.reset();
}

QTEST_MAIN(TestGlobalShortcut)
#include "tst_globalshortcut.moc"
