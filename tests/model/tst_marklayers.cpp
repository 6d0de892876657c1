#include "model/AnnotationHistory.h"
#include "model/MarkLayers.h"
#include "support/MarkTestSupport.h"

#include <QTest>

#include <limits>

// Drawing order, reordering within a layer, the next number and the edit history.
class TestMarkLayers : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void renderingOrder_data();
    void renderingOrder();
    void reordered_data();
    void reordered();
    void reorderedUnchangedKeepsStoredOrder();
    void nextNumber_data();
    void nextNumber();
    void historyUndoRedo();
    void historyEqualEditChangesNothing();
    void historyDifferentLists_data();
    void historyDifferentLists();
    void historyLimit();
    void historyTrimsGivenStacks();
    void historyRedoHasNoLimit();
    void historyEmptyStacks();
    void historyRecordAfterUndoDropsRedo();
};

using Names = QList<char>;
Q_DECLARE_METATYPE(Names)

namespace {
// Fixed ids, so that marks made twice from the same arguments are equal.
QUuid fixedId(uint n) {
    return QUuid(n, 0, 0x4000, 0x80, 0, 0, 0, 0, 0, 0, 0);
}

// A mark named by one letter, carried in its text so that lists read as letter sequences.
Mark named(char name, MarkKind kind) {
    Mark m = makeMark(kind, 0.1, 0.1, 0.2, 0.2);
    m.id = fixedId(uint(name));
    m.text = QString(QLatin1Char(name));
    return m;
}

// [arrow A, blur B, redact R, text T, blur C]; drawing order [B, C, A, T, R].
MarkList sample() {
    return {named('A', MarkKind::Arrow), named('B', MarkKind::Blur), named('R', MarkKind::Redact),
            named('T', MarkKind::Text), named('C', MarkKind::Blur)};
}

Names namesOf(const MarkList &marks) {
    Names names;
    for (const Mark &m : marks)
        names.append(m.text->at(0).toLatin1());
    return names;
}

Mark numberMark(std::optional<qint64> number, MarkKind kind = MarkKind::Number) {
    Mark m = makeMark(kind, 0.1, 0.1, 0.2, 0.2);
    m.number = number;
    return m;
}

// One state of an edited list: a single number mark carrying n.
MarkList version(int n) {
    Mark m = numberMark(n);
    m.id = fixedId(1000);
    return {m};
}
} // namespace

void TestMarkLayers::renderingOrder_data() {
    QTest::addColumn<MarkList>("marks");
    QTest::addColumn<Names>("expected");
    QTest::newRow("mixed") << sample() << Names{'B', 'C', 'A', 'T', 'R'};
    QTest::newRow("empty") << MarkList{} << Names{};
    QTest::newRow("redactions first in the list")
        << MarkList{named('R', MarkKind::Redact), named('S', MarkKind::Redact), named('A', MarkKind::Arrow)}
        << Names{'A', 'R', 'S'};
    QTest::newRow("ordinary only keep their order")
        << MarkList{named('N', MarkKind::Number), named('H', MarkKind::Highlight),
                    named('L', MarkKind::Cloud)}
        << Names{'N', 'H', 'L'};
}

void TestMarkLayers::renderingOrder() {
    QFETCH(MarkList, marks);
    QFETCH(Names, expected);
    QCOMPARE(namesOf(Marks::renderingOrder(marks)), expected);
}

void TestMarkLayers::reordered_data() {
    QTest::addColumn<char>("name");
    QTest::addColumn<qsizetype>("to");
    QTest::addColumn<Names>("expected");
    const Names stored{'A', 'B', 'R', 'T', 'C'};
    QTest::newRow("only redaction to 0") << 'R' << qsizetype(0) << stored;
    QTest::newRow("text to 0 stops at its layer") << 'T' << qsizetype(0) << Names{'B', 'C', 'T', 'A', 'R'};
    QTest::newRow("text to -5") << 'T' << qsizetype(-5) << Names{'B', 'C', 'T', 'A', 'R'};
    QTest::newRow("arrow to 1000") << 'A' << qsizetype(1000) << Names{'B', 'C', 'T', 'A', 'R'};
    QTest::newRow("arrow to its layer end") << 'A' << qsizetype(3) << Names{'B', 'C', 'T', 'A', 'R'};
    QTest::newRow("text to where it is") << 'T' << qsizetype(3) << stored;
    QTest::newRow("arrow to where it is") << 'A' << qsizetype(2) << stored;
    QTest::newRow("text clamped to where it is") << 'T' << qsizetype(1000) << stored;
    QTest::newRow("blur to 0") << 'C' << qsizetype(0) << Names{'C', 'B', 'A', 'T', 'R'};
    QTest::newRow("blur to 1000 stops at its layer")
        << 'B' << qsizetype(1000) << Names{'C', 'B', 'A', 'T', 'R'};
    QTest::newRow("lowest position") << 'A' << std::numeric_limits<qsizetype>::min() << stored;
    QTest::newRow("highest position") << 'C' << std::numeric_limits<qsizetype>::max() << stored;
    QTest::newRow("lowest position moves text")
        << 'T' << std::numeric_limits<qsizetype>::min() << Names{'B', 'C', 'T', 'A', 'R'};
    QTest::newRow("unknown id") << '?' << qsizetype(0) << stored;
}

void TestMarkLayers::reordered() {
    QFETCH(char, name);
    QFETCH(qsizetype, to);
    QFETCH(Names, expected);
    const MarkList marks = sample();
    QUuid id = QUuid::createUuid();
    for (const Mark &m : marks)
        if (m.text->at(0) == QLatin1Char(name))
            id = m.id;
    const MarkList result = Marks::reordered(marks, id, to);
    QCOMPARE(namesOf(result), expected);
    // Reordering only ever moves marks; it never changes or loses one.
    QCOMPARE(result.size(), marks.size());
    for (const Mark &m : marks)
        QVERIFY(result.contains(m));
}

void TestMarkLayers::reorderedUnchangedKeepsStoredOrder() {
    QVERIFY(Marks::reordered({}, QUuid::createUuid(), 0).isEmpty());
    const MarkList single{named('A', MarkKind::Arrow)};
    QCOMPARE(Marks::reordered(single, single[0].id, 5), single);
}

void TestMarkLayers::nextNumber_data() {
    QTest::addColumn<MarkList>("marks");
    QTest::addColumn<qint64>("expected");
    const qint64 max = std::numeric_limits<qint64>::max();
    const qint64 min = std::numeric_limits<qint64>::min();
    QTest::newRow("empty") << MarkList{} << qint64(1);
    QTest::newRow("3 and absent") << MarkList{numberMark(3), numberMark(std::nullopt)} << qint64(4);
    QTest::newRow("single absent") << MarkList{numberMark(std::nullopt)} << qint64(2);
    QTest::newRow("gaps are not filled") << MarkList{numberMark(1), numberMark(5)} << qint64(6);
    QTest::newRow("largest anywhere in the list") << MarkList{numberMark(7), numberMark(2)} << qint64(8);
    QTest::newRow("other kinds ignored")
        << MarkList{numberMark(50, MarkKind::Line), numberMark(2)} << qint64(3);
    QTest::newRow("only other kinds") << MarkList{numberMark(50, MarkKind::Text)} << qint64(1);
    QTest::newRow("9999") << MarkList{numberMark(9999)} << qint64(10000);
    QTest::newRow("10000 counts as 9999") << MarkList{numberMark(10000)} << qint64(10000);
    QTest::newRow("0 counts as 9999") << MarkList{numberMark(0), numberMark(4)} << qint64(10000);
    QTest::newRow("-1 counts as 9999") << MarkList{numberMark(-1)} << qint64(10000);
    QTest::newRow("largest integer") << MarkList{numberMark(max), numberMark(3)} << qint64(10000);
    QTest::newRow("smallest integer") << MarkList{numberMark(min)} << qint64(10000);
}

void TestMarkLayers::nextNumber() {
    QFETCH(MarkList, marks);
    QFETCH(qint64, expected);
    QCOMPARE(Marks::nextNumber(marks), expected);
}

void TestMarkLayers::historyUndoRedo() {
    AnnotationHistory history;
    const MarkList before = version(1);
    const MarkList after = version(2);
    history.record(before, after);
    QCOMPARE(history.past, QList<MarkList>{before});
    QVERIFY(history.future.isEmpty());

    QCOMPARE(history.undo(after), std::optional(before));
    QVERIFY(history.past.isEmpty());
    QCOMPARE(history.future, QList<MarkList>{after});
    QVERIFY(!history.canUndo() && history.canRedo());

    QCOMPARE(history.redo(before), std::optional(after));
    QCOMPARE(history.past, QList<MarkList>{before});
    QVERIFY(history.future.isEmpty());
}

void TestMarkLayers::historyEqualEditChangesNothing() {
    AnnotationHistory history{{version(1), version(2)}, {version(5)}};
    const AnnotationHistory kept = history;
    history.record(version(3), version(3));
    QCOMPARE(history, kept);
    // Copies are equal even when every field is compared.
    const MarkList list = sample();
    history.record(list, MarkList(list));
    QCOMPARE(history, kept);
}

void TestMarkLayers::historyDifferentLists_data() {
    QTest::addColumn<MarkList>("after");
    const MarkList base = sample();
    MarkList longer = base;
    longer.append(named('X', MarkKind::Arrow));
    QTest::newRow("longer") << longer;
    QTest::newRow("shorter") << base.mid(1);
    QTest::newRow("empty") << MarkList{};
    MarkList tip = base;
    tip[4].tipX = 0.5;
    QTest::newRow("one optional field") << tip;
    MarkList colour = base;
    colour[0].color = MarkColor::Blue; // the default colour, but stored
    QTest::newRow("colour made explicit") << colour;
    MarkList id = base;
    id[2].id = QUuid::createUuid();
    QTest::newRow("id") << id;
    MarkList order = base;
    order.swapItemsAt(0, 3);
    QTest::newRow("order") << order;
}

void TestMarkLayers::historyDifferentLists() {
    QFETCH(MarkList, after);
    AnnotationHistory history{{}, {version(9)}};
    history.record(sample(), after);
    QCOMPARE(history.past, QList<MarkList>{sample()});
    QVERIFY(history.future.isEmpty());
}

void TestMarkLayers::historyLimit() {
    AnnotationHistory history;
    for (int i = 0; i < 101; ++i)
        history.record(version(i), version(i + 1));
    QCOMPARE(history.past.size(), 100);
    QCOMPARE(history.past.first(), version(1));
    QCOMPARE(history.past.last(), version(100));

    // Undoing all of it and redoing it again keeps the 100.
    MarkList current = version(101);
    while (const std::optional<MarkList> previous = history.undo(current))
        current = *previous;
    QCOMPARE(current, version(1));
    QCOMPARE(history.future.size(), 100);
    while (const std::optional<MarkList> next = history.redo(current))
        current = *next;
    QCOMPARE(current, version(101));
    QCOMPARE(history.past.size(), 100);
}

// A history made from stacks above the cap comes down to it at the next edit.
void TestMarkLayers::historyTrimsGivenStacks() {
    QList<MarkList> past;
    for (int i = 0; i < 150; ++i)
        past.append(version(i));
    AnnotationHistory history{past, {}};
    history.record(version(150), version(151));
    QCOMPARE(history.past.size(), 100);
    QCOMPARE(history.past.first(), version(51));
    QCOMPARE(history.past.last(), version(150));
}

void TestMarkLayers::historyRedoHasNoLimit() {
    QList<MarkList> past;
    for (int i = 0; i < 100; ++i)
        past.append(version(i));
    AnnotationHistory history{past, {version(200)}};
    QCOMPARE(history.redo(version(100)), std::optional(version(200)));
    QCOMPARE(history.past.size(), 101);
    QCOMPARE(history.past.last(), version(100));
}

void TestMarkLayers::historyEmptyStacks() {
    AnnotationHistory history;
    QVERIFY(!history.undo(version(1)));
    QVERIFY(!history.redo(version(1)));
    QCOMPARE(history, AnnotationHistory{});

    AnnotationHistory onlyFuture{{}, {version(2)}};
    QVERIFY(!onlyFuture.undo(version(1)));
    QCOMPARE(onlyFuture, (AnnotationHistory{{}, {version(2)}}));
    AnnotationHistory onlyPast{{version(2)}, {}};
    QVERIFY(!onlyPast.redo(version(1)));
    QCOMPARE(onlyPast, (AnnotationHistory{{version(2)}, {}}));
}

void TestMarkLayers::historyRecordAfterUndoDropsRedo() {
    AnnotationHistory history;
    history.record(version(1), version(2));
    history.record(version(2), version(3));
    QCOMPARE(history.undo(version(3)), std::optional(version(2)));
    history.record(version(2), version(4));
    QCOMPARE(history.past, (QList<MarkList>{version(1), version(2)}));
    QVERIFY(history.future.isEmpty());
    QVERIFY(!history.redo(version(4)));
}

QTEST_GUILESS_MAIN(TestMarkLayers)
#include "tst_marklayers.moc"
