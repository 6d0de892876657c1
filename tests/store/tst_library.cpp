#include "model/JsonCoding.h"
#include "store/CollectionStore.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

namespace {
const QString kRecovered =
    QStringLiteral("Die gespeicherte Sammlung konnte nicht geöffnet werden. Das Original "
                   "wurde als Wiederherstellungskopie gesichert.");
const QString kProtected =
    QStringLiteral("Die gespeicherte Sammlung konnte nicht geöffnet werden. Automatisches "
                   "Speichern ist zum Schutz des Originals deaktiviert.");
const QByteArray kIdA = "11111111-2222-4333-8444-555555555555";
const QByteArray kIdB = "AAAAAAAA-BBBB-4CCC-8DDD-EEEEEEEEEEEE";

QByteArray collectionJson(const QByteArray &id, const QByteArray &title = "Eins") {
    return R"({"id":")" + id + R"(","title":")" + title +
           R"(","subtitle":"","mode":"steps","createdAt":10,"items":[]})";
}

void writeFile(const QString &path, const QByteArray &bytes) {
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    QCOMPARE(f.write(bytes), bytes.size());
}

QByteArray readFile(const QString &path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

QStringList recoveryCopies(const QString &root) {
    return QDir(root).entryList({QStringLiteral("library-recovery-*.json")}, QDir::Files);
}
} // namespace

class TestLibrary : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void firstStart();
    void loadedLibrary_data();
    void loadedLibrary();
    void unreadableFileKeptAsRecoveryCopy_data();
    void unreadableFileKeptAsRecoveryCopy();
    void libraryPathIsAFolder();
    void imagesFolderIsAFile_data();
    void imagesFolderIsAFile();
    void burstOfChangesWritesOnce();
    void saveNowCancelsPendingSave();
    void unsavedPropertiesScheduleNothing();
    void failedWrite();
    void folderGoneWhileRunning();
    void restartKeepsSavedState();
};

void TestLibrary::firstStart() {
    QTemporaryDir dir;
    const QString root = dir.filePath(QStringLiteral("deep/Vellumbox"));
    CollectionStore store(root);
    QVERIFY(QFileInfo(root + QStringLiteral("/Images")).isDir());
    QCOMPARE(QFileInfo(root).permissions() & (QFile::ReadGroup | QFile::ReadOther | QFile::WriteOther),
             QFile::Permissions());
    QVERIFY(!QFile::exists(root + QStringLiteral("/library.json")));
    QCOMPARE(store.collections().size(), 1);
    QCOMPARE(store.collections().first().title, QStringLiteral("Neue Sammlung"));
    QCOMPARE(store.selectedID(), OptionalUuid(store.collections().first().id));
    QCOMPARE(store.saveState(), QStringLiteral("Lokal gespeichert"));
    QCOMPARE(store.status(), QStringLiteral("Bereit für deinen ersten Ausschnitt"));
    QVERIFY(store.error().isEmpty());
    QVERIFY(!store.session());

    QVERIFY(store.saveNow());
    const QByteArray written = readFile(store.libraryPath());
    QVERIFY(written.contains("\"deletedCollections\": []"));
    const auto library = decodeJson<SavedLibrary>(written);
    QVERIFY(library);
    QCOMPARE(library->collections, store.collections());
    QCOMPARE(library->selectedID, store.selectedID());
}

void TestLibrary::loadedLibrary_data() {
    QTest::addColumn<QByteArray>("json");
    QTest::addColumn<int>("collections");
    QTest::addColumn<QByteArray>("selected");
    QTest::addColumn<bool>("roundRestored");
    const QByteArray two = collectionJson(kIdA) + "," + collectionJson(kIdB, "Zwei");
    QTest::newRow("no collections: no default, no selection")
        << R"({"version":1,"collections":[]})"_qba << 0 << QByteArray() << false;
    QTest::newRow("selection kept") << R"({"version":1,"selectedID":")" + kIdB.toLower() +
                                           R"(","collections":[)" + two + "]}"
                                    << 2 << kIdB << false;
    QTest::newRow("unknown selection repaired")
        << R"({"version":1,"selectedID":"99999999-2222-4333-8444-555555555555","collections":[)" + two + "]}"
        << 2 << kIdA << false;
    QTest::newRow("running round comes back paused")
        << R"({"version":1,"collections":[)" + two + R"(],"session":{"collectionID":")" + kIdB +
               R"(","isPaused":false}})"
        << 2 << kIdA << true;
    QTest::newRow("round on a missing collection dropped")
        << R"({"version":1,"collections":[)" + two +
               R"(],"session":{"collectionID":"99999999-2222-4333-8444-555555555555","isPaused":true}})"
        << 2 << kIdA << false;
    QTest::newRow("negative trash index loads")
        << R"({"version":1,"collections":[],"deletedCollections":[{"collection":)" + collectionJson(kIdA) +
               R"(,"index":-5}]})"
        << 0 << QByteArray() << false;
}

void TestLibrary::loadedLibrary() {
    QFETCH(QByteArray, json);
    QFETCH(int, collections);
    QFETCH(QByteArray, selected);
    QFETCH(bool, roundRestored);
    QTemporaryDir dir;
    writeFile(dir.filePath(QStringLiteral("library.json")), json);
    CollectionStore store(dir.path());
    QVERIFY(store.error().isEmpty());
    QCOMPARE(store.collections().size(), collections);
    QCOMPARE(store.selectedID(),
             selected.isEmpty() ? OptionalUuid() : parseUuid(QString::fromLatin1(selected)));
    QCOMPARE(store.session().has_value(), roundRestored);
    if (roundRestored) {
        QVERIFY(store.session()->isPaused);
        QVERIFY(!store.activeCollectionID());
        QCOMPARE(store.status(), QStringLiteral("Sammelrunde pausiert · bereit zum Fortsetzen"));
    } else {
        QCOMPARE(store.status(), QStringLiteral("Bereit für deinen ersten Ausschnitt"));
    }
    QCOMPARE(store.saveState(), QStringLiteral("Lokal gespeichert"));
    QCOMPARE(readFile(store.libraryPath()), json); // loading writes nothing
    QCOMPARE(recoveryCopies(dir.path()).size(), 0);
}

void TestLibrary::unreadableFileKeptAsRecoveryCopy_data() {
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("version 2") << R"({"version":2,"collections":[]})"_qba;
    QTest::newRow("version 1.5") << R"({"version":1.5,"collections":[]})"_qba;
    QTest::newRow("truncated") << R"({"version":1,"collections":[{"id":")"_qba;
    QTest::newRow("empty") << QByteArray();
    QTest::newRow("not JSON") << "\x89PNG\r\n\x1a\n\0\0binary"_qba;
    QTest::newRow("invalid UTF-8") << "{\"version\":1,\"collections\":[],\"x\":\"\xff\xfe\"}"_qba;
    QTest::newRow("overlong encoding") << "{\"version\":1,\"collections\":[],\"x\":\"\xc0\x80\"}"_qba;
    QTest::newRow("encoded surrogate") << "{\"version\":1,\"collections\":[],\"x\":\"\xed\xa0\x80\"}"_qba;
    QTest::newRow("NUL after the document") << R"({"version":1,"collections":[]})"_qba + '\0' + "junk";
    QTest::newRow("array root") << "[1,2,3]"_qba;
    QTest::newRow("deep nesting") << QByteArray(200000, '[') + QByteArray(200000, ']');
    QTest::newRow("huge number") << R"({"version":1e999,"collections":[]})"_qba;
    QTest::newRow("wrong type deep inside")
        << R"({"version":1,"collections":[{"id":")" + kIdA +
               R"(","title":"a","subtitle":"","mode":"steps","createdAt":0,"items":[{"id":")" + kIdB +
               R"(","title":"","note":"","imageFile":7,"createdAt":0,"marks":[]}]}]})";
    QTest::newRow("malformed trash entry")
        << R"({"version":1,"collections":[],"deletedCollections":[{"index":0}]})"_qba;
    QTest::newRow("braced UUID") << R"({"version":1,"selectedID":"{)" + kIdA + R"(}","collections":[]})";
}

void TestLibrary::unreadableFileKeptAsRecoveryCopy() {
    QFETCH(QByteArray, bytes);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("library.json"));
    writeFile(path, bytes);
    CollectionStore store(dir.path());
    QCOMPARE(store.error(), kRecovered);
    const QStringList copies = recoveryCopies(dir.path());
    QCOMPARE(copies.size(), 1);
    QVERIFY(QRegularExpression(
                QStringLiteral("^library-recovery-[0-9A-F]{8}(-[0-9A-F]{4}){3}-[0-9A-F]{12}\\.json$"))
                .match(copies.first())
                .hasMatch());
    QCOMPARE(readFile(dir.filePath(copies.first())), bytes);
    QCOMPARE(store.collections().size(), 1);
    QCOMPARE(store.collections().first().title, QStringLiteral("Neue Sammlung"));
    QCOMPARE(store.selectedID(), OptionalUuid(store.collections().first().id));

    // The next save replaces the unreadable file; the copy stays as it was.
    QVERIFY(store.saveNow());
    QVERIFY(decodeJson<SavedLibrary>(readFile(path)));
    QCOMPARE(readFile(dir.filePath(copies.first())), bytes);
}

void TestLibrary::libraryPathIsAFolder() {
    QTemporaryDir dir;
    QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("library.json")));
    CollectionStore store(dir.path());
    QCOMPARE(store.error(), kProtected);
    QCOMPARE(recoveryCopies(dir.path()).size(), 0);
    QCOMPARE(store.collections().size(), 1);
    store.setSelectedID(std::nullopt);
    QCOMPARE(store.saveState(), QStringLiteral("Wird gespeichert …"));
    QTRY_COMPARE(store.saveState(), QStringLiteral("Speichern deaktiviert"));
    QVERIFY(!store.saveNow());
    QCOMPARE(store.error(), kProtected);
    QVERIFY(QFileInfo(dir.filePath(QStringLiteral("library.json"))).isDir());
}

void TestLibrary::imagesFolderIsAFile_data() {
    QTest::addColumn<bool>("libraryExists");
    QTest::newRow("library present: never replaced") << true;
    QTest::newRow("no library: saving allowed") << false;
}

void TestLibrary::imagesFolderIsAFile() {
    QFETCH(bool, libraryExists);
    QTemporaryDir dir;
    writeFile(dir.filePath(QStringLiteral("Images")), "not a folder");
    const QByteArray original = R"({"version":1,"collections":[)" + collectionJson(kIdA) + "]}";
    if (libraryExists)
        writeFile(dir.filePath(QStringLiteral("library.json")), original);
    CollectionStore store(dir.path());
    QCOMPARE(store.error(),
             QStringLiteral("Speicherordner nicht verfügbar: An der Stelle des Ordners liegt eine Datei."));
    QVERIFY(store.collections().isEmpty());
    QVERIFY(!store.selectedID());
    QCOMPARE(store.saveNow(), !libraryExists);
    if (libraryExists) {
        QCOMPARE(store.saveState(), QStringLiteral("Speichern deaktiviert"));
        QCOMPARE(readFile(dir.filePath(QStringLiteral("library.json"))), original);
    }
}

void TestLibrary::burstOfChangesWritesOnce() {
    QTemporaryDir dir;
    CollectionStore store(dir.path());
    int writes = 0;
    store.setFileWriter([&](const QString &path, const QByteArray &bytes) {
        ++writes;
        QFile f(path);
        return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size() ? QString()
                                                                              : QStringLiteral("kaputt");
    });
    QSignalSpy collectionsSpy(&store, &CollectionStore::collectionsChanged);
    const QUuid id = store.collections().first().id;
    QList<SnipCollection> list = store.collections();
    list.first().title = QStringLiteral("Umbenannt"); // an in-place element change
    store.setCollections(list);
    store.setSession(CaptureSession{id, false});
    store.setSelectedID(id);
    QCOMPARE(collectionsSpy.size(), 1);
    QCOMPARE(store.saveState(), QStringLiteral("Wird gespeichert …"));
    QCOMPARE(writes, 0);
    QTRY_COMPARE(store.saveState(), QStringLiteral("Lokal gespeichert"));
    QCOMPARE(writes, 1);
    const auto saved = decodeJson<SavedLibrary>(readFile(store.libraryPath()));
    QVERIFY(saved);
    QCOMPARE(saved->collections.first().title, QStringLiteral("Umbenannt"));
    QCOMPARE(saved->session, OptionalCaptureSession(CaptureSession{id, false}));
}

void TestLibrary::saveNowCancelsPendingSave() {
    QTemporaryDir dir;
    CollectionStore store(dir.path());
    int writes = 0;
    store.setFileWriter([&](const QString &, const QByteArray &) {
        ++writes;
        return QString();
    });
    store.setSelectedID(std::nullopt);
    QVERIFY(store.saveNow());
    QTest::qWait(2 * CollectionStore::kAutosaveDelayMs);
    QCOMPARE(writes, 1);
}

void TestLibrary::unsavedPropertiesScheduleNothing() {
    QTemporaryDir dir;
    CollectionStore store(dir.path());
    store.setSelectedSnipID(QUuid::createUuid());
    store.setSessionSnipID(QUuid::createUuid());
    store.setCaptureChoice(CaptureChoice::newCollection());
    store.setStatus(QStringLiteral("x"));
    store.setDeletedCollections({DeletedCollection{SnipCollection(), 0}});
    store.setIsCapturing(true);
    QCOMPARE(store.saveState(), QStringLiteral("Lokal gespeichert"));
    QVERIFY(store.canRestoreCollection());
}

void TestLibrary::failedWrite() {
    QTemporaryDir dir;
    CollectionStore store(dir.path());
    store.setFileWriter([](const QString &, const QByteArray &) {
        return QStringLiteral("Die Datei konnte nicht geschrieben werden.");
    });
    QVERIFY(!store.saveNow());
    QCOMPARE(store.saveState(), QStringLiteral("Speichern fehlgeschlagen"));
    QCOMPARE(store.error(),
             QStringLiteral("Speichern fehlgeschlagen: Die Datei konnte nicht geschrieben werden."));
    QVERIFY(!QFile::exists(store.libraryPath()));

    store.setFileWriter({});
    QVERIFY(store.saveNow());
    QCOMPARE(store.saveState(), QStringLiteral("Lokal gespeichert"));
    QVERIFY(!store.error().isEmpty()); // a success does not clear the error
}

void TestLibrary::folderGoneWhileRunning() {
    QTemporaryDir dir;
    const QString root = dir.filePath(QStringLiteral("lib"));
    CollectionStore store(root);
    QVERIFY(QDir(root).removeRecursively());
    QVERIFY(!store.saveNow());
    QCOMPARE(store.error(), QStringLiteral("Speichern fehlgeschlagen: Der Ordner ist nicht vorhanden."));
}

void TestLibrary::restartKeepsSavedState() {
    QTemporaryDir dir;
    SnipCollection first;
    first.title = QStringLiteral("Erste");
    first.createdAt = 12.345678901234567;
    SnipCollection second;
    Snip snip = Snip::make(QStringLiteral("A.png"));
    snip.cloudLocalOnly = true;
    second.items = {snip};
    {
        CollectionStore store(dir.path());
        store.setCollections({first, second});
        store.setSelectedID(second.id);
        store.setSession(CaptureSession{first.id, false});
        store.setDeletedCollections({DeletedCollection{SnipCollection(), 3}});
        store.setSelectedSnipID(snip.id);
        store.setCaptureChoice(CaptureChoice::existing(first.id));
        QVERIFY(store.saveNow());
    }
    CollectionStore store(dir.path());
    QCOMPARE(store.collections(), (QList<SnipCollection>{first, second}));
    QCOMPARE(store.selectedID(), OptionalUuid(second.id));
    QCOMPARE(store.session(), OptionalCaptureSession(CaptureSession{first.id, true}));
    QCOMPARE(store.deletedCollections().size(), 1);
    QCOMPARE(store.deletedCollections().first().index, 3);
    QVERIFY(!store.selectedSnipID());
    QVERIFY(!store.captureChoice());
}

QTEST_GUILESS_MAIN(TestLibrary)
#include "tst_library.moc"
