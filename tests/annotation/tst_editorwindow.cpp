#include "CanvasTestSupport.h"
#include "EditorTestSupport.h"
#include "support/MarkTestSupport.h"

#include "annotation/LayerInspector.h"
#include "shell/AppMenus.h"
#include "shell/MainWindow.h"

#include <QAccessible>
#include <QApplication>
#include <QMenu>
#include <QMenuBar>
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

// The room the editor has in a main window of the default size, below its menu bar.
void atDefaultWindowSize(Editor &e) {
    QMenuBar bar;
    bar.addMenu(QStringLiteral("Bearbeiten"));
    e.workspace->resize(MainWindow::kSize - QSize(0, bar.sizeHint().height()));
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
    const auto rowOf = [&](const QString &name) {
        for (int row = 0; row < list->count(); ++row)
            if (list->item(row)->text() == name)
                return list->visualItemRect(list->item(row));
        return QRect();
    };
    QWidget *rows = list->viewport();
    const QPoint from = rowOf(dragged).center() - QPoint(0, 6);
    const QPoint to = rowOf(target).center();
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
    const auto heard = [&] {
        QStringList rows;
        for (QAccessibleInterface *cell :
             QAccessible::queryAccessibleInterface(list)->tableInterface()->selectedCells())
            rows << cell->text(QAccessible::Name);
        return rows;
    };
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
// A click on a control of the tool column, the zoom bar or the inspector leaves the keyboard with
// the canvas, and nothing under the pointer moves while it clicks.
void TestEditorWindow::editMenuReachesTheCanvas_data() {
    QTest::addColumn<QString>("steps"); // menu entries by title, "Z" and "ShiftZ" keys, "press"
    QTest::addColumn<QString>("shown"); // and "release" of a rectangle drag on the canvas, "number"
                                        // (a number mark added and selected), "click=NAME" (a mouse
                                        // click on the control named NAME, "_" for a space)
    QTest::newRow("Rückgängig") << "Rückgängig"
                                << "A";
    QTest::newRow("Rückgängig twice") << "Rückgängig Rückgängig"
                                      << "";
    QTest::newRow("Ctrl+Z, one step") << "Z"
                                      << "A";
    QTest::newRow("Ctrl+Shift+Z, one step") << "Rückgängig Rückgängig ShiftZ"
                                            << "A";
    QTest::newRow("a drawing in progress is dropped") << "press Rückgängig release"
                                                      << "A";
    QTest::newRow("Auswählen clicked, then Ctrl+Z") << "click=Auswählen Z"
                                                    << "A";
    QTest::newRow("Hand clicked, then Rückgängig") << "click=Hand_·_Ansicht_verschieben Rückgängig"
                                                   << "A";
    QTest::newRow("zoom bar clicked, then Ctrl+Z") << "click=Vergrößern click=Einpassen Z"
                                                   << "A";
    QTest::newRow("colour clicked, then Rückgängig") << "click=Farbe:_Koralle Rückgängig"
                                                     << "A";
    QTest::newRow("number stepper clicked three times, then Ctrl+Z")
        << "number click=Nummer_erhöhen click=Nummer_erhöhen click=Nummer_erhöhen Z"
        << "A L N#3";
}

void TestEditorWindow::editMenuReachesTheCanvas() {
    QFETCH(QString, steps);
    QFETCH(QString, shown);
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

    QHash<QString, QPoint> clickedAt;
    for (const QString &step : steps.split(u' ')) {
        if (step == u"Z" || step == u"ShiftZ") {
            // As typed: to whatever has the keyboard, menu shortcuts included.
            QTest::keyClick(e.workspace->windowHandle(), Qt::Key_Z,
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
        } else {
            QAction *entry = nullptr;
            for (QAction *action : edit.actions())
                if (action->text() == step)
                    entry = action;
            QVERIFY(entry);
            entry->trigger();
        }
    }
    QCOMPARE(names(e.marks()), shown);
    QCOMPARE(names(e.f.store->current()->items.first().marks), shown);
}

// One Tab round: each stop is a control the user sees whole, named for screen readers, drawn
// differently while it has the keyboard, and the stops come in the order of the screen: header,
// tool column, image, zoom bar, inspector.
void TestEditorWindow::tabRoundFollowsTheScreen_data() {
    QTest::addColumn<MarkList>("marks");
    QTest::addColumn<QString>("selected"); // a mark's name, "text" for the recognised-text page
    QTest::addColumn<bool>("edited");      // one step to undo
    QTest::addColumn<QStringList>("stops");
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
    QTest::newRow("nothing selected") << MarkList{} << "" << false << round(false, layers({}));
    QTest::newRow("number selected") << MarkList{number} << "N" << false
                                     << round(false, layers({QStringLiteral("Nummer verringern"),
                                                             QStringLiteral("Nummer erhöhen"),
                                                             QStringLiteral("Markierung entfernen")}));
    QTest::newRow("arrow above a text box, after an edit")
        << MarkList{text, arrow} << "A" << true
        << round(true, layers({QStringLiteral("Linienstärke"), QStringLiteral("Pfeilrichtung umkehren"),
                               QStringLiteral("Nach hinten"), QStringLiteral("Markierung entfernen")}));
    QTest::newRow("text box below an arrow")
        << MarkList{text, arrow} << "T" << false
        << round(false, layers({QStringLiteral("Text bearbeiten"), QStringLiteral("Nach vorne"),
                                QStringLiteral("Markierung entfernen")}));
    QStringList page{QStringLiteral("Ebenen"), QStringLiteral("Text erkennen"),
                     QStringLiteral("Erneut erkennen"), QStringLiteral("Textmarker im Bild")};
    for (const char *color : {"Gelb", "Grün", "Koralle", "Blau", "Violett"})
        page << QStringLiteral("Markerfarbe: ") + QString::fromUtf8(color);
    page << QStringLiteral("Erkannten Text suchen") << QStringLiteral("Erkannter Text: Hallo Welt")
         << QStringLiteral("Kopieren") << QStringLiteral("Markieren");
    QTest::newRow("recognised text, a line picked") << MarkList{} << "text" << false << round(false, page);
}

void TestEditorWindow::tabRoundFollowsTheScreen() {
    QFETCH(MarkList, marks);
    QFETCH(QString, selected);
    QFETCH(bool, edited);
    QFETCH(QStringList, stops);
    Editor e(marks, QSize(1000, 500), [] { return std::make_unique<OneLine>(); });
    atDefaultWindowSize(e);
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
    if (selected == u"text") {
        s->recognizeText();
        QTRY_VERIFY_WITH_TIMEOUT(!s->recognition()->lines().isEmpty(), kPatienceMs);
        s->selectRecognizedLine(s->recognition()->lines().first().id);
    }
    QVERIFY(activate(e));
    // The inspector shows the selected mark, down to its last control.
    QTRY_VERIFY_WITH_TIMEOUT(shownWhole(controlNamed(e.workspace.get(), stops.last())), kPatienceMs);

    QStringList visited, faults;
    QList<QWidget *> widgets;
    QList<QImage> focused;
    QImage canvasWithout;
    for (int press = 0; press < 2 * stops.size(); ++press) {
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
    // The round as the screen reads, starting top left.
    const qsizetype first = visited.indexOf(stops.first());
    QVERIFY(first >= 0);
    QCOMPARE(visited.mid(first) + visited.mid(0, first), stops);
}

QTEST_MAIN(TestEditorWindow)
#include "tst_editorwindow.moc"
