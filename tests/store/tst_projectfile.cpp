#include "ExchangeFakes.h"

#include "model/AppFailure.h"
#include "model/JsonCoding.h"
#include "store/ProjectFile.h"

#include <QBuffer>
#include <QFile>
#include <QImage>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

namespace {
const QString kBroken = QStringLiteral("Ein Bild fehlt oder ist beschädigt.");
const QString kNotAProject = QStringLiteral("Die Datei ist keine gültige Projektdatei.");

QByteArray encoded(const QImage &image, const char *format) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, format);
    return bytes;
}

QImage sampleImage(int width = 40, int height = 30) {
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(Qt::darkCyan);
    image.setPixel(3, 4, qRgb(250, 10, 10));
    return image;
}

Snip snipWith(const QString &file, MarkList marks = {}) {
    Snip s = Snip::make(file);
    s.title = QStringLiteral("Schritt");
    s.marks = std::move(marks);
    return s;
}

QByteArray projectJson(const SnipCollection &collection, const QMap<QString, QByteArray> &images,
                       qint64 version = 1) {
    PortableCollection p;
    p.version = version;
    p.collection = collection;
    p.images = images;
    return *encodeJson(p);
}

QString failureOf(const std::function<void()> &call) {
    try {
        call();
    } catch (const AppFailure &f) {
        return f.errorDescription();
    }
    return {};
}

} // namespace

class TestProjectFile : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void refused_data();
    void refused();
    void opensWithNewIdsAndPngs();
    void imageFormats_data();
    void imageFormats();
    void sizeLimitOnOpen_data();
    void sizeLimitOnOpen();
    void onlyRegularFiles();
    void encodeMatchesTheRecordCoding();
    void encodeRefusesOversizedProjectsBeforeReading();
    void encodeReportsUnusableImages();
};

void TestProjectFile::refused_data() {
    QTest::addColumn<QByteArray>("document");
    QTest::addColumn<QString>("failure");

    const QByteArray png = encoded(sampleImage(), "png");
    SnipCollection c;
    c.items = {snipWith(QStringLiteral("a.png")), snipWith(QStringLiteral("b.png"))};
    const QMap<QString, QByteArray> images{{QStringLiteral("a.png"), png}, {QStringLiteral("b.png"), png}};
    const QByteArray valid = projectJson(c, images);

    QTest::newRow("not JSON") << QByteArray("{\"version\":1,") << kNotAProject;
    QTest::newRow("bad Base64") << QByteArray(valid).replace(png.toBase64(), "iVBOR!!!") << kNotAProject;
    QTest::newRow("bad Base64 in an unused entry")
        << projectJson(c, {{QStringLiteral("a.png"), png}, {QStringLiteral("b.png"), png}})
               .replace(R"("images":{)", R"("images":{"zzz.png":"@@",)")
        << kNotAProject;
    QTest::newRow("missing subtitle") << QByteArray(valid).replace(R"("subtitle":"",)", "") << kNotAProject;
    QTest::newRow("missing images") << QByteArray(valid).replace(R"("images":{)", R"("imagez":{)")
                                    << kNotAProject;
    QTest::newRow("version 2") << projectJson(c, images, 2) << QStringLiteral("Unbekannte Projektversion.");
    QTest::newRow("version 2 with a missing key")
        << projectJson(c, images, 2).replace(R"("note":"",)", "") << kNotAProject;
    QTest::newRow("image missing") << projectJson(c, {{QStringLiteral("a.png"), png}}) << kBroken;

    SnipCollection badMark = c;
    badMark.items.last().marks = {Mark::make(MarkKind::Arrow, 1.5, 0, 0.5, 0.5)};
    QTest::newRow("invalid mark in the last snip")
        << projectJson(badMark, images) << QStringLiteral("Die Datei enthält ungültige Markierungen.");

    const QByteArray svg = R"(<svg xmlns="http://www.w3.org/2000/svg" width="10" height="10"/>)";
    QTest::newRow("SVG as image") << projectJson(
                                         c, {{QStringLiteral("a.png"), svg}, {QStringLiteral("b.png"), png}})
                                  << kBroken;
    QTest::newRow("PNG declaring 25000 x 25000")
        << projectJson(
               c, {{QStringLiteral("a.png"), png}, {QStringLiteral("b.png"), pngDeclaring(25000, 25000)}})
        << kBroken;
    QTest::newRow("PNG declaring 20001 x 1")
        << projectJson(c, {{QStringLiteral("a.png"), png}, {QStringLiteral("b.png"), pngDeclaring(20001, 1)}})
        << kBroken;
    QTest::newRow("truncated PNG") << projectJson(c, {{QStringLiteral("a.png"), png.left(40)},
                                                      {QStringLiteral("b.png"), png}})
                                   << kBroken;
    QTest::newRow("empty image") << projectJson(
                                        c, {{QStringLiteral("a.png"), {}}, {QStringLiteral("b.png"), png}})
                                 << kBroken;
}

void TestProjectFile::refused() {
    QFETCH(QByteArray, document);
    QFETCH(QString, failure);
    QCOMPARE(failureOf([&] { ProjectFile::decode(document); }), failure);
}

void TestProjectFile::opensWithNewIdsAndPngs() {
    const QByteArray jpeg = encoded(sampleImage(64, 48), "jpeg");
    const QByteArray png = encoded(sampleImage(), "png");
    SnipCollection c;
    c.title = QStringLiteral("Anleitung");
    c.subtitle = QStringLiteral("Teil 2");
    c.mode = CollectionMode::Notes;
    c.createdAt = 12345.678;
    Mark mark = Mark::make(MarkKind::Rectangle, 0.1, 0.1, 0.4, 0.5);
    c.items = {snipWith(QStringLiteral("../../../tmp/x.png"), {mark}), snipWith(QStringLiteral("shared.png")),
               snipWith(QStringLiteral("shared.png"))};
    c.items[0].cloudLocalOnly = true;
    c.items[1].note = QStringLiteral("Notiz");

    const ProjectFile::Contents opened = ProjectFile::decode(
        projectJson(c, {{QStringLiteral("../../../tmp/x.png"), jpeg}, {QStringLiteral("shared.png"), png}}));

    const SnipCollection &o = opened.collection;
    QVERIFY(o.id != c.id);
    QCOMPARE(o.title, c.title);
    QCOMPARE(o.subtitle, c.subtitle);
    QCOMPARE(o.mode, c.mode);
    QCOMPARE(o.createdAt, c.createdAt);
    QCOMPARE(o.items.size(), 3);
    QCOMPARE(opened.images.size(), 3);
    QSet<QString> names;
    for (qsizetype i = 0; i < 3; ++i) {
        const Snip &in = c.items[i];
        const Snip &out = o.items[i];
        QVERIFY(out.id != in.id);
        QVERIFY(isNewImageName(out.imageFile));
        QCOMPARE(opened.images[i].fileName, out.imageFile);
        names.insert(out.imageFile);
        QCOMPARE(out.title, in.title);
        QCOMPARE(out.note, in.note);
        QCOMPARE(out.cloudLocalOnly, in.cloudLocalOnly);
        QCOMPARE(out.createdAt, in.createdAt);
        QCOMPARE(out.marks, in.marks); // mark ids stay
        QVERIFY(opened.images[i].png.startsWith("\x89PNG"));
    }
    QCOMPARE(names.size(), 3);
    QCOMPARE(opened.images[1].png, opened.images[2].png);

    QImage fromJpeg;
    QVERIFY(fromJpeg.loadFromData(opened.images[0].png, "png"));
    QCOMPARE(fromJpeg.size(), QSize(64, 48));

    // Other writers escape the solidus inside Base64 text.
    const QByteArray escaped =
        projectJson(c, {{QStringLiteral("../../../tmp/x.png"), jpeg}, {QStringLiteral("shared.png"), png}})
            .replace("/", "\\/");
    QCOMPARE(ProjectFile::decode(escaped).images[1].png, opened.images[1].png);
}

void TestProjectFile::imageFormats_data() {
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<bool>("accepted");
    const QImage image = sampleImage();
    QFile heic(QFINDTESTDATA("../../fuzz/corpus/images/gradient.heic"));
    if (heic.open(QIODevice::ReadOnly)) {
        QTest::newRow("HEIC") << heic.readAll() << true;
    }
    QTest::newRow("PNG") << encoded(image, "png") << true;
    QTest::newRow("JPEG") << encoded(image, "jpeg") << true;
    QTest::newRow("TIFF") << encoded(image, "tiff") << true;
    QTest::newRow("BMP") << encoded(image, "bmp") << false;
    QTest::newRow("GIF") << encoded(image, "gif") << false;
    QTest::newRow("XPM") << encoded(image, "xpm") << false;
    QTest::newRow("WebP") << encoded(image, "webp") << false;
    QTest::newRow("SVG") << QByteArray(R"(<svg xmlns="http://www.w3.org/2000/svg" width="10" height="10"/>)")
                         << false;
    QTest::newRow("PNG signature, JPEG body")
        << QByteArray("\x89PNG\r\n\x1a\n", 8) + encoded(image, "jpeg") << false;
}

void TestProjectFile::imageFormats() {
    QFETCH(QByteArray, bytes);
    QFETCH(bool, accepted);
    const QByteArray png = ProjectFile::reencodeAsPng(bytes);
    QCOMPARE(!png.isEmpty(), accepted);
    if (accepted) {
        QImage back;
        QVERIFY(back.loadFromData(png, "png"));
        QVERIFY(!back.size().isEmpty());
    }
}

void TestProjectFile::sizeLimitOnOpen_data() {
    QTest::addColumn<qint64>("size");
    QTest::addColumn<QString>("failure");
    // Sparse files of zero bytes: the largest allowed one is read and fails as JSON.
    QTest::newRow("199,999,999 bytes") << qint64(199'999'999) << kNotAProject;
    QTest::newRow("200,000,000 bytes")
        << qint64(200'000'000) << QStringLiteral("Die Projektdatei ist größer als 200 MB.");
}

void TestProjectFile::sizeLimitOnOpen() {
    QFETCH(qint64, size);
    QFETCH(QString, failure);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("gross.vellumbox"));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    QVERIFY(file.resize(size));
    file.close();
    QCOMPARE(failureOf([&] { ProjectFile::read(path); }), failure);
}

void TestProjectFile::onlyRegularFiles() {
    QTemporaryDir dir;
    const QString fifo = dir.filePath(QStringLiteral("pipe.vellumbox"));
    QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    const QString notRegular = QStringLiteral("Nur gewöhnliche Dateien können gelesen werden.");
    QCOMPARE(failureOf([&] { ProjectFile::read(fifo); }), notRegular);
    QCOMPARE(failureOf([&] { ProjectFile::read(dir.path()); }), notRegular);
    QCOMPARE(failureOf([&] { ProjectFile::read(QStringLiteral("/dev/zero")); }), notRegular);
    QCOMPARE(failureOf([&] { ProjectFile::read(dir.filePath(QStringLiteral("fehlt.vellumbox"))); }),
             QStringLiteral("Die Datei ist nicht vorhanden."));

    // A FIFO posing as a snip image must not block saving either.
    SnipCollection c;
    c.items = {snipWith(QStringLiteral("pipe.vellumbox"))};
    QCOMPARE(
        failureOf([&] { ProjectFile::encode(c, [&](const QString &name) { return dir.filePath(name); }); }),
        notRegular);
}

void TestProjectFile::encodeMatchesTheRecordCoding() {
    QTemporaryDir dir;
    const QByteArray a = encoded(sampleImage(), "png");
    const QByteArray b = encoded(sampleImage(7, 9), "png");
    for (const auto &[name, bytes] :
         {std::pair{QStringLiteral("B.png"), a}, std::pair{QStringLiteral("A\"q.png"), b}}) {
        QFile f(dir.filePath(name));
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(bytes);
    }
    SnipCollection c;
    c.title = QStringLiteral("Zürich / Genf");
    c.items = {snipWith(QStringLiteral("B.png")),
               snipWith(QStringLiteral("A\"q.png"), {Mark::make(MarkKind::Blur, 0, 0, 1, 1)}),
               snipWith(QStringLiteral("B.png"))};
    const QByteArray document =
        ProjectFile::encode(c, [&](const QString &name) { return dir.filePath(name); });
    QCOMPARE(document, projectJson(c, {{QStringLiteral("B.png"), a}, {QStringLiteral("A\"q.png"), b}}));

    SnipCollection empty;
    QCOMPARE(ProjectFile::encode(empty, [](const QString &) { return QString(); }), projectJson(empty, {}));
    QVERIFY(ProjectFile::decode(projectJson(empty, {})).collection.items.isEmpty());
}

void TestProjectFile::encodeRefusesOversizedProjectsBeforeReading() {
    // Two sparse 80 MB files: 214 MB of Base64 together. The sizes alone decide.
    QTemporaryDir dir;
    for (const QString &name : {QStringLiteral("1.png"), QStringLiteral("2.png")}) {
        QFile f(dir.filePath(name));
        QVERIFY(f.open(QIODevice::WriteOnly));
        QVERIFY(f.resize(80'000'000));
    }
    SnipCollection c;
    c.items = {snipWith(QStringLiteral("1.png")), snipWith(QStringLiteral("2.png"))};
    QCOMPARE(
        failureOf([&] { ProjectFile::encode(c, [&](const QString &name) { return dir.filePath(name); }); }),
        QStringLiteral("Das Projekt überschreitet 200 MB. Bitte teile es in kleinere Sammlungen auf."));
}

void TestProjectFile::encodeReportsUnusableImages() {
    QTemporaryDir dir;
    SnipCollection c;
    c.items = {snipWith(QStringLiteral("fehlt.png"))};
    QCOMPARE(
        failureOf([&] { ProjectFile::encode(c, [&](const QString &name) { return dir.filePath(name); }); }),
        QStringLiteral("Die Datei ist nicht vorhanden."));
    QCOMPARE(failureOf([&] {
                 ProjectFile::encode(c, [](const QString &) -> QString {
                     throw AppFailure(QStringLiteral("Ungültiger Bilddateiname."));
                 });
             }),
             QStringLiteral("Ungültiger Bilddateiname."));
}

QTEST_GUILESS_MAIN(TestProjectFile)
#include "tst_projectfile.moc"
