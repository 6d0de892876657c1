#include "ImageComparison.h"
#include "support/PngWriter.h"

#include "export/ImageRenderer.h"
#include "imaging/ImageDecoder.h"
#include "imaging/ImageImport.h"
#include "model/AppFailure.h"
#include "model/JsonCoding.h"
#include "store/ProjectFile.h"

#include <QBuffer>
#include <QColorSpace>
#include <QFile>
#include <QImage>
#include <QTest>
#include <QtEndian>

#include <zlib.h>

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

// A PNG of any kind (colour type 0 grey, 2 RGB, 3 palette, 4 grey and alpha, 6 RGBA; any bit depth
// the type allows), optionally with a tRNS chunk, and the pixels it holds at 8 bits a channel:
// blocks of 8 x 8 pixels in seven levels of each channel, alpha (where there is some) in blocks of
// its own from clear to opaque.
struct KindOfPng {
    QByteArray png;
    QImage pixels; // straight ARGB32
};

KindOfPng pngOfKind(int colorType, int depth, bool transparency, QSize size, bool interlaced = false) {
    const int channels = colorType == 2 ? 3 : colorType == 4 ? 2 : colorType == 6 ? 4 : 1;
    const bool alpha = colorType == 4 || colorType == 6;
    const quint32 top = (1u << depth) - 1;
    const int entries = std::min(1 << depth, 7);
    const auto sample = [&](int x, int y, int c) -> quint32 {
        if (colorType == 3)
            return quint32((x / 8 + y / 8 * 3) % entries);
        if (alpha && c == channels - 1)
            return quint32((x / 12 + y / 12) % 4) * top / 3;
        return quint32((x / 8 + y / 8 * 3 + c * 2) % 7) * top / 6;
    };
    const auto eightBits = [&](quint32 value) { return int(std::lround(value * 255.0 / top)); };
    const auto palette = [](int i) {
        return qRgba(40 + i * 30, 200 - i * 20, i * 70 % 256, std::max(0, 255 - i * 45));
    };
    KindOfPng kind{{}, QImage(size, QImage::Format_ARGB32)};
    // The stored row of the pixels x, x + dx, … of row y.
    const auto packed = [&](int y, int first, int dx) {
        QByteArray row(((size.width() - first + dx - 1) / dx * channels * depth + 7) / 8, '\0');
        for (int x = first, at = 0; x < size.width(); x += dx, ++at) {
            for (int c = 0; c < channels; ++c) {
                const quint32 value = sample(x, y, c);
                const int bit = (at * channels + c) * depth;
                if (depth == 16) {
                    row[bit / 8] = char(value >> 8);
                    row[bit / 8 + 1] = char(value);
                } else {
                    row[bit / 8] = char(uchar(row[bit / 8]) | value << (8 - depth - bit % 8));
                }
            }
        }
        return row;
    };
    QByteArray raw;
    for (const Adam7Pass &pass : interlaced ? QList<Adam7Pass>(std::begin(kAdam7), std::end(kAdam7))
                                            : QList<Adam7Pass>{{0, 0, 1, 1}}) {
        // A pass without columns has no rows either.
        for (int y = pass.y; pass.x < size.width() && y < size.height(); y += pass.dy)
            raw += '\0' + packed(y, pass.x, pass.dx);
    }
    for (int y = 0; y < size.height(); ++y) {
        for (int x = 0; x < size.width(); ++x) {
            bool key = transparency && colorType != 3;
            for (int c = 0; c < channels; ++c)
                key = key && sample(x, y, c) == sample(0, 0, c);
            QRgb pixel = 0;
            if (colorType == 3) {
                const QRgb entry = palette(int(sample(x, y, 0)));
                pixel = transparency ? entry : (entry | 0xFF000000u);
            } else {
                const int grey = eightBits(sample(x, y, 0));
                const int a = alpha ? eightBits(sample(x, y, channels - 1)) : key ? 0 : 255;
                pixel = channels >= 3 ? qRgba(grey, eightBits(sample(x, y, 1)), eightBits(sample(x, y, 2)), a)
                                      : qRgba(grey, grey, grey, a);
            }
            kind.pixels.setPixel(x, y, pixel);
        }
    }
    QByteArray &png = kind.png;
    png = QByteArray("\x89PNG\r\n\x1a\n", 8);
    png += pngChunk("IHDR" + bigEndian(quint32(size.width())) + bigEndian(quint32(size.height())) +
                    char(depth) + char(colorType) + QByteArray(2, '\0') + char(interlaced));
    if (colorType == 3) {
        QByteArray colors, alphas;
        for (int i = 0; i < entries; ++i) {
            colors += char(qRed(palette(i)));
            colors += char(qGreen(palette(i)));
            colors += char(qBlue(palette(i)));
            alphas += char(qAlpha(palette(i)));
        }
        png += pngChunk("PLTE" + colors);
        if (transparency)
            png += pngChunk("tRNS" + alphas);
    } else if (transparency) {
        QByteArray key;
        for (int c = 0; c < channels; ++c)
            key += char(sample(0, 0, c) >> 8) + QByteArray(1, char(sample(0, 0, c)));
        png += pngChunk("tRNS" + key);
    }
    png += pngChunk("IDAT" + qCompress(raw).mid(4));
    png += pngChunk("IEND");
    return kind;
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
        // A header beyond libpng's default limit, whose pixels would need 2^64 bytes.
        QTest::newRow("PNG header of 2147483647 x 2147483647")
            << QByteArray("\x89PNG\r\n\x1a\n", 8) +
                   pngChunk("IHDR" + bigEndian(0x7FFFFFFF) + bigEndian(0x7FFFFFFF) +
                            QByteArray("\x08\x02\0\0\0", 5)) +
                   pngChunk("IEND")
            << tooLarge << broken;
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

    void scaledPngKinds_data() {
        QTest::addColumn<int>("colorType");
        QTest::addColumn<int>("depth");
        QTest::addColumn<bool>("transparency");
        QTest::addColumn<bool>("interlaced");
        QTest::addColumn<QSize>("size");
        const QSize size(96, 64);
        for (const int depth : {1, 2, 4, 8, 16})
            QTest::addRow("grey, %d bits", depth) << 0 << depth << false << false << size;
        QTest::newRow("grey, 8 bits, one grey clear") << 0 << 8 << true << false << size;
        QTest::newRow("grey, 16 bits, one grey clear") << 0 << 16 << true << false << size;
        for (const int depth : {1, 2, 4, 8}) {
            QTest::addRow("palette, %d bits", depth) << 3 << depth << false << false << size;
            QTest::addRow("palette, %d bits, translucent entries", depth)
                << 3 << depth << true << false << size;
        }
        for (const int depth : {8, 16}) {
            QTest::addRow("RGB, %d bits", depth) << 2 << depth << false << false << size;
            QTest::addRow("RGB, %d bits, one colour clear", depth) << 2 << depth << true << false << size;
            QTest::addRow("grey and alpha, %d bits", depth) << 4 << depth << false << false << size;
            QTest::addRow("RGBA, %d bits", depth) << 6 << depth << false << false << size;
        }
        QTest::newRow("RGB, 16 bits, one colour clear, interlaced") << 2 << 16 << true << true << size;
        // Some of the seven passes hold no column of so narrow an image.
        for (const int width : {1, 2, 3, 4})
            QTest::addRow("RGBA, interlaced, %d x 400", width)
                << 6 << 8 << false << true << QSize(width, 400);
    }
    // The whole image as it is shown and scaled, a scaled decode as previews make, and a reduced
    // cloud copy show the image's own colours, whatever kind of PNG it is.
    void scaledPngKinds() {
        QFETCH(int, colorType);
        QFETCH(int, depth);
        QFETCH(bool, transparency);
        QFETCH(bool, interlaced);
        QFETCH(QSize, size);
        const KindOfPng kind = pngOfKind(colorType, depth, transparency, size, interlaced);
        const QImage whole = Imaging::decode(kind.png, Imaging::Png);
        const auto [fullMean, fullMost] = difference(kind.pixels, whole);
        QVERIFY2(fullMost <= 1, qPrintable(u"full size: mean %1, at most %2"_s.arg(fullMean).arg(fullMost)));
        // As the editor halves the whole image for its smaller levels and the capture panel scales
        // it for its strip: with Qt's smooth scaling, which loses palettes below half the size.
        const QSize odd = Imaging::fittedSize(size, 47);
        const double shown = difference(smoothlyScaled(kind.pixels, odd),
                                        whole.scaled(odd, Qt::IgnoreAspectRatio, Qt::SmoothTransformation))
                                 .first;
        QVERIFY2(shown < 2, qPrintable(u"whole image scaled: %1"_s.arg(shown)));
        for (const int edge : {40, 48, 7}) {
            const QImage scaled = Imaging::Decoder(kind.png, Imaging::Png).decode(edge);
            const double mean =
                difference(smoothlyScaled(kind.pixels, Imaging::fittedSize(size, edge)), scaled).first;
            QVERIFY2(mean < 2, qPrintable(u"longest edge %1: %2"_s.arg(edge).arg(mean)));
        }
        // A cloud limit just below the original's size asks for a reduced copy.
        const qint64 original = ImageImport::review(kind.png, 25'000'000).original->png.size();
        const ImageImport::Review review = ImageImport::review(kind.png, original - 1);
        QVERIFY(review.reduced);
        const QImage reduced = QImage::fromData(review.reduced->png, "png");
        const double mean = difference(smoothlyScaled(kind.pixels, reduced.size()), reduced).first;
        QVERIFY2(
            mean < 2,
            qPrintable(u"reduced copy %1 x %2: %3"_s.arg(reduced.width()).arg(reduced.height()).arg(mean)));
    }

    void scaledColorSpace_data() {
        QTest::addColumn<QByteArray>("chunks"); // placed after IHDR
        const QByteArray profile = QColorSpace(QColorSpace::DisplayP3).iccProfile();
        QTest::newRow("ICC profile, Display P3")
            << pngChunk("iCCP" + QByteArray("P3\0\0", 4) + qCompress(profile).mid(4));
        QTest::newRow("sRGB chunk") << pngChunk("sRGB" + QByteArray(1, '\0'));
        QTest::newRow("gamma 1/2.2") << pngChunk("gAMA" + bigEndian(45455));
        QTest::newRow("gamma 1.8 and primaries")
            << pngChunk("gAMA" + bigEndian(55556)) +
                   pngChunk("cHRM" + bigEndian(31270) + bigEndian(32900) + bigEndian(68000) +
                            bigEndian(32000) + bigEndian(26500) + bigEndian(69000) + bigEndian(15000) +
                            bigEndian(6000));
        QTest::newRow("none") << QByteArray();
    }
    // A smaller copy carries the colour space the whole image has.
    void scaledColorSpace() {
        QFETCH(QByteArray, chunks);
        QByteArray png = pngOfKind(2, 8, false, {96, 64}).png;
        png.insert(33, chunks);
        const QColorSpace whole = Imaging::decode(png, Imaging::Png).colorSpace();
        QCOMPARE(whole.isValid(), !chunks.isEmpty());
        QCOMPARE(Imaging::Decoder(png, Imaging::Png).decode(40).colorSpace(), whole);
        const qint64 original = ImageImport::review(png, 25'000'000).original->png.size();
        const ImageImport::Review review = ImageImport::review(png, original - 1);
        QVERIFY(review.reduced);
        QCOMPARE(QImage::fromData(review.reduced->png, "png").colorSpace(), whole);
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
