#pragma once

#include <QWidget>

class FlatButton;
class LibraryState;
class QAction;
class QMenu;

// The bar above the content: import, the menu of less frequent commands, the capture button and
// the export menu.
class Toolbar : public QWidget {
    Q_OBJECT

public:
    explicit Toolbar(LibraryState *state, QWidget *parent = nullptr);

    void refresh();

    FlatButton *importButton() const { return m_import; }
    FlatButton *utilityButton() const { return m_utility; }
    QMenu *utilityMenu() const { return m_utilityMenu; }
    FlatButton *captureButton() const { return m_capture; }
    FlatButton *exportButton() const { return m_export; }
    QMenu *exportMenu() const { return m_exportMenu; }

    QAction *importAction() const { return m_importAction; }
    QAction *pasteAction() const { return m_pasteAction; }
    QAction *openProjectAction() const { return m_openProject; }
    QAction *saveProjectAction() const { return m_saveProject; }
    QAction *panelAction() const { return m_panel; }
    QAction *undoDeleteAction() const { return m_undoDelete; }
    QAction *restoreCollectionAction() const { return m_restoreCollection; }
    QAction *deleteCollectionAction() const { return m_deleteCollection; }
    QAction *exportPDFAction() const { return m_exportPDF; }
    QAction *exportWordAction() const { return m_exportWord; }
    QAction *exportProjectAction() const { return m_exportProject; }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    LibraryState *m_state;
    FlatButton *m_import;
    FlatButton *m_utility;
    QMenu *m_utilityMenu;
    FlatButton *m_capture;
    FlatButton *m_export;
    QMenu *m_exportMenu;
    QAction *m_importAction;
    QAction *m_pasteAction;
    QAction *m_openProject;
    QAction *m_saveProject;
    QAction *m_panel;
    QAction *m_undoDelete;
    QAction *m_restoreCollection;
    QAction *m_deleteCollection;
    QAction *m_exportPDF;
    QAction *m_exportWord;
    QAction *m_exportProject;
};
