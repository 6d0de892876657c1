#include "model/MarkGeometry.h"
#include "support/MarkTestSupport.h"

#include <QTest>

#include <cmath>
#include <functional>
#include <numbers>

using MarkEdit = std::function<Mark(const Mark &)>;

class TestMarkGeometry : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void contains_data();
    void contains();
    void hit_data();
    void hit();
    void handle();
    void edits_data();
    void edits();
    void numbered();
    void callout();
    void arrowWings();
    void cloudScallops_data();
    void cloudScallops();
};

namespace {
const QSizeF kSquare(1000, 1000);
// How far behind the tip the wings of a 20 px head end, along the shaft.
const double kWingBack = 20 * std::cos(std::numbers::pi / 6);

Mark withTip(Mark m, double x, double y) {
    m.tipX = x, m.tipY = y;
    return m;
}
Mark movedTo(Mark m, double x1, double y1, double x2, double y2) {
    m.x1 = x1, m.y1 = y1, m.x2 = x2, m.y2 = y2;
    return m;
}

// Equal, except that coordinates may differ by rounding.
bool sameMark(Mark actual, const Mark &expected) {
    const auto snap = [](double &a, double e) { a = std::abs(a - e) < 1e-9 ? e : a; };
    snap(actual.x1, expected.x1), snap(actual.y1, expected.y1);
    snap(actual.x2, expected.x2), snap(actual.y2, expected.y2);
    if (actual.tipX && actual.tipY && expected.tipX && expected.tipY)
        snap(*actual.tipX, *expected.tipX), snap(*actual.tipY, *expected.tipY);
    return actual == expected;
}
} // namespace

void TestMarkGeometry::contains_data() {
    QTest::addColumn<Mark>("mark");
    QTest::addColumn<QSizeF>("size");
    QTest::addColumn<QPointF>("point");
    QTest::addColumn<bool>("expected");
    QSizeF size = kSquare; // the hit pad is 7 px on it
    const auto row = [&](const char *name, const Mark &m, double x, double y, bool expected) {
        QTest::newRow(name) << m << size << QPointF(x, y) << expected;
    };
    const Mark arrow = mk(MarkKind::Arrow, 0.1, 0.5, 0.9, 0.5); // head 20 px, wings end at y 500 ± 10
    Mark thick = arrow;
    thick.strokeWidth = 12; // pad 1000 · 12 / 2000 + 3 = 9
    row("arrow, pad off the shaft", arrow, 500, 507, true);
    row("arrow, 8 off the shaft", arrow, 500, 508, false);
    row("arrow, 8 beyond the tip", arrow, 908, 500, false);
    row("arrow, wing end", arrow, 900 - kWingBack, 510, true);
    row("arrow, 8 past the wing end", arrow, 900 - kWingBack, 518, false);
    row("line has no wings", mk(MarkKind::Line, 0.1, 0.5, 0.9, 0.5), 900 - kWingBack, 510, false);
    row("arrow, stroke 12", thick, 500, 509, true);
    row("arrow of zero length", mk(MarkKind::Arrow, 0.5, 0.5, 0.5, 0.5), 505, 500, true);
    const Mark frame = mk(MarkKind::Rectangle, 0.1, 0.1, 0.5, 0.5); // 100…500 px
    row("frame, pad outside", frame, 93, 300, true);
    row("frame, inner edge of the band", frame, 106.9, 300, true);
    row("frame, inside the band", frame, 107.1, 300, false);
    row("4 × 4 px frame at its centre", mk(MarkKind::Rectangle, 0.498, 0.498, 0.502, 0.502), 500, 500, true);
    for (MarkKind kind : {MarkKind::FilledRectangle, MarkKind::FilledEllipse, MarkKind::Highlight,
                          MarkKind::Redact, MarkKind::Blur, MarkKind::Text}) {
        const QByteArray name = MarkKinds::rawValue(kind).toUtf8();
        row(name + " middle", mk(kind, 0.1, 0.1, 0.5, 0.5), 300, 300, true);
        row(name + " beyond the pad", mk(kind, 0.1, 0.1, 0.5, 0.5), 300, 507.1, false);
    }
    const Mark ellipse = mk(MarkKind::Ellipse, 0.1, 0.1, 0.5, 0.5); // centre 300, radius 200
    row("ellipse, pad outside", ellipse, 93, 300, true);
    row("ellipse centre", ellipse, 300, 300, false);
    row("ellipse too thin for a hole", mk(MarkKind::Ellipse, 0.5, 0.5, 0.51, 0.51), 505, 505, true);
    row("filled ellipse, bounds corner", mk(MarkKind::FilledEllipse, 0.1, 0.1, 0.5, 0.5), 100, 100, false);
    const Mark number = mk(MarkKind::Number, 0.1, 0.1, 0.3, 0.2); // disc centre (200, 150), radius 50
    row("number within the pad", number, 256.9, 150, true);
    row("number beyond the pad", number, 257.1, 150, false);
    row("number, bounds beside the disc", number, 110, 150, false);
    const Mark cloud = mk(MarkKind::Cloud, 0.1, 0.1, 0.5, 0.5); // inset 8: scallops 100…108
    row("cloud scallops", cloud, 104, 300, true);
    row("cloud, inside the band", cloud, 125, 300, false);
    // Box 200…400 × 200…300 px, default tip (0.3, 0.42): pointer from (300, 300) to (300, 420).
    const Mark callout = mk(MarkKind::Callout, 0.2, 0.2, 0.4, 0.3);
    row("callout pointer", callout, 307, 360, true);
    row("callout, beside the pointer", callout, 308, 360, false);
    row("callout, 6 past a pointer wing end", callout, 316, 420 - kWingBack, true);
    row("callout, stored tip", withTip(callout, 0.8, 0.25), 700, 256, true);
    size = QSizeF(10000, 1000); // pad 10000 · 4 / 2000 + 3 = 23
    row("arrow on a wide image, 23 off", arrow, 5000, 523, true);
    size = QSizeF(0, 500);
    row("image of width 0", mk(MarkKind::FilledRectangle, 0, 0, 1, 1), 0, 250, false);
}

void TestMarkGeometry::contains() {
    QFETCH(Mark, mark);
    QFETCH(QSizeF, size);
    QFETCH(QPointF, point);
    QFETCH(bool, expected);
    QCOMPARE(MarkGeometry::contains(mark, point, size), expected);
}

void TestMarkGeometry::hit_data() {
    QTest::addColumn<MarkList>("marks");
    QTest::addColumn<int>("expected"); // index into marks of the mark hit at (500, 500); −1: none
    const Mark blur = mk(MarkKind::Blur, 0.1, 0.1, 0.9, 0.9);
    const Mark arrow = mk(MarkKind::Arrow, 0.1, 0.5, 0.9, 0.5);
    const Mark redact = mk(MarkKind::Redact, 0.1, 0.1, 0.9, 0.9);
    const Mark box = mk(MarkKind::FilledRectangle, 0.4, 0.4, 0.6, 0.6);
    QTest::newRow("arrow over blur, blur last") << MarkList{arrow, blur} << 0;
    QTest::newRow("redaction over arrow") << MarkList{redact, arrow} << 0;
    QTest::newRow("later ordinary mark on top") << MarkList{box, arrow} << 1;
    QTest::newRow("invalid mark passed over") << MarkList{arrow, mk(MarkKind::Redact, 0.1, 0.1, 0.9, 2)} << 0;
    QTest::newRow("nothing under the point") << MarkList{mk(MarkKind::Blur, 0.1, 0.1, 0.2, 0.2)} << -1;
}

void TestMarkGeometry::hit() {
    QFETCH(MarkList, marks);
    QFETCH(int, expected);
    const auto found = MarkGeometry::hit({500, 500}, kSquare, marks);
    QCOMPARE(found, expected < 0 ? std::nullopt : std::optional(marks[expected]));
}

void TestMarkGeometry::handle() {
    const Mark callout = mk(MarkKind::Callout, 0.1, 0.1, 0.4, 0.3); // default tip at (250, 420)
    QCOMPARE(MarkGeometry::handle(callout, {109, 100}, kSquare), MarkHandle::Start); // 9 px still grabs
    QCOMPARE(MarkGeometry::handle(callout, {109.01, 100}, kSquare), std::nullopt);
    QCOMPARE(MarkGeometry::handle(callout, {400, 306}, kSquare), MarkHandle::End);
    QCOMPARE(MarkGeometry::handle(withTip(callout, 0.1, 0.105), {100, 103}, kSquare), MarkHandle::Tip);
    QCOMPARE(MarkGeometry::handle(callout, {250, 420}, kSquare), MarkHandle::Tip);
    QCOMPARE(MarkGeometry::handle(mk(MarkKind::Text, 0.1, 0.1, 0.4, 0.3), {250, 420}, kSquare), std::nullopt);
}

void TestMarkGeometry::edits_data() {
    QTest::addColumn<Mark>("mark");
    QTest::addColumn<MarkEdit>("edit");
    QTest::addColumn<Mark>("expected");
    const auto row = [](const char *name, const Mark &m, MarkEdit edit, const Mark &expected) {
        QTest::newRow(name) << m << edit << expected;
    };
    const auto move = [](double dx, double dy) {
        return MarkEdit([=](const Mark &m) { return MarkGeometry::translated(m, dx, dy); });
    };
    const auto drag = [](MarkHandle h, double x, double y, std::optional<QSizeF> size = std::nullopt) {
        return MarkEdit([=](const Mark &m) { return MarkGeometry::movingHandle(m, h, {x, y}, size); });
    };
    const MarkHandle start = MarkHandle::Start, end = MarkHandle::End;
    const Mark span = mk(MarkKind::Rectangle, 0.4, 0.2, 0.8, 0.6);
    const Mark callout = mk(MarkKind::Callout, 0.2, 0.5, 0.4, 0.9); // default tip (0.3, 1)
    const Mark tipLeft = withTip(mk(MarkKind::Callout, 0.5, 0.1, 0.7, 0.3), 0.1, 0.5);
    const Mark invalid = mk(MarkKind::Callout, 0.1, 0.1, 0.2, 1.2);
    const Mark number = mk(MarkKind::Number, 0.9, 0.9, 0.92, 0.94);
    const Mark middle = mk(MarkKind::Number, 0.45, 0.45, 0.5, 0.5);
    const Mark edge = mk(MarkKind::Number, 0.085, 0, 0.1, 0.015);
    const Mark text = mk(MarkKind::Text, 0.1, 0.2, 0.3, 0.4);
    Mark fixedText = movedTo(text, 0.1, 0.2, 0.6, 0.7);
    fixedText.fixedTextBox = true;
    row("move, cut at the right edge", span, move(0.5, -0.1), movedTo(span, 0.6, 0.1, 1, 0.5));
    row("move, held by the default tip", callout, move(0.1, 0.1),
        withTip(movedTo(callout, 0.3, 0.5, 0.5, 0.9), 0.4, 1));
    row("move, held by a stored tip", tipLeft, move(-0.5, 0),
        withTip(movedTo(tipLeft, 0.4, 0.1, 0.6, 0.3), 0, 0.5));
    row("move by NaN", span, move(qQNaN(), 0.1), span);
    row("move an invalid mark", invalid, move(0.1, 0), invalid);
    // Number discs stay square in pixels and inside the image.
    row("number into the corner", number, drag(end, 1, 1, QSizeF(1000, 500)),
        movedTo(number, 0.9, 0.9, 0.95, 1));
    row("number, longer drag sets the side", middle, drag(start, 0.4, 0.2, kSquare),
        movedTo(middle, 0.2, 0.2, 0.5, 0.5));
    // 0.085 + (1 − 0.085) · 1920 / 1920 rounds to just above 1.
    row("number, rounding past the edge", edge, drag(end, 1, 0.5, QSizeF(1920, 1920)),
        movedTo(edge, 0.085, 0, 1, 0.915));
    row("drag clamped", span, drag(start, 1.5, -0.2), movedTo(span, 1, 0, 0.8, 0.6));
    row("drag a text box end", text, drag(end, 0.6, 0.7), fixedText);
    row("drag a tip", tipLeft, drag(MarkHandle::Tip, 2, 0.7), withTip(tipLeft, 1, 0.7));
    row("drag to NaN", span, drag(end, qQNaN(), 0.5), span);
}

void TestMarkGeometry::edits() {
    QFETCH(Mark, mark);
    QFETCH(MarkEdit, edit);
    QFETCH(Mark, expected);
    const Mark edited = edit(mark);
    QVERIFY(sameMark(edited, expected));
    QCOMPARE(edited.isValid(), mark.isValid());
}

// A disc of min(0.15·H, 0.05·W) px, square in pixels, pushed inside at the image edge.
void TestMarkGeometry::numbered() {
    Mark m = MarkGeometry::numbered({1, 1}, 12, QSizeF(1000, 800), MarkColor::Coral);
    QVERIFY(sameMark(m, movedTo(m, 0.95, 0.9375, 1, 1)) && m.number == 12 && m.color == MarkColor::Coral);
    m = MarkGeometry::numbered({0.5, 0.5}, 12, QSizeF(1000, 100));
    QVERIFY(sameMark(m, movedTo(m, 0.4925, 0.425, 0.5075, 0.575)) && m.isValid());
}

void TestMarkGeometry::callout() {
    const Mark box = mk(MarkKind::Callout, 0.2, 0.2, 0.4, 0.3); // 200…400 × 200…300 px
    const auto line = [](const Mark &m) { return MarkGeometry::calloutLine(m, kSquare); };
    QCOMPARE(line(box), QLineF(300, 300, 300, 420));
    QCOMPARE(line(withTip(box, 0.9, 0.25)), QLineF(400, 250, 900, 250));
    QCOMPARE(line(withTip(box, 0.6, 0.45)), QLineF(375, 300, 600, 450));  // off the corner diagonal
    QCOMPARE(line(withTip(box, 0.25, 0.22)), QLineF(250, 220, 250, 220)); // tip inside
    QVERIFY(MarkGeometry::calloutPointerPath(withTip(box, 0.3, 0.3005), kSquare).isEmpty()); // 0.5 px
    // Shaft from (300, 300) to the tip (300, 420), head strokes max(18, 9) px back from the tip.
    QCOMPARE(MarkGeometry::calloutPointerPath(box, kSquare).boundingRect(), QRectF(291, 300, 18, 120));
}

void TestMarkGeometry::arrowWings() {
    QCOMPARE(MarkGeometry::arrowHeadLength(1000), 20.0);
    QCOMPARE(MarkGeometry::arrowHeadLength(100), 9.0);
    const auto wings = [](QPointF a, QPointF b) { return MarkGeometry::arrowWings(a, b, 20); };
    QCOMPARE(wings({100, 250}, {900, 250}),
             std::pair(QPointF(900 - kWingBack, 260), QPointF(900 - kWingBack, 240)));
    // Coinciding points point the head along +x.
    QCOMPARE(wings({50, 50}, {50, 50}), std::pair(QPointF(50 - kWingBack, 60), QPointF(50 - kWingBack, 40)));
}

void TestMarkGeometry::cloudScallops_data() {
    QTest::addColumn<Mark>("mark");
    QTest::addColumn<QSizeF>("size");
    QTest::addColumn<int>("scallops");
    const auto row = [](const char *name, const Mark &m, QSizeF size, int scallops) {
        QTest::newRow(name) << m << size << scallops;
    };
    // 10 × 10 px: inset 1.8, edges of 6.4 px, still 2 scallops each.
    row("10 px square", mk(MarkKind::Cloud, 0.5, 0.5, 0.51, 0.51), kSquare, 8);
    // 400 × 200 px: inset 8, step 27; edges 384 px (14.2 → 14) and 184 px (6.8 → 7).
    row("400 × 200 px", mk(MarkKind::Cloud, 0.5, 0.3, 0.1, 0.1), kSquare, 42);
    // 24 × 48 px on a 96 px image: inset 2, step 8; edges 20 px (2.5 → 3) and 44 px (5.5 → 6).
    row("halves round up", mk(MarkKind::Cloud, 0.25, 0.25, 0.5, 0.75), QSizeF(96, 96), 18);
    row("at most 200 per edge", mk(MarkKind::Cloud, 0, 0, 1, 1), QSizeF(100, 20000), 200 + 200 + 12 + 12);
    row("zero height", mk(MarkKind::Cloud, 0.1, 0.5, 0.5, 0.5), kSquare, 0);
    row("infinite mark", mk(MarkKind::Cloud, qInf(), 0.1, 0.5, 0.5), kSquare, 0);
}

// Besides the count: the scallop tops reach the edge of the mark's rectangle; the outline is closed.
void TestMarkGeometry::cloudScallops() {
    QFETCH(Mark, mark);
    QFETCH(QSizeF, size);
    QFETCH(int, scallops);
    const QPainterPath path = MarkGeometry::cloudPath(mark, size);
    int curves = 0;
    for (int i = 0; i < path.elementCount(); ++i)
        curves += path.elementAt(i).type == QPainterPath::CurveToElement;
    QCOMPARE(curves, scallops);
    if (scallops > 0) {
        QCOMPARE(path.boundingRect(), MarkGeometry::bounds(mark, size));
        QCOMPARE(path.currentPosition(), QPointF(path.elementAt(0)));
    }
}

QTEST_GUILESS_MAIN(TestMarkGeometry)
#include "tst_markgeometry.moc"
