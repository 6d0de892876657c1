#include "StoreFixture.h"

#include "store/DurableFile.h"

#include <QSignalSpy>
#include <QTest>

#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {
const QString kNoSpace = u"Auf dem Datenträger ist nicht genug Platz."_s;
const QString kCannotWrite = u"Die Datei konnte nicht geschrieben werden."_s;
const QString kLeftover = u".library.json.vellumbox-partial-Ab12Cd34"_s;

// Every write fails with the errno until the guard goes.
struct FailingWrites {
    explicit FailingWrites(int error) { DurableFile::failWritesForTesting(error); }
    ~FailingWrites() { DurableFile::failWritesForTesting(0); }
    Q_DISABLE_COPY(FailingWrites)
};

QStringList namesIn(const QString &folder) {
    return QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::System, QDir::Name);
}
} // namespace

class TestDurableFile : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void replacesWholeAndKeepsPermissions() {
        QTemporaryDir dir;
        const QString path = dir.filePath(u"library.json"_s);
        QVERIFY(writeFile(path, "alt"));
        QVERIFY(QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner));
        QCOMPARE(FileErrors::writeAtomically(path, QByteArray(3'000'000, 'n')), QString());
        QCOMPARE(readFile(path), QByteArray(3'000'000, 'n'));
        struct stat info {};
        QCOMPARE(::stat(QFile::encodeName(path).constData(), &info), 0);
        QCOMPARE(info.st_mode & 0777, 0600u);
        QCOMPARE(namesIn(dir.path()), QStringList{u"library.json"_s});
    }

    // Writing through a link replaces the file the system resolves it to; the links stay as they
    // were, also when they only go round in a loop and nothing can be written.
    void writesThroughLinks_data() {
        QTest::addColumn<QString>("link");   // the link's own text, relative to its folder
        QTest::addColumn<QString>("target"); // the file that gets the bytes; empty: none
        QTest::addColumn<bool>("copy");
        QTest::newRow("beside it") << u"real.json"_s << u"lib/real.json"_s << false;
        QTest::newRow("into another folder") << u"../other/real.json"_s << u"other/real.json"_s << false;
        QTest::newRow("through a second link") << u"hop.json"_s << u"other/real.json"_s << false;
        QTest::newRow("copied through a link") << u"../other/real.json"_s << u"other/real.json"_s << true;
        // lib/sub leads to other/inner, whose parent is other, not lib.
        QTest::newRow("up from a linked folder") << u"sub/../real.json"_s << u"other/real.json"_s << false;
        QTest::newRow("a loop of links") << u"loop.json"_s << QString() << false;
        QTest::newRow("a loop of links, copied") << u"loop.json"_s << QString() << true;
    }
    void writesThroughLinks() {
        QFETCH(QString, link);
        QFETCH(QString, target);
        QFETCH(bool, copy);
        QTemporaryDir dir;
        QVERIFY(QDir(dir.path()).mkpath(u"lib"_s) && QDir(dir.path()).mkpath(u"other/inner"_s));
        QVERIFY(writeFile(dir.filePath(u"lib/real.json"_s), "alt") &&
                writeFile(dir.filePath(u"other/real.json"_s), "alt") &&
                writeFile(dir.filePath(u"source"_s), "neu"));
        QVERIFY(QFile::link(u"../other/real.json"_s, dir.filePath(u"lib/hop.json"_s)) &&
                QFile::link(u"../other/inner"_s, dir.filePath(u"lib/sub"_s)) &&
                QFile::link(u"library.json"_s, dir.filePath(u"lib/loop.json"_s)));
        const QString path = dir.filePath(u"lib/library.json"_s);
        QVERIFY(QFile::link(link, path));
        const QStringList before = namesIn(dir.filePath(u"lib"_s)) + namesIn(dir.filePath(u"other"_s));

        QCOMPARE(copy ? FileErrors::copyAtomically(dir.filePath(u"source"_s), path)
                      : FileErrors::writeAtomically(path, "neu"),
                 target.isEmpty() ? kCannotWrite : QString());
        for (const QString &file : {u"lib/real.json"_s, u"other/real.json"_s})
            QCOMPARE(readFile(dir.filePath(file)), file == target ? QByteArray("neu") : QByteArray("alt"));
        QVERIFY(QFileInfo(path).isSymLink());
        QCOMPARE(QFile::symLinkTarget(path), QFileInfo(dir.filePath(u"lib/"_s) + link).absoluteFilePath());
        for (const QString &other : {u"lib/hop.json"_s, u"lib/sub"_s, u"lib/loop.json"_s})
            QVERIFY(QFileInfo(dir.filePath(other)).isSymLink());
        QCOMPARE(namesIn(dir.filePath(u"lib"_s)) + namesIn(dir.filePath(u"other"_s)), before);
    }

    void temporaryIsHiddenAndOurs() {
        QTemporaryDir dir;
        const QString path = dir.filePath(u"out.pdf"_s);
        DurableFile file(path);
        QVERIFY(file.open());
        const QStringList names = namesIn(dir.path());
        QCOMPARE(names.size(), 1);
        QVERIFY2(names.first().startsWith(u".out.pdf."_s), qPrintable(names.first()));
        QVERIFY(DurableFile::isLeftover(names.first()));
        file.write("%PDF");
        file.discard();
        QVERIFY(namesIn(dir.path()).isEmpty());
    }

    // A full disk or quota names its cause; every other failure keeps the general sentence. The
    // old file stays and nothing is left beside it.
    // Sizes from 1 MiB on go to the disk at once rather than into the buffer, so their failure
    // comes before commit(), which must still refuse to put the file in place.
    void failedWrite_data() {
        QTest::addColumn<int>("error");
        QTest::addColumn<bool>("copy");
        QTest::addColumn<int>("size");
        QTest::addColumn<QString>("sentence");
        QTest::newRow("disk full") << ENOSPC << false << 3 << kNoSpace;
        QTest::newRow("quota used up") << EDQUOT << false << 3 << kNoSpace;
        QTest::newRow("disk full while copying") << ENOSPC << true << 100'000 << kNoSpace;
        QTest::newRow("input/output error") << EIO << false << 3 << kCannotWrite;
        QTest::newRow("file too large") << EFBIG << true << 100'000 << kCannotWrite;
        QTest::newRow("disk full, 1 MiB") << ENOSPC << false << (1 << 20) << kNoSpace;
        QTest::newRow("disk full, 1 MiB and a byte written at once")
            << ENOSPC << false << (1 << 20) + 1 << kNoSpace;
        QTest::newRow("input/output error, 3 MiB written at once")
            << EIO << false << 3'000'000 << kCannotWrite;
        QTest::newRow("disk full while copying 2 MiB") << ENOSPC << true << (2 << 20) << kNoSpace;
    }
    void failedWrite() {
        QFETCH(int, error);
        QFETCH(bool, copy);
        QFETCH(int, size);
        QFETCH(QString, sentence);
        QTemporaryDir dir, source;
        const QString path = dir.filePath(u"library.json"_s);
        QVERIFY(writeFile(path, "alt"));
        QVERIFY(writeFile(source.filePath(u"big"_s), QByteArray(size, 'x')));
        QString problem;
        {
            FailingWrites failing(error);
            problem = copy ? FileErrors::copyAtomically(source.filePath(u"big"_s), path)
                           : FileErrors::writeAtomically(path, QByteArray(size, 'n'));
        }
        QCOMPARE(problem, sentence);
        QCOMPARE(readFile(path), QByteArray("alt"));
        QCOMPARE(namesIn(dir.path()), QStringList{u"library.json"_s});
    }

    void cannotCreate_data() {
        QTest::addColumn<QString>("setup"); // "missing" folder, or a "folder" where the file goes
        QTest::addColumn<QString>("sentence");
        QTest::newRow("folder missing") << u"missing"_s << u"Der Ordner ist nicht vorhanden."_s;
        QTest::newRow("a folder in the way") << u"folder"_s << u"An der Stelle der Datei liegt ein Ordner."_s;
    }
    void cannotCreate() {
        QFETCH(QString, setup);
        QFETCH(QString, sentence);
        QTemporaryDir dir;
        QString path = dir.filePath(u"library.json"_s);
        if (setup == u"missing")
            path = dir.filePath(u"gone/library.json"_s);
        else
            QVERIFY(QDir(dir.path()).mkdir(u"library.json"_s));
        QCOMPARE(FileErrors::writeAtomically(path, "neu"), sentence);
    }

    // A write cut short by a kill leaves its temporary file: the next start removes it, and only
    // it. Files of the user that look alike stay.
    void leftoversGoAtLoad() {
        QTemporaryDir dir;
        QVERIFY(QDir(dir.path()).mkpath(u"Images"_s));
        const QStringList ours = {kLeftover, u"Images/.A.png.vellumbox-partial-0123zzZZ"_s};
        const QStringList theirs = {u"library.json.backup"_s,
                                    u"library.json.Ab12Cd"_s,
                                    u"library.json.vellumbox-partial-Ab12Cd34"_s,
                                    u".library.json.vellumbox-partial-kurz"_s,
                                    u".library.json.vellumbox-partial-Ab12Cd34.txt"_s,
                                    u"Images/.A.png.vellumbox-partial-0123zzZ!"_s};
        for (const QString &name : ours + theirs)
            QVERIFY(writeFile(dir.filePath(name), "x"));
        // A link with our name is not ours: neither it nor what it points to is touched.
        QVERIFY(writeFile(dir.filePath(u"target"_s), "kept"));
        QVERIFY(QFile::link(dir.filePath(u"target"_s), dir.filePath(u".x.vellumbox-partial-LinkLink"_s)));

        CollectionStore store(dir.path(), [] { return 1000.0; });
        for (const QString &name : ours)
            QVERIFY2(!QFileInfo::exists(dir.filePath(name)), qPrintable(name));
        for (const QString &name : theirs)
            QVERIFY2(QFileInfo::exists(dir.filePath(name)), qPrintable(name));
        QVERIFY(QFileInfo(dir.filePath(u".x.vellumbox-partial-LinkLink"_s)).isSymLink());
        QCOMPARE(readFile(dir.filePath(u"target"_s)), QByteArray("kept"));
    }

    // A full disk is named as such wherever the program writes a file the user asked for.
    void diskFullIsNamed_data() {
        QTest::addColumn<QString>("what");
        QTest::addColumn<QString>("error");
        QTest::newRow("autosave") << u"autosave"_s << u"Speichern fehlgeschlagen: "_s + kNoSpace;
        QTest::newRow("project file") << u"project"_s << kNoSpace;
        QTest::newRow("capture") << u"capture"_s << kNoSpace;
    }
    void diskFullIsNamed() {
        QFETCH(QString, what);
        QFETCH(QString, error);
        StoreFixture f;
        f.setUp({{u"A"_s, 0}});
        FailingWrites failing(ENOSPC);
        if (what == u"capture") {
            const CaptureTarget target{*f.id(u"A"_s), std::nullopt};
            const QString answer = StoreFixture::answerOf([&](QObject *receiver, StoreFixture::Done done) {
                f.store->addCapture(encoded(filled(40, 30)), target, receiver, done);
            });
            QCOMPARE(answer, error);
            QCOMPARE(f.images(), QStringList());
            return;
        }
        if (what == u"autosave") {
            f.store->editCurrent([](SnipCollection &c) { c.title = u"B"_s; });
            QTRY_COMPARE_WITH_TIMEOUT(f.store->saveState(), CollectionStore::SaveState::Failed, 10000);
        } else {
            f.store->saveProject();
            f.panels->saveAnswer(f.dir.filePath(u"p.vellumbox"_s));
            QVERIFY2(f.idle(), "the save did not end");
        }
        QCOMPARE(f.store->error(), error);
        QVERIFY(!QFileInfo::exists(f.dir.filePath(u"p.vellumbox"_s)));
    }
};

QTEST_GUILESS_MAIN(TestDurableFile)
#include "tst_durablefile.moc"
