// vellumbox-screencapture on a headless Wayland desktop of its own: sway with the screenshot portal
// (tests/tools/wayland/session.sh), patterns as the outputs' backgrounds, and a pointer client.
// sway refuses to run as root: there, the desktop and every client of it run as "nobody".

#include "support/X11TestSupport.h"

#include <QDir>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <pwd.h>
#include <unistd.h>

using X11TestSupport::kPatienceMs;
using X11TestSupport::patternImage;

namespace {

struct Output {
    QSize size; // device pixels
    int scale = 1;
    QPoint position; // logical

    QRect logical() const { return QRect(position, size / scale); }
};

// "1280x720@2 640x360@1": outputs from left to right.
QList<Output> parseLayout(const QString &text) {
    QList<Output> outputs;
    int x = 0;
    for (const QString &word : text.split(' ')) {
        const QStringList parts = word.split(QRegularExpression("[x@]"));
        Output output{QSize(parts[0].toInt(), parts[1].toInt()), parts[2].toInt(), QPoint(x, 0)};
        x += output.logical().width();
        outputs << output;
    }
    return outputs;
}

QRect extent(const QList<Output> &outputs) {
    QRect all;
    for (const Output &output : outputs)
        all |= output.logical();
    return all;
}

int largestScale(const QList<Output> &outputs) {
    int scale = 1;
    for (const Output &output : outputs)
        scale = std::max(scale, output.scale);
    return scale;
}

// The background of output index. The portal enlarges outputs of a smaller scale than the largest
// one, and enlargement blurs: they get a picture that stays the same under it, away from edges.
QImage background(const QList<Output> &outputs, int index) {
    const Output &output = outputs[index];
    if (output.scale < largestScale(outputs)) {
        QImage image(output.size, QImage::Format_RGB32);
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                image.setPixel(x, y, qRgb(x / 3, y / 2, (x + y) / 4));
        return image;
    }
    QImage image = patternImage(output.size);
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            image.setPixel(x, y, image.pixel(x, y) ^ qRgb(0, 0, 97 * index));
    return image;
}

// The desktop as the outputs of the given scale show it, at that scale; black elsewhere.
QImage desktopAt(const QList<Output> &outputs, int scale) {
    QImage desktop(extent(outputs).size() * scale, QImage::Format_RGB32);
    desktop.fill(Qt::black);
    QPainter painter(&desktop);
    for (int i = 0; i < outputs.size(); ++i) {
        if (outputs[i].scale == scale)
            painter.drawImage(outputs[i].position * scale, background(outputs, i));
    }
    return desktop;
}

// The largest difference of one channel of one pixel.
int difference(const QImage &a, const QImage &b) {
    int largest = 0;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x) {
            const QRgb p = a.pixel(x, y), q = b.pixel(x, y);
            largest = std::max({largest, std::abs(qRed(p) - qRed(q)), std::abs(qGreen(p) - qGreen(q)),
                                std::abs(qBlue(p) - qBlue(q))});
        }
    return largest;
}

} // namespace

class TestWayland : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase() {
        for (const char *program : {"sway", "swaymsg", "swaybg", "dbus-run-session", "pipewire", "wtype"})
            QVERIFY2(!QStandardPaths::findExecutable(program).isEmpty(), program);
        if (::geteuid() == 0) {
            const passwd *nobody = ::getpwnam("nobody");
            QVERIFY2(nobody, "needs the user nobody");
            m_uid = nobody->pw_uid;
            m_gid = nobody->pw_gid;
        }
        m_dir = std::make_unique<QTemporaryDir>(QDir::tempPath() + "/vellumbox-wayland-XXXXXX");
        QVERIFY(m_dir->isValid() && QDir(path()).mkdir("out"));
        // The build folder may be closed to the desktop's user: it gets copies of its own.
        for (const auto &[from, to] : {std::pair{SCREENCAPTURE_PATH, "tool"},
                                       {VIRTUAL_POINTER_PATH, "pointer"},
                                       {PORTAL_STILL_PATH, "still"},
                                       {WAYLAND_SESSION_PATH, "session.sh"}})
            QVERIFY(QFile::copy(from, path(to)));
        m_env = QProcessEnvironment::systemEnvironment();
        for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "XAUTHORITY", "XDG_RUNTIME_DIR", "HOME",
                                 "DBUS_SESSION_BUS_ADDRESS", "QT_QPA_PLATFORM", "XDG_SESSION_TYPE"})
            m_env.remove(name);
        // Under Wayland the toolkit loads Mesa's driver and unloads it before the leak check, which
        // then cannot name, let alone suppress, what the driver kept: the X tests check the tool's
        // leaks. The suppressions file may also be closed to the desktop's user.
        if (m_env.contains("ASAN_OPTIONS"))
            m_env.insert("ASAN_OPTIONS", m_env.value("ASAN_OPTIONS") + ":detect_leaks=0");
        m_env.remove("LSAN_OPTIONS");
        for (const QString &name : QDir(path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot))
            QVERIFY(giveAway(path(name)));
        QVERIFY(giveAway(path()));

        const QStringList session =
            asUser({"setsid", "dbus-run-session", "--", "sh", path("session.sh"), path()});
        m_session.setProcessEnvironment(m_env);
        m_session.start(session.first(), session.mid(1));
        for (QByteArray line; !line.startsWith("ready");) {
            QVERIFY2(m_session.canReadLine() || m_session.waitForReadyRead(kPatienceMs),
                     qPrintable(sessionLog()));
            line = m_session.readLine().trimmed();
            if (const qsizetype equals = line.indexOf('='); equals > 0)
                m_env.insert(line.left(equals), line.mid(equals + 1));
        }
        const QStringList pointer = asUser({path("pointer")});
        m_pointer.setProcessEnvironment(m_env);
        m_pointer.start(pointer.first(), pointer.mid(1));
        QVERIFY(m_pointer.waitForReadyRead(kPatienceMs) && m_pointer.readLine() == "ok\n");
    }
    void cleanupTestCase() {
        m_pointer.closeWriteChannel();
        m_pointer.waitForFinished(kPatienceMs);
        // The session ends everything it started once its input closes.
        m_session.closeWriteChannel();
        if (!m_session.waitForFinished(kPatienceMs) && m_session.processId() > 0)
            ::kill(-pid_t(m_session.processId()), SIGKILL);
        // Its programs may still be leaving files behind while they end.
        QVERIFY(QTest::qWaitFor([&] { return m_dir->remove(); }, kPatienceMs));
    }

    void capture_data() {
        QTest::addColumn<QString>("layout"); // see parseLayout(); rows with one layout stay together
        QTest::addColumn<QString>("setup");  // "xwayland": only XWayland's DISPLAY; "no plugin": no platform
        QTest::addColumn<QString>("input");  // "drag X1 Y1 X2 Y2" in logical pixels, or "key NAME"
        QTest::addColumn<int>("exitCode");
        const QString one = "1280x720@1";
        QTest::newRow("scale 1") << one << ""
                                 << "drag 101 57 433 319" << 0;
        QTest::newRow("up and left") << one << ""
                                     << "drag 1279 719 1000 500" << 0;
        QTest::newRow("Esc") << one << ""
                             << "key Escape" << 1;
        QTest::newRow("only XWayland's DISPLAY") << one << "xwayland"
                                                 << "drag 211 93 650 400" << 0;
        QTest::newRow("no Wayland plugin") << one << "no plugin"
                                           << "" << 2;
        QTest::newRow("across two outputs") << "640x480@1 640x480@1"
                                            << ""
                                            << "drag 500 100 800 300" << 0;
        const QString mixed = "1280x720@2 640x360@1";
        QTest::newRow("scale 2") << mixed << ""
                                 << "drag 31 47 300 211" << 0;
        QTest::newRow("scale 1 beside scale 2") << mixed << ""
                                                << "drag 700 50 900 250" << 0;
    }
    void capture() {
        QFETCH(QString, layout);
        QFETCH(QString, setup);
        QFETCH(QString, input);
        QFETCH(int, exitCode);
        const QList<Output> outputs = parseLayout(layout);
        // sway hides the cursor 0.8 s after the pointer last moved (see session.sh); a still taken
        // before would show it. Hidden sooner, it would come and go between the steps of a drag.
        QTest::qWait(1000);
        if (layout != m_layout) {
            QVERIFY(arrange(outputs));
            m_layout = layout;
        }
        QProcessEnvironment env = m_env;
        if (setup == "xwayland") {
            env.remove("WAYLAND_DISPLAY");
            env.insert("DISPLAY", env.value("XWAYLAND_DISPLAY"));
        } else if (setup == "no plugin") {
            env.insert("QT_QPA_PLATFORM", "vellumbox-absent");
        }
        const QString output = path("out/capture.png");
        const QStringList command = asUser({path("tool"), "-i", "-x", "-t", "png", output});
        QProcess tool;
        tool.setProcessEnvironment(env);
        tool.start(command.first(), command.mid(1));
        QVERIFY(tool.waitForStarted(kPatienceMs));
        const QStringList word = input.split(' ');
        const QRect area = extent(outputs);
        const auto point = [&](int i) { return QPoint(word[i].toInt(), word[i + 1].toInt()); };
        if (!input.isEmpty()) {
            QVERIFY2(waitForOverlay(tool, outputs.size(), setup == "xwayland"),
                     tool.readAllStandardError().constData());
            // An overlay that sway has placed on another output than the toolkit first drew it for
            // takes input only once it has drawn itself again there, which no one reports.
            QTest::qWait(500);
        }
        if (word[0] == "drag") {
            QVERIFY(setup != "xwayland" || pointerOnXWayland(point(1), area));
            QVERIFY(pointer(QString("move %1 %2").arg(point(1).x()).arg(point(1).y()), area));
            QVERIFY(pointer("down 1", area));
            QVERIFY(pointer(QString("move %1 %2").arg(point(3).x()).arg(point(3).y()), area));
            QVERIFY(pointer("up 1", area));
        } else if (word[0] == "key") {
            // Its own keyboard comes and goes with it: time for the tool to see the seat's keyboard.
            QVERIFY(run({"wtype", "-s", "300", "-k", word[1]}));
        }
        const bool ended = tool.waitForFinished(kPatienceMs) && tool.exitStatus() == QProcess::NormalExit;
        const QByteArray said = tool.readAllStandardError();
        QVERIFY2(ended, said.constData());
        QVERIFY2(tool.exitCode() == exitCode, qPrintable(QString::number(tool.exitCode()) + ": " + said));
        const QStringList files = QDir(path("out")).entryList(QDir::Files | QDir::Hidden);
        if (exitCode != 0) {
            QCOMPARE(files, QStringList());
            QVERIFY(setup != "no plugin" || said.contains("Keine Anzeige erreichbar"));
            return;
        }
        QCOMPARE(files, QStringList{"capture.png"});
        const QImage written(output, "png");
        QFile::remove(output);
        const QRect region(std::min(point(1).x(), point(3).x()), std::min(point(1).y(), point(3).y()),
                           std::abs(point(3).x() - point(1).x()), std::abs(point(3).y() - point(1).y()));
        int scale = 0;
        bool enlarged = false;
        for (const Output &o : outputs) {
            if (o.logical().intersects(region)) {
                scale = std::max(scale, o.scale);
                enlarged = enlarged || o.scale < largestScale(outputs);
            }
        }
        const QImage expected =
            desktopAt(outputs, scale).copy(QRect(region.topLeft() * scale, region.size() * scale));
        QCOMPARE(written.size(), expected.size());
        // Never black; exact where the portal's still has the output's own pixels.
        QVERIFY2(
            difference(written.convertToFormat(QImage::Format_RGB32), expected) <= (enlarged ? 3 : 0),
            qPrintable(QString::number(difference(written.convertToFormat(QImage::Format_RGB32), expected))));
    }

private:
    QString path(const QString &name = {}) const {
        return name.isEmpty() ? m_dir->path() : m_dir->filePath(name);
    }
    QString sessionLog() const {
        QFile log(path("session.log"));
        return log.open(QIODevice::ReadOnly) ? QString::fromUtf8(log.readAll().right(4000)) : QString();
    }
    QStringList asUser(const QStringList &command) const {
        if (!m_uid)
            return command;
        return QStringList{"setpriv", QString("--reuid=%1").arg(m_uid), QString("--regid=%1").arg(m_gid),
                           "--clear-groups", "--"} +
               command;
    }
    bool giveAway(const QString &file) const {
        return !m_uid || ::chown(QFile::encodeName(file).constData(), m_uid, m_gid) == 0;
    }
    // Runs a program of the session to its end; true when it succeeded.
    bool run(const QStringList &command, QByteArray *out = nullptr) const {
        const QStringList full = asUser(command);
        QProcess process;
        process.setProcessEnvironment(m_env);
        process.start(full.first(), full.mid(1));
        const bool ok = process.waitForFinished(kPatienceMs) &&
                        process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
        if (out)
            *out = process.readAllStandardOutput();
        return ok;
    }
    // One line to the pointer client; a move is in logical pixels of area.
    bool pointer(QString line, const QRect &area) {
        if (line.startsWith("move"))
            line += QString(" %1 %2").arg(area.width()).arg(area.height());
        m_pointer.write(line.toUtf8() + '\n');
        return m_pointer.waitForReadyRead(kPatienceMs) && m_pointer.readLine() == "ok\n";
    }
    // Until sway shows an overlay on every output. The overlays of an X client are no windows of
    // sway's: then until the X server has one, which comes after the still.
    bool waitForOverlay(const QProcess &tool, qsizetype outputs, bool x11) {
        return QTest::qWaitFor(
                   [&] {
                       QByteArray out;
                       if (tool.state() != QProcess::Running)
                           return true;
                       if (x11)
                           return run({"env", "DISPLAY=" + m_env.value("XWAYLAND_DISPLAY"), "xwininfo",
                                       "-name", "vellumbox-screencapture"},
                                      &out) &&
                                  out.contains("IsViewable");
                       return run({"swaymsg", "-t", "get_tree"}, &out) &&
                              out.count("\"name\": \"vellumbox-screencapture\"") >= outputs;
                   },
                   kPatienceMs) &&
               tool.state() == QProcess::Running;
    }
    // Moves the pointer to at until the X server of XWayland has it there: it learns of the pointer
    // only while sway shows one of its windows under it.
    bool pointerOnXWayland(QPoint at, const QRect &area) {
        const QByteArray expected = QString("x:%1 y:%2 ").arg(at.x()).arg(at.y()).toUtf8();
        return QTest::qWaitFor(
            [&] {
                QByteArray location;
                return pointer(QString("move %1 %2").arg(at.x() + 1).arg(at.y()), area) &&
                       pointer(QString("move %1 %2").arg(at.x()).arg(at.y()), area) &&
                       run({"env", "DISPLAY=" + m_env.value("XWAYLAND_DISPLAY"), "xdotool",
                            "getmouselocation"},
                           &location) &&
                       location.startsWith(expected);
            },
            kPatienceMs);
    }
    // Puts the outputs in place with their backgrounds, and waits until the portal's still shows them.
    // The headless backend cannot take an output away again: rows with fewer outputs come first.
    bool arrange(const QList<Output> &outputs) {
        for (; m_outputs < outputs.size(); ++m_outputs) {
            if (m_outputs > 0 && !run({"swaymsg", "-q", "create_output"}))
                return false;
        }
        if (m_outputs > outputs.size())
            return false;
        for (int i = 0; i < outputs.size(); ++i) {
            const QString file = path(QString("background-%1.png").arg(i));
            if (!background(outputs, i).save(file) || !giveAway(file))
                return false;
            const Output &o = outputs[i];
            const QString command = QString("output HEADLESS-%1 mode %2x%3 pos %4 %5 scale %6 bg %7 stretch")
                                        .arg(i + 1)
                                        .arg(o.size.width())
                                        .arg(o.size.height())
                                        .arg(o.position.x())
                                        .arg(o.position.y())
                                        .arg(o.scale)
                                        .arg(file);
            if (!run({"swaymsg", "-q", command}))
                return false;
        }
        const int scale = largestScale(outputs);
        const QImage expected = desktopAt(outputs, scale);
        const QString still = path("out/still.png");
        const bool shown = QTest::qWaitFor(
            [&] {
                if (!run({path("still"), still}))
                    return false;
                const QImage image(still);
                QFile::remove(still);
                // Those outputs that the still shows with their own pixels.
                for (const Output &o : outputs) {
                    const QRect part(o.position * scale, o.size);
                    if (o.scale == scale && image.copy(part) != expected.copy(part))
                        return false;
                }
                return image.size() == expected.size();
            },
            kPatienceMs);
        return shown;
    }

    std::unique_ptr<QTemporaryDir> m_dir;
    uid_t m_uid = 0;
    gid_t m_gid = 0;
    QProcessEnvironment m_env;
    QProcess m_session;
    QProcess m_pointer;
    QString m_layout;        // arranged now
    qsizetype m_outputs = 0; // made by sway so far
};

QTEST_GUILESS_MAIN(TestWayland)
#include "tst_wayland.moc"
