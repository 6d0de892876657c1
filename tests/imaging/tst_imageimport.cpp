#include "ImageComparison.h"
#include "support/FileSupport.h"
#include "support/PngWriter.h"
#include "support/TiffWriter.h"

#include "imaging/ImageDecoder.h"
#include "imaging/ImageImport.h"

#include <QBuffer>
#include <QColorSpace>
#include <QFile>
#include <QImage>
#include <QImageWriter>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>
#include <QTransform>
#include <QtEndian>

#include <zlib.h>

#include <cstring>
#include <functional>

#include <sys/stat.h>

using namespace Qt::StringLiterals;

namespace {

constexpr qint64 kCloud = 25'000'000;
// Parts of the failure sentences.
const QString kUnreadable = u"Bilddatei"_s, kUnknown = u"Bildformat"_s, kTooLarge = u"200 MB"_s,
              kNotProcessed = u"verarbeitet"_s, kNoCopy = u"Cloud-Kopie"_s, kRefused = u"Cloud-Grenze"_s;
const QString kNoResolution = u"Das Bild enthält keine gültige Auflösung."_s;

// Pixels that hardly compress, so that a PNG's size follows its pixel count.
QImage noise(int width, int height) {
    QImage image(width, height, QImage::Format_RGB32);
    QRandomGenerator(1).fillRange(reinterpret_cast<quint32 *>(image.bits()), image.sizeInBytes() / 4);
    return image;
}

QByteArray encoded(const QImage &image, const char *format, bool progressive = false) {
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, format);
    writer.setProgressiveScanWrite(progressive);
    writer.write(image);
    return buffer.data();
}

// An Exif block for a JPEG: orientation 6 turns the stored picture a quarter clockwise.
const QByteArray kExifTurned("\xff\xe1\0\x22"
                             "Exif\0\0MM\0*\0\0\0\x08\0\x01\x01\x12\0\x03\0\0\0\x01\0\x06\0\0\0\0\0\0",
                             36);

// A PNG whose header claims width x height (8-bit RGB), with three black rows.
QByteArray pngClaiming(quint32 width, quint32 height) {
    return QByteArray("\x89PNG\r\n\x1a\n", 8) +
           pngChunk("IHDR" + bigEndian(width) + bigEndian(height) + QByteArray("\x08\x02\0\0\0", 5)) +
           pngChunk("IDAT" + qCompress(QByteArray(qsizetype(width) * 9 + 3, '\0')).mid(4)) + pngChunk("IEND");
}

// An 8-bit RGB image of four quadrants, top left, top right, bottom left, bottom right, as a TIFF
// of the layout (with noise in the middle quarter of the rows for "noisy tiff", in all but the top
// and bottom eighth for "bit-reversed tiff"), a JPEG ("jpeg", "progressive jpeg") or an interlaced
// PNG.
bool writeQuadrants(const QString &path, QSize size, const QList<QRgb> &quadrants, const TiffLayout *layout,
                    const QString &format = {}) {
    const auto colour = [&](int x, int y) {
        return quadrants[(x >= size.width() / 2 ? 1 : 0) + (y >= size.height() / 2 ? 2 : 0)];
    };
    if (format.endsWith(u"jpeg")) {
        QImage image(size, QImage::Format_RGB32);
        for (int y = 0; y < size.height(); ++y) {
            auto *row = reinterpret_cast<QRgb *>(image.scanLine(y));
            for (int x = 0; x < size.width(); ++x)
                row[x] = colour(x, y);
        }
        return writeFile(path, encoded(image, "jpeg", format.startsWith(u"progressive")));
    }
    QRandomGenerator random(3);
    const int calm = format == u"noisy tiff"          ? size.height() * 3 / 8
                     : format == u"bit-reversed tiff" ? size.height() / 8
                                                      : size.height();
    if (layout)
        return writeTiff(path, size, *layout, [&](int y, QRgb *row) {
            if (y >= calm && y < size.height() - calm) {
                random.fillRange(row, size_t(size.width()));
                return;
            }
            for (int x = 0; x < size.width(); ++x)
                row[x] = colour(x, y);
        });
    const QByteArray png = streamedPng(size, 8, 2, true, [&](int y, int first, int dx) {
        const auto samples = [&](int x) {
            const QRgb c = colour(x, y);
            return QByteArray(1, char(qRed(c))) + char(qGreen(c)) + char(qBlue(c));
        };
        const int count = (size.width() - first + dx - 1) / dx;
        const int left = std::max(0, (size.width() / 2 - first + dx - 1) / dx);
        return samples(0).repeated(left) + samples(size.width() - 1).repeated(count - left);
    });
    return writeFile(path, png);
}

QByteArray littleEndian16(quint16 value) {
    return QByteArray(1, char(value & 0xFF)) + char(value >> 8);
}

// A GIF whose logical screen is screen (header bytes 6 to 9) holding one frame of `frame` at the
// top left: 35 bytes.
QByteArray gif(QSize screen, QSize frame) {
    return "GIF89a" + littleEndian16(quint16(screen.width())) + littleEndian16(quint16(screen.height())) +
           QByteArray("\x80\0\0\0\0\0\xff\xff\xff,\0\0\0\0", 14) + littleEndian16(quint16(frame.width())) +
           littleEndian16(quint16(frame.height())) + QByteArray("\0\x02\x02\x44\x01\0;", 7);
}

// The expected part of the sentence action fails with; else the whole sentence, or nothing.
QString failureOf(const std::function<void()> &action, const QString &part) {
    try {
        action();
    } catch (const AppFailure &caught) {
        return !part.isEmpty() && caught.errorDescription().contains(part) ? part : caught.errorDescription();
    }
    return {};
}

QSize sizeOf(const std::optional<ImageImport::Image> &copy) {
    return copy ? QSize(copy->width, copy->height) : QSize();
}

qint64 statusKilobytes(const char *key) {
    QFile status(u"/proc/self/status"_s);
    const QByteArray text = status.open(QIODevice::ReadOnly) ? status.readAll() : QByteArray();
    const qsizetype at = text.indexOf(key);
    return at < 0 ? -1 : text.mid(at + qstrlen(key)).trimmed().split(' ').value(0).toLongLong();
}

} // namespace

class TestImageImport : public QObject {
    Q_OBJECT
private Q_SLOTS:
    // The memory checks come first, the smallest bound first, while the peak is the present size.
    // A GIF states the size of its first frame to Qt's reader, which then paints it onto the whole
    // logical screen: the screen's size is what the checks look at, for every way a GIF comes in.
    void gifScreen_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("way");
        QTest::addColumn<QString>("failure");
        QTest::addColumn<QSize>("original"); // invalid: none
        const QByteArray bomb = gif({14000, 14000}, {1, 1});
        QTest::newRow("14000 x 14000 screen, pasted") << bomb << u"paste"_s << kNotProcessed << QSize();
        QTest::newRow("14000 x 14000 screen, imported") << bomb << u"import"_s << kUnknown << QSize();
        QTest::newRow("14000 x 14000 screen, as bytes") << bomb << u"bytes"_s << kUnknown << QSize();
        QTest::newRow("20000 x 5001 screen, pasted")
            << gif({20000, 5001}, {1, 1}) << u"paste"_s << kNotProcessed << QSize();
        QTest::newRow("20001 x 1 screen, pasted")
            << gif({20001, 1}, {1, 1}) << u"paste"_s << kNotProcessed << QSize();
        QTest::newRow("frame on a 9 x 4 screen, pasted")
            << gif({9, 4}, {1, 1}) << u"paste"_s << QString() << QSize(9, 4);
        QTest::newRow("no screen, the frame's size")
            << gif({0, 0}, {5, 3}) << u"paste"_s << QString() << QSize(5, 3);
        QTest::newRow("cut in its header")
            << gif({9, 4}, {1, 1}).left(8) << u"paste"_s << kNoResolution << QSize();
    }
    void gifScreen() {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, way);
        QFETCH(QString, failure);
        QFETCH(QSize, original);
        QTemporaryDir dir;
        const QString path = dir.filePath(u"image.gif"_s);
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size());
        file.close();
        ImageImport::Review review;
        const qint64 before = statusKilobytes("VmSize:");
        QCOMPARE(failureOf(
                     [&] {
                         if (way == u"paste")
                             review = ImageImport::reviewPasted(bytes, kCloud);
                         else if (way == u"import")
                             review = ImageImport::review(path);
                         else
                             review = ImageImport::review(bytes, kCloud);
                     },
                     failure),
                 failure);
        const qint64 grown = statusKilobytes("VmPeak:") - before;
        QVERIFY2(grown < 100'000, qPrintable(u"%1 kB"_s.arg(grown)));
        QCOMPARE(sizeOf(review.original), original);
    }

    // A PNG of 96 megapixels cut off inside its data: refused before Qt allocates the image.
    void cutPngAllocatesNothing() {
        QByteArray png = pngClaiming(12000, 8000);
        png.chop(20); // into the data chunk
        const qint64 before = statusKilobytes("VmSize:");
        QCOMPARE(failureOf([&] { ImageImport::review(png, kCloud); }, kNotProcessed), kNotProcessed);
        const qint64 grown = statusKilobytes("VmPeak:") - before;
        QVERIFY2(grown < 200'000, qPrintable(u"%1 kB"_s.arg(grown)));
    }

    void hugeHeaderAllocatesLittle_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<qint64>("most"); // kB the peak may grow by
        // A progressive JPEG keeps every block's coefficients while it is read: 576 MB for what this
        // header claims, beyond the budget of a reduced copy.
        QByteArray jpeg = encoded(noise(16, 16), "jpeg", true);
        const qsizetype frame = jpeg.indexOf("\xff\xc2");
        QVERIFY(frame > 0);
        jpeg.replace(frame + 5, 4, QByteArray("\x1f\x40\x5d\xc0", 4)); // 8000 rows of 24000
        QTest::newRow("progressive JPEG of 24000 x 8000") << jpeg << qint64(200'000);
        // A decode at the claimed size would need 12 GB.
        QTest::newRow("PNG of 65535 x 65535") << pngClaiming(65535, 65535) << qint64(2'000'000);
    }
    // Refused from the header, before anything is decoded.
    void hugeHeaderAllocatesLittle() {
        QFETCH(QByteArray, bytes);
        QFETCH(qint64, most);
        Imaging::resetPeakPixelBytes();
        const qint64 before = statusKilobytes("VmSize:");
        QCOMPARE(failureOf([&] { ImageImport::review(bytes, kCloud); }, kNotProcessed), kNotProcessed);
        const qint64 grown = statusKilobytes("VmPeak:") - before;
        QVERIFY2(grown < most, qPrintable(u"%1 kB"_s.arg(grown)));
        QCOMPARE(Imaging::peakPixelBytes(), 0);
    }

    void largeSourcesReduced_data() {
        QTest::addColumn<QSize>("size");
        // "tiff" and "ycbcr tiff": the compression and strips given, "bit-reversed tiff" as well,
        // reviewed as bytes in memory; "png": interlaced; "jpeg", "progressive jpeg"
        QTest::addColumn<QString>("format");
        QTest::addColumn<int>("compression");
        QTest::addColumn<int>("rowsPerStrip"); // 0: one strip
        QTest::addColumn<QList<QRgb>>("quadrants");
        QTest::addColumn<QSize>("reduced");
        QTest::addColumn<QList<QRgb>>("corners"); // of the reduced copy
        QTest::addColumn<qint64>("most");  // bytes of pixel buffers held at most; 0: the copy and 16 MB
        QTest::addColumn<qint64>("least"); // bytes that must be counted as held, of what is read whole
        const QList<QRgb> colours{qRgb(200, 30, 30), qRgb(30, 160, 60), qRgb(20, 60, 200), qRgb(90, 90, 90)};
        const QList<QRgb> columns{colours[0], colours[1], colours[0], colours[1]};
        QTest::newRow("TIFF, deflated strips of 16 rows")
            << QSize(12000, 10000) << u"tiff"_s << COMPRESSION_ADOBE_DEFLATE << 16 << colours
            << QSize(4096, 3413) << colours << qint64(0) << qint64(0);
        // Wider than supported, and strips of more than 64 MB decoded: whole, the image would take
        // 144 MB or more.
        const QSize wide(20001, 1800), reduced(4096, 369);
        QTest::newRow("TIFF, one LZW strip") << wide << u"tiff"_s << COMPRESSION_LZW << 0 << colours
                                             << reduced << colours << qint64(0) << qint64(0);
        QTest::newRow("TIFF, one deflated strip") << wide << u"tiff"_s << COMPRESSION_ADOBE_DEFLATE << 0
                                                  << colours << reduced << colours << qint64(0) << qint64(0);
        QTest::newRow("TIFF, LZW strips of 2000 rows")
            << QSize(20001, 2400) << u"tiff"_s << COMPRESSION_LZW << 2000 << colours << QSize(4096, 491)
            << colours << qint64(0) << qint64(0);
        // libtiff hands its rows over as RGB, twice the size of the subsampled rows it states before.
        QTest::newRow("TIFF, one YCbCr JPEG strip")
            << QSize(20001, 2400) << u"ycbcr tiff"_s << COMPRESSION_JPEG << 0 << colours << QSize(4096, 491)
            << colours << qint64(0) << qint64(0);
        // Rows of 8 MB and strips of 48 MB, within the budget.
        QTest::newRow("TIFF, 2000000 x 8")
            << QSize(2'000'000, 8) << u"tiff"_s << COMPRESSION_ADOBE_DEFLATE << 16 << columns
            << QSize(4096, 1) << columns << ImageImport::reductionBudget << qint64(0);
        QTest::newRow("interlaced PNG")
            << wide << u"png"_s << 0 << 0 << colours << reduced << colours << qint64(0) << qint64(0);
        // Beyond the million pixels a side that libpng takes by default; seven readers of 4.4 MB rows.
        QTest::newRow("interlaced PNG, 1100000 x 8")
            << QSize(1'100'000, 8) << u"png"_s << 0 << 0 << columns << QSize(4096, 1) << columns
            << ImageImport::reductionBudget << qint64(0);
        QTest::newRow("JPEG") << QSize(20001, 600) << u"jpeg"_s << 0 << 0 << colours << QSize(4096, 123)
                              << colours << qint64(0) << qint64(0);
        // Every block's coefficients are kept until the last scan: 36 MB.
        QTest::newRow("progressive JPEG") << QSize(20001, 600) << u"progressive jpeg"_s << 0 << 0 << colours
                                          << QSize(4096, 123) << colours << qint64(64'000'000) << qint64(0);
        // Each pixel of the copy covers five black and five white ones: 127.5 rounds to 128.
        const QRgb black = qRgb(0, 0, 0), white = qRgb(255, 255, 255), grey = qRgb(128, 128, 128);
        QTest::newRow("black row over a white row, averaged to the nearest value")
            << QSize(20480, 2) << u"tiff"_s << COMPRESSION_ADOBE_DEFLATE << 16
            << QList<QRgb>{black, black, white, white} << QSize(4096, 1)
            << QList<QRgb>{grey, grey, grey, grey} << qint64(0) << qint64(0);
        // A strip read a row at a time is first read whole as it is stored, from a file: its middle
        // rows are noise, 18 MB deflated.
        QTest::newRow("TIFF, one deflated strip with noise")
            << QSize(20001, 1200) << u"noisy tiff"_s << COMPRESSION_ADOBE_DEFLATE << 0 << colours
            << QSize(4096, 246) << colours << ImageImport::reductionBudget << qint64(18'000'000);
        // Bytes in memory are read as they are, unless their bits are stored in reverse: then a
        // strip is copied whole, like one read from a file, here 85 MB, mostly noise.
        QTest::newRow("TIFF as bytes, one bit-reversed strip with noise")
            << QSize(20001, 1500) << u"bit-reversed tiff"_s << COMPRESSION_PACKBITS << 0 << colours
            << QSize(4096, 307) << colours << ImageImport::reductionBudget << qint64(85'000'000);
    }
    // A source beyond the supported size goes straight to a reduced copy, read a band or a row at a
    // time whatever its layout: memory follows the copy, never the whole image.
    void largeSourcesReduced() {
        QFETCH(QSize, size);
        QFETCH(QString, format);
        QFETCH(int, compression);
        QFETCH(int, rowsPerStrip);
        QFETCH(QList<QRgb>, quadrants);
        QFETCH(QSize, reduced);
        QFETCH(QList<QRgb>, corners);
        QFETCH(qint64, most);
        QFETCH(qint64, least);
        QTemporaryDir dir;
        const QString path = dir.filePath(u"large"_s);
        TiffLayout layout;
        layout.compression = compression;
        layout.rowsPerStrip = rowsPerStrip;
        if (format == u"ycbcr tiff")
            layout.photometric = PHOTOMETRIC_YCBCR;
        const bool inMemory = format == u"bit-reversed tiff";
        if (inMemory)
            layout.fillOrder = FILLORDER_LSB2MSB;
        QVERIFY(writeQuadrants(path, size, quadrants, format.endsWith(u"tiff") ? &layout : nullptr, format));
        const QByteArray bytes = inMemory ? readFile(path) : QByteArray();
        Imaging::resetPeakPixelBytes();
        ImageImport::Review review;
        QCOMPARE(failureOf(
                     [&] {
                         review = inMemory ? ImageImport::review(bytes, ImageImport::maximumCloudBytes)
                                           : ImageImport::review(path);
                     },
                     {}),
                 QString());
        const qint64 held = Imaging::peakPixelBytes();
        QVERIFY2(held <= (most > 0 ? most : qint64(reduced.width()) * reduced.height() * 4 + 16'000'000) &&
                     held >= least,
                 qPrintable(u"%1 bytes"_s.arg(held)));
        QCOMPARE(QSize(review.width, review.height), size);
        QVERIFY(!review.original);
        QCOMPARE(sizeOf(review.reduced), reduced);
        const QImage copy = QImage::fromData(review.reduced->png, "png");
        const int left = std::min(10, copy.width() - 1), right = std::max(0, copy.width() - 11);
        const int top = std::min(10, copy.height() - 1), bottom = std::max(0, copy.height() - 11);
        // JPEG keeps flat colours to within a few steps.
        const int tolerance = format.contains(u"jpeg") || compression == COMPRESSION_JPEG ? 6 : 0;
        const QList<QPoint> at{{left, top}, {right, top}, {left, bottom}, {right, bottom}};
        for (int i = 0; i < 4; ++i) {
            const QRgb seen = copy.pixel(at[i]), wanted = corners[i];
            QVERIFY2(std::abs(qRed(seen) - qRed(wanted)) <= tolerance &&
                         std::abs(qGreen(seen) - qGreen(wanted)) <= tolerance &&
                         std::abs(qBlue(seen) - qBlue(wanted)) <= tolerance,
                     qPrintable(u"corner %1: %2 instead of %3"_s.arg(i).arg(seen, 8, 16).arg(wanted, 8, 16)));
        }
    }

    void cancelledBetweenBands_data() {
        QTest::addColumn<QByteArray>("bytes");
        const QSize wide(20001, 70); // beyond the supported size: no original comes first
        const auto band = [](int, int x, int dx) {
            return QByteArray((20001 - x + dx - 1) / dx * 3, '\x40');
        };
        QTest::newRow("PNG") << streamedPng(wide, 8, 2, false, band);
        QTest::newRow("interlaced PNG") << streamedPng(wide, 8, 2, true, band);
        QTest::newRow("JPEG") << encoded(noise(wide.width(), wide.height()), "jpeg");
        QTest::newRow("progressive JPEG") << encoded(noise(wide.width(), wide.height()), "jpeg", true);
        for (const int rowsPerStrip : {16, 0}) {
            QTemporaryDir dir;
            const QString path = dir.filePath(u"image.tiff"_s);
            // One strip of 67 MB decoded is read a row at a time.
            const QSize size = rowsPerStrip > 0 ? wide : QSize(20001, 420);
            QVERIFY(
                writeTiff(path, size,
                          {ORIENTATION_TOPLEFT, false, true, 16, {}, COMPRESSION_ADOBE_DEFLATE, rowsPerStrip},
                          [&](int, QRgb *row) { std::fill(row, row + size.width(), qRgb(40, 40, 40)); }));
            QFile file(path);
            QVERIFY(file.open(QIODevice::ReadOnly));
            QTest::addRow("TIFF, %s", rowsPerStrip > 0 ? "strips of 16 rows" : "one strip") << file.readAll();
        }
    }
    // Told to stop when the source is about to be read, the review ends with its first band.
    void cancelledBetweenBands() {
        QFETCH(QByteArray, bytes);
        int asked = 0;
        QVERIFY_THROWS_EXCEPTION(ImageImport::Cancelled,
                                 ImageImport::review(bytes, kCloud, [&] { return ++asked > 1; }));
        QCOMPARE(asked, 2);
    }

    // Qt decodes 16-bit PNGs at eight bytes a pixel: 67 megapixels must still come in, as 8 bits.
    void sixteenBitSourceDecodes() {
        const ImageImport::Review review = ImageImport::review(blackPng({8200, 8200}, 16, 2), kCloud);
        QVERIFY(review.original);
        QCOMPARE(sizeOf(review.original), QSize(8200, 8200));
        QImage copy;
        QVERIFY(copy.loadFromData(review.original->png, "png"));
        QCOMPARE(copy.depth(), 32);
    }

    void supportedDimensions_data() {
        QTest::addColumn<QSize>("size");
        QTest::addColumn<bool>("supported");
        QTest::newRow("20000 x 5000, 100 MP") << QSize(20000, 5000) << true;
        QTest::newRow("20000 x 5001") << QSize(20000, 5001) << false;
        QTest::newRow("20001 x 1") << QSize(20001, 1) << false;
        QTest::newRow("5000 x 20000") << QSize(5000, 20000) << true;
        QTest::newRow("5001 x 20000") << QSize(5001, 20000) << false;
        QTest::newRow("1 x 20001") << QSize(1, 20001) << false;
        QTest::newRow("0 x 1") << QSize(0, 1) << false;
        QTest::newRow("1 x 0") << QSize(1, 0) << false;
    }
    void supportedDimensions() {
        QFETCH(QSize, size);
        QFETCH(bool, supported);
        QCOMPARE(ImageImport::supportedDimensions(size.width(), size.height()), supported);
    }

    // Each file, named by its row, through the import and the cloud check.
    void files_data() {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("failure"); // of the import; empty: none
        QTest::addColumn<QString>("cloud");   // of the cloud check
        QTest::addColumn<QSize>("original");  // invalid: none
        QTest::addColumn<QSize>("reduced");   // invalid: none
        QTest::addColumn<qint64>("size");     // sparse zeros after the content up to this size
        const auto row = [](const char *file, const QByteArray &content, const QString &failure,
                            const QString &cloud, QSize original = {}, QSize reduced = {}, qint64 size = 0) {
            QTest::newRow(file) << content << failure << cloud << original << reduced << size;
        };
        const QByteArray png = encoded(noise(16, 8), "png");
        QFile heic(QFINDTESTDATA("../../fuzz/corpus/images/gradient.heic"));
        QVERIFY(heic.open(QIODevice::ReadOnly));
        // Decoded, 144 MB of pixels: beyond the 128 MB Qt allows by default.
        QImage plain(6000, 6000, QImage::Format_Mono);
        plain.setColorTable({qRgb(0, 90, 160), qRgb(200, 40, 0)});
        plain.fill(0);
        const QByteArray jpeg = encoded(noise(300, 200), "jpeg");
        const QByteArray bigPng = encoded(noise(300, 200), "png");
        row("folder", {}, kUnreadable, kRefused);
        row("fifo", {}, kUnreadable, kRefused);
        row("cut.jpg", jpeg.left(jpeg.size() * 2 / 3), kNotProcessed, kRefused);
        row("no end marker.jpg", jpeg.chopped(2), kNotProcessed, kRefused);
        row("cut.png", bigPng.left(bigPng.size() * 2 / 3), kNotProcessed,
            {}); // the cloud check reads the header
        row("cut header.png", png.left(20), kNoResolution, kRefused);
        row("empty.png", {}, kTooLarge, kRefused);
        row("200000000 zeros", {}, kUnknown, kRefused, {}, {}, 200'000'000); // passes the size check
        row("200000001.png", png, kTooLarge, kRefused, {}, {}, 200'000'001);
        row("25000000.png", png, {}, {}, {16, 8}, {}, 25'000'000);
        row("25000001.png", png, {}, kRefused, {16, 8}, {}, 25'000'001);
        row("link", png, {}, kRefused, {16, 8}); // a symbolic link to a PNG
        row("jpeg.png", encoded(noise(40, 30), "jpeg"), {}, kRefused, {40, 30});
        row("heic.jpg", heic.readAll(), {}, kRefused, {32, 16});
        QFile extent(QFINDTESTDATA("../../fuzz/corpus/images/heif-extent-beyond-file"));
        QVERIFY(extent.open(QIODevice::ReadOnly));
        row("extent beyond the file.heic", extent.readAll(), kNoResolution, kRefused);
        row("image.svg", "<svg xmlns=\"http://www.w3.org/2000/svg\"/>", kUnknown, kRefused);
        row("6000x6000.jpg", encoded(plain, "jpeg"), {}, kRefused, {6000, 6000});
        // Beyond the supported size: no original, and the reduced copy starts at 4096.
        row("20001x1.png", encoded(noise(20001, 1), "png"), {}, kRefused, {}, {4096, 1});
        row("20001x2.tiff", encoded(noise(20001, 2), "tiff"), {}, kRefused, {}, {4096, 1});
        row("turned.jpg", encoded(noise(20001, 16), "jpeg").insert(2, kExifTurned), {}, kRefused, {},
            {3, 4096});
        // Small files that claim so many pixels that no reduced copy is made of them.
        row("30000x500000, every strip the same.tiff", sameStripTiff({30000, 500000}, 64), kNotProcessed,
            kRefused);
        row("60000x60000, 1 bit.png", blackPng({60000, 60000}, 1, 0), kNotProcessed, kRefused);
    }
    void files() {
        QFETCH(QByteArray, content);
        QFETCH(QString, failure);
        QFETCH(QString, cloud);
        QFETCH(QSize, original);
        QFETCH(QSize, reduced);
        QFETCH(qint64, size);
        QTemporaryDir dir;
        const QString name = QString::fromLatin1(QTest::currentDataTag());
        const QString path = name == u"folder" ? dir.path() : dir.filePath(name);
        QFile file(name == u"link" ? dir.filePath(u"target.png"_s) : path);
        if (name == u"fifo")
            QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
        else if (name != u"folder")
            QVERIFY(file.open(QIODevice::WriteOnly) && file.write(content) == content.size() &&
                    file.resize(std::max<qint64>(size, content.size())));
        if (name == u"link")
            QVERIFY(QFile::link(file.fileName(), path));
        QCOMPARE(failureOf([&] { ImageImport::validateCloudPNG(path); }, cloud), cloud);
        ImageImport::Review review;
        QCOMPARE(failureOf([&] { review = ImageImport::review(path); }, failure), failure);
        QCOMPARE(sizeOf(review.original), original);
        QCOMPARE(sizeOf(review.reduced), reduced);
    }

    // The original alone, then copies of 70 % of the edge before; asks whether to stop before the
    // first copy and after each one that did not fit, but the last.
    void cloudLimit() {
        const QByteArray png = encoded(noise(120, 80), "png");
        const qint64 size = ImageImport::review(png, kCloud).original->png.size();
        int asked = 0;
        const auto count = [&] { return ++asked < 0; };
        QVERIFY(!ImageImport::review(png, size, count).reduced);
        QCOMPARE(asked, 0);
        const ImageImport::Review over = ImageImport::review(png, size - 1, count);
        QVERIFY(over.original && over.reduced && over.reduced->png.size() < size);
        QCOMPARE(sizeOf(over.reduced), QSize(84, 56));
        asked = 0;
        QCOMPARE(failureOf([&] { ImageImport::review(png, 1, count); }, kNoCopy), kNoCopy);
        QCOMPARE(asked, ImageImport::reductionEdges(120).size());
        QVERIFY_THROWS_EXCEPTION(ImageImport::Cancelled, ImageImport::review(png, 1, [] { return true; }));
    }

    void tiffBands_data() {
        QTest::addColumn<int>("orientation");
        QTest::addColumn<bool>("tiled");
        QTest::addColumn<bool>("alpha");
        QTest::addColumn<int>("bits");
        QTest::addColumn<QByteArray>("profile");
        QTest::addColumn<int>("photometric"); // RGB, or grey (MINISBLACK)
        QTest::addColumn<int>("extraSample"); // how alpha is stored
        const auto row = [](const char *name, int orientation, bool tiled, bool alpha, int bits,
                            const QByteArray &profile = {}, int photometric = PHOTOMETRIC_RGB,
                            int extraSample = EXTRASAMPLE_UNASSALPHA) {
            QTest::newRow(name) << orientation << tiled << alpha << bits << profile << photometric
                                << extraSample;
        };
        row("strips", ORIENTATION_TOPLEFT, false, false, 8);
        row("tiles", ORIENTATION_TOPLEFT, true, false, 8);
        row("unassociated alpha", ORIENTATION_TOPLEFT, false, true, 8);
        row("16 bits, tiles, alpha", ORIENTATION_TOPLEFT, true, true, 16);
        row("Display P3 profile", ORIENTATION_TOPLEFT, false, false, 8,
            QColorSpace(QColorSpace::DisplayP3).iccProfile());
        row("mirrored", ORIENTATION_TOPRIGHT, false, false, 8);
        row("upside down", ORIENTATION_BOTRIGHT, true, false, 8);
        row("turned a quarter clockwise", ORIENTATION_RIGHTTOP, false, false, 8);
        row("turned a quarter anticlockwise", ORIENTATION_LEFTBOT, true, true, 8);
        // Every kind of alpha: the colours as stored un-premultiplied exactly once, in every copy.
        row("associated alpha", ORIENTATION_TOPLEFT, false, true, 8, {}, PHOTOMETRIC_RGB,
            EXTRASAMPLE_ASSOCALPHA);
        row("unspecified extra sample", ORIENTATION_TOPLEFT, false, true, 8, {}, PHOTOMETRIC_RGB,
            EXTRASAMPLE_UNSPECIFIED);
        row("16 bits, associated alpha", ORIENTATION_TOPLEFT, false, true, 16, {}, PHOTOMETRIC_RGB,
            EXTRASAMPLE_ASSOCALPHA);
        row("16 bits, tiles, unspecified extra sample", ORIENTATION_TOPLEFT, true, true, 16, {},
            PHOTOMETRIC_RGB, EXTRASAMPLE_UNSPECIFIED);
        row("grey, unassociated alpha", ORIENTATION_TOPLEFT, false, true, 8, {}, PHOTOMETRIC_MINISBLACK);
        row("grey, tiles, associated alpha", ORIENTATION_TOPLEFT, true, true, 8, {}, PHOTOMETRIC_MINISBLACK,
            EXTRASAMPLE_ASSOCALPHA);
        row("grey, 16 bits, tiles, unassociated alpha", ORIENTATION_TOPLEFT, true, true, 16, {},
            PHOTOMETRIC_MINISBLACK);
        row("grey, 16 bits, associated alpha, upside down", ORIENTATION_BOTRIGHT, false, true, 16, {},
            PHOTOMETRIC_MINISBLACK, EXTRASAMPLE_ASSOCALPHA);
    }
    // A smaller copy of a TIFF, read in bands, shows what the whole image shows, the file's
    // orientation applied.
    void tiffBands() {
        QFETCH(int, orientation);
        QFETCH(bool, tiled);
        QFETCH(bool, alpha);
        QFETCH(int, bits);
        QFETCH(QByteArray, profile);
        QFETCH(int, photometric);
        QFETCH(int, extraSample);
        const QSize size(150, 70);
        const bool grey = photometric == PHOTOMETRIC_MINISBLACK;
        QImage stored(size, QImage::Format_ARGB32);
        for (int y = 0; y < size.height(); ++y)
            for (int x = 0; x < size.width(); ++x) {
                const int red = x < 50 ? 220 : 30;
                stored.setPixel(x, y,
                                qRgba(red, grey ? red : x * 255 / 149,
                                      grey     ? red
                                      : y < 35 ? 40
                                               : 200,
                                      alpha ? 40 + (x / 10 + y / 10) % 4 * 70 : 255));
            }
        QTemporaryDir dir;
        const QString path = dir.filePath(u"image.tiff"_s);
        const TiffLayout layout{orientation, tiled,      alpha, bits, profile, COMPRESSION_ADOBE_DEFLATE, 16,
                                photometric, extraSample};
        QVERIFY(writeTiff(path, size, layout, [&](int y, QRgb *row) {
            std::memcpy(row, stored.constScanLine(y), size_t(size.width()) * 4);
        }));
        QImage upright = stored;
        if (orientation == ORIENTATION_TOPRIGHT)
            upright = stored.mirrored(true, false);
        else if (orientation != ORIENTATION_TOPLEFT)
            upright = stored.transformed(QTransform().rotate(orientation == ORIENTATION_BOTRIGHT   ? 180
                                                             : orientation == ORIENTATION_RIGHTTOP ? 90
                                                                                                   : 270));
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray bytes = file.readAll();
        const QImage whole = Imaging::decode(bytes, Imaging::Tiff);
        const auto [wholeMean, wholeMost] = difference(upright, whole);
        QVERIFY2(wholeMost <= 1, qPrintable(u"whole: mean %1, at most %2"_s.arg(wholeMean).arg(wholeMost)));
        QCOMPARE(whole.colorSpace().isValid(), !profile.isEmpty());
        for (const int edge : {100, 61, 9}) {
            const QImage scaled = Imaging::Decoder(bytes, Imaging::Tiff).decode(edge);
            QCOMPARE(scaled.colorSpace(), whole.colorSpace());
            const double mean =
                difference(smoothlyScaled(upright, Imaging::fittedSize(upright.size(), edge)), scaled).first;
            QVERIFY2(mean < 2, qPrintable(u"longest edge %1: %2"_s.arg(edge).arg(mean)));
        }
    }

    void reductionEdges_data() {
        QTest::addColumn<int>("start");
        QTest::addColumn<QList<int>>("edges");
        QTest::newRow("4096") << 4096 << QList<int>{4096, 2867, 2006, 1404, 982, 687, 480, 336, 235, 164, 114,
                                                    79,   55,   38,   26,   18,  12,  8,   5,   3,   2,   1};
        QTest::newRow("3000") << 3000 << QList<int>{3000, 2100, 1470, 1029, 720, 503, 352, 246, 172, 120, 84,
                                                    58,   40,   28,   19,   13,  9,   6,   4,   2,   1};
    }
    void reductionEdges() {
        QFETCH(int, start);
        QFETCH(QList<int>, edges);
        QCOMPARE(ImageImport::reductionEdges(start), edges);
    }
};

QTEST_GUILESS_MAIN(TestImageImport)
#include "tst_imageimport.moc"
