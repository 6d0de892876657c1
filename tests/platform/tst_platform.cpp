#include "platform/PortalGlobalShortcut.h"
#include "platform/X11ForegroundWindow.h"
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

class TestPlatform : public QObject {
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
        // Right after binding, the fake presses the shortcut of another session, another shortcut of
        // this session, and then ours.
        QTRY_COMPARE_WITH_TIMEOUT(activated.count() + failed.count(), 1, kPatienceMs);
        // A round trip to the fake: once its answer is here, so is every press it sent before.
        QDBusConnection(mode).call(QDBusMessage::createMethodCall("org.freedesktop.portal.Desktop", "/",
                                                                  "org.freedesktop.DBus.Peer", "Ping"));
        QCoreApplication::processEvents();
        QCOMPARE(activated.count(), int(registered));
        QCOMPARE(shortcut.isRegistered(), registered);
    }

    void foregroundWindow_data() {
        QTest::addColumn<QStringList>("activated"); // in order: "other" program's, "own", "unnamed" (no pid)
        QTest::addColumn<int>("remembered");        // index into activated; -1: none
        QTest::newRow("another program's") << QStringList{"other"} << 0;
        QTest::newRow("ours after another's") << QStringList{"other", "own"} << 0;
        QTest::newRow("only ours") << QStringList{"own"} << -1;
        QTest::newRow("another's after ours") << QStringList{"own", "other"} << 1;
        QTest::newRow("without a process id") << QStringList{"other", "unnamed"} << 1;
    }
    // The window given the focus back before a capture is never one of ours: those are the ones
    // being hidden.
    void foregroundWindow() {
        QFETCH(QStringList, activated);
        QFETCH(int, remembered);
        Connection x;
        const uint32_t active = XcbSupport::atom(x.c, "_NET_ACTIVE_WINDOW");
        const uint32_t pidAtom = XcbSupport::atom(x.c, "_NET_WM_PID");
        xcb_delete_property(x.c, x.root, active);
        const auto settle = [&] {
            // Once our request is answered, the server has sent the watcher its event too.
            std::free(xcb_get_input_focus_reply(x.c, xcb_get_input_focus(x.c), nullptr));
            QCoreApplication::processEvents();
            QCoreApplication::processEvents();
        };
        settle();
        X11ForegroundWindow foreground;
        QList<uint32_t> windows;
        for (const QString &owner : activated) {
            const uint32_t window = xcb_generate_id(x.c);
            xcb_create_window(x.c, XCB_COPY_FROM_PARENT, window, x.root, 0, 0, 10, 10, 0,
                              XCB_WINDOW_CLASS_INPUT_OUTPUT, XCB_COPY_FROM_PARENT, 0, nullptr);
            const uint32_t pid = owner == "own" ? uint32_t(QCoreApplication::applicationPid())
                                                : uint32_t(QCoreApplication::applicationPid() + 1);
            if (owner != "unnamed")
                xcb_change_property(x.c, XCB_PROP_MODE_REPLACE, window, pidAtom, XCB_ATOM_CARDINAL, 32, 1,
                                    &pid);
            xcb_change_property(x.c, XCB_PROP_MODE_REPLACE, x.root, active, XCB_ATOM_WINDOW, 32, 1, &window);
            windows << window;
            settle();
        }
        QTRY_COMPARE_WITH_TIMEOUT(foreground.previous(), remembered < 0 ? 0u : windows[remembered],
                                  kPatienceMs);
        xcb_delete_property(x.c, x.root, active);
        for (uint32_t window : std::as_const(windows))
            xcb_destroy_window(x.c, window);
        xcb_flush(x.c);
    }
};

QTEST_MAIN(TestPlatform)
#include "tst_platform.moc"
