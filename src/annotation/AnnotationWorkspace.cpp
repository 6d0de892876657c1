#include "annotation/AnnotationWorkspace.h"

#include "annotation/AnnotationCanvas.h"
#include "annotation/AnnotationSession.h"
#include "annotation/AnnotationTextEditor.h"
#include "annotation/AnnotationViewport.h"
#include "annotation/LayerInspector.h"
#include "annotation/TextInspector.h"
#include "annotation/WorkspaceControls.h"
#include "look/ElidedText.h"
#include "look/FocusFrame.h"
#include "look/Icons.h"
#include "look/Theme.h"
#include "model/MarkLayers.h"
#include "store/CollectionStore.h"

#include <QApplication>
#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QScrollArea>
#include <QShortcut>
#include <QStackedWidget>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

#include <cmath>

namespace {

QPushButton *borderedButton(const QString &title, const QString &symbol, QWidget *parent) {
    auto *button = new QPushButton(symbolIcon(symbol), title, parent);
    button->setFont(Theme::font(11));
    button->setIconSize(QSize(14, 14));
    return button;
}

QPushButton *plainButton(const QIcon &icon, const QString &title, QWidget *parent) {
    auto *button = new QPushButton(icon, title, parent);
    button->setFlat(true);
    button->setCursor(Qt::PointingHandCursor);
    return button;
}

// The focus frame follows the shape of the control.
qreal frameRadius(const QAbstractButton *button) {
    if (qobject_cast<const ToolButton *>(button))
        return 9;
    if (qobject_cast<const ColorSwatch *>(button))
        return 7;
    return 4;
}

} // namespace

AnnotationWorkspace::AnnotationWorkspace(CollectionStore *store, const QUuid &snipID,
                                         std::function<void()> close, QWidget *parent)
    : AnnotationWorkspace(store, snipID, std::move(close), parent, {}) {}

AnnotationWorkspace::AnnotationWorkspace(CollectionStore *store, const QUuid &snipID,
                                         std::function<void()> close, QWidget *parent,
                                         std::function<std::unique_ptr<TextRecognizer>()> recognizer)
    : QWidget(parent), m_store(store),
      m_session(new AnnotationSession(store, snipID, this, std::move(recognizer))),
      m_close(std::move(close)) {
    setAutoFillBackground(true);
    setColorIfChanged(this, QPalette::Window, Qt::white);
    auto *root = columnLayout(this, 0);
    root->addWidget(buildHeader());
    root->addWidget(hairline(this, Qt::Horizontal));
    auto *work = new QHBoxLayout;
    work->setSpacing(0);
    work->addWidget(buildTools());
    work->addWidget(hairline(this, Qt::Vertical));
    auto *centre = new QVBoxLayout;
    centre->setSpacing(0);
    m_centre = new QStackedWidget(this);
    m_waiting = new QWidget(m_centre);
    m_waiting->setAutoFillBackground(true);
    setColorIfChanged(m_waiting, QPalette::Window, QColor::fromRgbF(0.93f, 0.93f, 0.93f));
    m_unavailable =
        editorLabel(QStringLiteral("Bild nicht verfügbar"), 13, QFont::Normal, true, m_centre, false);
    m_unavailable->setAlignment(Qt::AlignCenter);
    m_centre->addWidget(m_waiting);
    m_centre->addWidget(m_unavailable);
    centre->addWidget(m_centre, 1);
    centre->addWidget(buildZoomBar());
    work->addLayout(centre, 1);
    work->addWidget(hairline(this, Qt::Vertical));
    work->addWidget(buildInspector());
    root->addLayout(work, 1);

    // Buttons take the keyboard from Tab only: a click leaves it with the canvas, where Strg+Z
    // undoes what the click did. The one that has it shows the focus frame.
    for (QAbstractButton *button : findChildren<QAbstractButton *>()) {
        button->setFocusPolicy(Qt::TabFocus);
        FocusFrame::attach(button, frameRadius(button));
    }

    // The control that gets the keyboard is scrolled into view in its column, also when Tab comes
    // to it from outside the column (Umschalt+Tab from the canvas to the last tool).
    connect(qApp, &QApplication::focusChanged, this, [this](QWidget *, QWidget *now) {
        if (!now || !isAncestorOf(now) || (m_viewport && m_viewport->isAncestorOf(now)))
            return;
        for (QWidget *w = now->parentWidget(); w && w != this; w = w->parentWidget())
            if (auto *area = qobject_cast<QScrollArea *>(w))
                area->ensureWidgetVisible(now, 0, 0);
    });

    // Before the control under the keyboard sees the keys: a picker would take them for a search.
    auto *redoKeys = new QShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z), this);
    redoKeys->setContext(Qt::WidgetWithChildrenShortcut);
    connect(redoKeys, &QShortcut::activated, this, &AnnotationWorkspace::redo);

    connect(m_session, &AnnotationSession::changed, this, &AnnotationWorkspace::sessionChanged);
    connect(store, &CollectionStore::collectionsChanged, this, &AnnotationWorkspace::libraryChanged);
    connect(store, &CollectionStore::selectedIDChanged, this, &AnnotationWorkspace::libraryChanged);
    connect(store, &CollectionStore::saveStateChanged, this, &AnnotationWorkspace::scheduleRefresh);
    requestImage();
    refresh();
}

AnnotationWorkspace::~AnnotationWorkspace() {
    // The text form belongs to this visit; it must not outlive it as a window of its own.
    delete m_textEditor;
}

AnnotationTextEditor *AnnotationWorkspace::textEditor() const {
    return m_textEditor;
}

// ---- Header ----

QWidget *AnnotationWorkspace::buildHeader() {
    auto *header = new QWidget(this);
    header->setFixedHeight(64);
    auto *row = new QHBoxLayout(header);
    row->setContentsMargins(20, 0, 20, 0);
    row->setSpacing(18);
    auto *back =
        plainButton(symbolIcon(QStringLiteral("chevron.left")), QStringLiteral("Zur Sammlung"), header);
    back->setFont(Theme::font(12, QFont::Medium));
    back->setIconSize(QSize(14, 14));
    connect(back, &QPushButton::clicked, this, &AnnotationWorkspace::back);
    row->addWidget(back);
    row->addWidget(hairline(header, Qt::Vertical, 22));
    auto *titleBlock = new QWidget(header);
    auto *titles = columnLayout(titleBlock, 3);
    // A long title ends in "…" where the header's room ends; the window's smallest size holds.
    m_title = new ElidedLabel(titleBlock);
    m_title->setFont(Theme::font(14, QFont::DemiBold));
    setColorIfChanged(m_title, QPalette::WindowText, Theme::ink());
    titles->addWidget(m_title);
    titles->addWidget(
        editorLabel(QStringLiteral("Markierungseditor"), 11, QFont::Normal, true, titleBlock, false));
    row->addWidget(titleBlock, 0, Qt::AlignVCenter);
    row->addStretch(1);
    m_recognize = borderedButton(QStringLiteral("Text erkennen"), QStringLiteral("text.viewfinder"), header);
    connect(m_recognize, &QPushButton::clicked, m_session, &AnnotationSession::recognizeText);
    row->addWidget(m_recognize);
    m_saveState = editorLabel(QString(), 11, QFont::Normal, true, header, false);
    row->addWidget(m_saveState);
    m_fullScreenButton = borderedButton(QStringLiteral("Vollbild"),
                                        QStringLiteral("arrow.up.left.and.arrow.down.right"), header);
    connect(m_fullScreenButton, &QPushButton::clicked, this, &AnnotationWorkspace::toggleFullScreen);
    row->addWidget(m_fullScreenButton);
    return header;
}

// ---- Tool column ----

QWidget *AnnotationWorkspace::buildTools() {
    auto *column = new QWidget(this);
    column->setFixedWidth(64);
    auto *layout = new QVBoxLayout(column);
    // The list spans the whole column, its buttons centred: in a low window its scroll bar shows
    // beside them, so the tools below the fold are seen to be there and reached with the mouse.
    layout->setContentsMargins(0, 10, 0, 10);
    layout->setSpacing(7);
    auto *scroll = new QScrollArea(column);
    // Only its buttons are controls: a click on one leaves the keyboard with the canvas, and Tab
    // goes from button to button.
    scroll->setFocusPolicy(Qt::NoFocus);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroll->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    scroll->setWidgetResizable(true);
    auto *list = new QWidget(scroll);
    auto *buttons = columnLayout(list, 7);
    buttons->setAlignment(Qt::AlignHCenter | Qt::AlignTop);

    m_select = new ToolButton(QStringLiteral("Auswählen"), QStringLiteral("cursorarrow"), list);
    connect(m_select, &ToolButton::clicked, m_session, &AnnotationSession::chooseSelect);
    m_hand = new ToolButton(QStringLiteral("Hand · Ansicht verschieben"), QStringLiteral("hand.draw"), list);
    connect(m_hand, &ToolButton::clicked, m_session, &AnnotationSession::toggleHand);
    buttons->addWidget(m_select);
    buttons->addWidget(m_hand);
    auto *gap = new QVBoxLayout;
    gap->setContentsMargins(0, 7, 0, 7);
    gap->addWidget(hairline(list, Qt::Horizontal));
    buttons->addLayout(gap);

    m_shapes = new ToolButton(QStringLiteral("Formen"), QStringLiteral("square.on.circle"), list);
    m_shapeMenu = new QMenu(m_shapes);
    for (MarkKind kind : MarkKinds::all()) {
        if (MarkKinds::isShape(kind)) {
            m_shapeMenu->addAction(symbolIcon(MarkKinds::symbol(kind)), MarkKinds::title(kind), m_session,
                                   [this, kind] { m_session->chooseTool(kind); });
        }
    }
    connect(m_shapes, &ToolButton::clicked, this,
            [this] { m_shapeMenu->popup(m_shapes->mapToGlobal(QPoint(m_shapes->width(), 0))); });
    buttons->addWidget(m_shapes);
    for (MarkKind kind : MarkKinds::all()) {
        if (MarkKinds::isShape(kind))
            continue;
        auto *button = new ToolButton(MarkKinds::title(kind), MarkKinds::symbol(kind), list);
        connect(button, &ToolButton::clicked, m_session, [this, kind] { m_session->chooseTool(kind); });
        buttons->addWidget(button);
        m_singles.append({kind, button});
    }
    m_marker =
        new ToolButton(QStringLiteral("Text im Bild markieren"), QStringLiteral("text.viewfinder"), list);
    connect(m_marker, &ToolButton::clicked, m_session, &AnnotationSession::chooseMarker);
    buttons->addWidget(m_marker);
    scroll->setWidget(list);
    layout->addWidget(scroll, 1);

    const auto historyButton = [column](const QString &symbol, const QString &help, const QString &name) {
        auto *button = new QToolButton(column);
        button->setIcon(symbolIcon(symbol));
        button->setIconSize(QSize(18, 18));
        button->setFixedSize(40, 36);
        button->setAutoRaise(true);
        button->setToolTip(help);
        button->setAccessibleName(name);
        return button;
    };
    m_undo = historyButton(QStringLiteral("arrow.uturn.backward"), QStringLiteral("Rückgängig · Strg+Z"),
                           QStringLiteral("Markierung rückgängig"));
    m_redo =
        historyButton(QStringLiteral("arrow.uturn.forward"), QStringLiteral("Wiederholen · Strg+Umschalt+Z"),
                      QStringLiteral("Markierung wiederholen"));
    connect(m_undo, &QToolButton::clicked, m_session, &AnnotationSession::undo);
    connect(m_redo, &QToolButton::clicked, m_session, &AnnotationSession::redo);
    layout->addWidget(m_undo, 0, Qt::AlignHCenter);
    layout->addWidget(m_redo, 0, Qt::AlignHCenter);
    return column;
}

QList<ToolButton *> AnnotationWorkspace::toolButtons() const {
    QList<ToolButton *> all{m_select, m_hand, m_shapes};
    for (const auto &[kind, button] : m_singles)
        all.append(button);
    all.append(m_marker);
    return all;
}

// ---- Zoom bar ----

QWidget *AnnotationWorkspace::buildZoomBar() {
    auto *bar = new QWidget(this);
    bar->setFixedHeight(44);
    bar->setAutoFillBackground(true);
    setColorIfChanged(bar, QPalette::Window, Qt::white);
    auto *row = new QHBoxLayout(bar);
    row->setContentsMargins(16, 0, 16, 0);
    row->setSpacing(12);
    m_hint = editorLabel(QString(), 11, QFont::Normal, true, bar, false);
    m_hint->setMinimumWidth(0);
    m_hint->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    row->addWidget(m_hint, 1);
    row->addSpacing(4);
    const auto iconButton = [bar](const QString &symbol, const QString &name) {
        auto *button = new QToolButton(bar);
        button->setIcon(symbolIcon(symbol));
        button->setIconSize(QSize(14, 14));
        button->setAutoRaise(true);
        button->setAccessibleName(name);
        button->setToolTip(name);
        return button;
    };
    m_zoomOut = iconButton(QStringLiteral("minus"), QStringLiteral("Verkleinern"));
    connect(m_zoomOut, &QToolButton::clicked, m_session, &AnnotationSession::zoomOut);
    row->addWidget(m_zoomOut);
    m_zoomMenu = new QToolButton(bar);
    m_zoomMenu->setAutoRaise(true);
    m_zoomMenu->setPopupMode(QToolButton::InstantPopup);
    m_zoomMenu->setAccessibleName(QStringLiteral("Zoom"));
    m_zoomMenu->setFont(Theme::font(12));
    m_zoomMenu->setMinimumWidth(46);
    m_zoomMenu->setStyleSheet(QStringLiteral("QToolButton::menu-indicator { image: none; width: 0; }"));
    auto *presets = new QMenu(m_zoomMenu);
    for (int percent : {25, 50, 100, 200, 400})
        presets->addAction(QString::number(percent) + QStringLiteral(" %"), m_session,
                           [this, percent] { m_session->setZoom(percent / 100.0); });
    m_zoomMenu->setMenu(presets);
    row->addWidget(m_zoomMenu);
    m_zoomIn = iconButton(QStringLiteral("plus"), QStringLiteral("Vergrößern"));
    connect(m_zoomIn, &QToolButton::clicked, m_session, &AnnotationSession::zoomIn);
    row->addWidget(m_zoomIn);
    m_fit = plainButton(QIcon(), QStringLiteral("Einpassen"), bar);
    m_fit->setFont(Theme::font(12));
    connect(m_fit, &QPushButton::clicked, m_session, [this] { m_session->setZoom(std::nullopt); });
    row->addWidget(m_fit);
    return bar;
}

QString AnnotationWorkspace::hint() const {
    const std::optional<MarkKind> tool = m_session->tool();
    if (m_session->hand())
        return QStringLiteral("Ziehen, um die Ansicht zu verschieben");
    if (m_session->markingText())
        return QStringLiteral("Über erkannte Wörter ziehen, um sie zu markieren");
    if (tool == MarkKind::Number)
        return QStringLiteral("Klicken setzt Nummer ") +
               QString::number(Marks::nextNumber(m_session->marks())) + QStringLiteral(" · Esc beendet");
    if (tool && MarkKinds::isShape(*tool))
        return QStringLiteral("Form aufziehen · Umschalt für Kreis oder Quadrat");
    if (tool && MarkKinds::isTextBox(*tool))
        return QStringLiteral("Textfeld aufziehen · Doppelklick zum Bearbeiten");
    // Ctrl, not Alt: window managers take Alt+drag to move the window (Alt still works where it
    // reaches the editor).
    return QStringLiteral("Ziehen zum Bearbeiten · Strg zum Überzeichnen");
}

// ---- Inspector ----

QWidget *AnnotationWorkspace::buildInspector() {
    auto *inspector = new QWidget(this);
    inspector->setFixedWidth(260);
    auto *layout = columnLayout(inspector, 0);
    auto *picker = new QWidget(inspector);
    picker->setAccessibleName(QStringLiteral("Inspektor"));
    auto *segments = new QHBoxLayout(picker);
    segments->setContentsMargins(12, 12, 12, 12);
    segments->setSpacing(0);
    // The focus frame is the editor's own; the style's focus rectangle would add a second one.
    const QString style =
        QStringLiteral("QPushButton { border: 1px solid %1; padding: 4px 8px; background: white; color: %2;"
                       " outline: none; }"
                       "QPushButton:checked { background: %3; color: white; border-color: %3; }"
                       "QPushButton:disabled { color: %4; }");
    m_layersTab = new QPushButton(QStringLiteral("Ebenen"), picker);
    m_textTab = new QPushButton(QStringLiteral("Text erkennen"), picker);
    // No button group: a group hands the Tab stop to whichever segment had the keyboard last, not
    // to the page shown. Each segment is a stop; the session's page decides which is checked.
    for (QPushButton *tab : {m_layersTab, m_textTab}) {
        tab->setCheckable(true);
        tab->setFont(Theme::font(12));
        tab->setStyleSheet(style.arg(Theme::hairline().name(), Theme::ink().name(), editorAccent().name(),
                                     Theme::disabledInk().name()));
        segments->addWidget(tab, 1);
        connect(tab, &QPushButton::clicked, m_session, [this, tab] {
            m_session->setInspectorTab(tab == m_layersTab ? AnnotationSession::InspectorTab::Layers
                                                          : AnnotationSession::InspectorTab::Text);
            showInspectorTab(); // a click on the page shown must not uncheck it
        });
    }
    showInspectorTab();
    layout->addWidget(picker);
    layout->addWidget(hairline(inspector, Qt::Horizontal));
    m_pages = new QStackedWidget(inspector);
    m_layers = new LayerInspector(m_session, m_pages);
    m_text = new TextInspector(m_session, m_pages);
    m_pages->addWidget(m_layers);
    m_pages->addWidget(m_text);
    layout->addWidget(m_pages, 1);
    return inspector;
}

void AnnotationWorkspace::showInspectorTab() {
    const bool layers = m_session->inspectorTab() == AnnotationSession::InspectorTab::Layers;
    m_layersTab->setChecked(layers);
    m_textTab->setChecked(!layers);
}

// ---- State flow ----

void AnnotationWorkspace::requestImage() {
    const std::optional<Snip> item = m_session->item();
    if (!item) {
        m_imageState = ImageState::NoSnip;
        return;
    }
    m_imageState = ImageState::Waiting;
    m_store->requestImage(*item, this, [this](const QImage &image) {
        m_image = image;
        m_imageState = image.isNull() ? ImageState::Unreadable : ImageState::Loaded;
        const bool arrived = m_imageState == ImageState::Loaded && !m_viewport;
        if (arrived) {
            m_viewport = new AnnotationViewport(m_session->configuration(m_image), m_centre);
            m_viewport->setReportZoom([this](double zoom) { m_session->setVisibleZoom(zoom); });
            m_viewport->setChangeZoom([this](double zoom) { m_session->setZoom(zoom); });
            m_viewport->setKeyboardKeeper(m_layers->list());
            m_centre->addWidget(m_viewport);
            // Made after the inspector, the canvas still comes in the Tab round where the screen
            // shows it: after the tool column, before the zoom bar.
            QWidget::setTabOrder(m_redo, m_viewport->canvas());
        }
        applyCanvas();
        refresh();
        if (arrived && m_appeared)
            takeKeyboard();
    });
}

void AnnotationWorkspace::sessionChanged() {
    applyCanvas();
    syncTextEditor();
    scheduleRefresh();
}

void AnnotationWorkspace::libraryChanged() {
    // A snip that comes back (its deletion undone) before its image was read gets it now.
    if (m_imageState == ImageState::NoSnip && m_session->item())
        requestImage();
    applyCanvas();
    scheduleRefresh();
}

// The canvas follows every change at once, so the next frame never shows an old mark list.
void AnnotationWorkspace::applyCanvas() {
    if (m_viewport && m_session->item())
        m_viewport->apply(m_session->configuration(m_image), m_session->zoom(), m_session->hand());
}

void AnnotationWorkspace::scheduleRefresh() {
    if (m_refreshPending)
        return;
    m_refreshPending = true;
    QTimer::singleShot(0, this, [this] {
        m_refreshPending = false;
        refresh();
    });
}

void AnnotationWorkspace::refresh() {
    const std::optional<Snip> item = m_session->item();
    setTextIfChanged(m_title, item && !item->title.isEmpty() ? item->title : QStringLiteral("Screenshot"));
    const bool recognizing = m_session->recognition()->isRunning();
    setTextIfChanged(m_recognize,
                     recognizing ? QStringLiteral("Text wird erkannt …") : QStringLiteral("Text erkennen"));
    m_recognize->setEnabled(!recognizing && item);
    setTextIfChanged(m_saveState, m_store->saveStateText());
    setTextIfChanged(m_fullScreenButton,
                     m_fullScreen ? QStringLiteral("Vollbild verlassen") : QStringLiteral("Vollbild"));
    m_fullScreenButton->setIcon(symbolIcon(m_fullScreen
                                               ? QStringLiteral("arrow.down.right.and.arrow.up.left")
                                               : QStringLiteral("arrow.up.left.and.arrow.down.right")));

    QWidget *page = !item || m_imageState == ImageState::NoSnip || m_imageState == ImageState::Unreadable
                        ? static_cast<QWidget *>(m_unavailable)
                    : m_imageState == ImageState::Waiting ? m_waiting
                                                          : m_viewport;
    if (m_centre->currentWidget() != page)
        m_centre->setCurrentWidget(page);

    const std::optional<MarkKind> tool = m_session->tool();
    const bool hand = m_session->hand();
    m_select->setActive(!tool && !hand && !m_session->markingText());
    m_hand->setActive(hand);
    const bool shape = tool && MarkKinds::isShape(*tool) && !hand;
    m_shapes->setActive(shape);
    m_shapes->setSymbol(shape ? MarkKinds::symbol(*tool) : QStringLiteral("square.on.circle"));
    for (const auto &[kind, button] : m_singles)
        button->setActive(tool == kind && !hand);
    m_marker->setActive(m_session->markingText());
    m_undo->setEnabled(m_session->history().canUndo());
    m_redo->setEnabled(m_session->history().canRedo());

    setTextIfChanged(m_hint, hint());
    m_zoomOut->setEnabled(m_session->canZoomOut());
    setTextIfChanged(m_zoomMenu,
                     QString::number(std::lround(m_session->visibleZoom() * 100)) + QStringLiteral(" %"));
    setColorIfChanged(m_fit, QPalette::ButtonText, m_session->zoom() ? Theme::ink() : editorAccent());

    showInspectorTab();
    const bool layers = m_session->inspectorTab() == AnnotationSession::InspectorTab::Layers;
    QWidget *inspectorPage = layers ? static_cast<QWidget *>(m_layers) : m_text;
    if (m_pages->currentWidget() != inspectorPage)
        m_pages->setCurrentWidget(inspectorPage);
    m_layers->refresh();
    m_text->refresh();
}

// ---- Text form ----

void AnnotationWorkspace::syncTextEditor() {
    const std::optional<Mark> mark = m_session->textMark();
    if (mark && !m_textEditor) {
        const QPointer<AnnotationSession> session(m_session);
        m_textEditor = new AnnotationTextEditor(
            *mark, QSizeF(m_image.size()),
            [session](const Mark &fitted) {
                if (session)
                    session->saveText(fitted);
            },
            [session] {
                if (session)
                    session->cancelText();
            },
            this);
        m_textEditor->open();
    } else if (!mark && m_textEditor) {
        // The form has finished (or the visit ended); it goes once its own call has returned.
        m_textEditor->hide();
        m_textEditor->deleteLater();
        m_textEditor = nullptr;
    }
}

// ---- Leaving and full screen ----

void AnnotationWorkspace::back() {
    // A library that must not be written this run (its file could not be read) never traps the
    // user here; otherwise the editor closes once the save is written, and a real write failure
    // keeps it open with its alert.
    if (!m_store->writingEnabled()) {
        leave();
        return;
    }
    if (m_leaving)
        return;
    m_leaving = true;
    m_store->save(this, [this](bool written) {
        m_leaving = false;
        if (written)
            leave();
    });
}

void AnnotationWorkspace::leave() {
    if (m_fullScreen && !m_initiallyFullScreen)
        toggleFullScreen();
    const std::function<void()> close = m_close;
    close();
}

void AnnotationWorkspace::toggleFullScreen() {
    QWidget *w = window();
    if (w)
        w->setWindowState(w->windowState() ^ Qt::WindowFullScreen);
}

void AnnotationWorkspace::showEvent(QShowEvent *event) {
    QWidget::showEvent(event);
    if (m_appeared)
        return;
    m_appeared = true;
    m_watchedWindow = window();
    m_watchedWindow->installEventFilter(this);
    m_initiallyFullScreen = m_watchedWindow->isFullScreen();
    m_fullScreen = m_initiallyFullScreen;
    // After the call that shows the editor: a page switch hands the keyboard over only then.
    QTimer::singleShot(0, this, &AnnotationWorkspace::takeKeyboard);
    scheduleRefresh();
}

void AnnotationWorkspace::takeKeyboard() {
    QWidget *focus = window()->focusWidget();
    if (focus && !isAncestorOf(focus))
        return; // the user has it elsewhere in the window
    if (m_viewport && m_viewport->isVisibleTo(this))
        m_viewport->canvas()->setFocus(Qt::OtherFocusReason);
    else if (focus)
        focus->clearFocus();
}

// ---- History from anywhere in the editor ----

void AnnotationWorkspace::undo() {
    // Through the canvas, which drops a gesture under way first.
    if (m_viewport)
        m_viewport->canvas()->undo();
    else
        m_session->undo();
}

void AnnotationWorkspace::redo() {
    if (m_viewport)
        m_viewport->canvas()->redo();
    else
        m_session->redo();
}

bool AnnotationWorkspace::eventFilter(QObject *watched, QEvent *event) {
    if (watched == m_watchedWindow && event->type() == QEvent::WindowStateChange) {
        const bool full = m_watchedWindow->isFullScreen();
        if (full != m_fullScreen) {
            m_fullScreen = full;
            scheduleRefresh();
        }
    }
    return QWidget::eventFilter(watched, event);
}
