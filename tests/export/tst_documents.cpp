#include "ExportTestSupport.h"

#include "export/DOCXExporter.h"
#include "export/ExportJob.h"
#include "export/ImageRenderer.h"
#include "export/PDFImages.h"
#include "model/AppFailure.h"

#include <QBuffer>
#include <QColorSpace>
#include <QDir>
#include <QPdfWriter>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <qpdf/QPDF.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>
#include <qpdf/QPDFPageObjectHelper.hh>

class TestDocuments : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void xmlEscaped_data();
    void xmlEscaped();
    void lineBreaks_data();
    void lineBreaks();
    void docx();
    void pdf();
    void images_data();
    void images();
    void placeholders_data();
    void placeholders();
    void colorSpaces_data();
    void colorSpaces();

private:
    QString exported(ExportFormat format, const QString &name) {
        return exported(m_collection, format, name);
    }
    QString exported(const SnipCollection &collection, ExportFormat format, const QString &name);

    QTemporaryDir m_dir;
    SnipCollection m_collection;
};

namespace {
// The output of a checker the scripts install; the test fails unless it runs and exits with 0.
QString runTool(const QString &program, const QStringList &arguments) {
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    const bool ok = process.waitForFinished(120000) && process.exitStatus() == QProcess::NormalExit &&
                    process.exitCode() == 0;
    const QString output = QString::fromUtf8(process.readAll());
    QTest::qVerify(ok, qPrintable(program), qPrintable(output + process.errorString()), __FILE__, __LINE__);
    return output;
}
} // namespace

void TestDocuments::initTestCase() {
    m_collection.title = QStringLiteral("Rechnung & \"Belege\" <2026>");
    m_collection.subtitle = QStringLiteral("Für die Buchhaltung");
    for (int i = 0; i < 3; ++i)
        m_collection.items.append(
            sampleSnip(m_dir.path(), QStringLiteral("image%1.png").arg(i), i == 2 ? 998 : 300));
    m_collection.items[1].title = QStringLiteral("Anmeldung");
    m_collection.items[1].note = QStringLiteral("Zeile 1\nZeile 2");
    m_collection.items[2].title = QStringLiteral("Ende");
    for (int i = 0; i < 1200; ++i) // a note longer than a page
        m_collection.items[2].note += QStringLiteral("Wort%1 ").arg(i);
}

QString TestDocuments::exported(const SnipCollection &collection, ExportFormat format, const QString &name) {
    const QString path = m_dir.filePath(name);
    const ExportJob::Outcome outcome = ExportJob(collection, format, path, m_dir.path()).run();
    QTest::qVerify(outcome.error.isEmpty() && !outcome.cancelled, "export", qPrintable(outcome.error),
                   __FILE__, __LINE__);
    return path;
}

void TestDocuments::xmlEscaped_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("escaped");
    QTest::newRow("markup, entity escaped once more")
        << QStringLiteral("a & 'b' \"c\" <d> &amp;")
        << QStringLiteral("a &amp; &apos;b&apos; &quot;c&quot; &lt;d&gt; &amp;amp;");
    QTest::newRow("forbidden characters dropped")
        << QStringLiteral("a\u0001b\u001Fc\uFFFEd\uFFFF") << QStringLiteral("abcd");
    QTest::newRow("tab, line breaks, emoji kept")
        << QStringLiteral("a\tb\nc\r😀") << QStringLiteral("a\tb\nc\r😀");
    QTest::newRow("unpaired surrogates dropped")
        << QStringView(u"\xD83Dx\xDE00\xDE00\xD83D").toString() << QStringLiteral("x");
}

void TestDocuments::xmlEscaped() {
    QFETCH(QString, text);
    QFETCH(QString, escaped);
    QCOMPARE(DOCXExporter::xmlEscaped(text), escaped);
}

void TestDocuments::lineBreaks_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QStringList>("lines");
    const QStringList two = {QStringLiteral("Anfang"), QStringLiteral("Ende")};
    QTest::newRow("line feed") << QStringLiteral("Anfang\nEnde") << two;
    QTest::newRow("CR LF is one break") << QStringLiteral("Anfang\r\nEnde") << two;
    QTest::newRow("carriage return") << QStringLiteral("Anfang\rEnde") << two;
    QTest::newRow("line separator") << QStringLiteral("Anfang\u2028Ende") << two;
    QTest::newRow("paragraph separator") << QStringLiteral("Anfang\u2029Ende") << two;
    QTest::newRow("vertical tab") << QStringLiteral("Anfang\vEnde") << two;
    QTest::newRow("other controls dropped")
        << QStringLiteral("An\u0001fang\u0007\nEnde\u0085Schluss")
        << QStringList{QStringLiteral("Anfang"), QStringLiteral("Ende"), QStringLiteral("Schluss")};
}

// Titles and notes break in the same places in both documents, and no control character reaches
// a page.
void TestDocuments::lineBreaks() {
    QFETCH(QString, text);
    QFETCH(QStringList, lines);
    QStringList runs;
    for (const QString &line : lines)
        runs << QStringLiteral("<w:r><w:t xml:space=\"preserve\">") + line + QStringLiteral("</w:t></w:r>");
    QCOMPARE(DOCXExporter::paragraph(text), QStringLiteral("<w:p>") +
                                                runs.join(QStringLiteral("<w:r><w:br/></w:r>")) +
                                                QStringLiteral("</w:p>"));

    SnipCollection collection;
    collection.title = text;
    collection.items = {m_collection.items[0]};
    collection.items[0].note = text;
    const QString path = exported(collection, ExportFormat::Pdf, QStringLiteral("breaks.pdf"));
    const QString extracted = runTool(QStringLiteral("pdftotext"), {path, QStringLiteral("-")});
    const QString block = lines.join(u'\n') + u'\n';
    QVERIFY2(extracted.startsWith(block), qPrintable(extracted));                // the title
    QVERIFY2(extracted.indexOf(block, block.size()) > 0, qPrintable(extracted)); // the note
    // The footer is one line, its breaks shown as spaces.
    QVERIFY2(extracted.contains(lines.join(u' ') + QStringLiteral(" · 1")), qPrintable(extracted));
}

void TestDocuments::docx() {
    const QString path = exported(ExportFormat::Docx, QStringLiteral("a.docx"));
    const QByteArray docx = readFile(path);
    QCOMPARE(readFile(exported(ExportFormat::Docx, QStringLiteral("b.docx"))), docx);
    runTool(QStringLiteral("unzip"), {QStringLiteral("-t"), path});
    const QStringList names =
        runTool(QStringLiteral("unzip"), {QStringLiteral("-Z1"), path}).split(u'\n', Qt::SkipEmptyParts);
    QCOMPARE(names, QStringList({"[Content_Types].xml", "_rels/.rels", "word/styles.xml",
                                 "word/media/image1.png", "word/media/image2.png", "word/media/image3.png",
                                 "word/document.xml", "word/_rels/document.xml.rels"}));
    // Every local and central header: version 2.0, no flag but UTF-8 names, method 0 (stored).
    QCOMPARE(docx.count(QByteArrayView("PK\x03\x04\x14\x00\x00\x08\x00\x00", 10)), 8);
    QCOMPARE(docx.count(QByteArrayView("PK\x01\x02\x14\x00\x14\x00\x00\x08\x00\x00", 12)), 8);

    const QString dir = m_dir.filePath(QStringLiteral("docx"));
    runTool(QStringLiteral("unzip"), {QStringLiteral("-q"), path, QStringLiteral("-d"), dir});
    QStringList parts = {QStringLiteral("--noout")};
    for (const QString &name : names)
        if (!name.endsWith(QStringLiteral(".png")))
            parts << dir + u'/' + name;
    runTool(QStringLiteral("xmllint"), parts);

    const QString document = QString::fromUtf8(readFile(dir + QStringLiteral("/word/document.xml")));
    for (const QString &expected :
         {QStringLiteral(">Rechnung &amp; &quot;Belege&quot; &lt;2026&gt;</w:t>"),
          QStringLiteral(">1. Schritt</w:t>"),
          QStringLiteral(">Zeile 1</w:t></w:r><w:r><w:br/></w:r><w:r><w:t xml:space=\"preserve\">Zeile 2<"),
          QStringLiteral("cx=\"6337300\" cy=\"1270000\"")}) // 998 × 200 px scaled to the text width
        QVERIFY2(document.contains(expected), qPrintable(expected));
    // Every image relationship names an entry of the package and is embedded once.
    static const QRegularExpression target(QStringLiteral("Id=\"(image\\d+)\"[^>]*Target=\"([^\"]+)\""));
    int images = 0;
    for (const auto &match : target.globalMatch(
             QString::fromUtf8(readFile(dir + QStringLiteral("/word/_rels/document.xml.rels"))))) {
        QVERIFY(names.contains(QStringLiteral("word/") + match.captured(2)));
        QCOMPARE(document.count(QStringLiteral("r:embed=\"") + match.captured(1) + u'"'), 1);
        ++images;
    }
    QCOMPARE(images, 3);
}

void TestDocuments::pdf() {
    const QString path = exported(ExportFormat::Pdf, QStringLiteral("out.pdf"));
    runTool(QStringLiteral("qpdf"), {QStringLiteral("--check"), path});

    const QString info = runTool(QStringLiteral("pdfinfo"), {path});
    for (const char *line : {"Page size:\\s+595 x 842 pts", "Title:\\s+Rechnung & \"Belege\" <2026>\n",
                             "Creator:\\s+Vellumbox\n"})
        QVERIFY2(info.contains(QRegularExpression(QString::fromUtf8(line))), qPrintable(info));

    // In reading order. Extraction loses the title's angle brackets (the font's contextual forms).
    const QString text = runTool(QStringLiteral("pdftotext"), {path, QStringLiteral("-")});
    qsizetype at = 0;
    for (const char *expected :
         {"Rechnung & \"Belege\"", "Ablauf erklären · 3 Ausschnitte · ", "Für die Buchhaltung", "1. Schritt",
          "2. Anmeldung", "Zeile 2", "3. Ende", "Wort0", "Wort1199"}) {
        at = text.indexOf(QString::fromUtf8(expected), at);
        QVERIFY2(at >= 0, qPrintable(QString::fromUtf8(expected) + QStringLiteral(" in order in ") + text));
    }
    // The long note runs onto further pages; the last one has its footer too.
    QVERIFY(text.contains(QRegularExpression(QStringLiteral("2026\\S?\\s+·\\s+[2-9]\\s*\\f$"))));

    const QString images = runTool(QStringLiteral("pdfimages"), {QStringLiteral("-list"), path});
    QCOMPARE(images.count(u'\n'), 2 + 3); // two header lines, one line per image
    QVERIFY2(!images.contains(QStringLiteral("jpeg")), qPrintable(images));
    QVERIFY(images.contains(QRegularExpression(QStringLiteral("\\b998\\s+200\\b"))));
}

namespace {
// Pixels whose alpha runs from 0 to 255 across the image, on a colour gradient.
QImage translucentImage(int width, int height, int lowestAlpha) {
    QImage image(width, height, QImage::Format_ARGB32);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            image.setPixel(x, y,
                           qRgba(x * 255 / width, y * 255 / height, 90,
                                 lowestAlpha + (255 - lowestAlpha) * x / std::max(1, width - 1)));
    return image;
}

// The flattened snip as straight ARGB, the way both documents should hold it.
QImage expectedPixels(const QImage &source, const MarkList &marks) {
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    source.save(&buffer, "PNG");
    return ImageRenderer::flattenImage(png, marks).convertToFormat(QImage::Format_ARGB32);
}

// Where `actual` differs from `expected` in colour (and, with `mask`, in alpha), or "".
QString difference(const QImage &expected, const QImage &color, const QImage &mask = {}) {
    if (color.size() != expected.size() || (!mask.isNull() && mask.size() != expected.size()))
        return QStringLiteral("size");
    for (int y = 0; y < expected.height(); ++y)
        for (int x = 0; x < expected.width(); ++x) {
            const QRgb e = expected.pixel(x, y);
            const QRgb c = color.pixel(x, y);
            const bool alpha = mask.isNull() ? qAlpha(c) == qAlpha(e) : qGray(mask.pixel(x, y)) == qAlpha(e);
            if ((c & 0xFFFFFF) != (e & 0xFFFFFF) || !alpha)
                return QStringLiteral("%1,%2: %3 for %4").arg(x).arg(y).arg(c, 0, 16).arg(e, 0, 16);
        }
    return {};
}

// Whether an image stream is stored losslessly in the form a viewer decodes fastest: Flate with
// a PNG predictor. "" when it is, else what it holds.
QString flateWithPredictor(QPDFObjectHandle image) {
    QPDFObjectHandle dict = image.getDict();
    QPDFObjectHandle filter = dict.getKey("/Filter");
    if (filter.isArray() && filter.getArrayNItems() == 1)
        filter = filter.getArrayItem(0);
    QPDFObjectHandle parameters = dict.getKey("/DecodeParms");
    if (parameters.isArray() && parameters.getArrayNItems() == 1)
        parameters = parameters.getArrayItem(0);
    const bool flate = filter.isName() && filter.getName() == "/FlateDecode";
    const bool predictor = parameters.isDictionary() && parameters.getKey("/Predictor").isInteger() &&
                           parameters.getKey("/Predictor").getIntValue() >= 10;
    if (flate && predictor)
        return {};
    return QString::fromStdString(dict.unparse());
}

// "" when every image XObject of the PDF is Flate with a PNG predictor and each placed image has
// a soft mask exactly when `mask`; else the first fault found.
QString imageStreams(const QString &path, bool mask) {
    QPDF pdf;
    try {
        pdf.processFile(QFile::encodeName(path).constData());
    } catch (const std::exception &error) {
        return QString::fromLocal8Bit(error.what());
    }
    int images = 0;
    for (QPDFObjectHandle object : pdf.getAllObjects()) {
        if (!object.isStreamOfType("/XObject", "/Image"))
            continue;
        ++images;
        if (const QString fault = flateWithPredictor(object); !fault.isEmpty())
            return QStringLiteral("image not Flate with a PNG predictor: ") + fault;
    }
    int placed = 0;
    for (QPDFPageObjectHelper page : QPDFPageDocumentHelper(pdf).getAllPages())
        for (auto [name, image] : page.getImages()) {
            ++placed;
            QPDFObjectHandle softMask = image.getDict().getKey("/SMask");
            if (softMask.isStream() != mask)
                return QStringLiteral("%1 soft mask on %2")
                    .arg(mask ? "no" : "a", QString::fromStdString(name));
        }
    // Nothing but the placed images and their masks.
    if (placed == 0 || images != placed * (mask ? 2 : 1))
        return QStringLiteral("%1 images, %2 placed").arg(images).arg(placed);
    return {};
}

// Where the first image of `pdf` (and its soft mask, with `mask`), as pdfimages extracts it next to
// `prefix`, differs from `expected`, or "".
QString pdfImageDifference(const QString &pdf, const QString &prefix, const QImage &expected, bool mask) {
    runTool(QStringLiteral("pdfimages"), {QStringLiteral("-png"), pdf, prefix});
    return difference(expected, QImage(prefix + QStringLiteral("-000.png")),
                      mask ? QImage(prefix + QStringLiteral("-001.png")) : QImage());
}

// The one image of a Word document, as stored in its package.
QImage docxImage(const QString &docx) {
    QProcess unzip;
    unzip.start(QStringLiteral("unzip"),
                {QStringLiteral("-p"), docx, QStringLiteral("word/media/image1.png")});
    if (!unzip.waitForFinished())
        return {};
    return QImage::fromData(unzip.readAllStandardOutput(), "PNG");
}
} // namespace

void TestDocuments::images_data() {
    QTest::addColumn<QImage>("source");
    QTest::addColumn<MarkList>("marks");
    QTest::addColumn<bool>("mask"); // the PDF carries a soft mask
    Mark blur = Mark::make(MarkKind::Blur, 0.1, 0.2, 0.6, 0.9);
    blur.blurRadius = 30;
    QTest::newRow("opaque, every kind of pixel work")
        << sampleImage(998, 200)
        << MarkList{Mark::make(MarkKind::Arrow, 0.1, 0.1, 0.8, 0.5), blur,
                    Mark::make(MarkKind::Highlight, 0.5, 0.1, 0.9, 0.3),
                    Mark::make(MarkKind::Redact, 0, 0, 0.05, 1)}
        << false;
    QTest::newRow("translucent, marks over clear pixels")
        << translucentImage(333, 77, 0)
        << MarkList{blur, Mark::make(MarkKind::Highlight, 0, 0, 0.3, 1),
                    Mark::make(MarkKind::Line, 0, 0.5, 1, 0.5)}
        << true;
    QTest::newRow("alpha channel, every pixel opaque") << translucentImage(64, 9, 255) << MarkList{} << false;
    QTest::newRow("one pixel") << translucentImage(1, 1, 128) << MarkList{} << true;
    QTest::newRow("taller than the page allows") << sampleImage(40, 1500) << MarkList{blur} << false;
}

// Each document holds the flattened snip at full size, losslessly, alpha included.
void TestDocuments::images() {
    QFETCH(QImage, source);
    QFETCH(MarkList, marks);
    QFETCH(bool, mask);
    const QImage expected = expectedPixels(source, marks);
    SnipCollection collection;
    Snip snip = Snip::make(QStringLiteral("pixels.png"));
    snip.marks = marks;
    QVERIFY(source.save(m_dir.filePath(snip.imageFile)));
    collection.items = {snip};

    const QString pdf = exported(collection, ExportFormat::Pdf, QStringLiteral("pixels.pdf"));
    runTool(QStringLiteral("qpdf"), {QStringLiteral("--check"), pdf});
    const QString streams = imageStreams(pdf, mask);
    QVERIFY2(streams.isEmpty(), qPrintable(streams));
    const QStringList listed =
        runTool(QStringLiteral("pdfimages"), {QStringLiteral("-list"), pdf}).split(u'\n', Qt::SkipEmptyParts);
    const QString size = QStringLiteral("\\s+%1\\s+%2\\s+").arg(expected.width()).arg(expected.height());
    QCOMPARE(listed.size(), 2 + (mask ? 2 : 1));
    QVERIFY2(listed[2].contains(QRegularExpression(QStringLiteral("image") + size +
                                                   QStringLiteral("rgb\\s+3\\s+8\\s+image"))),
             qPrintable(listed[2]));
    if (mask)
        QVERIFY2(listed[3].contains(QRegularExpression(QStringLiteral("smask") + size +
                                                       QStringLiteral("gray\\s+1\\s+8\\s+image"))),
                 qPrintable(listed[3]));
    const QString fromPdf =
        pdfImageDifference(pdf, m_dir.filePath(QStringLiteral("extracted")), expected, mask);
    QVERIFY2(fromPdf.isEmpty(), qPrintable(fromPdf));

    const QString docx = exported(collection, ExportFormat::Docx, QStringLiteral("pixels.docx"));
    const QString fromDocx = difference(expected, docxImage(docx));
    QVERIFY2(fromDocx.isEmpty(), qPrintable(fromDocx));
}

namespace {
// A one-page layout that draws the placeholders of `numbers` in turn; a number given twice in a row
// draws the very same placeholder image again.
QByteArray placeholderLayout(const QList<int> &numbers) {
    QBuffer layout;
    layout.open(QIODevice::WriteOnly);
    QPdfWriter writer(&layout);
    QPainter painter(&writer);
    painter.setRenderHint(QPainter::LosslessImageRendering);
    QImage last;
    int previous = -1;
    for (qsizetype i = 0; i < numbers.size(); ++i) {
        if (numbers[i] != previous)
            last = PDFImages::placeholder(numbers[i]);
        previous = numbers[i];
        painter.drawImage(QRectF(40, 40 + 60 * i, 100, 50), last);
    }
    painter.end();
    return layout.data();
}
} // namespace

void TestDocuments::placeholders_data() {
    QTest::addColumn<QList<int>>("drawn");
    QTest::addColumn<QString>("failure"); // empty: written with every image in place
    QTest::newRow("each once") << QList<int>{0, 1, 2} << QString();
    QTest::newRow("in another order") << QList<int>{2, 0, 1} << QString();
    QTest::newRow("one image drawn in two places") << QList<int>{0, 0, 1, 2} << QString();
    QTest::newRow("one missing") << QList<int>{0, 2} << QStringLiteral("PDF-Bild fehlt.");
    QTest::newRow("none") << QList<int>{} << QStringLiteral("PDF-Bild fehlt.");
    QTest::newRow("one twice") << QList<int>{0, 1, 2, 1}
                               << QStringLiteral("PDF konnte nicht erstellt werden.");
    QTest::newRow("one never added") << QList<int>{0, 1, 2, 3}
                                     << QStringLiteral("PDF konnte nicht erstellt werden.");
}

// The document is written only when every image set aside lands in exactly one image of the
// layout; otherwise nothing is written and the failure says so.
void TestDocuments::placeholders() {
    QFETCH(QList<int>, drawn);
    QFETCH(QString, failure);
    PDFImages images(m_dir.path());
    const QList<QSize> sizes = {{30, 20}, {7, 5}, {64, 9}};
    for (const QSize size : sizes)
        images.add(FlateImage::make(sampleImage(size.width(), size.height())));
    QBuffer out;
    out.open(QIODevice::WriteOnly);
    QString caught;
    try {
        images.write(placeholderLayout(drawn), &out);
    } catch (const AppFailure &error) {
        caught = error.errorDescription();
    }
    QCOMPARE(caught, failure);
    if (!failure.isEmpty()) {
        QVERIFY(out.data().isEmpty());
        return;
    }
    QPDF pdf;
    pdf.processMemoryFile("written", out.data().constData(), size_t(out.data().size()));
    QList<QSize> found;
    for (QPDFObjectHandle object : pdf.getAllObjects()) {
        if (object.isStreamOfType("/XObject", "/Image"))
            found.append(QSize(int(object.getDict().getKey("/Width").getIntValue()),
                               int(object.getDict().getKey("/Height").getIntValue())));
    }
    std::sort(found.begin(), found.end(), [](QSize a, QSize b) { return a.width() < b.width(); });
    QCOMPARE(found, (QList<QSize>{{7, 5}, {30, 20}, {64, 9}}));
}

void TestDocuments::colorSpaces_data() {
    QTest::addColumn<QColorSpace>("space");
    QTest::addColumn<bool>("translucent");
    QTest::newRow("Display P3") << QColorSpace(QColorSpace::DisplayP3) << false;
    QTest::newRow("Display P3, translucent") << QColorSpace(QColorSpace::DisplayP3) << true;
    QTest::newRow("Adobe RGB") << QColorSpace(QColorSpace::AdobeRgb) << false;
    QTest::newRow("linear sRGB") << QColorSpace(QColorSpace::SRgbLinear) << false;
    QTest::newRow("sRGB") << QColorSpace(QColorSpace::SRgb) << false;
    QTest::newRow("untagged") << QColorSpace() << false;
}

// Marks are sRGB colours and the PDF reads its pixels as sRGB: whatever the image's colour space,
// both documents hold the snip converted to sRGB with the marks drawn over it, pixel for pixel
// alike, and the Word document's image says so.
void TestDocuments::colorSpaces() {
    QFETCH(QColorSpace, space);
    QFETCH(bool, translucent);
    QImage source = translucent ? translucentImage(120, 60, 40) : sampleImage(120, 60);
    source.setColorSpace(space);
    const MarkList marks = {Mark::make(MarkKind::Highlight, 0.1, 0.1, 0.6, 0.9),
                            Mark::make(MarkKind::FilledRectangle, 0.7, 0.2, 0.9, 0.8)};
    const QImage expected =
        expectedPixels(space.isValid() ? source.convertedToColorSpace(QColorSpace::SRgb) : source, marks);
    SnipCollection collection;
    Snip snip = Snip::make(QStringLiteral("space.png"));
    snip.marks = marks;
    QVERIFY(source.save(m_dir.filePath(snip.imageFile)));
    collection.items = {snip};

    const QString pdf = exported(collection, ExportFormat::Pdf, QStringLiteral("space.pdf"));
    const QString fromPdf =
        pdfImageDifference(pdf, m_dir.filePath(QStringLiteral("space")), expected, translucent);
    QVERIFY2(fromPdf.isEmpty(), qPrintable(fromPdf));

    const QString docx = exported(collection, ExportFormat::Docx, QStringLiteral("space.docx"));
    const QImage fromDocx = docxImage(docx);
    const QString docxDifference = difference(expected, fromDocx);
    QVERIFY2(docxDifference.isEmpty(), qPrintable(docxDifference));
    QVERIFY(!fromDocx.colorSpace().isValid() || fromDocx.colorSpace() == QColorSpace(QColorSpace::SRgb));
}

QTEST_MAIN(TestDocuments)
#include "tst_documents.moc"
