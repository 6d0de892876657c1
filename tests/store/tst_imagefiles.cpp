#include "model/AppFailure.h"
#include "store/CollectionStore.h"
#include "store/ImageCache.h"
#include "store/SnipImageFiles.h"

#include <QBuffer>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

namespace {
const QString kBadName = QStringLiteral("Ungültiger Bilddateiname.");
const QString kTooLarge = QStringLiteral("Das Bild überschreitet die erlaubte Größe oder Auflösung.");

QByteArray encoded(const QImage &image, const char *format = "PNG") {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, format);
    return bytes;
}

QImage filled(int w, int h, QColor color = Qt::red) {
    QImage image(w, h, QImage::Format_ARGB32);
    image.fill(color);
    return image;
}

void writeFile(const QString &path, const QByteArray &bytes) {
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    QCOMPARE(f.write(bytes), bytes.size());
}

QString thrownText(const std::function<void()> &call) {
    try {
        call();
    } catch (const AppFailure &failure) {
        return failure.errorDescription();
    }
    return {};
}
} // namespace

class TestImageFiles : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void fileNameRule_data();
    void fileNameRule();
    void saveImportedImageLimits_data();
    void saveImportedImageLimits();
    void savedImagesAreNewFiles();
    void failedImageWrite();
    void imageForSnip();
    void imageDecodingRules_data();
    void imageDecodingRules();
    void largeSnipDecodes();
    void storeCacheKeepsThirty();
    void cacheEvictsLeastRecentlyUsed();
};

void TestImageFiles::fileNameRule_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("accepted");
    QTest::newRow("uuid name") << QStringLiteral("AAAAAAAA-BBBB-4CCC-8DDD-EEEEEEEEEEEE.png") << true;
    QTest::newRow("upper-case suffix") << QStringLiteral("Bild.PNG") << true;
    QTest::newRow("mixed-case suffix") << QStringLiteral("Bild.pNg") << true;
    QTest::newRow("leading dot") << QStringLiteral(".png") << true;
    QTest::newRow("folder part") << QStringLiteral("Bilder/a.png") << false;
    QTest::newRow("trailing separator") << QStringLiteral("a.png/") << false;
    QTest::newRow("absolute") << QStringLiteral("/etc/a.png") << false;
    QTest::newRow("parent step") << QStringLiteral("../a.png") << false;
    QTest::newRow("two dots inside") << QStringLiteral("a..b.png") << false;
    QTest::newRow("other suffix") << QStringLiteral("a.jpg") << false;
    QTest::newRow("png not a suffix") << QStringLiteral("a.png.txt") << false;
    QTest::newRow("empty") << QString() << false;
    QTest::newRow("embedded NUL") << QStringLiteral("a") + QChar(u'\0') + QStringLiteral("b.png") << false;
}

void TestImageFiles::fileNameRule() {
    QFETCH(QString, name);
    QFETCH(bool, accepted);
    QTemporaryDir dir;
    CollectionStore store(dir.path());
    QString path;
    const QString failure = thrownText([&] { path = store.imageURL(name); });
    if (accepted) {
        QVERIFY(failure.isEmpty());
        QCOMPARE(path, store.imagesDirectory() + u'/' + name);
    } else {
        QCOMPARE(failure, kBadName);
    }
}

void TestImageFiles::saveImportedImageLimits_data() {
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("height");
    QTest::addColumn<qint64>("bytes");
    QTest::addColumn<bool>("localOnly");
    QTest::addColumn<bool>("stored");
    QTest::newRow("20000 x 5000") << 20000 << 5000 << qint64(100) << false << true;
    QTest::newRow("20000 x 5001") << 20000 << 5001 << qint64(100) << false << false;
    QTest::newRow("20001 x 1") << 20001 << 1 << qint64(100) << false << false;
    QTest::newRow("zero width") << 0 << 10 << qint64(100) << true << false;
    QTest::newRow("negative height") << 10 << -1 << qint64(100) << true << false;
    QTest::newRow("cloud at the limit") << 10 << 10 << qint64(25'000'000) << false << true;
    QTest::newRow("cloud over the limit") << 10 << 10 << qint64(25'000'001) << false << false;
    QTest::newRow("local over the cloud limit") << 10 << 10 << qint64(25'000'001) << true << true;
    QTest::newRow("local over 200 MB") << 10 << 10 << qint64(200'000'001) << true << false;
}

void TestImageFiles::saveImportedImageLimits() {
    QFETCH(int, width);
    QFETCH(int, height);
    QFETCH(qint64, bytes);
    QFETCH(bool, localOnly);
    QFETCH(bool, stored);
    QTemporaryDir dir;
    CollectionStore store(dir.path());
    const ImageImport::Image image{QByteArray(bytes, 'x'), width, height};
    std::optional<Snip> snip;
    const QString failure = thrownText([&] { snip = store.saveImportedImage(image, localOnly); });
    if (!stored) {
        QCOMPARE(failure, kTooLarge);
        QCOMPARE(QDir(store.imagesDirectory()).entryList(QDir::Files | QDir::Hidden).size(), 0);
        return;
    }
    QVERIFY(failure.isEmpty());
    QCOMPARE(snip->cloudLocalOnly, localOnly ? std::optional<bool>(true) : std::nullopt);
    QCOMPARE(QFileInfo(store.imageURL(snip->imageFile)).size(), bytes);
}

void TestImageFiles::savedImagesAreNewFiles() {
    QTemporaryDir dir;
    CollectionStore store(dir.path(), [] { return 1234.5; });
    const ImageImport::Image image{encoded(filled(4, 3)), 4, 3};
    const Snip a = store.saveImportedImage(image, false);
    const Snip b = store.saveImportedImage(image, false);
    QVERIFY(a.id != b.id);
    QVERIFY(a.imageFile != b.imageFile);
    QCOMPARE(a.imageFile.size(), 40);
    QCOMPARE(a.imageFile, a.imageFile.toUpper().replace(QStringLiteral(".PNG"), QStringLiteral(".png")));
    QCOMPARE(a.createdAt, 1234.5);
    QVERIFY(a.title.isEmpty() && a.note.isEmpty() && a.marks.isEmpty());
    QFile file(store.imageURL(a.imageFile));
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), image.png);
    QVERIFY(store.collections().first().items.isEmpty()); // not put anywhere
}

void TestImageFiles::failedImageWrite() {
    QTemporaryDir dir;
    CollectionStore store(dir.path());
    store.setFileWriter([](const QString &, const QByteArray &) {
        return QStringLiteral("Auf dem Datenträger ist nicht genug Platz.");
    });
    const QString failure = thrownText([&] { store.saveImportedImage({QByteArray("x"), 1, 1}, false); });
    QCOMPARE(failure, QStringLiteral("Auf dem Datenträger ist nicht genug Platz."));
}

void TestImageFiles::imageForSnip() {
    QTemporaryDir dir;
    CollectionStore store(dir.path());
    const Snip snip = Snip::make(QStringLiteral("bild.png"));
    QVERIFY(store.image(snip).isNull()); // missing: nothing cached
    const QString path = store.imageURL(snip.imageFile);
    writeFile(path, encoded(filled(7, 5)));
    QCOMPARE(store.image(snip).size(), QSize(7, 5));
    QVERIFY(QFile::remove(path));
    QCOMPARE(store.image(snip).size(), QSize(7, 5)); // served from the cache
    QVERIFY(store.image(Snip::make(QStringLiteral("../bild.png"))).isNull());
}

void TestImageFiles::imageDecodingRules_data() {
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<bool>("decodes");
    QTest::newRow("png") << encoded(filled(3, 3)) << true;
    QTest::newRow("jpeg named .png") << encoded(filled(3, 3), "JPEG") << false;
    QTest::newRow("bmp named .png") << encoded(filled(3, 3), "BMP") << false;
    QTest::newRow("svg named .png") << "<svg xmlns='http://www.w3.org/2000/svg' width='3' height='3'/>"_qba
                                    << false;
    QTest::newRow("truncated png") << encoded(filled(40, 40)).left(60) << false;
    QTest::newRow("edge over 20000") << encoded(filled(20001, 1)) << false;
    QTest::newRow("edge at 20000") << encoded(filled(20000, 1)) << true;
}

void TestImageFiles::imageDecodingRules() {
    QFETCH(QByteArray, bytes);
    QFETCH(bool, decodes);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("a.png"));
    writeFile(path, bytes);
    QCOMPARE(!SnipImageFiles::read(path).isNull(), decodes);
}

void TestImageFiles::largeSnipDecodes() {
    // 36 megapixels decode to 144 MB, above Qt's default limit of 128 MiB.
    QTemporaryDir dir;
    CollectionStore store(dir.path());
    const QString path = store.imageURL(QStringLiteral("gross.png"));
    writeFile(path, encoded(filled(6000, 6000)));
    QCOMPARE(store.image(Snip::make(QStringLiteral("gross.png"))).size(), QSize(6000, 6000));
}

void TestImageFiles::storeCacheKeepsThirty() {
    QTemporaryDir dir;
    CollectionStore store(dir.path());
    QList<Snip> snips;
    for (int i = 0; i <= CollectionStore::kImageCacheCount; ++i) {
        snips.append(Snip::make(QStringLiteral("%1.png").arg(i)));
        writeFile(store.imageURL(snips.last().imageFile), encoded(filled(2, 2)));
        QVERIFY(!store.image(snips.last()).isNull());
    }
    for (const Snip &s : snips)
        QVERIFY(QFile::remove(store.imageURL(s.imageFile)));
    QVERIFY(store.image(snips.first()).isNull()); // the 31st image pushed out the first
    for (qsizetype i = 1; i < snips.size(); ++i)
        QVERIFY(!store.image(snips[i]).isNull());
}

void TestImageFiles::cacheEvictsLeastRecentlyUsed() {
    const QImage tile = filled(10, 10); // 400 bytes
    ImageCache cache(5, 1000);
    cache.insert(QStringLiteral("a"), tile);
    cache.insert(QStringLiteral("b"), tile);
    QVERIFY(!cache.find(QStringLiteral("a")).isNull()); // a is now the most recent
    cache.insert(QStringLiteral("c"), tile);            // 1200 bytes: b goes
    QVERIFY(cache.contains(QStringLiteral("a")));
    QVERIFY(!cache.contains(QStringLiteral("b")));
    QVERIFY(cache.contains(QStringLiteral("c")));
    QCOMPARE(cache.totalBytes(), 800);

    cache.insert(QStringLiteral("huge"), filled(20, 20)); // larger than the whole cache
    QVERIFY(!cache.contains(QStringLiteral("huge")));
    QCOMPARE(cache.count(), 2);

    cache.insert(QStringLiteral("a"), filled(5, 5)); // replacing keeps the sums right
    QCOMPARE(cache.totalBytes(), 500);

    ImageCache counted(2, 1'000'000);
    for (const char *name : {"x", "y", "z"})
        counted.insert(QString::fromLatin1(name), tile);
    QCOMPARE(counted.count(), 2);
    QVERIFY(!counted.contains(QStringLiteral("x")));
}

QTEST_GUILESS_MAIN(TestImageFiles)
#include "tst_imagefiles.moc"
