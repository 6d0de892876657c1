#include "ExchangeFakes.h"

#include "backup/BackupFailure.h"
#include "model/JsonCoding.h"
#include "store/ProjectFile.h"

#include <QRegularExpression>
#include <QTest>

#include <sys/stat.h>

namespace {
const QString kOpenFailed = QStringLiteral("Projekt konnte nicht geöffnet werden: ");
const QString kBroken = QStringLiteral("Ein Bild fehlt oder ist beschädigt.");
const QString kRestoreInvalid = QStringLiteral("Die Sicherung enthält ungültige Daten.");
const QString kSuffix = QStringLiteral(" · Wiederhergestellt");

QString restoreFailure(CollectionStore &store, const QList<SnipCollection> &collections,
                       const QString &folder) {
    try {
        store.restoreCloudCollections(collections, folder);
    } catch (const BackupFailure &failure) {
        return failure.errorDescription();
    }
    return {};
}

Snip snipNamed(const QString &file, const QString &title = {}) {
    Snip s = Snip::make(file);
    s.title = title;
    s.createdAt = 77.25;
    return s;
}

QByteArray projectDocument(const SnipCollection &collection, const QMap<QString, QByteArray> &images,
                           qint64 version = 1) {
    PortableCollection p;
    p.version = version;
    p.collection = collection;
    p.images = images;
    return *encodeJson(p);
}
} // namespace

class TestExchange : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void projectRoundTrip();
    void openTakesOnlyWhatItChecked();
    void openRefused_data();
    void openRefused();
    void openWriteFailingPartWayLeavesNothing();
    void saveProjectPanel();
    void saveProjectFailures_data();
    void saveProjectFailures();
    void restoreAddsCopiesInFront();
    void restoreRefused_data();
    void restoreRefused();
    void restoreRollsBackAFailedSave();
    void restoreNothing();
};

void TestExchange::projectRoundTrip() {
    ExchangeFixture f;
    SnipCollection c;
    c.title = QStringLiteral("Anleitung: Drucker/Scanner");
    c.subtitle = QStringLiteral("Büro");
    const QByteArray png = encodedImage(filledImage(40, 30));
    const QString shared = f.addImageFile(png);
    Snip first = snipNamed(shared, QStringLiteral("Eins"));
    Mark mark = Mark::make(MarkKind::Number, 0.2, 0.2, 0.2, 0.2);
    mark.number = 1;
    first.marks = {mark};
    Snip second = snipNamed(f.addImageFile(encodedImage(filledImage(8, 6, Qt::red))), QStringLiteral("Zwei"));
    second.cloudLocalOnly = true;
    c.items = {first, second, snipNamed(shared, QStringLiteral("Drei"))};
    SnipCollection other;
    f.store->setCollections({other, c});
    f.store->setSelectedID(c.id);

    f.store->saveProject();
    QVERIFY(f.panels->saveRequest);
    QCOMPARE(f.panels->saveRequest->suggestedName, QStringLiteral("Anleitung- Drucker-Scanner.vellumbox"));
    QCOMPARE(f.panels->saveRequest->defaultSuffix, QStringLiteral("vellumbox"));
    const QString project = f.dir.filePath(QStringLiteral("Anleitung.vellumbox"));
    f.panels->answerSave(project);
    QCOMPARE(f.store->error(), QString());
    QCOMPARE(f.store->exportURL(), project);

    const QStringList before = f.images();
    f.store->setSelectedSnipID(first.id);
    f.store->openProject();
    f.panels->answerOpen({project});
    QCOMPARE(f.store->error(), QString());
    QCOMPARE(f.store->collections().size(), 3);
    const SnipCollection &opened = f.store->collections().first();
    QCOMPARE(f.store->selectedID(), opened.id);
    QCOMPARE(f.store->selectedSnipID(), OptionalUuid());
    QVERIFY(opened.id != c.id);
    QCOMPARE(opened.title, c.title);
    QCOMPARE(opened.subtitle, c.subtitle);
    QCOMPARE(opened.items.size(), 3);
    QSet<QString> names;
    for (qsizetype i = 0; i < 3; ++i) {
        const Snip &in = c.items[i];
        const Snip &out = opened.items[i];
        QVERIFY(out.id != in.id);
        QVERIFY(isNewImageName(out.imageFile));
        QVERIFY(!before.contains(out.imageFile));
        names.insert(out.imageFile);
        QCOMPARE(out.title, in.title);
        QCOMPARE(out.cloudLocalOnly, in.cloudLocalOnly);
        QCOMPARE(out.createdAt, in.createdAt);
        QCOMPARE(out.marks, in.marks);
        QImage stored;
        QVERIFY(stored.load(f.store->imageURL(out.imageFile), "png"));
    }
    QCOMPARE(names.size(), 3); // the two snips sharing an image get a file each
    QCOMPARE(f.images().size(), before.size() + 3);
    QCOMPARE(f.store->saveState(), QStringLiteral("Wird gespeichert …"));
}

void TestExchange::openTakesOnlyWhatItChecked() {
    // A JPEG stored under a snip's key, and a key that reads like a path outside the folder.
    ExchangeFixture f;
    SnipCollection c;
    c.items = {snipNamed(QStringLiteral("../../../tmp/x.png")), snipNamed(QStringLiteral("foto.png"))};
    const QString project = f.dir.filePath(QStringLiteral("p.vellumbox"));
    QFile file(project);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(projectDocument(c, {{QStringLiteral("../../../tmp/x.png"), encodedImage(filledImage(9, 9))},
                                   {QStringLiteral("foto.png"), encodedImage(filledImage(64, 48), "jpeg")}}));
    file.close();

    const QStringList rootBefore = QDir(f.dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot);
    f.store->openProject();
    f.panels->answerOpen({project});
    QCOMPARE(f.store->error(), QString());
    const QStringList images = f.images();
    QCOMPARE(images.size(), 2);
    for (const QString &name : images) {
        QVERIFY2(isNewImageName(name), qPrintable(name));
        QVERIFY(readFile(f.imagesDir() + u'/' + name).startsWith("\x89PNG"));
    }
    QCOMPARE(QDir(f.dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), rootBefore);
    QImage fromJpeg;
    QVERIFY(fromJpeg.load(f.store->imageURL(f.store->collections().first().items[1].imageFile), "png"));
    QCOMPARE(fromJpeg.size(), QSize(64, 48));
}

void TestExchange::openRefused_data() {
    QTest::addColumn<QByteArray>("document");
    QTest::addColumn<qint64>("sparseSize"); // instead of the document
    QTest::addColumn<QString>("failure");

    const QByteArray png = encodedImage(filledImage(20, 20));
    SnipCollection c;
    c.items = {snipNamed(QStringLiteral("a.png")), snipNamed(QStringLiteral("b.png"))};
    const QMap<QString, QByteArray> images{{QStringLiteral("a.png"), png}, {QStringLiteral("b.png"), png}};
    const QByteArray valid = projectDocument(c, images);
    const QString notAProject = QStringLiteral("Die Datei ist keine gültige Projektdatei.");

    QTest::newRow("bad Base64") << QByteArray(valid).replace(png.toBase64().left(8), "!!!!!!!!") << qint64(-1)
                                << notAProject;
    QTest::newRow("missing key") << QByteArray(valid).replace(R"("mode":"steps",)", "") << qint64(-1)
                                 << notAProject;
    QTest::newRow("version 2") << projectDocument(c, images, 2) << qint64(-1)
                               << QStringLiteral("Unbekannte Projektversion.");
    SnipCollection badMark = c;
    badMark.items.last().marks = {Mark::make(MarkKind::Line, 1.5, 0, 0, 0)};
    QTest::newRow("invalid mark in the last snip")
        << projectDocument(badMark, images) << qint64(-1)
        << QStringLiteral("Die Datei enthält ungültige Markierungen.");
    QTest::newRow("image key missing")
        << projectDocument(c, {{QStringLiteral("a.png"), png}}) << qint64(-1) << kBroken;

    // A PNG header declaring 25,000 x 25,000 pixels, with no pixels behind it.
    const QByteArray huge = pngDeclaring(25000, 25000);
    QTest::newRow("PNG declaring 25000 x 25000")
        << projectDocument(c, {{QStringLiteral("a.png"), png}, {QStringLiteral("b.png"), huge}}) << qint64(-1)
        << kBroken;
    QTest::newRow("SVG as image") << projectDocument(c, {{QStringLiteral("a.png"),
                                                          R"(<svg xmlns="http://www.w3.org/2000/svg"/>)"},
                                                         {QStringLiteral("b.png"), png}})
                                  << qint64(-1) << kBroken;
    QTest::newRow("200,000,000 bytes")
        << QByteArray() << qint64(200'000'000) << QStringLiteral("Die Projektdatei ist größer als 200 MB.");
}

void TestExchange::openRefused() {
    QFETCH(QByteArray, document);
    QFETCH(qint64, sparseSize);
    QFETCH(QString, failure);
    ExchangeFixture f;
    const QString project = f.dir.filePath(QStringLiteral("p.vellumbox"));
    QFile file(project);
    QVERIFY(file.open(QIODevice::WriteOnly));
    if (sparseSize >= 0)
        QVERIFY(file.resize(sparseSize));
    else
        file.write(document);
    file.close();

    const QList<SnipCollection> before = f.store->collections();
    const OptionalUuid selected = f.store->selectedID();
    f.store->openProject();
    f.panels->answerOpen({project});
    QCOMPARE(f.store->error(), kOpenFailed + failure);
    QCOMPARE(f.store->collections(), before);
    QCOMPARE(f.store->selectedID(), selected);
    QCOMPARE(f.images(), QStringList());
    QCOMPARE(f.writes, 0);
}

void TestExchange::openWriteFailingPartWayLeavesNothing() {
    ExchangeFixture f;
    SnipCollection c;
    c.items = {snipNamed(QStringLiteral("a.png")), snipNamed(QStringLiteral("b.png")),
               snipNamed(QStringLiteral("c.png"))};
    const QByteArray png = encodedImage(filledImage(5, 5));
    const QString project = f.dir.filePath(QStringLiteral("p.vellumbox"));
    QFile file(project);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(projectDocument(
        c, {{QStringLiteral("a.png"), png}, {QStringLiteral("b.png"), png}, {QStringLiteral("c.png"), png}}));
    file.close();

    f.allowedImageWrites = 2;
    const QList<SnipCollection> before = f.store->collections();
    f.store->openProject();
    f.panels->answerOpen({project});
    QCOMPARE(f.store->error(), kOpenFailed + QStringLiteral("Die Datei konnte nicht geschrieben werden."));
    QCOMPARE(f.images(), QStringList());
    QCOMPARE(f.store->collections(), before);

    // Cancelling the panel changes nothing and says nothing.
    f.store->setError({});
    f.store->openProject();
    f.panels->answerOpen({});
    QCOMPARE(f.store->error(), QString());
}

void TestExchange::saveProjectPanel() {
    ExchangeFixture f;
    f.store->setSelectedID(std::nullopt);
    f.store->saveProject();
    QVERIFY(!f.panels->saveRequest); // no current collection: no panel

    SnipCollection c;
    c.title = QStringLiteral("   ");
    f.store->setCollections({c});
    f.store->setSelectedID(c.id);
    f.store->saveProject();
    QVERIFY(f.panels->saveRequest);
    QCOMPARE(f.panels->saveRequest->suggestedName, QStringLiteral("Sammlung.vellumbox"));
    QCOMPARE(f.panels->saveRequest->nameFilters, QStringList{QStringLiteral("*.vellumbox")});
    QCOMPARE(
        f.panels->saveRequest->message,
        QStringLiteral("Bearbeitbares Projekt mit Originalbildern. Zum Weitergeben mit Schwärzungen bitte "
                       "PDF oder Word exportieren."));

    // What is saved is the collection as it was when the user asked.
    f.store->setCollections({});
    const QString project = f.dir.filePath(QStringLiteral("leer.vellumbox"));
    f.panels->answerSave(project);
    QCOMPARE(f.store->exportURL(), project);
    const ProjectFile::Contents back = ProjectFile::read(project);
    QCOMPARE(back.collection.title, c.title);
    QVERIFY(back.collection.items.isEmpty());

    f.store->setExportURL({});
    f.store->setCollections({c});
    f.store->saveProject();
    f.panels->answerSave({});
    QCOMPARE(f.store->exportURL(), QString());
    QCOMPARE(f.store->error(), QString());
}

void TestExchange::saveProjectFailures_data() {
    QTest::addColumn<QString>("imageFile");
    QTest::addColumn<bool>("writerFails");
    QTest::addColumn<QString>("failure");
    QTest::newRow("invalid image name")
        << QStringLiteral("../x.png") << false << QStringLiteral("Ungültiger Bilddateiname.");
    QTest::newRow("image file missing")
        << QStringLiteral("fehlt.png") << false << QStringLiteral("Die Datei ist nicht vorhanden.");
    QTest::newRow("image is a FIFO") << QStringLiteral("fifo.png") << false
                                     << QStringLiteral("Nur gewöhnliche Dateien können gelesen werden.");
    QTest::newRow("write fails") << QString() << true
                                 << QStringLiteral("Die Datei konnte nicht geschrieben werden.");
}

void TestExchange::saveProjectFailures() {
    QFETCH(QString, imageFile);
    QFETCH(bool, writerFails);
    QFETCH(QString, failure);
    ExchangeFixture f;
    QVERIFY(::mkfifo(QFile::encodeName(f.imagesDir() + QStringLiteral("/fifo.png")).constData(), 0600) == 0);
    SnipCollection c;
    c.items = {snipNamed(f.addImageFile(encodedImage(filledImage(4, 4))))};
    if (!imageFile.isEmpty())
        c.items.append(snipNamed(imageFile));
    f.store->setCollections({c});
    f.store->setSelectedID(c.id);
    if (writerFails)
        f.store->setFileWriter([](const QString &, const QByteArray &) {
            return QStringLiteral("Die Datei konnte nicht geschrieben werden.");
        });

    f.store->saveProject();
    const QString project = f.dir.filePath(QStringLiteral("p.vellumbox"));
    f.panels->answerSave(project);
    QCOMPARE(f.store->error(), failure);
    QCOMPARE(f.store->exportURL(), QString());
    QVERIFY(!QFile::exists(project));
}

void TestExchange::restoreAddsCopiesInFront() {
    ExchangeFixture f;
    SnipCollection x;
    x.title = QStringLiteral("X");
    f.store->setCollections({x});
    f.store->setSelectedID(x.id);

    QTemporaryDir backup;
    const auto backupImage = [&](const QByteArray &bytes) {
        const QString name = uuidText(QUuid::createUuid()) + QStringLiteral(".png");
        QFile file(backup.filePath(name));
        file.open(QIODevice::WriteOnly);
        file.write(bytes);
        return name;
    };
    const QByteArray pngA = encodedImage(filledImage(3, 3, Qt::red));
    const QByteArray pngB = encodedImage(filledImage(4, 4, Qt::blue));
    SnipCollection a;
    a.title = QStringLiteral("A") + kSuffix;
    Snip sa = snipNamed(backupImage(pngA), QStringLiteral("a1"));
    sa.marks = {Mark::make(MarkKind::Arrow, 0.1, 0.1, 0.9, 0.9), Mark::make(MarkKind::Blur, 0, 0, 1, 1)};
    a.items = {sa, sa}; // two snips on one file: two copies
    SnipCollection b;
    b.title = QStringLiteral("B");
    b.items = {snipNamed(backupImage(pngB), QStringLiteral("b1"))};
    const QStringList sources = QDir(backup.path()).entryList(QDir::Files, QDir::Name);

    f.store->setSelectedSnipID(QUuid::createUuid());
    f.store->restoreCloudCollections({a, b}, backup.path());
    QCOMPARE(f.titles(), (QStringList{QStringLiteral("A") + kSuffix + kSuffix, QStringLiteral("B") + kSuffix,
                                      QStringLiteral("X")}));
    const SnipCollection &ra = f.store->collections()[0];
    QCOMPARE(f.store->selectedID(), ra.id);
    QCOMPARE(f.store->selectedSnipID(), OptionalUuid());
    QCOMPARE(f.store->collections()[2].id, x.id);
    QVERIFY(ra.id != a.id);
    QCOMPARE(ra.items.size(), 2);
    QVERIFY(ra.items[0].imageFile != ra.items[1].imageFile);
    for (const Snip &s : ra.items) {
        QVERIFY(s.id != sa.id);
        QVERIFY(isNewImageName(s.imageFile));
        QCOMPARE(readFile(f.store->imageURL(s.imageFile)), pngA);
        QCOMPARE(s.marks.size(), 2);
        for (qsizetype i = 0; i < 2; ++i) {
            QVERIFY(s.marks[i].id != sa.marks[i].id);
            Mark same = s.marks[i];
            same.id = sa.marks[i].id;
            QCOMPARE(same, sa.marks[i]);
        }
    }
    QCOMPARE(QDir(backup.path()).entryList(QDir::Files, QDir::Name), sources); // the source is only read
    const auto saved = decodeJson<SavedLibrary>(readFile(f.store->libraryPath()));
    QVERIFY(saved);
    QCOMPARE(saved->collections, f.store->collections());
    QCOMPARE(f.store->saveState(), QStringLiteral("Lokal gespeichert"));

    // Again: two further, independent copies.
    f.store->restoreCloudCollections({a, b}, backup.path());
    QCOMPARE(f.store->collections().size(), 5);
    const SnipCollection &again = f.store->collections()[0];
    QVERIFY(again.id != f.store->collections()[2].id);
    QVERIFY(again.items[0].imageFile != f.store->collections()[2].items[0].imageFile);
    QVERIFY(again.items[0].marks[0].id != f.store->collections()[2].items[0].marks[0].id);
    QCOMPARE(f.images().size(), 6);
}

void TestExchange::restoreRefused_data() {
    QTest::addColumn<QString>("badName"); // of a snip in the second collection
    QTest::addColumn<bool>("badMark");
    QTest::addColumn<bool>("capturing");
    QTest::addColumn<QString>("failure");
    const QString uuid = uuidText(QUuid::createUuid());
    QTest::newRow("library.json") << QStringLiteral("library.json") << false << false << kRestoreInvalid;
    QTest::newRow("short name") << QStringLiteral("bild.png") << false << false << kRestoreInvalid;
    QTest::newRow("capital extension") << uuid + QStringLiteral(".PNG") << false << false << kRestoreInvalid;
    QTest::newRow("folder part") << QStringLiteral("../") + uuid.left(33) + QStringLiteral(".png") << false
                                 << false << kRestoreInvalid;
    QTest::newRow("invalid mark") << QString() << true << false << kRestoreInvalid;
    QTest::newRow("missing file") << uuid + QStringLiteral(".png") << false << false
                                  << QStringLiteral("Die Datei ist nicht vorhanden.");
    QTest::newRow("capture running")
        << QString() << false << true
        << QStringLiteral("Bitte beende die laufende Aufnahme oder den Export und versuche es erneut.");
}

void TestExchange::restoreRefused() {
    QFETCH(QString, badName);
    QFETCH(bool, badMark);
    QFETCH(bool, capturing);
    QFETCH(QString, failure);
    ExchangeFixture f;
    QTemporaryDir backup;
    const QString good = uuidText(QUuid::createUuid()) + QStringLiteral(".png");
    QFile file(backup.filePath(good));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(encodedImage(filledImage(2, 2)));
    file.close();

    SnipCollection first;
    first.items = {snipNamed(good), snipNamed(good)};
    SnipCollection second;
    second.items = {snipNamed(good), snipNamed(badName.isEmpty() ? good : badName)};
    if (badMark)
        second.items.last().marks = {Mark::make(MarkKind::Rectangle, 0, 0, 1, 1.01)};
    f.store->setIsCapturing(capturing);

    const QList<SnipCollection> before = f.store->collections();
    const OptionalUuid selected = f.store->selectedID();
    QCOMPARE(restoreFailure(*f.store, {first, second}, backup.path()), failure);
    QCOMPARE(f.store->collections(), before);
    QCOMPARE(f.store->selectedID(), selected);
    QCOMPARE(f.images(), QStringList());
}

void TestExchange::restoreRollsBackAFailedSave() {
    ExchangeFixture f;
    QTemporaryDir backup;
    const QString name = uuidText(QUuid::createUuid()) + QStringLiteral(".png");
    QFile file(backup.filePath(name));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(encodedImage(filledImage(2, 2)));
    file.close();
    SnipCollection c;
    c.items = {snipNamed(name), snipNamed(name)};
    const QList<SnipCollection> before = f.store->collections();
    const OptionalUuid selected = f.store->selectedID();
    const OptionalUuid snip = QUuid::createUuid();
    f.store->setSelectedSnipID(snip);

    f.allowedLibraryWrites = 1; // the first save goes through, the final one fails
    QCOMPARE(restoreFailure(*f.store, {c}, backup.path()),
             QStringLiteral("Die Wiederherstellung konnte lokal nicht gespeichert werden."));
    QCOMPARE(f.store->collections(), before);
    QCOMPARE(f.store->selectedID(), selected);
    QCOMPARE(f.store->selectedSnipID(), snip);
    QCOMPARE(f.images(), QStringList());
    QCOMPARE(f.store->saveState(), QStringLiteral("Speichern fehlgeschlagen"));
    const int writes = f.writes;
    QTest::qWait(CollectionStore::kAutosaveDelayMs * 2);
    QCOMPARE(f.writes, writes); // no delayed save follows

    // A first save that fails refuses before anything is copied.
    f.allowedLibraryWrites = 0;
    QCOMPARE(restoreFailure(*f.store, {c}, backup.path()),
             QStringLiteral("Bitte beende die laufende Aufnahme oder den Export und versuche es erneut."));
    QCOMPARE(f.images(), QStringList());
}

void TestExchange::restoreNothing() {
    ExchangeFixture f;
    SnipCollection x;
    f.store->setCollections({x});
    f.store->setSelectedID(x.id);
    const OptionalUuid snip = QUuid::createUuid();
    f.store->setSelectedSnipID(snip);
    f.store->restoreCloudCollections({}, f.dir.path());
    QCOMPARE(f.store->collections().size(), 1);
    QCOMPARE(f.store->selectedID(), OptionalUuid(x.id));
    QCOMPARE(f.store->selectedSnipID(), snip);
    QCOMPARE(f.store->saveState(), QStringLiteral("Lokal gespeichert"));
    QVERIFY(QFile::exists(f.store->libraryPath()));
}

QTEST_MAIN(TestExchange)
#include "tst_exchange.moc"
