#include "EditorTestSupport.h"

#include <QApplication>
#include <QMenu>
#include <QScreen>
#include <QTest>
#include <QToolButton>
#include <QWheelEvent>

// The mark editor in a window on a real X server, as a user meets it.
class TestEditorWindow : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void zoomingOutLeavesOnlyTheImage_data();
    void zoomingOutLeavesOnlyTheImage();
};

namespace {
constexpr int kPatienceMs = 20'000;
// A repaint that has not arrived after this never will: leftovers stay until something else
// covers them.
constexpr int kRepaintMs = 5'000;

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

QTEST_MAIN(TestEditorWindow)
#include "tst_editorwindow.moc"
