#include "annotation/RecognizedText.h"

#include <QTest>

class TestRecognizedText : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void editorRect();
    void lineMark_data();
    void lineMark();
    void regions_data();
    void regions();
    void highlightMarks();
};

namespace {
RecognizedTextLine line(QRectF rect, QList<RecognizedTextWord> words = {}) {
    return RecognizedTextLine(QStringLiteral("x"), rect, std::move(words));
}
bool near(const QRectF &a, const QRectF &b) {
    return qAbs(a.x() - b.x()) < 1e-12 && qAbs(a.y() - b.y()) < 1e-12 &&
           qAbs(a.width() - b.width()) < 1e-12 && qAbs(a.height() - b.height()) < 1e-12;
}
} // namespace

void TestRecognizedText::editorRect() {
    QVERIFY(near(RecognizedTextLine::editorRect(QRectF(0.1, 0.7, 0.3, 0.1)), QRectF(0.1, 0.2, 0.3, 0.1)));
    QVERIFY(RecognizedTextLine(QStringLiteral("a"), {}).id != RecognizedTextLine(QStringLiteral("a"), {}).id);
}

void TestRecognizedText::lineMark_data() {
    QTest::addColumn<int>("kind");
    QTest::addColumn<QRectF>("lineRect");
    QTest::addColumn<QRectF>("expected"); // x1, y1 → x2, y2 as a rectangle
    QTest::newRow("cloud at the corner")
        << int(MarkKind::Cloud) << QRectF(0, 0, 0.5, 0.1) << QRectF(QPointF(0, 0), QPointF(0.515, 0.115));
    QTest::newRow("rectangle at the corner")
        << int(MarkKind::Rectangle) << QRectF(0, 0, 0.5, 0.1) << QRectF(QPointF(0, 0), QPointF(0.504, 0.104));
    QTest::newRow("cloud at the far edge") << int(MarkKind::Cloud) << QRectF(0.6, 0.95, 0.4, 0.05)
                                           << QRectF(QPointF(0.585, 0.935), QPointF(1, 1));
}

void TestRecognizedText::lineMark() {
    QFETCH(int, kind);
    QFETCH(QRectF, lineRect);
    QFETCH(QRectF, expected);
    const Mark m = line(lineRect).mark(MarkKind(kind), MarkColor::Green);
    QVERIFY(near(QRectF(QPointF(m.x1, m.y1), QPointF(m.x2, m.y2)), expected));
    QCOMPARE(m.kind, MarkKind(kind));
    QCOMPARE(m.color, MarkColor::Green);
    QVERIFY(!m.text && !m.strokeWidth && !m.blurRadius && !m.number && !m.fixedTextBox && !m.tipX && !m.tipY);
}

void TestRecognizedText::regions_data() {
    QTest::addColumn<RecognizedTextLines>("lines");
    QTest::addColumn<QPointF>("from");
    QTest::addColumn<QPointF>("to");
    QTest::addColumn<QList<QRectF>>("expected");
    const RecognizedTextWord hello{QStringLiteral("Hallo"), QRectF(0.1, 0.1, 0.1, 0.05)};
    const RecognizedTextWord world{QStringLiteral("Welt"), QRectF(0.25, 0.1, 0.1, 0.05)};
    const RecognizedTextWord far{QStringLiteral("fern"), QRectF(0.7, 0.1, 0.1, 0.05)};
    const RecognizedTextLines twoLines{line(QRectF(0.1, 0.1, 0.7, 0.05), {hello, world, far}),
                                       line(QRectF(0.1, 0.3, 0.4, 0.05))};
    QTest::newRow("two words of one line united") << twoLines << QPointF(0.12, 0.12) << QPointF(0.3, 0.13)
                                                  << QList<QRectF>{QRectF(0.1, 0.1, 0.25, 0.05)};
    QTest::newRow("backwards drag over both lines, wordless line whole")
        << twoLines << QPointF(0.3, 0.32) << QPointF(0.15, 0.12)
        << QList<QRectF>{QRectF(0.1, 0.1, 0.25, 0.05), QRectF(0.1, 0.3, 0.4, 0.05)};
    QTest::newRow("click on a word") << twoLines << QPointF(0.75, 0.12) << QPointF(0.75, 0.12)
                                     << QList<QRectF>{far.rect};
    QTest::newRow("gap between words selects nothing")
        << twoLines << QPointF(0.5, 0.12) << QPointF(0.6, 0.13) << QList<QRectF>{};
    QTest::newRow("no lines") << RecognizedTextLines{} << QPointF(0, 0) << QPointF(1, 1) << QList<QRectF>{};
}

void TestRecognizedText::regions() {
    QFETCH(RecognizedTextLines, lines);
    QFETCH(QPointF, from);
    QFETCH(QPointF, to);
    QFETCH(QList<QRectF>, expected);
    const QList<QRectF> got = TextMarkerSelection::regions(lines, from, to);
    QCOMPARE(got.size(), expected.size());
    for (qsizetype i = 0; i < got.size(); ++i)
        QVERIFY2(near(got[i], expected[i]), qPrintable(QString::number(i)));
}

void TestRecognizedText::highlightMarks() {
    const MarkList marks =
        TextMarkerSelection::marks({QRectF(0, 0.5, 0.2, 0.1), QRectF(0.9, 0.9, 0.1, 0.1)}, MarkColor::Coral);
    QCOMPARE(marks.size(), 2);
    QCOMPARE(marks[0].kind, MarkKind::Highlight);
    QCOMPARE(marks[0].color, MarkColor::Coral);
    QVERIFY(near(QRectF(QPointF(marks[1].x1, marks[1].y1), QPointF(marks[1].x2, marks[1].y2)),
                 QRectF(QPointF(0.896, 0.896), QPointF(1, 1))));
    QVERIFY(marks[0].id != marks[1].id);
}

QTEST_GUILESS_MAIN(TestRecognizedText)
#include "tst_recognizedtext.moc"
