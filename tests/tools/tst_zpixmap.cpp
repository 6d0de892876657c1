#include "ScreenStill.h"

#include <QTest>

// X servers hand out pixels in the layout of their visual; the still is always opaque RGB32.
class TestZPixmap : public QObject {
    Q_OBJECT
private Q_SLOTS:
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
};

QTEST_MAIN(TestZPixmap)
#include "tst_zpixmap.moc"
