#include "ExportTestSupport.h"

#include "export/DOCXExporter.h"
#include "export/ExportRecords.h"
#include "export/PDFExporter.h"
#include "export/ZipArchive.h"
#include "model/AppFailure.h"

#include <QBuffer>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

class TestDocuments : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void formats_data();
    void formats();
    void crc_data();
    void crc();
    void zipLayout();
    void zipLimits();
    void zipStreamsEntries();
    void xmlEscaped_data();
    void xmlEscaped();
    void paragraphs_data();
    void paragraphs();
    void docxPackage();
    void pdfDocument();
    void pdfLongNoteContinues();

private:
    QTemporaryDir m_dir;
    bool m_keep = [this] {
        m_dir.setAutoRemove(qEnvironmentVariableIsEmpty("KEEP"));
        return true;
    }();
};

namespace {
SnipCollection sampleCollection() {
    SnipCollection c;
    c.title = QStringLiteral("Rechnung & \"Belege\" <2026>");
    c.subtitle = QStringLiteral("Für die Buchhaltung");
    c.mode = CollectionMode::Steps;
    c.createdAt = 818000000; // 2026-12-03 UTC
    return c;
}

ExportSnip pngItem(const QString &title, const QString &note, int w, int h) {
    ExportSnip item;
    item.title = title;
    item.note = note;
    const QImage image = sampleImage(w, h);
    QBuffer buffer(&item.png);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    item.width = w;
    item.height = h;
    return item;
}
} // namespace

void TestDocuments::formats_data() {
    QTest::addColumn<QString>("raw");
    QTest::addColumn<int>("format"); // -1: none
    QTest::newRow("pdf") << "pdf" << int(ExportFormat::Pdf);
    QTest::newRow("docx") << "docx" << int(ExportFormat::Docx);
    QTest::newRow("upper case") << "PDF" << -1;
    QTest::newRow("with dot") << ".pdf" << -1;
    QTest::newRow("empty") << "" << -1;
}

void TestDocuments::formats() {
    QFETCH(QString, raw);
    QFETCH(int, format);
    const auto parsed = ExportFormats::fromRawValue(raw);
    QCOMPARE(parsed ? int(*parsed) : -1, format);
    if (parsed)
        QCOMPARE(ExportFormats::rawValue(*parsed), raw);
    QCOMPARE(ExportFormats::successStatus(ExportFormat::Docx), QStringLiteral("DOCX exportiert"));
    QCOMPARE(ExportFormats::successStatus(ExportFormat::Pdf), QStringLiteral("PDF exportiert"));
}

void TestDocuments::crc_data() {
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<quint32>("crc");
    QTest::newRow("empty") << QByteArray() << quint32(0);
    QTest::newRow("check value") << QByteArray("123456789") << quint32(0xCBF43926);
    QTest::newRow("one byte") << QByteArray("a") << quint32(0xE8B7BE43);
    QTest::newRow("long, unaligned tail")
        << QByteArray("The quick brown fox jumps over the lazy dog") << quint32(0x414FA339);
}

void TestDocuments::crc() {
    QFETCH(QByteArray, data);
    QFETCH(quint32, crc);
    QCOMPARE(ZipArchive::crc32(data), crc);
}

void TestDocuments::zipLayout() {
    const QByteArray empty = ZipArchive::make({});
    QCOMPARE(empty.size(), 22);
    QCOMPARE(le16(empty, 10), quint16(0));
    QCOMPARE(le32(empty, 12), quint32(0));
    QCOMPARE(le32(empty, 16), quint32(0));

    const QByteArray one = ZipArchive::make({{QStringLiteral("a"), QByteArray("xyz")}});
    QCOMPARE(one.size(), 103);
    QCOMPARE(le32(one, one.size() - 22 + 12), quint32(47)); // central directory size
    QCOMPARE(le32(one, one.size() - 22 + 16), quint32(34)); // its offset

    const QString name = QStringLiteral("Übersicht/straße.txt");
    const QByteArray zip = ZipArchive::make({{name, QByteArray()}, {QStringLiteral("b"), QByteArray("1")}});
    const auto entries = readZip(zip);
    QVERIFY(entries);
    QCOMPARE(entries->at(0).name, name);
    QCOMPARE(entries->at(0).flags, quint16(0x0800));
    QCOMPARE(le16(zip, 6), quint16(0x0800)); // local header too
    QCOMPARE(entries->at(0).crc, quint32(0));
    QCOMPARE(entries->at(0).size, quint32(0));
    QCOMPARE(entries->at(1).data, QByteArray("1"));
    QCOMPARE(ZipArchive::make({{name, QByteArray("x")}}), ZipArchive::make({{name, QByteArray("x")}}));

    const QString path = m_dir.filePath(QStringLiteral("layout.zip"));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(zip);
    file.close();
    const ToolResult test = runTool(QStringLiteral("unzip"), {QStringLiteral("-t"), path});
    if (!test.found)
        QSKIP("unzip is not installed");
    QVERIFY2(test.exitCode == 0, test.output.constData());
}

void TestDocuments::zipLimits() {
    QList<QPair<QString, QByteArray>> entries(ZipArchive::kMaxEntries, {QStringLiteral("e"), QByteArray()});
    const QByteArray full = ZipArchive::make(entries);
    QCOMPARE(le16(full, full.size() - 22 + 10), quint16(65534));
    entries.append({QStringLiteral("e"), QByteArray()});
    try {
        ZipArchive::make(entries);
        QFAIL("65535 entries were accepted");
    } catch (const AppFailure &failure) {
        QCOMPARE(failure.errorDescription(), QStringLiteral("Zu viele Dateien für den Export."));
    }
    try {
        ZipArchive::make({{QString(65535, u'n'), QByteArray()}});
        QFAIL("a name of 65535 bytes was accepted");
    } catch (const AppFailure &failure) {
        QCOMPARE(failure.errorDescription(),
                 QStringLiteral("Der Export überschreitet die ZIP-Größenbegrenzung."));
    }
    QCOMPARE(readZip(ZipArchive::make({{QString(65534, u'n'), QByteArray()}}))->at(0).name.size(), 65534);
}

// A device that refuses writes after a few bytes, like a full disk.
class ShortDevice : public QIODevice {
public:
    explicit ShortDevice(qint64 room) : m_room(room) { open(QIODevice::WriteOnly); }

protected:
    qint64 readData(char *, qint64) override { return -1; }
    qint64 writeData(const char *, qint64 length) override {
        if (length > m_room)
            return -1;
        m_room -= length;
        return length;
    }

private:
    qint64 m_room;
};

void TestDocuments::zipStreamsEntries() {
    ShortDevice device(100);
    ZipArchive zip(&device);
    zip.add(QStringLiteral("a"), QByteArray(10, 'x'));
    try {
        zip.add(QStringLiteral("b"), QByteArray(100, 'y'));
        QFAIL("a failed write was not reported");
    } catch (const AppFailure &failure) {
        QCOMPARE(failure.errorDescription(),
                 QStringLiteral("Die Exportdatei konnte nicht geschrieben werden."));
    }
}

void TestDocuments::xmlEscaped_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("escaped");
    QTest::newRow("markup") << QStringLiteral("a & 'b' \"c\" <d>")
                            << QStringLiteral("a &amp; &apos;b&apos; &quot;c&quot; &lt;d&gt;");
    QTest::newRow("entity stays escaped once") << QStringLiteral("&amp;") << QStringLiteral("&amp;amp;");
    QTest::newRow("controls dropped") << QStringLiteral("a\u0001b\uFFFFc\uFFFEd") << QStringLiteral("abcd");
    QTest::newRow("tab, newline, emoji kept") << QStringLiteral("a\tb\nc\r😀") << QStringLiteral("a\tb\nc\r😀");
    QTest::newRow("lone high surrogate")
        << QString(QChar(0xD83D)) + QStringLiteral("x") << QStringLiteral("x");
    QTest::newRow("lone low surrogate")
        << QStringLiteral("x") + QString(QChar(0xDE00)) << QStringLiteral("x");
    QTest::newRow("reversed pair") << QString(QChar(0xDE00)) + QString(QChar(0xD83D)) << QString();
}

void TestDocuments::xmlEscaped() {
    QFETCH(QString, text);
    QFETCH(QString, escaped);
    QCOMPARE(DOCXExporter::xmlEscaped(text), escaped);
}

void TestDocuments::paragraphs_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("runs");
    QTest::addColumn<int>("breaks");
    QTest::newRow("empty") << QString() << 1 << 0;
    QTest::newRow("line feed") << QStringLiteral("a\nb") << 2 << 1;
    QTest::newRow("carriage return and line feed") << QStringLiteral("a\r\nb") << 3 << 2;
    QTest::newRow("line separator") << QStringLiteral("a\u2028b\u0085c") << 3 << 2;
    QTest::newRow("trailing break") << QStringLiteral("a\n") << 2 << 1;
}

void TestDocuments::paragraphs() {
    QFETCH(QString, text);
    QFETCH(int, runs);
    QFETCH(int, breaks);
    const QString p = DOCXExporter::paragraph(text);
    QVERIFY(p.startsWith(QStringLiteral("<w:p><w:r>")));
    QCOMPARE(p.count(QStringLiteral("<w:t xml:space=\"preserve\">")), runs);
    QCOMPARE(p.count(QStringLiteral("<w:r><w:br/></w:r>")), breaks);
}

void TestDocuments::docxPackage() {
    SnipCollection collection = sampleCollection();
    collection.items.resize(3);
    const QList<ExportSnip> items = {
        pngItem(QStringLiteral("1. Anmelden"), QStringLiteral("Zeile 1\nZeile 2"), 40, 20),
        pngItem(QStringLiteral("2. Schritt"), QString(), 30, 30),
        pngItem(QStringLiteral("3. Ende"), QStringLiteral("x"), 998, 100)};
    const QByteArray docx = DOCXExporter::make(collection, items);
    QCOMPARE(DOCXExporter::make(collection, items), docx);

    const auto entries = readZip(docx);
    QVERIFY(entries);
    QStringList names;
    for (const ZipEntry &e : *entries) {
        names << e.name;
        QCOMPARE(e.method, quint16(0));
        QCOMPARE(e.flags, quint16(0x0800));
        QCOMPARE(ZipArchive::crc32(e.data), e.crc);
    }
    QCOMPARE(names, QStringList({"[Content_Types].xml", "_rels/.rels", "word/styles.xml",
                                 "word/media/image1.png", "word/media/image2.png", "word/media/image3.png",
                                 "word/document.xml", "word/_rels/document.xml.rels"}));
    QCOMPARE(entries->at(5).data, items[2].png);

    const QString document = QString::fromUtf8(entries->at(6).data);
    QVERIFY(document.contains(
        QStringLiteral("<w:pStyle w:val=\"Title\"/></w:pPr><w:r><w:t xml:space=\"preserve\">"
                       "Rechnung &amp; &quot;Belege&quot; &lt;2026&gt;</w:t>")));
    QVERIFY(document.contains(QStringLiteral("Ablauf erklären · 3 Ausschnitte · ")));
    QVERIFY(document.contains(QStringLiteral("Für die Buchhaltung")));
    QVERIFY(document.contains(QStringLiteral("cx=\"6337300\" cy=\"635000\"")));
    QVERIFY(
        document.contains(QStringLiteral("<wp:docPr id=\"3\" name=\"Ausschnitt 3\" descr=\"3. Ende\"/>")));
    // The second item has no note: heading and image paragraph only.
    const qsizetype second = document.indexOf(QStringLiteral("2. Schritt</w:t>"));
    const qsizetype third = document.indexOf(QStringLiteral("3. Ende</w:t>"));
    QCOMPARE(document.mid(second, third - second).count(QStringLiteral("<w:p>")), 2);

    // Every image relationship names an entry of the package.
    const QString rels = QString::fromUtf8(entries->at(7).data);
    static const QRegularExpression target(QStringLiteral("Id=\"(image\\d+)\"[^>]*Target=\"([^\"]+)\""));
    int images = 0;
    for (const auto &match : target.globalMatch(rels)) {
        QVERIFY(names.contains(QStringLiteral("word/") + match.captured(2)));
        QVERIFY(document.contains(QStringLiteral("r:embed=\"") + match.captured(1) + u'"'));
        ++images;
    }
    QCOMPARE(images, 3);

    const QString path = m_dir.filePath(QStringLiteral("sample.docx"));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(docx);
    file.close();
    const ToolResult unzip = runTool(QStringLiteral("unzip"), {QStringLiteral("-t"), path});
    if (!unzip.found)
        QSKIP("unzip is not installed");
    QVERIFY2(unzip.exitCode == 0, unzip.output.constData());
    for (const ZipEntry &e : *entries) {
        if (!e.name.endsWith(QStringLiteral(".xml")) && !e.name.endsWith(QStringLiteral(".rels")))
            continue;
        const QString part = m_dir.filePath(QStringLiteral("part.xml"));
        QFile out(part);
        QVERIFY(out.open(QIODevice::WriteOnly));
        out.write(e.data);
        out.close();
        const ToolResult lint = runTool(QStringLiteral("xmllint"), {QStringLiteral("--noout"), part});
        if (!lint.found)
            QSKIP("xmllint is not installed");
        QVERIFY2(lint.exitCode == 0, qPrintable(e.name + u' ' + QString::fromUtf8(lint.output)));
    }
}

void TestDocuments::pdfDocument() {
    SnipCollection collection = sampleCollection();
    collection.mode = CollectionMode::Notes;
    QList<ExportSnip> items = {
        pngItem(QStringLiteral("Anmeldung"), QStringLiteral("Notiz zum Bild"), 1000, 200),
        pngItem(QStringLiteral("Zweites Bild"), QString(), 200, 1000)};
    items[1].image = QImage::fromData(items[1].png);
    items[1].png.clear();
    const QString path = m_dir.filePath(QStringLiteral("sample.pdf"));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(PDFExporter::make(collection, items));
    file.close();

    const ToolResult check = runTool(QStringLiteral("qpdf"), {QStringLiteral("--check"), path});
    if (!check.found)
        QSKIP("qpdf is not installed");
    QVERIFY2(check.exitCode == 0, check.output.constData());

    const ToolResult info = runTool(QStringLiteral("pdfinfo"), {path});
    QVERIFY(info.found);
    const QString infoText = QString::fromUtf8(info.output);
    QVERIFY2(infoText.contains(QRegularExpression(QStringLiteral("Page size:\\s+595 x 842 pts"))),
             info.output);
    QVERIFY(infoText.contains(QRegularExpression(QStringLiteral("Title:\\s+Rechnung & \"Belege\" <2026>"))));
    QVERIFY(infoText.contains(QRegularExpression(QStringLiteral("Creator:\\s+Vellumbox"))));

    const ToolResult text = runTool(QStringLiteral("pdftotext"), {path, QStringLiteral("-")});
    const QString plain = QString::fromUtf8(text.output);
    // Text extraction loses the angle brackets (the font's contextual forms) and runs of spaces.
    for (const QString &expected :
         {QStringLiteral("Rechnung & \"Belege\""), QStringLiteral("Punkte sammeln · 2 Ausschnitte · "),
          QStringLiteral("Anmeldung"), QStringLiteral("Zweites Bild"), QStringLiteral("Notiz zum Bild"),
          QStringLiteral("Für die Buchhaltung")})
        QVERIFY2(plain.contains(expected), qPrintable(expected + QStringLiteral(" in ") + plain));
    QVERIFY(plain.contains(QRegularExpression(QStringLiteral("2026\\S?\\s+·\\s+1\\s*\\f"))));

    const ToolResult images = runTool(QStringLiteral("pdfimages"), {QStringLiteral("-list"), path});
    QCOMPARE(images.exitCode, 0);
    const QStringList lines = QString::fromUtf8(images.output).split(u'\n', Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), 2 + 2); // two header lines, two images
    QVERIFY2(!images.output.contains("jpeg"), images.output.constData());
    QVERIFY(lines[2].contains(QRegularExpression(QStringLiteral("\\b1000\\s+200\\b"))));
}

void TestDocuments::pdfLongNoteContinues() {
    SnipCollection collection = sampleCollection();
    collection.title = QString(70, u'T');
    QStringList words;
    for (int i = 0; i < 1200; ++i)
        words << QStringLiteral("Wort%1").arg(i);
    const QList<ExportSnip> items = {pngItem(QStringLiteral("Lang"), words.join(u' '), 400, 300)};
    const QString path = m_dir.filePath(QStringLiteral("long.pdf"));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(PDFExporter::make(collection, items));
    file.close();
    const ToolResult text = runTool(QStringLiteral("pdftotext"), {path, QStringLiteral("-")});
    if (!text.found)
        QSKIP("pdftotext is not installed");
    const QStringList pages = QString::fromUtf8(text.output).split(u'\f', Qt::SkipEmptyParts);
    QVERIFY(pages.size() >= 2);
    QVERIFY(pages.last().contains(QStringLiteral("Wort1199")));
    // The footer carries the first 65 characters of the title and the page number.
    QVERIFY(pages[1].contains(QRegularExpression(QStringLiteral("(^|[^T])T{65}\\s+·\\s+2"))));
    QVERIFY(!pages[1].contains(QString(66, u'T')));
}

QTEST_MAIN(TestDocuments)
#include "tst_documents.moc"
