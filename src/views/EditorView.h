#pragma once

#include "views/LibraryState.h"

#include <QPointer>
#include <QUuid>
#include <QWidget>

#include <functional>
#include <memory>
#include <optional>

class AccountStore;
class AlertPresenter;
class AnnotationWorkspace;
class CloudBackupStore;
class CollectionDocument;
class CollectionStore;
class EmptyState;
class Exporter;
class Footer;
class PreviewCache;
class QDialog;
class QStackedLayout;
class QStackedWidget;
class ScreenshotGrid;
class SessionBar;
class Sidebar;
class Toolbar;
class WindowAlerts;

// The main window's root view: the library (sidebar, toolbar, the current collection or all
// screenshots, footer) or, while a snip is open, the mark editor. The closures are the
// application's capture and collecting actions. The view also owns the window's message boxes
// (the store's errors, the delete confirmation and, through storeAlertPresenter(), the store's own
// questions) and its account and backup sheets.
class EditorView : public QWidget {
    Q_OBJECT

public:
    EditorView(CollectionStore *store, AccountStore *account, CloudBackupStore *backup, Exporter *exporter,
               std::function<void()> capture, std::function<void()> quickCapture,
               std::function<void()> showPanel, std::function<void()> finish, std::function<void()> pause,
               QWidget *parent = nullptr);
    ~EditorView() override;

    // For CollectionStore::setAlertPresenter: the store's questions then wait behind this window's
    // notices instead of opening over them.
    std::unique_ptr<AlertPresenter> storeAlertPresenter();

    LibraryState *state() const { return m_state; }
    WindowAlerts *alerts() const { return m_alerts; }
    PreviewCache *previews() const { return m_previews; }
    Sidebar *sidebar() const { return m_sidebar; }
    Toolbar *toolbar() const { return m_toolbar; }
    SessionBar *sessionBar() const { return m_sessionBar; }
    CollectionDocument *document() const { return m_document; }
    ScreenshotGrid *grid() const { return m_grid; }
    EmptyState *emptyState() const { return m_empty; }
    Footer *footer() const { return m_footer; }
    // The part the content area shows now: the document, the grid or the empty state.
    QWidget *content() const;
    // The mark editor while a snip is open, else null.
    AnnotationWorkspace *workspace() const;
    QDialog *accountSheet() const;
    QDialog *backupSheet() const;

protected:
    void showEvent(QShowEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    // What the window shows: the face, the part of the content area and the collection.
    struct Page {
        QWidget *face = nullptr;
        QWidget *content = nullptr;
        std::optional<QUuid> collection;
        bool operator==(const Page &) const = default;
    };
    Page page() const;
    // The one place that decides where the keyboard goes once the window shows another page or has
    // lost the control that had the keyboard.
    void landKeyboard(QWidget *before, const Page &pageBefore,
                      const std::optional<LibraryState::Landing> &landing);
    void scheduleRefresh();
    void refresh();
    void refreshFace();
    void refreshSheets();
    // Opens the sheet while its flag is set and clears the flag when the sheet is gone; a flag
    // cleared elsewhere closes the sheet.
    void followSheet(QPointer<QDialog> &sheet, bool wanted, const std::function<QDialog *()> &make,
                     const std::function<void()> &dismissed);
    void presentError();
    void presentDeleteConfirmation();

    LibraryState *m_state;
    WindowAlerts *m_alerts;
    PreviewCache *m_previews;
    QStackedLayout *m_faces;
    QWidget *m_library;
    Sidebar *m_sidebar;
    Toolbar *m_toolbar;
    SessionBar *m_sessionBar;
    QStackedWidget *m_content;
    CollectionDocument *m_document;
    ScreenshotGrid *m_grid;
    QWidget *m_emptyHolder;
    EmptyState *m_empty;
    Footer *m_footer;
    QPointer<AnnotationWorkspace> m_workspace;
    QUuid m_workspaceSnip;
    std::optional<QUuid> m_selectedID;
    // Where the keyboard lands when the mark editor closes.
    std::optional<LibraryState::Landing> m_editorLanding;
    // The page a click started on: the second click of a double-click acts only there.
    Page m_pressPage;
    Page m_shownPage;
    bool m_swallowRelease = false;
    QPointer<QDialog> m_accountSheet;
    QPointer<QDialog> m_backupSheet;
    bool m_refreshQueued = false;
};
