#include "shell/AppDelegate.h"

#include "account/AccountAPI.h"
#include "account/AccountStore.h"
#include "backup/BackupAPI.h"
#include "backup/CloudBackupStore.h"
#include "export/Exporter.h"
#include "look/ButtonKeys.h"
#include "look/FocusFrame.h"
#include "look/Icons.h"
#include "look/Theme.h"
#include "model/Ids.h"
#include "platform/AccountVault.h"
#include "platform/GlobalShortcut.h"
#include "platform/SessionWatcher.h"
#include "platform/SingleInstance.h"
#include "platform/TerminationRequests.h"
#include "sharing/ImageShareStore.h"
#include "shell/AppMenus.h"
#include "shell/CapturePanel.h"
#include "shell/DialogFilePanels.h"
#include "shell/MainWindow.h"
#include "shell/OpenDialogs.h"
#include "views/CollectionPanelView.h"
#include "views/EditorView.h"

#include <QApplication>
#include <QMenu>
#include <QMenuBar>
#include <QSessionManager>
#include <QSettings>
#include <QStyle>
#include <QStyleFactory>
#include <QSystemTrayIcon>
#include <QVBoxLayout>
#include <QWindow>

namespace {

// What the store's save state reads when writing is switched off for this run (the library file
// could not be read and keeping a recovery copy of it failed).

void applyLightAppearance() {
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    QApplication::setPalette(Theme::palette(QApplication::style()->standardPalette()));
    QApplication::setFont(Theme::font(13));
}

} // namespace

AppDelegate::AppDelegate() : AppDelegate(Seams{}) {}

AppDelegate::AppDelegate(Seams seams, QObject *parent) : QObject(parent), m_seams(std::move(seams)) {
    if (!m_seams.settings)
        m_ownSettings = std::make_unique<QSettings>();
    m_settings = m_seams.settings ? m_seams.settings : m_ownSettings.get();
    if (!m_seams.clock)
        m_seams.clock = referenceSecondsNow;
    if (!m_seams.shortcut)
        m_seams.shortcut = [] { return GlobalShortcut::createForDesktop(); };
    if (!m_seams.sessionWatcher)
        m_seams.sessionWatcher = [] { return SessionWatcher::createForDesktop(); };
    if (!m_seams.backup)
        m_seams.backup = [settings = m_settings](AccountStore *account, CollectionStore *store) {
            return std::make_unique<CloudBackupStore>(account, store, nullptr, settings, true);
        };
    if (!m_seams.sharing)
        m_seams.sharing = [](AccountStore *account) { return std::make_unique<ImageShareStore>(account); };
    if (!m_seams.startAccount)
        m_seams.startAccount = [](AccountStore *account) { account->start(); };
    if (!m_seams.handleURL)
        m_seams.handleURL = [](AccountStore *account, const QUrl &url) { account->handle(url); };
    if (!m_seams.terminate)
        m_seams.terminate = [] { QCoreApplication::quit(); };
    // Every capture start asks the same question, the controller's own guard included.
    if (!m_seams.capture.hasModalWindow)
        m_seams.capture.hasModalWindow = OpenDialogs::any;

    m_store = std::make_unique<CollectionStore>(m_seams.libraryRoot, m_seams.clock);
    m_account = std::make_unique<AccountStore>(AccountConfiguration::clientID);
    m_exporter = std::make_unique<Exporter>(m_store.get());
}

AppDelegate::~AppDelegate() {
    // The windows hold the stores: they go first.
    m_panel.reset();
    m_mainWindow.reset();
}

CloudBackupStore *AppDelegate::backup() {
    if (!m_backup)
        m_backup = m_seams.backup(m_account.get(), m_store.get());
    return m_backup.get();
}

ImageShareStore *AppDelegate::sharing() {
    if (!m_sharing)
        m_sharing = m_seams.sharing(m_account.get());
    return m_sharing.get();
}

std::function<void()> AppDelegate::bind(void (AppDelegate::*action)()) {
    return [guard = QPointer<AppDelegate>(this), action] {
        if (guard)
            (guard.data()->*action)();
    };
}

void AppDelegate::launch() {
    if (m_launched)
        return;
    m_launched = true;
    applyLightAppearance();
    // Every button of every window, the editor's too, is pressed by Return as by Space.
    ButtonKeys::install();
    // Whatever has the keyboard, in every window and dialog, shows the one focus frame.
    FocusFrame::install();
    QGuiApplication::setQuitOnLastWindowClosed(false);

    m_mainWindow = std::make_unique<MainWindow>(m_settings, bind(&AppDelegate::mainWindowClosing));
    m_mainWindow->restoreFrame();
    m_store->setFilePanels(std::make_unique<DialogFilePanels>(m_mainWindow.get(), m_settings));

    m_panel = std::make_unique<CapturePanel>(bind(&AppDelegate::pauseCollecting));
    m_panel->placeInitially();

    m_capture = std::make_unique<CaptureController>(m_store.get(), bind(&AppDelegate::hideWindows),
                                                    bind(&AppDelegate::captureEnded), m_seams.capture);

    const QPointer<AppDelegate> guard(this);
    auto *editorView = new EditorView(
        m_store.get(), m_account.get(), backup(), m_exporter.get(), bind(&AppDelegate::captureIntoCurrent),
        bind(&AppDelegate::quickCapture), bind(&AppDelegate::showPanel), bind(&AppDelegate::finishCollecting),
        bind(&AppDelegate::pauseCollecting));
    m_mainWindow->setCentralWidget(editorView);
    // The store's questions join the window's one queue of message boxes, so none stacks on another.
    m_store->setAlertPresenter(editorView->storeAlertPresenter());

    auto panelCapture = [guard] {
        if (guard)
            guard->m_capture->start();
    };
    auto panelPause = [guard] {
        if (!guard)
            return;
        guard->pauseCollecting();
        guard->openEditor();
    };
    auto *panelLayout = new QVBoxLayout(m_panel.get());
    panelLayout->setContentsMargins(0, 0, 0, 0);
    panelLayout->addWidget(new CollectionPanelView(m_store.get(), sharing(), panelCapture,
                                                   bind(&AppDelegate::openSessionEditor),
                                                   bind(&AppDelegate::finishCollecting), panelPause));
    m_panel->setMinimumSize(CapturePanel::kMinimumSize);
    m_panel->setMaximumSize(CapturePanel::kContentSize);
    m_panel->resize(CapturePanel::kContentSize);

    m_sessionWatcher = m_seams.sessionWatcher();
    if (m_sessionWatcher)
        connect(m_sessionWatcher.get(), &SessionWatcher::away, this, &AppDelegate::pauseCollecting);

    if (!m_seams.environment.contains(QString::fromLatin1(kTestEnvironmentKey)))
        m_seams.startAccount(m_account.get());

    buildMenus();
    registerShortcut();

    // Logging out and the termination signals take the menu's way out.
    connect(qApp, &QGuiApplication::commitDataRequest, this, &AppDelegate::commitData);
    connect(qApp, &QCoreApplication::aboutToQuit, this, &AppDelegate::willTerminate);
    auto *termination = new TerminationRequests(this);
    connect(termination, &TerminationRequests::requested, this, &AppDelegate::quit);

    openEditorAfterLaunch();
}

void AppDelegate::buildMenus() {
    AppMenus::buildMainMenu(this, m_mainWindow->menuBar(), m_panel.get());
    m_statusMenu = std::make_unique<QMenu>();
    AppMenus::buildStatusMenu(this, m_statusMenu.get());
    m_tray =
        std::make_unique<QSystemTrayIcon>(symbolIcon(QStringLiteral("square.stack.3d.up"), Theme::accent()));
    m_tray->setToolTip(QStringLiteral("Vellumbox"));
    m_tray->setContextMenu(m_statusMenu.get());
    // A click opens the menu as a right click does: the item has nothing else to offer.
    connect(m_tray.get(), &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason reason) {
                if (reason == QSystemTrayIcon::Trigger)
                    m_statusMenu->popup(QCursor::pos());
            });
    m_tray->show();
}

void AppDelegate::registerShortcut() {
    m_shortcut = m_seams.shortcut();
    if (!m_shortcut)
        return;
    connect(m_shortcut.get(), &GlobalShortcut::activated, this, &AppDelegate::startCapture);
    // Some desktops answer later: the sentence follows whenever the answer is no.
    connect(m_shortcut.get(), &GlobalShortcut::failed, this,
            [this] { m_store->setError(kShortcutUnavailable); });
    m_shortcut->registerShortcut();
}

// ---- Capture start and collecting ----

bool AppDelegate::dialogOpen() const {
    return m_seams.capture.hasModalWindow();
}

void AppDelegate::startCapture() {
    if (m_store->isBusy() || dialogOpen() || !m_capture)
        return;
    if (m_panel->isVisible() &&
        (m_store->captureChoice() || m_store->canContinueQuickCapture(m_seams.clock()))) {
        m_capture->start();
        return;
    }
    if (!m_store->prepareCapture(CaptureChoice::newCollection()))
        return;
    m_capture->start();
}

void AppDelegate::prepareCapture(const CaptureChoice &choice) {
    if (dialogOpen() || !m_capture)
        return;
    if (m_store->prepareCapture(choice))
        m_capture->start();
}

void AppDelegate::captureIntoCurrent() {
    // The buttons name the collection on screen, so that is where the capture goes.
    const std::optional<SnipCollection> current = m_store->current();
    prepareCapture(current ? CaptureChoice::existing(current->id) : CaptureChoice::newCollection());
}

void AppDelegate::quickCapture() {
    prepareCapture(CaptureChoice::newCollection());
}

void AppDelegate::openEditor() {
    if (!m_store->isCapturing())
        m_store->pauseSession();
    showMainWindow();
}

void AppDelegate::openEditorAfterLaunch() {
    // A round restored from the library is paused already; pausing it again would replace its
    // "ready to resume" status and rewrite the library file for nothing.
    if (m_store->activeCollectionID())
        m_store->pauseSession();
    showMainWindow();
}

void AppDelegate::showMainWindow() {
    if (m_panel)
        m_panel->hide();
    if (!m_mainWindow)
        return;
    m_mainWindow->show();
    m_mainWindow->raise();
    m_mainWindow->activateWindow();
}

void AppDelegate::openSessionEditor() {
    if (const OptionalCaptureSession session = m_store->session()) {
        m_store->setSelectedID(session->collectionID);
        m_store->setSelectedSnipID(m_store->sessionSnipID());
    }
    openEditor();
}

void AppDelegate::showPanel() {
    if (!m_panel)
        return;
    if (const OptionalCaptureSession session = m_store->session()) {
        if (session->isPaused && !m_store->resumeCollection(session->collectionID))
            return;
        m_mainWindow->hide();
        m_panel->orderFront(false);
        return;
    }
    if (!m_store->prepareCapture(CaptureChoice::newCollection()))
        return;
    m_mainWindow->hide();
    m_panel->orderFront(true);
}

void AppDelegate::finishCollecting() {
    if (m_store->finishSession())
        openEditor();
}

void AppDelegate::pauseCollecting() {
    if (m_capture)
        m_capture->cancel();
    m_store->pauseSession();
    if (m_panel)
        m_panel->hide();
}

void AppDelegate::hideWindows() {
    m_mainWindow->hide();
    m_panel->hide();
}

void AppDelegate::captureEnded() {
    if (!m_store->activeCollectionID() && !m_store->captureChoice())
        openEditor();
    else
        m_panel->orderFront(false);
}

void AppDelegate::mainWindowClosing() {
    if (!m_panel->isVisible())
        pauseCollecting();
}

// ---- Menu actions ----

void AppDelegate::newCollection() {
    m_store->newCollection();
    openEditor();
}

void AppDelegate::importImages() {
    openEditor();
    m_store->importImages();
}

void AppDelegate::pasteImage() {
    openEditor();
    m_store->pasteImage();
}

void AppDelegate::saveProject() {
    m_store->saveProject();
}

void AppDelegate::openProject() {
    openEditor();
    m_store->openProject();
}

void AppDelegate::exportPDF() {
    m_exporter->present(ExportFormat::Pdf);
}

void AppDelegate::exportDOCX() {
    m_exporter->present(ExportFormat::Docx);
}

void AppDelegate::openAccount() {
    openEditor();
    m_account->setShowSheet(true);
}

// ---- Quitting ----

bool AppDelegate::shouldTerminate() {
    pauseCollecting();
    // A capture still being stored, or a project being opened, belongs in what is saved now.
    if (m_store->saveAtExit())
        return true;
    // With writing switched off for this run there is nothing to save and nothing to lose: the
    // library file on disk stays as it was.
    if (!m_store->writingEnabled())
        return true;
    openEditor();
    return false;
}

void AppDelegate::quit() {
    if (m_terminated || !shouldTerminate())
        return;
    willTerminate();
    m_seams.terminate();
}

void AppDelegate::commitData(QSessionManager &manager) {
    // A failed save keeps the session. The cancel does not wait for leave to show a dialog: Qt
    // asks for error interaction itself, which session managers grant where they grant any, and
    // one that grants none still learns that the save failed.
    if (!shouldTerminate())
        manager.cancel();
}

void AppDelegate::willTerminate() {
    if (m_terminated)
        return;
    m_terminated = true;
    pauseCollecting();
    m_store->saveAtExit();
    // No export worker may outlive the store.
    m_exporter->shutdown();
    if (m_mainWindow)
        m_mainWindow->saveFrame();
    m_settings->sync();
}

// ---- The desktop ----

bool AppDelegate::isOwnURL(const QString &text) {
    // QUrl writes a scheme in lower case, so the check comes before parsing.
    if (!text.startsWith(kURLScheme + u':') || text.size() > SingleInstance::kMaxArgumentBytes)
        return false;
    return QUrl(text, QUrl::StrictMode).isValid();
}

void AppDelegate::openArguments(const QStringList &arguments) {
    QStringList urls = arguments.mid(0, SingleInstance::kMaxArguments);
    urls.removeIf([](const QString &argument) { return !isOwnURL(argument); });
    // Started again without a URL of ours: the user wants the window back.
    if (urls.isEmpty() && m_mainWindow)
        openEditor();
    for (const QString &url : std::as_const(urls)) {
        if (m_mainWindow)
            openEditor();
        m_seams.handleURL(m_account.get(), QUrl(url, QUrl::StrictMode));
    }
}
