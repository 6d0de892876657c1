#include "platform/SingleInstance.h"

#include <QLocalSocket>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QtConcurrent>

using namespace Qt::StringLiterals;

namespace {
constexpr int kPatienceMs = 60'000;
const QString kLogin = u"app.vellumbox.prototype://login"_s;
} // namespace

class TestSingleInstance : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init() {
        m_dir = std::make_unique<QTemporaryDir>();
        m_path = m_dir->filePath(u"vellumbox-instance"_s); // where the program looks under $XDG_RUNTIME_DIR
    }

    // A second start of the real program hands over and ends without opening a window.
    void secondStart_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QStringList>("received");
        QTest::newRow("login URL") << QStringList{kLogin} << QStringList{kLogin};
        // The running instance decides what to act on: the raw text arrives unchanged.
        QTest::newRow("upper-case scheme") << QStringList{u"APP.VELLUMBOX.PROTOTYPE://login"_s}
                                           << QStringList{u"APP.VELLUMBOX.PROTOTYPE://login"_s};
        QTest::newRow("plain reopen") << QStringList() << QStringList();
        QTest::newRow("capped in count") << QStringList(12, kLogin) << QStringList(8, kLogin);
        QTest::newRow("over-long and broken lines dropped")
            << QStringList{QString(5000, u'a'), u"a\nb"_s, kLogin} << QStringList{kLogin};
    }
    void secondStart() {
        QFETCH(QStringList, arguments);
        QFETCH(QStringList, received);
        SingleInstance running(m_path);
        QVERIFY(running.listen());
        QSignalSpy spy(&running, &SingleInstance::received);
        QProcess second;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(u"XDG_RUNTIME_DIR"_s, m_dir->path());
        environment.remove(u"DISPLAY"_s); // it must not need one
        environment.insert(u"QT_QPA_PLATFORM"_s, u"xcb"_s);
        second.setProcessEnvironment(environment);
        second.start(QStringLiteral(VELLUMBOX), arguments);
        QTRY_COMPARE_WITH_TIMEOUT(spy.count(), 1, kPatienceMs);
        QTRY_COMPARE_WITH_TIMEOUT(second.state(), QProcess::NotRunning, kPatienceMs);
        QCOMPARE(second.exitCode(), 0);
        QCOMPARE(spy.first().first().toStringList(), received);
    }

    void misbehavingClient_data() {
        QTest::addColumn<QByteArray>("message");
        QTest::newRow("endless line") << QByteArray(10'000, 'a');
        QTest::newRow("count beyond the cap") << "9\na\nb\nc\nd\ne\nf\ng\nh\ni\n"_ba;
        QTest::newRow("count not a number") << "x\n"_ba;
        QTest::newRow("line over the cap") << "1\n"_ba + QByteArray(5000, 'a') + '\n';
    }
    void misbehavingClient() {
        QFETCH(QByteArray, message);
        SingleInstance running(m_path);
        QVERIFY(running.listen());
        QSignalSpy spy(&running, &SingleInstance::received);
        QLocalSocket client;
        client.connectToServer(m_path);
        QVERIFY(client.waitForConnected(kPatienceMs));
        client.write(message);
        QTRY_COMPARE_WITH_TIMEOUT(client.state(), QLocalSocket::UnconnectedState, kPatienceMs);
        QCOMPARE(spy.count(), 0);
        // Still serving the next start (which waits for the answer, so not on this thread).
        QFuture<bool> next =
            QtConcurrent::run([path = m_path] { return SingleInstance::handOver(path, {kLogin}); });
        QTRY_COMPARE_WITH_TIMEOUT(spy.count(), 1, kPatienceMs);
        QVERIFY(next.result());
    }

    void staleSocketIsReplaced() {
        {
            SingleInstance first(m_path);
            QVERIFY(first.listen());
            QVERIFY(!SingleInstance(m_path).listen()); // taken while the first runs
        }
        QVERIFY(!SingleInstance::handOver(m_path, {kLogin}));
        QFile stale(m_path); // left behind by an instance that crashed
        QVERIFY(stale.open(QIODevice::WriteOnly));
        stale.close();
        SingleInstance next(m_path);
        QVERIFY(next.listen());
    }

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_path;
};

QTEST_GUILESS_MAIN(TestSingleInstance)
#include "tst_singleinstance.moc"
