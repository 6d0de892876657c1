#include "StoreFixture.h"

#include "model/JsonCoding.h"

#include <QClipboard>
#include <QDeadlineTimer>
#include <QFileInfo>
#include <QGuiApplication>
#include <QImageReader>
#include <QMimeData>
#include <QTest>
#include <QThread>
#include <QtEndian>

#include <sys/stat.h>

using namespace Qt::StringLiterals;

namespace {
const QString kOpenFailed = u"Projekt konnte nicht geöffnet werden: "_s;
const QString kWriteFailed = u"Die Datei konnte nicht geschrieben werden."_s;

QByteArray project(const SnipCollection &collection, const QMap<QString, QByteArray> &images,
                   qint64 version = 1) {
    return *encodeJson(PortableCollection{version, collection, images});
}

QByteArray be32(quint32 value) {
    const quint32 big = qToBigEndian(value);
    return QByteArray(reinterpret_cast<const char *>(&big), 4);
}

QByteArray le32(quint32 value) {
    return le16(quint16(value)) + le16(quint16(value >> 16));
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

// A BMP header of 24-bit pixels claiming width x height, with no pixels behind it.
QByteArray bmpDeclaring(quint32 width, quint32 height) {
    return "BM" + le32(64) + le32(0) + le32(54) + le32(40) + le32(width) + le32(height) + le16(1) + le16(24) +
           QByteArray(24, '\0') + QByteArray(10, '\0');
}

// The PNG with the checksum of its first data chunk spoilt.
QByteArray withBadDataChecksum(QByteArray png) {
    const qsizetype type = png.indexOf("IDAT");
    const quint32 length = qFromBigEndian<quint32>(png.constData() + type - 4);
    png[type + 4 + qsizetype(length)] = char(~png[type + 4 + qsizetype(length)]);
    return png;
}

// A grey TIFF of width x height whose one strip holds 16 bytes.
QByteArray tiffDeclaring(quint32 width, quint32 height) {
    const auto entry = [](quint16 tag, quint16 type, quint32 value) {
        return le16(tag) + le16(type) + le32(1) + (type == 3 ? le16(quint16(value)) + le16(0) : le32(value));
    };
    const quint32 pixels = 8 + 2 + 9 * 12 + 4;
    return QByteArray("II*\0", 4) + le32(8) + le16(9) + entry(256, 4, width) + entry(257, 4, height) +
           entry(258, 3, 8) + entry(259, 3, 1) + entry(262, 3, 1) + entry(273, 4, pixels) + entry(277, 3, 1) +
           entry(278, 4, height) + entry(279, 4, 16) + le32(0) + QByteArray(16, '\x7f');
}

// One row per way the image checks refuse an image, as the bytes of a file; a row with a size
// has sparse zeros after its bytes up to that size. Files that are no regular file only import.
void refusedImages(bool files) {
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<qint64>("size");
    QTest::addColumn<QString>("failure");
    const QString tooLarge =
        u"Bilder dürfen beim Import höchstens 200 MB groß sein. Bitte verkleinere die Datei zuerst."_s;
    const QString notProcessed = u"Das Bild konnte nicht verarbeitet werden."_s;
    const QByteArray png = encoded(filled(300, 200));
    const auto row = [](const char *name, const QByteArray &content, const QString &failure,
                        qint64 size = 0) { QTest::newRow(name) << content << size << failure; };
    if (files) {
        row("folder", {}, u"Die Bilddatei konnte nicht gelesen werden."_s);
        row("fifo", {}, u"Die Bilddatei konnte nicht gelesen werden."_s);
        row("empty", {}, tooLarge);
    } else {
        row("empty", {}, u"Die Zwischenablage enthält kein Bild."_s); // an offered type without bytes
    }
    row("200 MB + 1", png, tooLarge, 200'000'001);
    row("unknown format", "Kein Bild, nur Text.", u"Das Bildformat konnte nicht gelesen werden."_s);
    row("no resolution", png.left(20), u"Das Bild enthält keine gültige Auflösung."_s);
    row("bad checksum", withBadDataChecksum(png), notProcessed);
    row("cut off in its data", png.left(png.size() * 2 / 3), notProcessed);
    row("PNG declaring 20000 x 5000", pngDeclaring(20000, 5000), notProcessed);
    row("TIFF declaring 20000 x 5000", tiffDeclaring(20000, 5000), notProcessed);
    row("PNG declaring 65535 x 65535", pngDeclaring(65535, 65535), notProcessed);
}

// An Exif block for a JPEG: orientation 6 turns the stored picture a quarter clockwise.
const QByteArray kExifTurned("\xff\xe1\0\x22"
                             "Exif\0\0MM\0*\0\0\0\x08\0\x01\x01\x12\0\x03\0\0\0\x01\0\x06\0\0\0\0\0\0",
                             36);

QByteArray turnedJpeg(int width, int height) {
    return encoded(filled(width, height), "jpeg").insert(2, kExifTurned);
}

// A black 16-bit RGB PNG.
QByteArray sixteenBitPng(int width, int height) {
    QImage image(width, height, QImage::Format_RGBX64);
    image.fill(Qt::black);
    return encoded(image);
}

ImageImport::Image pngCopy(int width, int height) {
    return {encoded(filled(width, height)), width, height};
}

// Bits per pixel of a stored image, read from its header.
int storedDepth(const QString &path) {
    return QImage::toPixelFormat(QImageReader(path).imageFormat()).bitsPerPixel();
}
} // namespace

class TestExchange : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void projectRoundTrip();
    void saveProject_data();
    void saveProject();
    void openProject_data();
    void openProject();
    void openProjectWriteFailsHalfWay();
    void restore_data();
    void restore();
    void importStopsAtTheFirstFailure();
    void importChoice_data();
    void importChoice();
    void importWaitsForPaste();
    void quittingDoesNotWaitForAnImageCheck();
    void paste_data();
    void paste();
    void importFailures_data();
    void importFailures();
    void pasteFailures_data();
    void pasteFailures();
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
    QVERIFY(f.store->isSavingProject());
    QVERIFY2(f.idle(), "the project was not saved");
    QCOMPARE(f.store->exportURL(), path);

    f.store->openProject();
    f.panels->openAnswer({path});
    QVERIFY(f.store->isOpeningProject());
    QCOMPARE(f.store->collections().size(), 2); // nothing changes before the images are written
    QVERIFY2(f.idle(), "the project was not opened");
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

void TestExchange::saveProject_data() {
    QTest::addColumn<char>("image"); // 'p' a PNG, 'm' missing, 'f' a named pipe, 'n' a name leaving Images
    QTest::addColumn<QString>("failure");
    QTest::newRow("saved") << 'p' << QString();
    QTest::newRow("image missing") << 'm' << u"Die Datei ist nicht vorhanden."_s;
    QTest::newRow("image is a named pipe") << 'f' << u"Nur gewöhnliche Dateien können gelesen werden."_s;
    QTest::newRow("name leaving the folder") << 'n' << u"Ungültiger Bilddateiname."_s;
}

void TestExchange::saveProject() {
    QFETCH(char, image);
    QFETCH(QString, failure);
    StoreFixture f;
    const QString name = image == 'n' ? u"../draussen.png"_s : u"bild.png"_s;
    if (image == 'p')
        QVERIFY(writeFile(f.store->imageURL(name), encoded(filled(4, 4))));
    if (image == 'f')
        QCOMPARE(::mkfifo(QFile::encodeName(f.store->imageURL(name)).constData(), 0600), 0);
    SnipCollection c;
    c.items = {Snip::make(name)};
    f.store->setCollections({c});
    f.store->setSelectedID(c.id);
    f.store->saveProject();
    const QString path = f.dir.filePath(u"p.vellumbox"_s);
    f.panels->saveAnswer(path);
    f.store->saveProject(); // a second save waits for the first to end
    QVERIFY2(f.idle(), "the save did not end");
    QCOMPARE(f.store->error(), failure);
    QCOMPARE(f.store->exportURL(), failure.isEmpty() ? path : QString());
    QCOMPARE(QFile::exists(path), failure.isEmpty());
}

void TestExchange::openProject_data() {
    QTest::addColumn<QByteArray>("document"); // "fifo": a named pipe, "sparse": 200,000,000 zero bytes
    QTest::addColumn<QString>("failure");     // empty: opened
    QTest::addColumn<QSize>("stored");        // of the second snip
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
    leaving.items = {Snip::make(outside), Snip::make(outside)};
    const QString notAProject = QStringLiteral("Die Datei ist keine gültige Projektdatei.");
    const QString broken = QStringLiteral("Ein Bild fehlt oder ist beschädigt.");
    const QString version = QStringLiteral("Unbekannte Projektversion.");
    const QByteArray svg = R"(<svg xmlns="http://www.w3.org/2000/svg" width="9" height="9"/>)";
    const QByteArray jpeg = encoded(filled(3000, 2000), "jpeg");
    QTest::newRow("key leaving the folder")
        << project(leaving, {{outside, png}}) << QString() << QSize(20, 20);
    QTest::newRow("turned JPEG stored upright") << doc(c, turnedJpeg(40, 16)) << QString() << QSize(16, 40);
    QTest::newRow("16-bit PNG stored at 8 bits")
        << doc(c, sixteenBitPng(30, 10)) << QString() << QSize(30, 10);
    QTest::newRow("bad Base64") << doc(c, png).replace(png.toBase64().left(8), "!!!!!!!!") << notAProject
                                << QSize();
    QTest::newRow("missing key") << doc(c, png).replace(R"("mode":"steps",)", "") << notAProject << QSize();
    QTest::newRow("version 2") << doc(c, png, 2) << version << QSize();
    QTest::newRow("version 0") << doc(c, png, 0) << version << QSize();
    QTest::newRow("invalid mark in the last snip")
        << doc(badMark, png) << "Die Datei enthält ungültige Markierungen." << QSize();
    QTest::newRow("PNG declaring 25,000 x 25,000") << doc(c, pngDeclaring(25000, 25000)) << broken << QSize();
    QTest::newRow("JPEG cut off") << doc(c, jpeg.left(jpeg.size() / 2)) << broken << QSize();
    QTest::newRow("SVG") << doc(c, svg) << broken << QSize();
    QTest::newRow("200,000,000 bytes")
        << QByteArray("sparse") << "Die Projektdatei ist größer als 200 MB." << QSize();
    QTest::newRow("FIFO") << QByteArray("fifo") << "Nur gewöhnliche Dateien können gelesen werden."
                          << QSize();
}

void TestExchange::openProject() {
    QFETCH(QByteArray, document);
    QFETCH(QString, failure);
    QFETCH(QSize, stored);
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
    QVERIFY2(f.idle(), "the project was not taken in");
    QCOMPARE(f.store->error(), failure.isEmpty() ? QString() : kOpenFailed + failure);
    QCOMPARE(f.store->collections().mid(failure.isEmpty() ? 1 : 0), before);
    // The images written are the checked copies under new names inside Images.
    QCOMPARE(f.writes.load(), failure.isEmpty() ? 2 : 0);
    QCOMPARE(f.images().size(), f.writes.load());
    for (const QString &name : f.images())
        QVERIFY2(isNewImageName(name), qPrintable(name));
    if (failure.isEmpty()) {
        const QString second = f.store->imageURL(f.collection(0).items[1].imageFile);
        QCOMPARE(f.store->image(f.collection(0).items[1]).size(), stored);
        QCOMPARE(storedDepth(second), 32);
    }
}

void TestExchange::openProjectWriteFailsHalfWay() {
    StoreFixture f;
    SnipCollection c;
    c.items = {Snip::make(u"a.png"_s), Snip::make(u"b.png"_s), Snip::make(u"c.png"_s)};
    const QByteArray png = encoded(filled(8, 8));
    const QString path = f.dir.filePath(u"p.vellumbox"_s);
    QVERIFY(writeFile(path, project(c, {{u"a.png"_s, png}, {u"b.png"_s, png}, {u"c.png"_s, png}})));
    const auto before = f.store->collections();
    f.allowedWrites = 1;
    f.store->openProject();
    f.panels->openAnswer({path});
    QVERIFY2(f.idle(), "the project was not taken in");
    QCOMPARE(f.store->error(), kOpenFailed + kWriteFailed);
    QCOMPARE(f.writes.load(), 2);
    QCOMPARE(f.images(), QStringList()); // the first image went again
    QCOMPARE(f.store->collections(), before);
}

void TestExchange::restore_data() {
    // What goes wrong: '-' nothing, 's' the final save, 'k' the final save while another one is
    // asked for, which is written, 'm' the second image is missing, 'l' it is a symbolic link, 'n'
    // its name has an upper-case extension, 'o' memory runs out copying it, 'c' a capture is
    // running.
    QTest::addColumn<char>("trouble");
    QTest::addColumn<QString>("failure");
    QTest::newRow("restored") << '-' << QString();
    QTest::newRow("final save fails")
        << 's' << u"Die Wiederherstellung konnte lokal nicht gespeichert werden."_s;
    QTest::newRow("final save fails, the one after it is written") << 'k' << QString();
    QTest::newRow("image missing") << 'm' << u"Die Datei ist nicht vorhanden."_s;
    QTest::newRow("image is a symbolic link") << 'l' << u"Nur gewöhnliche Dateien können gelesen werden."_s;
    QTest::newRow("upper-case extension") << 'n' << u"Die Sicherung enthält ungültige Daten."_s;
    QTest::newRow("out of memory") << 'o' << u"Für die Datei ist nicht genug Arbeitsspeicher frei."_s;
    QTest::newRow("capture running")
        << 'c' << u"Bitte beende die laufende Aufnahme oder den Export und versuche es erneut."_s;
}

void TestExchange::restore() {
    QFETCH(char, trouble);
    QFETCH(QString, failure);
    StoreFixture f;
    f.setUp({{"X", 1}});
    const OptionalUuid snip = f.id("X0");
    f.store->setSelectedSnipID(snip);
    const QList<SnipCollection> before = f.store->collections();
    const OptionalUuid selected = f.store->selectedID();

    QTemporaryDir backup, elsewhere;
    const QString first = uuidText(QUuid::createUuid()) + u".png"_s;
    QString second = uuidText(QUuid::createUuid()) + u".png"_s;
    QVERIFY(writeFile(backup.filePath(first), encoded(filled(2, 2))));
    if (trouble == 'l')
        QVERIFY(writeFile(elsewhere.filePath(u"x.png"_s), encoded(filled(3, 3))) &&
                QFile::link(elsewhere.filePath(u"x.png"_s), backup.filePath(second)));
    else if (trouble != 'm')
        QVERIFY(writeFile(backup.filePath(second), encoded(filled(3, 3))));
    if (trouble == 'n')
        second.replace(u".png"_s, u".PNG"_s);
    SnipCollection a, b;
    a.title = u"A"_s;
    a.items = {Snip::make(first)};
    a.items[0].marks = {Mark::make(MarkKind::Arrow, 0.1, 0.1, 0.5, 0.5)};
    b.title = u"B"_s;
    b.items = {Snip::make(second)};
    auto copies = std::make_shared<std::atomic<int>>(0);
    f.store->setFileCopier([copies, trouble](const QString &source, const QString &target) {
        if (++*copies == 2 && trouble == 'o')
            throw std::bad_alloc();
        return FileErrors::copyAtomically(source, target);
    });
    if (trouble == 's' || trouble == 'k')
        f.allowedWrites = 0; // the final save fails
    f.holdLibrary = trouble == 'k';
    f.store->setIsCapturing(trouble == 'c');

    const QString answer = StoreFixture::answerOf([&](QObject *receiver, StoreFixture::Done done) {
        f.store->restoreCloudCollections({a, b}, backup.path(), receiver, done);
        QCOMPARE(f.store->isRestoring(), trouble != 'c' && trouble != 'n');
        if (trouble == 'k') {
            QVERIFY(QTest::qWaitFor([&] { return f.writes > 0; }, 20000));
            f.store->save();
            f.allowedWrites = -1;
            f.holdLibrary = false;
        }
    });
    QCOMPARE(answer, failure);
    QVERIFY(!f.store->isRestoring());
    if (!failure.isEmpty()) {
        QCOMPARE(f.store->collections(), before);
        QCOMPARE(f.store->selectedID(), selected);
        QCOMPARE(f.store->selectedSnipID(), snip);
        QCOMPARE(f.images(), QStringList());
        const int writes = f.writes;
        QTest::qWait(CollectionStore::kAutosaveDelayMs + 100);
        QCOMPARE(f.writes.load(), writes); // and no later save writes the rolled-back state over the file
        return;
    }
    QCOMPARE(f.titles(), u"A · Wiederhergestellt B · Wiederhergestellt X"_s);
    QCOMPARE(f.store->selectedID(), OptionalUuid(f.collection(0).id));
    QCOMPARE(f.store->selectedSnipID(), OptionalUuid());
    const Snip &restored = f.collection(0).items[0];
    QVERIFY(f.collection(0).id != a.id && restored.id != a.items[0].id);
    QVERIFY(isNewImageName(restored.imageFile) && restored.imageFile != first);
    QCOMPARE(restored.marks.size(), 1);
    QVERIFY(restored.marks[0].id != a.items[0].marks[0].id);
    Mark sameMark = restored.marks[0];
    sameMark.id = a.items[0].marks[0].id;
    QCOMPARE(sameMark, a.items[0].marks[0]);
    QCOMPARE(f.store->image(restored).size(), QSize(2, 2));
    QCOMPARE(f.images().size(), 2);
    QVERIFY(QFile::exists(backup.filePath(first))); // the source stays
    QCOMPARE(decodeJson<SavedLibrary>(readFile(f.store->libraryPath()))->collections, f.store->collections());
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
    QVERIFY2(f.idle(), "the import did not end");
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
    QVERIFY2(f.idle(), "the import did not end");
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

void TestExchange::importWaitsForPaste() {
    StoreFixture f;
    auto *mime = new QMimeData;
    mime->setData(u"image/png"_s, encoded(filled(10, 10)));
    QGuiApplication::clipboard()->setMimeData(mime);
    f.store->pasteImage();
    QVERIFY(f.store->isImporting());
    f.store->importImages();
    QVERIFY(!f.panels->openRequest); // not even asked
    f.store->pasteImage();           // nor a second paste
    QVERIFY2(f.idle(), "the paste did not end");
    QCOMPARE(f.collection(0).items.size(), 1);
    f.store->importImages();
    QVERIFY(f.panels->openRequest);
}

// Quitting saves without waiting for an image check under way; the import goes on afterwards.
void TestExchange::quittingDoesNotWaitForAnImageCheck() {
    StoreFixture f;
    QTemporaryDir files;
    const QString path = files.filePath(u"a.png"_s);
    QVERIFY(writeFile(path, encoded(filled(30, 20))));
    auto started = std::make_shared<std::atomic<bool>>(false);
    auto released = std::make_shared<std::atomic<bool>>(false);
    auto releasedInTime = std::make_shared<std::atomic<bool>>(false);
    f.store->setFileReviewer([=](const QString &file) {
        *started = true;
        // A store that waits for this check is let go after a while, so that the test can fail.
        QDeadlineTimer patience(10'000);
        while (!*released && !patience.hasExpired())
            QThread::msleep(5);
        *releasedInTime = released->load();
        return ImageImport::review(file);
    });
    f.store->importImages();
    f.panels->openAnswer({path});
    QTRY_VERIFY(*started);
    QVERIFY(f.store->saveAtExit());
    *released = true;
    QVERIFY2(f.idle(), "the import did not end");
    QVERIFY(*releasedInTime);
    QCOMPARE(f.collection(0).items.size(), 1);
}

void TestExchange::paste_data() {
    QTest::addColumn<QStringList>("types"); // "image": an image this program put there
    QTest::addColumn<QList<QByteArray>>("data");
    QTest::addColumn<QString>("failure");
    QTest::addColumn<QSize>("stored");
    const QByteArray png = encoded(filled(10, 10)), tiff = encoded(filled(20, 20), "tiff");
    const QByteArray gif = kOnePixelGif;
    const QString notProcessed = u"Das Bild konnte nicht verarbeitet werden."_s;
    const auto row = [](const char *name, const QStringList &types, const QList<QByteArray> &data,
                        const QString &failure,
                        QSize stored = {}) { QTest::newRow(name) << types << data << failure << stored; };
    row("PNG first", {"image/png", "image/tiff", "image"}, {png, tiff, {}}, {}, {10, 10});
    row("then TIFF", {"image/tiff", "image"}, {tiff, {}}, {}, {20, 20});
    row("then an image of this program", {"image"}, {{}}, {}, {30, 30});
    row("turned JPEG upright", {"image/jpeg"}, {turnedJpeg(40, 16)}, {}, {16, 40});
    row("BMP", {"image/bmp"}, {encoded(filled(6, 5), "bmp")}, {}, {6, 5});
    row("GIF", {"image/gif"}, {gif}, {}, {1, 1});
    row("GIF declaring 14000 x 14000", {"image/gif"}, {gifDeclaring(14000, 14000)}, notProcessed);
    row("BMP declaring 16000 x 16000", {"image/bmp"}, {bmpDeclaring(16000, 16000)}, notProcessed);
    row("SVG under an image type", {"image/png"}, {"<svg xmlns=\"http://www.w3.org/2000/svg\"/>"},
        u"Das Bildformat konnte nicht gelesen werden."_s);
    row("text only", {"text/plain"}, {"Hallo"}, u"Die Zwischenablage enthält kein Bild."_s);
}

void TestExchange::paste() {
    QFETCH(QStringList, types);
    QFETCH(QList<QByteArray>, data);
    QFETCH(QString, failure);
    QFETCH(QSize, stored);
    StoreFixture f;
    auto *mime = new QMimeData;
    for (qsizetype i = 0; i < types.size(); ++i) {
        if (types[i] == u"image")
            mime->setImageData(filled(30, 30));
        else
            mime->setData(types[i], data[i]);
    }
    QGuiApplication::clipboard()->setMimeData(mime);
    f.store->pasteImage();
    QVERIFY2(f.idle(), "the paste did not end");
    QCOMPARE(f.store->error(), failure);
    QCOMPARE(f.collection(0).items.size(), stored.isValid() ? 1 : 0);
    QCOMPARE(f.images().size(), stored.isValid() ? 1 : 0);
    if (stored.isValid())
        QCOMPARE(f.store->image(f.collection(0).items.first()).size(), stored);
}

void TestExchange::importFailures_data() {
    refusedImages(true);
}

void TestExchange::importFailures() {
    QFETCH(QByteArray, content);
    QFETCH(qint64, size);
    QFETCH(QString, failure);
    StoreFixture f;
    f.setUp({{"Ziel", 0}});
    QTemporaryDir files;
    const QString name = QString::fromLatin1(QTest::currentDataTag());
    const QString path = name == u"folder" ? files.path() : files.filePath(u"bild.png"_s);
    if (name == u"fifo") {
        QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
    } else if (name != u"folder") {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(content) == content.size() &&
                file.resize(std::max<qint64>(size, content.size())));
    }
    f.store->importImages();
    f.panels->openAnswer({path});
    QVERIFY2(f.idle(), "the import did not end");
    QCOMPARE(f.store->error(), QFileInfo(path).fileName() + u": "_s + failure);
    QVERIFY(f.collection(0).items.isEmpty());
    QVERIFY(f.images().isEmpty());
}

void TestExchange::pasteFailures_data() {
    refusedImages(false);
}

void TestExchange::pasteFailures() {
    QFETCH(QByteArray, content);
    QFETCH(qint64, size);
    QFETCH(QString, failure);
    StoreFixture f;
    f.setUp({{"Ziel", 0}});
    if (size > content.size())
        content.append(QByteArray(size - content.size(), '\0'));
    auto *mime = new QMimeData;
    mime->setData(u"image/png"_s, content);
    content = QByteArray();
    QGuiApplication::clipboard()->setMimeData(mime);
    f.store->pasteImage();
    QVERIFY2(f.idle(), "the paste did not end");
    QGuiApplication::clipboard()->clear();
    QCOMPARE(f.store->error(), failure);
    QVERIFY(f.collection(0).items.isEmpty());
    QVERIFY(f.images().isEmpty());
}

QTEST_MAIN(TestExchange)
#include "tst_exchange.moc"
