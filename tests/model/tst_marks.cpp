#include "model/Mark.h"
#include "support/MarkTestSupport.h"

#include <QTest>

class TestMarks : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void validity_data();
    void validity();
};

namespace {
// A valid callout with one field changed.
template <typename Field, typename Value> Mark with(Field Mark::*field, Value value) {
    Mark m = mk(MarkKind::Callout, 0.1, 0.2, 0.3, 0.4);
    m.*field = value;
    return m;
}
} // namespace

void TestMarks::validity_data() {
    QTest::addColumn<Mark>("mark");
    QTest::addColumn<bool>("valid");
    QTest::newRow("x2 just above 1") << with(&Mark::x2, 1.0000001) << false;
    QTest::newRow("x1 NaN") << with(&Mark::x1, qQNaN()) << false;
    QTest::newRow("stroke 1") << with(&Mark::strokeWidth, 1.0) << true;
    QTest::newRow("stroke 12") << with(&Mark::strokeWidth, 12.0) << true;
    QTest::newRow("stroke 0.99") << with(&Mark::strokeWidth, 0.99) << false;
    QTest::newRow("stroke 12.01") << with(&Mark::strokeWidth, 12.01) << false;
    QTest::newRow("stroke NaN") << with(&Mark::strokeWidth, qQNaN()) << false;
    QTest::newRow("blur 4") << with(&Mark::blurRadius, 4.0) << true;
    QTest::newRow("blur 40") << with(&Mark::blurRadius, 40.0) << true;
    QTest::newRow("blur 3.99") << with(&Mark::blurRadius, 3.99) << false;
    QTest::newRow("blur 40.01") << with(&Mark::blurRadius, 40.01) << false;
    QTest::newRow("blur infinite") << with(&Mark::blurRadius, qInf()) << false;
    QTest::newRow("number 1") << with(&Mark::number, 1) << true;
    QTest::newRow("number 9999") << with(&Mark::number, 9999) << true;
    QTest::newRow("number 0") << with(&Mark::number, 0) << false;
    QTest::newRow("number 10000") << with(&Mark::number, 10000) << false;
    QTest::newRow("number 2^32 + 1") << with(&Mark::number, (qint64(1) << 32) + 1) << false;
    QTest::newRow("tipY 1.5") << with(&Mark::tipY, 1.5) << false;
}

void TestMarks::validity() {
    QFETCH(Mark, mark);
    QFETCH(bool, valid);
    QCOMPARE(mark.isValid(), valid);
}

QTEST_GUILESS_MAIN(TestMarks)
#include "tst_marks.moc"
