#include "ExportTestSupport.h"

#include "export/Exporter.h"
#include "store/CollectionStore.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

class TestExporter : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup();
    void refusesSilently_data();
    void refusesSilently();
    void panelRequest_data();
    void panelRequest();
    void cancelledPanel();
    void success_data();
    void success();
    void failure();
    void noSecondExportWhileRunning();
    void shutdownWaits();

private:
    // A fake panel that remembers the request and answers later through answer().
    SavePanel panel() {
        return [this](const SavePanelRequest &request, std::function<void(const QString &)> done) {
            ++m_panelCount;
            m_request = request;
            m_done = std::move(done);
        };
    }
    void answer(const QString &path) { std::exchange(m_done, {})(path); }
    void addCollection(const QString &title, int snips, bool select = true);

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<CollectionStore> m_store;
    int m_panelCount = 0;
    SavePanelRequest m_request;
    std::function<void(const QString &)> m_done;
};

void TestExporter::init() {
    m_dir = std::make_unique<QTemporaryDir>();
    m_store = std::make_unique<CollectionStore>(m_dir->path(), [] { return 800000000.0; });
    QDir().mkpath(m_store->imagesDirectory());
    m_panelCount = 0;
    m_done = {};
}

void TestExporter::cleanup() {
    m_store.reset();
    m_dir.reset();
}

void TestExporter::addCollection(const QString &title, int snips, bool select) {
    SnipCollection c;
    c.title = title;
    for (int i = 0; i < snips; ++i) {
        Snip snip = Snip::make(QStringLiteral("%1-%2.png").arg(c.id.toString(QUuid::WithoutBraces)).arg(i));
        snip.marks = {Mark::make(MarkKind::Arrow, 0.1, 0.1, 0.9, 0.9)};
        sampleImage(200, 120).save(m_store->imagesDirectory() + u'/' + snip.imageFile);
        c.items.append(snip);
    }
    QList<SnipCollection> all = m_store->collections();
    all.append(c);
    m_store->setCollections(all);
    if (select)
        m_store->setSelectedID(c.id);
}

using Setup = std::function<void(CollectionStore &)>;
Q_DECLARE_METATYPE(Setup)

void TestExporter::refusesSilently_data() {
    QTest::addColumn<int>("snips");
    QTest::addColumn<bool>("select");
    QTest::addColumn<Setup>("setup");
    QTest::newRow("no current collection") << 2 << false << Setup([](CollectionStore &) {});
    QTest::newRow("selection names no collection")
        << 2 << false << Setup([](CollectionStore &s) { s.setSelectedID(QUuid::createUuid()); });
    QTest::newRow("empty collection") << 0 << true << Setup([](CollectionStore &) {});
    QTest::newRow("export running") << 2 << true << Setup([](CollectionStore &s) { s.setIsExporting(true); });
    QTest::newRow("capture running") << 2 << true
                                     << Setup([](CollectionStore &s) { s.setIsCapturing(true); });
}

void TestExporter::refusesSilently() {
    QFETCH(int, snips);
    QFETCH(bool, select);
    QFETCH(Setup, setup);
    addCollection(QStringLiteral("Sammlung A"), snips, select);
    setup(*m_store);
    const QString error = m_store->error();
    Exporter exporter(m_store.get(), panel());
    exporter.present(ExportFormat::Pdf);
    QCOMPARE(m_panelCount, 0);
    QCOMPARE(m_store->error(), error);
}

void TestExporter::panelRequest_data() {
    QTest::addColumn<QString>("title");
    QTest::addColumn<int>("format");
    QTest::addColumn<QString>("panelTitle");
    QTest::addColumn<QString>("fileName");
    QTest::newRow("pdf") << QStringLiteral("Reise/Plan?") << int(ExportFormat::Pdf)
                         << QStringLiteral("PDF exportieren") << QStringLiteral("Reise-Plan-.pdf");
    QTest::newRow("empty title") << QString() << int(ExportFormat::Pdf) << QStringLiteral("PDF exportieren")
                                 << QStringLiteral("Sammlung.pdf");
    QTest::newRow("word") << QStringLiteral("Ablauf") << int(ExportFormat::Docx)
                          << QStringLiteral("Word-Dokument exportieren") << QStringLiteral("Ablauf.docx");
}

void TestExporter::panelRequest() {
    QFETCH(QString, title);
    QFETCH(int, format);
    QFETCH(QString, panelTitle);
    QFETCH(QString, fileName);
    addCollection(title, 1);
    Exporter exporter(m_store.get(), panel());
    exporter.present(ExportFormat(format));
    QCOMPARE(m_panelCount, 1);
    QCOMPARE(m_request.title, panelTitle);
    QCOMPARE(m_request.fileName, fileName);
    QCOMPARE(m_request.suffix, ExportFormats::fileExtension(ExportFormat(format)));
    // While the panel is open a second request opens nothing.
    exporter.present(ExportFormat(format));
    QCOMPARE(m_panelCount, 1);
}

void TestExporter::cancelledPanel() {
    addCollection(QStringLiteral("A"), 1);
    Exporter exporter(m_store.get(), panel());
    exporter.present(ExportFormat::Pdf);
    answer(QString());
    QVERIFY(!m_store->isExporting());
    QVERIFY(!exporter.isRunning());
    exporter.present(ExportFormat::Pdf);
    QCOMPARE(m_panelCount, 2);
}

void TestExporter::success_data() {
    QTest::addColumn<int>("format");
    QTest::addColumn<QString>("status");
    QTest::newRow("pdf") << int(ExportFormat::Pdf) << QStringLiteral("PDF exportiert");
    QTest::newRow("docx") << int(ExportFormat::Docx) << QStringLiteral("DOCX exportiert");
}

void TestExporter::success() {
    QFETCH(int, format);
    QFETCH(QString, status);
    addCollection(QStringLiteral("A"), 3);
    m_store->setError(QStringLiteral("Ein früherer Fehler."));
    Exporter exporter(m_store.get(), panel());
    QSignalSpy finished(&exporter, &Exporter::finished);
    exporter.present(ExportFormat(format));
    const QString path =
        m_dir->filePath(QStringLiteral("out.") + ExportFormats::fileExtension(ExportFormat(format)));
    answer(path);
    QVERIFY(m_store->isExporting());
    QVERIFY(QFile::exists(m_store->libraryPath())); // saved before rendering
    QVERIFY(finished.wait(30000));
    QVERIFY(!m_store->isExporting());
    QCOMPARE(m_store->exportURL(), path);
    QCOMPARE(m_store->status(), status);
    QCOMPARE(m_store->error(), QStringLiteral("Ein früherer Fehler."));
    QVERIFY(QFileInfo(path).size() > 1000);
}

void TestExporter::failure() {
    addCollection(QStringLiteral("A"), 2);
    QList<SnipCollection> all = m_store->collections();
    all.last().items[1].imageFile = QStringLiteral("../outside.png");
    m_store->setCollections(all);
    m_store->setStatus(QStringLiteral("vorher"));
    Exporter exporter(m_store.get(), panel());
    QSignalSpy finished(&exporter, &Exporter::finished);
    exporter.present(ExportFormat::Docx);
    const QString path = m_dir->filePath(QStringLiteral("out.docx"));
    answer(path);
    QVERIFY(finished.wait(30000));
    QCOMPARE(m_store->error(), QStringLiteral("Export fehlgeschlagen: Ungültiger Bildpfad."));
    QCOMPARE(m_store->status(), QStringLiteral("vorher"));
    QVERIFY(m_store->exportURL().isEmpty());
    QVERIFY(!QFile::exists(path));
    QVERIFY(!m_store->isExporting());
}

void TestExporter::noSecondExportWhileRunning() {
    addCollection(QStringLiteral("A"), 4);
    Exporter exporter(m_store.get(), panel());
    QSignalSpy finished(&exporter, &Exporter::finished);
    exporter.present(ExportFormat::Pdf);
    answer(m_dir->filePath(QStringLiteral("a.pdf")));
    exporter.present(ExportFormat::Docx);
    QCOMPARE(m_panelCount, 1);
    QVERIFY(finished.wait(30000));
    QCOMPARE(finished.size(), 1);
}

void TestExporter::shutdownWaits() {
    addCollection(QStringLiteral("A"), 12);
    const QString path = m_dir->filePath(QStringLiteral("quit.pdf"));
    {
        Exporter exporter(m_store.get(), panel());
        QSignalSpy finished(&exporter, &Exporter::finished);
        exporter.present(ExportFormat::Pdf);
        answer(path);
        exporter.shutdown();
        QVERIFY(!exporter.isRunning());
        QVERIFY(!m_store->isExporting());
        QCOMPARE(finished.size(), 0);
    }
    // Either the export was stopped and left nothing, or it had already finished whole.
    if (QFile::exists(path))
        QCOMPARE(runTool(QStringLiteral("qpdf"), {QStringLiteral("--check"), path}).exitCode, 0);
    QCoreApplication::processEvents();
}

QTEST_MAIN(TestExporter)
#include "tst_exporter.moc"
