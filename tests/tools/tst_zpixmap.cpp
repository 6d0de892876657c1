#include "ScreenStill.h"

#include <QTest>

#include <cstring>

// X servers hand out pixels in the layout of their visual; the still is always RGB32.
class TestZPixmap : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void converts_data();
    void converts();
    void refusesUnknownLayouts();
};

void TestZPixmap::converts_data() {
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<int>("bitsPerPixel");
    QTest::addColumn<int>("bytesPerLine");
    QTest::addColumn<bool>("msbFirst");
    QTest::addColumn<uint>("redMask");
    QTest::addColumn<uint>("greenMask");
    QTest::addColumn<uint>("blueMask");
    QTest::addColumn<QList<QRgb>>("expected");
    // Two pixels in one line: orange, then blue; padding after them.
    QTest::newRow("32 bpp, LSB first, pad byte zero")
        << QByteArray("\x10\x80\xff\x00\xff\x00\x00\x00\xaa\xbb", 10) << 32 << 10 << false << 0xff0000u
        << 0xff00u << 0xffu << QList<QRgb>{qRgb(0xff, 0x80, 0x10), qRgb(0, 0, 0xff)};
    QTest::newRow("32 bpp, MSB first")
        << QByteArray("\x00\xff\x80\x10\x00\x00\x00\xff", 8) << 32 << 8 << true << 0xff0000u << 0xff00u
        << 0xffu << QList<QRgb>{qRgb(0xff, 0x80, 0x10), qRgb(0, 0, 0xff)};
    QTest::newRow("32 bpp, BGR visual")
        << QByteArray("\xff\x80\x10\x00\x00\x00\xff\x00", 8) << 32 << 8 << false << 0xffu << 0xff00u
        << 0xff0000u << QList<QRgb>{qRgb(0xff, 0x80, 0x10), qRgb(0, 0, 0xff)};
    // RGB565: full red plus green 32 of 63, then full blue.
    QTest::newRow("16 bpp, LSB first")
        << QByteArray("\x00\xfc\x1f\x00", 4) << 16 << 4 << false << 0xf800u << 0x07e0u << 0x001fu
        << QList<QRgb>{qRgb(0xff, 0x82, 0), qRgb(0, 0, 0xff)};
    QTest::newRow("16 bpp, MSB first")
        << QByteArray("\xfc\x00\x00\x1f", 4) << 16 << 4 << true << 0xf800u << 0x07e0u << 0x001fu
        << QList<QRgb>{qRgb(0xff, 0x82, 0), qRgb(0, 0, 0xff)};
}

void TestZPixmap::converts() {
    QFETCH(QByteArray, data);
    QFETCH(int, bitsPerPixel);
    QFETCH(int, bytesPerLine);
    QFETCH(bool, msbFirst);
    QFETCH(uint, redMask);
    QFETCH(uint, greenMask);
    QFETCH(uint, blueMask);
    QFETCH(QList<QRgb>, expected);
    const QImage image =
        X11Still::fromZPixmap(reinterpret_cast<const uchar *>(data.constData()), 2, 1, bitsPerPixel,
                              bytesPerLine, msbFirst, redMask, greenMask, blueMask);
    QCOMPARE(image.format(), QImage::Format_RGB32);
    QCOMPARE(image.size(), QSize(2, 1));
    // Compared with alpha: RGB32 must carry an opaque pad byte whatever the server sent.
    QCOMPARE(image.pixel(0, 0), expected.at(0));
    QCOMPARE(image.pixel(1, 0), expected.at(1));
    QCOMPARE(reinterpret_cast<const quint32 *>(image.constScanLine(0))[0] >> 24, 0xffu);
}

void TestZPixmap::refusesUnknownLayouts() {
    const uchar data[12] = {};
    QVERIFY(X11Still::fromZPixmap(data, 2, 1, 24, 6, false, 0xff0000, 0xff00, 0xff).isNull());
    QVERIFY(X11Still::fromZPixmap(data, 0, 1, 32, 8, false, 0xff0000, 0xff00, 0xff).isNull());
}

QTEST_MAIN(TestZPixmap)
#include "tst_zpixmap.moc"
