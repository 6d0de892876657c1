#include "account/AccountStore.h"
#include "backup/BackupAPI.h"
#include "backup/CloudBackupStore.h"
#include "platform/ForegroundWindow.h"
#include "platform/GlobalShortcut.h"
#include "platform/ScreenCapturePermission.h"
#include "platform/SessionWatcher.h"
#include "platform/X11GlobalShortcut.h"
#include "platform/XcbSupport.h"
#include "sharing/ImageShareStore.h"
#include "shell/AppDelegate.h"
#include "shell/CapturePanel.h"
#include "shell/MainWindow.h"

#include "support/X11TestSupport.h"

#include <QApplication>
#include <QDBusConnection>
#include <QDialog>
#include <QFileDialog>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPointer>
#include <QScreen>
#include <QSettings>
#include <QSystemTrayIcon>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace Qt::StringLiterals;
using X11TestSupport::kPatienceMs;

namespace {

// Stands in for vellumbox-screencapture: nothing captured, or a tool that runs until ended.
const char kFakeTool[] = R"(#!/bin/sh
if [ "$FAKE_MODE" = hang ]; then
    trap 'touch "$FAKE_DIR/terminated"; exit 2' TERM
    touch "$FAKE_DIR/running"
    while :; do sleep 0.02; done
fi
exit 1
)";

struct Desktop : ScreenCapturePermission, ForegroundWindow {
    bool preflight() override { return true; }
    bool request() override { return true; }
    void reactivatePrevious() override {}
};

class FakeShortcut : public GlobalShortcut {
public:
    void registerShortcut() override {}
    bool isRegistered() const override { return true; }
};

constexpr double kStart = 800'000'000.0;

// The desktop's session manager: FakeSessionManager, started before the application, which
// connects to it as it is constructed. Plain POSIX, as no Qt object may exist yet.
class SessionManager {
public:
    ~SessionManager() {
        if (m_pid < 0)
            return;
        ::close(m_in); // end of input ends it
        ::close(m_out);
        ::waitpid(m_pid, nullptr, 0);
    }
    // Starts it and hands its address to the application to come.
    bool start() {
        int toIt[2], fromIt[2];
        if (::pipe2(toIt, O_CLOEXEC) != 0 || ::pipe2(fromIt, O_CLOEXEC) != 0)
            return false;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, toIt[0], STDIN_FILENO);
        posix_spawn_file_actions_adddup2(&actions, fromIt[1], STDOUT_FILENO);
        char *argv[] = {const_cast<char *>(FAKE_SESSION_MANAGER), nullptr};
        const bool spawned = ::posix_spawn(&m_pid, argv[0], &actions, nullptr, argv, environ) == 0;
        posix_spawn_file_actions_destroy(&actions);
        ::close(toIt[0]);
        ::close(fromIt[1]);
        m_in = toIt[1];
        m_out = fromIt[0];
        if (!spawned) {
            m_pid = -1;
            return false;
        }
        QByteArray line;
        for (int waited = 0; waited < kPatienceMs && !takeLine(&line); waited += 10)
            ::poll(nullptr, 0, 10);
        if (!line.startsWith("SESSION_MANAGER="))
            return false;
        return ::setenv("SESSION_MANAGER", line.mid(16).constData(), 1) == 0;
    }
    // Asks the application to save before the session ends, with the interaction style given
    // (any, errors, none), and returns the session manager's verdict: "proceed", "cancel" or
    // "failed"; empty when none came.
    QByteArray logOut(const QByteArray &style) {
        const QByteArray command = "logout " + style + '\n';
        if (::write(m_in, command.constData(), size_t(command.size())) != command.size())
            return {};
        QByteArray line;
        return QTest::qWaitFor([&] { return takeLine(&line); }, kPatienceMs) ? line : QByteArray();
    }

private:
    // A whole line of its output, if one has come.
    bool takeLine(QByteArray *line) {
        pollfd ready{m_out, POLLIN, 0};
        while (!m_pending.contains('\n') && ::poll(&ready, 1, 0) > 0) {
            char buffer[256];
            const ssize_t n = ::read(m_out, buffer, sizeof buffer);
            if (n <= 0)
                break;
            m_pending.append(buffer, n);
        }
        const qsizetype end = m_pending.indexOf('\n');
        if (end < 0)
            return false;
        *line = m_pending.left(end);
        m_pending.remove(0, end + 1);
        return true;
    }

    pid_t m_pid = -1;
    int m_in = -1, m_out = -1;
    QByteArray m_pending;
};

SessionManager &sessionManager() {
    static SessionManager manager;
    return manager;
}

} // namespace

class TestAppDelegate : public QObject {
    Q_OBJECT
public:
    static void initMain() { m_sessionManagerStarted = sessionManager().start(); }

private Q_SLOTS:
    void initTestCase() {
        QVERIFY2(QGuiApplication::platformName() == "xcb", "needs an X server with a window manager");
        QVERIFY2(m_sessionManagerStarted, "the session manager stand-in did not start");
        m_fake.start(QStringLiteral(PYTHON3), {QStringLiteral(FAKE_SESSION)});
        QVERIFY(m_fake.waitForReadyRead(kPatienceMs));
        QCOMPARE(m_fake.readLine().trimmed(), "ready"_ba);
    }
    void cleanupTestCase() {
        m_fake.closeWriteChannel();
        if (!m_fake.waitForFinished(kPatienceMs))
            m_fake.kill();
    }

    void init() {
        m_dir = std::make_unique<QTemporaryDir>();
        QFile tool(m_dir->filePath(u"tool"_s));
        QVERIFY(tool.open(QIODevice::WriteOnly) && tool.write(kFakeTool) > 0);
        tool.close();
        QVERIFY(tool.setPermissions(QFile::ReadOwner | QFile::ExeOwner));
        qputenv("FAKE_DIR", m_dir->path().toUtf8());
        qputenv("FAKE_MODE", "none");
        m_now = kStart;
        m_backups = m_shares = m_accountStarts = 0;
        m_urls.clear();
        m_terminations = 0;
    }
    void cleanup() {
        m_delegate.reset();
        m_settings.reset();
    }

    void launch_data() {
        QTest::addColumn<bool>("testKey");
        QTest::newRow("plain environment") << false;
        QTest::newRow("test key set") << true;
    }
    void launch() {
        QFETCH(bool, testKey);
        QProcessEnvironment environment;
        if (testKey)
            environment.insert(QString::fromLatin1(AppDelegate::kTestEnvironmentKey), u"1"_s);
        AppDelegate &app = delegate({}, environment);
        QCOMPARE(m_backups + m_shares, 0); // not before the views are built
        app.launch();
        QCOMPARE(m_backups, 1);
        QCOMPARE(m_shares, 1);
        QCOMPARE(m_accountStarts, testKey ? 0 : 1);

        MainWindow *main = app.mainWindow();
        QTRY_VERIFY_WITH_TIMEOUT(main->isActiveWindow(), kPatienceMs);
        QCOMPARE(main->windowTitle(), u"Vellumbox"_s);
        QCOMPARE(main->size(), QSize(1380, 920));
        QCOMPARE(main->minimumSize(), QSize(930, 620));
        const QRect available = QGuiApplication::primaryScreen()->availableGeometry();
        QVERIFY(qAbs(main->geometry().center().x() - available.center().x()) <= 1);

        CapturePanel *panel = app.panel();
        QVERIFY(!panel->isVisible());
        QCOMPARE(panel->windowTitle(), u"Ausschnitt aufnehmen"_s);
        QCOMPARE(panel->size(), QSize(390, 560));
        QCOMPARE(panel->minimumSize(), QSize(320, 420));
        QCOMPARE(panel->maximumSize(), QSize(390, 560));
        QVERIFY(panel->windowFlags().testFlags(Qt::Tool | Qt::WindowStaysOnTopHint));
        QVERIFY(!panel->parentWidget());
        QCOMPARE(app.store()->error(), QString());

        // Shown without activation, the panel leaves the keyboard where it was and sits at the
        // top right with its frame ending 590 px below the top of the usable area.
        app.showPanel();
        QTRY_VERIFY_WITH_TIMEOUT(panel->isVisible() && panel->frameGeometry().height() > panel->height(),
                                 kPatienceMs);
        QTRY_COMPARE_WITH_TIMEOUT(panel->frameGeometry().bottom() + 1, available.top() + 590, kPatienceMs);
        // The window manager's borders widen the frame: its right edge, not the content's, ends
        // on the usable area's edge, and the whole frame lies on the screen.
        QCOMPARE(panel->frameGeometry().right(), available.right());
        QVERIFY2(available.contains(panel->frameGeometry()),
                 qPrintable(u"frame %1,%2 %3×%4"_s.arg(panel->frameGeometry().x())
                                .arg(panel->frameGeometry().y())
                                .arg(panel->frameGeometry().width())
                                .arg(panel->frameGeometry().height())));
        // Dragged beyond its limits or set outside them, the panel keeps them and its top left.
        const QPoint topLeft = panel->pos();
        panel->resize(500, 700);
        QCOMPARE(panel->size(), QSize(390, 560));
        panel->resize(100, 100);
        QCOMPARE(panel->size(), QSize(320, 420));
        QCOMPARE(panel->pos(), topLeft);
    }

    // The size is kept; full screen (which only the mark editor enters) is not, as the library
    // view has no control that would leave it.
    void mainWindowSizeIsKept_data() {
        QTest::addColumn<bool>("quitInFullScreen");
        QTest::newRow("resized") << false;
        QTest::newRow("resized, then quit in full screen") << true;
    }
    void mainWindowSizeIsKept() {
        QFETCH(bool, quitInFullScreen);
        AppDelegate &first = delegate();
        first.launch();
        MainWindow *main = first.mainWindow();
        // Placed by the window manager first, so no late answer of it undoes the new size.
        QTRY_VERIFY_WITH_TIMEOUT(main->isActiveWindow(), kPatienceMs);
        main->resize(1000, 700);
        QTRY_COMPARE_WITH_TIMEOUT(main->size(), QSize(1000, 700), kPatienceMs);
        if (quitInFullScreen) {
            main->setWindowState(main->windowState() | Qt::WindowFullScreen);
            QTRY_COMPARE_WITH_TIMEOUT(main->size(), main->screen()->size(), kPatienceMs);
            first.quit();
            QCOMPARE(m_terminations, 1);
        }
        m_delegate.reset();
        AppDelegate &second = delegate();
        second.launch();
        MainWindow *again = second.mainWindow();
        QTRY_VERIFY_WITH_TIMEOUT(again->isActiveWindow(), kPatienceMs);
        QVERIFY(!again->isFullScreen());
        QCOMPARE(again->size(), QSize(1000, 700));
        const QRect available = QGuiApplication::primaryScreen()->availableGeometry();
        QVERIFY(qAbs(again->geometry().center().x() - available.center().x()) <= 1);
    }

    void restoredRoundStaysAsLoaded() {
        {
            AppDelegate &first = delegate();
            CollectionStore *store = first.store();
            QVERIFY(store->resumeCollection(store->collections().first().id));
            QVERIFY(store->saveAtExit());
            m_delegate.reset();
        }
        const QString path = m_dir->filePath(u"library/library.json"_s);
        const QDateTime written = QFileInfo(path).lastModified();
        QTest::qWait(20);
        AppDelegate &app = delegate();
        app.launch();
        QCOMPARE(app.store()->status(), u"Sammelrunde pausiert · bereit zum Fortsetzen"_s);
        QVERIFY(app.store()->session()->isPaused);
        QTest::qWait(CollectionStore::kAutosaveDelayMs * 2);
        QCOMPARE(QFileInfo(path).lastModified(), written);
    }

    void shortcutTakenByAnotherClient() {
        X11TestSupport::Connection other;
        const uint8_t space = XcbSupport::keycodesFor(other.c, 0x20).value(0);
        xcb_generic_error_t *error =
            xcb_request_check(other.c, xcb_grab_key_checked(other.c, false, other.root,
                                                            XCB_MOD_MASK_CONTROL | XCB_MOD_MASK_SHIFT, space,
                                                            XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC));
        QVERIFY(space && !error);
        AppDelegate::Seams seams;
        seams.shortcut = [] { return std::make_unique<X11GlobalShortcut>(); };
        AppDelegate &app = delegate(std::move(seams));
        app.launch();
        QTRY_COMPARE_WITH_TIMEOUT(app.store()->error(), AppDelegate::kShortcutUnavailable, kPatienceMs);
        // The window, or the sheet it shows the sentence in, is in front.
        const auto inFront = [&] {
            const QWidget *active = QApplication::activeWindow();
            return active &&
                   (active == app.mainWindow() ||
                    (active->parentWidget() && active->parentWidget()->window() == app.mainWindow()));
        };
        QTRY_VERIFY_WITH_TIMEOUT(inFront(), kPatienceMs);
    }

    void captureStart_data() {
        QTest::addColumn<bool>("panelVisible");
        QTest::addColumn<QString>("choice"); // none, new, existing
        QTest::addColumn<bool>("running");
        QTest::addColumn<double>("elapsed");
        QTest::addColumn<bool>("prepared"); // a new round readied before the capture
        for (const bool visible : {true, false})
            for (const QString &choice : {u"none"_s, u"new"_s, u"existing"_s})
                for (const bool running : {true, false})
                    for (const double elapsed : {599.9, 600.0}) {
                        // Only the panel on screen lets a capture go on without readying a round.
                        const bool direct = visible && (choice != u"none" || (running && elapsed < 600));
                        QTest::addRow("%s, %s, %s, %.1f s", visible ? "panel" : "no panel",
                                      qPrintable(choice), running ? "running" : "paused", elapsed)
                            << visible << choice << running << elapsed << !direct;
                    }
    }
    void captureStart() {
        QFETCH(bool, panelVisible);
        QFETCH(QString, choice);
        QFETCH(bool, running);
        QFETCH(double, elapsed);
        QFETCH(bool, prepared);
        AppDelegate &app = delegate();
        app.launch();
        CollectionStore *store = app.store();
        const QUuid first = store->collections().first().id;
        QVERIFY(store->resumeCollection(first));
        if (!running)
            store->pauseSession();
        if (choice != u"none")
            QVERIFY(store->prepareCapture(choice == u"new" ? CaptureChoice::newCollection()
                                                           : CaptureChoice::existing(first)));
        const OptionalCaptureChoice before = store->captureChoice();
        if (panelVisible)
            app.panel()->orderFront(false);
        m_now = kStart + elapsed;
        app.startCapture();
        QVERIFY(store->isCapturing());
        QCOMPARE(store->captureChoice(),
                 prepared ? OptionalCaptureChoice(CaptureChoice::newCollection()) : before);
        app.captureController()->cancel();
    }

    void mainWindowCaptureButtons_data() {
        QTest::addColumn<bool>("quick");
        QTest::addColumn<bool>("intoCurrent");
        QTest::newRow("capture: the collection on screen") << false << true;
        QTest::newRow("quick capture: a new collection") << true << false;
    }
    void mainWindowCaptureButtons() {
        QFETCH(bool, quick);
        QFETCH(bool, intoCurrent);
        AppDelegate &app = delegate();
        app.launch();
        CollectionStore *store = app.store();
        store->newCollection();
        const QUuid current = *store->selectedID();
        quick ? app.quickCapture() : app.captureIntoCurrent();
        QVERIFY(store->isCapturing());
        QCOMPARE(store->captureChoice(), OptionalCaptureChoice(intoCurrent ? CaptureChoice::existing(current)
                                                                           : CaptureChoice::newCollection()));
        app.captureController()->cancel();
    }

    void captureRefused_data() {
        QTest::addColumn<QString>("condition");
        QTest::addColumn<bool>("starts");
        QTest::newRow("application-modal dialog") << u"modal"_s << false;
        QTest::newRow("window-modal sheet") << u"sheet"_s << false;
        QTest::newRow("export running") << u"export"_s << false;
        QTest::newRow("capture running") << u"capture"_s << false;
    }
    void captureRefused() {
        QFETCH(QString, condition);
        QFETCH(bool, starts);
        AppDelegate &app = delegate();
        app.launch();
        CollectionStore *store = app.store();
        QDialog dialog(app.mainWindow());
        dialog.setWindowModality(condition == u"sheet" ? Qt::WindowModal : Qt::ApplicationModal);
        if (condition == u"modal" || condition == u"sheet") {
            dialog.show(); // open() would make it window-modal
            QTRY_VERIFY_WITH_TIMEOUT(dialog.windowHandle() && dialog.windowHandle()->isVisible(),
                                     kPatienceMs);
        }
        store->setIsExporting(condition == u"export");
        store->setIsCapturing(condition == u"capture");
        const OptionalCaptureSession session = store->session();
        app.startCapture();
        QCOMPARE(store->captureChoice().has_value(), starts);
        QCOMPARE(store->session(), session);
        app.prepareCapture(CaptureChoice::newCollection());
        QCOMPARE(store->captureChoice().has_value(), starts);
        store->setIsExporting(false);
        app.captureController()->cancel();
    }

    void shortcutWaitsForOpenDialogs_data() {
        QTest::addColumn<QString>("dialog");
        QTest::newRow("project file dialog") << u"file"_s;
        QTest::newRow("panel dialog") << u"panel"_s;
    }
    void shortcutWaitsForOpenDialogs() {
        QFETCH(QString, dialog);
        AppDelegate &app = delegate();
        app.launch();
        CollectionStore *store = app.store();
        QTRY_VERIFY_WITH_TIMEOUT(app.mainWindow()->isActiveWindow(), kPatienceMs);
        int starts = 0;
        connect(store, &CollectionStore::isCapturingChanged, this, [&] { starts += store->isCapturing(); });
        QPointer<QDialog> open;
        if (dialog == u"file") {
            // Opened window-modal with open(), as every dialog of ours is.
            app.openProject();
            QTRY_VERIFY_WITH_TIMEOUT(open = app.mainWindow()->findChild<QFileDialog *>(), kPatienceMs);
        } else {
            // A window-modal dialog of the capture panel still counts.
            app.showPanel();
            open = new QDialog(app.panel());
            open->setAttribute(Qt::WA_DeleteOnClose);
            open->open();
        }
        QTRY_VERIFY_WITH_TIMEOUT(open->isVisible(), kPatienceMs);
        const bool panelShown = app.panel()->isVisible();
        emit app.shortcut()->activated();
        app.quickCapture();
        app.captureIntoCurrent();
        app.startCapture();
        app.captureController()->start(); // the panel's own capture button
        QCOMPARE(starts, 0);
        QCOMPARE(store->isCapturing(), false);
        QVERIFY2(open->isVisible(), "the dialog stays with its window");
        QCOMPARE(app.panel()->isVisible(), panelShown);
        QCOMPARE(app.mainWindow()->isVisible(), !panelShown);

        open->reject();
        QTRY_VERIFY_WITH_TIMEOUT(!open || !open->isVisible(), kPatienceMs);
        emit app.shortcut()->activated();
        QCOMPARE(starts, 1);
        app.captureController()->cancel();
    }

    void menus() {
        AppDelegate &app = delegate();
        app.launch();
        QStringList main;
        for (QAction *menu : app.mainWindow()->menuBar()->actions()) {
            main << u"[%1]"_s.arg(menu->text());
            for (QAction *item : menu->menu()->actions())
                main << (item->isSeparator() ? u"-"_s : item->text() + u" "_s + item->shortcut().toString());
        }
        const QStringList expected{
            u"[Vellumbox]"_s,
            u"Account … Ctrl+,"_s,
            u"-"_s,
            u"Vellumbox beenden Ctrl+Q"_s,
            u"[Ablage]"_s,
            u"Neue Sammlung Ctrl+N"_s,
            u"Projekt öffnen … Ctrl+O"_s,
            u"Projekt sichern unter … Ctrl+S"_s,
            u"-"_s,
            u"Ausschnitt aufnehmen   Strg+Umschalt+Leertaste "_s,
            u"Sammeln beenden "_s,
            u"Sammeln pausieren "_s,
            u"Bilder importieren … Ctrl+I"_s,
            u"Bild aus Zwischenablage "_s,
            u"-"_s,
            u"Als PDF exportieren … "_s,
            u"Als Word exportieren … "_s,
            u"[Bearbeiten]"_s,
            u"Rückgängig Ctrl+Z"_s,
            u"Ausschneiden Ctrl+X"_s,
            u"Kopieren Ctrl+C"_s,
            u"Einfügen Ctrl+V"_s,
            u"Alles auswählen Ctrl+A"_s,
            u"[Fenster]"_s,
            u"Sammlung bearbeiten Ctrl+1"_s,
            u"Sammelleiste anzeigen Ctrl+2"_s,
        };
        QCOMPARE(main, expected);

        QStringList tray;
        for (QAction *item : app.statusMenu()->actions())
            tray << (item->isSeparator() ? u"-"_s : item->text() + u" "_s + item->shortcut().toString());
        QCOMPARE(tray,
                 (QStringList{u"Ausschnitt aufnehmen   Strg+Umschalt+Leertaste "_s, u"Sammlung bearbeiten "_s,
                              u"Sammelleiste anzeigen "_s, u"Sammeln beenden "_s, u"Sammeln pausieren "_s,
                              u"Neue Sammlung "_s, u"-"_s, u"Beenden "_s}));
        QCOMPARE(app.trayIcon()->contextMenu(), app.statusMenu());
        QVERIFY(!app.trayIcon()->icon().isNull());
    }

    void editMenuReachesTheFocusedField() {
        AppDelegate &app = delegate();
        app.launch();
        QLineEdit edit(u"Titel"_s, app.mainWindow()->centralWidget());
        edit.show();
        edit.setFocus();
        QTRY_VERIFY_WITH_TIMEOUT(edit.hasFocus(), kPatienceMs);
        QMenu *menu = app.mainWindow()->menuBar()->actions().at(2)->menu();
        menu->actions().at(4)->trigger(); // Alles auswählen
        QCOMPARE(edit.selectedText(), u"Titel"_s);
    }

    void windowsClosing_data() {
        QTest::addColumn<QString>("closing");
        QTest::addColumn<bool>("panelVisible");
        QTest::addColumn<bool>("paused");
        QTest::newRow("main window, panel on screen") << u"main"_s << true << false;
        QTest::newRow("main window, panel hidden") << u"main"_s << false << true;
        QTest::newRow("panel") << u"panel"_s << true << true;
    }
    void windowsClosing() {
        QFETCH(QString, closing);
        QFETCH(bool, panelVisible);
        QFETCH(bool, paused);
        AppDelegate &app = delegate();
        app.launch();
        QVERIFY(app.store()->resumeCollection(app.store()->collections().first().id));
        if (panelVisible)
            app.panel()->orderFront(false);
        QVERIFY(closing == u"main" ? app.mainWindow()->close() : app.panel()->close());
        QCOMPARE(app.store()->session()->isPaused, paused);
        QVERIFY(!app.panel()->isVisible() || !paused);
    }

    // Logging out: the session manager allows any interaction, error dialogs only, or none. A
    // failed save cancels the logout where it may, and is reported as failed where it may not.
    void quit_data() {
        QTest::addColumn<QString>("library"); // what library.json is
        QTest::addColumn<QString>("how");     // menu, a signal or logging out
        QTest::addColumn<bool>("ends");
        for (const char *how : {"menu", "SIGTERM", "SIGINT", "logout", "logout errors", "logout none"}) {
            QTest::addRow("%s, writable", how) << u"file"_s << QString::fromLatin1(how) << true;
            QTest::addRow("%s, turned into a folder after launch", how)
                << u"folder later"_s << QString::fromLatin1(how) << false;
            QTest::addRow("%s, unreadable at launch", how) << u"folder"_s << QString::fromLatin1(how) << true;
        }
    }
    void quit() {
        QFETCH(QString, library);
        QFETCH(QString, how);
        QFETCH(bool, ends);
        const QString path = m_dir->filePath(u"library/library.json"_s);
        if (library == u"folder")
            QVERIFY(QDir().mkpath(path));
        AppDelegate &app = delegate();
        app.launch();
        CollectionStore *store = app.store();
        const bool resumed = store->resumeCollection(store->collections().first().id);
        store->finishPendingWork();              // the round written before the file is taken away
        QCOMPARE(resumed, library != u"folder"); // writing is off for the run
        if (library == u"folder later")
            QVERIFY(QFile::remove(path) && QDir().mkpath(path));
        // Twice: a failed quit leaves everything ready for the next attempt.
        for (int attempt = 0; attempt < 2; ++attempt) {
            app.mainWindow()->hide();
            app.panel()->orderFront(false);
            if (how == u"SIGTERM")
                std::raise(SIGTERM);
            else if (how == u"SIGINT")
                std::raise(SIGINT);
            else if (how.startsWith(u"logout"))
                QCOMPARE(sessionManager().logOut(how == u"logout" ? "any"_ba : how.mid(7).toLatin1()),
                         ends                    ? "proceed"_ba
                         : how == u"logout none" ? "failed"_ba
                                                 : "cancel"_ba);
            else
                app.quit();
            if (ends && how.startsWith(u"logout")) {
                // The session ends the program once everything is saved; the window stays away.
                QVERIFY(!app.mainWindow()->isVisible());
                QCOMPARE(m_terminations, 0);
                break;
            }
            if (ends) {
                QTRY_COMPARE_WITH_TIMEOUT(m_terminations, 1, kPatienceMs);
                break;
            }
            QTRY_VERIFY_WITH_TIMEOUT(app.mainWindow()->isVisible(), kPatienceMs);
            QCOMPARE(m_terminations, 0);
            QVERIFY(!app.panel()->isVisible());
            QVERIFY(store->session()->isPaused);
            QVERIFY(store->error().startsWith(u"Speichern fehlgeschlagen"_s));
        }
        if (library == u"folder")
            QVERIFY(QFileInfo(path).isDir()); // untouched
        if (library == u"file") {
            QVERIFY(store->session()->isPaused);
            QFile saved(path);
            QVERIFY(saved.open(QIODevice::ReadOnly));
            const QJsonObject written = QJsonDocument::fromJson(saved.readAll()).object();
            QVERIFY2(written[u"session"_s][u"isPaused"_s].toBool(), "the paused round is on disk");
        }
    }

    void urls_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QStringList>("handled");
        const QString login = u"app.vellumbox.prototype://login"_s;
        const QString callback = u"app.vellumbox.prototype://auth/callback?code=abc&state=x"_s;
        QTest::newRow("login") << QStringList{login} << QStringList{login};
        QTest::newRow("two in order") << QStringList{callback, login} << QStringList{callback, login};
        QTest::newRow("upper-case scheme")
            << QStringList{u"APP.VELLUMBOX.PROTOTYPE://login"_s} << QStringList();
        QTest::newRow("another scheme") << QStringList{u"https://example.org"_s} << QStringList();
        QTest::newRow("no scheme") << QStringList{u"app.vellumbox.prototype"_s} << QStringList();
        QTest::newRow("too long") << QStringList{login + u"?"_s + QString(5000, u'a')} << QStringList();
        QTest::newRow("too many") << QStringList(12, login) << QStringList(8, login);
    }
    void urls() {
        QFETCH(QStringList, arguments);
        QFETCH(QStringList, handled);
        AppDelegate &app = delegate();
        app.launch();
        app.mainWindow()->hide();
        app.openArguments(arguments);
        QCOMPARE(m_urls, handled);
        // Any handed-over start brings the main window back, with or without a URL of ours.
        QVERIFY(app.mainWindow()->isVisible());
    }

    void sessionGoesAway_data() {
        QTest::addColumn<QString>("command");
        QTest::addColumn<bool>("pauses");
        QTest::newRow("sleep") << u"sleep true"_s << true;
        QTest::newRow("woken up") << u"sleep false"_s << false;
        QTest::newRow("locked") << u"lock"_s << true;
        QTest::newRow("switched away") << u"active false"_s << true;
        QTest::newRow("switched back") << u"active true"_s << false;
        QTest::newRow("screen saver on") << u"saver true"_s << true;
        QTest::newRow("screen saver off") << u"saver false"_s << false;
        QTest::newRow("forged sleep") << u"forged sleep"_s << false;
        QTest::newRow("forged lock") << u"forged lock"_s << false;
        QTest::newRow("forged switch") << u"forged active"_s << false;
        QTest::newRow("forged screen saver") << u"forged saver"_s << false;
    }
    void sessionGoesAway() {
        QFETCH(QString, command);
        QFETCH(bool, pauses);
        qputenv("FAKE_MODE", "hang");
        AppDelegate::Seams seams;
        seams.sessionWatcher = [] {
            const QDBusConnection bus = QDBusConnection::sessionBus();
            return std::make_unique<SessionWatcher>(bus, bus);
        };
        AppDelegate &app = delegate(std::move(seams));
        app.launch();
        QVERIFY(waitForLine("session asked"));
        QTest::qWait(200); // the watcher subscribes to the session it was told
        CollectionStore *store = app.store();
        QVERIFY(store->resumeCollection(store->collections().first().id));
        app.panel()->orderFront(false);
        app.startCapture();
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(m_dir->filePath(u"running"_s)), kPatienceMs);
        app.panel()->orderFront(false); // as if the panel had stayed on screen

        m_fake.write(command.toUtf8() + '\n');
        QVERIFY(waitForLine("done"));
        if (pauses)
            QTRY_VERIFY_WITH_TIMEOUT(store->session()->isPaused, kPatienceMs);
        else
            QTest::qWait(300);
        QCOMPARE(store->session()->isPaused, pauses);
        QCOMPARE(app.panel()->isVisible(), !pauses);
        QCOMPARE(store->isCapturing(), !pauses);
        if (pauses)
            QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(m_dir->filePath(u"terminated"_s)), kPatienceMs);
        app.captureController()->cancel();
    }

private:
    AppDelegate &delegate(AppDelegate::Seams seams = {}, QProcessEnvironment environment = {}) {
        seams.libraryRoot = m_dir->filePath(u"library"_s);
        seams.clock = [this] { return m_now; };
        if (!m_settings)
            m_settings =
                std::make_unique<QSettings>(m_dir->filePath(u"settings.ini"_s), QSettings::IniFormat);
        seams.settings = m_settings.get();
        seams.environment = environment;
        if (!seams.shortcut)
            seams.shortcut = [] { return std::make_unique<FakeShortcut>(); };
        if (!seams.sessionWatcher)
            seams.sessionWatcher = [] { return nullptr; };
        const auto desktop = std::make_shared<Desktop>();
        seams.capture.toolPath = m_dir->filePath(u"tool"_s);
        seams.capture.permission = desktop;
        seams.capture.foreground = desktop;
        seams.capture.temporaryBase = m_dir->path();
        seams.backup = [this](AccountStore *account, CollectionStore *store) {
            ++m_backups;
            return std::make_unique<CloudBackupStore>(account, store, nullptr, m_settings.get(), true);
        };
        seams.sharing = [this](AccountStore *account) {
            ++m_shares;
            return std::make_unique<ImageShareStore>(account);
        };
        seams.startAccount = [this](AccountStore *) { ++m_accountStarts; };
        seams.handleURL = [this](AccountStore *, const QUrl &url) { m_urls << url.toString(); };
        seams.terminate = [this] { ++m_terminations; };
        m_delegate = std::make_unique<AppDelegate>(std::move(seams));
        return *m_delegate;
    }

    bool waitForLine(const QByteArray &wanted) {
        return QTest::qWaitFor(
            [&] {
                while (m_fake.canReadLine())
                    if (m_fake.readLine().trimmed() == wanted)
                        return true;
                m_fake.waitForReadyRead(10);
                return false;
            },
            kPatienceMs);
    }

    static inline bool m_sessionManagerStarted = false;
    QProcess m_fake;
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<QSettings> m_settings;
    std::unique_ptr<AppDelegate> m_delegate;
    double m_now = kStart;
    int m_backups = 0, m_shares = 0, m_accountStarts = 0, m_terminations = 0;
    QStringList m_urls;
};

QTEST_MAIN(TestAppDelegate)
#include "tst_appdelegate.moc"
