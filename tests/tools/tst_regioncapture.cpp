#include "CaptureExit.h"
#include "RegionSelector.h"
#include "ScreenStill.h"
#include "TerminationSignals.h"
#include "platform/XcbSupport.h"

#include <QDir>
#include <QGuiApplication>
#include <QRandomGenerator>
#include <QScreen>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <dirent.h>
#include <thread>
#include <unistd.h>

namespace {

constexpr int kPatienceMs = 60'000;

// Each pixel repeated factor times in both directions.
QImage enlarged(const QImage &source, int factor) {
    return source.scaled(source.size() * factor, Qt::IgnoreAspectRatio, Qt::FastTransformation);
}

// Whether this process has a file open in folder. The file being written may have no name there
// yet (O_TMPFILE), so the descriptors are asked, not the folder.
bool fileOpenIn(const QString &folder) {
    const QByteArray prefix = QFile::encodeName(folder) + '/';
    DIR *descriptors = ::opendir("/proc/self/fd");
    bool found = false;
    while (dirent *entry = descriptors ? ::readdir(descriptors) : nullptr) {
        char target[4096];
        const ssize_t length = ::readlinkat(::dirfd(descriptors), entry->d_name, target, sizeof target);
        found = found || (length > 0 && QByteArrayView(target, length).startsWith(prefix));
    }
    if (descriptors)
        ::closedir(descriptors);
    return found;
}

QImage gradient(QSize size) {
    QImage image(size, QImage::Format_RGB32);
    for (int y = 0; y < size.height(); ++y)
        for (int x = 0; x < size.width(); ++x)
            image.setPixel(x, y, qRgb(x % 256, y % 256, (x * 3 + y * 5) % 256));
    return image;
}

} // namespace

// The pieces of the region-capture tool that need no real desktop: the X pixel layouts, how an
// XWayland server is told from a plain one, the scale a region is written at, and the selector's
// input and its file.
class TestRegionCapture : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase() { QVERIFY(TerminationSignals::install()); }

    void converts_data() {
        QTest::addColumn<QByteArray>("data"); // two lines of one pixel, four bytes each
        QTest::addColumn<int>("bitsPerPixel");
        QTest::addColumn<bool>("msbFirst");
        QTest::addColumn<QList<uint>>("masks");    // red, green, blue
        QTest::addColumn<QList<QRgb>>("expected"); // none: refused
        const QList<uint> rgb{0xff0000, 0xff00, 0xff};
        const QList<QRgb> orangeBlue{qRgb(0xff, 0x80, 0x10), qRgb(0, 0, 0xff)};
        QTest::newRow("32 bpp, pad byte zero")
            << QByteArray("\x10\x80\xff\x00\xff\x00\x00\x00", 8) << 32 << false << rgb << orangeBlue;
        QTest::newRow("32 bpp, BGR visual") << QByteArray("\xff\x80\x10\x00\x00\x00\xff\x00", 8) << 32
                                            << false << QList<uint>{0xff, 0xff00, 0xff0000} << orangeBlue;
        // RGB565: full red plus green 32 of 63, then full blue.
        QTest::newRow("16 bpp, MSB first, padded")
            << QByteArray("\xfc\x00\xaa\xaa\x00\x1f\xaa\xaa", 8) << 16 << true
            << QList<uint>{0xf800, 0x07e0, 0x1f} << QList<QRgb>{qRgb(0xff, 0x82, 0), qRgb(0, 0, 0xff)};
        QTest::newRow("24 bpp") << QByteArray(8, 0) << 24 << false << rgb << QList<QRgb>{};
    }
    // X servers hand out pixels in the layout of their visual; the still is always opaque RGB32.
    void converts() {
        QFETCH(QByteArray, data);
        QFETCH(int, bitsPerPixel);
        QFETCH(bool, msbFirst);
        QFETCH(QList<uint>, masks);
        QFETCH(QList<QRgb>, expected);
        const QImage image = X11Still::fromZPixmap(reinterpret_cast<const uchar *>(data.constData()), 1, 2,
                                                   bitsPerPixel, 4, msbFirst, masks[0], masks[1], masks[2]);
        QCOMPARE(image.isNull(), expected.isEmpty());
        // The raw words, pad byte included: RGB32 must be opaque whatever the server sent.
        for (int y = 0; y < image.height(); ++y)
            QCOMPARE(reinterpret_cast<const QRgb *>(image.constScanLine(y))[0], expected.at(y));
        QVERIFY(image.isNull() || image.format() == QImage::Format_RGB32);
    }

    void xwaylandOutputNames_data() {
        QTest::addColumn<QByteArray>("name");
        QTest::addColumn<bool>("xwayland");
        QTest::newRow("first") << QByteArray("XWAYLAND0") << true;
        QTest::newRow("twelfth") << QByteArray("XWAYLAND11") << true;
        QTest::newRow("no number") << QByteArray("XWAYLAND") << false;
        QTest::newRow("suffix") << QByteArray("XWAYLAND0-1") << false;
        QTest::newRow("lower case") << QByteArray("xwayland0") << false;
        QTest::newRow("monitor") << QByteArray("HDMI-1") << false;
        QTest::newRow("Xvfb") << QByteArray("screen") << false;
    }
    void xwaylandOutputNames() {
        QFETCH(QByteArray, name);
        QTEST(XcbSupport::isXWaylandOutputName(name), "xwayland");
    }

    void regionScale_data() {
        QTest::addColumn<QList<double>>("scales"); // of two outputs of 100 × 100 side by side
        QTest::addColumn<QRect>("region");         // in still pixels; the still has scale 2
        QTest::addColumn<int>("factor");           // of the written size to the region's size, in halves
        QTest::newRow("on the scale-2 output") << QList<double>{2, 1} << QRect(20, 30, 100, 60) << 2;
        QTest::newRow("on the scale-1 output") << QList<double>{2, 1} << QRect(220, 30, 100, 60) << 1;
        QTest::newRow("touching the scale-1 output's edge")
            << QList<double>{2, 1} << QRect(200, 0, 200, 200) << 1;
        QTest::newRow("on both outputs") << QList<double>{2, 1} << QRect(150, 30, 100, 60) << 2;
        QTest::newRow("outputs unknown") << QList<double>{} << QRect(220, 30, 100, 60) << 2;
        QTest::newRow("never enlarged") << QList<double>{3, 3} << QRect(220, 30, 100, 60) << 2;
    }
    // A portal's still has the largest scale of the desktop; a region on outputs of a smaller one
    // is written with their own pixels, not enlarged.
    void regionScale() {
        QFETCH(QList<double>, scales);
        QFETCH(QRect, region);
        QFETCH(int, factor);
        const QImage source = gradient(QSize(200, 100));
        ScreenStill still{enlarged(source, 2), QRect(0, 0, 200, 100), {}};
        for (int i = 0; i < scales.size(); ++i)
            still.outputs.append({QRect(i * 100, 0, 100, 100), scales[i]});
        const QImage written = still.region(region);
        QCOMPARE(written.format(), QImage::Format_RGB32);
        if (factor == 2) {
            QCOMPARE(written, still.image.copy(region));
        } else {
            // Every pixel was repeated, so the output's own pixels come back exactly.
            const QRect own(region.topLeft() / 2, region.size() / 2);
            QCOMPARE(written, source.copy(own));
        }
    }

    void pointerInput_data() {
        // press/release BUTTON X Y (1 left, 2 middle, 3 right), move X Y, escape; in screen pixels
        QTest::addColumn<QString>("input");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QRect>("written"); // in screen pixels
        const QString drag = "press 1 20 30, move 50 50, release 1 120 90";
        const QRect dragged(20, 30, 100, 60);
        QTest::newRow("left drag") << drag << 0 << dragged;
        QTest::newRow("middle click first") << "press 2 5 5, release 2 5 5, " + drag << 0 << dragged;
        QTest::newRow("middle button during the drag")
            << "press 1 20 30, press 2 60 60, release 2 70 70, release 1 120 90" << 0 << dragged;
        QTest::newRow("middle drag, then Esc")
            << "press 2 10 10, move 50 50, release 2 90 90, escape" << 1 << QRect();
        QTest::newRow("right click") << "press 3 10 10" << 1 << QRect();
        QTest::newRow("right click during the drag") << "press 1 20 30, press 3 60 60" << 1 << QRect();
    }
    void pointerInput() {
        QFETCH(QString, input);
        QTemporaryDir dir;
        const QImage pattern = gradient(QGuiApplication::primaryScreen()->geometry().size());
        RegionSelector selector(ScreenStill{pattern, QGuiApplication::primaryScreen()->geometry(), {}},
                                dir.filePath("capture.png"));
        QSignalSpy finished(&selector, &RegionSelector::finished);
        selector.start(false);
        for (const QString &step : input.split(", ")) {
            QVERIFY2(finished.isEmpty(), "ended before its last input");
            const QStringList word = step.split(' ');
            const QPointF at(word.value(word.size() - 2).toInt(), word.last().toInt());
            static const Qt::MouseButton buttons[] = {Qt::NoButton, Qt::LeftButton, Qt::MiddleButton,
                                                      Qt::RightButton};
            const Qt::MouseButton button = buttons[word.size() == 4 ? word[1].toInt() : 0];
            if (word[0] == "press")
                selector.pointerPressed(at, button);
            else if (word[0] == "release")
                selector.pointerReleased(at, button);
            else if (word[0] == "move")
                selector.pointerMoved(at);
            else
                selector.cancelRequested();
        }
        QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, kPatienceMs);
        QTEST(finished.first().first().toInt(), "exitCode");
        QFETCH(QRect, written);
        const QStringList files = QDir(dir.path()).entryList(QDir::Files);
        QCOMPARE(files, written.isNull() ? QStringList() : QStringList{"capture.png"});
        if (!written.isNull())
            QCOMPARE(QImage(dir.filePath("capture.png")), pattern.copy(written));
    }

    // A termination that arrives while the PNG is being encoded leaves no file, not even the
    // temporary one it was being written to.
    void terminatedWhileEncoding() {
        QTemporaryDir dir;
        const QRect screen = QGuiApplication::primaryScreen()->geometry();
        // Noise encodes slowly: long enough for the signal to come during the write.
        QImage noise(4000, 3000, QImage::Format_RGB32);
        QRandomGenerator random(7);
        for (int y = 0; y < noise.height(); ++y)
            random.fillRange(reinterpret_cast<quint32 *>(noise.scanLine(y)), noise.width());
        RegionSelector selector(ScreenStill{noise, screen, {}}, dir.filePath("capture.png"));
        QSignalSpy finished(&selector, &RegionSelector::finished);
        selector.start(false);
        std::atomic_bool signalled = false, stop = false;
        std::thread terminator([&] {
            while (!stop && !fileOpenIn(dir.path()))
                std::this_thread::sleep_for(std::chrono::microseconds(200));
            if (!stop) {
                ::kill(::getpid(), SIGTERM);
                signalled = true;
            }
        });
        selector.pointerPressed(screen.topLeft(), Qt::LeftButton);
        selector.pointerReleased(screen.bottomRight() + QPoint(1, 1), Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, kPatienceMs);
        stop = true;
        terminator.join();
        QVERIFY2(signalled, "the file being written was never seen");
        QVERIFY(TerminationSignals::received());
        QCOMPARE(finished.first().first().toInt(), CaptureExit::Failed);
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList());
    }
};

QTEST_MAIN(TestRegionCapture)
#include "tst_regioncapture.moc"
