#include "CanvasTestSupport.h"
#include "EditorTestSupport.h"
#include "support/MarkTestSupport.h"

#include "annotation/AnnotationTextEditor.h"
#include "annotation/LayerInspector.h"
#include "look/ElidedText.h"
#include "look/Theme.h"
#include "shell/AppMenus.h"
#include "shell/MainWindow.h"

#include <QAbstractScrollArea>
#include <QAccessible>
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <QWheelEvent>

// The mark editor in a window on a real X server, as a user meets it: what the screen shows after
// zooming, rows dragged with the mouse, and the Edit menu.
class TestEditorWindow : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void zoomingOutLeavesOnlyTheImage_data();
    void zoomingOutLeavesOnlyTheImage();
    void layerRowDraggedWithTheMouse_data();
    void layerRowDraggedWithTheMouse();
    void editMenuReachesTheCanvas_data();
    void editMenuReachesTheCanvas();
    void tabRoundFollowsTheScreen_data();
    void tabRoundFollowsTheScreen();
    void historyFromEveryControl_data();
    void historyFromEveryControl();
};

namespace {
constexpr int kPatienceMs = 20'000;
// A repaint that has not arrived after this never will: leftovers stay until something else
// covers them.
constexpr int kRepaintMs = 5'000;

// What the X server shows of `widget`, not a fresh rendering of it.
QImage onScreen(QWidget *widget) {
    const QPoint at = widget->mapTo(widget->window(), QPoint());
    return widget->screen()
        ->grabWindow(widget->window()->winId(), at.x(), at.y(), widget->width(), widget->height())
        .toImage()
        .convertToFormat(QImage::Format_RGB32);
}

bool isBackground(QRgb pixel) {
    const QRgb grey = QColor::fromRgbF(0.93f, 0.93f, 0.93f).rgb();
    return std::abs(qRed(pixel) - qRed(grey)) <= 1 && std::abs(qGreen(pixel) - qGreen(grey)) <= 1 &&
           std::abs(qBlue(pixel) - qBlue(grey)) <= 1;
}

// Pixels of the view outside the image and its shadow that are not the plain background.
int strayPixels(Editor &e) {
    QWidget *view = e.workspace->viewport()->viewport();
    const QImage shown = onScreen(view);
    const QRect image(e.canvas()->mapTo(view, QPoint()), e.canvas()->size());
    const QRect shadow = image.adjusted(-20, -20, 20, 24);
    int stray = 0;
    for (int y = 0; y < shown.height(); ++y) {
        const auto *line = reinterpret_cast<const QRgb *>(shown.constScanLine(y));
        const bool besideShadow = y >= shadow.top() && y <= shadow.bottom();
        for (int x = 0; x < shown.width(); ++x) {
            if (besideShadow && x == shadow.left())
                x = shadow.right() + 1;
            if (x < shown.width() && !isBackground(line[x]))
                ++stray;
        }
    }
    return stray;
}

// What screen readers call a control: the label that names it, else its own name.
QString spokenName(QWidget *widget) {
    QAccessibleInterface *control = QAccessible::queryAccessibleInterface(widget);
    for (const auto &[label, relation] : control->relations(QAccessible::Label))
        return label->text(QAccessible::Name);
    return control->text(QAccessible::Name);
}

// The enabled control on screen with that name.
QWidget *controlNamed(QWidget *in, const QString &name) {
    for (QWidget *w : in->findChildren<QWidget *>())
        if (w->isVisible() && w->isEnabled() && w->focusPolicy() != Qt::NoFocus && spokenName(w) == name)
            return w;
    return nullptr;
}

// The part of `widget` that its window shows: its rectangle in window coordinates, cut by every
// parent (scroll areas show only part of their content).
QRect shownPart(const QWidget *widget) {
    QRect shown(widget->mapTo(widget->window(), QPoint()), widget->size());
    for (const QWidget *p = widget->parentWidget(); p; p = p->parentWidget())
        shown &= QRect(p->mapTo(p->window(), QPoint()), p->size());
    return shown;
}

bool shownWhole(const QWidget *widget) {
    return widget && widget->isVisible() &&
           shownPart(widget) == QRect(widget->mapTo(widget->window(), QPoint()), widget->size());
}

// What the window draws in and just around `widget`, frames drawn by a parent included.
QImage drawnAround(const QWidget *widget) {
    return widget->window()->grab(shownPart(widget).adjusted(-4, -4, 4, 4)).toImage();
}

// The room the editor has in a main window of that size, below its menu bar.
void atWindowSize(Editor &e, QSize window) {
    QMenuBar bar;
    bar.addMenu(QStringLiteral("Bearbeiten"));
    e.workspace->resize(window - QSize(0, bar.sizeHint().height()));
}

void atDefaultWindowSize(Editor &e) {
    atWindowSize(e, MainWindow::kSize);
}

// Whether the mouse reaches all of `widget`: it is shown whole, or a scroll bar beside it is on
// screen to bring the rest into view.
bool reachedByMouse(const QWidget *widget) {
    if (shownWhole(widget))
        return true;
    for (const QWidget *p = widget->parentWidget(); p; p = p->parentWidget())
        if (const auto *area = qobject_cast<const QAbstractScrollArea *>(p);
            area && area->verticalScrollBar()->isVisible() &&
            shownPart(area->verticalScrollBar()).height() > 0)
            return true;
    return false;
}

// Pixels that differ clearly between two pictures of the same place (a frame in a colour close to
// its background does not count).
int clearlyChanged(const QImage &a, const QImage &b) {
    int changed = 0;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x) {
            const QRgb p = a.pixel(x, y), q = b.pixel(x, y);
            changed += std::max({std::abs(qRed(p) - qRed(q)), std::abs(qGreen(p) - qGreen(q)),
                                 std::abs(qBlue(p) - qBlue(q))}) >= 64;
        }
    return changed;
}

// Finds one line of two words near the top of any picture.
class OneLine final : public TextRecognizer {
public:
    QList<Line> recognize(const QImage &image, const Cancelled &) override {
        const QRectF line(0.1 * image.width(), 0.1 * image.height(), 0.4 * image.width(),
                          0.1 * image.height());
        const QRectF half(line.topLeft(), QSizeF(line.width() / 2, line.height()));
        return {
            {line,
             {{QStringLiteral("Hallo"), half}, {QStringLiteral("Welt"), half.translated(half.width(), 0)}}}};
    }
};

// Every control of `window` the keyboard can be on, in the order of its focus chain.
QList<QPointer<QWidget>> focusChain(QWidget *window) {
    QList<QPointer<QWidget>> controls;
    QWidget *w = window;
    do {
        if (w->window() == window && w->isVisible() && w->isEnabled() && w->focusPolicy() != Qt::NoFocus)
            controls << w;
        w = w->nextInFocusChain();
    } while (w && w != window);
    return controls;
}

QString typedText(const QWidget *field) {
    if (const auto *line = qobject_cast<const QLineEdit *>(field))
        return line->text();
    if (const auto *plain = qobject_cast<const QPlainTextEdit *>(field))
        return plain->toPlainText();
    return {};
}

// Where the layer list shows the row of that text; null when it has none.
QRect layerRow(LayerList *list, const QString &text) {
    for (int row = 0; row < list->count(); ++row)
        if (list->item(row)->text() == text)
            return list->visualItemRect(list->item(row));
    return {};
}

// What screen readers hear as the layer list's selected rows.
QStringList heardSelected(LayerList *list) {
    QStringList rows;
    for (QAccessibleInterface *cell :
         QAccessible::queryAccessibleInterface(list)->tableInterface()->selectedCells())
        rows << cell->text(QAccessible::Name);
    return rows;
}

// Whether the frame around the image that tells the canvas has the keyboard is drawn: pixels in
// the accent colour along the band just above the image.
bool canvasRingShown(Editor &e) {
    QWidget *view = e.workspace->viewport();
    const QRect image(e.canvas()->mapTo(view, QPoint()), e.canvas()->size());
    const QImage band = view->grab(QRect(image.left(), image.top() - 4, image.width(), 4) & view->rect())
                            .toImage()
                            .convertToFormat(QImage::Format_RGB32);
    const QColor accent = Theme::accent();
    int ring = 0;
    for (int y = 0; y < band.height(); ++y) {
        const auto *line = reinterpret_cast<const QRgb *>(band.constScanLine(y));
        for (int x = 0; x < band.width(); ++x)
            ring += std::abs(qRed(line[x]) - accent.red()) + std::abs(qGreen(line[x]) - accent.green()) +
                        std::abs(qBlue(line[x]) - accent.blue()) <
                    60;
    }
    return ring > band.width() / 2;
}

// The first recognised line picked, as a click on it does.
void pickFirstLine(AnnotationSession *s) {
    s->selectRecognizedLine(s->recognition()->lines().first().id);
}

// The image's text recognised, then its first line picked; false when no line came.
bool recognizeAndPickFirstLine(AnnotationSession *s) {
    s->recognizeText();
    if (!QTest::qWaitFor([&] { return !s->recognition()->lines().isEmpty(); }, kPatienceMs))
        return false;
    pickFirstLine(s);
    return true;
}

// The window in front, with the keyboard where the editor puts it on opening: on the canvas.
bool activate(Editor &e) {
    e.workspace->activateWindow();
    if (!QTest::qWaitForWindowActive(e.workspace.get(), kPatienceMs))
        return false;
    return QTest::qWaitFor([&] { return e.canvas()->hasFocus(); }, kPatienceMs);
}
} // namespace

// Every zoom step below the fit repaints the area the larger image and its shadow covered.
void TestEditorWindow::zoomingOutLeavesOnlyTheImage_data() {
    QTest::addColumn<QSize>("image");
    QTest::addColumn<QString>("steps"); // wheel (Ctrl+wheel out), minus, plus, 100 (the preset)
    QTest::newRow("Ctrl+wheel out") << QSize(1000, 500) << "wheel";
    QTest::newRow("zoom-out button twice") << QSize(1000, 500) << "minus minus";
    QTest::newRow("out twice, then in again") << QSize(1000, 500) << "minus minus plus";
    QTest::newRow("100 % below a larger fit") << QSize(300, 150) << "100";
}

void TestEditorWindow::zoomingOutLeavesOnlyTheImage() {
    QFETCH(QSize, image);
    QFETCH(QString, steps);
    Editor e({}, image);
    QVERIFY(e.waitForCanvas());
    // Activation repaints the whole window, which would hide leftovers from before it.
    QVERIFY(activate(e));
    AnnotationViewport *viewport = e.workspace->viewport();
    QWidget *view = viewport->viewport();
    // The fitted image with its shadow is on screen first.
    QVERIFY(QTest::qWaitFor(
        [&] {
            const QPoint middle = e.canvas()->mapTo(view, e.canvas()->rect().center());
            return onScreen(view).pixel(middle) == qRgb(255, 255, 255) && strayPixels(e) == 0;
        },
        kPatienceMs));
    // The steps of the zoom bar start from the factor on screen.
    QTRY_COMPARE_WITH_TIMEOUT(e.session()->visibleZoom(), viewport->layoutGeometry()->scale, kPatienceMs);
    const double fit = viewport->layoutGeometry()->scale;

    for (const QString &step : steps.split(u' ')) {
        if (step == u"wheel") {
            const QPointF at = view->rect().center();
            QWheelEvent wheel(at, view->mapToGlobal(at), QPoint(), QPoint(0, -120), Qt::NoButton,
                              Qt::ControlModifier, Qt::NoScrollPhase, false);
            QApplication::sendEvent(view, &wheel);
        } else if (step == u"minus" || step == u"plus") {
            toolButton(e.workspace.get(),
                       step == u"minus" ? QStringLiteral("Verkleinern") : QStringLiteral("Vergrößern"))
                ->click();
        } else {
            QMenu *presets = toolButton(e.workspace.get(), QStringLiteral("Zoom"))->menu();
            for (QAction *preset : presets->actions())
                if (preset->text() == QStringLiteral("100 %"))
                    preset->trigger();
        }
        QTRY_COMPARE_WITH_TIMEOUT(e.session()->visibleZoom(), viewport->layoutGeometry()->scale, kPatienceMs);
        QTRY_COMPARE_WITH_TIMEOUT(strayPixels(e), 0, kRepaintMs);
    }
    QVERIFY(viewport->layoutGeometry()->scale < fit);
}

// Press on a row, move past the drag distance, release over another row: the dragged mark takes
// that row's place in the stacking order, within its own layer group. Screen readers hear the
// editor's selection as the list's selected row, also when the canvas selects a mark afterwards.
void TestEditorWindow::layerRowDraggedWithTheMouse_data() {
    QTest::addColumn<MarkList>("marks");
    QTest::addColumn<QString>("dragged"); // a mark's name, or the screenshot row
    QTest::addColumn<QString>("target");
    QTest::addColumn<QString>("stored");
    QTest::addColumn<QString>("selected");
    const Mark r = named(MarkKind::Redact, QStringLiteral("R")),
               a = named(MarkKind::Arrow, QStringLiteral("A")),
               b = named(MarkKind::Blur, QStringLiteral("B")),
               c = named(MarkKind::Rectangle, QStringLiteral("C"));
    QTest::newRow("top row onto a lower one") << MarkList{a, c, b} << "C"
                                              << "A"
                                              << "B C A"
                                              << "C";
    QTest::newRow("lower row onto a higher one") << MarkList{c, a} << "C"
                                                 << "A"
                                                 << "A C"
                                                 << "C";
    QTest::newRow("onto a redaction, staying below it") << MarkList{a, c, r} << "A"
                                                        << "R"
                                                        << "C A R"
                                                        << "A";
    QTest::newRow("onto itself") << MarkList{a, c} << "A"
                                 << "A"
                                 << "A C"
                                 << "";
    QTest::newRow("the screenshot row stays") << MarkList{a, c} << "Screenshot"
                                              << "C"
                                              << "A C"
                                              << "";
}

void TestEditorWindow::layerRowDraggedWithTheMouse() {
    QFETCH(MarkList, marks);
    QFETCH(QString, dragged);
    QFETCH(QString, target);
    QFETCH(QString, stored);
    QFETCH(QString, selected);
    Editor e(marks);
    QVERIFY(QTest::qWaitForWindowExposed(e.workspace.get(), kPatienceMs));
    QVERIFY(e.waitForCanvas());
    LayerList *list = e.workspace->layerInspector()->list();
    QTRY_COMPARE_WITH_TIMEOUT(list->count(), marks.size() + 1, kPatienceMs);
    QWidget *rows = list->viewport();
    const QPoint from = layerRow(list, dragged).center() - QPoint(0, 6);
    const QPoint to = layerRow(list, target).center();
    const QPoint past = from + QPoint(0, QApplication::startDragDistance() + 4);

    // The drag runs in an event loop of its own: the rest of the gesture arrives from inside it.
    bool released = false;
    QTimer::singleShot(0, this, [&] {
        QTest::mouseMove(rows, to - QPoint(0, 2));
        QTest::mouseMove(rows, to);
        QTest::mouseRelease(rows, Qt::LeftButton, {}, to);
        released = true;
    });
    QTest::mousePress(rows, Qt::LeftButton, {}, from);
    QTest::mouseMove(rows, from + QPoint(0, 1));
    QTest::mouseMove(rows, past);
    QTRY_VERIFY_WITH_TIMEOUT(released, kPatienceMs);
    QCoreApplication::processEvents();

    QCOMPARE(names(e.marks()), stored);
    QCOMPARE(e.session()->history().past.size(), stored == names(marks) ? 0 : 1);
    std::optional<QUuid> expected;
    for (const Mark &m : marks)
        if (m.text == selected)
            expected = m.id;
    QCOMPARE(e.session()->selection(), expected);
    // The rows follow the new order, topmost first, and none went missing.
    QTRY_COMPARE_WITH_TIMEOUT(list->count(), marks.size() + 1, kPatienceMs);
    const auto heard = [&] { return heardSelected(list); };
    QTRY_COMPARE_WITH_TIMEOUT(
        heard(), selected.isEmpty() ? QStringList() : QStringList{QStringLiteral("Ebene: ") + selected},
        kPatienceMs);

    // The topmost mark under the pointer.
    QTest::mouseClick(e.canvas(), Qt::LeftButton, {}, e.at(0.2, 0.2).toPoint());
    const std::optional<QUuid> picked = e.session()->selection();
    QVERIFY(picked);
    QString name;
    for (const Mark &m : marks)
        if (m.id == *picked)
            name = *m.text;
    QTRY_COMPARE_WITH_TIMEOUT(heard(), QStringList{QStringLiteral("Ebene: ") + name}, kPatienceMs);

    // An arrow key moves only the keyboard's row; Space selects its mark as a click does.
    list->setFocus();
    QTest::keyClick(list, Qt::Key_Down);
    QCOMPARE(heard(), QStringList{QStringLiteral("Ebene: ") + name});
    const QUuid row = LayerList::idOf(list->currentItem());
    QTest::keyClick(list, Qt::Key_Space);
    QCOMPARE(e.session()->selection(), row.isNull() ? picked : row);
    const QString now = row.isNull() ? name : list->currentItem()->text();
    QTRY_COMPARE_WITH_TIMEOUT(heard(), QStringList{QStringLiteral("Ebene: ") + now}, kPatienceMs);
}

// With the canvas focused, the Edit menu's "Rückgängig" steps back through the editor's history,
// one step per command, as Ctrl+Z does beside it; Ctrl+Shift+Z beside the menu redoes one step.
// A click on a control of the tool column, the zoom bar or the inspector, a layer row, the image
// row or beside the rows included, leaves the keyboard with the canvas, and nothing under the
// pointer moves while it clicks; after the mouse alone the canvas shows no focus ring. In the
// layer list the keys select and the keyboard stays there; screen readers hear the editor's
// selection only. A click on the inspector page shown keeps its segment checked.
void TestEditorWindow::editMenuReachesTheCanvas_data() {
    QTest::addColumn<QString>("steps");    // menu entries by title, "Z" and "ShiftZ" keys, "press"
    QTest::addColumn<QString>("shown");    // and "release" of a rectangle drag on the canvas, "number"
                                           // (a number mark added and selected), "click=NAME" (a mouse
                                           // click on the control named NAME, "_" for a space),
                                           // "row=NAME" (on a layer row, "_" below the rows),
                                           // "page=NAME" (on an inspector segment), "tab=canvas" or
                                           // "tab=list" (Tab until it has the keyboard), "key=KEY"
    QTest::addColumn<QString>("keyboard"); // "canvas" or "list"
    QTest::addColumn<bool>("ring");        // the canvas's focus ring on screen
    QTest::addColumn<QString>("selected");
    QTest::addColumn<QString>("page");
    const auto row = [](const char *title, const char *steps, const char *shown,
                        const char *keyboard = "canvas", bool ring = false, const char *selected = "",
                        const char *page = "Ebenen") {
        QTest::newRow(title) << QString::fromUtf8(steps) << QString::fromUtf8(shown)
                             << QString::fromUtf8(keyboard) << ring << QString::fromUtf8(selected)
                             << QString::fromUtf8(page);
    };
    row("Rückgängig", "Rückgängig", "A");
    row("Rückgängig twice", "Rückgängig Rückgängig", "");
    row("Ctrl+Z, one step", "Z", "A");
    row("Ctrl+Shift+Z, one step", "Rückgängig Rückgängig ShiftZ", "A");
    row("a drawing in progress is dropped", "press Rückgängig release", "A");
    row("Auswählen clicked, then Ctrl+Z", "click=Auswählen Z", "A");
    row("Hand clicked, then Rückgängig", "click=Hand_·_Ansicht_verschieben Rückgängig", "A");
    row("zoom bar clicked, then Ctrl+Z", "click=Vergrößern click=Einpassen Z", "A");
    row("colour clicked, then Rückgängig", "click=Farbe:_Koralle Rückgängig", "A");
    row("number stepper clicked three times, then Ctrl+Z",
        "number click=Nummer_erhöhen click=Nummer_erhöhen click=Nummer_erhöhen Z", "A L N#3", "canvas", false,
        "N");
    row("layer row clicked, then Ctrl+Z", "row=A Z", "A", "canvas", false, "A");
    row("selected layer row clicked again, then Rückgängig", "row=L row=L Rückgängig", "A");
    row("image row clicked, then Ctrl+Z", "row=Screenshot Z", "A");
    row("beside the rows clicked, then Ctrl+Z", "row=_ Z", "A");
    row("Space on a layer row selects it, Down moves the row", "tab=list key=Down key=Space key=Down", "A L",
        "list", false, "A");
    row("Return on a layer row selects it as Space does", "tab=list key=Down key=Return key=Down", "A L",
        "list", false, "A");
    row("a typed letter selects nothing", "tab=list key=A", "A L", "list");
    row("a typed letter moves the row Space selects", "tab=list key=A key=Space", "A L", "list", false, "A");
    row("back to the canvas by Tab, it shows the ring", "tab=list key=Space tab=canvas", "A L", "canvas",
        true, "L");
    row("the page shown clicked", "page=Ebenen", "A L");
    row("the text page clicked twice, then Ctrl+Z", "page=Text_erkennen page=Text_erkennen Z", "A", "canvas",
        false, "", "Text erkennen");
}

void TestEditorWindow::editMenuReachesTheCanvas() {
    QFETCH(QString, steps);
    QFETCH(QString, shown);
    QFETCH(QString, keyboard);
    QFETCH(bool, ring);
    QFETCH(QString, selected);
    QFETCH(QString, page);
    Editor e;
    QMenu edit;
    AppMenus::buildEditMenu(&edit);
    // In the main window the menu bar holds them; here the editor's window does.
    e.workspace->addActions(edit.actions());
    atDefaultWindowSize(e);
    QVERIFY(e.waitForCanvas());
    AnnotationSession *s = e.session();
    s->replace({named(MarkKind::Arrow, QStringLiteral("A"))});
    s->replace(e.marks() << named(MarkKind::Line, QStringLiteral("L")));
    QVERIFY(activate(e));
    LayerList *list = e.workspace->layerInspector()->list();
    QWindow *window = e.workspace->windowHandle();

    QHash<QString, QPoint> clickedAt;
    for (const QString &step : steps.split(u' ')) {
        if (step == u"Z" || step == u"ShiftZ") {
            // As typed: to whatever has the keyboard, menu shortcuts included.
            QTest::keyClick(window, Qt::Key_Z,
                            step == u"Z" ? Qt::ControlModifier : Qt::ControlModifier | Qt::ShiftModifier);
        } else if (step == u"press") {
            s->chooseTool(MarkKind::Rectangle);
            QCoreApplication::processEvents();
            QVERIFY(e.canvas()->hasFocus());
            sendMouse(e.canvas(), QEvent::MouseButtonPress, e.at(0.5, 0.5), Qt::LeftButton, Qt::LeftButton);
            sendMouse(e.canvas(), QEvent::MouseMove, e.at(0.8, 0.8), Qt::NoButton, Qt::LeftButton);
        } else if (step == u"release") {
            sendMouse(e.canvas(), QEvent::MouseButtonRelease, e.at(0.8, 0.8), Qt::LeftButton, Qt::NoButton);
        } else if (step == u"number") {
            Mark number = named(MarkKind::Number, QStringLiteral("N"));
            number.number = 1;
            s->replace(e.marks() << number);
            s->selectLayer(number.id);
        } else if (step.startsWith(u"click=")) {
            const QString name = step.mid(6).replace(u'_', u' ');
            QWidget *control = nullptr;
            // Once the last step has been laid out, the control is on screen whole and the
            // inspector has room for everything.
            QCoreApplication::sendPostedEvents();
            QTRY_VERIFY_WITH_TIMEOUT((control = controlNamed(e.workspace.get(), name)) && shownWhole(control),
                                     kPatienceMs);
            for (QScrollArea *area : e.workspace->layerInspector()->findChildren<QScrollArea *>())
                QVERIFY2(!area->verticalScrollBar()->isVisible(), "the inspector scrolls");
            // A control clicked before is still under the pointer.
            const QPoint centre = control->mapToGlobal(control->rect().center());
            QCOMPARE(clickedAt.value(name, centre), centre);
            clickedAt.insert(name, centre);
            QTest::mouseClick(control, Qt::LeftButton, {}, control->rect().center());
        } else if (step.startsWith(u"row=")) {
            const QString name = step.mid(4);
            QCoreApplication::processEvents();
            const QRect shown = layerRow(list, name);
            const QPoint at = shown.isNull()
                                  ? QPoint(list->viewport()->width() / 2, list->viewport()->height() - 4)
                                  : shown.center();
            QCOMPARE(list->itemAt(at) == nullptr, name == u"_");
            QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, at);
        } else if (step.startsWith(u"page=")) {
            const QString name = step.mid(5).replace(u'_', u' ');
            QPushButton *segment = nullptr;
            for (QPushButton *button : e.workspace->findChildren<QPushButton *>())
                if (button->isCheckable() && button->text() == name)
                    segment = button;
            QVERIFY(segment);
            QTest::mouseClick(segment, Qt::LeftButton, {}, segment->rect().center());
            // At once, not only once the editor next refreshes.
            QVERIFY(segment->isChecked());
        } else if (step.startsWith(u"tab=")) {
            QWidget *target = step == u"tab=list" ? static_cast<QWidget *>(list) : e.canvas();
            for (int press = 0; press < 100 && !target->hasFocus(); ++press)
                QTest::keyClick(window, Qt::Key_Tab);
            QVERIFY(target->hasFocus());
        } else if (step.startsWith(u"key=")) {
            const QString key = step.mid(4);
            QTest::keyClick(window, key == u"Down"     ? Qt::Key_Down
                                    : key == u"Space"  ? Qt::Key_Space
                                    : key == u"Return" ? Qt::Key_Return
                                                       : Qt::Key_A);
        } else {
            QAction *entry = nullptr;
            for (QAction *action : edit.actions())
                if (action->text() == step)
                    entry = action;
            QVERIFY(entry);
            entry->trigger();
        }
    }
    // Right after the steps, before a later refresh could mend what they left.
    QCoreApplication::processEvents();
    for (QPushButton *button : e.workspace->findChildren<QPushButton *>())
        if (button->isCheckable())
            QCOMPARE(button->isChecked(), button->text() == page);
    QCOMPARE(names(e.marks()), shown);
    QCOMPARE(names(e.f.store->current()->items.first().marks), shown);
    QCOMPARE(QApplication::focusWidget(), keyboard == u"list" ? static_cast<QWidget *>(list) : e.canvas());
    QCOMPARE(canvasRingShown(e), ring);
    std::optional<QUuid> expected;
    QStringList heard;
    for (const Mark &m : e.marks())
        if (m.text == selected) {
            expected = m.id;
            heard << QStringLiteral("Ebene: ") + m.label();
        }
    QCOMPARE(s->selection(), expected);
    QCOMPARE(heardSelected(list), heard);
}

// One Tab round: each stop is a control the user sees whole, named for screen readers, drawn
// differently while it has the keyboard, and the stops come in the order of the screen: header,
// tool column, image, zoom bar, inspector; Umschalt+Tab goes the same round backwards. In the
// smallest main window, with a long title, every control is on screen or has a scroll bar beside
// it.
void TestEditorWindow::tabRoundFollowsTheScreen_data() {
    QTest::addColumn<MarkList>("marks");
    QTest::addColumn<QString>("selected"); // a mark's name, "text" for the recognised-text page
    QTest::addColumn<bool>("edited");      // one step to undo
    QTest::addColumn<QStringList>("stops");
    QTest::addColumn<QSize>("window");
    QTest::addColumn<bool>("backwards");
    const auto round = [](bool undo, const QStringList &inspector) {
        QStringList stops{QStringLiteral("Zur Sammlung"),
                          QStringLiteral("Text erkennen"),
                          QStringLiteral("Vollbild"),
                          QStringLiteral("Auswählen"),
                          QStringLiteral("Hand · Ansicht verschieben"),
                          QStringLiteral("Formen")};
        for (MarkKind kind : MarkKinds::all())
            if (!MarkKinds::isShape(kind))
                stops << MarkKinds::title(kind);
        stops << QStringLiteral("Text im Bild markieren");
        if (undo)
            stops << QStringLiteral("Markierung rückgängig");
        stops << QStringLiteral("Screenshot mit bearbeitbaren Markierungen") << QStringLiteral("Verkleinern")
              << QStringLiteral("Zoom") << QStringLiteral("Vergrößern") << QStringLiteral("Einpassen");
        return stops + inspector;
    };
    const auto layers = [](const QStringList &details) {
        QStringList stops{QStringLiteral("Ebenen"), QStringLiteral("Text erkennen"),
                          QStringLiteral("Ebenen")};
        for (MarkColor color : MarkColors::all())
            stops << QStringLiteral("Farbe: ") + MarkColors::title(color);
        return stops + details;
    };
    Mark number = named(MarkKind::Number, QStringLiteral("N"));
    number.number = 2;
    const Mark text = named(MarkKind::Text, QStringLiteral("T")),
               arrow = named(MarkKind::Arrow, QStringLiteral("A"));
    const QSize usual = MainWindow::kSize, smallest = MainWindow::kMinimumSize;
    QTest::newRow("nothing selected")
        << MarkList{} << "" << false << round(false, layers({})) << usual << false;
    QTest::newRow("nothing selected, smallest window, backwards")
        << MarkList{} << "" << false << round(false, layers({})) << smallest << true;
    QTest::newRow("number selected") << MarkList{number} << "N" << false
                                     << round(false, layers({QStringLiteral("Nummer verringern"),
                                                             QStringLiteral("Nummer erhöhen"),
                                                             QStringLiteral("Markierung entfernen")}))
                                     << usual << false;
    const QStringList arrowRound =
        round(true, layers({QStringLiteral("Linienstärke"), QStringLiteral("Pfeilrichtung umkehren"),
                            QStringLiteral("Nach hinten"), QStringLiteral("Markierung entfernen")}));
    QTest::newRow("arrow above a text box, after an edit")
        << MarkList{text, arrow} << "A" << true << arrowRound << usual << false;
    QTest::newRow("arrow above a text box, after an edit, smallest window")
        << MarkList{text, arrow} << "A" << true << arrowRound << smallest << false;
    QTest::newRow("arrow above a text box, after an edit, smallest window, backwards")
        << MarkList{text, arrow} << "A" << true << arrowRound << smallest << true;
    QTest::newRow("text box below an arrow")
        << MarkList{text, arrow} << "T" << false
        << round(false, layers({QStringLiteral("Text bearbeiten"), QStringLiteral("Nach vorne"),
                                QStringLiteral("Markierung entfernen")}))
        << usual << false;
    QStringList page{QStringLiteral("Ebenen"), QStringLiteral("Text erkennen"),
                     QStringLiteral("Erneut erkennen"), QStringLiteral("Textmarker im Bild")};
    for (const char *color : {"Gelb", "Grün", "Koralle", "Blau", "Violett"})
        page << QStringLiteral("Markerfarbe: ") + QString::fromUtf8(color);
    page << QStringLiteral("Erkannten Text suchen") << QStringLiteral("Erkannter Text: Hallo Welt")
         << QStringLiteral("Kopieren") << QStringLiteral("Markieren");
    QTest::newRow("recognised text, a line picked")
        << MarkList{} << "text" << false << round(false, page) << usual << false;
    QTest::newRow("recognised text, a line picked, smallest window, backwards")
        << MarkList{} << "text" << false << round(false, page) << smallest << true;
}

void TestEditorWindow::tabRoundFollowsTheScreen() {
    QFETCH(MarkList, marks);
    QFETCH(QString, selected);
    QFETCH(bool, edited);
    QFETCH(QStringList, stops);
    QFETCH(QSize, window);
    QFETCH(bool, backwards);
    Editor e(marks, QSize(1000, 500), [] { return std::make_unique<OneLine>(); });
    const QString title =
        QStringLiteral("Anmeldung ").repeated(window == MainWindow::kSize ? 1 : 20).trimmed();
    e.f.store->editSnip(e.snip, [&](Snip &snip) { snip.title = title; });
    atWindowSize(e, window);
    QVERIFY(e.waitForCanvas());
    AnnotationSession *s = e.session();
    if (edited) {
        Mark changed = marks.last();
        changed.color = MarkColor::Coral;
        s->update(changed);
    }
    for (const Mark &m : marks)
        if (m.text == selected)
            s->selectLayer(m.id);
    if (selected == u"text")
        QVERIFY(recognizeAndPickFirstLine(s));
    QVERIFY(activate(e));
    // The inspector shows the selected mark, down to its last control: on screen in a window of
    // the usual size; in the smallest one every control is on screen or beside a scroll bar.
    QTRY_VERIFY_WITH_TIMEOUT(controlNamed(e.workspace.get(), stops.last()), kPatienceMs);
    if (window == MainWindow::kSize) {
        QTRY_VERIFY_WITH_TIMEOUT(shownWhole(controlNamed(e.workspace.get(), stops.last())), kPatienceMs);
    } else {
        // The title ends in "…" where the header's room ends.
        const auto header = [&] {
            for (ElidedLabel *label : e.workspace->findChildren<ElidedLabel *>())
                if (label->text() == title)
                    return label->shownText();
            return QString();
        };
        QTRY_VERIFY_WITH_TIMEOUT(header().endsWith(u'…'), kPatienceMs);
        QCOMPARE(e.workspace->size(), e.workspace->minimumSizeHint().expandedTo(e.workspace->size()));
        const auto unreachable = [&] {
            QStringList names;
            for (const QPointer<QWidget> &control : focusChain(e.workspace.get()))
                if (!reachedByMouse(control))
                    names << spokenName(control);
            return names;
        };
        QTRY_COMPARE_WITH_TIMEOUT(unreachable(), QStringList(), kRepaintMs);
    }

    QStringList visited, faults;
    QList<QWidget *> widgets;
    QList<QImage> focused;
    QImage canvasWithout;
    for (int press = 0; press < 2 * stops.size(); ++press) {
        if (backwards)
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab, Qt::ShiftModifier);
        else
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QWidget *stop = QApplication::focusWidget();
        QVERIFY(stop);
        if (press == 0)
            canvasWithout = drawnAround(e.canvas());
        const QString name = spokenName(stop);
        widgets << stop;
        visited << (name.isEmpty() ? QString::fromLatin1(stop->metaObject()->className()) : name);
        if (name.isEmpty())
            faults << visited.last() + QStringLiteral(" has no name");
        if (!shownWhole(stop))
            faults << visited.last() + QStringLiteral(" is not shown whole");
        focused << drawnAround(stop);
        if (stop == e.canvas())
            break;
    }
    QVERIFY2(widgets.last() == e.canvas(), qPrintable(visited.join(u", ")));
    for (qsizetype i = 0; i < widgets.size(); ++i) {
        const QImage without = widgets[i] == e.canvas() ? canvasWithout : drawnAround(widgets[i]);
        if (clearlyChanged(focused[i], without) < 16)
            faults << visited[i] + QStringLiteral(" shows no focus");
    }
    QVERIFY2(faults.isEmpty(), qPrintable(faults.join(u"; ")));
    if (backwards)
        std::reverse(visited.begin(), visited.end());
    // The round as the screen reads, starting top left.
    const qsizetype first = visited.indexOf(stops.first());
    QVERIFY(first >= 0);
    QCOMPARE(visited.mid(first) + visited.mid(0, first), stops);
}

// Wherever the keyboard is in the editor, Strg+Z, Strg+Umschalt+Z and the Edit menu's
// "Rückgängig" take one step through the marks' history, exactly as on the canvas, and the
// keyboard stays where it was; in a text field they undo and redo its own typing and leave the
// marks alone. The controls are every stop of the focus chain of what the row shows; the text
// form's buttons, in front of the editor, reach nothing behind them.
void TestEditorWindow::historyFromEveryControl_data() {
    QTest::addColumn<QString>("state");   // the selected mark's kind, "" for none, "recognised" (the
                                          // text page with a line picked) or "form" (the text form)
    QTest::addColumn<QString>("command"); // "Z", "ShiftZ" or the menu entry "Rückgängig"
    const QList<QPair<const char *, const char *>> states{
        {"nothing selected", ""},       {"a number selected", "number"},
        {"an arrow selected", "arrow"}, {"a text box selected", "text"},
        {"a blur selected", "blur"},    {"recognised text, a line picked", "recognised"},
        {"the text form open", "form"}};
    for (const auto &[title, state] : states)
        for (const char *command : {"Z", "ShiftZ", "Rückgängig"})
            QTest::addRow("%s, %s", title, command)
                << QString::fromLatin1(state) << QString::fromUtf8(command);
}

void TestEditorWindow::historyFromEveryControl() {
    QFETCH(QString, state);
    QFETCH(QString, command);
    const MarkKind kind = state == u"number"  ? MarkKind::Number
                          : state == u"arrow" ? MarkKind::Arrow
                          : state == u"blur"  ? MarkKind::Blur
                                              : MarkKind::Text;
    Mark selected = named(kind, QStringLiteral("S"));
    if (kind == MarkKind::Number)
        selected.number = 1;
    Editor e({selected}, QSize(1000, 500), [] { return std::make_unique<OneLine>(); });
    QMenu edit;
    AppMenus::buildEditMenu(&edit);
    e.workspace->addActions(edit.actions());
    QAction *undoEntry = edit.actions().first();
    QCOMPARE(undoEntry->text(), QStringLiteral("Rückgängig"));
    atDefaultWindowSize(e);
    QVERIFY(e.waitForCanvas());
    AnnotationSession *s = e.session();
    // Four lines added one by one, two of them undone: a step either way keeps both possible.
    QStringList steps;
    for (const char *line : {"L1", "L2", "L3", "L4"}) {
        s->replace(e.marks() << named(MarkKind::Line, QString::fromLatin1(line)));
        steps << names(e.marks());
    }
    s->undo();
    s->undo();
    const QString undone = steps[0], now = steps[1], redone = steps[2];
    QCOMPARE(names(e.marks()), now);
    if (!state.isEmpty() && state != u"recognised")
        s->selectLayer(selected.id);
    if (state == u"recognised")
        QVERIFY(recognizeAndPickFirstLine(s));
    QVERIFY(activate(e));
    QWidget *window = e.workspace.get();
    if (state == u"form") {
        s->editText(selected);
        QTRY_VERIFY_WITH_TIMEOUT(e.workspace->textEditor(), kPatienceMs);
        window = e.workspace->textEditor();
        QVERIFY(QTest::qWaitForWindowActive(window, kPatienceMs));
    }
    QCoreApplication::sendPostedEvents();
    QCoreApplication::processEvents();

    const QList<QPointer<QWidget>> controls = focusChain(window);
    QVERIFY(controls.size() >= (window == e.workspace.get() ? 25 : 3));
    // The picked line brings its own buttons into the round.
    if (state == u"recognised")
        QVERIFY(std::any_of(controls.cbegin(), controls.cend(), [](const QPointer<QWidget> &control) {
            return spokenName(control) == u"Kopieren";
        }));
    QStringList faults;
    int fields = 0;
    for (const QPointer<QWidget> &control : controls) {
        // Typing a search drops the picked line; it comes back for the controls that show it.
        if (state == u"recognised")
            pickFirstLine(s);
        QCoreApplication::processEvents();
        QVERIFY(control && control->isVisible() && control->isEnabled());
        control->setFocus(Qt::TabFocusReason);
        QTRY_VERIFY_WITH_TIMEOUT(control->hasFocus(), kPatienceMs);
        const QString name =
            spokenName(control) + u'/' + QString::fromLatin1(control->metaObject()->className());
        const bool field = qobject_cast<QLineEdit *>(control) || qobject_cast<QPlainTextEdit *>(control);
        const QString before = typedText(control);
        if (field) {
            ++fields;
            QTest::keyClicks(control, QStringLiteral("Hal"));
            if (command == u"ShiftZ")
                QMetaObject::invokeMethod(control, "undo");
        }
        const bool answered = undoEntry->isEnabled();
        if (command == u"Rückgängig") {
            undoEntry->trigger();
        } else {
            QTest::keyClick(window->windowHandle(), Qt::Key_Z,
                            command == u"Z" ? Qt::ControlModifier : Qt::ControlModifier | Qt::ShiftModifier);
        }
        QCoreApplication::processEvents();
        // The editor's own controls act on the marks; a text field and the form's buttons do not.
        const bool marks = !field && window == e.workspace.get();
        const QString expected = !marks ? now : command == u"ShiftZ" ? redone : undone;
        if (names(e.marks()) != expected)
            faults << name + QStringLiteral(": ") + names(e.marks());
        if (answered != (marks || field))
            faults << name + QStringLiteral(": menu entry ") +
                          (answered ? QStringLiteral("enabled") : QStringLiteral("disabled"));
        if (field && typedText(control) != (command == u"ShiftZ" ? before + QStringLiteral("Hal") : before))
            faults << name + QStringLiteral(" reads ") + typedText(control);
        if (QApplication::focusWidget() != control)
            faults << name + QStringLiteral(" lost the keyboard");
        // Back to where the next control starts.
        if (marks)
            command == u"ShiftZ" ? s->undo() : s->redo();
        if (field && command == u"ShiftZ")
            QMetaObject::invokeMethod(control, "undo");
        QCOMPARE(names(e.marks()), now);
    }
    QVERIFY2(faults.isEmpty(), qPrintable(faults.join(u"; ")));
    QCOMPARE(fields, state == u"recognised" || state == u"form" ? 1 : 0);
}

QTEST_MAIN(TestEditorWindow)
#include "tst_editorwindow.moc"
