#include "model/MarkGeometry.h"
#include "support/MarkTestSupport.h"

#include <QRandomGenerator>
#include <QTest>

#include <cmath>
#include <limits>

class TestMarkGeometry : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void bounds();
    void circleBounds_data();
    void circleBounds();
    void contains_data();
    void contains();
    void hit_data();
    void hit();
    void handle_data();
    void handle();
    void translated_data();
    void translated();
    void translatedStaysValid();
    void movingHandle_data();
    void movingHandle();
    void movingHandleStaysValid();
    void calloutLine_data();
    void calloutLine();
    void calloutPointerPath();
    void arrowWings();
    void cloudScallops_data();
    void cloudScallops();
    void cloudReachesBounds();
    void numbered_data();
    void numbered();
};

namespace {
const double kNan = std::numeric_limits<double>::quiet_NaN();
const double kInf = std::numeric_limits<double>::infinity();

Mark withStroke(Mark m, double width) {
    m.strokeWidth = width;
    return m;
}

Mark withTip(Mark m, double x, double y) {
    m.tipX = x;
    m.tipY = y;
    return m;
}

void comparePoint(QPointF actual, QPointF expected) {
    QVERIFY2(std::abs(actual.x() - expected.x()) < 1e-9 && std::abs(actual.y() - expected.y()) < 1e-9,
             qPrintable(QStringLiteral("(%1, %2) != (%3, %4)")
                            .arg(actual.x(), 0, 'g', 17)
                            .arg(actual.y(), 0, 'g', 17)
                            .arg(expected.x(), 0, 'g', 17)
                            .arg(expected.y(), 0, 'g', 17)));
}

int curveCount(const QPainterPath &path) {
    int n = 0;
    for (int i = 0; i < path.elementCount(); ++i)
        n += path.elementAt(i).type == QPainterPath::CurveToElement;
    return n;
}
} // namespace

void TestMarkGeometry::bounds() {
    const Mark m = makeMark(MarkKind::Rectangle, 0.5, 0.75, 0.25, 0.5);
    QCOMPARE(MarkGeometry::bounds(m, QSizeF(1000, 400)), QRectF(250, 200, 250, 100));
}

void TestMarkGeometry::circleBounds_data() {
    QTest::addColumn<Mark>("mark");
    QTest::addColumn<QRectF>("disc");
    QTest::newRow("wide box") << makeMark(MarkKind::Number, 0.1, 0.1, 0.3, 0.2) << QRectF(150, 100, 100, 100);
    QTest::newRow("tall box reversed")
        << makeMark(MarkKind::Number, 0.3, 0.5, 0.2, 0.1) << QRectF(200, 250, 100, 100);
    QTest::newRow("zero height") << makeMark(MarkKind::Number, 0.1, 0.5, 0.3, 0.5) << QRectF(200, 500, 0, 0);
}

void TestMarkGeometry::circleBounds() {
    QFETCH(Mark, mark);
    QFETCH(QRectF, disc);
    QCOMPARE(MarkGeometry::circleBounds(mark, QSizeF(1000, 1000)), disc);
}

void TestMarkGeometry::contains_data() {
    QTest::addColumn<Mark>("mark");
    QTest::addColumn<QSizeF>("size");
    QTest::addColumn<QPointF>("point");
    QTest::addColumn<double>("tolerance");
    QTest::addColumn<bool>("expected");

    const QSizeF wide(1000, 500);
    const QSizeF square(1000, 1000);
    const Mark arrow = makeMark(MarkKind::Arrow, 0.1, 0.5, 0.9, 0.5);
    // Pad 7 on this image; the head is 20 px long, its wings end at (900 − 20·cos 30°, 250 ± 10).
    const double wingX = 900 - 20 * std::cos(std::numbers::pi / 6);
    QTest::newRow("arrow 6 px off the shaft") << arrow << wide << QPointF(500, 256) << 7.0 << true;
    QTest::newRow("arrow exactly pad off the shaft") << arrow << wide << QPointF(500, 257) << 7.0 << true;
    QTest::newRow("arrow 8 px off the shaft") << arrow << wide << QPointF(500, 258) << 7.0 << false;
    QTest::newRow("arrow beyond the tip by pad") << arrow << wide << QPointF(907, 250) << 7.0 << true;
    QTest::newRow("arrow beyond the tip by 8") << arrow << wide << QPointF(908, 250) << 7.0 << false;
    QTest::newRow("arrow lower wing end") << arrow << wide << QPointF(wingX, 260) << 7.0 << true;
    QTest::newRow("arrow upper wing end") << arrow << wide << QPointF(wingX, 240) << 7.0 << true;
    QTest::newRow("arrow 6 past the wing end") << arrow << wide << QPointF(wingX, 266) << 7.0 << true;
    QTest::newRow("arrow 8 past the wing end") << arrow << wide << QPointF(wingX, 268) << 7.0 << false;
    QTest::newRow("arrow stroke 12 widens the pad to 9")
        << withStroke(arrow, 12) << wide << QPointF(500, 259) << 7.0 << true;
    QTest::newRow("arrow stroke 12, 10 px off")
        << withStroke(arrow, 12) << wide << QPointF(500, 260) << 7.0 << false;
    QTest::newRow("arrow tolerance 20") << arrow << wide << QPointF(500, 270) << 20.0 << true;
    QTest::newRow("arrow wide image pad") << arrow << QSizeF(10000, 500) << QPointF(5000, 263) << 7.0 << true;
    QTest::newRow("arrow of zero length")
        << makeMark(MarkKind::Arrow, 0.5, 0.5, 0.5, 0.5) << square << QPointF(505, 500) << 7.0 << true;

    const Mark line = makeMark(MarkKind::Line, 0.1, 0.5, 0.9, 0.5);
    QTest::newRow("line on the shaft") << line << wide << QPointF(300, 253) << 7.0 << true;
    QTest::newRow("line has no wings") << line << wide << QPointF(wingX, 260) << 7.0 << false;
    QTest::newRow("line beyond its end") << line << wide << QPointF(908, 250) << 7.0 << false;

    const Mark frame = makeMark(MarkKind::Rectangle, 0.1, 0.1, 0.5, 0.5); // 100…500 px
    QTest::newRow("frame on its border") << frame << square << QPointF(100, 300) << 7.0 << true;
    QTest::newRow("frame pad outside") << frame << square << QPointF(93, 300) << 7.0 << true;
    QTest::newRow("frame beyond pad outside") << frame << square << QPointF(92.9, 300) << 7.0 << false;
    QTest::newRow("frame just within the inner band")
        << frame << square << QPointF(106.9, 300) << 7.0 << true;
    QTest::newRow("frame just inside the band") << frame << square << QPointF(107.1, 300) << 7.0 << false;
    QTest::newRow("frame middle") << frame << square << QPointF(300, 300) << 7.0 << false;
    QTest::newRow("frame corner") << frame << square << QPointF(500, 500) << 7.0 << true;
    QTest::newRow("4 × 4 px frame at its centre") << makeMark(MarkKind::Rectangle, 0.498, 0.498, 0.502, 0.502)
                                                  << square << QPointF(500, 500) << 7.0 << true;
    QTest::newRow("12 × 12 px frame at its centre")
        << makeMark(MarkKind::Rectangle, 0.494, 0.494, 0.506, 0.506) << square << QPointF(500, 500) << 7.0
        << true;
    QTest::newRow("zero-width frame")
        << makeMark(MarkKind::Rectangle, 0.5, 0.1, 0.5, 0.5) << square << QPointF(503, 300) << 7.0 << true;

    for (MarkKind kind :
         {MarkKind::FilledRectangle, MarkKind::Highlight, MarkKind::Redact, MarkKind::Blur, MarkKind::Text}) {
        const QByteArray name = MarkKinds::rawValue(kind).toUtf8();
        const Mark box = makeMark(kind, 0.1, 0.1, 0.5, 0.5);
        QTest::newRow(name + " middle") << box << square << QPointF(300, 300) << 7.0 << true;
        QTest::newRow(name + " pad outside") << box << square << QPointF(507, 507) << 7.0 << true;
        QTest::newRow(name + " beyond pad") << box << square << QPointF(300, 507.1) << 7.0 << false;
    }

    const Mark ellipse = makeMark(MarkKind::Ellipse, 0.1, 0.1, 0.5, 0.5); // centre 300, radius 200
    QTest::newRow("ellipse on its outline") << ellipse << square << QPointF(100, 300) << 7.0 << true;
    QTest::newRow("ellipse pad outside") << ellipse << square << QPointF(93, 300) << 7.0 << true;
    QTest::newRow("ellipse beyond pad") << ellipse << square << QPointF(92.9, 300) << 7.0 << false;
    QTest::newRow("ellipse centre") << ellipse << square << QPointF(300, 300) << 7.0 << false;
    QTest::newRow("ellipse bounds corner") << ellipse << square << QPointF(100, 100) << 7.0 << false;
    QTest::newRow("ellipse too thin for an inner ring")
        << makeMark(MarkKind::Ellipse, 0.5, 0.5, 0.51, 0.51) << square << QPointF(505, 505) << 7.0 << true;
    QTest::newRow("flat ellipse anywhere inside")
        << makeMark(MarkKind::Ellipse, 0.1, 0.5, 0.5, 0.51) << square << QPointF(300, 505) << 7.0 << true;

    const Mark filledEllipse = makeMark(MarkKind::FilledEllipse, 0.1, 0.1, 0.5, 0.5);
    QTest::newRow("filled ellipse centre") << filledEllipse << square << QPointF(300, 300) << 7.0 << true;
    QTest::newRow("filled ellipse bounds corner")
        << filledEllipse << square << QPointF(100, 100) << 7.0 << false;

    const Mark number = makeMark(MarkKind::Number, 0.1, 0.1, 0.3, 0.2); // disc centre (200, 150), radius 50
    QTest::newRow("number centre") << number << square << QPointF(200, 150) << 7.0 << true;
    QTest::newRow("number within pad") << number << square << QPointF(256.9, 150) << 7.0 << true;
    QTest::newRow("number beyond pad") << number << square << QPointF(257.1, 150) << 7.0 << false;
    QTest::newRow("number bounds beside the disc") << number << square << QPointF(110, 150) << 7.0 << false;

    const Mark cloud = makeMark(MarkKind::Cloud, 0.1, 0.1, 0.5, 0.5); // inset 8: scallops 100…108
    QTest::newRow("cloud scallops") << cloud << square << QPointF(104, 300) << 7.0 << true;
    QTest::newRow("cloud middle") << cloud << square << QPointF(300, 300) << 7.0 << false;
    QTest::newRow("cloud inside the band") << cloud << square << QPointF(125, 300) << 7.0 << false;
    QTest::newRow("cloud outside the band") << cloud << square << QPointF(80, 300) << 7.0 << false;
    QTest::newRow("cloud of zero height")
        << makeMark(MarkKind::Cloud, 0.1, 0.5, 0.5, 0.5) << square << QPointF(300, 500) << 7.0 << false;

    // Box 200…400 × 200…300 px, default tip (0.3, 0.42): pointer from (300, 300) to (300, 420).
    const Mark callout = makeMark(MarkKind::Callout, 0.2, 0.2, 0.4, 0.3);
    QTest::newRow("callout box") << callout << square << QPointF(250, 250) << 7.0 << true;
    QTest::newRow("callout pointer") << callout << square << QPointF(307, 360) << 7.0 << true;
    QTest::newRow("callout beside the pointer") << callout << square << QPointF(308, 360) << 7.0 << false;
    QTest::newRow("callout pointer, stroke 12")
        << withStroke(callout, 12) << square << QPointF(309, 360) << 7.0 << true;
    QTest::newRow("callout stored tip")
        << withTip(callout, 0.8, 0.25) << square << QPointF(700, 256) << 7.0 << true;
    QTest::newRow("callout beyond its tip") << callout << square << QPointF(300, 428) << 7.0 << false;

    QTest::newRow("invalid mark") << makeMark(MarkKind::FilledRectangle, 0.1, 0.1, 1.5, 0.5) << square
                                  << QPointF(300, 300) << 7.0 << false;
    QTest::newRow("invalid stroke") << withStroke(makeMark(MarkKind::FilledRectangle, 0.1, 0.1, 0.5, 0.5),
                                                  0.5)
                                    << square << QPointF(300, 300) << 7.0 << false;
    QTest::newRow("image of width 0") << makeMark(MarkKind::FilledRectangle, 0, 0, 1, 1) << QSizeF(0, 500)
                                      << QPointF(0, 250) << 7.0 << false;
    QTest::newRow("image of height 0") << makeMark(MarkKind::FilledRectangle, 0, 0, 1, 1) << QSizeF(500, 0)
                                       << QPointF(250, 0) << 7.0 << false;
    QTest::newRow("image of NaN width") << makeMark(MarkKind::FilledRectangle, 0, 0, 1, 1)
                                        << QSizeF(kNan, 500) << QPointF(0, 250) << 7.0 << false;
}

void TestMarkGeometry::contains() {
    QFETCH(Mark, mark);
    QFETCH(QSizeF, size);
    QFETCH(QPointF, point);
    QFETCH(double, tolerance);
    QFETCH(bool, expected);
    QCOMPARE(MarkGeometry::contains(mark, point, size, tolerance), expected);
}

void TestMarkGeometry::hit_data() {
    QTest::addColumn<MarkList>("marks");
    QTest::addColumn<QPointF>("point");
    QTest::addColumn<int>("expectedIndex"); // −1: none

    const Mark blurA = makeMark(MarkKind::Blur, 0.1, 0.1, 0.9, 0.9);
    const Mark arrowB = makeMark(MarkKind::Arrow, 0.1, 0.5, 0.9, 0.5);
    const Mark redactR = makeMark(MarkKind::Redact, 0.1, 0.1, 0.9, 0.9);
    const Mark boxC = makeMark(MarkKind::FilledRectangle, 0.4, 0.4, 0.6, 0.6);
    const Mark invalid = makeMark(MarkKind::FilledRectangle, 0.1, 0.1, 0.9, 2);
    const QPointF onArrow(500, 500);
    QTest::newRow("arrow over blur") << MarkList{blurA, arrowB} << onArrow << 1;
    QTest::newRow("arrow over blur, blur last") << MarkList{arrowB, blurA} << onArrow << 0;
    QTest::newRow("redaction over arrow") << MarkList{redactR, arrowB} << onArrow << 0;
    QTest::newRow("redaction over arrow, redaction last") << MarkList{arrowB, redactR} << onArrow << 1;
    QTest::newRow("later ordinary mark on top") << MarkList{arrowB, boxC} << onArrow << 1;
    QTest::newRow("earlier ordinary mark below") << MarkList{boxC, arrowB} << onArrow << 1;
    QTest::newRow("only the blur under the point") << MarkList{blurA, arrowB} << QPointF(500, 200) << 0;
    QTest::newRow("invalid mark is passed over") << MarkList{arrowB, invalid} << onArrow << 0;
    QTest::newRow("nothing under the point") << MarkList{arrowB, boxC} << QPointF(950, 950) << -1;
    QTest::newRow("empty list") << MarkList{} << onArrow << -1;
}

void TestMarkGeometry::hit() {
    QFETCH(MarkList, marks);
    QFETCH(QPointF, point);
    QFETCH(int, expectedIndex);
    const std::optional<Mark> found = MarkGeometry::hit(point, QSizeF(1000, 1000), marks);
    if (expectedIndex < 0) {
        QVERIFY(!found);
    } else {
        QVERIFY(found);
        QCOMPARE(*found, marks[expectedIndex]);
    }
}

void TestMarkGeometry::handle_data() {
    QTest::addColumn<Mark>("mark");
    QTest::addColumn<QPointF>("point");
    QTest::addColumn<std::optional<MarkHandle>>("expected");
    const Mark arrow = makeMark(MarkKind::Arrow, 0.1, 0.1, 0.5, 0.5);
    QTest::newRow("start") << arrow << QPointF(100, 100) << std::optional(MarkHandle::Start);
    QTest::newRow("start at 9 px") << arrow << QPointF(109, 100) << std::optional(MarkHandle::Start);
    QTest::newRow("start beyond 9 px") << arrow << QPointF(109.01, 100) << std::optional<MarkHandle>();
    QTest::newRow("end") << arrow << QPointF(494, 506) << std::optional(MarkHandle::End);
    QTest::newRow("middle") << arrow << QPointF(300, 300) << std::optional<MarkHandle>();
    QTest::newRow("start wins over end") << makeMark(MarkKind::Line, 0.5, 0.5, 0.505, 0.5)
                                         << QPointF(503, 500) << std::optional(MarkHandle::Start);
    // Box 200…400 × 200…300, tip stored 5 px below the start point.
    QTest::newRow("callout tip wins over start")
        << withTip(makeMark(MarkKind::Callout, 0.2, 0.2, 0.4, 0.3), 0.2, 0.205) << QPointF(200, 203)
        << std::optional(MarkHandle::Tip);
    QTest::newRow("callout default tip") << makeMark(MarkKind::Callout, 0.2, 0.2, 0.4, 0.3)
                                         << QPointF(300, 420) << std::optional(MarkHandle::Tip);
    QTest::newRow("no tip on other kinds")
        << makeMark(MarkKind::Text, 0.2, 0.2, 0.4, 0.3) << QPointF(300, 420) << std::optional<MarkHandle>();
    QTest::newRow("invalid mark still has handles") << makeMark(MarkKind::Line, 0.1, 0.1, 1.5, 0.5)
                                                    << QPointF(100, 100) << std::optional(MarkHandle::Start);
}

void TestMarkGeometry::handle() {
    QFETCH(Mark, mark);
    QFETCH(QPointF, point);
    QFETCH(std::optional<MarkHandle>, expected);
    QCOMPARE(MarkGeometry::handle(mark, point, QSizeF(1000, 1000)), expected);
}

void TestMarkGeometry::translated_data() {
    QTest::addColumn<Mark>("mark");
    QTest::addColumn<double>("dx");
    QTest::addColumn<double>("dy");
    QTest::addColumn<Mark>("expected");

    const Mark span = makeMark(MarkKind::Rectangle, 0.4, 0.2, 0.8, 0.6);
    Mark right = span;
    right.x1 = 0.6, right.x2 = 1.0;
    QTest::newRow("right, cut at the edge") << span << 0.5 << 0.0 << right;
    Mark left = span;
    left.x1 = 0.0, left.x2 = 0.4;
    QTest::newRow("left, cut at the edge") << span << -1.0 << 0.0 << left;
    Mark both = span;
    both.x1 = 0.5, both.x2 = 0.9, both.y1 = 0.0, both.y2 = 0.4;
    QTest::newRow("both axes") << span << 0.1 << -0.3 << both;

    Mark callout = makeMark(MarkKind::Callout, 0.2, 0.5, 0.4, 0.9); // default tip (0.3, 1)
    Mark calloutMoved = callout;
    calloutMoved.x1 = 0.3, calloutMoved.x2 = 0.5, calloutMoved.tipX = 0.4, calloutMoved.tipY = 1.0;
    QTest::newRow("callout held by its default tip") << callout << 0.1 << 0.1 << calloutMoved;
    Mark tipLeft = withTip(makeMark(MarkKind::Callout, 0.5, 0.1, 0.7, 0.3), 0.1, 0.5);
    Mark tipLeftMoved = tipLeft;
    tipLeftMoved.x1 = 0.4, tipLeftMoved.x2 = 0.6, tipLeftMoved.tipX = 0.0;
    QTest::newRow("callout held by its stored tip") << tipLeft << -0.5 << 0.0 << tipLeftMoved;

    const Mark invalid = makeMark(MarkKind::Line, 0.1, 0.1, 1.5, 0.5);
    QTest::newRow("invalid mark") << invalid << 0.1 << 0.1 << invalid;
    QTest::newRow("NaN dx") << span << kNan << 0.1 << span;
    QTest::newRow("infinite dy") << span << 0.1 << kInf << span;
    QTest::newRow("invalid callout keeps its default tip")
        << makeMark(MarkKind::Callout, 0.1, 0.1, 0.2, 1.2) << 0.1 << 0.0
        << makeMark(MarkKind::Callout, 0.1, 0.1, 0.2, 1.2);
}

void TestMarkGeometry::translated() {
    QFETCH(Mark, mark);
    QFETCH(double, dx);
    QFETCH(double, dy);
    QFETCH(Mark, expected);
    expected.id = mark.id;
    const Mark moved = MarkGeometry::translated(mark, dx, dy);
    // Exact equality for the unchanged cases, closeness for the arithmetic ones.
    if (expected == mark) {
        QCOMPARE(moved, mark);
        return;
    }
    QCOMPARE(moved.kind, expected.kind);
    comparePoint({moved.x1, moved.y1}, {expected.x1, expected.y1});
    comparePoint({moved.x2, moved.y2}, {expected.x2, expected.y2});
    QCOMPARE(bool(moved.tipX), bool(expected.tipX));
    QCOMPARE(bool(moved.tipY), bool(expected.tipY));
    if (expected.tipX)
        comparePoint({*moved.tipX, *moved.tipY}, {*expected.tipX, *expected.tipY});
    QVERIFY(moved.isValid());
}

// Any request on any valid mark keeps the mark valid: the clamping never leaves 0…1.
void TestMarkGeometry::translatedStaysValid() {
    QRandomGenerator random(20240611);
    const MarkKind kinds[] = {MarkKind::Arrow, MarkKind::Callout, MarkKind::Number};
    for (int i = 0; i < 20000; ++i) {
        Mark m = makeMark(kinds[i % 3], random.generateDouble(), random.generateDouble(),
                          random.generateDouble(), random.generateDouble());
        if (i % 2)
            m = withTip(m, random.generateDouble(), random.generateDouble());
        const double dx = (random.generateDouble() - 0.5) * 3;
        const double dy = (random.generateDouble() - 0.5) * 3;
        const Mark moved = MarkGeometry::translated(m, dx, dy);
        QVERIFY2(moved.isValid(), qPrintable(describe(m)));
    }
}

void TestMarkGeometry::movingHandle_data() {
    QTest::addColumn<Mark>("mark");
    QTest::addColumn<MarkHandle>("handle");
    QTest::addColumn<QPointF>("to");
    QTest::addColumn<std::optional<QSizeF>>("size");
    QTest::addColumn<Mark>("expected");

    const QSizeF wide(1000, 500);
    const Mark number = makeMark(MarkKind::Number, 0.9, 0.9, 0.92, 0.94);
    Mark cornered = number;
    cornered.x2 = 0.95, cornered.y2 = 1.0;
    QTest::newRow("number end into the corner stays square")
        << number << MarkHandle::End << QPointF(1, 1) << std::optional(wide) << cornered;
    Mark beyond = number;
    beyond.x2 = 0.95, beyond.y2 = 1.0;
    QTest::newRow("number end dragged past the image")
        << number << MarkHandle::End << QPointF(1.4, 3) << std::optional(wide) << beyond;
    const Mark middle = makeMark(MarkKind::Number, 0.45, 0.45, 0.5, 0.5);
    Mark upLeft = middle;
    upLeft.x1 = 0.2, upLeft.y1 = 0.2;
    QTest::newRow("number start up and left")
        << middle << MarkHandle::Start << QPointF(0.4, 0.2) << std::optional(QSizeF(1000, 1000)) << upLeft;
    Mark mixed = middle;
    mixed.x2 = 0.55, mixed.y2 = 0.25; // the longer drag (200 px right) sets the side; y follows upward
    QTest::newRow("number end right and slightly up")
        << middle << MarkHandle::End << QPointF(0.55, 0.44) << std::optional(QSizeF(2000, 1000)) << mixed;
    Mark noSize = number;
    noSize.x2 = 1.0, noSize.y2 = 1.0;
    QTest::newRow("number without image size")
        << number << MarkHandle::End << QPointF(1, 1) << std::optional<QSizeF>() << noSize;
    QTest::newRow("number with a zero image size")
        << number << MarkHandle::End << QPointF(1, 1) << std::optional(QSizeF(0, 500)) << noSize;

    const Mark line = makeMark(MarkKind::Line, 0.1, 0.2, 0.3, 0.4);
    Mark lineStart = line;
    lineStart.x1 = 1.0, lineStart.y1 = 0.0;
    QTest::newRow("line start clamped")
        << line << MarkHandle::Start << QPointF(1.5, -0.2) << std::optional(wide) << lineStart;
    Mark lineTip = line;
    lineTip.tipX = 0.7, lineTip.tipY = 0.8;
    QTest::newRow("tip of any kind") << line << MarkHandle::Tip << QPointF(0.7, 0.8) << std::optional(wide)
                                     << lineTip;

    const Mark text = makeMark(MarkKind::Text, 0.1, 0.2, 0.3, 0.4);
    Mark textEnd = text;
    textEnd.x2 = 0.6, textEnd.y2 = 0.7, textEnd.fixedTextBox = true;
    QTest::newRow("text end fixes the box")
        << text << MarkHandle::End << QPointF(0.6, 0.7) << std::optional(wide) << textEnd;
    const Mark callout = makeMark(MarkKind::Callout, 0.1, 0.2, 0.3, 0.4);
    Mark calloutStart = callout;
    calloutStart.x1 = 0.0, calloutStart.y1 = 0.05, calloutStart.fixedTextBox = true;
    QTest::newRow("callout start fixes the box")
        << callout << MarkHandle::Start << QPointF(-1, 0.05) << std::optional<QSizeF>() << calloutStart;
    Mark calloutTip = callout;
    calloutTip.tipX = 1.0, calloutTip.tipY = 0.5;
    QTest::newRow("callout tip leaves the box as it was")
        << callout << MarkHandle::Tip << QPointF(2, 0.5) << std::optional(wide) << calloutTip;

    const Mark invalid = makeMark(MarkKind::Line, 0.1, 0.1, 1.5, 0.5);
    QTest::newRow("invalid mark") << invalid << MarkHandle::Start << QPointF(0.5, 0.5) << std::optional(wide)
                                  << invalid;
    QTest::newRow("NaN target") << line << MarkHandle::End << QPointF(kNan, 0.5) << std::optional(wide)
                                << line;
    QTest::newRow("infinite target") << line << MarkHandle::End << QPointF(0.5, -kInf) << std::optional(wide)
                                     << line;
}

void TestMarkGeometry::movingHandle() {
    QFETCH(Mark, mark);
    QFETCH(MarkHandle, handle);
    QFETCH(QPointF, to);
    QFETCH(std::optional<QSizeF>, size);
    QFETCH(Mark, expected);
    expected.id = mark.id;
    const Mark moved = MarkGeometry::movingHandle(mark, handle, to, size);
    if (expected == mark) {
        QCOMPARE(moved, mark);
        return;
    }
    QCOMPARE(moved.fixedTextBox, expected.fixedTextBox);
    QCOMPARE(moved.tipX, expected.tipX);
    QCOMPARE(moved.tipY, expected.tipY);
    comparePoint({moved.x1, moved.y1}, {expected.x1, expected.y1});
    comparePoint({moved.x2, moved.y2}, {expected.x2, expected.y2});
    QVERIFY(moved.isValid());
    if (mark.kind == MarkKind::Number && size && size->width() > 0) {
        const QRectF disc = MarkGeometry::bounds(moved, *size);
        QVERIFY2(std::abs(disc.width() - disc.height()) < 1e-6, qPrintable(describe(moved)));
    }
}

// Dragging a number's handle anywhere, on any image, keeps it square and inside the image.
void TestMarkGeometry::movingHandleStaysValid() {
    QRandomGenerator random(7);
    for (int i = 0; i < 20000; ++i) {
        const QSizeF size(1 + random.bounded(4000), 1 + random.bounded(4000));
        const Mark m =
            MarkGeometry::numbered(QPointF(random.generateDouble(), random.generateDouble()), 1, size);
        const QPointF to((random.generateDouble() - 0.25) * 1.5, (random.generateDouble() - 0.25) * 1.5);
        const MarkHandle h = i % 2 ? MarkHandle::Start : MarkHandle::End;
        const Mark moved = MarkGeometry::movingHandle(m, h, to, size);
        QVERIFY2(moved.isValid(), qPrintable(describe(moved)));
        const QRectF disc = MarkGeometry::bounds(moved, size);
        QVERIFY2(std::abs(disc.width() - disc.height()) < 1e-6, qPrintable(describe(moved)));
    }
}

void TestMarkGeometry::calloutLine_data() {
    QTest::addColumn<Mark>("mark");
    QTest::addColumn<QPointF>("start");
    QTest::addColumn<QPointF>("end");
    const Mark box = makeMark(MarkKind::Callout, 0.2, 0.2, 0.4, 0.3); // 200…400 × 200…300
    QTest::newRow("default tip below") << box << QPointF(300, 300) << QPointF(300, 420);
    QTest::newRow("tip to the right") << withTip(box, 0.9, 0.25) << QPointF(400, 250) << QPointF(900, 250);
    QTest::newRow("tip off the corner diagonal")
        << withTip(box, 0.6, 0.45) << QPointF(375, 300) << QPointF(600, 450);
    QTest::newRow("tip inside the box") << withTip(box, 0.25, 0.22) << QPointF(250, 220) << QPointF(250, 220);
    QTest::newRow("tip at the centre") << withTip(box, 0.3, 0.25) << QPointF(300, 250) << QPointF(300, 250);
    QTest::newRow("box of zero width") << withTip(makeMark(MarkKind::Callout, 0.5, 0.2, 0.5, 0.3), 0.5, 0.5)
                                       << QPointF(500, 300) << QPointF(500, 500);
}

void TestMarkGeometry::calloutLine() {
    QFETCH(Mark, mark);
    QFETCH(QPointF, start);
    QFETCH(QPointF, end);
    const QLineF line = MarkGeometry::calloutLine(mark, QSizeF(1000, 1000));
    comparePoint(line.p1(), start);
    comparePoint(line.p2(), end);
}

void TestMarkGeometry::calloutPointerPath() {
    const QSizeF size(1000, 1000);
    const Mark box = makeMark(MarkKind::Callout, 0.2, 0.2, 0.4, 0.3);
    QVERIFY(MarkGeometry::calloutPointerPath(withTip(box, 0.25, 0.22), size).isEmpty());
    QVERIFY(MarkGeometry::calloutPointerPath(withTip(box, 0.3, 0.3005), size).isEmpty()); // 0.5 px
    QVERIFY(MarkGeometry::calloutPointerPath(withTip(box, 0.3, 1.5), size).isEmpty());    // invalid
    const QPainterPath pointer = MarkGeometry::calloutPointerPath(box, size);
    QVERIFY(!pointer.isEmpty());
    // Shaft from (300, 300) to the tip (300, 420), head strokes of max(18, 9) px back from the tip.
    const QRectF extent = pointer.boundingRect();
    QVERIFY(std::abs(extent.top() - 300) < 1e-9);
    QVERIFY(std::abs(extent.bottom() - 420) < 1e-9);
    QVERIFY(std::abs(extent.width() - 18) < 1e-9);
}

void TestMarkGeometry::arrowWings() {
    QCOMPARE(MarkGeometry::arrowHeadLength(1000), 20.0);
    QCOMPARE(MarkGeometry::arrowHeadLength(100), 9.0);
    QCOMPARE(MarkGeometry::calloutHeadLength(1000), 18.0);
    QCOMPARE(MarkGeometry::calloutHeadLength(100), 9.0);
    const double c = 20 * std::cos(std::numbers::pi / 6);
    auto [w1, w2] = MarkGeometry::arrowWings(QPointF(100, 250), QPointF(900, 250), 20);
    comparePoint(w1, QPointF(900 - c, 260));
    comparePoint(w2, QPointF(900 - c, 240));
    // Coinciding points point the head along +x.
    std::tie(w1, w2) = MarkGeometry::arrowWings(QPointF(50, 50), QPointF(50, 50), 20);
    comparePoint(w1, QPointF(50 - c, 60));
    comparePoint(w2, QPointF(50 - c, 40));
}

void TestMarkGeometry::cloudScallops_data() {
    QTest::addColumn<Mark>("mark");
    QTest::addColumn<QSizeF>("size");
    QTest::addColumn<int>("scallops");
    // 10 × 10 px on a 1000 px wide image: inset 1.8, edges of 6.4 px, at least 2 scallops each.
    QTest::newRow("10 px square") << makeMark(MarkKind::Cloud, 0.5, 0.5, 0.51, 0.51) << QSizeF(1000, 1000)
                                  << 8;
    // 400 × 200 px: inset 8, step 27; edges 384 px (14.2 → 14) and 184 px (6.8 → 7).
    QTest::newRow("400 × 200 px") << makeMark(MarkKind::Cloud, 0.1, 0.1, 0.5, 0.3) << QSizeF(1000, 1000)
                                  << 42;
    // 24 × 48 px on a 96 px image: inset 2, step 8; edges 20 px (2.5 → 3) and 44 px (5.5 → 6).
    QTest::newRow("halves round away from zero")
        << makeMark(MarkKind::Cloud, 0.25, 0.25, 0.5, 0.75) << QSizeF(96, 96) << 18;
    // 100 px image, 20 000 px tall: the long edges are cut at 200 scallops.
    QTest::newRow("at most 200 per edge")
        << makeMark(MarkKind::Cloud, 0, 0, 1, 1) << QSizeF(100, 20000) << 200 + 200 + 2 * 12;
    QTest::newRow("zero height") << makeMark(MarkKind::Cloud, 0.1, 0.5, 0.5, 0.5) << QSizeF(1000, 1000) << 0;
    QTest::newRow("point") << makeMark(MarkKind::Cloud, 0.5, 0.5, 0.5, 0.5) << QSizeF(1000, 1000) << 0;
    QTest::newRow("zero image") << makeMark(MarkKind::Cloud, 0.1, 0.1, 0.5, 0.5) << QSizeF(0, 0) << 0;
    QTest::newRow("infinite image") << makeMark(MarkKind::Cloud, 0, 0.1, 0.5, 0.5) << QSizeF(kInf, 1000) << 0;
    QTest::newRow("NaN mark") << makeMark(MarkKind::Cloud, kNan, 0.1, 0.5, 0.5) << QSizeF(1000, 1000) << 0;
    QTest::newRow("infinite mark") << makeMark(MarkKind::Cloud, kInf, 0.1, 0.5, 0.5) << QSizeF(1000, 1000)
                                   << 0;
}

void TestMarkGeometry::cloudScallops() {
    QFETCH(Mark, mark);
    QFETCH(QSizeF, size);
    QFETCH(int, scallops);
    const QPainterPath path = MarkGeometry::cloudPath(mark, size);
    QCOMPARE(curveCount(path), scallops);
    QCOMPARE(path.isEmpty(), scallops == 0);
}

// The tops of the scallops reach the edge of the mark's rectangle, and the outline starts and ends
// at the top-left corner of the inset rectangle.
void TestMarkGeometry::cloudReachesBounds() {
    const QSizeF size(1000, 1000);
    const Mark cloud = makeMark(MarkKind::Cloud, 0.5, 0.3, 0.1, 0.1);
    const QPainterPath path = MarkGeometry::cloudPath(cloud, size);
    const QRectF extent = path.boundingRect();
    const QRectF b = MarkGeometry::bounds(cloud, size);
    QVERIFY2(std::abs(extent.left() - b.left()) < 1e-6 && std::abs(extent.top() - b.top()) < 1e-6 &&
                 std::abs(extent.right() - b.right()) < 1e-6 && std::abs(extent.bottom() - b.bottom()) < 1e-6,
             qPrintable(QStringLiteral("%1 %2 %3 %4")
                            .arg(extent.left())
                            .arg(extent.top())
                            .arg(extent.right())
                            .arg(extent.bottom())));
    comparePoint(path.elementAt(0), QPointF(108, 108));
    comparePoint(path.currentPosition(), QPointF(108, 108));
}

void TestMarkGeometry::numbered_data() {
    QTest::addColumn<QPointF>("at");
    QTest::addColumn<QSizeF>("size");
    QTest::addColumn<QRectF>("box"); // normalised x1, y1, width, height
    QTest::newRow("top-left corner") << QPointF(0, 0) << QSizeF(1000, 800) << QRectF(0, 0, 0.05, 0.0625);
    QTest::newRow("bottom-right corner")
        << QPointF(1, 1) << QSizeF(1000, 800) << QRectF(0.95, 0.9375, 0.05, 0.0625);
    QTest::newRow("centred") << QPointF(0.5, 0.5) << QSizeF(1000, 800)
                             << QRectF(0.475, 0.46875, 0.05, 0.0625);
    QTest::newRow("wide short image: 0.15 of the height")
        << QPointF(0.5, 0.5) << QSizeF(1000, 100) << QRectF(0.4925, 0.425, 0.015, 0.15);
    QTest::newRow("right edge of a tall image")
        << QPointF(0.99, 0.3) << QSizeF(400, 2000) << QRectF(0.95, 0.295, 0.05, 0.01);
    QTest::newRow("image of width 0") << QPointF(0.3, 0.4) << QSizeF(0, 800) << QRectF(0.3, 0.4, 0, 0);
}

void TestMarkGeometry::numbered() {
    QFETCH(QPointF, at);
    QFETCH(QSizeF, size);
    QFETCH(QRectF, box);
    const Mark m = MarkGeometry::numbered(at, 12, size, MarkColor::Coral);
    QCOMPARE(m.kind, MarkKind::Number);
    QCOMPARE(m.number, std::optional<qint64>(12));
    QCOMPARE(m.color, std::optional(MarkColor::Coral));
    QVERIFY(!m.text && !m.strokeWidth && !m.blurRadius && !m.fixedTextBox && !m.tipX && !m.tipY);
    comparePoint({m.x1, m.y1}, box.topLeft());
    comparePoint({m.x2, m.y2}, box.bottomRight());
    QVERIFY(m.isValid());
    if (size.width() > 0) {
        const QRectF disc = MarkGeometry::bounds(m, size);
        QVERIFY(std::abs(disc.width() - disc.height()) < 1e-9);
    }
    QVERIFY(MarkGeometry::numbered(at, 12, size).id != m.id);
    QVERIFY(!MarkGeometry::numbered(at, 12, size).color);
}

QTEST_GUILESS_MAIN(TestMarkGeometry)
#include "tst_markgeometry.moc"
