#include "model/AnnotationHistory.h"
#include "model/MarkLayers.h"
#include "support/MarkTestSupport.h"

#include <QHash>
#include <QTest>

#include <limits>

class TestMarkLayers : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void renderingOrder();
    void reordered_data();
    void reordered();
    void nextNumber_data();
    void nextNumber();
    void history();
};

namespace {
// Marks named by one letter each, kept in the id: B and C are blurs, R and S redactions, any other
// letter a number mark (an ordinary mark).
MarkList marks(const char *names) {
    static const QHash<char, MarkKind> kinds{
        {'B', MarkKind::Blur}, {'C', MarkKind::Blur}, {'R', MarkKind::Redact}, {'S', MarkKind::Redact}};
    MarkList list;
    for (const char *c = names; *c; ++c) {
        list << mk(kinds.value(*c, MarkKind::Number), 0.1, 0.1, 0.2, 0.2);
        list.last().id = QUuid(uint(*c), 0, 0x4000, 0x80, 0, 0, 0, 0, 0, 0, 0);
    }
    return list;
}

QString namesOf(const MarkList &list) {
    QString names;
    for (const Mark &m : list)
        names += QChar(m.id.data1);
    return names;
}

Mark numbered(std::optional<qint64> number, const char *name = "N") {
    Mark m = marks(name).first();
    m.number = number;
    return m;
}

MarkList version(int n) {
    return {numbered(n)};
}
} // namespace

void TestMarkLayers::renderingOrder() {
    QCOMPARE(namesOf(Marks::renderingOrder(marks("ABRTC"))), "BCATR");
    QCOMPARE(namesOf(Marks::renderingOrder(marks("RSAN"))), "ANRS");
}

void TestMarkLayers::reordered_data() {
    QTest::addColumn<char>("name");
    QTest::addColumn<qsizetype>("to");
    QTest::addColumn<QString>("expected");
    // Of the stored ABRTC, drawn BCATR: a move returns the drawing order, no move the stored order.
    QTest::newRow("T to 0 stops at its layer") << 'T' << qsizetype(0) << "BCTAR";
    QTest::newRow("T to the lowest position") << 'T' << std::numeric_limits<qsizetype>::min() << "BCTAR";
    QTest::newRow("A to 1000 stops at its layer") << 'A' << qsizetype(1000) << "BCTAR";
    QTest::newRow("blur to 1000 stops at its layer") << 'B' << qsizetype(1000) << "CBATR";
    QTest::newRow("only redaction to 0") << 'R' << qsizetype(0) << "ABRTC";
    QTest::newRow("T clamped to where it is") << 'T' << std::numeric_limits<qsizetype>::max() << "ABRTC";
    QTest::newRow("unknown id") << 'X' << qsizetype(0) << "ABRTC";
}

void TestMarkLayers::reordered() {
    QFETCH(char, name);
    QFETCH(qsizetype, to);
    QFETCH(QString, expected);
    const char id[] = {name, 0};
    QCOMPARE(namesOf(Marks::reordered(marks("ABRTC"), marks(id).first().id, to)), expected);
}

void TestMarkLayers::nextNumber_data() {
    QTest::addColumn<MarkList>("marks");
    QTest::addColumn<qint64>("expected");
    const auto row = [](const char *name, const MarkList &list, qint64 expected) {
        QTest::newRow(name) << list << expected;
    };
    row("none", marks("BR"), 1);
    row("absent counts as 1", {numbered(std::nullopt)}, 2);
    row("largest, gaps not filled", {numbered(7), numbered(std::nullopt), numbered(2)}, 8);
    row("other kinds ignored", {numbered(50, "B"), numbered(2)}, 3);
    row("0 counts for nothing", {numbered(0), numbered(4)}, 5);
    row("0 alone", {numbered(0)}, 1);
    row("negative", {numbered(-3), numbered(std::nullopt)}, 2);
    row("9999", {numbered(9999)}, 10000);
    row("largest integer", {numbered(std::numeric_limits<qint64>::max())}, 10000);
    row("smallest integer", {numbered(std::numeric_limits<qint64>::min()), numbered(2)}, 3);
}

void TestMarkLayers::nextNumber() {
    QFETCH(MarkList, marks);
    QFETCH(qint64, expected);
    QCOMPARE(Marks::nextNumber(marks), expected);
}

void TestMarkLayers::history() {
    AnnotationHistory h;
    QVERIFY(!h.undo(version(1)) && !h.redo(version(1)));
    h.record(version(1), version(2));
    h.record(version(2), version(3));
    QCOMPARE(h.undo(version(3)), version(2));
    const AnnotationHistory kept = h;
    h.record(version(2), version(2)); // no change: the redo stack survives
    QCOMPARE(h, kept);
    QCOMPARE(h.redo(version(2)), version(3));
    QCOMPARE(h.undo(version(3)), version(2));
    MarkList explicitColor = version(2);
    explicitColor[0].color = MarkColor::Blue; // the default colour, but now stored: a change
    h.record(version(2), explicitColor);
    QCOMPARE(h.past, (QList<MarkList>{version(1), version(2)}));
    QVERIFY(!h.redo(explicitColor));

    h = {};
    for (int i = 0; i < 101; ++i)
        h.record(version(i), version(i + 1));
    QCOMPARE(h.past.size(), 100);
    QCOMPARE(h.past.first(), version(1));
    MarkList current = version(101); // undoing everything and redoing it keeps all 100 steps
    while (const auto previous = h.undo(current))
        current = *previous;
    QCOMPARE(current, version(1));
    while (const auto next = h.redo(current))
        current = *next;
    QCOMPARE(h.past.size(), 100);
    // Redo applies no cap; the next edit trims the stack down to it, oldest first.
    h.future = {version(200)};
    QCOMPARE(h.redo(current), version(200));
    QCOMPARE(h.past.size(), 101);
    h.record(version(200), version(201));
    QCOMPARE(h.past.size(), 100);
    QCOMPARE(h.past.first(), version(3));
}

QTEST_GUILESS_MAIN(TestMarkLayers)
#include "tst_marklayers.moc"
