#include "views/EditorView.h"

#include "account/AccountStore.h"
#include "account/AccountView.h"
#include "annotation/AnnotationWorkspace.h"
#include "backup/CloudBackupStore.h"
#include "backup/CloudBackupView.h"
#include "look/TextDirection.h"
#include "look/Theme.h"
#include "platform/DesktopSettings.h"
#include "store/CollectionStore.h"
#include "views/CollectionDocument.h"
#include "views/EmptyState.h"
#include "views/Footer.h"
#include "views/LibraryState.h"
#include "views/LibraryWidgets.h"
#include "views/PreviewCache.h"
#include "views/ScreenshotGrid.h"
#include "views/SessionBar.h"
#include "views/Sidebar.h"
#include "views/Toolbar.h"
#include "views/WindowAlerts.h"

#include <QApplication>
#include <QDialog>
#include <QHBoxLayout>
#include <QStackedLayout>
#include <QStackedWidget>
#include <QTimer>

namespace {

const QString kErrorTag = QStringLiteral("error");
const QString kDeleteTag = QStringLiteral("delete");
// The backup sheet opens this long after the account sheet asked for it, once that has gone.
constexpr int kBackupSheetDelayMs = 200;

QString deleteMessage(const SnipCollection &collection) {
    const qsizetype n = collection.items.size();
    return QStringLiteral("„") +
           (collection.title.isEmpty() ? QStringLiteral("Ohne Titel")
                                       : TextDirection::isolated(collection.title)) +
           QStringLiteral("“ mit ") + QString::number(n) + u' ' +
           (n == 1 ? QStringLiteral("Ausschnitt") : QStringLiteral("Ausschnitten")) +
           QStringLiteral(" löschen? Du kannst die Sammlung anschließend wiederherstellen.");
}

bool holdsSnip(const std::optional<SnipCollection> &collection, const QUuid &id) {
    return collection && std::any_of(collection->items.cbegin(), collection->items.cend(),
                                     [&](const Snip &snip) { return snip.id == id; });
}

} // namespace

EditorView::EditorView(CollectionStore *store, AccountStore *account, CloudBackupStore *backup,
                       Exporter *exporter, std::function<void()> capture, std::function<void()> quickCapture,
                       std::function<void()> showPanel, std::function<void()> finish,
                       std::function<void()> pause, QWidget *parent)
    : QWidget(parent) {
    m_state = new LibraryState(store, account, backup, exporter,
                               {std::move(capture), std::move(quickCapture), std::move(showPanel),
                                std::move(finish), std::move(pause)},
                               this);
    m_alerts = new WindowAlerts(this);
    m_previews = new PreviewCache(store, PreviewCache::kDefaultBytes, 0, this);

    setAutoFillBackground(true);
    QPalette palette = this->palette();
    palette.setColor(QPalette::Window, Theme::canvas());
    palette.setColor(QPalette::WindowText, Theme::ink());
    palette.setColor(QPalette::Disabled, QPalette::WindowText, Theme::disabledInk());
    palette.setColor(QPalette::Highlight, Theme::accent());
    setPalette(palette);

    m_faces = new QStackedLayout(this);
    m_library = new QWidget(this);
    auto *row = new QHBoxLayout(m_library);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(0);
    m_sidebar = new Sidebar(m_state, m_library);
    m_sidebar->setFixedWidth(248);
    row->addWidget(m_sidebar);
    row->addWidget(new Divider(Qt::Vertical, m_library));
    auto *column = new QVBoxLayout;
    column->setSpacing(0);
    m_toolbar = new Toolbar(m_state, m_library);
    column->addWidget(m_toolbar);
    m_sessionBar = new SessionBar(m_state, m_library);
    column->addWidget(m_sessionBar);
    m_content = new QStackedWidget(m_library);
    m_document = new CollectionDocument(m_state, m_previews, m_content);
    m_grid = new ScreenshotGrid(m_state, m_previews, m_content);
    m_emptyHolder = new QWidget(m_content);
    auto *emptyLayout = new QVBoxLayout(m_emptyHolder);
    emptyLayout->setContentsMargins(CollectionDocument::kPadding, CollectionDocument::kPadding,
                                    CollectionDocument::kPadding, CollectionDocument::kPadding);
    emptyLayout->addStretch(1);
    m_empty = new EmptyState(m_state, m_emptyHolder);
    emptyLayout->addWidget(m_empty);
    emptyLayout->addStretch(1);
    m_content->addWidget(m_document);
    m_content->addWidget(m_grid);
    m_content->addWidget(m_emptyHolder);
    column->addWidget(m_content, 1);
    m_footer = new Footer(m_state, m_library);
    column->addWidget(m_footer);
    row->addLayout(column, 1);
    m_faces->addWidget(m_library);

    // Every change of the stores or of the view state ends in one refresh per event-loop turn.
    for (const auto signal :
         {&CollectionStore::collectionsChanged, &CollectionStore::sessionChanged,
          &CollectionStore::isCapturingChanged, &CollectionStore::isExportingChanged,
          &CollectionStore::isImportingChanged, &CollectionStore::saveStateChanged,
          &CollectionStore::canUndoDeleteChanged, &CollectionStore::deletedCollectionsChanged,
          &CollectionStore::collectionNoticeChanged, &CollectionStore::exportURLChanged})
        connect(store, signal, this, &EditorView::scheduleRefresh);
    // The store announces every write of the selection; only a different collection counts.
    m_selectedID = store->selectedID();
    connect(store, &CollectionStore::selectedIDChanged, this, [this] {
        const OptionalUuid selected = m_state->store()->selectedID();
        if (selected == m_selectedID)
            return;
        m_selectedID = selected;
        m_state->setAnnotationSnipID(std::nullopt);
        m_state->setShowingAll(false);
        scheduleRefresh();
    });
    connect(store, &CollectionStore::selectedSnipIDChanged, this, [this] {
        if (m_state->store()->selectedSnipID())
            m_state->setShowingAll(false);
        scheduleRefresh();
    });
    connect(store, &CollectionStore::errorChanged, this, &EditorView::presentError);
    connect(m_state, &LibraryState::changed, this, &EditorView::scheduleRefresh);
    if (account) {
        connect(account, &AccountStore::identityChanged, this, &EditorView::scheduleRefresh);
        connect(account, &AccountStore::showSheetChanged, this, &EditorView::scheduleRefresh);
    }
    if (backup)
        connect(backup, &CloudBackupStore::showSheetChanged, this, &EditorView::scheduleRefresh);
    qApp->installEventFilter(this);
    refresh();
    presentError();
}

EditorView::~EditorView() = default;

std::unique_ptr<AlertPresenter> EditorView::storeAlertPresenter() {
    return m_alerts->storePresenter();
}

AnnotationWorkspace *EditorView::workspace() const {
    return m_workspace;
}

QDialog *EditorView::accountSheet() const {
    return m_accountSheet;
}

QDialog *EditorView::backupSheet() const {
    return m_backupSheet;
}

QWidget *EditorView::content() const {
    return m_content->currentWidget();
}

void EditorView::scheduleRefresh() {
    if (m_refreshQueued)
        return;
    m_refreshQueued = true;
    QMetaObject::invokeMethod(this, &EditorView::refresh, Qt::QueuedConnection);
}

void EditorView::refresh() {
    m_refreshQueued = false;
    CollectionStore *store = m_state->store();
    if (!store)
        return;
    // The window's own focus widget, also while a message box has the keyboard.
    const QPointer<QWidget> before = window()->focusWidget();
    // The page as the last refresh left it: the store has changed before this one runs.
    const Page pageBefore = m_shownPage;
    std::optional<LibraryState::Landing> landing = m_state->takeLanding();
    refreshFace();
    refreshSheets();
    presentDeleteConfirmation();
    if (m_faces->currentWidget() != m_library) {
        // The editor puts the keyboard on its canvas; closed, it gives it back to the control that
        // opened it.
        if (pageBefore.face == m_library)
            m_editorLanding =
                landing ? landing : LibraryState::Landing{m_workspaceSnip, LibraryState::CardControl::Edit};
        m_shownPage = page();
        return;
    }
    if (pageBefore.face != m_library)
        landing = std::exchange(m_editorLanding, std::nullopt);
    m_sidebar->refresh();
    m_toolbar->refresh();
    m_sessionBar->refresh();
    m_footer->refresh();
    if (m_state->showingAll()) {
        m_content->setCurrentWidget(m_grid);
        m_grid->refresh();
    } else if (store->current()) {
        m_content->setCurrentWidget(m_document);
        m_document->refresh();
    } else {
        m_content->setCurrentWidget(m_emptyHolder);
        m_empty->refresh();
    }
    m_shownPage = page();
    landKeyboard(before, pageBefore, landing);
}

EditorView::Page EditorView::page() const {
    return {m_faces->currentWidget(), m_content->currentWidget(),
            m_state->store() ? m_state->store()->selectedID() : std::nullopt};
}

void EditorView::landKeyboard(QWidget *before, const Page &pageBefore,
                              const std::optional<LibraryState::Landing> &landing) {
    const Page &now = m_shownPage;
    QWidget *focus = window()->focusWidget();
    // Qt hands the keyboard of a control that is hidden or deleted to the next one in the Tab
    // chain, often a text field of the new page out of sight, and leaves it nowhere when a page
    // shows in place of another. It stays only where the user left it, while that is still shown;
    // a control of the document that now shows another collection is not where it was left.
    const bool kept = focus && focus == before && focus->isVisible() &&
                      !(now.collection != pageBefore.collection && m_content->isAncestorOf(focus));
    // Nothing to bring back where nothing had the keyboard and nothing changed, or the window is
    // yet to be shown: it starts where the desktop puts it.
    if (kept || (!focus && !before && ((now == pageBefore && !landing) || !window()->isVisible())))
        return;
    QWidget *target = nullptr;
    if (landing && now.content == m_document)
        target = m_document->revealLanding(*landing);
    if (!target)
        target = m_sidebar->revealSelectedRow();
    target->setFocus(Qt::OtherFocusReason);
}

void EditorView::refreshFace() {
    const std::optional<QUuid> id = m_state->annotationSnipID();
    // A snip deleted while open leaves the id behind; the library shows until the selection moves.
    if (id && holdsSnip(m_state->store()->current(), *id)) {
        if (m_workspace && m_workspaceSnip == *id)
            return;
        if (m_workspace)
            m_workspace->deleteLater();
        // Every visit starts afresh: tool, selection and history belong to one opening.
        m_workspace = new AnnotationWorkspace(
            m_state->store(), *id,
            [state = QPointer<LibraryState>(m_state)] {
                if (state)
                    state->setAnnotationSnipID(std::nullopt);
            },
            this);
        m_workspaceSnip = *id;
        m_faces->addWidget(m_workspace);
        m_faces->setCurrentWidget(m_workspace);
        return;
    }
    if (m_workspace) {
        m_faces->setCurrentWidget(m_library);
        m_faces->removeWidget(m_workspace);
        m_workspace->hide();
        m_workspace->deleteLater();
        m_workspace = nullptr;
    }
}

void EditorView::refreshSheets() {
    AccountStore *account = m_state->account();
    CloudBackupStore *backup = m_state->backup();
    if (!isVisible())
        return;
    if (account) {
        followSheet(
            m_accountSheet, account->showSheet(),
            [this, account] {
                return new AccountView(
                    account,
                    [this] {
                        QTimer::singleShot(kBackupSheetDelayMs, this, [this] {
                            if (m_state->backup())
                                m_state->backup()->setShowSheet(true);
                        });
                    },
                    this);
            },
            [account = QPointer<AccountStore>(account)] {
                if (account)
                    account->setShowSheet(false);
            });
    }
    // One sheet at a time: the backup waits until the account sheet has gone.
    if (backup && !m_accountSheet) {
        followSheet(
            m_backupSheet, backup->showSheet(),
            [this, backup, account] { return new CloudBackupView(backup, account, this); },
            [backup = QPointer<CloudBackupStore>(backup)] {
                if (backup)
                    backup->setShowSheet(false);
            });
    }
}

void EditorView::followSheet(QPointer<QDialog> &sheet, bool wanted, const std::function<QDialog *()> &make,
                             const std::function<void()> &dismissed) {
    if (wanted && !sheet) {
        QDialog *dialog = make();
        dialog->setAttribute(Qt::WA_DeleteOnClose);
        connect(dialog, &QDialog::finished, this, [this, dismissed] {
            dismissed();
            scheduleRefresh();
        });
        sheet = dialog;
        dialog->open();
    } else if (!wanted && sheet && sheet->isVisible()) {
        sheet->close();
    }
}

void EditorView::presentError() {
    CollectionStore *store = m_state->store();
    if (!store || store->error().isEmpty() || m_alerts->hasPending(kErrorTag))
        return;
    struct Shown {
        QString error;
        bool offersSettings = false;
    };
    auto shown = std::make_shared<Shown>();
    WindowAlerts::Request request;
    request.tag = kErrorTag;
    // What the box says is decided when it opens, not when the error was first set.
    request.prepare = [this, shown](WindowAlerts::Request &r) {
        CollectionStore *store = m_state->store();
        if (!store || store->error().isEmpty())
            return false;
        shown->error = store->error();
        shown->offersSettings =
            store->needsScreenCapturePermission() && !DesktopSettings::program().isEmpty();
        r.title = QStringLiteral("Hinweis");
        r.message = shown->error;
        r.buttons = shown->offersSettings
                        ? QStringList{QStringLiteral("Einstellungen öffnen"), QStringLiteral("OK")}
                        : QStringList{QStringLiteral("OK")};
        r.defaultButton = int(r.buttons.size()) - 1;
        r.escapeButton = r.defaultButton;
        return true;
    };
    request.answer = [this, shown](int button) {
        CollectionStore *store = m_state->store();
        if (!store)
            return;
        // An error that arrived while this one was on screen is shown next, not cleared unseen.
        if (store->error() == shown->error)
            store->setError(QString());
        if (shown->offersSettings && button == 0)
            DesktopSettings::open();
        presentError();
    };
    m_alerts->present(std::move(request));
}

void EditorView::presentDeleteConfirmation() {
    if (!m_state->collectionToDelete() || m_alerts->hasPending(kDeleteTag))
        return;
    auto target = std::make_shared<std::optional<SnipCollection>>();
    WindowAlerts::Request request;
    request.tag = kDeleteTag;
    request.prepare = [this, target](WindowAlerts::Request &r) {
        *target = m_state->collectionToDelete();
        if (!*target)
            return false;
        r.title = QStringLiteral("Sammlung löschen?");
        r.message = deleteMessage(**target);
        r.buttons = {QStringLiteral("Sammlung löschen"), QStringLiteral("Abbrechen")};
        r.destructiveButton = 0;
        r.defaultButton = 1;
        r.escapeButton = 1;
        return true;
    };
    request.answer = [this, target](int button) {
        if (button == 0 && *target && m_state->store())
            m_state->store()->deleteCollection((*target)->id);
        m_state->setCollectionToDelete(std::nullopt);
    };
    m_alerts->present(std::move(request));
}

bool EditorView::eventFilter(QObject *watched, QEvent *event) {
    const QEvent::Type type = event->type();
    if (type != QEvent::MouseButtonPress && type != QEvent::MouseButtonDblClick &&
        type != QEvent::MouseButtonRelease)
        return false;
    auto *widget = qobject_cast<QWidget *>(watched);
    if (!widget || (widget != this && !isAncestorOf(widget)))
        return false;
    // A click that changes the page leaves the second click of a double-click to whatever the new
    // page has under the pointer: a field would take the keyboard, a card's image would open the
    // editor. That second click belongs to the page the first was on.
    if (type == QEvent::MouseButtonPress) {
        m_pressPage = page();
        m_swallowRelease = false;
    } else if (type == QEvent::MouseButtonDblClick && page() != m_pressPage) {
        m_swallowRelease = true;
        return true;
    } else if (type == QEvent::MouseButtonRelease && m_swallowRelease) {
        m_swallowRelease = false;
        return true;
    }
    return false;
}

void EditorView::showEvent(QShowEvent *event) {
    QWidget::showEvent(event);
    m_alerts->pump();
    scheduleRefresh();
}
