#include "platform/ForegroundWindow.h"
#include "platform/ScreenCapturePermission.h"
#include "shell/CaptureController.h"
#include "store/CollectionStore.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

namespace {

constexpr int kPatienceMs = 60'000;
const QString kSelectRegion = QStringLiteral("Bereich ziehen · Esc zum Abbrechen");
const QString kNothingCaptured = QStringLiteral("Keine Aufnahme · bereit für den nächsten Ausschnitt");
const QString kCaptureFailed = QStringLiteral("Aufnahme fehlgeschlagen · bitte erneut versuchen");
const QString kAdded = QStringLiteral("Ausschnitt hinzugefügt · bereit für den nächsten");

// Stands in for vellumbox-screencapture. Every run appends its arguments to runs.log; what it
// does comes from the environment the test sets before the run starts.
const char kFakeTool[] = R"(#!/bin/sh
printf '%s|' "$@" >> "$FAKE_DIR/runs.log"
echo >> "$FAKE_DIR/runs.log"
case "$FAKE_MODE" in
    write) cp "$FAKE_DIR/capture.png" "$5"; exit "$FAKE_EXIT" ;;
    garbage) echo "no image" > "$5"; exit 0 ;;
    exit) exit "$FAKE_EXIT" ;;
    crash) kill -SEGV $$ ;;
    hang)
        cp "$FAKE_DIR/capture.png" "$5"
        trap 'echo terminated >> "$FAKE_DIR/terminated.log"; exit 2' TERM
        : > "$FAKE_DIR/running"
        while :; do sleep 0.02; done ;;
esac
)";

struct Permission : ScreenCapturePermission {
    bool preflightAnswer = true;
    bool requestAnswer = true;
    int requests = 0;
    bool preflight() override { return preflightAnswer; }
    bool request() override {
        ++requests;
        return requestAnswer;
    }
};

struct Foreground : ForegroundWindow {
    QStringList *events = nullptr;
    void reactivatePrevious() override { events->append(QStringLiteral("reactivate")); }
};

} // namespace

class TestCaptureController : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup();
    void toolOutcome_data();
    void toolOutcome();
    void argumentsAndTemporaryFile();
    void startsAfterTheDelay();
    void guards_data();
    void guards();
    void permission_data();
    void permission();
    void missingTool();
    void cancelDuringDelay();
    void cancelWhileRunning();
    void newCaptureAfterCancel();

private:
    std::unique_ptr<CaptureController> makeController(const QString &tool = {});
    void setMode(const QString &mode, int exit = 0) {
        qputenv("FAKE_MODE", mode.toUtf8());
        qputenv("FAKE_EXIT", QByteArray::number(exit));
    }
    QStringList runs() const {
        QFile log(m_dir->filePath(QStringLiteral("runs.log")));
        if (!log.open(QIODevice::ReadOnly))
            return {};
        return QString::fromUtf8(log.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    }
    int snipCount() const {
        int count = 0;
        for (const SnipCollection &collection : m_store->collections())
            count += int(collection.items.size());
        return count;
    }
    QStringList temporaryFiles(const CaptureController &controller) const {
        return controller.temporaryFolder().isEmpty()
                   ? QStringList{}
                   : QDir(controller.temporaryFolder()).entryList(QDir::Files | QDir::Hidden);
    }

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<CollectionStore> m_store;
    std::shared_ptr<Permission> m_permission;
    QStringList m_events;
    int m_finished = 0;
    bool m_modal = false;
};

void TestCaptureController::init() {
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    QFile tool(m_dir->filePath(QStringLiteral("fake-tool")));
    QVERIFY(tool.open(QIODevice::WriteOnly));
    tool.write(kFakeTool);
    tool.close();
    tool.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    QImage image(64, 48, QImage::Format_RGB32);
    image.fill(Qt::darkCyan);
    QVERIFY(image.save(m_dir->filePath(QStringLiteral("capture.png"))));
    QVERIFY(QDir(m_dir->path()).mkdir(QStringLiteral("runtime")));
    QVERIFY(QDir(m_dir->path()).mkdir(QStringLiteral("library")));
    qputenv("FAKE_DIR", m_dir->path().toUtf8());
    qputenv("XDG_RUNTIME_DIR", m_dir->filePath(QStringLiteral("runtime")).toUtf8());
    setMode(QStringLiteral("write"));
    m_store = std::make_unique<CollectionStore>(m_dir->filePath(QStringLiteral("library")));
    m_permission = std::make_shared<Permission>();
    m_events.clear();
    m_finished = 0;
    m_modal = false;
}

void TestCaptureController::cleanup() {
    m_store.reset();
}

std::unique_ptr<CaptureController> TestCaptureController::makeController(const QString &tool) {
    CaptureController::Seams seams;
    seams.toolPath = tool.isEmpty() ? m_dir->filePath(QStringLiteral("fake-tool")) : tool;
    seams.permission = m_permission;
    auto foreground = std::make_shared<Foreground>();
    foreground->events = &m_events;
    seams.foreground = foreground;
    seams.hasModalWindow = [this] { return m_modal; };
    return std::make_unique<CaptureController>(
        m_store.get(), [this] { m_events.append(QStringLiteral("hide")); },
        [this] {
            ++m_finished;
            m_events.append(QStringLiteral("finished"));
        },
        seams);
}

void TestCaptureController::toolOutcome_data() {
    QTest::addColumn<QString>("mode");
    QTest::addColumn<int>("exit");
    QTest::addColumn<int>("snips");
    QTest::addColumn<QString>("status");
    QTest::addColumn<bool>("error");
    QTest::addColumn<bool>("needsPermission");
    QTest::newRow("file written") << "write" << 0 << 1 << kAdded << false << false;
    QTest::newRow("file written, odd status") << "write" << 2 << 1 << kAdded << false << false;
    QTest::newRow("no file, status 0") << "exit" << 0 << 0 << kNothingCaptured << false << false;
    QTest::newRow("no file, status 1") << "exit" << 1 << 0 << kNothingCaptured << false << false;
    QTest::newRow("no file, status 2") << "exit" << 2 << 0 << kCaptureFailed << false << false;
    QTest::newRow("no file, status 70") << "exit" << 70 << 0 << kCaptureFailed << false << false;
    QTest::newRow("desktop refused") << "exit" << 3 << 0 << kNothingCaptured << true << true;
    QTest::newRow("crash") << "crash" << 0 << 0 << kCaptureFailed << false << false;
    QTest::newRow("not an image") << "garbage" << 0 << 0 << kSelectRegion << true << false;
}

void TestCaptureController::toolOutcome() {
    QFETCH(QString, mode);
    QFETCH(int, exit);
    QFETCH(int, snips);
    QFETCH(QString, status);
    QFETCH(bool, error);
    QFETCH(bool, needsPermission);
    setMode(mode, exit);
    auto controller = makeController();
    controller->start();
    QVERIFY(m_store->isCapturing());
    QTRY_COMPARE_WITH_TIMEOUT(m_finished, 1, kPatienceMs);
    QVERIFY(!m_store->isCapturing());
    QCOMPARE(snipCount(), snips);
    QCOMPARE(m_store->status(), status);
    QCOMPARE(!m_store->error().isEmpty(), error);
    if (needsPermission)
        QCOMPARE(m_store->error(), CaptureController::permissionText);
    QCOMPARE(m_store->needsScreenCapturePermission(), needsPermission);
    QCOMPARE(temporaryFiles(*controller), QStringList{});
    QCOMPARE(m_events, (QStringList{"hide", "reactivate", "finished"}));
}

void TestCaptureController::argumentsAndTemporaryFile() {
    auto controller = makeController();
    for (int capture = 1; capture <= 2; ++capture) {
        controller->start();
        QTRY_COMPARE_WITH_TIMEOUT(m_finished, capture, kPatienceMs);
    }
    const QStringList all = runs();
    QCOMPARE(all.size(), 2);
    QStringList paths;
    for (const QString &run : all) {
        const QStringList arguments = run.split(QLatin1Char('|'), Qt::SkipEmptyParts);
        QCOMPARE(arguments.mid(0, 4), (QStringList{"-i", "-x", "-t", "png"}));
        QCOMPARE(arguments.size(), 5);
        paths << arguments.at(4);
    }
    QVERIFY(paths.at(0) != paths.at(1));
    const QRegularExpression name(
        QStringLiteral("^vellumbox-[0-9A-F]{8}(-[0-9A-F]{4}){3}-[0-9A-F]{12}\\.png$"));
    const QFileInfo folder(controller->temporaryFolder());
    for (const QString &path : paths) {
        const QFileInfo file(path);
        QVERIFY2(name.match(file.fileName()).hasMatch(), qPrintable(file.fileName()));
        QCOMPARE(file.absolutePath(), folder.absoluteFilePath());
        QVERIFY(!file.exists());
    }
    QCOMPARE(folder.absolutePath(), QDir(m_dir->filePath(QStringLiteral("runtime"))).absolutePath());
    QCOMPARE(folder.permissions() & (QFile::ReadGroup | QFile::WriteGroup | QFile::ExeGroup |
                                     QFile::ReadOther | QFile::WriteOther | QFile::ExeOther),
             QFile::Permissions());
    QCOMPARE(snipCount(), 2);
}

void TestCaptureController::startsAfterTheDelay() {
    auto controller = makeController();
    controller->start();
    // Everything before the tool happens at once; the tool only once the windows are gone.
    QVERIFY(m_store->isCapturing());
    QCOMPARE(m_store->status(), kSelectRegion);
    QCOMPARE(m_events, (QStringList{"hide", "reactivate"}));
    QCOMPARE(runs(), QStringList{});
    QTRY_COMPARE_WITH_TIMEOUT(m_finished, 1, kPatienceMs);
    QCOMPARE(runs().size(), 1);
}

void TestCaptureController::guards_data() {
    QTest::addColumn<QString>("busy");
    QTest::newRow("capturing") << "capturing";
    QTest::newRow("exporting") << "exporting";
    QTest::newRow("modal window") << "modal";
}

void TestCaptureController::guards() {
    QFETCH(QString, busy);
    auto controller = makeController();
    m_store->setIsCapturing(busy == QLatin1String("capturing"));
    m_store->setIsExporting(busy == QLatin1String("exporting"));
    m_modal = busy == QLatin1String("modal");
    const QString status = m_store->status();
    controller->start();
    QCOMPARE(m_events, QStringList{});
    QCOMPARE(m_store->status(), status);
    QCOMPARE(m_permission->requests, 0);
    controller->cancel(); // nothing to cancel; must not trip over the missing process
    QCOMPARE(m_finished, 0);
}

void TestCaptureController::permission_data() {
    QTest::addColumn<bool>("preflight");
    QTest::addColumn<bool>("request");
    QTest::addColumn<bool>("starts");
    QTest::newRow("granted") << true << true << true;
    QTest::newRow("granted when asked") << false << true << true;
    QTest::newRow("refused") << false << false << false;
}

void TestCaptureController::permission() {
    QFETCH(bool, preflight);
    QFETCH(bool, request);
    QFETCH(bool, starts);
    m_permission->preflightAnswer = preflight;
    m_permission->requestAnswer = request;
    m_store->setNeedsScreenCapturePermission(true);
    const QString status = m_store->status();
    auto controller = makeController();
    controller->start();
    QCOMPARE(m_store->isCapturing(), starts);
    QCOMPARE(m_store->needsScreenCapturePermission(), !starts);
    if (!starts) {
        QCOMPARE(m_store->error(), CaptureController::permissionText);
        QCOMPARE(m_store->status(), status);
        QCOMPARE(m_events, QStringList{"finished"});
        return;
    }
    QTRY_COMPARE_WITH_TIMEOUT(m_finished, 1, kPatienceMs);
    QCOMPARE(snipCount(), 1);
}

void TestCaptureController::missingTool() {
    auto controller = makeController(m_dir->filePath(QStringLiteral("no-such-tool")));
    controller->start();
    QTRY_COMPARE_WITH_TIMEOUT(m_finished, 1, kPatienceMs);
    QVERIFY(!m_store->isCapturing());
    QVERIFY(m_store->error().startsWith(QStringLiteral("Aufnahme konnte nicht gestartet werden: ")));
    QCOMPARE(m_store->status(), kSelectRegion);
    // The next attempt is not blocked by the failed one.
    controller->start();
    QVERIFY(m_store->isCapturing());
    QTRY_COMPARE_WITH_TIMEOUT(m_finished, 2, kPatienceMs);
}

void TestCaptureController::cancelDuringDelay() {
    auto controller = makeController();
    controller->start();
    controller->cancel();
    QVERIFY(!m_store->isCapturing());
    // A second capture: its delayed step comes after the first one's, so once it has run the
    // first one has had its chance to start a tool, and must not have.
    controller->start();
    QTRY_COMPARE_WITH_TIMEOUT(m_finished, 1, kPatienceMs);
    QCOMPARE(runs().size(), 1);
    QCOMPARE(snipCount(), 1);
}

void TestCaptureController::cancelWhileRunning() {
    setMode(QStringLiteral("hang"));
    auto controller = makeController();
    controller->start();
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(m_dir->filePath(QStringLiteral("running"))), kPatienceMs);
    controller->cancel();
    QVERIFY(!m_store->isCapturing());
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(m_dir->filePath(QStringLiteral("terminated.log"))), kPatienceMs);
    // The ended tool's file goes; nothing else moves.
    QTRY_COMPARE_WITH_TIMEOUT(
        temporaryFiles(*controller).filter(QStringLiteral(".png")).filter(QRegularExpression("png$")),
        QStringList{}, kPatienceMs);
    QCOMPARE(m_store->status(), kSelectRegion);
    QCOMPARE(m_finished, 0);
    QCOMPARE(snipCount(), 0);
}

void TestCaptureController::newCaptureAfterCancel() {
    setMode(QStringLiteral("hang"));
    auto controller = makeController();
    controller->start();
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(m_dir->filePath(QStringLiteral("running"))), kPatienceMs);
    controller->cancel();
    setMode(QStringLiteral("write"));
    controller->start();
    QTRY_COMPARE_WITH_TIMEOUT(m_finished, 1, kPatienceMs);
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(m_dir->filePath(QStringLiteral("terminated.log"))), kPatienceMs);
    QCOMPARE(snipCount(), 1);
    QCOMPARE(m_store->status(), kAdded);
    QVERIFY(!m_store->isCapturing());
    QTRY_COMPARE_WITH_TIMEOUT(temporaryFiles(*controller), QStringList{}, kPatienceMs);
}

QTEST_MAIN(TestCaptureController)
#include "tst_capturecontroller.moc"
