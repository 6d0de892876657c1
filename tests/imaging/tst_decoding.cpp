#include "export/ImageRenderer.h"
#include "imaging/ImageDecoder.h"
#include "model/AppFailure.h"
#include "model/JsonCoding.h"
#include "store/ProjectFile.h"

#include <QBuffer>
#include <QFile>
#include <QImage>
#include <QTest>

#include <atomic>
#include <thread>
#include <vector>

using namespace Qt::StringLiterals;

namespace {
QByteArray encoded(const QImage &image, const char *format) {
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, format);
    return buffer.data();
}

QImage filled(int width, int height, QImage::Format format = QImage::Format_RGB32) {
    QImage image(width, height, format);
    image.fill(QColor(20, 120, 200));
    return image;
}

// Orientation 6 in an Exif block: the stored picture is to be turned a quarter clockwise.
QByteArray turnedJpeg(int width, int height) {
    return encoded(filled(width, height), "jpeg")
        .insert(2, QByteArray("\xff\xe1\0\x22"
                              "Exif\0\0MM\0*\0\0\0\x08\0\x01\x01\x12\0\x03\0\0\0\x01\0\x06\0\0\0\0\0\0",
                              36));
}

// What the export makes of the bytes: the flattened size, or its failure.
QString exported(const QByteArray &bytes) {
    try {
        const QImage image = ImageRenderer::flattenImage(bytes, {});
        return u"%1x%2"_s.arg(image.width()).arg(image.height());
    } catch (const AppFailure &failure) {
        return failure.errorDescription();
    }
}

// What opening a project makes of them: the stored PNG's size and depth, or the failure.
QString opened(const QByteArray &bytes) {
    SnipCollection collection;
    collection.items = {Snip::make(u"a.png"_s)};
    try {
        const ProjectFile::Contents contents =
            ProjectFile::decode(*encodeJson(PortableCollection{1, collection, {{u"a.png"_s, bytes}}}));
        const QImage image = QImage::fromData(contents.images.first().png, "png");
        return u"%1x%2 %3 bits"_s.arg(image.width()).arg(image.height()).arg(image.depth());
    } catch (const AppFailure &failure) {
        return failure.errorDescription();
    }
}
} // namespace

class TestDecoding : public QObject {
    Q_OBJECT
private Q_SLOTS:
    // The export and the project files read an image the same way, with the same limits.
    void everyPathDecodesAlike_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("flattened");
        QTest::addColumn<QString>("project");
        const QString unreadable = u"Ein Ausschnitt enthält kein lesbares Bild."_s;
        const QString tooLarge = u"Das Bild ist für den Export zu groß."_s;
        const QString broken = u"Ein Bild fehlt oder ist beschädigt."_s;
        const QByteArray jpeg = encoded(filled(400, 300), "jpeg");
        QFile heic(QFINDTESTDATA("../../fuzz/corpus/images/gradient.heic"));
        QVERIFY(heic.open(QIODevice::ReadOnly));
        QTest::newRow("PNG") << encoded(filled(40, 30), "png") << u"40x30"_s << u"40x30 32 bits"_s;
        QTest::newRow("turned JPEG, upright") << turnedJpeg(40, 16) << u"16x40"_s << u"16x40 32 bits"_s;
        QTest::newRow("16-bit PNG at 8 bits")
            << encoded(filled(30, 10, QImage::Format_RGBA64), "png") << u"30x10"_s << u"30x10 32 bits"_s;
        QTest::newRow("HEIC") << heic.readAll() << u"32x16"_s << u"32x16 32 bits"_s;
        QTest::newRow("JPEG cut off") << jpeg.left(jpeg.size() / 2) << unreadable << broken;
        QTest::newRow("20001 x 1, flattened beyond a snip's side")
            << encoded(filled(20001, 1), "png") << u"20001x1"_s << broken;
        QTest::newRow("30001 x 1") << encoded(filled(30001, 1), "png") << tooLarge << broken;
        QTest::newRow("SVG") << QByteArray(
                                    "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"9\" height=\"9\"/>")
                             << unreadable << broken;
        QTest::newRow("BMP, only from the clipboard") << encoded(filled(5, 5), "bmp") << unreadable << broken;
    }
    void everyPathDecodesAlike() {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, flattened);
        QFETCH(QString, project);
        QCOMPARE(exported(bytes), flattened);
        QCOMPARE(opened(bytes), project);
    }

    // Reservations that fit the share together run at once; one beyond it waits until it runs alone.
    void pixelReservations_data() {
        QTest::addColumn<QList<qint64>>("bytes");
        QTest::addColumn<int>("together"); // the most held at once
        QTest::newRow("small ones together") << QList<qint64>{100'000'000, 100'000'000, 100'000'000} << 3;
        QTest::newRow("large ones one at a time")
            << QList<qint64>{400'000'000, 400'000'000, 400'000'000} << 1;
        QTest::newRow("beyond the share, alone") << QList<qint64>{900'000'000, 10'000'000} << 1;
    }
    void pixelReservations() {
        QFETCH(QList<qint64>, bytes);
        QFETCH(int, together);
        std::atomic<int> holding = 0, most = 0, started = 0;
        std::vector<std::thread> threads;
        for (const qint64 size : bytes) {
            threads.emplace_back([&, size] {
                ++started;
                // Everyone asks before anyone lets go, so those that may overlap do.
                while (started < int(bytes.size()))
                    std::this_thread::yield();
                const Imaging::PixelReservation reservation(size);
                const int now = ++holding;
                for (int seen = most; now > seen && !most.compare_exchange_weak(seen, now);) {
                }
                QTest::qSleep(150);
                // Nested reservations of the same thread never wait.
                const Imaging::PixelReservation nested(size);
                --holding;
            });
        }
        for (std::thread &thread : threads)
            thread.join();
        if (together == 1)
            QCOMPARE(most.load(), 1);
        else
            QVERIFY2(most.load() > 1, "small reservations never overlapped");
    }
};

QTEST_GUILESS_MAIN(TestDecoding)
#include "tst_decoding.moc"
