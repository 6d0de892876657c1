#include "StoreFixture.h"

#include "backup/BackupFailure.h"
#include "model/JsonCoding.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QMimeData>
#include <QTest>
#include <QtEndian>

#include <sys/stat.h>

namespace {
QByteArray project(const SnipCollection &collection, const QMap<QString, QByteArray> &images,
                   qint64 version = 1) {
    return *encodeJson(PortableCollection{version, collection, images});
}

QByteArray be32(quint32 value) {
    const quint32 big = qToBigEndian(value);
    return QByteArray(reinterpret_cast<const char *>(&big), 4);
}

// A PNG whose header declares a size without the pixels to back it.
QByteArray pngDeclaring(quint32 width, quint32 height) {
    const auto chunk = [](const QByteArray &typeAndData) {
        quint32 crc = 0xffffffffu;
        for (const char c : typeAndData) {
            crc ^= quint8(c);
            for (int k = 0; k < 8; ++k)
                crc = (crc >> 1) ^ (0xedb88320u & (0u - (crc & 1u)));
        }
        return be32(quint32(typeAndData.size() - 4)) + typeAndData + be32(~crc);
    };
    return QByteArray("\x89PNG\r\n\x1a\n", 8) +
           chunk("IHDR" + be32(width) + be32(height) + QByteArray("\x08\x06\0\0\0", 5)) + chunk("IDATx") +
           chunk("IEND");
}

ImageImport::Image pngCopy(int width, int height) {
    return {encoded(filled(width, height)), width, height};
}
} // namespace

class TestExchange : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void projectRoundTrip();
    void openProject_data();
    void openProject();
    void restoreRollsBack();
    void importStopsAtTheFirstFailure();
    void importChoice_data();
    void importChoice();
    void pastePrefers_data();
    void pastePrefers();
};

void TestExchange::projectRoundTrip() {
    StoreFixture f;
    const QString shared = QStringLiteral("geteilt.png"), photo = QStringLiteral("foto.png");
    QVERIFY(writeFile(f.store->imageURL(shared), encoded(filled(40, 30))));
    QVERIFY(writeFile(f.store->imageURL(photo), encoded(filled(64, 48), "jpeg"))); // a JPEG under its key
    SnipCollection c;
    c.title = QStringLiteral("Anleitung");
    c.items = {Snip::make(shared), Snip::make(photo), Snip::make(shared)};
    c.items[0].marks = {Mark::make(MarkKind::Arrow, 0.1, 0.1, 0.9, 0.9)};
    c.items[1].cloudLocalOnly = true;
    f.store->setCollections({SnipCollection(), c});
    f.store->setSelectedID(c.id);
    f.store->saveProject();
    const QString path = f.dir.filePath(QStringLiteral("p.vellumbox"));
    f.panels->saveAnswer(path);
    QCOMPARE(f.store->exportURL(), path);

    f.store->openProject();
    f.panels->openAnswer({path});
    QCOMPARE(f.store->error(), QString());
    QCOMPARE(f.store->collections().size(), 3);
    const SnipCollection &opened = f.collection(0);
    QCOMPARE(f.store->selectedID(), OptionalUuid(opened.id));
    QVERIFY(opened.id != c.id);
    QCOMPARE(opened.title, c.title);
    QCOMPARE(opened.items.size(), 3);
    for (qsizetype i = 0; i < 3; ++i) {
        QVERIFY(opened.items[i].id != c.items[i].id && isNewImageName(opened.items[i].imageFile));
        QCOMPARE(opened.items[i].marks, c.items[i].marks);
        QCOMPARE(opened.items[i].cloudLocalOnly, c.items[i].cloudLocalOnly);
    }
    QVERIFY(opened.items[0].imageFile != opened.items[2].imageFile); // a file each
    QCOMPARE(f.images().size(), 5);
    QCOMPARE(f.store->image(opened.items[1]).size(), QSize(64, 48)); // read as PNG only
}

void TestExchange::openProject_data() {
    QTest::addColumn<QByteArray>("document"); // "fifo": a named pipe, "sparse": 200,000,000 zero bytes
    QTest::addColumn<QString>("failure");     // empty: opened
    const QByteArray png = encoded(filled(20, 20));
    SnipCollection c;
    c.items = {Snip::make(QStringLiteral("a.png")), Snip::make(QStringLiteral("b.png"))};
    SnipCollection badMark = c;
    badMark.items.last().marks = {Mark::make(MarkKind::Line, 1.5, 0, 0, 0)};
    const auto doc = [&](const SnipCollection &collection, const QByteArray &b, qint64 version = 1) {
        return project(collection, {{QStringLiteral("a.png"), png}, {QStringLiteral("b.png"), b}}, version);
    };
    const QString outside = QStringLiteral("../../../tmp/x.png");
    SnipCollection leaving;
    leaving.items = {Snip::make(outside)};
    const QString notAProject = QStringLiteral("Die Datei ist keine gültige Projektdatei.");
    const QString broken = QStringLiteral("Ein Bild fehlt oder ist beschädigt.");
    const QByteArray svg = R"(<svg xmlns="http://www.w3.org/2000/svg" width="9" height="9"/>)";
    QTest::newRow("key leaving the folder") << project(leaving, {{outside, png}}) << QString();
    QTest::newRow("bad Base64") << doc(c, png).replace(png.toBase64().left(8), "!!!!!!!!") << notAProject;
    QTest::newRow("missing key") << doc(c, png).replace(R"("mode":"steps",)", "") << notAProject;
    QTest::newRow("version 2") << doc(c, png, 2) << "Unbekannte Projektversion.";
    QTest::newRow("invalid mark in the last snip")
        << doc(badMark, png) << "Die Datei enthält ungültige Markierungen.";
    QTest::newRow("PNG declaring 25,000 x 25,000") << doc(c, pngDeclaring(25000, 25000)) << broken;
    QTest::newRow("SVG") << doc(c, svg) << broken;
    QTest::newRow("200,000,000 bytes") << QByteArray("sparse") << "Die Projektdatei ist größer als 200 MB.";
    QTest::newRow("FIFO") << QByteArray("fifo") << "Nur gewöhnliche Dateien können gelesen werden.";
}

void TestExchange::openProject() {
    QFETCH(QByteArray, document);
    QFETCH(QString, failure);
    StoreFixture f;
    const QString path = f.dir.filePath(QStringLiteral("p.vellumbox"));
    QFile sparse(path);
    if (document == "fifo")
        QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
    else if (document == "sparse")
        QVERIFY(sparse.open(QIODevice::WriteOnly) && sparse.resize(200'000'000));
    else
        QVERIFY(writeFile(path, document));
    const auto before = f.store->collections();
    f.store->openProject();
    f.panels->openAnswer({path});
    QCOMPARE(f.store->error(), failure.isEmpty()
                                   ? QString()
                                   : QStringLiteral("Projekt konnte nicht geöffnet werden: ") + failure);
    QCOMPARE(f.store->collections().mid(failure.isEmpty() ? 1 : 0), before);
    // The one image written is the checked copy under a new name inside Images.
    QCOMPARE(f.writes, failure.isEmpty() ? 1 : 0);
    QCOMPARE(f.images().size(), f.writes);
    for (const QString &name : f.images())
        QVERIFY2(isNewImageName(name), qPrintable(name));
}

void TestExchange::restoreRollsBack() {
    StoreFixture f;
    const OptionalUuid snip = QUuid::createUuid();
    f.store->setSelectedSnipID(snip);
    const QList<SnipCollection> before = f.store->collections();
    const OptionalUuid selected = f.store->selectedID();
    f.store->restoreCloudCollections({}, f.dir.path()); // nothing restored: the selection stays
    QCOMPARE(f.store->selectedID(), selected);
    QCOMPARE(f.store->selectedSnipID(), snip);

    QTemporaryDir backup;
    const QString name = uuidText(QUuid::createUuid()) + QStringLiteral(".png");
    QVERIFY(writeFile(backup.filePath(name), encoded(filled(2, 2))));
    SnipCollection c;
    c.items = {Snip::make(name), Snip::make(name)};
    f.writes = 0;
    f.allowedWrites = 3; // the flush and both images; the final save fails
    QCOMPARE(failureOf<BackupFailure>([&] { f.store->restoreCloudCollections({c}, backup.path()); }),
             QStringLiteral("Die Wiederherstellung konnte lokal nicht gespeichert werden."));
    QCOMPARE(f.writes, 4);
    QCOMPARE(f.store->collections(), before);
    QCOMPARE(f.store->selectedID(), selected);
    QCOMPARE(f.store->selectedSnipID(), snip);
    QCOMPARE(f.images(), QStringList());
    QTest::qWait(CollectionStore::kAutosaveDelayMs + 100);
    QCOMPARE(f.writes, 4); // and no later save writes the rolled-back state over the file
}

void TestExchange::importStopsAtTheFirstFailure() {
    StoreFixture f;
    f.setUp({{"Ziel", 0}, {"Andere", 0}});
    QTemporaryDir files;
    const QStringList paths{files.filePath("a.png"), files.filePath("b.png"), files.filePath("c.png")};
    QVERIFY(writeFile(paths[0], encoded(filled(30, 20))) && writeFile(paths[1], "kein Bild") &&
            writeFile(paths[2], encoded(filled(10, 10))));
    auto reviewed = std::make_shared<QStringList>(); // read only after the import
    f.store->setFileReviewer([reviewed](const QString &path) {
        reviewed->append(QFileInfo(path).fileName());
        return ImageImport::review(path);
    });
    f.store->importImages();
    QVERIFY(f.panels->openRequest->multipleFiles);
    f.panels->openAnswer(paths);
    f.store->setSelectedID(f.id("Andere")); // the import keeps to the collection it began with
    QTRY_VERIFY(!f.store->isImporting());
    QCOMPARE(f.store->error(), QStringLiteral("b.png: Das Bildformat konnte nicht gelesen werden."));
    QCOMPARE(*reviewed, (QStringList{"a.png", "b.png"}));
    QCOMPARE(f.collection(0).items.size(), 1);
    QCOMPARE(f.store->image(f.collection(0).items.first()).size(), QSize(30, 20));
    QVERIFY(f.collection(1).items.isEmpty());
}

void TestExchange::importChoice_data() {
    QTest::addColumn<bool>("hasOriginal");
    QTest::addColumn<int>("press");    // -2: no alert expected; -1: the alert went away
    QTest::addColumn<QSize>("stored"); // empty: nothing stored
    QTest::newRow("original fits: no question") << true << -2 << QSize(30, 20);
    QTest::newRow("reduced copy") << true << 0 << QSize(12, 8);
    QTest::newRow("original kept local") << true << 1 << QSize(30, 20);
    QTest::newRow("cancelled") << true << 2 << QSize();
    QTest::newRow("alert closed") << true << -1 << QSize();
    QTest::newRow("too large for an original: reduced copy") << false << 0 << QSize(12, 8);
    QTest::newRow("too large for an original: cancelled") << false << 1 << QSize();
}

void TestExchange::importChoice() {
    QFETCH(bool, hasOriginal);
    QFETCH(int, press);
    QFETCH(QSize, stored);
    StoreFixture f;
    ImageImport::Review review;
    review.width = hasOriginal ? 30 : 25000;
    review.height = hasOriginal ? 20 : 400;
    review.original = hasOriginal ? std::optional(pngCopy(30, 20)) : std::nullopt;
    if (press != -2)
        review.reduced = pngCopy(12, 8);
    f.store->setFileReviewer([review](const QString &) { return review; });
    f.store->importImages();
    f.panels->openAnswer({QStringLiteral("/nirgends/foto.heic")});
    if (press != -2) {
        QTRY_COMPARE(f.alerts->shown.size(), 1);
        const AlertPresenter::Alert &alert = f.alerts->shown.first();
        QCOMPARE(alert.messageText, QStringLiteral("Bild für die Cloud verkleinern?"));
        QVERIFY(alert.informativeText.startsWith(
            QStringLiteral("foto.heic\n\nOriginal: ") +
            (hasOriginal ? review.original->description() : QStringLiteral("25000 × 400 Pixel – zu groß"))));
        QVERIFY(
            alert.informativeText.contains(QStringLiteral("Cloud-Kopie: ") + review.reduced->description()));
        QCOMPARE(alert.informativeText.contains(QStringLiteral("„Nur lokal“")), hasOriginal);
        QStringList buttons{QStringLiteral("Verkleinerte Kopie importieren"), QStringLiteral("Abbrechen")};
        if (hasOriginal)
            buttons.insert(1, QStringLiteral("Nur lokal behalten"));
        QCOMPARE(alert.buttons, buttons);
        QCOMPARE(alert.escapeButton, buttons.size() - 1);
        std::exchange(f.alerts->pending, {})(press);
    }
    QTRY_VERIFY(!f.store->isImporting());
    QCOMPARE(f.alerts->shown.size(), press == -2 ? 0 : 1);
    const QList<Snip> &items = f.collection(0).items;
    QCOMPARE(items.size(), stored.isValid() ? 1 : 0);
    QCOMPARE(f.images().size(), items.size());
    if (!items.isEmpty()) {
        const bool localOnly = hasOriginal && press == 1;
        QCOMPARE(items.first().cloudLocalOnly, localOnly ? std::optional<bool>(true) : std::nullopt);
        QCOMPARE(f.store->image(items.first()).size(), stored);
    }
}

void TestExchange::pastePrefers_data() {
    QTest::addColumn<int>("formats"); // 3: PNG, TIFF and an image; 2: TIFF and an image; 1: an image
    QTest::addColumn<QSize>("stored");
    QTest::newRow("PNG first") << 3 << QSize(10, 10);
    QTest::newRow("then TIFF") << 2 << QSize(20, 20);
    QTest::newRow("then any image") << 1 << QSize(30, 30);
}

void TestExchange::pastePrefers() {
    QFETCH(int, formats);
    QFETCH(QSize, stored);
    StoreFixture f;
    auto *mime = new QMimeData;
    mime->setImageData(filled(30, 30));
    if (formats >= 2)
        mime->setData(QStringLiteral("image/tiff"), encoded(filled(20, 20), "tiff"));
    if (formats >= 3)
        mime->setData(QStringLiteral("image/png"), encoded(filled(10, 10)));
    QGuiApplication::clipboard()->setMimeData(mime);
    f.store->pasteImage();
    QTRY_VERIFY(!f.store->isImporting());
    QCOMPARE(f.store->error(), QString());
    QCOMPARE(f.store->image(f.collection(0).items.first()).size(), stored);
}

QTEST_MAIN(TestExchange)
#include "tst_exchange.moc"
