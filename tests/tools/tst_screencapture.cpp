#include "support/X11TestSupport.h"

#include <QDir>
#include <QTemporaryDir>

using namespace X11TestSupport;

const QStringList kArguments{"-i", "-x", "-t", "png", "OUT"}; // OUT: the test's output path

class TestScreenCapture : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase() {
        QVERIFY2(QGuiApplication::platformName() == "xcb", "needs an X server");
        QVERIFY(m_pattern.showAndSettle());
        // The portal's still, at twice the screen's scale as on a high-density desktop.
        m_still = patternImage(m_pattern.size() * 2);
    }
    void init() {
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(m_dir->isValid());
    }
    void cleanup() {
        m_tool.kill();
        m_tool.waitForFinished(kPatienceMs);
        m_portal.reset();
    }

    void endsWithoutFile_data() {
        QTest::addColumn<QString>("setup"); // as for start(); held: another client holds the keyboard
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("input"); // xdotool once the tool holds the screen; TERM: SIGTERM
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("said"); // part of its standard error
        QTest::newRow("no arguments") << "" << QStringList{} << "" << 2 << "";
        QTest::newRow("empty path") << "" << QStringList{"-i", "-x", "-t", "png", ""} << "" << 2 << "";
        QTest::newRow("jpeg") << "" << QStringList{"-i", "-x", "-t", "jpg", "OUT"} << "" << 2 << "";
        // The path's last byte is not UTF-8: Qt would write the file under another name.
        QTest::newRow("path not UTF-8")
            << "" << QStringList{"-i", "-x", "-t", "png", "OUT\\xff"} << "" << 2 << "";
        QTest::newRow("keyboard held elsewhere") << "held" << kArguments << "" << 2 << "";
        QTest::newRow("portal refuses") << "portal refuse" << kArguments << "" << 3 << "";
        QTest::newRow("no portal") << "portal none" << kArguments << "" << 2
                                   << "hat kein Bild geliefert: org.freedesktop.DBus.Error.ServiceUnknown";
        QTest::newRow("no display") << "no display" << kArguments << "" << 2
                                    << "vellumbox-screencapture: Keine Anzeige erreichbar";
        QTest::newRow("SIGTERM") << "" << kArguments << "TERM" << 2 << "";
        QTest::newRow("Esc") << "" << kArguments << "key Escape" << 1 << "";
        QTest::newRow("right click") << "" << kArguments << "mousemove 200 200 click 3" << 1 << "";
        QTest::newRow("flat selection")
            << "" << kArguments << "mousemove 200 200 mousedown 1 mousemove 500 200 mouseup 1" << 1 << "";
    }
    void endsWithoutFile() {
        QFETCH(QString, setup);
        QFETCH(QStringList, arguments);
        QFETCH(QString, input);
        QFETCH(QString, said);
        Connection other;
        QVERIFY(setup != "held" || other.grabKeyboard() == XCB_GRAB_STATUS_SUCCESS);
        QVERIFY(start(arguments, setup) && (input.isEmpty() || waitForForeignGrab(m_tool)));
        if (input == "TERM")
            m_tool.terminate();
        else if (!input.isEmpty())
            QVERIFY(xdotool(input));
        QTEST(finish(), "exitCode");
        QCOMPARE(files(), QStringList());
        const QString stderrText = QString::fromUtf8(m_said);
        QVERIFY2(stderrText.contains(said), qPrintable(stderrText));
        // Nothing but our one line where the toolkit would have aborted with its own.
        QVERIFY(setup != "no display" || stderrText.count('\n') == 1);
    }

    void writesThosePixels_data() {
        QTest::addColumn<QString>("setup"); // as for start()
        QTest::addColumn<QPoint>("from");
        QTest::addColumn<QPoint>("to");
        QTest::newRow("down and right") << "" << QPoint(301, 257) << QPoint(733, 519);
        QTest::newRow("up and left, from the edge") << "" << QPoint(1919, 1079) << QPoint(1201, 611);
        QTest::newRow("toolkit scaling asked for") << "scaled" << QPoint(40, 60) << QPoint(391, 333);
        QTest::newRow("portal's still") << "portal accept" << QPoint(100, 120) << QPoint(331, 250);
    }
    void writesThosePixels() {
        QFETCH(QString, setup);
        QFETCH(QPoint, from);
        QFETCH(QPoint, to);
        QVERIFY(m_pattern.settled());
        QVERIFY(start(kArguments, setup) && waitForForeignGrab(m_tool));
        QVERIFY(xdotool(QString::asprintf("mousemove %d %d mousedown 1 mousemove %d %d mouseup 1", from.x(),
                                          from.y(), to.x(), to.y())));
        QCOMPARE(finish(), 0);
        // Nothing else, not even the portal's still of the whole desktop.
        QCOMPARE(files(), QStringList{"capture.png"});
        // A PNG, and without alpha, which would make it ARGB32. The larger end's column and row lie outside.
        const int scale = m_portal ? 2 : 1;
        const QRect region(std::min(from.x(), to.x()) * scale, std::min(from.y(), to.y()) * scale,
                           std::abs(to.x() - from.x()) * scale, std::abs(to.y() - from.y()) * scale);
        QCOMPARE(QImage(output(), "png"), (m_portal ? m_still : m_pattern.image).copy(region));
    }

private:
    // setup: "scaled" asks the toolkit to scale, which the tool must not do; "portal MODE" makes
    // it a Wayland session whose portal is the fake in that mode; "no display" offers neither a
    // toolkit platform that can start nor an X server. Arguments may name OUT, the output path,
    // and end in \xff for a byte that is not UTF-8.
    bool start(QStringList arguments, const QString &setup) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("QT_QPA_PLATFORM", "xcb");
        env.remove("WAYLAND_DISPLAY");
        if (setup == "scaled")
            env.insert("QT_SCALE_FACTOR", "2");
        else if (setup == "no display") {
            env.insert("QT_QPA_PLATFORM", "vellumbox-absent");
            env.remove("DISPLAY");
        } else if (setup.startsWith("portal ")) {
            const QString still = m_dir->filePath("still.png");
            if (setup.endsWith("accept") && !m_still.save(still))
                return false;
            m_portal = std::make_unique<FakePortal>(FAKE_PORTAL_PATH, QStringList{setup.mid(7), still});
            env.insert("DBUS_SESSION_BUS_ADDRESS", m_portal->address);
            env.insert("WAYLAND_DISPLAY", "vellumbox-test-absent");
        }
        for (QString &argument : arguments)
            argument.replace("OUT", output()).replace("\\xff", "\\0377");
        m_tool.setProcessEnvironment(env);
        // QProcess passes arguments as UTF-8 only: the shell's printf makes the byte that is not.
        const QString unescaped = R"sh(tool=$1; shift; for a; do set -- "$@" "$(printf %b "$a")"; shift; done;
                                       exec "$tool" "$@")sh";
        m_tool.start("/bin/sh", QStringList{"-c", unescaped, "sh", SCREENCAPTURE_PATH} + arguments);
        return !m_portal || !m_portal->address.isEmpty();
    }
    int finish() {
        const bool ended = m_tool.waitForFinished(kPatienceMs) && m_tool.exitStatus() == QProcess::NormalExit;
        m_said = m_tool.readAllStandardError();
        std::fwrite(m_said.constData(), 1, size_t(m_said.size()), stderr); // sanitizer reports included
        return ended ? m_tool.exitCode() : -1;
    }
    QString output() const { return m_dir->filePath("capture.png"); }
    QStringList files() const { return QDir(m_dir->path()).entryList(QDir::Files | QDir::Hidden); }

    PatternWindow m_pattern;
    QImage m_still;
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<FakePortal> m_portal;
    QProcess m_tool;
    QByteArray m_said; // the tool's standard error
};

QTEST_MAIN(TestScreenCapture)
#include "tst_screencapture.moc"
