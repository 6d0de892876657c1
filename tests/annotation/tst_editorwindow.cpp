#include "CanvasTestSupport.h"
#include "EditorTestSupport.h"
#include "support/MarkTestSupport.h"

#include "annotation/LayerInspector.h"
#include "shell/AppMenus.h"

#include <QApplication>
#include <QMenu>
#include <QScreen>
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
};

namespace {
constexpr int kPatienceMs = 20'000;
// A repaint that has not arrived after this never will: leftovers stay until something else
// covers them.
constexpr int kRepaintMs = 5'000;

Mark named(MarkKind kind, const QString &name) {
    Mark m = mk(kind, 0.1, 0.1, 0.3, 0.3);
    m.text = name;
    return m;
}

QString names(const MarkList &marks) {
    QStringList list;
    for (const Mark &m : marks)
        list << m.text.value_or(QStringLiteral("?"));
    return list.join(u' ');
}

QToolButton *toolButton(QWidget *in, const QString &name) {
    for (QToolButton *button : in->findChildren<QToolButton *>())
        if (button->accessibleName() == name)
            return button;
    return nullptr;
}

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

bool activate(Editor &e) {
    e.workspace->activateWindow();
    if (!QTest::qWaitForWindowActive(e.workspace.get(), kPatienceMs))
        return false;
    e.canvas()->setFocus();
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
// that row's place in the stacking order, within its own layer group.
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
}

// With the canvas focused, the Edit menu's "Rückgängig" steps back through the editor's history,
// one step per command, as Ctrl+Z does beside it; Ctrl+Shift+Z beside the menu redoes one step.
void TestEditorWindow::editMenuReachesTheCanvas_data() {
    QTest::addColumn<QString>("steps"); // menu entries by title, "Z" and "ShiftZ" keys, "press"
    QTest::addColumn<QString>("shown"); // and "release" of a rectangle drag on the canvas
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
}

void TestEditorWindow::editMenuReachesTheCanvas() {
    QFETCH(QString, steps);
    QFETCH(QString, shown);
    Editor e;
    QMenu edit;
    AppMenus::buildEditMenu(&edit);
    // In the main window the menu bar holds them; here the editor's window does.
    e.workspace->addActions(edit.actions());
    QVERIFY(e.waitForCanvas());
    AnnotationSession *s = e.session();
    s->replace({named(MarkKind::Arrow, QStringLiteral("A"))});
    s->replace(e.marks() << named(MarkKind::Line, QStringLiteral("L")));
    QVERIFY(activate(e));

    for (const QString &step : steps.split(u' ')) {
        if (step == u"Z" || step == u"ShiftZ") {
            QTest::keyClick(e.canvas(), Qt::Key_Z,
                            step == u"Z" ? Qt::ControlModifier : Qt::ControlModifier | Qt::ShiftModifier);
        } else if (step == u"press") {
            s->chooseTool(MarkKind::Rectangle);
            QCoreApplication::processEvents();
            QVERIFY(e.canvas()->hasFocus());
            sendMouse(e.canvas(), QEvent::MouseButtonPress, e.at(0.5, 0.5), Qt::LeftButton, Qt::LeftButton);
            sendMouse(e.canvas(), QEvent::MouseMove, e.at(0.8, 0.8), Qt::NoButton, Qt::LeftButton);
        } else if (step == u"release") {
            sendMouse(e.canvas(), QEvent::MouseButtonRelease, e.at(0.8, 0.8), Qt::LeftButton, Qt::NoButton);
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

QTEST_MAIN(TestEditorWindow)
#include "tst_editorwindow.moc"
