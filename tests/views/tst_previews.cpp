#include "store/StoreFixture.h"

#include "views/PreviewCache.h"

#include <QSignalSpy>
#include <QTest>

#include <sys/stat.h>

namespace {

// Red left half, blue right half: scaling keeps the colours apart, marks and blurs change them.
QImage halves(QSize size) {
    QImage image(size, QImage::Format_RGB32);
    image.fill(Qt::red);
    for (int y = 0; y < size.height(); ++y) {
        auto *line = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (int x = size.width() / 2; x < size.width(); ++x)
            line[x] = qRgb(0, 0, 255);
    }
    return image;
}

void putBigEndian(QByteArray &bytes, int at, quint32 value) {
    for (int i = 0; i < 4; ++i)
        bytes[at + i] = char((value >> (24 - 8 * i)) & 0xFF);
}

// A PNG signature and header chunk claiming a size, with no pixel data after it.
QByteArray pngHeader(quint32 width, quint32 height) {
    QByteArray bytes = encoded(filled(1, 1)).left(33);
    putBigEndian(bytes, 16, width);
    putBigEndian(bytes, 20, height);
    quint32 crc = 0xFFFFFFFF;
    for (int i = 12; i < 29; ++i) {
        crc ^= quint8(bytes[i]);
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc >> 1) ^ (0xEDB88320 & (0 - (crc & 1)));
    }
    putBigEndian(bytes, 29, ~crc);
    return bytes;
}

} // namespace

class TestPreviews : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void files_data();
    void files();
    void marksDrawnAtTheThumbnailsScale();
    void marksKey();
    void newestFirstAndDroppedRequests();
    void byteLimitAndStandIn();
};

void TestPreviews::files_data() {
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QSize>("header"); // what the header says; invalid: unreadable
    QTest::addColumn<QSize>("box");
    QTest::addColumn<QSize>("rendered"); // invalid: nothing
    QTest::newRow("landscape into a square") << "png" << QSize(400, 200) << QSize(100, 100) << QSize(100, 50);
    QTest::newRow("portrait into a wide box")
        << "png" << QSize(200, 400) << QSize(300, 100) << QSize(50, 100);
    QTest::newRow("never enlarged") << "png" << QSize(40, 20) << QSize(400, 400) << QSize(40, 20);
    QTest::newRow("missing") << "missing" << QSize() << QSize(100, 100) << QSize();
    QTest::newRow("JPEG bytes under a PNG name") << "jpeg" << QSize() << QSize(100, 100) << QSize();
    QTest::newRow("named pipe") << "fifo" << QSize() << QSize(100, 100) << QSize();
    QTest::newRow("directory") << "directory" << QSize() << QSize(100, 100) << QSize();
    QTest::newRow("header beyond the limits") << "huge" << QSize() << QSize(100, 100) << QSize();
    QTest::newRow("header only") << "truncated" << QSize(300, 200) << QSize(100, 100) << QSize();
}

void TestPreviews::files() {
    QFETCH(QString, kind);
    QFETCH(QSize, header);
    QFETCH(QSize, box);
    QFETCH(QSize, rendered);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("image.png"));
    if (kind == u"png")
        writeFile(path, encoded(halves(header)));
    else if (kind == u"jpeg")
        writeFile(path, encoded(filled(40, 20), "jpeg"));
    else if (kind == u"fifo")
        QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
    else if (kind == u"directory")
        QVERIFY(QDir().mkpath(path));
    else if (kind == u"huge")
        writeFile(path, pngHeader(30000, 10));
    else if (kind == u"truncated")
        writeFile(path, pngHeader(300, 200));
    QCOMPARE(Previews::headerSize(path), header);
    const QImage image = Previews::render(path, box, {});
    QCOMPARE(image.isNull(), !rendered.isValid());
    if (!image.isNull()) {
        QCOMPARE(image.size(), rendered);
        QCOMPARE(QColor(image.pixel(2, image.height() / 2)), QColor(Qt::red));
        QCOMPARE(QColor(image.pixel(image.width() - 3, image.height() / 2)), QColor(Qt::blue));
    }
}

void TestPreviews::marksDrawnAtTheThumbnailsScale() {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("image.png"));
    writeFile(path, encoded(halves(QSize(2000, 1000))));
    const QImage plain = Previews::render(path, QSize(200, 200), {});
    // A filled rectangle over the middle of the left half, a blur across the seam.
    Mark box = Mark::make(MarkKind::FilledRectangle, 0.1, 0.4, 0.3, 0.6);
    box.color = MarkColor::Green;
    const Mark blur = Mark::make(MarkKind::Blur, 0.4, 0.1, 0.6, 0.3);
    const QImage marked = Previews::render(path, QSize(200, 200), {box, blur});
    QCOMPARE(marked.size(), QSize(200, 100));
    QCOMPARE(QColor(marked.pixel(40, 50)).green() > 100 && QColor(marked.pixel(40, 50)).red() < 100, true);
    // The blur mixes red and blue at the seam; outside its box nothing changes.
    const QColor seam(marked.pixel(100, 20));
    QVERIFY2(seam.red() > 40 && seam.blue() > 40, qPrintable(seam.name()));
    QCOMPARE(marked.pixel(100, 80), plain.pixel(100, 80));
    QCOMPARE(marked.pixel(180, 50), plain.pixel(180, 50));
}

void TestPreviews::marksKey() {
    const Mark a = Mark::make(MarkKind::Arrow, 0.1, 0.2, 0.3, 0.4);
    Mark moved = a;
    moved.x2 = 0.31;
    Mark recoloured = a;
    recoloured.color = MarkColor::Coral;
    Mark texted = a;
    texted.text = QString();
    const Mark b = Mark::make(MarkKind::Line, 0.5, 0.5, 0.6, 0.6);
    QCOMPARE(Previews::marksKey({a, b}), Previews::marksKey({a, b}));
    const QList<MarkList> others = {{}, {a}, {b, a}, {moved, b}, {recoloured, b}, {texted, b}, {a, b, b}};
    for (const MarkList &other : others)
        QVERIFY(Previews::marksKey(other) != Previews::marksKey({a, b}));
}

void TestPreviews::newestFirstAndDroppedRequests() {
    StoreFixture f;
    PreviewCache cache(f.store.get(), PreviewCache::kDefaultBytes, 1);
    const int running = 1;
    const int count = running + 4;
    QList<Snip> snips;
    for (int i = 0; i < count; ++i) {
        snips.append(Snip::make(QStringLiteral("s%1.png").arg(i)));
        writeFile(f.store->imageURL(snips.last().imageFile), encoded(halves(QSize(64, 32))));
    }
    QStringList arrived;
    connect(&cache, &PreviewCache::thumbnailReady, this, [&](const QString &file) { arrived << file; });
    int owners[64] = {};
    // All asked in one turn: the first starts at once, the rest wait and start newest first.
    for (int i = 0; i < count; ++i)
        QVERIFY(cache.thumbnail(snips[i], QSize(32, 32), &owners[i]).image.isNull());
    QCOMPARE(cache.runningCount(), running);
    QCOMPARE(cache.waitingCount(), 4);
    cache.drop(&owners[running + 1]);
    QTRY_COMPARE(arrived.size(), count - 1);
    QStringList expected;
    for (int i = count - 1; i >= running; --i) {
        if (i != running + 1)
            expected << snips[i].imageFile;
    }
    QCOMPARE(arrived.mid(running), expected);
    QVERIFY(!arrived.contains(snips[running + 1].imageFile));
    QVERIFY(cache.thumbnail(snips[0], QSize(32, 32), &owners[0]).exact);
}

void TestPreviews::byteLimitAndStandIn() {
    StoreFixture f;
    const qint64 one = 32 * 16 * 4;
    PreviewCache cache(f.store.get(), 2 * one);
    Snip snip = Snip::make(QStringLiteral("a.png"));
    writeFile(f.store->imageURL(snip.imageFile), encoded(halves(QSize(64, 32))));
    QSignalSpy ready(&cache, &PreviewCache::thumbnailReady);
    for (int width : {32, 31, 30}) {
        cache.thumbnail(snip, QSize(width, 100), this);
        QTRY_COMPARE(cache.runningCount(), 0);
    }
    QVERIFY(cache.cachedBytes() <= 2 * one);
    QVERIFY(cache.thumbnail(snip, QSize(30, 100), this).exact);
    QVERIFY(!cache.thumbnail(snip, QSize(32, 100), this).exact);
    QTRY_COMPARE(cache.runningCount(), 0);

    // Changed marks: the old thumbnail stands in until the new one is there.
    snip.marks.append(Mark::make(MarkKind::Arrow, 0.1, 0.1, 0.9, 0.9));
    const PreviewCache::Lookup standIn = cache.thumbnail(snip, QSize(32, 100), this);
    QVERIFY(!standIn.exact && !standIn.image.isNull());
    QTRY_VERIFY(cache.thumbnail(snip, QSize(32, 100), this).exact);

    // A file that cannot be decoded turns into an unreadable size.
    Snip broken = Snip::make(QStringLiteral("b.png"));
    writeFile(f.store->imageURL(broken.imageFile), pngHeader(64, 32));
    QVERIFY(!cache.imageSize(broken.imageFile));
    QTRY_COMPARE(cache.imageSize(broken.imageFile), std::optional<QSize>(QSize(64, 32)));
    cache.thumbnail(broken, QSize(32, 32), this);
    QTRY_COMPARE(cache.imageSize(broken.imageFile), std::optional<QSize>(QSize()));
}

QTEST_MAIN(TestPreviews)
#include "tst_previews.moc"
