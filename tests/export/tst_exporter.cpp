#include "ExportTestSupport.h"

#include "export/Exporter.h"
#include "store/CollectionStore.h"
#include "store/DurableFile.h"
#include "store/FilePanels.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

using Change = std::function<void(SnipCollection &, const QString &imagesDirectory)>;
Q_DECLARE_METATYPE(Change)

// The export flow through a fake save panel, down to the file the background job leaves.
class TestExporter : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init();
    void panel();
    void outcome_data();
    void outcome();
    void stopWhileRunning();
    void cancelBetweenSnips_data();
    void cancelBetweenSnips();
    void fileCannotGrow_data();
    void fileCannotGrow();
    void diskFull_data();
    void diskFull();

private:
    // Remembers the request; the test answers later through answer().
    struct FakePanels : FilePanels {
        TestExporter *test;
        explicit FakePanels(TestExporter *t) : test(t) {}
        void chooseSaveFile(const SaveRequest &request, SaveAnswer done) override {
            ++test->m_panelCount;
            test->m_request = request;
            test->m_done = std::move(done);
        }
        void chooseOpenFiles(const OpenRequest &, OpenAnswer) override {}
    };
    void answer(const QString &path) { std::exchange(m_done, {})(path); }
    // A file from an earlier export, which a failed or cancelled one must leave alone.
    QString previousExport() {
        const QString path = m_dir->filePath(QStringLiteral("existing"));
        return writeFile(path, "previous export") ? path : QString();
    }
    // The earlier export is as it was, and nothing else lies beside it.
    bool untouched(const QString &path) {
        return readFile(path) == "previous export" &&
               QDir(m_dir->path()).entryList(QDir::Files | QDir::Hidden) ==
                   QStringList{QStringLiteral("existing")};
    }
    void addCollection(int snips, const Change &change = {});

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<CollectionStore> m_store;
    int m_panelCount = 0;
    FilePanels::SaveRequest m_request;
    std::function<void(const QString &)> m_done;
};

void TestExporter::init() {
    m_store.reset();
    m_dir = std::make_unique<QTemporaryDir>();
    m_store = std::make_unique<CollectionStore>(m_dir->filePath(QStringLiteral("Library")),
                                                [] { return 800000000.0; });
    QVERIFY(QDir().mkpath(m_store->imagesDirectory()));
    m_store->setFilePanels(std::make_unique<FakePanels>(this));
    m_panelCount = 0;
}

void TestExporter::addCollection(int snips, const Change &change) {
    SnipCollection c;
    c.title = QStringLiteral("Reise/Plan?");
    for (int i = 0; i < snips; ++i)
        c.items.append(sampleSnip(m_store->imagesDirectory(), QStringLiteral("image%1.png").arg(i), 200));
    if (change)
        change(c, m_store->imagesDirectory());
    m_store->setCollections({c});
    m_store->setSelectedID(c.id);
}

void TestExporter::panel() {
    Exporter exporter(m_store.get());
    exporter.present(ExportFormat::Pdf); // no collection
    addCollection(0);
    exporter.present(ExportFormat::Pdf); // nothing in it
    addCollection(1);
    m_store->setIsCapturing(true);
    exporter.present(ExportFormat::Pdf);
    QCOMPARE(m_panelCount, 0);
    m_store->setIsCapturing(false);
    exporter.present(ExportFormat::Docx);
    exporter.present(ExportFormat::Pdf); // the panel is still open
    QCOMPARE(m_panelCount, 1);
    QCOMPARE(m_request.suggestedName, QStringLiteral("Reise-Plan-.docx"));
    answer(QString()); // cancelled: nothing runs, and the panel opens again
    QVERIFY(!m_store->isExporting() && !exporter.isRunning());
    exporter.present(ExportFormat::Pdf);
    QCOMPARE(m_panelCount, 2);
    QCOMPARE(m_request.suggestedName, QStringLiteral("Reise-Plan-.pdf"));
}

void TestExporter::outcome_data() {
    QTest::addColumn<int>("format");
    QTest::addColumn<Change>("change");
    QTest::addColumn<QString>("result"); // the status, or with a change the failure's sentence
    const int pdf = int(ExportFormat::Pdf), docx = int(ExportFormat::Docx);
    QTest::newRow("pdf") << pdf << Change() << QStringLiteral("PDF exportiert");
    QTest::newRow("docx") << docx << Change() << QStringLiteral("DOCX exportiert");
    for (const char *name : {"../image1.png", "Images/image1.png"})
        QTest::newRow(name) << pdf << Change([name](SnipCollection &c, const QString &) {
            c.items[1].imageFile = QString::fromUtf8(name);
        }) << QStringLiteral("Ungültiger Bildpfad.");
    QTest::newRow("missing file") << docx << Change([](SnipCollection &c, const QString &images) {
        QFile::remove(images + u'/' + c.items[3].imageFile);
    }) << QStringLiteral("Ein Bild der Sammlung konnte nicht gelesen werden.");
    QTest::newRow("named pipe, which must not block the export")
        << pdf << Change([](SnipCollection &c, const QString &images) {
               const QString path = images + u'/' + c.items[2].imageFile;
               QFile::remove(path);
               QVERIFY(::mkfifo(QFile::encodeName(path).constData(), 0600) == 0);
           })
        << QStringLiteral("Ein Bild der Sammlung konnte nicht gelesen werden.");
    QTest::newRow("not a raster image") << pdf << Change([](SnipCollection &c, const QString &images) {
        writeFile(images + u'/' + c.items[1].imageFile,
                  "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"9\" height=\"9\"/>");
    }) << QStringLiteral("Ein Ausschnitt enthält kein lesbares Bild.");
    QTest::newRow("wider than 30000 pixels") << docx << Change([](SnipCollection &c, const QString &images) {
        sampleImage(30001, 1).save(images + u'/' + c.items[2].imageFile);
    }) << QStringLiteral("Das Bild ist für den Export zu groß.");
    QTest::newRow("invalid mark in the last snip, after the document took the others")
        << pdf << Change([](SnipCollection &c, const QString &) { c.items.last().marks[0].x1 = 2; })
        << QStringLiteral("Eine Markierung enthält ungültige Koordinaten.");
}

// Either way the destination is replaced whole or not at all, and nothing else is left beside it.
void TestExporter::outcome() {
    QFETCH(int, format);
    QFETCH(Change, change);
    QFETCH(QString, result);
    addCollection(5, change);
    m_store->setStatus(QStringLiteral("vorher"));
    m_store->setError(QStringLiteral("Ein früherer Fehler."));
    const QString path = m_dir->filePath(QStringLiteral("existing"));
    QVERIFY(writeFile(path, "previous export"));
    Exporter exporter(m_store.get());
    QSignalSpy finished(&exporter, &Exporter::finished);
    exporter.present(ExportFormat(format));
    answer(path);
    // The save asked for at the start is written off the main thread, whatever the export does.
    QVERIFY(m_store->isExporting());
    m_store->finishPendingWork();
    QVERIFY(QFile::exists(m_store->libraryPath()));
    if (!finished.wait(30000)) {
        // A reader stuck on a named pipe gets its end of file, so the test fails instead of hanging.
        for (const QFileInfo &entry : QDir(m_store->imagesDirectory()).entryInfoList(QDir::System))
            ::close(::open(QFile::encodeName(entry.filePath()).constData(), O_WRONLY | O_NONBLOCK));
        QFAIL("the export did not finish");
    }
    QVERIFY(!m_store->isExporting());
    QCOMPARE(m_store->exportURL(), change ? QString() : path);
    QCOMPARE(m_store->status(), change ? QStringLiteral("vorher") : result);
    QCOMPARE(m_store->error(), change ? QStringLiteral("Export fehlgeschlagen: ") + result
                                      : QStringLiteral("Ein früherer Fehler."));
    QCOMPARE(readFile(path).size() > 1000, !change);
    QCOMPARE(QDir(m_dir->path()).entryList(QDir::Files | QDir::Hidden),
             QStringList{QStringLiteral("existing")});
}

void TestExporter::stopWhileRunning() {
    addCollection(12);
    const QString path = m_dir->filePath(QStringLiteral("quit.pdf"));
    Exporter exporter(m_store.get());
    QSignalSpy finished(&exporter, &Exporter::finished);
    exporter.present(ExportFormat::Pdf);
    answer(path);
    exporter.present(ExportFormat::Docx); // not while an export runs
    QCOMPARE(m_panelCount, 1);
    exporter.shutdown();
    QVERIFY(!exporter.isRunning() && !m_store->isExporting());
    QCOMPARE(finished.size(), 0);
    // Either the export was stopped and left nothing, or it had already finished whole.
    QVERIFY(!QFile::exists(path) || readFile(path).trimmed().endsWith("%%EOF"));
    // A job cancelled before it starts writes nothing either.
    ExportJob job(*m_store->current(), ExportFormat::Docx, path + u'x', m_store->imagesDirectory());
    job.cancel();
    const ExportJob::Outcome outcome = job.run();
    QVERIFY(outcome.cancelled && outcome.error.isEmpty() && !QFile::exists(path + u'x'));
}

void TestExporter::cancelBetweenSnips_data() {
    QTest::addColumn<int>("format");
    QTest::addColumn<int>("after"); // the snip after which the export is cancelled
    QTest::newRow("pdf, after the first snip") << int(ExportFormat::Pdf) << 0;
    QTest::newRow("pdf, after the last snip") << int(ExportFormat::Pdf) << 5;
    QTest::newRow("docx, half-way") << int(ExportFormat::Docx) << 2;
}

// A cancelled export leaves the destination as it was and nothing beside it.
void TestExporter::cancelBetweenSnips() {
    QFETCH(int, format);
    QFETCH(int, after);
    addCollection(6);
    const QString path = previousExport();
    ExportJob job(*m_store->current(), ExportFormat(format), path, m_store->imagesDirectory());
    QList<qsizetype> taken;
    job.setAfterSnip([&](qsizetype index) {
        taken.append(index);
        if (index == after)
            job.cancel();
    });
    const ExportJob::Outcome outcome = job.run();
    QVERIFY(outcome.cancelled && outcome.error.isEmpty());
    QCOMPARE(taken.size(), after + 1);
    QVERIFY(untouched(path));
}

void TestExporter::fileCannotGrow_data() {
    QTest::addColumn<int>("format");
    QTest::addColumn<int>("limit"); // bytes a file may grow to
    // The image streams of the PDF take about 20 kB, the whole document about 33 kB, the Word
    // package about 27 kB.
    QTest::newRow("pdf, not even the images fit") << int(ExportFormat::Pdf) << 4096;
    QTest::newRow("pdf, the images fit but not the document") << int(ExportFormat::Pdf) << 30000;
    QTest::newRow("docx, half the package fits") << int(ExportFormat::Docx) << 16384;
    // The last bytes still sit in the file's buffer when the export ends: only flushing them fails.
    QTest::newRow("docx, all but the end fits") << int(ExportFormat::Docx) << 26000;
}

// A disk that fills up during the export is a failure, never a short document reported as done.
void TestExporter::fileCannotGrow() {
    QFETCH(int, format);
    QFETCH(int, limit);
    addCollection(0, [](SnipCollection &c, const QString &images) {
        c.items.append(sampleSnip(images, QStringLiteral("wide.png"), 2000));
    });
    const QString path = previousExport();
    ExportJob job(*m_store->current(), ExportFormat(format), path, m_store->imagesDirectory());
    rlimit previous{};
    QVERIFY(::getrlimit(RLIMIT_FSIZE, &previous) == 0);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = previous;
    small.rlim_cur = rlim_t(limit);
    QVERIFY(::setrlimit(RLIMIT_FSIZE, &small) == 0);
    const ExportJob::Outcome outcome = job.run();
    ::setrlimit(RLIMIT_FSIZE, &previous);
    std::signal(SIGXFSZ, oldHandler);
    QVERIFY(!outcome.cancelled);
    QCOMPARE(outcome.error, QStringLiteral("Die Exportdatei konnte nicht geschrieben werden."));
    QVERIFY(untouched(path));
}

void TestExporter::diskFull_data() {
    QTest::addColumn<int>("format");
    QTest::addColumn<int>("error");
    QTest::addColumn<QString>("sentence");
    const QString noSpace = QStringLiteral("Auf dem Datenträger ist nicht genug Platz.");
    QTest::newRow("pdf, disk full") << int(ExportFormat::Pdf) << ENOSPC << noSpace;
    QTest::newRow("docx, quota used up") << int(ExportFormat::Docx) << EDQUOT << noSpace;
    QTest::newRow("pdf, input/output error")
        << int(ExportFormat::Pdf) << EIO
        << QStringLiteral("Die Exportdatei konnte nicht geschrieben werden.");
}

// A full disk is named as such; the destination stays as it was and nothing is left beside it.
void TestExporter::diskFull() {
    QFETCH(int, format);
    QFETCH(int, error);
    QFETCH(QString, sentence);
    addCollection(3);
    const QString path = previousExport();
    ExportJob job(*m_store->current(), ExportFormat(format), path, m_store->imagesDirectory());
    DurableFile::failWritesForTesting(error);
    const ExportJob::Outcome outcome = job.run();
    DurableFile::failWritesForTesting(0);
    QVERIFY(!outcome.cancelled);
    QCOMPARE(outcome.error, sentence);
    QVERIFY(untouched(path));
}

QTEST_MAIN(TestExporter)
#include "tst_exporter.moc"
