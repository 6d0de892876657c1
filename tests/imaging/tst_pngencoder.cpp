#include "imaging/PngEncoder.h"

#include <QColorSpace>
#include <QImage>
#include <QPainter>
#include <QRandomGenerator>
#include <QTest>

#include <vector>

using Imaging::PngEffort;

namespace {

// Rows made for each row filter in turn to leave nothing behind but zeros, so that the compact
// encoding takes every one of them somewhere.
QImage mixed(int width, int height, QImage::Format format) {
    const bool translucent = format == QImage::Format_ARGB32 || format == QImage::Format_RGBA8888 ||
                             format == QImage::Format_ARGB32_Premultiplied || format == QImage::Format_RGBA64;
    QImage image(width, height, QImage::Format_ARGB32);
    QRandomGenerator random(7);
    std::vector<int> above(size_t(width) * 4, 0), row(size_t(width) * 4, 0);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            for (int channel = 0; channel < 4; ++channel) {
                const size_t i = size_t(x) * 4 + size_t(channel);
                const int left = x > 0 ? row[i - 4] : 0;
                const bool firstHalf = x < width / 2;
                int value = 255;
                if (channel < 3 || translucent) {
                    switch (y % 6) {
                    case 0: // noise, then flat
                        value = firstHalf ? int(random.bounded(256)) : 40 + channel * 10;
                        break;
                    case 1: // Up
                        value = above[i];
                        break;
                    case 2: // Paeth: the row above, then another flat colour
                        value = firstHalf ? above[i] : 180 - channel * 20;
                        break;
                    case 3: // Average
                        value = (left + above[i]) >> 1;
                        break;
                    case 4: // None: small values that jump
                        value = (x % 2) * 2;
                        break;
                    default: // Sub
                        value = 150 + channel;
                        break;
                    }
                }
                row[i] = value;
            }
            image.setPixel(x, y,
                           qRgba(row[size_t(x) * 4], row[size_t(x) * 4 + 1], row[size_t(x) * 4 + 2],
                                 row[size_t(x) * 4 + 3]));
        }
        above.swap(row);
    }
    return image.convertToFormat(format);
}

QImage palette(int colors, int alphaOf2) {
    QImage image(23, 9, QImage::Format_Indexed8);
    QList<QRgb> table;
    for (int i = 0; i < colors; ++i)
        table.append(qRgba(i * 40 % 256, 255 - i * 20, i * 7, i == 2 ? alphaOf2 : 255));
    image.setColorTable(table);
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            image.scanLine(y)[x] = uchar((x + y) % colors);
    return image;
}

QImage mono(QImage::Format format) {
    QImage image(13, 5, format);
    image.setColorTable({qRgb(250, 240, 10), qRgb(0, 0, 90)});
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            image.setPixel(x, y, (x * y + x) % 3 == 0);
    return image;
}

struct Header {
    int bitDepth = -1;
    int colorType = -1;
};

Header headerOf(const QByteArray &png) {
    if (png.size() < 33 || png.mid(12, 4) != "IHDR")
        return {};
    return {uchar(png[24]), uchar(png[25])};
}

} // namespace

class TestPngEncoder : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void samePixels_data();
    void samePixels();
    void colorSpaceKept();
    void compactIsSmaller();
};

// Whatever comes in decodes to the pixels Qt itself makes of it, in a PNG of the kind named.
void TestPngEncoder::samePixels_data() {
    QTest::addColumn<QImage>("image");
    QTest::addColumn<int>("bitDepth");
    QTest::addColumn<int>("colorType"); // 0 grey, 2 RGB, 3 palette, 6 RGBA

    QTest::newRow("RGB32") << mixed(61, 37, QImage::Format_RGB32) << 8 << 2;
    QTest::newRow("ARGB32, every pixel opaque")
        << mixed(20, 9, QImage::Format_RGB32).convertToFormat(QImage::Format_ARGB32) << 8 << 2;
    QTest::newRow("ARGB32 translucent") << mixed(61, 37, QImage::Format_ARGB32) << 8 << 6;
    // Taller than one band of converted rows.
    QTest::newRow("premultiplied translucent")
        << mixed(17, 150, QImage::Format_ARGB32_Premultiplied) << 8 << 6;
    QTest::newRow("RGB888") << mixed(31, 12, QImage::Format_RGB888) << 8 << 2;
    QTest::newRow("RGBA8888 translucent") << mixed(31, 12, QImage::Format_RGBA8888) << 8 << 6;
    QTest::newRow("RGBA8888 opaque")
        << mixed(31, 12, QImage::Format_RGB32).convertToFormat(QImage::Format_RGBA8888) << 8 << 2;
    QTest::newRow("RGB16, converted") << mixed(31, 12, QImage::Format_RGB16) << 8 << 2;
    QTest::newRow("RGBA64 at 8 bits") << mixed(31, 12, QImage::Format_RGBA64) << 8 << 6;
    QTest::newRow("grey") << mixed(29, 20, QImage::Format_Grayscale8) << 8 << 0;
    QTest::newRow("16-bit grey") << mixed(29, 20, QImage::Format_Grayscale16) << 16 << 0;
    QTest::newRow("palette") << palette(9, 255) << 8 << 3;
    QTest::newRow("palette with a translucent entry") << palette(9, 80) << 8 << 3;
    QImage outside = palette(9, 255);
    outside.scanLine(3)[4] = 200;
    QTest::newRow("index beyond the table") << outside << 8 << 2;
    QTest::newRow("1 bit") << mono(QImage::Format_Mono) << 1 << 3;
    QTest::newRow("1 bit, least significant first") << mono(QImage::Format_MonoLSB) << 1 << 3;
    // Noise that hardly compresses fills more than one image data chunk.
    QImage noise(900, 400, QImage::Format_RGB32);
    QRandomGenerator(3).fillRange(reinterpret_cast<quint32 *>(noise.bits()), noise.sizeInBytes() / 4);
    QTest::newRow("noise") << noise << 8 << 2;
    QTest::newRow("1 x 1") << mixed(1, 1, QImage::Format_ARGB32) << 8 << 6;
}

void TestPngEncoder::samePixels() {
    QFETCH(QImage, image);
    QFETCH(int, bitDepth);
    QFETCH(int, colorType);
    for (const PngEffort effort : {PngEffort::Fast, PngEffort::Compact}) {
        const QByteArray png = Imaging::encodePng(image, effort);
        const Header header = headerOf(png);
        QCOMPARE(header.bitDepth, bitDepth);
        QCOMPARE(header.colorType, colorType);
        const QImage decoded = QImage::fromData(png, "PNG");
        QCOMPARE(decoded.size(), image.size());
        if (colorType == 0) {
            QCOMPARE(decoded.convertToFormat(image.format()), image);
            continue;
        }
        // Through Qt's 32-bit form, which also decides what an index beyond the table shows.
        const QImage expected =
            image.convertToFormat(image.hasAlphaChannel() ? QImage::Format_ARGB32 : QImage::Format_RGB32);
        QCOMPARE(decoded.convertToFormat(QImage::Format_ARGB32),
                 expected.convertToFormat(QImage::Format_ARGB32));
    }
    QVERIFY(Imaging::encodePng(QImage(), PngEffort::Compact).isEmpty());
}

// Imported pictures keep the colours they were made for.
void TestPngEncoder::colorSpaceKept() {
    QImage image = mixed(16, 16, QImage::Format_RGB32);
    image.setColorSpace(QColorSpace::DisplayP3);
    const QImage decoded = QImage::fromData(Imaging::encodePng(image, PngEffort::Compact), "PNG");
    QCOMPARE(decoded.colorSpace(), QColorSpace(QColorSpace::DisplayP3));
    QCOMPARE(decoded.convertToFormat(QImage::Format_RGB32), image);
}

// What the library keeps counts against the cloud limit.
void TestPngEncoder::compactIsSmaller() {
    QImage image(640, 400, QImage::Format_RGB32);
    image.fill(QColor(240, 242, 245));
    QPainter painter(&image);
    painter.fillRect(0, 0, 120, 400, QColor(40, 44, 52));
    for (int line = 0; line < 20; ++line)
        painter.drawText(140, 20 + line * 18,
                         QStringLiteral("Zeile %1 einer Anleitung mit etwas Text").arg(line));
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setBrush(QColor(30, 120, 220));
    painter.drawEllipse(QRectF(420, 180, 180, 180));
    painter.end();
    const qsizetype fast = Imaging::encodePng(image, PngEffort::Fast).size();
    const qsizetype compact = Imaging::encodePng(image, PngEffort::Compact).size();
    QVERIFY2(compact < fast * 95 / 100, qPrintable(QStringLiteral("%1 against %2").arg(compact).arg(fast)));
}

QTEST_MAIN(TestPngEncoder)
#include "tst_pngencoder.moc"
