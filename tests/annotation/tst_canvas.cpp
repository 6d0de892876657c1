#include "CanvasTestSupport.h"
#include "support/MarkTestSupport.h"

#include "annotation/AnnotationCanvas.h"
#include "export/BlurRenderer.h"
#include "export/MarkRenderer.h"
#include "model/MarkGeometry.h"

#include <QAction>
#include <QMainWindow>
#include <QMenuBar>
#include <QPainter>
#include <QTest>

#include <cmath>
#include <memory>

class TestCanvas : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void drawing_data();
    void drawing();
    void pressOnMark_data();
    void pressOnMark();
    void ignoredInput();
    void cursors_data();
    void cursors();
    void toolChangeDropsDraft();
    void handleBeatsMarkOnTop();
    void clickSelectsWithoutUpdate_data();
    void clickSelectsWithoutUpdate();
    void doubleClick_data();
    void doubleClick();
    void numbers_data();
    void numbers();
    void textBoxes_data();
    void textBoxes();
    void textMarker();
    void keys_data();
    void keys();
    void undoKeysWithMenuAction();
    void callbackReplacesConfiguration();
    void grabMatchesRenderer_data();
    void grabMatchesRenderer();
    void framesFollowChanges();
    void resizedFrameSettles();
    void zoomDrawsOffThePaintPath_data();
    void zoomDrawsOffThePaintPath();
    void readOnly();
    void blurCache();
    void rendererExtents();
};

namespace {
constexpr QSize kCanvas(400, 200);

struct Fixture {
    Recorder recorder;
    std::unique_ptr<AnnotationCanvas> canvas;
    explicit Fixture(MarkList marks, std::optional<MarkKind> tool = {}, QSize image = kCanvas) {
        canvas = std::make_unique<AnnotationCanvas>(
            recording(recorder, pattern(image.width(), image.height()), std::move(marks), tool));
        canvas->resize(kCanvas);
    }
    void select(const Mark &mark) {
        AnnotatedCapture c = canvas->configuration();
        c.selection = mark.id;
        canvas->setConfiguration(c);
    }
};

QPointF at(double x, double y) {
    return {x * kCanvas.width(), y * kCanvas.height()};
}

bool near(double a, double b, double eps = 1e-9) {
    return std::abs(a - b) <= eps;
}

QRectF span(const Mark &m) {
    return QRectF(QPointF(m.x1, m.y1), QPointF(m.x2, m.y2));
}

bool nearRect(const QRectF &a, const QRectF &b, double eps = 1e-9) {
    return near(a.left(), b.left(), eps) && near(a.top(), b.top(), eps) && near(a.right(), b.right(), eps) &&
           near(a.bottom(), b.bottom(), eps);
}

int largestDifference(const QImage &a, const QImage &b, QPoint *where = nullptr) {
    const QImage x = a.convertToFormat(QImage::Format_RGB32), y = b.convertToFormat(QImage::Format_RGB32);
    int worst = 0;
    for (int row = 0; row < x.height(); ++row)
        for (int col = 0; col < x.width(); ++col) {
            const QRgb p = x.pixel(col, row), q = y.pixel(col, row);
            const int d = std::max({std::abs(qRed(p) - qRed(q)), std::abs(qGreen(p) - qGreen(q)),
                                    std::abs(qBlue(p) - qBlue(q))});
            if (d > worst) {
                worst = d;
                if (where)
                    *where = QPoint(col, row);
            }
        }
    return worst;
}
} // namespace

// Drawing with each tool from one point to another (in canvas points), and whether it adds a mark.
void TestCanvas::drawing_data() {
    QTest::addColumn<int>("tool");
    QTest::addColumn<QPointF>("from");
    QTest::addColumn<QPointF>("to");
    QTest::addColumn<bool>("shift");
    QTest::addColumn<QRectF>("expected"); // x1, y1 → x2, y2; empty: nothing added

    const auto k = [](MarkKind kind) { return int(kind); };
    QTest::newRow("rectangle 3 × 50 adds nothing")
        << k(MarkKind::Rectangle) << QPointF(100, 50) << QPointF(103, 100) << false << QRectF();
    QTest::newRow("line 3 × 50 adds a line") << k(MarkKind::Line) << QPointF(100, 50) << QPointF(103, 100)
                                             << false << QRectF(QPointF(0.25, 0.25), QPointF(0.2575, 0.5));
    QTest::newRow("arrow click adds nothing")
        << k(MarkKind::Arrow) << QPointF(100, 50) << QPointF(102, 52) << false << QRectF();
    QTest::newRow("arrow keeps its direction") << k(MarkKind::Arrow) << QPointF(300, 150) << QPointF(100, 50)
                                               << false << QRectF(QPointF(0.75, 0.75), QPointF(0.25, 0.25));
    QTest::newRow("rectangle beyond the edge is clamped")
        << k(MarkKind::Rectangle) << QPointF(300, 100) << QPointF(500, 260) << false
        << QRectF(QPointF(0.75, 0.5), QPointF(1, 1));
    QTest::newRow("shift ellipse near the right edge: side limited by the room")
        << k(MarkKind::Ellipse) << QPointF(380, 50) << QPointF(400, 150) << true
        << QRectF(QPointF(0.95, 0.25), QPointF(1, 0.35));
    QTest::newRow("shift rectangle up and left: the larger side")
        << k(MarkKind::FilledRectangle) << QPointF(200, 150) << QPointF(180, 100) << true
        << QRectF(QPointF(0.5, 0.75), QPointF(0.375, 0.5));
    QTest::newRow("shift leaves a line alone") << k(MarkKind::Line) << QPointF(0, 0) << QPointF(100, 20)
                                               << true << QRectF(QPointF(0, 0), QPointF(0.25, 0.1));
    QTest::newRow("blur 4 × 4 is enough") << k(MarkKind::Blur) << QPointF(10, 10) << QPointF(14, 14) << false
                                          << QRectF(QPointF(0.025, 0.05), QPointF(0.035, 0.07));
    QTest::newRow("highlight 4 × 3 is not")
        << k(MarkKind::Highlight) << QPointF(10, 10) << QPointF(14, 13) << false << QRectF();
    QTest::newRow("cloud") << k(MarkKind::Cloud) << QPointF(40, 20) << QPointF(120, 100) << false
                           << QRectF(QPointF(0.1, 0.1), QPointF(0.3, 0.5));
    QTest::newRow("filled ellipse") << k(MarkKind::FilledEllipse) << QPointF(200, 40) << QPointF(280, 180)
                                    << false << QRectF(QPointF(0.5, 0.2), QPointF(0.7, 0.9));
    QTest::newRow("redaction") << k(MarkKind::Redact) << QPointF(360, 160) << QPointF(320, 120) << false
                               << QRectF(QPointF(0.9, 0.8), QPointF(0.8, 0.6));
}

void TestCanvas::drawing() {
    QFETCH(int, tool);
    QFETCH(QPointF, from);
    QFETCH(QPointF, to);
    QFETCH(bool, shift);
    QFETCH(QRectF, expected);
    Fixture f({}, MarkKind(tool));
    AnnotatedCapture c = f.canvas->configuration();
    c.drawingColor = MarkColor::Green;
    c.drawingWidth = 8;
    c.drawingBlurRadius = 32;
    f.canvas->setConfiguration(c);

    drag(f.canvas.get(), from, to, shift ? Qt::ShiftModifier : Qt::NoModifier);
    if (expected.isNull()) {
        QCOMPARE(f.recorder.edits(), QStringList());
        return;
    }
    QCOMPARE(f.recorder.edits(), QStringList{QStringLiteral("add")});
    const Mark &m = f.recorder.added.first();
    QCOMPARE(m.kind, MarkKind(tool));
    QVERIFY2(nearRect(span(m), expected),
             qPrintable(QStringLiteral("%1 %2 %3 %4").arg(m.x1).arg(m.y1).arg(m.x2).arg(m.y2)));
    QCOMPARE(m.color, MarkColor::Green);
    QCOMPARE(m.strokeWidth, 8.0);
    QCOMPARE(m.blurRadius, MarkKind(tool) == MarkKind::Blur ? std::optional<double>(32) : std::nullopt);
    QVERIFY(!m.fixedTextBox && !m.text && !m.number);
    // The press itself cleared the selection.
    QCOMPARE(f.recorder.selections, QList<std::optional<QUuid>>{std::nullopt});
}

// A press on an existing mark moves it whatever the tool; Alt or Ctrl draws over it instead.
void TestCanvas::pressOnMark_data() {
    QTest::addColumn<int>("tool"); // -1: none
    QTest::addColumn<int>("modifiers");
    QTest::addColumn<QString>("outcome");
    QTest::newRow("rectangle tool moves") << int(MarkKind::Rectangle) << 0 << "update";
    QTest::newRow("no tool moves") << -1 << 0 << "update";
    QTest::newRow("alt draws") << int(MarkKind::Rectangle) << int(Qt::AltModifier) << "add";
    QTest::newRow("alt and shift draw")
        << int(MarkKind::Rectangle) << int(Qt::AltModifier | Qt::ShiftModifier) << "add";
    QTest::newRow("ctrl draws") << int(MarkKind::Rectangle) << int(Qt::ControlModifier) << "add";
    QTest::newRow("alt without a tool only deselects") << -1 << int(Qt::AltModifier) << "";
}

void TestCanvas::pressOnMark() {
    QFETCH(int, tool);
    QFETCH(int, modifiers);
    QFETCH(QString, outcome);
    const Mark box = mk(MarkKind::FilledRectangle, 0.2, 0.2, 0.6, 0.8);
    Fixture f({box}, tool < 0 ? std::nullopt : std::optional<MarkKind>(MarkKind(tool)));
    drag(f.canvas.get(), at(0.4, 0.5), at(0.5, 0.6), Qt::KeyboardModifiers(modifiers));
    QCOMPARE(f.recorder.edits().join(u' '), outcome);
    if (outcome == QStringLiteral("update")) {
        const Mark &moved = f.recorder.updated.first();
        QCOMPARE(moved.id, box.id);
        QVERIFY(nearRect(span(moved), QRectF(QPointF(0.3, 0.3), QPointF(0.7, 0.9))));
        QCOMPARE(f.recorder.selections.first(), std::optional<QUuid>(box.id));
    } else {
        QCOMPARE(f.recorder.selections.first(), std::optional<QUuid>());
    }
}

// Right and middle buttons and plain pointer moves never edit.
void TestCanvas::ignoredInput() {
    const Mark box = mk(MarkKind::FilledRectangle, 0.2, 0.2, 0.6, 0.8);
    Fixture f({box}, MarkKind::Rectangle);
    f.select(box);
    drag(f.canvas.get(), at(0.4, 0.5), at(0.9, 0.9), {}, Qt::RightButton);
    drag(f.canvas.get(), at(0.1, 0.1), at(0.9, 0.9), {}, Qt::MiddleButton);
    sendMouse(f.canvas.get(), QEvent::MouseMove, at(0.4, 0.5), Qt::NoButton, Qt::NoButton);
    sendMouse(f.canvas.get(), QEvent::MouseMove, at(0.9, 0.9), Qt::NoButton, Qt::NoButton);
    QCOMPARE(f.recorder.calls, QStringList());
    QCOMPARE(f.canvas->cursor().shape(), Qt::CrossCursor);
}

void TestCanvas::cursors_data() {
    QTest::addColumn<int>("tool"); // -1: none
    QTest::addColumn<bool>("panning");
    QTest::addColumn<QPointF>("pointer");
    QTest::addColumn<int>("shape");
    QTest::newRow("select") << -1 << false << at(0.8, 0.8) << int(Qt::ArrowCursor);
    QTest::newRow("drawing tool") << int(MarkKind::Cloud) << false << at(0.8, 0.8) << int(Qt::CrossCursor);
    QTest::newRow("over a recognised line")
        << int(MarkKind::Cloud) << false << at(0.2, 0.2) << int(Qt::IBeamCursor);
    QTest::newRow("hand over a line") << -1 << true << at(0.2, 0.2) << int(Qt::OpenHandCursor);
    QTest::newRow("hand elsewhere") << int(MarkKind::Cloud) << true << at(0.8, 0.8)
                                    << int(Qt::OpenHandCursor);
}

void TestCanvas::cursors() {
    QFETCH(int, tool);
    QFETCH(bool, panning);
    QFETCH(QPointF, pointer);
    QFETCH(int, shape);
    Fixture f({}, tool < 0 ? std::nullopt : std::optional<MarkKind>(MarkKind(tool)));
    AnnotatedCapture c = f.canvas->configuration();
    c.recognizedLines = {RecognizedTextLine(QStringLiteral("Zeile"), QRectF(0.1, 0.1, 0.3, 0.2))};
    f.canvas->setConfiguration(c);
    f.canvas->setPanning(panning);
    sendMouse(f.canvas.get(), QEvent::MouseMove, pointer, Qt::NoButton, Qt::NoButton);
    QCOMPARE(int(f.canvas->cursor().shape()), shape);
}

void TestCanvas::toolChangeDropsDraft() {
    Fixture f({}, MarkKind::Rectangle);
    QWidget *w = f.canvas.get();
    sendMouse(w, QEvent::MouseButtonPress, at(0.1, 0.1), Qt::LeftButton, Qt::LeftButton);
    sendMouse(w, QEvent::MouseMove, at(0.5, 0.5), Qt::NoButton, Qt::LeftButton);
    // An update with the same tool keeps the gesture.
    f.canvas->setConfiguration(f.canvas->configuration());
    sendMouse(w, QEvent::MouseButtonRelease, at(0.5, 0.5), Qt::LeftButton, Qt::NoButton);
    QCOMPARE(f.recorder.edits(), QStringList{QStringLiteral("add")});

    sendMouse(w, QEvent::MouseButtonPress, at(0.1, 0.1), Qt::LeftButton, Qt::LeftButton);
    sendMouse(w, QEvent::MouseMove, at(0.5, 0.5), Qt::NoButton, Qt::LeftButton);
    AnnotatedCapture c = f.canvas->configuration();
    c.tool = MarkKind::Ellipse;
    f.canvas->setConfiguration(c);
    sendMouse(w, QEvent::MouseMove, at(0.6, 0.6), Qt::NoButton, Qt::LeftButton);
    sendMouse(w, QEvent::MouseButtonRelease, at(0.6, 0.6), Qt::LeftButton, Qt::NoButton);
    QCOMPARE(f.recorder.edits(), QStringList{QStringLiteral("add")});
}

// The selected mark's handle wins over a mark drawn on top of it; unselected handles do nothing.
void TestCanvas::handleBeatsMarkOnTop() {
    const Mark below = mk(MarkKind::Arrow, 0.1, 0.1, 0.5, 0.5);
    const Mark top = mk(MarkKind::FilledRectangle, 0.4, 0.4, 0.9, 0.9);
    Fixture f({below, top});
    f.select(below);
    drag(f.canvas.get(), at(0.5, 0.5), at(0.3, 0.8));
    QCOMPARE(f.recorder.edits(), QStringList{QStringLiteral("update")});
    QCOMPARE(f.recorder.updated.first().id, below.id);
    QVERIFY(nearRect(span(f.recorder.updated.first()), QRectF(QPointF(0.1, 0.1), QPointF(0.3, 0.8))));

    Fixture g({below, top});
    drag(g.canvas.get(), at(0.5, 0.5), at(0.55, 0.55));
    QCOMPARE(g.recorder.updated.first().id, top.id);
}

// A press and release at one point only selects, whatever lies under it.
void TestCanvas::clickSelectsWithoutUpdate_data() {
    QTest::addColumn<int>("kind");
    QTest::addColumn<bool>("selectedFirst");
    QTest::addColumn<QPointF>("press");
    QTest::addColumn<QPointF>("via"); // where the pointer goes in between
    QTest::newRow("highlight") << int(MarkKind::Highlight) << false << at(0.3, 0.3) << at(0.3, 0.3);
    QTest::newRow("callout with its default tip")
        << int(MarkKind::Callout) << false << at(0.3, 0.3) << at(0.3, 0.3);
    QTest::newRow("beside the end handle")
        << int(MarkKind::Arrow) << true << at(0.6, 0.8) + QPointF(5, -3) << at(0.6, 0.8) + QPointF(5, -3);
    QTest::newRow("dragged away and back")
        << int(MarkKind::Highlight) << false << at(0.3, 0.3) << at(0.7, 0.7);
}

void TestCanvas::clickSelectsWithoutUpdate() {
    QFETCH(int, kind);
    QFETCH(bool, selectedFirst);
    QFETCH(QPointF, press);
    QFETCH(QPointF, via);
    const Mark mark = mk(MarkKind(kind), 0.2, 0.2, 0.6, 0.8);
    Fixture f({mark});
    if (selectedFirst)
        f.select(mark);
    QWidget *w = f.canvas.get();
    sendMouse(w, QEvent::MouseButtonPress, press, Qt::LeftButton, Qt::LeftButton);
    sendMouse(w, QEvent::MouseMove, via, Qt::NoButton, Qt::LeftButton);
    sendMouse(w, QEvent::MouseMove, press, Qt::NoButton, Qt::LeftButton);
    sendMouse(w, QEvent::MouseButtonRelease, press, Qt::LeftButton, Qt::NoButton);
    QCOMPARE(f.recorder.edits(), QStringList());
    QCOMPARE(f.recorder.selections, QList<std::optional<QUuid>>(selectedFirst ? 0 : 1, mark.id));
}

void TestCanvas::doubleClick_data() {
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("edits");
    QTest::newRow("text box opens the editor") << int(MarkKind::Text) << "edit";
    QTest::newRow("callout opens the editor") << int(MarkKind::Callout) << "edit";
    QTest::newRow("arrow is only pressed twice") << int(MarkKind::Arrow) << "";
}

void TestCanvas::doubleClick() {
    QFETCH(int, kind);
    QFETCH(QString, edits);
    Mark mark = mk(MarkKind(kind), 0.2, 0.2, 0.6, 0.6);
    mark.text = QStringLiteral("Hallo");
    Fixture f({mark});
    doubleClickAt(f.canvas.get(), at(0.4, 0.4));
    QCOMPARE(f.recorder.edits().join(u' '), edits);
    if (!edits.isEmpty())
        QCOMPARE(f.recorder.edited.first(), mark);
    // A drag after the double-click would have moved the mark only if the gesture went on.
    sendMouse(f.canvas.get(), QEvent::MouseMove, at(0.5, 0.5), Qt::NoButton, Qt::LeftButton);
    sendMouse(f.canvas.get(), QEvent::MouseButtonRelease, at(0.5, 0.5), Qt::LeftButton, Qt::NoButton);
    QCOMPARE(f.recorder.count(QStringLiteral("update")), 0);
}

// Number discs are sized from the image (not the canvas), centred on the press, kept inside.
void TestCanvas::numbers_data() {
    QTest::addColumn<QPointF>("press");
    QTest::addColumn<MarkList>("marks");
    QTest::addColumn<QRectF>("expected");
    QTest::addColumn<qint64>("number");
    Mark seven = mk(MarkKind::Number, 0.8, 0.8, 0.85, 0.9);
    seven.number = 7;
    Mark arrow = mk(MarkKind::Arrow, 0, 0, 1, 1);
    // 1000 × 400 image: a disc of 50 image pixels, 0.05 × 0.125.
    QTest::newRow("centre") << QPointF(0.5, 0.5) << MarkList{}
                            << QRectF(QPointF(0.475, 0.4375), QPointF(0.525, 0.5625)) << qint64(1);
    QTest::newRow("pushed in at the top left") << QPointF(0.01, 0.01) << MarkList{seven, arrow}
                                               << QRectF(QPointF(0, 0), QPointF(0.05, 0.125)) << qint64(8);
    QTest::newRow("pushed in at the bottom right")
        << QPointF(1, 1) << MarkList{arrow} << QRectF(QPointF(0.95, 0.875), QPointF(1, 1)) << qint64(1);
}

void TestCanvas::numbers() {
    QFETCH(QPointF, press);
    QFETCH(MarkList, marks);
    QFETCH(QRectF, expected);
    QFETCH(qint64, number);
    Fixture f(marks, MarkKind::Number, QSize(1000, 400));
    // The release point does not matter, and neither does a mark under the press.
    drag(f.canvas.get(), at(press.x(), press.y()), at(0.3, 0.3));
    QCOMPARE(f.recorder.edits(), QStringList{QStringLiteral("add")});
    const Mark &m = f.recorder.added.first();
    QVERIFY2(nearRect(span(m), expected, 1e-12),
             qPrintable(QStringLiteral("%1 %2 %3 %4").arg(m.x1).arg(m.y1).arg(m.x2).arg(m.y2)));
    QCOMPARE(m.number, number);
    QCOMPARE(m.color, MarkColor::Blue);
}

void TestCanvas::textBoxes_data() {
    QTest::addColumn<int>("kind");
    QTest::addColumn<QPointF>("from");
    QTest::addColumn<QPointF>("to");
    QTest::addColumn<QRectF>("expected"); // empty: nothing added
    QTest::addColumn<QPointF>("tip");     // callouts only
    QTest::newRow("click places the default box")
        << int(MarkKind::Text) << QPointF(40, 20) << QPointF(41, 21)
        << QRectF(QPointF(0.1, 0.1), QPointF(0.5, 0.28)) << QPointF();
    QTest::newRow("click in the corner keeps it inside")
        << int(MarkKind::Text) << QPointF(399, 199) << QPointF(399, 199)
        << QRectF(QPointF(0.6, 0.82), QPointF(1, 1)) << QPointF();
    QTest::newRow("callout in the corner points up")
        << int(MarkKind::Callout) << QPointF(399, 199) << QPointF(399, 199)
        << QRectF(QPointF(0.6, 0.82), QPointF(1, 1)) << QPointF(0.8, 0.67);
    QTest::newRow("callout above points down")
        << int(MarkKind::Callout) << QPointF(40, 20) << QPointF(200, 100)
        << QRectF(QPointF(0.1, 0.1), QPointF(0.5, 0.5)) << QPointF(0.3, 0.65);
    QTest::newRow("box 19 wide is refused")
        << int(MarkKind::Text) << QPointF(40, 20) << QPointF(59, 100) << QRectF() << QPointF();
    QTest::newRow("box 15 high is refused")
        << int(MarkKind::Callout) << QPointF(40, 20) << QPointF(140, 35) << QRectF() << QPointF();
}

void TestCanvas::textBoxes() {
    QFETCH(int, kind);
    QFETCH(QPointF, from);
    QFETCH(QPointF, to);
    QFETCH(QRectF, expected);
    QFETCH(QPointF, tip);
    Fixture f({}, MarkKind(kind));
    drag(f.canvas.get(), from, to);
    if (expected.isNull()) {
        QCOMPARE(f.recorder.edits(), QStringList());
        return;
    }
    QCOMPARE(f.recorder.edits(), QStringList{QStringLiteral("add")});
    const Mark &m = f.recorder.added.first();
    QVERIFY2(nearRect(span(m), expected, 1e-12),
             qPrintable(QStringLiteral("%1 %2 %3 %4").arg(m.x1).arg(m.y1).arg(m.x2).arg(m.y2)));
    QCOMPARE(m.fixedTextBox, true);
    if (MarkKind(kind) == MarkKind::Callout) {
        QVERIFY(m.tipX && m.tipY);
        QVERIFY(near(*m.tipX, tip.x(), 1e-12) && near(*m.tipY, tip.y(), 1e-12));
    } else {
        QVERIFY(!m.tipX && !m.tipY);
    }
}

void TestCanvas::textMarker() {
    const RecognizedTextWord hallo{QStringLiteral("Hallo"), QRectF(0.1, 0.1, 0.1, 0.05)};
    const RecognizedTextWord welt{QStringLiteral("Welt"), QRectF(0.25, 0.1, 0.1, 0.05)};
    const RecognizedTextLine first(QStringLiteral("Hallo Welt"), QRectF(0.1, 0.1, 0.25, 0.05), {hallo, welt});
    const RecognizedTextLine wordless(QStringLiteral("Zeile"), QRectF(0.1, 0.3, 0.3, 0.05));
    const Mark box = mk(MarkKind::FilledRectangle, 0, 0, 1, 1);
    Fixture f({box}, MarkKind::Rectangle);
    AnnotatedCapture c = f.canvas->configuration();
    c.recognizedLines = {first, wordless};
    f.canvas->setConfiguration(c);
    // Over the second word and down into the wordless line: the marker wins over mark and tool.
    drag(f.canvas.get(), at(0.3, 0.12), at(0.22, 0.32));
    QCOMPARE(f.recorder.edits(), QStringList{QStringLiteral("highlight")});
    QCOMPARE(f.recorder.highlights.first(), (QList<QRectF>{welt.rect, wordless.rect}));
    // A drag that touches no line reports nothing.
    drag(f.canvas.get(), at(0.8, 0.8), at(0.9, 0.9));
    QCOMPARE(f.recorder.count(QStringLiteral("highlight")), 1);
    QCOMPARE(f.recorder.selections, (QList<std::optional<QUuid>>{std::nullopt, std::nullopt}));
}

// Keys on a selected mark (image 1000 × 400, so one image pixel is 0.001 × 0.0025).
void TestCanvas::keys_data() {
    QTest::addColumn<int>("kind");
    QTest::addColumn<int>("key");
    QTest::addColumn<int>("modifiers");
    QTest::addColumn<QString>("edits");
    QTest::addColumn<QPointF>("moved"); // new x1, y1 of an update
    const int arrow = int(MarkKind::Arrow), text = int(MarkKind::Text);
    QTest::newRow("left") << arrow << int(Qt::Key_Left) << 0 << "update" << QPointF(0.499, 0.5);
    QTest::newRow("shift down") << arrow << int(Qt::Key_Down) << int(Qt::ShiftModifier) << "update"
                                << QPointF(0.5, 0.525);
    QTest::newRow("alt up counts as up")
        << arrow << int(Qt::Key_Up) << int(Qt::AltModifier) << "update" << QPointF(0.5, 0.4975);
    QTest::newRow("return on a text box edits") << text << int(Qt::Key_Return) << 0 << "edit" << QPointF();
    QTest::newRow("return on an arrow passes") << arrow << int(Qt::Key_Return) << 0 << "" << QPointF();
    QTest::newRow("backspace deletes") << arrow << int(Qt::Key_Backspace) << 0 << "delete" << QPointF();
    QTest::newRow("escape cancels") << arrow << int(Qt::Key_Escape) << 0 << "cancel" << QPointF();
    QTest::newRow("ctrl z") << arrow << int(Qt::Key_Z) << int(Qt::ControlModifier) << "undo" << QPointF();
    QTest::newRow("ctrl shift z") << arrow << int(Qt::Key_Z) << int(Qt::ControlModifier | Qt::ShiftModifier)
                                  << "redo" << QPointF();
}

void TestCanvas::keys() {
    QFETCH(int, kind);
    QFETCH(int, key);
    QFETCH(int, modifiers);
    QFETCH(QString, edits);
    QFETCH(QPointF, moved);
    const Mark mark = mk(MarkKind(kind), 0.5, 0.5, 0.7, 0.7);
    Fixture f({mark}, {}, QSize(1000, 400));
    f.select(mark);
    QTest::keyClick(f.canvas.get(), Qt::Key(key), Qt::KeyboardModifiers(modifiers));
    QCOMPARE(f.recorder.edits().join(u' '), edits);
    if (edits == QStringLiteral("update")) {
        const Mark &m = f.recorder.updated.first();
        QVERIFY(near(m.x1, moved.x(), 1e-12) && near(m.y1, moved.y(), 1e-12));
    }
    if (edits == QStringLiteral("cancel"))
        QCOMPARE(f.recorder.selections, QList<std::optional<QUuid>>{std::nullopt});
}

// With a menu action on the same keys, the focused canvas alone acts: exactly one undo.
void TestCanvas::undoKeysWithMenuAction() {
    QMainWindow window;
    int triggered = 0;
    QAction *undo =
        window.menuBar()->addMenu(QStringLiteral("Bearbeiten"))->addAction(QStringLiteral("Rückgängig"));
    undo->setShortcut(QKeySequence::Undo);
    QAction *redo = window.menuBar()->actions().first()->menu()->addAction(QStringLiteral("Wiederholen"));
    redo->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z));
    connect(undo, &QAction::triggered, &window, [&] { ++triggered; });
    connect(redo, &QAction::triggered, &window, [&] { ++triggered; });
    Recorder recorder;
    auto *canvas = new AnnotationCanvas(recording(recorder, pattern(200, 100), {}), &window);
    window.setCentralWidget(canvas);
    window.resize(300, 200);
    window.show();
    window.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&window));
    canvas->setFocus();
    QTRY_VERIFY(canvas->hasFocus());

    QTest::keyClick(canvas, Qt::Key_Z, Qt::ControlModifier);
    QTest::keyClick(canvas, Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
    QCOMPARE(recorder.edits(), (QStringList{QStringLiteral("undo"), QStringLiteral("redo")}));
    QCOMPARE(triggered, 0);
    // Without the focus the menu has the keys.
    canvas->clearFocus();
    QTest::keyClick(&window, Qt::Key_Z, Qt::ControlModifier);
    QCOMPARE(triggered, 1);
    QCOMPARE(recorder.edits().size(), 2);
}

// The owner may replace the whole configuration from inside a callback, as the editor does.
void TestCanvas::callbackReplacesConfiguration() {
    const Mark box = mk(MarkKind::Rectangle, 0.2, 0.2, 0.6, 0.8);
    QStringList log;
    AnnotatedCapture c;
    c.image = pattern(400, 200);
    c.marks = {box};
    c.editable = true;
    AnnotationCanvas canvas(c);
    canvas.resize(kCanvas);
    // Each callback replaces the configuration, and with it itself, then still uses its captures.
    const auto rebuild = [&](auto self, MarkList marks) -> AnnotatedCapture {
        AnnotatedCapture next = c;
        next.marks = std::move(marks);
        next.activate = [&, self, tag = QStringLiteral("activate")] {
            canvas.setConfiguration(self(self, canvas.configuration().marks));
            log << tag;
        };
        next.select = [&, self, tag = QStringLiteral("select")](const std::optional<QUuid> &id) {
            AnnotatedCapture replaced = self(self, canvas.configuration().marks);
            replaced.selection = id;
            canvas.setConfiguration(replaced);
            log << tag;
        };
        next.updateMark = [&, self, tag = QStringLiteral("update")](const Mark &m) {
            canvas.setConfiguration(self(self, {m}));
            log << tag;
        };
        return next;
    };
    canvas.setConfiguration(rebuild(rebuild, {box}));
    drag(&canvas, at(0.2, 0.5), at(0.3, 0.5));
    QCOMPARE(log,
             (QStringList{QStringLiteral("activate"), QStringLiteral("select"), QStringLiteral("update")}));
    QVERIFY(near(canvas.configuration().marks.first().x1, 0.3, 1e-12));
}

void TestCanvas::grabMatchesRenderer_data() {
    QTest::addColumn<QSize>("image");
    QTest::newRow("same size") << QSize(400, 200);
    QTest::newRow("image twice as large") << QSize(800, 400);
}

// The canvas draws what the export burns in (without the editing aids).
void TestCanvas::grabMatchesRenderer() {
    QFETCH(QSize, image);
    MarkList marks;
    int i = 0;
    for (MarkKind kind : MarkKinds::all()) {
        const double x = 0.02 + (i % 5) * 0.19, y = 0.05 + (i / 5) * 0.3;
        Mark m = mk(kind, x, y, x + 0.16, y + 0.22);
        m.color = MarkColors::all()[size_t(i % 7)];
        if (MarkKinds::isTextBox(kind))
            m.text = QStringLiteral("Bitte prüfen");
        if (kind == MarkKind::Number)
            m.number = 12;
        if (kind == MarkKind::Blur)
            m.blurRadius = 18;
        marks.append(m);
        ++i;
    }
    AnnotatedCapture c;
    c.image = pattern(image.width(), image.height());
    c.marks = marks;
    c.editable = true;
    AnnotationCanvas canvas(c);
    canvas.resize(kCanvas);

    QImage reference = c.image.scaled(kCanvas, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
                           .convertToFormat(QImage::Format_ARGB32_Premultiplied);
    {
        const QImage shown = reference;
        QPainter painter(&reference);
        MarkRenderer::draw(marks, painter, QSizeF(kCanvas), [&](double radius, const QRect &) {
            return std::optional<BlurPatch>(BlurPatch{BlurRenderer::make(shown, radius), QPoint()});
        });
    }
    // The canvas may show a coarser copy until the exact one has been scaled in the background.
    QPoint where;
    QTRY_VERIFY2(largestDifference(canvas.grab().toImage(), reference, &where) <= 2,
                 qPrintable(QStringLiteral("%1 at %2, %3")
                                .arg(largestDifference(canvas.grab().toImage(), reference, &where))
                                .arg(where.x())
                                .arg(where.y())));
}

// The canvas keeps what lies beneath and above a dragged mark between frames; every frame must
// still equal a canvas drawn afresh.
void TestCanvas::framesFollowChanges() {
    const Mark bottom = mk(MarkKind::FilledRectangle, 0.1, 0.1, 0.5, 0.9);
    const Mark arrow = mk(MarkKind::Arrow, 0.2, 0.5, 0.6, 0.4);
    const Mark cover = mk(MarkKind::Redact, 0.4, 0.3, 0.7, 0.6);
    Fixture f({cover, bottom, arrow});
    f.select(arrow);
    const auto fresh = [&](const MarkList &marks) {
        AnnotatedCapture c = f.canvas->configuration();
        c.marks = marks;
        AnnotationCanvas other(c);
        other.resize(kCanvas);
        return other.grab().toImage();
    };
    QTRY_COMPARE(largestDifference(f.canvas->grab().toImage(), fresh({cover, bottom, arrow})), 0);

    QWidget *w = f.canvas.get();
    sendMouse(w, QEvent::MouseButtonPress, at(0.3, 0.475), Qt::LeftButton, Qt::LeftButton);
    const Mark moved = MarkGeometry::translated(arrow, 0.1, 0.2);
    sendMouse(w, QEvent::MouseMove, at(0.4, 0.675), Qt::NoButton, Qt::LeftButton);
    QPoint where;
    const int during = largestDifference(f.canvas->grab().toImage(), fresh({cover, bottom, moved}), &where);
    QVERIFY2(during <= 1,
             qPrintable(QStringLiteral("%1 at %2, %3").arg(during).arg(where.x()).arg(where.y())));
    sendMouse(w, QEvent::MouseButtonRelease, at(0.4, 0.675), Qt::LeftButton, Qt::NoButton);
    QCOMPARE(f.recorder.updated, MarkList{moved});
    QCOMPARE(largestDifference(f.canvas->grab().toImage(), fresh({cover, bottom, arrow})), 0);

    AnnotatedCapture c = f.canvas->configuration();
    c.marks = {cover, bottom, moved};
    f.canvas->setConfiguration(c);
    QCOMPARE(largestDifference(f.canvas->grab().toImage(), fresh({cover, bottom, moved})), 0);
}

// A new size is drawn in the background; meanwhile the old frame stands in, stretched. The canvas
// must end on exactly what a canvas of that size draws.
void TestCanvas::resizedFrameSettles() {
    const MarkList marks{mk(MarkKind::Arrow, 0.1, 0.1, 0.8, 0.7), mk(MarkKind::Ellipse, 0.3, 0.2, 0.6, 0.9)};
    Fixture f(marks, {}, QSize(800, 400));
    QTRY_COMPARE(largestDifference(f.canvas->grab().toImage(), f.canvas->grab().toImage()), 0);
    f.canvas->grab();
    f.canvas->resize(300, 150);
    AnnotatedCapture c = f.canvas->configuration();
    AnnotationCanvas fresh(c);
    fresh.resize(300, 150);
    QTRY_COMPARE(largestDifference(f.canvas->grab().toImage(), fresh.grab().toImage()), 0);
    // A new size and a new list at once: the new list shows in the very next frame.
    f.canvas->resize(320, 160);
    c.marks.append(mk(MarkKind::Redact, 0.5, 0.5, 0.7, 0.7));
    f.canvas->setConfiguration(c);
    QCOMPARE(f.canvas->grab().toImage().pixel(192, 96), qRgb(0, 0, 0));
}

// A new size is never drawn while painting, not even together with a new mark list: the new marks
// still show in the very next frame, and the canvas settles on what a fresh one draws. Only a new
// list at the same size is drawn at once.
void TestCanvas::zoomDrawsOffThePaintPath_data() {
    QTest::addColumn<QSize>("size");
    QTest::addColumn<bool>("newMark");
    QTest::addColumn<int>("drawnWhilePainting");
    QTest::newRow("larger") << QSize(600, 300) << false << 0;
    QTest::newRow("larger, with a new mark") << QSize(600, 300) << true << 0;
    QTest::newRow("smaller, with a new mark") << QSize(300, 150) << true << 0;
    QTest::newRow("same size, with a new mark") << kCanvas << true << 1;
}

void TestCanvas::zoomDrawsOffThePaintPath() {
    QFETCH(QSize, size);
    QFETCH(bool, newMark);
    QFETCH(int, drawnWhilePainting);
    const MarkList marks{mk(MarkKind::Arrow, 0.1, 0.1, 0.8, 0.7), mk(MarkKind::Blur, 0.3, 0.2, 0.6, 0.9)};
    Fixture f(marks, {}, QSize(800, 400));
    QTRY_COMPARE(largestDifference(f.canvas->grab().toImage(), f.canvas->grab().toImage()), 0);
    const int before = f.canvas->framesDrawnWhilePainting();
    AnnotatedCapture c = f.canvas->configuration();
    if (newMark)
        c.marks.append(mk(MarkKind::Redact, 0.6, 0.6, 0.9, 0.9));
    f.canvas->resize(size);
    f.canvas->setConfiguration(c);
    const QImage first = f.canvas->grab().toImage();
    QCOMPARE(f.canvas->framesDrawnWhilePainting() - before, drawnWhilePainting);
    if (newMark)
        QCOMPARE(first.pixel(size.width() * 3 / 4, size.height() * 3 / 4), qRgb(0, 0, 0));
    AnnotationCanvas fresh(c);
    fresh.resize(size);
    QTRY_COMPARE_WITH_TIMEOUT(largestDifference(f.canvas->grab().toImage(), fresh.grab().toImage()), 0,
                              10000);
}

void TestCanvas::readOnly() {
    const Mark box = mk(MarkKind::Rectangle, 0.2, 0.2, 0.6, 0.8);
    Recorder recorder;
    AnnotatedCapture c = recording(recorder, pattern(400, 200), {box});
    c.editable = false;
    c.selection = box.id;
    AnnotationCanvas canvas(c);
    canvas.resize(kCanvas);
    QVERIFY(canvas.testAttribute(Qt::WA_TransparentForMouseEvents));
    QCOMPARE(canvas.focusPolicy(), Qt::NoFocus);
    drag(&canvas, at(0.2, 0.5), at(0.5, 0.5));
    QTest::keyClick(&canvas, Qt::Key_Delete);
    QCOMPARE(recorder.calls, QStringList());

    // No frame or handles although a mark is selected: the same picture without the selection.
    c.selection.reset();
    AnnotationCanvas plain(c);
    plain.resize(kCanvas);
    QTRY_COMPARE(largestDifference(canvas.grab().toImage(), plain.grab().toImage()), 0);
    c.editable = true;
    c.selection = box.id;
    AnnotationCanvas editable(c);
    editable.resize(kCanvas);
    QVERIFY(largestDifference(editable.grab().toImage(), plain.grab().toImage()) > 100);
    QVERIFY(!editable.testAttribute(Qt::WA_TransparentForMouseEvents));
}

// Blurred copies are made once per strength and kept; moving another mark makes none.
void TestCanvas::blurCache() {
    const auto blur = [](double radius, double x) {
        Mark m = mk(MarkKind::Blur, x, 0.1, x + 0.2, 0.9);
        m.blurRadius = radius;
        return m;
    };
    const Mark arrow = mk(MarkKind::Arrow, 0.1, 0.1, 0.9, 0.9);
    Fixture f({blur(8, 0), blur(18, 0.25), blur(32, 0.5), arrow}, {}, QSize(400, 200));
    QTRY_COMPARE((f.canvas->grab(), f.canvas->blurCopiesMade()), 3);
    f.select(arrow);
    QWidget *w = f.canvas.get();
    sendMouse(w, QEvent::MouseButtonPress, at(0.5, 0.5), Qt::LeftButton, Qt::LeftButton);
    for (int step = 0; step < 5; ++step) {
        sendMouse(w, QEvent::MouseMove, at(0.5 + step * 0.02, 0.5), Qt::NoButton, Qt::LeftButton);
        f.canvas->grab();
    }
    QCOMPARE(f.canvas->blurCopiesMade(), 3);
    f.canvas->discardGesture();
    AnnotatedCapture c = f.canvas->configuration();
    const MarkList three = c.marks;
    c.marks.append(blur(18.4, 0.75)); // rounds to a kept strength
    f.canvas->setConfiguration(c);
    f.canvas->grab();
    QCOMPARE(f.canvas->blurCopiesMade(), 3);
    // A fourth strength empties the cache and leaves only itself ...
    c.marks.append(blur(24, 0.8));
    f.canvas->setConfiguration(c);
    f.canvas->grab();
    QCOMPARE(f.canvas->blurCopiesMade(), 4);
    // ... so showing the first three again makes them anew (and the third empties it again).
    c.marks = three;
    f.canvas->setConfiguration(c);
    f.canvas->grab();
    QCOMPARE(f.canvas->blurCopiesMade(), 7);
}

// Everything the renderer paints for a mark lies inside its drawn bounds, which the canvas uses
// to leave out marks beyond the visible area.
void TestCanvas::rendererExtents() {
    const QSize size(500, 300);
    for (MarkKind kind : MarkKinds::all()) {
        for (const auto &[span, stroke] : {std::pair{QRectF(QPointF(0.3, 0.3), QPointF(0.6, 0.5)), 12.0},
                                           std::pair{QRectF(QPointF(0.6, 0.6), QPointF(0.35, 0.2)), 12.0},
                                           std::pair{QRectF(QPointF(0.2, 0.5), QPointF(0.7, 0.5)), 1.0}}) {
            Mark m = mk(kind, span.left(), span.top(), span.right(), span.bottom());
            m.strokeWidth = stroke;
            m.text = QStringLiteral("Lang genug, um umzubrechen");
            if (kind == MarkKind::Callout) {
                m.tipX = 0.95;
                m.tipY = 0.05;
            }
            QImage image(size, QImage::Format_ARGB32_Premultiplied);
            image.fill(Qt::transparent);
            {
                QPainter painter(&image);
                MarkRenderer::draw({m}, painter, QSizeF(size));
            }
            const QRectF bounds = MarkRenderer::drawnBounds(m, QSizeF(size));
            int painted = 0;
            for (int y = 0; y < size.height(); ++y)
                for (int x = 0; x < size.width(); ++x)
                    if (qAlpha(image.pixel(x, y)) != 0) {
                        ++painted;
                        QVERIFY2(bounds.contains(QPointF(x + 0.5, y + 0.5)),
                                 qPrintable(MarkKinds::rawValue(kind) +
                                            QStringLiteral(" paints %1, %2").arg(x).arg(y)));
                    }
            // A flat box paints nothing; every other mark paints something.
            QVERIFY2(painted > 0 || span.height() == 0, qPrintable(MarkKinds::rawValue(kind)));
        }
    }
}

QTEST_MAIN(TestCanvas)
#include "tst_canvas.moc"
