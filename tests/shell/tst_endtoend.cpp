// The real programs on a display of their own: vellumbox and vellumbox-screencapture, driven
// from outside as a user would, with the keyboard and the mouse. The functions run in order and
// share one running program.

#include "support/X11TestSupport.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QScopeGuard>
#include <QTemporaryDir>

#include <fcntl.h>
#include <unistd.h>

using namespace Qt::StringLiterals;
using namespace X11TestSupport;

namespace {

const QRect kRegion(300, 300, 400, 300); // the drag, from its top left to its bottom right

QJsonObject readLibrary(const QString &path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QJsonDocument::fromJson(file.readAll()).object();
}

QJsonArray snips(const QJsonObject &library) {
    QJsonArray all;
    for (const QJsonValue &collection : library[u"collections"_s].toArray())
        for (const QJsonValue &snip : collection[u"items"_s].toArray())
            all.append(snip);
    return all;
}

QString activeWindowName() {
    QProcess process;
    process.start(u"xdotool"_s, {u"getactivewindow"_s, u"getwindowname"_s});
    process.waitForFinished(kPatienceMs);
    return QString::fromUtf8(process.readAllStandardOutput()).trimmed();
}

// Opens the n-th menu of the main window's menu bar from the keyboard and picks its item-th item.
bool pickMenuItem(int menu, int item) {
    QStringList keys{u"key alt"_s};
    for (int i = 0; i < menu; ++i)
        keys << u"key Right"_s;
    keys << u"key Down"_s;
    for (int i = 0; i < item; ++i)
        keys << u"key Down"_s;
    keys << u"key Return"_s;
    for (const QString &key : keys) {
        if (!xdotool(key))
            return false;
        QTest::qWait(150);
    }
    return true;
}

} // namespace

class TestEndToEnd : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase() {
        QVERIFY2(QGuiApplication::platformName() == "xcb", "needs an X server with a window manager");
        QVERIFY(m_home.isValid());
        QVERIFY(QDir(m_home.path()).mkpath(u"runtime"_s));
        QFile(m_home.filePath(u"runtime"_s))
            .setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        QVERIFY(m_pattern.showAndSettle());

        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(u"HOME"_s, m_home.path());
        environment.insert(u"XDG_RUNTIME_DIR"_s, m_home.filePath(u"runtime"_s));
        // No keyring for the account here.
        environment.insert(u"VELLUMBOX_TESTING"_s, u"1"_s);
        for (const QString &key : {u"XDG_DATA_HOME"_s, u"XDG_CONFIG_HOME"_s, u"XDG_CACHE_HOME"_s})
            environment.remove(key);
        // The launch benchmark's cue: a byte on this pipe once the main window's first frame is
        // painted. A descriptor far above the ones QProcess uses while starting the program.
        int frame[2];
        QVERIFY(::pipe2(frame, O_CLOEXEC | O_NONBLOCK) == 0);
        constexpr int kFrameDescriptor = 100;
        environment.insert(u"VELLUMBOX_FIRST_FRAME_FD"_s, QString::number(kFrameDescriptor));
        m_app.setProcessEnvironment(environment);
        m_app.setProcessChannelMode(QProcess::ForwardedChannels);
        // A process group of its own: the capture tool it runs ends with it, whatever fails here.
        m_app.setChildProcessModifier([writeEnd = frame[1]] {
            ::setsid();
            ::dup2(writeEnd, kFrameDescriptor); // the copy is inherited
        });
        m_app.start(QStringLiteral(VELLUMBOX), {});
        ::close(frame[1]);
        const auto closeFrame = qScopeGuard([&] { ::close(frame[0]); });
        QVERIFY(m_app.waitForStarted(kPatienceMs));
        QTRY_COMPARE_WITH_TIMEOUT(activeWindowName(), u"Vellumbox"_s, kPatienceMs);
        char byte = 0;
        ssize_t got = -1; // −1 while nothing has come, 0 once the program closed it without a word
        QVERIFY2(QTest::qWaitFor([&] { return (got = ::read(frame[0], &byte, 1)) >= 0; }, kPatienceMs),
                 "no word from vellumbox about its first frame");
        QVERIFY2(got == 1, "vellumbox did not announce its first frame");
        m_library = m_home.filePath(u".local/share/Vellumbox/library.json"_s);
    }

    void cleanupTestCase() {
        if (m_app.state() != QProcess::NotRunning) {
            m_app.terminate();
            if (!m_app.waitForFinished(kPatienceMs)) {
                std::fprintf(stderr, "vellumbox did not end on SIGTERM; killing it and its tool\n");
                ::kill(-pid_t(m_app.processId()), SIGKILL);
                m_app.waitForFinished(kPatienceMs);
            }
        }
    }

    void captureWithTheShortcut() {
        QVERIFY(xdotool(u"key ctrl+shift+space"_s));
        QVERIFY(waitForForeignGrab(m_app));
        QVERIFY(xdotool(
            u"mousemove %1 %2 mousedown 1 mousemove %3 %4 mousemove %5 %6 mouseup 1"_s.arg(kRegion.left())
                .arg(kRegion.top())
                .arg(kRegion.center().x())
                .arg(kRegion.center().y())
                .arg(kRegion.right() + 1)
                .arg(kRegion.bottom() + 1)));
        QTRY_COMPARE_WITH_TIMEOUT(snips(readLibrary(m_library)).size(), 1, kPatienceMs);
        const QString file = snips(readLibrary(m_library)).first()[u"imageFile"_s].toString();
        const QImage captured(m_home.filePath(u".local/share/Vellumbox/Images/"_s + file));
        QVERIFY(!captured.isNull());
        // Every position of the pattern has its own colour: the first pixel tells where the
        // capture begins.
        const QRgb first = captured.pixel(0, 0);
        const QPoint origin((qBlue(first) >> 4) << 8 | qRed(first), (qBlue(first) & 15) << 8 | qGreen(first));
        QVERIFY2((origin - kRegion.topLeft()).manhattanLength() <= 2,
                 qPrintable(u"%1,%2"_s.arg(origin.x()).arg(origin.y())));
        QVERIFY(qAbs(captured.width() - kRegion.width()) <= 2 &&
                qAbs(captured.height() - kRegion.height()) <= 2);
        QCOMPARE(captured.convertToFormat(QImage::Format_RGB32),
                 m_pattern.image.copy(QRect(origin, captured.size())));
        m_capturedSize = captured.size();
    }

    // Between capturing and exporting, the place to open the snip in the mark editor and draw on
    // it; whatever is drawn here adds to m_expectedMarks, which the export and the library file
    // are checked against.
    void editInTheMarkEditor() {}

    void exportAsPDF() {
        // After a capture the panel shows; its Ctrl+1 ("Sammlung bearbeiten") brings the main window.
        QTRY_VERIFY_WITH_TIMEOUT(
            xdotool(u"search --onlyvisible --name ^Ausschnitt.aufnehmen$ windowactivate --sync"_s),
            kPatienceMs);
        QVERIFY(xdotool(u"key ctrl+1"_s));
        QTRY_COMPARE_WITH_TIMEOUT(activeWindowName(), u"Vellumbox"_s, kPatienceMs);
        const QString pdf = m_home.filePath(u"Sammlung.pdf"_s);
        QVERIFY(pickMenuItem(1, 8)); // "Ablage", "Als PDF exportieren …"
        QTRY_VERIFY_WITH_TIMEOUT(activeWindowName() != u"Vellumbox"_s, kPatienceMs); // the file dialog
        QTest::qWait(300);
        QVERIFY(xdotool(u"key ctrl+a"_s));
        QVERIFY(xdotool(u"type --delay 5 "_s + pdf));
        QVERIFY(xdotool(u"key Return"_s));
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(pdf).size() > 0, kPatienceMs);
        QProcess images;
        QTRY_VERIFY_WITH_TIMEOUT(
            [&] {
                images.start(u"pdfimages"_s, {u"-list"_s, pdf});
                images.waitForFinished(kPatienceMs);
                return images.exitCode() == 0;
            }(),
            kPatienceMs);
        const QStringList rows =
            QString::fromUtf8(images.readAllStandardOutput()).split(u'\n', Qt::SkipEmptyParts);
        QVERIFY2(rows.size() == 3, qPrintable(rows.join(u'\n'))); // two header lines and the one image
        const QStringList columns = rows.last().simplified().split(u' ');
        QCOMPARE(columns.at(3).toInt(), m_capturedSize.width());
        QCOMPARE(columns.at(4).toInt(), m_capturedSize.height());
    }

    void quitThroughTheMenu() {
        QTRY_COMPARE_WITH_TIMEOUT(activeWindowName(), u"Vellumbox"_s, kPatienceMs);
        QVERIFY(pickMenuItem(0, 1)); // "Vellumbox", "Vellumbox beenden"
        QTRY_COMPARE_WITH_TIMEOUT(m_app.state(), QProcess::NotRunning, kPatienceMs);
        QCOMPARE(m_app.exitStatus(), QProcess::NormalExit);
        QCOMPARE(m_app.exitCode(), 0);
        const QJsonObject library = readLibrary(m_library);
        const QJsonArray all = snips(library);
        QCOMPARE(all.size(), 1);
        QCOMPARE(all.first()[u"marks"_s].toArray().size(), m_expectedMarks);
        QVERIFY(library[u"session"_s][u"isPaused"_s].toBool());
    }

private:
    QTemporaryDir m_home;
    PatternWindow m_pattern;
    QProcess m_app;
    QString m_library;
    QSize m_capturedSize;
    int m_expectedMarks = 0;
};

QTEST_MAIN(TestEndToEnd)
#include "tst_endtoend.moc"
