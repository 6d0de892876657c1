#include "ExportTestSupport.h"

#include "export/ExportJob.h"

#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

class TestExportJob : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init();
    void pdf();
    void docxIsReproducible();
    void failuresLeaveDestination_data();
    void failuresLeaveDestination();
    void cancelledWritesNothing();
    void unwritableDestination();

private:
    SnipCollection collection(int count);
    QString path(const QString &name) const { return m_dir->filePath(name); }
    QByteArray readAll(const QString &file) const;

    std::unique_ptr<QTemporaryDir> m_dir;
};

void TestExportJob::init() {
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(QDir(m_dir->path()).mkdir(QStringLiteral("Images")));
}

QByteArray TestExportJob::readAll(const QString &file) const {
    QFile f(file);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

SnipCollection TestExportJob::collection(int count) {
    SnipCollection c;
    c.title = QStringLiteral("Urlaubsantrag");
    c.mode = CollectionMode::Steps;
    c.createdAt = 800000000;
    for (int i = 0; i < count; ++i) {
        Snip snip = Snip::make(QStringLiteral("image%1.png").arg(i));
        snip.title = i == 0 ? QString() : QStringLiteral("Bild %1").arg(i);
        snip.note = i % 2 ? QStringLiteral("Notiz %1").arg(i) : QString();
        Mark arrow = Mark::make(MarkKind::Arrow, 0.1, 0.1, 0.5, 0.5);
        Mark blur = Mark::make(MarkKind::Blur, 0.6, 0.6, 0.9, 0.9);
        snip.marks = {arrow, blur, Mark::make(MarkKind::Redact, 0.2, 0.7, 0.3, 0.8)};
        sampleImage(300 + 10 * i, 200).save(path(QStringLiteral("Images/") + snip.imageFile));
        c.items.append(snip);
    }
    return c;
}

void TestExportJob::pdf() {
    const QString out = path(QStringLiteral("out.pdf"));
    ExportJob job(collection(5), ExportFormat::Pdf, out, path(QStringLiteral("Images")));
    const ExportJob::Outcome outcome = job.run();
    QVERIFY2(outcome.error.isEmpty(), qPrintable(outcome.error));
    QVERIFY(!outcome.cancelled);
    const ToolResult text = runTool(QStringLiteral("pdftotext"), {out, QStringLiteral("-")});
    if (!text.found)
        QSKIP("pdftotext is not installed");
    const QString plain = QString::fromUtf8(text.output);
    // Headings in the collection's order; an untitled first step is a generic step.
    const qsizetype first = plain.indexOf(QStringLiteral("1. Schritt"));
    const qsizetype last = plain.indexOf(QStringLiteral("5. Bild 4"));
    QVERIFY(first >= 0 && last > first);
    QVERIFY(plain.contains(QStringLiteral("Ablauf erklären · 5 Ausschnitte · ")));
    const ToolResult images = runTool(QStringLiteral("pdfimages"), {QStringLiteral("-list"), out});
    QCOMPARE(QString::fromUtf8(images.output)
                 .count(QRegularExpression(QStringLiteral("\\n\\s+\\d+\\s+\\d+\\s+image"))),
             5);
    QVERIFY(!images.output.contains("jpeg"));
    QCOMPARE(runTool(QStringLiteral("qpdf"), {QStringLiteral("--check"), out}).exitCode, 0);
}

void TestExportJob::docxIsReproducible() {
    const SnipCollection c = collection(7);
    ExportJob first(c, ExportFormat::Docx, path(QStringLiteral("a.docx")), path(QStringLiteral("Images")));
    ExportJob second(c, ExportFormat::Docx, path(QStringLiteral("b.docx")), path(QStringLiteral("Images")));
    QVERIFY(first.run().error.isEmpty());
    QVERIFY(second.run().error.isEmpty());
    const QByteArray a = readAll(path(QStringLiteral("a.docx")));
    QCOMPARE(readAll(path(QStringLiteral("b.docx"))), a);
    const auto entries = readZip(a);
    QVERIFY(entries);
    QCOMPARE(entries->size(), 7 + 5);
    for (int i = 0; i < 7; ++i) {
        QCOMPARE(entries->at(3 + i).name, QStringLiteral("word/media/image%1.png").arg(i + 1));
        QCOMPARE(QImage::fromData(entries->at(3 + i).data).width(), 300 + 10 * i);
    }
}

using Damage = std::function<void(SnipCollection &, const QString &imagesDirectory)>;
Q_DECLARE_METATYPE(Damage)

void TestExportJob::failuresLeaveDestination_data() {
    QTest::addColumn<Damage>("damage");
    QTest::addColumn<QString>("sentence");
    const QString badPath = QStringLiteral("Ungültiger Bildpfad.");
    for (const QString &name : {QStringLiteral("../image2.png"), QStringLiteral("sub/image2.png"),
                                QStringLiteral("image2.PNG"), QStringLiteral(""), QStringLiteral("a..png")})
        QTest::newRow(qPrintable(QStringLiteral("name ") + name))
            << Damage([name](SnipCollection &c, const QString &) { c.items[2].imageFile = name; }) << badPath;
    QTest::newRow("missing file") << Damage([](SnipCollection &c, const QString &directory) {
        QFile::remove(directory + QStringLiteral("/") + c.items[3].imageFile);
    }) << QStringLiteral("Ein Bild der Sammlung konnte nicht gelesen werden.");
    QTest::newRow("not an image") << Damage([](SnipCollection &c, const QString &directory) {
        QFile file(directory + QStringLiteral("/") + c.items[1].imageFile);
        file.open(QIODevice::WriteOnly);
        file.write("text");
    }) << QStringLiteral("Ein Ausschnitt enthält kein lesbares Bild.");
    QTest::newRow("invalid mark in the last snip")
        << Damage([](SnipCollection &c, const QString &) { c.items.last().marks[0].x1 = 2; })
        << QStringLiteral("Eine Markierung enthält ungültige Koordinaten.");
}

void TestExportJob::failuresLeaveDestination() {
    QFETCH(Damage, damage);
    QFETCH(QString, sentence);
    SnipCollection c = collection(5);
    damage(c, path(QStringLiteral("Images")));
    for (const ExportFormat format : {ExportFormat::Pdf, ExportFormat::Docx}) {
        const QString out = path(QStringLiteral("existing"));
        QFile file(out);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("previous export");
        file.close();
        ExportJob job(c, format, out, path(QStringLiteral("Images")));
        QCOMPARE(job.run().error, sentence);
        QCOMPARE(readAll(out), QByteArray("previous export"));
        QCOMPARE(QDir(m_dir->path()).entryList(QDir::Files), QStringList{QStringLiteral("existing")});
    }
}

void TestExportJob::cancelledWritesNothing() {
    ExportJob job(collection(3), ExportFormat::Pdf, path(QStringLiteral("c.pdf")),
                  path(QStringLiteral("Images")));
    job.cancel();
    const ExportJob::Outcome outcome = job.run();
    QVERIFY(outcome.cancelled);
    QVERIFY(outcome.error.isEmpty());
    QVERIFY(!QFile::exists(path(QStringLiteral("c.pdf"))));
}

void TestExportJob::unwritableDestination() {
    ExportJob job(collection(1), ExportFormat::Docx, path(QStringLiteral("missing/folder/x.docx")),
                  path(QStringLiteral("Images")));
    QCOMPARE(job.run().error, QStringLiteral("Die Exportdatei konnte nicht angelegt werden."));
}

QTEST_MAIN(TestExportJob)
#include "tst_exportjob.moc"
