#pragma once

#include "model/Snip.h"
#include "shell/CaptureController.h"
#include "store/CollectionStore.h"

#include <QObject>
#include <QPointer>
#include <QProcessEnvironment>
#include <QStringList>
#include <QUrl>

#include <functional>
#include <memory>

class AccountStore;
class CapturePanel;
class CloudBackupStore;
class Exporter;
class GlobalShortcut;
class ImageShareStore;
class MainWindow;
class QMenu;
class QSessionManager;
class QSettings;
class QSystemTrayIcon;
class SessionWatcher;

// Owns every long-lived object of the running application (the stores, both windows, the tray
// item, the capture controller, the global shortcut and the exporter), builds them at launch in
// a fixed order and carries out what the windows, menus, the shortcut and the desktop ask for.
// Main thread only.
class AppDelegate : public QObject {
    Q_OBJECT

public:
    // Set in the environment (any value) by the tests: the account is then not started.
    static inline const char *kTestEnvironmentKey = "VELLUMBOX_TESTING";
    static inline const QString kURLScheme = QStringLiteral("app.vellumbox.prototype");
    static inline const QString kShortcutUnavailable = QStringLiteral(
        "Der globale Shortcut Strg+Umschalt+Leertaste ist nicht verfügbar. Verwende „Ausschnitt "
        "aufnehmen“ im Menü oder den Button.");

    // What tests replace; every default is the desktop's.
    struct Seams {
        QString libraryRoot; // empty: the default library folder
        CollectionStore::Clock clock;
        QSettings *settings = nullptr; // none: the application's
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        std::function<std::unique_ptr<GlobalShortcut>()> shortcut;
        std::function<std::unique_ptr<SessionWatcher>()> sessionWatcher;
        CaptureController::Seams capture;
        std::function<std::unique_ptr<CloudBackupStore>(AccountStore *, CollectionStore *)> backup;
        std::function<std::unique_ptr<ImageShareStore>(AccountStore *)> sharing;
        std::function<void(AccountStore *)> startAccount;
        std::function<void(AccountStore *, const QUrl &)> handleURL;
        // Ends the event loop once everything is saved.
        std::function<void()> terminate;
    };

    AppDelegate();
    explicit AppDelegate(Seams seams, QObject *parent = nullptr);
    ~AppDelegate() override;

    // Builds the windows, the capture controller, the menus and the tray item, registers the
    // shortcut and opens the main window. Once.
    void launch();

    // ---- Capture start and collecting ----
    // The shortcut's and the menus' capture command.
    void startCapture();
    // Readies a round for the choice, then captures.
    void prepareCapture(const CaptureChoice &choice);
    // The main window's capture buttons: into the collection on screen, else into a new one.
    void captureIntoCurrent();
    // The main window's quick capture: always a new collection.
    void quickCapture();
    void openEditor();
    void openSessionEditor();
    void showPanel();
    void finishCollecting();
    void pauseCollecting();

    // ---- Menu actions ----
    void newCollection();
    void importImages();
    void pasteImage();
    void saveProject();
    void openProject();
    void exportPDF();
    void exportDOCX();
    void openAccount();
    // Saves and ends the program; when saving fails it stays with the main window in front.
    void quit();

    // ---- The desktop ----
    // Arguments handed over by a later start, or the first start's own: URLs of our scheme go
    // to the account, in order; without one of them it is a plain reopen.
    void openArguments(const QStringList &arguments);
    // Whether the raw text is a URL of our scheme: matched exactly, before any normalisation.
    static bool isOwnURL(const QString &text);
    // The save check of every way to quit; false when the program must stay.
    bool shouldTerminate();

    CollectionStore *store() const { return m_store.get(); }
    AccountStore *account() const { return m_account.get(); }
    // Created on first use, during launch.
    CloudBackupStore *backup();
    ImageShareStore *sharing();
    Exporter *exporter() const { return m_exporter.get(); }
    MainWindow *mainWindow() const { return m_mainWindow.get(); }
    CapturePanel *panel() const { return m_panel.get(); }
    CaptureController *captureController() const { return m_capture.get(); }
    GlobalShortcut *shortcut() const { return m_shortcut.get(); }
    QSystemTrayIcon *trayIcon() const { return m_tray.get(); }
    QMenu *statusMenu() const { return m_statusMenu.get(); }

private:
    void openEditorAfterLaunch();
    void showMainWindow();
    void captureEnded();
    void hideWindows();
    void mainWindowClosing();
    void commitData(QSessionManager &manager);
    void willTerminate();
    // A dialog, sheet or alert of ours is open: no capture starts (OpenDialogs::any unless a test
    // replaces it).
    bool dialogOpen() const;
    void buildMenus();
    void registerShortcut();
    // A closure for the views that does nothing once the delegate is gone.
    std::function<void()> bind(void (AppDelegate::*action)());

    Seams m_seams;
    std::unique_ptr<QSettings> m_ownSettings;
    QSettings *m_settings = nullptr;
    std::unique_ptr<CollectionStore> m_store;
    std::unique_ptr<AccountStore> m_account;
    std::unique_ptr<CloudBackupStore> m_backup;
    std::unique_ptr<ImageShareStore> m_sharing;
    std::unique_ptr<Exporter> m_exporter;
    std::unique_ptr<MainWindow> m_mainWindow;
    std::unique_ptr<CapturePanel> m_panel;
    std::unique_ptr<CaptureController> m_capture;
    std::unique_ptr<QMenu> m_statusMenu;
    std::unique_ptr<QSystemTrayIcon> m_tray;
    std::unique_ptr<GlobalShortcut> m_shortcut;
    std::unique_ptr<SessionWatcher> m_sessionWatcher;
    bool m_launched = false;
    bool m_terminated = false;
};
