#include "views/Toolbar.h"

#include "export/Exporter.h"
#include "look/Theme.h"
#include "store/CollectionStore.h"
#include "views/LibraryState.h"
#include "views/LibraryWidgets.h"

#include <QAction>
#include <QHBoxLayout>
#include <QMenu>
#include <QPainter>

namespace {

// Menus open under their button without a nested event loop.
void popUnder(QMenu *menu, QWidget *button) {
    menu->popup(button->mapToGlobal(QPoint(0, button->height() + 2)));
}

} // namespace

Toolbar::Toolbar(LibraryState *state, QWidget *parent) : QWidget(parent), m_state(state) {
    setFixedHeight(72);
    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(24, 0, 24, 0);
    layout->setSpacing(16);
    CollectionStore *store = state->store();

    const QFont labelFont = Theme::font(14, QFont::Medium);
    m_import = new FlatButton(
        FlatButton::Look::plain(Theme::ink(), labelFont, QStringLiteral("square.and.arrow.down"), 16),
        QStringLiteral("Importieren"), this);
    connect(m_import, &QAbstractButton::clicked, this, [this] {
        m_state->setShowingAll(false);
        m_state->store()->importImages();
    });
    layout->addWidget(m_import);

    m_utility = new FlatButton(
        FlatButton::Look::plain(Theme::secondaryInk(), QFont(), QStringLiteral("ellipsis.circle"), 19),
        QString(), this);
    m_utility->setFixedSize(28, 28);
    m_utility->setToolTip(QStringLiteral("Importieren, Projekte und Sammelleiste"));
    m_utility->setAccessibleName(m_utility->toolTip());
    m_utilityMenu = new QMenu(this);
    m_importAction = m_utilityMenu->addAction(QStringLiteral("Bilder importieren …"), this, [this] {
        m_state->setShowingAll(false);
        m_state->store()->importImages();
    });
    m_pasteAction = m_utilityMenu->addAction(QStringLiteral("Bild aus Zwischenablage"), this, [this] {
        m_state->setShowingAll(false);
        m_state->store()->pasteImage();
    });
    m_utilityMenu->addSeparator();
    m_openProject =
        m_utilityMenu->addAction(QStringLiteral("Projekt öffnen …"), store, &CollectionStore::openProject);
    m_saveProject =
        m_utilityMenu->addAction(QStringLiteral("Projekt sichern …"), store, &CollectionStore::saveProject);
    m_panel = m_utilityMenu->addAction(QStringLiteral("Sammelleiste anzeigen"), this, [this] {
        if (m_state->actions().showPanel)
            m_state->actions().showPanel();
    });
    m_utilityMenu->addSeparator();
    m_undoDelete =
        m_utilityMenu->addAction(QStringLiteral("Letzten Ausschnitt wiederherstellen"), this, [this] {
            CollectionStore *store = m_state->store();
            store->undoDelete();
            // The snip comes back selected; its card's remove button stands for what was undone.
            if (const OptionalUuid restored = store->selectedSnipID())
                m_state->setLanding({*restored, LibraryState::CardControl::Remove});
        });
    m_restoreCollection =
        m_utilityMenu->addAction(QStringLiteral("Gelöschte Sammlung wiederherstellen"), this,
                                 [this] { m_state->store()->restoreDeletedCollection(); });
    m_deleteCollection = m_utilityMenu->addAction(QStringLiteral("Sammlung löschen"), this, [this] {
        if (const auto current = m_state->store()->current())
            m_state->deleteCollection(*current);
    });
    connect(m_utility, &QAbstractButton::clicked, this, [this] {
        refresh();
        popUnder(m_utilityMenu, m_utility);
    });
    layout->addWidget(m_utility);
    layout->addStretch(1);

    m_capture = makeCaptureButton(QStringLiteral("Screenshot aufnehmen"), this);
    connect(m_capture, &QAbstractButton::clicked, this, [this] { m_state->captureIntoCurrent(); });
    layout->addWidget(m_capture);

    FlatButton::Look exportLook =
        FlatButton::Look::plain(Theme::ink(), labelFont, QStringLiteral("square.and.arrow.up"), 16);
    exportLook.background = Theme::surface();
    exportLook.border = Theme::hairline();
    exportLook.radius = 8;
    exportLook.padding = QMargins(12, 0, 12, 0);
    m_export = new FlatButton(exportLook, QStringLiteral("Exportieren"), this);
    m_export->setFixedHeight(42);
    m_exportMenu = new QMenu(this);
    m_exportPDF = m_exportMenu->addAction(QStringLiteral("PDF-Dokument (.pdf)"), this, [this] {
        if (m_state->exporter())
            m_state->exporter()->present(ExportFormat::Pdf);
    });
    m_exportWord = m_exportMenu->addAction(QStringLiteral("Word-Dokument (.docx)"), this, [this] {
        if (m_state->exporter())
            m_state->exporter()->present(ExportFormat::Docx);
    });
    m_exportMenu->addSeparator();
    m_exportProject = m_exportMenu->addAction(QStringLiteral("Bearbeitbares Projekt (.vellumbox)"), store,
                                              &CollectionStore::saveProject);
    connect(m_export, &QAbstractButton::clicked, this, [this] { popUnder(m_exportMenu, m_export); });
    layout->addWidget(m_export);
    refresh();
}

void Toolbar::refresh() {
    CollectionStore *store = m_state->store();
    const bool busy = m_state->busy();
    const std::optional<SnipCollection> current = store->current();
    const OptionalCaptureSession session = store->session();

    m_import->setEnabled(!busy && !m_state->importing());
    m_importAction->setEnabled(!m_state->importing());
    m_pasteAction->setEnabled(!m_state->importing());
    m_panel->setText(session && session->isPaused ? QStringLiteral("Sammeln fortsetzen")
                                                  : QStringLiteral("Sammelleiste anzeigen"));
    m_panel->setEnabled(session.has_value());
    m_undoDelete->setEnabled(store->canUndoDelete());
    m_restoreCollection->setEnabled(!store->deletedCollections().isEmpty() && !busy);
    m_deleteCollection->setVisible(current.has_value());
    m_deleteCollection->setEnabled(!busy);

    m_capture->setEnabled(!busy);
    m_export->setText(store->isExporting() ? QStringLiteral("Exportiert …") : QStringLiteral("Exportieren"));
    m_export->setEnabled(!m_state->showingAll() && current && !current->items.isEmpty() &&
                         !store->isExporting());
}

void Toolbar::paintEvent(QPaintEvent *) {
    QPainter painter(this);
    painter.fillRect(rect(), Theme::surface());
    painter.fillRect(QRect(0, height() - 1, width(), 1), Theme::hairline());
}
