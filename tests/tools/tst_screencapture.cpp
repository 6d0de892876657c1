#include "support/X11TestSupport.h"

#include <QDir>
#include <QFile>
#include <QImageReader>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

using namespace X11TestSupport;

namespace {

const QString kTool = QStringLiteral(SCREENCAPTURE_PATH);
const QString kFakePortal = QStringLiteral(FAKE_PORTAL_PATH);

QStringList dragArguments(QPoint from, QPoint to) {
    return {QStringLiteral("mousemove"),
            QString::number(from.x()),
            QString::number(from.y()),
            QStringLiteral("mousedown"),
            QStringLiteral("1"),
            QStringLiteral("mousemove"),
            QString::number((from.x() + to.x()) / 2),
            QString::number((from.y() + to.y()) / 2),
            QStringLiteral("mousemove"),
            QString::number(to.x()),
            QString::number(to.y()),
            QStringLiteral("mouseup"),
            QStringLiteral("1")};
}

// The private session bus with the fake portal; ends both when destroyed.
class FakePortal {
public:
    bool start(const QString &mode, const QString &still = {}) {
        m_process.start(QStringLiteral("dbus-run-session"), {QStringLiteral("--"), kFakePortal, mode, still});
        while (m_process.waitForReadyRead(kPatienceMs) || m_process.canReadLine()) {
            while (m_process.canReadLine()) {
                const QByteArray line = m_process.readLine().trimmed();
                if (line.startsWith("READY ")) {
                    m_address = QString::fromUtf8(line.mid(6));
                    return !m_address.isEmpty();
                }
            }
        }
        return false;
    }
    ~FakePortal() {
        m_process.terminate();
        if (!m_process.waitForFinished(kPatienceMs))
            m_process.kill();
    }
    QString address() const { return m_address; }
    QList<QByteArray> lines() {
        m_process.waitForReadyRead(100);
        QList<QByteArray> result;
        while (m_process.canReadLine())
            result.append(m_process.readLine().trimmed());
        return result;
    }

private:
    QProcess m_process;
    QString m_address;
};

} // namespace

class TestScreenCapture : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();
    void badArguments_data();
    void badArguments();
    void dragWritesThosePixels_data();
    void dragWritesThosePixels();
    void endsWithoutFile_data();
    void endsWithoutFile();
    void keyboardHeldElsewhereFails();
    void portalStill_data();
    void portalStill();
    void portalWithoutStill_data();
    void portalWithoutStill();

private:
    void startTool(const QProcessEnvironment &extra = {});
    int finishTool();
    QStringList leftovers() const {
        return QDir(m_dir->path()).entryList(QDir::Files | QDir::Hidden | QDir::System);
    }
    QString output() const { return m_dir->filePath(QStringLiteral("capture.png")); }

    std::unique_ptr<PatternWindow> m_pattern;
    std::unique_ptr<QTemporaryDir> m_dir;
    QProcess m_tool;
};

void TestScreenCapture::initTestCase() {
    QVERIFY2(QGuiApplication::platformName() == QLatin1String("xcb"), "needs an X server");
    QVERIFY(Connection().ok());
    m_pattern = std::make_unique<PatternWindow>();
    QVERIFY(m_pattern->showAndSettle());
}

void TestScreenCapture::init() {
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
}

void TestScreenCapture::cleanup() {
    if (m_tool.state() != QProcess::NotRunning) {
        m_tool.kill();
        m_tool.waitForFinished(kPatienceMs);
    }
    // Leave the pointer where no later drag starts.
    xdotool({QStringLiteral("mousemove"), QStringLiteral("5"), QStringLiteral("5")});
}

void TestScreenCapture::startTool(const QProcessEnvironment &extra) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    env.remove(QStringLiteral("WAYLAND_DISPLAY"));
    for (const QString &key : extra.keys())
        env.insert(key, extra.value(key));
    m_tool.setProcessEnvironment(env);
    m_tool.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_tool.start(kTool, {QStringLiteral("-i"), QStringLiteral("-x"), QStringLiteral("-t"),
                         QStringLiteral("png"), output()});
}

int TestScreenCapture::finishTool() {
    if (!m_tool.waitForFinished(kPatienceMs) || m_tool.exitStatus() != QProcess::NormalExit)
        return -1;
    return m_tool.exitCode();
}

void TestScreenCapture::badArguments_data() {
    QTest::addColumn<QStringList>("arguments");
    QTest::newRow("none") << QStringList{};
    QTest::newRow("no path") << QStringList{"-i", "-x", "-t", "png"};
    QTest::newRow("empty path") << QStringList{"-i", "-x", "-t", "png", ""};
    QTest::newRow("jpeg") << QStringList{"-i", "-x", "-t", "jpg", "/tmp/x.jpg"};
    QTest::newRow("reordered") << QStringList{"-x", "-i", "-t", "png", "/tmp/x.png"};
    QTest::newRow("extra") << QStringList{"-i", "-x", "-t", "png", "/tmp/x.png", "-c"};
}

void TestScreenCapture::badArguments() {
    QFETCH(QStringList, arguments);
    QProcess tool;
    tool.start(kTool, arguments);
    QVERIFY(tool.waitForFinished(kPatienceMs));
    QCOMPARE(tool.exitStatus(), QProcess::NormalExit);
    QCOMPARE(tool.exitCode(), 2);
}

void TestScreenCapture::dragWritesThosePixels_data() {
    QTest::addColumn<QPoint>("from");
    QTest::addColumn<QPoint>("to");
    QTest::addColumn<QString>("scaleFactor");
    QTest::newRow("down and right") << QPoint(301, 257) << QPoint(733, 519) << QString();
    QTest::newRow("up and left") << QPoint(1500, 900) << QPoint(1201, 611) << QString();
    QTest::newRow("one pixel") << QPoint(1000, 700) << QPoint(1001, 701) << QString();
    QTest::newRow("to the screen's edge") << QPoint(1700, 1000) << QPoint(1919, 1079) << QString();
    QTest::newRow("toolkit scaling asked for") << QPoint(40, 60) << QPoint(391, 333) << QStringLiteral("2");
}

void TestScreenCapture::dragWritesThosePixels() {
    QFETCH(QPoint, from);
    QFETCH(QPoint, to);
    QFETCH(QString, scaleFactor);
    QProcessEnvironment extra;
    if (!scaleFactor.isEmpty()) {
        extra.insert(QStringLiteral("QT_SCALE_FACTOR"), scaleFactor);
        extra.insert(QStringLiteral("QT_SCREEN_SCALE_FACTORS"), scaleFactor);
    }
    startTool(extra);
    QVERIFY(waitForForeignGrab(m_tool));
    QVERIFY(xdotool(dragArguments(from, to)));
    QCOMPARE(finishTool(), 0);
    QCOMPARE(leftovers(), QStringList{QStringLiteral("capture.png")});

    QImageReader reader(output());
    QCOMPARE(reader.format(), QByteArray("png"));
    const QImage image = reader.read();
    // The pixel under the release point is the first one outside.
    const QRect region(std::min(from.x(), to.x()), std::min(from.y(), to.y()), std::abs(to.x() - from.x()),
                       std::abs(to.y() - from.y()));
    QCOMPARE(image.size(), region.size());
    QVERIFY(!image.hasAlphaChannel());
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            if (image.pixel(x, y) != patternPixel(region.x() + x, region.y() + y))
                QFAIL(qPrintable(QStringLiteral("pixel %1,%2 differs").arg(x).arg(y)));
        }
    }
}

void TestScreenCapture::endsWithoutFile_data() {
    QTest::addColumn<QStringList>("input"); // xdotool arguments; empty: SIGTERM
    QTest::addColumn<int>("exitCode");
    QTest::newRow("Esc") << QStringList{"key", "Escape"} << 1;
    QTest::newRow("Esc while dragging") << QStringList{"mousemove", "100", "100", "mousedown", "1",
                                                       "mousemove", "300", "300", "key",       "Escape"}
                                        << 1;
    QTest::newRow("right click") << QStringList{"mousemove", "200", "200", "click", "3"} << 1;
    QTest::newRow("click without drag") << QStringList{"mousemove", "200", "200", "click", "1"} << 1;
    QTest::newRow("flat selection") << QStringList{"mousemove", "200", "200", "mousedown", "1",
                                                   "mousemove", "500", "200", "mouseup",   "1"}
                                    << 1;
    QTest::newRow("SIGTERM") << QStringList{} << 2;
}

void TestScreenCapture::endsWithoutFile() {
    QFETCH(QStringList, input);
    QFETCH(int, exitCode);
    startTool();
    QVERIFY(waitForForeignGrab(m_tool));
    if (input.isEmpty())
        m_tool.terminate();
    else
        QVERIFY(xdotool(input));
    QCOMPARE(finishTool(), exitCode);
    QCOMPARE(leftovers(), QStringList{});
    xdotool({QStringLiteral("mouseup"), QStringLiteral("1")});
}

void TestScreenCapture::keyboardHeldElsewhereFails() {
    Connection other;
    QVERIFY(other.ok());
    QVERIFY(other.grabKeyboard());
    startTool();
    QCOMPARE(finishTool(), 2);
    QCOMPARE(leftovers(), QStringList{});
}

void TestScreenCapture::portalStill_data() {
    QTest::addColumn<int>("scale");
    QTest::newRow("device pixels as logical") << 1;
    QTest::newRow("scale 2") << 2;
}

void TestScreenCapture::portalStill() {
    QFETCH(int, scale);
    // A still the screen does not show, so only the portal can have delivered it.
    const QSize screen = QGuiApplication::primaryScreen()->geometry().size();
    const QImage still = patternImage(screen * scale, true);
    const QString stillPath = m_dir->filePath(QStringLiteral("../portal-still.png"));
    QVERIFY(still.save(stillPath));
    FakePortal portal;
    QVERIFY(portal.start(QStringLiteral("still"), stillPath));

    QProcessEnvironment extra;
    extra.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), portal.address());
    extra.insert(QStringLiteral("WAYLAND_DISPLAY"), QStringLiteral("vellumbox-test-absent"));
    startTool(extra);
    QVERIFY(waitForForeignGrab(m_tool));
    const QPoint from(100, 120);
    const QPoint to(331, 250);
    QVERIFY(xdotool(dragArguments(from, to)));
    QCOMPARE(finishTool(), 0);
    QFile::remove(stillPath);

    const QImage image(output());
    const QRect region(from * scale, to * scale - QPoint(1, 1));
    QCOMPARE(image.size(), region.size());
    QVERIFY(image == still.copy(region));

    const QList<QByteArray> lines = portal.lines();
    QVERIFY(lines.contains("CALL interactive=false modal=false"));
    // The portal's file held the whole desktop; the tool removes it.
    for (const QByteArray &line : lines) {
        if (line.startsWith("URI "))
            QVERIFY(!QFile::exists(QString::fromUtf8(line.mid(4))));
    }
}

void TestScreenCapture::portalWithoutStill_data() {
    QTest::addColumn<QString>("mode");
    QTest::addColumn<int>("exitCode");
    QTest::newRow("refused") << QStringLiteral("refuse") << 3;
    QTest::newRow("no portal") << QStringLiteral("none") << 2;
}

void TestScreenCapture::portalWithoutStill() {
    QFETCH(QString, mode);
    QFETCH(int, exitCode);
    FakePortal portal;
    QVERIFY(portal.start(mode));
    QProcessEnvironment extra;
    extra.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), portal.address());
    extra.insert(QStringLiteral("WAYLAND_DISPLAY"), QStringLiteral("vellumbox-test-absent"));
    startTool(extra);
    QCOMPARE(finishTool(), exitCode);
    QCOMPARE(leftovers(), QStringList{});
}

QTEST_MAIN(TestScreenCapture)
#include "tst_screencapture.moc"
