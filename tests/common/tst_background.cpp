#include "common/Background.h"

#include <QSignalSpy>
#include <QTest>

#include <atomic>
#include <stdexcept>
#include <vector>

class TestBackground : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void parallelForRunsEveryIndexOnce_data();
    void parallelForRunsEveryIndexOnce();
    void nestedOnASaturatedPool();
    void firstFailureRethrownAfterTheRest();
    void resultReachesTheMainThread();
    void resultDroppedWhenReceiverIsGone();
};

void TestBackground::parallelForRunsEveryIndexOnce_data() {
    QTest::addColumn<int>("count");
    QTest::newRow("none") << 0;
    QTest::newRow("one") << 1;
    QTest::newRow("many") << 1000;
}

void TestBackground::parallelForRunsEveryIndexOnce() {
    QFETCH(int, count);
    std::vector<std::atomic<int>> hits(static_cast<std::size_t>(count));
    Background::parallelFor(count, [&](int i) { hits[i].fetch_add(1); });
    for (int i = 0; i < count; ++i)
        QCOMPARE(hits[i].load(), 1);
}

// Every pool thread busy inside a parallelFor of its own must still finish: the callers do the work.
void TestBackground::nestedOnASaturatedPool() {
    const int threads = Background::pool()->maxThreadCount();
    std::atomic<int> total{0};
    Background::parallelFor(threads * 2,
                            [&](int) { Background::parallelFor(50, [&](int) { total.fetch_add(1); }); });
    QCOMPARE(total.load(), threads * 2 * 50);
}

void TestBackground::firstFailureRethrownAfterTheRest() {
    std::atomic<int> finished{0};
    bool thrown = false;
    try {
        Background::parallelFor(200, [&](int i) {
            if (i == 7)
                throw std::runtime_error("seven");
            finished.fetch_add(1);
        });
    } catch (const std::runtime_error &) {
        thrown = true;
    }
    QVERIFY(thrown);
    QCOMPARE(finished.load(), 199);
}

void TestBackground::resultReachesTheMainThread() {
    QObject receiver;
    QThread *seen = nullptr;
    int value = 0;
    Background::run(
        &receiver, [] { return 42; },
        [&](int v) {
            value = v;
            seen = QThread::currentThread();
        });
    QTRY_COMPARE(value, 42);
    QCOMPARE(seen, QThread::currentThread());
}

void TestBackground::resultDroppedWhenReceiverIsGone() {
    auto *receiver = new QObject;
    std::atomic<bool> release{false};
    bool delivered = false;
    Background::run(
        receiver,
        [&] {
            while (!release.load())
                QThread::msleep(1);
        },
        [&] { delivered = true; });
    delete receiver;
    release = true;
    Background::pool()->waitForDone();
    QCoreApplication::processEvents();
    QVERIFY(!delivered);
}

QTEST_GUILESS_MAIN(TestBackground)
#include "tst_background.moc"
