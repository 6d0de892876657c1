#include "platform/PortalGlobalShortcut.h"
#include "platform/X11GlobalShortcut.h"
#include "platform/XcbSupport.h"

#include "support/X11TestSupport.h"

#include <QSignalSpy>

using namespace X11TestSupport;

// Control-Shift-Space with the given lock modifiers, as another client would grab it.
static bool grabSpace(Connection &x, uint16_t locks) {
    const uint8_t space = XcbSupport::keycodesFor(x.c, 0x20).value(0);
    xcb_generic_error_t *error = xcb_request_check(
        x.c, xcb_grab_key_checked(x.c, false, x.root, XCB_MOD_MASK_CONTROL | XCB_MOD_MASK_SHIFT | locks,
                                  space, XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC));
    std::free(error);
    return space && !error;
}

class TestGlobalShortcut : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase() { QVERIFY2(QGuiApplication::platformName() == "xcb", "needs an X server"); }

    void firesForTheCombinationOnly_data() {
        QTest::addColumn<QString>("input"); // xdotool
        QTest::addColumn<int>("expected");
        QTest::newRow("Control-Shift-Space") << "key ctrl+shift+space" << 1;
        QTest::newRow("Control-Space") << "key ctrl+space" << 0;
        QTest::newRow("Shift-Space") << "key shift+space" << 0;
        QTest::newRow("Num Lock on") << "key Num_Lock ctrl+shift+space Num_Lock" << 1;
        QTest::newRow("both locks on") << "key Num_Lock Caps_Lock ctrl+shift+space Num_Lock Caps_Lock" << 1;
        // Long enough for the server's auto-repeat to start.
        QTest::newRow("held down") << "keydown ctrl+shift+space sleep 1.2 keyup ctrl+shift+space" << 1;
    }
    void firesForTheCombinationOnly() {
        QFETCH(QString, input);
        QFETCH(int, expected);
        // One per row: each takes the key that the one before gave back on destruction.
        X11GlobalShortcut shortcut;
        QSignalSpy activated(&shortcut, &GlobalShortcut::activated);
        shortcut.registerShortcut();
        QVERIFY(shortcut.isRegistered());
        // A last press as a marker: once it has arrived, everything before it has been handled.
        QVERIFY(xdotool(input + " key ctrl+shift+space"));
        QTRY_COMPARE_WITH_TIMEOUT(activated.count(), expected + 1, kPatienceMs);
        QCoreApplication::processEvents();
        QCOMPARE(activated.count(), expected + 1);
    }

    void keyHeldByAnotherClient() {
        Connection other;
        QVERIFY(grabSpace(other, 0));
        X11GlobalShortcut shortcut;
        QSignalSpy failed(&shortcut, &GlobalShortcut::failed);
        shortcut.registerShortcut();
        QVERIFY(!shortcut.isRegistered());
        QTRY_COMPARE_WITH_TIMEOUT(failed.count(), 1, kPatienceMs);
        // What the failed attempt did take is free again.
        QVERIFY(grabSpace(other, XCB_MOD_MASK_LOCK));
    }

    void portal_data() {
        QTest::addColumn<QString>("mode");
        QTest::addColumn<bool>("registered");
        QTest::newRow("bound and pressed") << "accept" << true;
        QTest::newRow("user declines") << "refuse" << false;
        QTest::newRow("no portal") << "none" << false;
    }
    void portal() {
        QFETCH(QString, mode);
        QFETCH(bool, registered);
        FakePortal fake(FAKE_PORTAL_PATH, {mode});
        QVERIFY(!fake.address.isEmpty());
        // A connection per row: each ends with its bus.
        PortalGlobalShortcut shortcut(QDBusConnection::connectToBus(fake.address, mode));
        QSignalSpy activated(&shortcut, &GlobalShortcut::activated);
        QSignalSpy failed(&shortcut, &GlobalShortcut::failed);
        shortcut.registerShortcut();
        // The fake presses the shortcut once right after binding it.
        QTRY_COMPARE_WITH_TIMEOUT(activated.count() + failed.count(), 1, kPatienceMs);
        QCOMPARE(activated.count(), int(registered));
        QCOMPARE(shortcut.isRegistered(), registered);
    }
};

QTEST_MAIN(TestGlobalShortcut)
#include "tst_globalshortcut.moc"
