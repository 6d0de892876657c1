#include "StoreFixture.h"

#include "export/ExportJob.h"
#include "model/JsonCoding.h"
#include "store/ImageCache.h"

#include "common/Background.h"

#include <QElapsedTimer>
#include <QSemaphore>
#include <QSignalSpy>
#include <QTest>
#include <QThread>

#include <csignal>
#include <mutex>
#include <thread>

#include <sys/resource.h>

namespace {
const QString kRecovered =
    QStringLiteral("Die gespeicherte Sammlung konnte nicht geöffnet werden. Das Original "
                   "wurde als Wiederherstellungskopie gesichert.");
const QString kProtected =
    QStringLiteral("Die gespeicherte Sammlung konnte nicht geöffnet werden. Automatisches "
                   "Speichern ist zum Schutz des Originals deaktiviert.");
constexpr auto kSaved = CollectionStore::SaveState::Saved;
constexpr auto kSaving = CollectionStore::SaveState::Saving;

// Writes the library like the store's own writer, keeps the title of the first collection of
// every library written, in the order they reach the disk, and holds the first write until the
// test lets it go.
struct HeldWriter {
    QSemaphore entered, release;
    std::mutex mutex;
    QStringList titles;
    std::atomic<bool> holdFirst = true;
    std::atomic<bool> failHeld = false;

    CollectionStore::FileWriter writer() {
        return [this](const QString &path, const QByteArray &bytes) {
            if (path.endsWith(QStringLiteral("library.json"))) {
                if (holdFirst.exchange(false)) {
                    entered.release();
                    release.acquire();
                    if (failHeld)
                        return QStringLiteral("Die Datei konnte nicht geschrieben werden.");
                }
                std::lock_guard lock(mutex);
                titles.append(decodeJson<SavedLibrary>(bytes)->collections.first().title);
            }
            return FileErrors::writeAtomically(path, bytes);
        };
    }
    QStringList written() {
        std::lock_guard lock(mutex);
        return titles;
    }
    // Lets the held write go on after a moment, from another thread, while the main thread waits.
    std::thread releaseSoon() {
        return std::thread([this] {
            QThread::msleep(50);
            release.release();
        });
    }
};

QString savedTitle(const CollectionStore &store) {
    const auto saved = decodeJson<SavedLibrary>(readFile(store.libraryPath()));
    return saved ? saved->collections.first().title : QString();
}

void retitle(CollectionStore &store, const QString &title) {
    store.editCurrent([&](SnipCollection &c) { c.title = title; });
}
} // namespace

class TestLibrary : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void firstStart();
    void threeChangesOneWrite();
    void autosaveAfterTheLastChange();
    void savesInOrder_data();
    void savesInOrder();
    void quitWaitsForTheAutosave_data();
    void quitWaitsForTheAutosave();
    void unchangedValuesAreNoChange_data();
    void unchangedValuesAreNoChange();
    void failedWriteKeepsTheFile_data();
    void failedWriteKeepsTheFile();
    void unreadableLibrary_data();
    void unreadableLibrary();
    void imagesFolderIsAFile_data();
    void imagesFolderIsAFile();
    void imageFileNameRule_data();
    void imageFileNameRule();
    void cacheEviction();
    void requestImage();
};

void TestLibrary::firstStart() {
    QTemporaryDir dir;
    const QString root = dir.filePath(QStringLiteral("deep/Vellumbox"));
    CollectionStore store(root);
    QVERIFY(QFileInfo(store.imagesDirectory()).isDir());
    QCOMPARE(QFileInfo(root).permissions() & (QFile::ReadGroup | QFile::ReadOther), QFile::Permissions());
    QVERIFY(!QFile::exists(store.libraryPath()));
    QCOMPARE(store.collections().size(), 1);
    QCOMPARE(store.selectedID(), OptionalUuid(store.collections().first().id));
    QVERIFY(store.error().isEmpty());
    QVERIFY(store.saveAtExit());
    QCOMPARE(decodeJson<SavedLibrary>(readFile(store.libraryPath()))->collections, store.collections());
}

void TestLibrary::threeChangesOneWrite() {
    StoreFixture f;
    QList<SnipCollection> list = f.store->collections();
    list.first().title = QStringLiteral("Umbenannt");
    f.store->setCollections(list);
    f.store->setSession(CaptureSession{list.first().id, false});
    f.store->setSelectedID(list.first().id);
    QCOMPARE(f.store->saveState(), kSaving);
    QCOMPARE(f.writes.load(), 0);
    QTRY_COMPARE(f.store->saveState(), kSaved);
    QCOMPARE(f.writes.load(), 1);
    const auto saved = decodeJson<SavedLibrary>(readFile(f.store->libraryPath()));
    QCOMPARE(saved->collections.first().title, QStringLiteral("Umbenannt"));
    QCOMPARE(saved->session, OptionalCaptureSession(CaptureSession{list.first().id, false}));
    QCOMPARE(f.store->saveState(), kSaved);
}

// Spaced changes, each within the delay of the one before, are written once, after the last.
void TestLibrary::autosaveAfterTheLastChange() {
    StoreFixture f;
    QElapsedTimer clock;
    clock.start();
    qint64 lastChange = 0, longestGap = 0;
    auto writtenAt = std::make_shared<std::atomic<qint64>>(-1);
    f.store->setFileWriter([&f, writtenAt, &clock](const QString &path, const QByteArray &bytes) {
        ++f.writes;
        writtenAt->store(clock.elapsed());
        return FileErrors::writeAtomically(path, bytes);
    });
    for (int change = 0; change < 4; ++change) {
        if (change > 0)
            QTest::qWait(CollectionStore::kAutosaveDelayMs / 2);
        longestGap = std::max(longestGap, clock.elapsed() - lastChange);
        lastChange = clock.elapsed();
        f.store->editCurrent([&](SnipCollection &c) { c.title = QString::number(change); });
    }
    QTRY_COMPARE(f.writes.load(), 1);
    if (longestGap >= CollectionStore::kAutosaveDelayMs * 9 / 10)
        QSKIP("the machine was too busy to space the changes within the delay");
    // Qt's coarse timers may fire up to 5 % early.
    QVERIFY2(*writtenAt - lastChange >= CollectionStore::kAutosaveDelayMs * 9 / 10,
             qPrintable(QStringLiteral("written %1 ms after the last change").arg(*writtenAt - lastChange)));
    QTest::qWait(CollectionStore::kAutosaveDelayMs + 100);
    QCOMPARE(f.writes.load(), 1);
    QCOMPARE(decodeJson<SavedLibrary>(readFile(f.store->libraryPath()))->collections.first().title, "3");
}

// The library reaches the disk in the order of its saves, whichever asked for them, never twice
// at the same time, and every answer comes on the main thread after the older saves were written.
void TestLibrary::savesInOrder_data() {
    QTest::addColumn<QString>("meanwhile"); // what happens while the first autosave is held
    QTest::addColumn<QStringList>("written");
    QTest::newRow("another change: written after it") << QStringLiteral("change") << QStringList{"1", "2"};
    QTest::newRow("a save at once: waits for it") << QStringLiteral("save") << QStringList{"1", "2"};
    QTest::newRow("a save at once after a failing autosave: reported, then written")
        << QStringLiteral("save, failing") << QStringList{"2"};
    QTest::newRow("a save asked for by an answer while another waits: joins it")
        << QStringLiteral("answer") << QStringList{"1", "2"};
    // The pool is busy, so the autosave has not started when the save at once is asked for.
    QTest::newRow("a save at once before the autosave starts: after it")
        << QStringLiteral("queued") << QStringList{"1", "2"};
}

void TestLibrary::savesInOrder() {
    QFETCH(QString, meanwhile);
    QFETCH(QStringList, written);
    StoreFixture f;
    HeldWriter held;
    f.store->setFileWriter(held.writer());
    held.failHeld = meanwhile.endsWith(QStringLiteral("failing"));
    QSemaphore busy, started;
    const int threads = Background::pool()->maxThreadCount();
    if (meanwhile == QStringLiteral("queued")) {
        held.holdFirst = false;
        for (int i = 0; i < threads; ++i)
            Background::pool()->start([&] {
                started.release();
                busy.acquire();
            });
        QVERIFY(started.tryAcquire(threads, 10000));
    }
    QStringList answers; // what the disk held when each answer came
    const auto answer = [&](bool written) {
        QCOMPARE(QThread::currentThread(), QCoreApplication::instance()->thread());
        answers << (written ? savedTitle(*f.store) : QStringLiteral("failed"));
    };
    retitle(*f.store, QStringLiteral("1"));
    if (meanwhile == QStringLiteral("queued")) {
        QTest::qWait(CollectionStore::kAutosaveDelayMs + 100);
        retitle(*f.store, QStringLiteral("2"));
        f.store->save(nullptr, answer);
        QCOMPARE(f.store->saveState(), CollectionStore::SaveState::Saving);
        busy.release(threads);
    } else {
        if (meanwhile == QStringLiteral("answer"))
            f.store->save(nullptr, [&](bool) { f.store->save(); });
        QVERIFY2(QTest::qWaitFor([&] { return held.entered.tryAcquire(); }, 10000),
                 "the autosave never wrote");
        retitle(*f.store, QStringLiteral("2"));
        if (meanwhile == QStringLiteral("change"))
            QTest::qWait(CollectionStore::kAutosaveDelayMs + 100);
        else
            f.store->save(nullptr, answer);
        QCOMPARE(held.written(), QStringList());
        QCOMPARE(f.store->saveState(), CollectionStore::SaveState::Saving);
        held.release.release();
    }
    QTRY_COMPARE_WITH_TIMEOUT(held.written(), written, 10000);
    QTRY_COMPARE_WITH_TIMEOUT(f.store->saveState(), CollectionStore::SaveState::Saved, 10000);
    QCOMPARE(answers, meanwhile == QStringLiteral("change") ? QStringList() : QStringList{"2"});
    QCOMPARE(f.store->error().isEmpty(), !held.failHeld);
    QCOMPARE(held.written(), written);
    QCOMPARE(savedTitle(*f.store), QStringLiteral("2"));
}

// Quitting and closing the store wait for the autosave under way and for the one waiting behind
// it, and for nothing else: what else waits in the event queue runs only afterwards.
void TestLibrary::quitWaitsForTheAutosave_data() {
    QTest::addColumn<QString>("how"); // "finish", "save" (saveAtExit) or "close"
    QTest::addColumn<bool>("secondChange");
    QTest::newRow("quit") << QStringLiteral("finish") << false;
    QTest::newRow("quit, another change waiting") << QStringLiteral("finish") << true;
    QTest::newRow("last save, another change waiting") << QStringLiteral("save") << true;
    QTest::newRow("store closed") << QStringLiteral("close") << false;
}

void TestLibrary::quitWaitsForTheAutosave() {
    QFETCH(QString, how);
    QFETCH(bool, secondChange);
    StoreFixture f;
    HeldWriter held;
    f.store->setFileWriter(held.writer());
    retitle(*f.store, QStringLiteral("1"));
    QVERIFY2(QTest::qWaitFor([&] { return held.entered.tryAcquire(); }, 10000), "the autosave never wrote");
    if (secondChange) {
        retitle(*f.store, QStringLiteral("2"));
        QTest::qWait(CollectionStore::kAutosaveDelayMs + 100);
    }
    bool otherRan = false;
    QMetaObject::invokeMethod(
        QCoreApplication::instance(), [&otherRan] { otherRan = true; }, Qt::QueuedConnection);
    const QString path = f.store->libraryPath();
    std::thread releaser = held.releaseSoon();
    if (how == QStringLiteral("close"))
        f.store.reset();
    else if (how == QStringLiteral("save"))
        QVERIFY(f.store->saveAtExit());
    else
        f.store->finishPendingWork();
    const QStringList written = held.written();
    releaser.join();
    QVERIFY2(!otherRan, "an unrelated queued call ran while the store finished its work");
    const QString last = secondChange ? QStringLiteral("2") : QStringLiteral("1");
    QCOMPARE(written.value(written.size() - 1), last);
    QCOMPARE(decodeJson<SavedLibrary>(readFile(path))->collections.first().title, last);
    if (how != QStringLiteral("close"))
        QCOMPARE(f.store->saveState(), kSaved);
    QTRY_VERIFY_WITH_TIMEOUT(otherRan, 5000);
}

// Setting what is set already announces nothing and saves nothing.
void TestLibrary::unchangedValuesAreNoChange_data() {
    QTest::addColumn<bool>("session"); // else selectedID
    QTest::addColumn<bool>("same");
    QTest::newRow("selection, same") << false << true;
    QTest::newRow("selection, another") << false << false;
    QTest::newRow("round, same") << true << true;
    QTest::newRow("round, another") << true << false;
}

void TestLibrary::unchangedValuesAreNoChange() {
    QFETCH(bool, session);
    QFETCH(bool, same);
    StoreFixture f;
    f.setUp({{"A", 0}, {"B", 0}});
    const QUuid a = *f.id(QStringLiteral("A")), b = *f.id(QStringLiteral("B"));
    f.store->setSession(CaptureSession{a, false});
    QVERIFY(f.store->saveAtExit());
    QSignalSpy selection(f.store.get(), &CollectionStore::selectedIDChanged);
    QSignalSpy round(f.store.get(), &CollectionStore::sessionChanged);
    if (session)
        f.store->setSession(CaptureSession{a, !same});
    else
        f.store->setSelectedID(same ? a : b);
    QCOMPARE(selection.size(), !session && !same ? 1 : 0);
    QCOMPARE(round.size(), session && !same ? 1 : 0);
    QCOMPARE(f.store->saveState(), same ? kSaved : kSaving);
}

// A file that cannot grow (its size limit reached) fails the write and keeps its old content, and
// no temporary file is left beside it.
void TestLibrary::failedWriteKeepsTheFile_data() {
    QTest::addColumn<bool>("copy"); // else written from memory
    QTest::addColumn<int>("bytes");
    QTest::newRow("write, failing at commit") << false << 6000;
    QTest::newRow("write, failing at once") << false << 200'000;
    QTest::newRow("streamed copy") << true << 3'000'000;
}

void TestLibrary::failedWriteKeepsTheFile() {
    QFETCH(bool, copy);
    QFETCH(int, bytes);
    QTemporaryDir dir, source;
    const QString path = dir.filePath(QStringLiteral("library.json"));
    QVERIFY(writeFile(path, "alt"));
    QVERIFY(writeFile(source.filePath(QStringLiteral("big")), QByteArray(bytes, 'x')));
    const auto ignored = std::signal(SIGXFSZ, SIG_IGN);
    rlimit old{};
    QCOMPARE(getrlimit(RLIMIT_FSIZE, &old), 0);
    rlimit small = old;
    small.rlim_cur = 4096;
    QCOMPARE(setrlimit(RLIMIT_FSIZE, &small), 0);
    const QString problem = copy ? FileErrors::copyAtomically(source.filePath(QStringLiteral("big")), path)
                                 : FileErrors::writeAtomically(path, QByteArray(bytes, 'x'));
    setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, ignored);
    QCOMPARE(problem, QStringLiteral("Die Datei konnte nicht geschrieben werden."));
    QCOMPARE(readFile(path), QByteArray("alt"));
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden),
             QStringList{QStringLiteral("library.json")});
}

void TestLibrary::unreadableLibrary_data() {
    QTest::addColumn<QByteArray>("bytes"); // null: library.json is a folder
    QTest::addColumn<QString>("error");
    QTest::newRow("version 2") << R"({"version":2,"collections":[]})"_qba << kRecovered;
    QTest::newRow("truncated") << R"({"version":1,"collections":[{"id":")"_qba << kRecovered;
    QTest::newRow("braced UUID") << R"({"version":1,"selectedID":"{11111111-2222-4333-8444-555555555555}",)"
                                    R"("collections":[]})"_qba
                                 << kRecovered;
    QTest::newRow("a folder") << QByteArray() << kProtected;
}

void TestLibrary::unreadableLibrary() {
    QFETCH(QByteArray, bytes);
    QFETCH(QString, error);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("library.json"));
    QVERIFY(bytes.isNull() ? QDir(dir.path()).mkdir(QStringLiteral("library.json")) : writeFile(path, bytes));
    CollectionStore store(dir.path());
    QCOMPARE(store.error(), error);
    QCOMPARE(store.collections().size(), 1); // a fresh collection to work with
    const QStringList copies = QDir(dir.path()).entryList({QStringLiteral("library-recovery-*.json")});
    QCOMPARE(copies.size(), bytes.isNull() ? 0 : 1);
    QCOMPARE(store.saveAtExit(), !bytes.isNull());
    QCOMPARE(QFileInfo(path).isDir(), bytes.isNull());
    if (bytes.isNull())
        return;
    QCOMPARE(readFile(dir.filePath(copies.first())), bytes);
    QVERIFY(decodeJson<SavedLibrary>(readFile(path)));
}

void TestLibrary::imagesFolderIsAFile_data() {
    QTest::addColumn<bool>("libraryExists");
    QTest::newRow("library present: never replaced") << true;
    QTest::newRow("no library: saving allowed") << false;
}

void TestLibrary::imagesFolderIsAFile() {
    QFETCH(bool, libraryExists);
    QTemporaryDir dir;
    QVERIFY(writeFile(dir.filePath(QStringLiteral("Images")), "not a folder"));
    const QByteArray original = R"({"version":1,"collections":[]})";
    if (libraryExists)
        QVERIFY(writeFile(dir.filePath(QStringLiteral("library.json")), original));
    CollectionStore store(dir.path());
    QCOMPARE(store.error(),
             QStringLiteral("Speicherordner nicht verfügbar: An der Stelle des Ordners liegt eine Datei."));
    QCOMPARE(store.saveAtExit(), !libraryExists);
    if (libraryExists)
        QCOMPARE(readFile(dir.filePath(QStringLiteral("library.json"))), original);
}

void TestLibrary::imageFileNameRule_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("accepted");
    QTest::newRow("uuid name") << QStringLiteral("AAAAAAAA-BBBB-4CCC-8DDD-EEEEEEEEEEEE.png") << true;
    QTest::newRow("upper-case suffix") << QStringLiteral("Bild.PNG") << true;
    QTest::newRow("folder part") << QStringLiteral("Bilder/a.png") << false;
    QTest::newRow("parent step") << QStringLiteral("../a.png") << false;
    QTest::newRow("two dots inside") << QStringLiteral("a..b.png") << false;
    QTest::newRow("other suffix") << QStringLiteral("a.jpg") << false;
    QTest::newRow("empty") << QString() << false;
    QTest::newRow("mixed-case suffix") << QStringLiteral("shot.Png") << true;
    QTest::newRow("trailing separator") << QStringLiteral("a.png/") << false;
    QTest::newRow("embedded NUL") << QStringLiteral("a") + QChar(u'\0') + QStringLiteral("b.png") << false;
}

void TestLibrary::imageFileNameRule() {
    QFETCH(QString, name);
    QFETCH(bool, accepted);
    StoreFixture f;
    QString path;
    const QString failure = failureOf([&] { path = f.store->imageURL(name); });
    QCOMPARE(failure, accepted ? QString() : QStringLiteral("Ungültiger Bilddateiname."));
    QCOMPARE(path, accepted ? f.store->imagesDirectory() + u'/' + name : QString());
    // What the store shows, the export takes.
    SnipCollection collection;
    collection.items = {Snip::make(name)};
    if (accepted)
        QVERIFY(writeFile(path, encoded(filled(4, 3))));
    const QString exported = failureOf(
        [&] { ExportJob::prepareSnip(collection, 0, f.store->imagesDirectory(), ExportFormat::Docx); });
    QCOMPARE(exported, accepted ? QString() : QStringLiteral("Ungültiger Bildpfad."));
}

void TestLibrary::cacheEviction() {
    QImage tile(10, 10, QImage::Format_ARGB32); // 400 bytes
    tile.fill(Qt::red);
    ImageCache cache(3, 1000);
    cache.insert(QStringLiteral("a"), tile);
    cache.insert(QStringLiteral("b"), tile);
    QVERIFY(!cache.find(QStringLiteral("a")).isNull()); // a is now the most recent
    cache.insert(QStringLiteral("c"), tile);            // 1200 bytes: b goes
    QVERIFY(cache.contains(QStringLiteral("a")) && !cache.contains(QStringLiteral("b")));
    cache.insert(QStringLiteral("huge"), tile.scaled(20, 20)); // larger than the whole cache
    QVERIFY(!cache.contains(QStringLiteral("huge")));
    QCOMPARE(cache.totalBytes(), 800);

    ImageCache counted(2, 1'000'000);
    for (const char *name : {"x", "y", "z"})
        counted.insert(QString::fromLatin1(name), tile);
    QVERIFY(!counted.contains(QStringLiteral("x")) && counted.count() == 2);

    // The store serves a decoded image from its cache after the file is gone.
    StoreFixture f;
    const Snip snip = Snip::make(QStringLiteral("bild.png"));
    QVERIFY(writeFile(f.store->imageURL(snip.imageFile), encoded(filled(7, 5))));
    QCOMPARE(f.store->image(snip).size(), QSize(7, 5));
    QVERIFY(QFile::remove(f.store->imageURL(snip.imageFile)));
    QCOMPARE(f.store->image(snip).size(), QSize(7, 5));
}

// Requests for one image that come while it is decoded share the decode; a receiver that is gone
// gets nothing.
void TestLibrary::requestImage() {
    StoreFixture f;
    const Snip snip = Snip::make(QStringLiteral("bild.png"));
    QVERIFY(writeFile(f.store->imageURL(snip.imageFile), encoded(filled(9, 4))));
    QList<QImage> received;
    QObject first, second;
    auto *gone = new QObject;
    for (QObject *receiver : {&first, gone, &second})
        f.store->requestImage(snip, receiver, [&](const QImage &image) { received.append(image); });
    delete gone;
    QVERIFY(received.isEmpty()); // never inside the call
    QTRY_COMPARE(received.size(), 2);
    QCOMPARE(received[0].size(), QSize(9, 4));
    QCOMPARE(received[0].cacheKey(), received[1].cacheKey()); // one decode
    f.store->requestImage(snip, &first, [&](const QImage &image) { received.append(image); });
    QCOMPARE(received.size(), 3); // from the cache at once
    QCOMPARE(received[2].cacheKey(), received[0].cacheKey());
}

QTEST_GUILESS_MAIN(TestLibrary)
#include "tst_library.moc"
