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
const QString kNotAProject = QStringLiteral("Die Datei ist keine gültige Projektdatei.");

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
    void escapedSolidus();
    void imageFormats_data();
    void imageFormats();
    void sizeLimitOnOpen_data();
    void sizeLimitOnOpen();
    void onlyRegularFiles();
    void encodeMatchesTheRecordCoding();
    void encodeRefusesOversizedProjectsBeforeReading();
};

void TestProjectFile::escapedSolidus() {
    // Other JSON writers escape the solidus inside Base64 text.
    SnipCollection c;
    c.items = {snipWith(QStringLiteral("a/b.png"))};
    const QByteArray png = encodedImage(filledImage(3, 3));
    QByteArray document = projectJson(c, {{QStringLiteral("a/b.png"), png}});
    QVERIFY(png.toBase64().contains('/'));
    const ProjectFile::Contents plain = ProjectFile::decode(document);
    const ProjectFile::Contents escaped = ProjectFile::decode(document.replace("/", "\\/"));
    QCOMPARE(escaped.images.first().png, plain.images.first().png);
}

void TestProjectFile::imageFormats_data() {
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<bool>("accepted");
    const QImage image = filledImage(40, 30);
    QFile heic(QFINDTESTDATA("../../fuzz/corpus/images/gradient.heic"));
    if (heic.open(QIODevice::ReadOnly)) {
        QTest::newRow("HEIC") << heic.readAll() << true;
    }
    QTest::newRow("PNG") << encodedImage(image, "png") << true;
    QTest::newRow("JPEG") << encodedImage(image, "jpeg") << true;
    QTest::newRow("TIFF") << encodedImage(image, "tiff") << true;
    QTest::newRow("BMP") << encodedImage(image, "bmp") << false;
    QTest::newRow("GIF") << encodedImage(image, "gif") << false;
    QTest::newRow("XPM") << encodedImage(image, "xpm") << false;
    QTest::newRow("WebP") << encodedImage(image, "webp") << false;
    QTest::newRow("SVG") << QByteArray(R"(<svg xmlns="http://www.w3.org/2000/svg" width="10" height="10"/>)")
                         << false;
    QTest::newRow("PNG signature, JPEG body")
        << QByteArray("\x89PNG\r\n\x1a\n", 8) + encodedImage(image, "jpeg") << false;
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
    const QByteArray a = encodedImage(filledImage(40, 30));
    const QByteArray b = encodedImage(filledImage(7, 9));
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

QTEST_GUILESS_MAIN(TestProjectFile)
#include "tst_projectfile.moc"
