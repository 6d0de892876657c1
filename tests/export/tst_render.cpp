#include "ExportTestSupport.h"

#include "export/BlurRenderer.h"
#include "export/ImageRenderer.h"
#include "export/MarkRenderer.h"
#include "export/ZipArchive.h"
#include "model/AppFailure.h"

#include <QBuffer>
#include <QTest>

class TestRender : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void probes_data();
    void probes();
    void numeralContrast_data();
    void numeralContrast();
    void blurStaysInside();
    void blurWithoutImageIsGrey();
    void drawKeepsPainterState();
    void flattenFailures_data();
    void flattenFailures();
    void flattenJpeg();
    void fittingFontSize();
    void fittingText();
};

namespace {
constexpr QSize kSize(1000, 500);

struct Probe {
    QPoint at;
    QRgb color;
    int tolerance;
};

QByteArray encode(const QImage &image, const char *format = "PNG") {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, format);
    return bytes;
}

QImage whiteImage() {
    QImage image(kSize, QImage::Format_RGB32);
    image.fill(Qt::white);
    return image;
}

QImage flattened(const QImage &source, const MarkList &marks) {
    const FlattenedImage result = ImageRenderer::flatten(encode(source), marks);
    [&] { QCOMPARE(QSize(result.width, result.height), source.size()); }();
    return QImage::fromData(result.png, "PNG");
}

Mark mark(MarkKind kind, double x1, double y1, double x2, double y2, std::optional<MarkColor> color = {}) {
    Mark m = Mark::make(kind, x1, y1, x2, y2);
    m.color = color;
    return m;
}

bool near(QRgb a, QRgb b, int tolerance) {
    return std::abs(qRed(a) - qRed(b)) <= tolerance && std::abs(qGreen(a) - qGreen(b)) <= tolerance &&
           std::abs(qBlue(a) - qBlue(b)) <= tolerance;
}

QString describe(QRgb c) {
    return QStringLiteral("(%1, %2, %3)").arg(qRed(c)).arg(qGreen(c)).arg(qBlue(c));
}

// A PNG whose header announces the given size; only its first bytes are ever read.
QByteArray pngAnnouncing(quint32 width, quint32 height) {
    QByteArray png = encode(whiteImage().copy(0, 0, 1, 1));
    qToBigEndian(width, png.data() + 16);
    qToBigEndian(height, png.data() + 20);
    qToBigEndian(ZipArchive::crc32(QByteArrayView(png.constData() + 12, 17)), png.data() + 29);
    return png;
}

const QRgb kBlue = qRgb(20, 107, 245);
const QRgb kWhite = qRgb(255, 255, 255);
const QRgb kBlack = qRgb(0, 0, 0);
} // namespace

Q_DECLARE_METATYPE(QList<Probe>)

void TestRender::probes_data() {
    QTest::addColumn<MarkList>("marks");
    QTest::addColumn<QList<Probe>>("probes");

    // Default width on a 1000-pixel image: 4 px; head length 20 px at ±30°.
    QTest::newRow("arrow line and wing")
        << MarkList{mark(MarkKind::Arrow, 0.1, 0.5, 0.9, 0.5)}
        << QList<Probe>{{{500, 250}, kBlue, 3},  {{500, 244}, kWhite, 0}, {{891, 245}, kBlue, 40},
                        {{891, 255}, kBlue, 40}, {{870, 235}, kWhite, 0}, {{920, 250}, kWhite, 0}};
    QTest::newRow("arrow with coinciding points still has its head")
        << MarkList{mark(MarkKind::Arrow, 0.5, 0.5, 0.5, 0.5)}
        << QList<Probe>{{{491, 245}, kBlue, 40}, {{491, 255}, kBlue, 40}};
    // x from 10.4 to 20.2 fills columns 10 to 20; y from 100 to 200 fills rows 100 to 199.
    QTest::newRow("redaction on whole pixels")
        << MarkList{mark(MarkKind::Redact, 0.0104, 0.2, 0.0202, 0.4)}
        << QList<Probe>{{{10, 150}, kBlack, 0}, {{20, 150}, kBlack, 0}, {{9, 150}, kWhite, 0},
                        {{21, 150}, kWhite, 0}, {{15, 100}, kBlack, 0}, {{15, 199}, kBlack, 0},
                        {{15, 99}, kWhite, 0},  {{15, 200}, kWhite, 0}};
    QTest::newRow("redaction on top although listed first")
        << MarkList{mark(MarkKind::Redact, 0.1, 0.1, 0.2, 0.2),
                    mark(MarkKind::FilledRectangle, 0.05, 0.05, 0.3, 0.3, MarkColor::Green)}
        << QList<Probe>{{{150, 75}, kBlack, 0}, {{60, 30}, qRgb(20, 158, 87), 2}};
    // 30 % yellow over white.
    QTest::newRow("highlight blends")
        << MarkList{mark(MarkKind::Highlight, 0.2, 0.2, 0.4, 0.4)}
        << QList<Probe>{{{300, 150}, qRgb(255, 243, 178), 2}, {{199, 150}, kWhite, 1}};
    QTest::newRow("filled ellipse, no outline")
        << MarkList{mark(MarkKind::FilledEllipse, 0.2, 0.2, 0.4, 0.6, MarkColor::Coral)}
        << QList<Probe>{{{300, 200}, qRgb(240, 64, 59), 2}, {{205, 105}, kWhite, 0}};
    QTest::newRow("frame is an outline")
        << MarkList{mark(MarkKind::Rectangle, 0.2, 0.2, 0.4, 0.6, MarkColor::Black)}
        << QList<Probe>{{{200, 200}, qRgb(20, 26, 36), 3}, {{300, 200}, kWhite, 0}};
    QTest::newRow("cloud outline") << MarkList{mark(MarkKind::Cloud, 0.2, 0.2, 0.6, 0.6)}
                                   << QList<Probe>{{{400, 200}, kWhite, 0}};
    QTest::newRow("text box tint and dark text") << MarkList{[] {
        Mark m = mark(MarkKind::Text, 0.1, 0.1, 0.5, 0.3, MarkColor::Blue);
        m.text = QStringLiteral("██████");
        return m;
    }()} << QList<Probe>{{{480, 140}, qRgb(189, 214, 252), 2}, {{130, 75}, qRgb(20, 20, 20), 30}};
    QTest::newRow("text box without colour") << MarkList{mark(MarkKind::Text, 0.1, 0.1, 0.5, 0.3)}
                                             << QList<Probe>{{{300, 100}, qRgb(255, 240, 168), 2}};
    QTest::newRow("callout pointer below the box") << MarkList{[] {
        Mark m = mark(MarkKind::Callout, 0.1, 0.1, 0.3, 0.3);
        m.tipX = 0.2;
        m.tipY = 0.8;
        return m;
    }()} << QList<Probe>{{{200, 300}, qRgb(255, 217, 0), 3}, {{200, 40}, kWhite, 0}};
    QTest::newRow("invalid mark skipped, later marks drawn")
        << MarkList{[] {
                        Mark m = mark(MarkKind::FilledRectangle, 0.1, 0.1, 0.2, 0.2);
                        m.strokeWidth = 13;
                        return m;
                    }(),
                    mark(MarkKind::Line, 0.0, 0.5, 1.0, 0.5)}
        << QList<Probe>{{{150, 75}, kWhite, 0}, {{700, 250}, kBlue, 3}};
}

void TestRender::probes() {
    QFETCH(MarkList, marks);
    QFETCH(QList<Probe>, probes);
    const bool valid = std::all_of(marks.begin(), marks.end(), [](const Mark &m) { return m.isValid(); });
    QImage image = whiteImage();
    if (valid) {
        image = flattened(image, marks);
    } else {
        QPainter painter(&image);
        MarkRenderer::draw(marks, painter, QSizeF(kSize));
    }
    for (const Probe &probe : probes) {
        const QRgb actual = image.pixel(probe.at);
        QVERIFY2(near(actual, probe.color, probe.tolerance),
                 qPrintable(QStringLiteral("at %1,%2: %3, expected %4")
                                .arg(probe.at.x())
                                .arg(probe.at.y())
                                .arg(describe(actual), describe(probe.color))));
    }
}

void TestRender::numeralContrast_data() {
    QTest::addColumn<int>("color");
    QTest::addColumn<qint64>("number");
    QTest::addColumn<QRgb>("disc");
    QTest::addColumn<QRgb>("numeral");
    QTest::newRow("blue") << int(MarkColor::Blue) << qint64(7) << kBlue << kWhite;
    QTest::newRow("purple, three digits")
        << int(MarkColor::Purple) << qint64(100) << qRgb(148, 71, 214) << kWhite;
    QTest::newRow("yellow") << int(MarkColor::Yellow) << qint64(42) << qRgb(255, 217, 0) << kBlack;
    QTest::newRow("white") << int(MarkColor::White) << qint64(8) << kWhite << kBlack;
}

void TestRender::numeralContrast() {
    QFETCH(int, color);
    QFETCH(qint64, number);
    QFETCH(QRgb, disc);
    QFETCH(QRgb, numeral);
    QImage background(kSize, QImage::Format_RGB32);
    background.fill(qRgb(128, 128, 128));
    Mark m = mark(MarkKind::Number, 0.3, 0.6, 0.42, 0.8, MarkColor(color)); // disc of 100 px at (360, 350)
    m.number = number;
    const QImage image = flattened(background, {m});
    QVERIFY(near(image.pixel(314, 350), disc, 2));
    QVERIFY(near(image.pixel(309, 350), qRgb(128, 128, 128), 0));
    int numeralPixels = 0;
    for (int y = 320; y < 380; ++y)
        for (int x = 330; x < 390; ++x)
            numeralPixels += near(image.pixel(x, y), numeral, 8) ? 1 : 0;
    QVERIFY2(numeralPixels > 60, qPrintable(QString::number(numeralPixels)));
}

void TestRender::blurStaysInside() {
    const QImage source = sampleImage(kSize.width(), kSize.height());
    // The blur comes last in the list yet lies under the arrow that crosses it.
    Mark blur = mark(MarkKind::Blur, 0.5, 0.1, 0.7, 0.4);
    blur.blurRadius = 10;
    const MarkList marks = {mark(MarkKind::Arrow, 0.45, 0.25, 0.75, 0.25, MarkColor::Coral), blur};
    const QImage image = flattened(source, marks);
    for (const QPoint p :
         {QPoint(499, 100), QPoint(701, 100), QPoint(600, 49), QPoint(600, 200), QPoint(0, 0)})
        QCOMPARE(describe(image.pixel(p)), describe(source.pixel(p)));
    int changed = 0;
    for (int x = 500; x < 700; ++x)
        changed += image.pixel(x, 60) != source.pixel(x, 60) ? 1 : 0;
    QVERIFY(changed > 100);
    QVERIFY(near(image.pixel(600, 125), qRgb(240, 64, 59), 3));
    // Inside, the pixels are those of the whole image blurred.
    const QImage whole = BlurRenderer::make(source, 10);
    QVERIFY(near(image.pixel(520, 180), whole.pixel(520, 180), 0));
}

void TestRender::blurWithoutImageIsGrey() {
    QImage image = whiteImage();
    QPainter painter(&image);
    MarkRenderer::draw({mark(MarkKind::Blur, 0.1, 0.1, 0.2, 0.2)}, painter, QSizeF(kSize));
    painter.end();
    QVERIFY(near(image.pixel(150, 75), qRgb(191, 191, 191), 1));
}

void TestRender::drawKeepsPainterState() {
    QImage image = whiteImage();
    QPainter painter(&image);
    painter.translate(3, 4);
    painter.setPen(QPen(Qt::red, 3));
    const QTransform transform = painter.transform();
    MarkRenderer::draw({}, painter, QSizeF(kSize));
    Mark text = mark(MarkKind::Callout, 0.1, 0.1, 0.3, 0.3);
    text.text = QStringLiteral("Hallo");
    MarkRenderer::draw(
        {text, mark(MarkKind::Redact, 0.5, 0.5, 0.6, 0.6), mark(MarkKind::Blur, 0, 0, 0.1, 0.1)}, painter,
        QSizeF(kSize));
    QCOMPARE(painter.transform(), transform);
    QCOMPARE(painter.pen().color(), QColor(Qt::red));
    QVERIFY(!painter.hasClipping());
    QVERIFY(painter.testRenderHint(QPainter::Antialiasing) == false);
}

void TestRender::flattenFailures_data() {
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<MarkList>("marks");
    QTest::addColumn<QString>("sentence");
    const QString unreadable = QStringLiteral("Ein Ausschnitt enthält kein lesbares Bild.");
    const QString tooLarge = QStringLiteral("Das Bild ist für den Export zu groß.");
    const QByteArray png = encode(whiteImage());
    QTest::newRow("garbage") << QByteArray("not an image") << MarkList{} << unreadable;
    QTest::newRow("empty") << QByteArray() << MarkList{} << unreadable;
    QTest::newRow("svg") << QByteArray(
                                "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"10\" height=\"10\"/>")
                         << MarkList{} << unreadable;
    QTest::newRow("truncated png") << png.left(png.size() / 2) << MarkList{} << unreadable;
    QTest::newRow("edge beyond 30000") << pngAnnouncing(30001, 1) << MarkList{} << tooLarge;
    QTest::newRow("over 100 megapixels") << pngAnnouncing(30000, 3334) << MarkList{} << tooLarge;
    Mark invalid = mark(MarkKind::Line, 0, 0, 1.0000001, 1);
    QTest::newRow("one invalid mark") << png << MarkList{mark(MarkKind::Line, 0, 0, 1, 1), invalid}
                                      << QStringLiteral("Eine Markierung enthält ungültige Koordinaten.");
}

void TestRender::flattenFailures() {
    QFETCH(QByteArray, bytes);
    QFETCH(MarkList, marks);
    QFETCH(QString, sentence);
    try {
        ImageRenderer::flatten(bytes, marks);
        QFAIL("flattening succeeded");
    } catch (const AppFailure &failure) {
        QCOMPARE(failure.errorDescription(), sentence);
    }
}

void TestRender::flattenJpeg() {
    const QByteArray jpeg = encode(sampleImage(321, 123), "JPEG");
    const FlattenedImage result = ImageRenderer::flatten(jpeg, {});
    QCOMPARE(result.width, 321);
    QCOMPARE(result.height, 123);
    QVERIFY(result.png.startsWith("\x89PNG"));
}

void TestRender::fittingFontSize() {
    const double roomy = MarkRenderer::fittingFontSize(QStringLiteral("Kurz"), QSizeF(900, 300));
    QVERIFY(roomy > 27.9 && roomy < 28);
    const double tight = MarkRenderer::fittingFontSize(
        QStringLiteral("Ein ziemlich langer Text für ein kleines Feld"), QSizeF(120, 40));
    QVERIFY(tight < 12 && tight >= 0.1);
    QCOMPARE(MarkRenderer::fittingFontSize(QStringLiteral("x"), QSizeF(0, 0)), 0.1);
}

void TestRender::fittingText() {
    const QSizeF size(1000, 500);
    Mark box = mark(MarkKind::Text, 0.9, 0.9, 0.95, 0.95);
    QVERIFY(!MarkRenderer::fittingText(box, QStringLiteral("  \n "), size));
    const auto fitted = MarkRenderer::fittingText(box, QStringLiteral("  Hallo Welt \n"), size);
    QVERIFY(fitted);
    QCOMPARE(*fitted->text, QStringLiteral("Hallo Welt"));
    QCOMPARE(fitted->x1, 0.75); // widened to a quarter of the image, pushed inside
    QCOMPARE(fitted->x2, 1.0);
    QVERIFY(fitted->y2 <= 1.0 && fitted->y2 > fitted->y1);
    QVERIFY(fitted->isValid());
    // One line of 28 units plus padding: about 66 units of 1000 on a 1000 × 500 image.
    QVERIFY(fitted->y2 - fitted->y1 > 0.1 && fitted->y2 - fitted->y1 < 0.2);
    QVERIFY(!MarkRenderer::fittingText(box, QString(400, u'W'), QSizeF(4000, 100)));
    box.fixedTextBox = true;
    QCOMPARE(MarkRenderer::fittingText(box, QStringLiteral("x"), size)->x1, 0.9);
    QVERIFY(!MarkRenderer::fittingText(box, QStringLiteral("x"), QSizeF(10, 10)));
}

QTEST_MAIN(TestRender)
#include "tst_render.moc"
