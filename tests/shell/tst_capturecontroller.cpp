#include "platform/ForegroundWindow.h"
#include "platform/ScreenCapturePermission.h"
#include "shell/CaptureController.h"
#include "store/CollectionStore.h"

#include "support/HeldImageWrites.h"

#include <QDir>
#include <QImage>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

constexpr int kPatienceMs = 60'000;

// Stands in for vellumbox-screencapture: logs its arguments, does what FAKE_MODE says (a number: exit).
const char kFakeTool[] = R"(#!/bin/sh
echo "$@" >> "$FAKE_DIR/runs.log"
case "$FAKE_MODE" in
    write) cp "$FAKE_DIR/capture.png" "$5" ;;
    garbage) echo "no image" > "$5" ;;
    fifo) mkfifo "$5" ;;
    empty) : > "$5" ;;
    crash) kill -HUP $$ ;; # signal 1, not to be taken for exit status 1
    hang) cp "$FAKE_DIR/capture.png" "$5"; trap 'touch "$FAKE_DIR/terminated"; exit 2' TERM
        touch "$FAKE_DIR/running"; while :; do sleep 0.02; done ;;
    *) exit "$FAKE_MODE" ;;
esac
)";

// The desktop around the controller: grants only when asked, and records what happens to it.
struct Desktop : ScreenCapturePermission, ForegroundWindow {
    bool preflight() override { return false; }
    bool request() override { return granted; }
    void reactivatePrevious() override { events << u"reactivate"_s; }
    bool granted = true, modal = false;
    QStringList events;
};

} // namespace

class TestCaptureController : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init() {
        m_dir = std::make_unique<QTemporaryDir>();
        QFile tool(m_dir->filePath(u"fake-tool"_s));
        QVERIFY(tool.open(QIODevice::WriteOnly) && tool.write(kFakeTool) > 0);
        tool.close();
        QImage image(64, 48, QImage::Format_RGB32);
        image.fill(Qt::darkCyan);
        QVERIFY(tool.setPermissions(QFile::ReadOwner | QFile::ExeOwner) &&
                image.save(m_dir->filePath(u"capture.png"_s)) && QDir(m_dir->path()).mkdir(u"runtime"_s));
        qputenv("FAKE_DIR", m_dir->path().toUtf8());
        qputenv("XDG_RUNTIME_DIR", m_dir->filePath(u"runtime"_s).toUtf8());
        m_store = std::make_unique<CollectionStore>(m_dir->path());
        m_desktop = std::make_shared<Desktop>();
    }

    void toolOutcome_data() {
        QTest::addColumn<QByteArray>("mode");
        QTest::addColumn<QString>("status"); // part of the status text
        QTest::addColumn<QString>("error");  // part of the error text; empty: no error
        QTest::newRow("file written") << "write"_ba << u"hinzugefügt"_s << QString();
        QTest::newRow("no file, exit 0") << "0"_ba << u"Keine Aufnahme"_s << QString();
        QTest::newRow("no file, exit 1") << "1"_ba << u"Keine Aufnahme"_s << QString();
        QTest::newRow("no file, exit 2") << "2"_ba << u"fehlgeschlagen"_s << QString();
        QTest::newRow("refused") << "3"_ba << u"Keine Aufnahme"_s << CaptureController::permissionText;
        QTest::newRow("crash") << "crash"_ba << u"fehlgeschlagen"_s << QString();
        QTest::newRow("not an image") << "garbage"_ba << u"Bereich ziehen"_s << u"Bild"_s;
        // Reading either must neither block nor blame the size.
        QTest::newRow("pipe at the path") << "fifo"_ba << u"Bereich ziehen"_s << u"nicht gelesen"_s;
        QTest::newRow("empty file") << "empty"_ba << u"Bereich ziehen"_s << u"nicht gelesen"_s;
        QTest::newRow("missing tool") << "missing"_ba << u"Bereich ziehen"_s << u"nicht gestartet"_s;
    }
    void toolOutcome() {
        QFETCH(QByteArray, mode);
        QFETCH(QString, status);
        QFETCH(QString, error);
        qputenv("FAKE_MODE", mode);
        auto capture = controller(mode == "missing" ? u"no-such-tool"_s : u"fake-tool"_s);
        // Left from an earlier refusal: a capture that gets under way clears it.
        m_store->setNeedsScreenCapturePermission(true);
        capture->start();
        capture->start(); // ignored: a capture is under way
        // All but the tool happens at once; the tool waits for the delay, until our windows are gone.
        QVERIFY(m_store->isCapturing());
        QCoreApplication::processEvents();
        QVERIFY(capture->findChildren<QProcess *>().isEmpty());
        QTRY_COMPARE_WITH_TIMEOUT(m_desktop->events.join(u' '), u"hide reactivate finished"_s, kPatienceMs);
        QVERIFY(!m_store->isCapturing());
        QVERIFY2(m_store->status().contains(status), qPrintable(m_store->status()));
        const QString shown = m_store->error();
        QVERIFY2(error.isEmpty() ? shown.isEmpty() : shown.contains(error), qPrintable(shown));
        QCOMPARE(m_store->needsScreenCapturePermission(), shown == CaptureController::permissionText);
        QCOMPARE(snips(), mode == "write");
        // Into a folder only we may enter, in $XDG_RUNTIME_DIR, under an unguessable name, removed after.
        const QString folder = capture->temporaryFolder();
        QCOMPARE(QFileInfo(folder).permissions() & 0x77, QFile::Permissions()); // none for group or others
        QVERIFY(QDir(folder).isEmpty(QDir::Files | QDir::Hidden));
        const QRegularExpression arguments(
            u"^-i -x -t png "_s + QRegularExpression::escape(m_dir->filePath(u"runtime/"_s)) +
            u"[^/]+/vellumbox-[0-9A-F]{8}(-[0-9A-F]{4}){3}-[0-9A-F]{12}\\.png$"_s);
        QCOMPARE(runs().size(), mode == "missing" ? 0 : 1);
        QCOMPARE(runs().filter(arguments), runs());
    }

    void refusedStart_data() {
        QTest::addColumn<QString>("reason");
        for (const QString &reason : {u"exporting"_s, u"modal window"_s, u"permission"_s})
            QTest::newRow(qPrintable(reason)) << reason;
    }
    void refusedStart() {
        QFETCH(QString, reason);
        m_store->setIsExporting(reason == u"exporting");
        m_desktop->modal = reason == u"modal window";
        m_desktop->granted = reason != u"permission";
        controller()->start();
        QVERIFY(!m_store->isCapturing());
        QCOMPARE(m_desktop->events, reason == u"permission" ? QStringList{u"finished"_s} : QStringList());
        QCOMPARE(m_store->needsScreenCapturePermission(), reason == u"permission");
    }

    // cancel() may come at any step of a capture. Once the store takes the image in, the capture
    // is kept and counts as running until it has landed.
    void cancel_data() {
        QTest::addColumn<QString>("step");
        QTest::newRow("during the delay") << u"delay"_s;
        QTest::newRow("while the tool runs") << u"tool"_s;
        QTest::newRow("while the store takes the image in") << u"store"_s;
    }
    void cancel() {
        QFETCH(QString, step);
        qputenv("FAKE_MODE", step == u"tool" ? "hang" : "write");
        HeldImageWrites writes;
        if (step != u"store")
            writes.release();
        m_store->setFileWriter(writes.writer());
        const QString before = m_store->status();
        auto capture = controller();
        capture->start();
        if (step == u"tool")
            QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(m_dir->filePath(u"running"_s)), kPatienceMs);
        if (step == u"store")
            QTRY_COMPARE_WITH_TIMEOUT(writes.waiting(), 1, kPatienceMs);
        capture->cancel();
        QCOMPARE(m_store->isCapturing(), step == u"store");
        if (step == u"store") {
            capture->start(); // refused: the first capture has not landed yet
            capture->cancel();
            writes.release();
            QTRY_VERIFY_WITH_TIMEOUT(!m_store->isCapturing(), kPatienceMs);
            QCOMPARE(snips(), 1);
            QCOMPARE(m_desktop->events, (QStringList{u"hide"_s, u"reactivate"_s}));
        } else {
            QCOMPARE(m_store->status(), before); // without a round nothing else names the state
        }
        // The next capture's tool starts after the first one's would have, or after it was ended: the
        // cancelled one leaves nothing behind, not even the file its tool had written.
        qputenv("FAKE_MODE", "write");
        capture->start();
        QTRY_COMPARE_WITH_TIMEOUT(m_desktop->events.count(u"finished"_s), 1, kPatienceMs);
        QTRY_VERIFY_WITH_TIMEOUT(QDir(capture->temporaryFolder()).isEmpty(QDir::Files), kPatienceMs);
        QCOMPARE(snips(), step == u"store" ? 2 : 1);
        QCOMPARE(QFile::exists(m_dir->filePath(u"terminated"_s)), step == u"tool");
        const QStringList runs = this->runs(); // a new file name each time
        QCOMPARE(QSet<QString>(runs.begin(), runs.end()).size(), step == u"delay" ? 1 : 2);
    }

    // Pausing while the store takes a capture in: the snip is kept, the round stays paused, and
    // what refuses during a capture refuses until the capture has landed. The status is the one
    // the pause left, or without a round the one from before the capture.
    void pauseWhileStoring_data() {
        QTest::addColumn<bool>("round");
        QTest::newRow("round running") << true;
        QTest::newRow("no round") << false;
    }
    void pauseWhileStoring() {
        QFETCH(bool, round);
        qputenv("FAKE_MODE", "write");
        HeldImageWrites writes;
        m_store->setFileWriter(writes.writer());
        const QUuid collection = m_store->collections().first().id;
        if (round)
            QVERIFY(m_store->resumeCollection(collection));
        const QString before = m_store->status();
        auto capture = controller();
        capture->start();
        QTRY_COMPARE_WITH_TIMEOUT(writes.waiting(), 1, kPatienceMs);
        capture->cancel(); // what "Pausieren", sleep and the screen lock do
        m_store->pauseSession();
        QVERIFY(!m_store->finishSession());
        QVERIFY(!m_store->resumeCollection(collection));
        writes.release();
        QTRY_VERIFY_WITH_TIMEOUT(!m_store->isCapturing(), kPatienceMs);
        QCOMPARE(m_store->collections().first().items.size(), 1);
        QCOMPARE(m_store->session(),
                 round ? OptionalCaptureSession(CaptureSession{collection, true}) : OptionalCaptureSession());
        QCOMPARE(m_store->status(), round ? u"Sammelrunde pausiert"_s : before);
        QCOMPARE(m_desktop->events, (QStringList{u"hide"_s, u"reactivate"_s})); // no finished()
        QCOMPARE(m_store->finishSession(), round);
        QVERIFY(!m_store->session());
    }

private:
    std::unique_ptr<CaptureController> controller(const QString &tool = u"fake-tool"_s) {
        const auto desktop = m_desktop;
        return std::make_unique<CaptureController>(
            m_store.get(), [desktop] { desktop->events << u"hide"_s; },
            [desktop] { desktop->events << u"finished"_s; },
            CaptureController::Seams{
                m_dir->filePath(tool), desktop, desktop, [desktop] { return desktop->modal; }, {}});
    }
    qsizetype snips() const { return QDir(m_store->imagesDirectory()).entryList(QDir::Files).size(); }
    QStringList runs() const {
        QFile log(m_dir->filePath(u"runs.log"_s));
        log.open(QIODevice::ReadOnly);
        return QString::fromUtf8(log.readAll()).split(u'\n', Qt::SkipEmptyParts);
    }

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<CollectionStore> m_store;
    std::shared_ptr<Desktop> m_desktop;
};

QTEST_MAIN(TestCaptureController)
#include "tst_capturecontroller.moc"
