#include "ExportTestSupport.h"

#include "export/BlurRenderer.h"
#include "export/ImageRenderer.h"
#include "export/MarkRenderer.h"
#include "imaging/PngEncoder.h"
#include "model/AppFailure.h"

#include <QLineF>
#include <QPainter>
#include <QTest>

#include <cmath>
#include <vector>

class TestRender : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void probes_data();
    void probes();
    void blurMark();
    void blur_data();
    void blur();
    void numeralDigits_data();
    void numeralDigits();
    void flattenedSizes_data();
    void flattenedSizes();
};

namespace {
constexpr QSize kSize(1000, 500);
const QRgb kBlue = qRgb(20, 107, 245), kWhite = qRgb(255, 255, 255), kBlack = qRgb(0, 0, 0);

// `at` is `color` ± `tolerance`, or with `ink` at least that many pixels of the 61 × 61 square around it.
struct Probe {
    QPoint at;
    QRgb color;
    int tolerance;
    int ink = 0;
};

// The marks burnt into the image, read back from the PNG the documents embed.
QImage flattened(const MarkList &marks, const QImage &source) {
    return QImage::fromData(
        ImageRenderer::flatten(Imaging::encodePng(source, Imaging::PngEffort::Fast), marks).png, "PNG");
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

// Separable convolution with a sampled Gaussian in doubles, edges clamped: the reference.
std::vector<double> referenceBlur(const QImage &image, int channel, double sigma) {
    const int w = image.width(), h = image.height(), radius = int(std::ceil(4 * sigma));
    std::vector<double> kernel;
    double total = 0;
    for (int i = -radius; i <= radius; ++i)
        total += kernel.emplace_back(std::exp(-0.5 * i * i / (sigma * sigma)));
    std::vector<double> a(size_t(w) * h), b(a.size());
    for (int i = 0; i < w * h; ++i)
        a[i] = (image.pixel(i % w, i / w) >> (8 * channel)) & 0xFF;
    const auto pass = [&, k = kernel.data() + radius](const double *in, double *out, int dx, int dy) {
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                double s = 0;
                for (int i = -radius; i <= radius; ++i)
                    s += k[i] * in[std::clamp(y + i * dy, 0, h - 1) * w + std::clamp(x + i * dx, 0, w - 1)];
                out[y * w + x] = s / total;
            }
    };
    pass(a.data(), b.data(), 1, 0);
    pass(b.data(), a.data(), 0, 1);
    return a;
}
} // namespace

Q_DECLARE_METATYPE(QList<Probe>)

void TestRender::probes_data() {
    QTest::addColumn<MarkList>("marks");
    QTest::addColumn<QList<Probe>>("probes");
    // Default width on a 1000-pixel image: 4 px; head length 20 px at ±30°.
    QTest::newRow("arrow line and wing")
        << MarkList{mark(MarkKind::Arrow, 0.1, 0.5, 0.9, 0.5)}
        << QList<Probe>{{{500, 250}, kBlue, 3},  {{500, 244}, kWhite, 0}, {{884, 241}, kBlue, 40},
                        {{884, 259}, kBlue, 40}, {{870, 235}, kWhite, 0}, {{920, 250}, kWhite, 0}};
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
    QTest::newRow("highlight blends 30 % yellow")
        << MarkList{mark(MarkKind::Highlight, 0.2, 0.2, 0.4, 0.4)}
        << QList<Probe>{{{300, 150}, qRgb(255, 243, 178), 2}, {{199, 150}, kWhite, 1}};
    QTest::newRow("line, frame, filled ellipse, cloud")
        << MarkList{mark(MarkKind::Line, 0.05, 0.1, 0.95, 0.1), mark(MarkKind::Rectangle, 0.1, 0.3, 0.3, 0.9),
                    mark(MarkKind::FilledEllipse, 0.4, 0.3, 0.6, 0.9),
                    mark(MarkKind::Cloud, 0.7, 0.3, 0.9, 0.9)}
        << QList<Probe>{{{500, 50}, kBlue, 3},  {{100, 300}, kBlue, 3},  {{200, 300}, kWhite, 0},
                        {{500, 300}, kBlue, 3}, {{405, 155}, kWhite, 0}, {{708, 158}, kBlue, 40},
                        {{800, 300}, kWhite, 0}};
    // A disc of 100 px around (360, 350): a white numeral on a dark colour, a black one on a light colour.
    QTest::newRow("number on a dark disc")
        << MarkList{mark(MarkKind::Number, 0.3, 0.6, 0.42, 0.8)}
        << QList<Probe>{{{314, 350}, kBlue, 2}, {{309, 350}, kWhite, 0}, {{360, 350}, kWhite, 8, 60}};
    QTest::newRow("number on a light disc")
        << MarkList{mark(MarkKind::Number, 0.3, 0.6, 0.42, 0.8, MarkColor::Yellow)}
        << QList<Probe>{
               {{314, 350}, qRgb(255, 217, 0), 2}, {{309, 350}, kWhite, 0}, {{360, 350}, kBlack, 8, 60}};
    Mark text = mark(MarkKind::Text, 0.1, 0.1, 0.5, 0.3, MarkColor::Blue);
    text.text = QStringLiteral("██████");
    QTest::newRow("text box tint and text")
        << MarkList{text}
        << QList<Probe>{{{480, 140}, qRgb(189, 214, 252), 2}, {{130, 75}, qRgb(20, 20, 20), 30}};
}

void TestRender::probes() {
    QFETCH(MarkList, marks);
    QFETCH(QList<Probe>, probes);
    QImage white(kSize, QImage::Format_RGB32);
    white.fill(Qt::white);
    const QImage image = flattened(marks, white);
    for (const Probe &p : probes) {
        int inked = 0;
        for (int y = -30; p.ink && y <= 30; ++y)
            for (int x = -30; x <= 30; ++x)
                inked += near(image.pixel(p.at + QPoint(x, y)), p.color, p.tolerance) ? 1 : 0;
        const bool ok = p.ink ? inked >= p.ink : near(image.pixel(p.at), p.color, p.tolerance);
        QVERIFY2(ok,
                 qPrintable(
                     QStringLiteral("%1,%2: %3").arg(p.at.x()).arg(p.at.y()).arg(image.pixel(p.at), 0, 16)));
    }
}

void TestRender::blurMark() {
    const QImage source = sampleImage(kSize.width(), kSize.height());
    // The blur comes last in the list yet lies under the arrow that crosses it.
    Mark area = mark(MarkKind::Blur, 0.5, 0.1, 0.7, 0.4);
    area.blurRadius = 10;
    const MarkList marks = {mark(MarkKind::Arrow, 0.45, 0.25, 0.75, 0.25, MarkColor::Coral), area};
    const QImage image = flattened(marks, source);
    for (const QPoint p :
         {QPoint(499, 100), QPoint(701, 100), QPoint(600, 49), QPoint(600, 200), QPoint(0, 0)})
        QCOMPARE(image.pixel(p), source.pixel(p));
    QVERIFY(near(image.pixel(600, 125), qRgb(240, 64, 59), 3));
    // Inside, the pixels are those of the whole image blurred.
    const QImage whole = BlurRenderer::make(source, 10);
    for (int x = 500; x < 700; ++x)
        QCOMPARE(image.pixel(x, 180), whole.pixel(x, 180));
    QCOMPARE(BlurRenderer::sigmaFor(10, 4000), 40.0); // the radius counts thousandths of the image width
}

void TestRender::blur_data() {
    QTest::addColumn<double>("sigma");
    QTest::addColumn<QRect>("region");
    QTest::newRow("small, inside") << 2.0 << QRect(50, 30, 40, 20);
    QTest::newRow("medium, at the corner") << 7.5 << QRect(0, 0, 25, 25);
    QTest::newRow("wide, overhanging the far edge") << 25.0 << QRect(140, 70, 50, 50);
}

// The whole image against the reference; a region blurs exactly as the whole image does.
void TestRender::blur() {
    QFETCH(double, sigma);
    QFETCH(QRect, region);
    const QImage image = sampleImage(160, 90);
    const QImage blurred = BlurRenderer::blurRegion(image, image.rect(), sigma);
    QCOMPARE(BlurRenderer::blurRegion(image, region, sigma), blurred.copy(region & image.rect()));
    double sum = 0, worst = 0;
    for (int channel = 0; channel < 3; ++channel) {
        const std::vector<double> expected = referenceBlur(image, channel, sigma);
        for (int i = 0; i < 160 * 90; ++i) {
            const int actual = (blurred.pixel(i % 160, i / 160) >> (8 * channel)) & 0xFF;
            sum += std::abs(actual - expected[i]);
            worst = std::max(worst, std::abs(actual - expected[i]));
        }
    }
    const double mean = sum / (3 * 160 * 90);
    QVERIFY2(mean < 1.0 && worst < 6.0, qPrintable(QStringLiteral("mean %1, worst %2").arg(mean).arg(worst)));
}

namespace {
// The horizontal centres of the separate runs of white columns inside the disc of a number mark
// drawn large on white: one run per digit.
QList<double> digitCentres(int number) {
    QImage image(kSize, QImage::Format_RGB32);
    image.fill(Qt::white);
    Mark disc = mark(MarkKind::Number, 0.1, 0.1, 0.5, 0.9);
    disc.number = number;
    QPainter painter(&image);
    MarkRenderer::draw({disc}, painter, QSizeF(kSize));
    painter.end();
    // The disc: 400 px wide, centred at (300, 250); its rim stays out of the look.
    const QPointF centre(300, 250);
    const double inside = 190;
    QList<double> centres;
    int first = -1;
    for (int x = 0; x <= kSize.width(); ++x) {
        bool white = false;
        for (int y = 0; x < kSize.width() && y < kSize.height() && !white; ++y)
            white = QLineF(centre, QPointF(x, y)).length() < inside && qRed(image.pixel(x, y)) > 200;
        if (white && first < 0)
            first = x;
        if (!white && first >= 0) {
            centres.append((first + x - 1) / 2.0);
            first = -1;
        }
    }
    return centres;
}
} // namespace

void TestRender::numeralDigits_data() {
    QTest::addColumn<int>("narrow");
    QTest::addColumn<int>("wide");
    QTest::newRow("11 and 88") << 11 << 88;
    QTest::newRow("11 and 44") << 11 << 44;
    QTest::newRow("111 and 888") << 111 << 888;
}

// Every digit of a disc's number takes the same width, so numbers of as many digits line up.
void TestRender::numeralDigits() {
    QFETCH(int, narrow);
    QFETCH(int, wide);
    const QList<double> a = digitCentres(narrow);
    const QList<double> b = digitCentres(wide);
    const qsizetype digits = QString::number(narrow).size();
    QCOMPARE(a.size(), digits);
    QCOMPARE(b.size(), digits);
    const double spanA = a.last() - a.first(), spanB = b.last() - b.first();
    QVERIFY2(std::abs(spanA - spanB) <= 1.5,
             qPrintable(QStringLiteral("%1 against %2").arg(spanA).arg(spanB)));
}

void TestRender::flattenedSizes_data() {
    QTest::addColumn<QSize>("size");
    QTest::addColumn<bool>("flattens");
    QTest::newRow("30000 x 3333, 99990000 pixels") << QSize(30000, 3333) << true;
    QTest::newRow("3333 x 30000") << QSize(3333, 30000) << true;
    QTest::newRow("20001 x 1, beyond a snip's side") << QSize(20001, 1) << true;
    QTest::newRow("30000 x 3334, 100020000 pixels") << QSize(30000, 3334) << false;
    QTest::newRow("30001 x 1") << QSize(30001, 1) << false;
    QTest::newRow("1 x 30001") << QSize(1, 30001) << false;
}

// Each side from 1 to 30,000 pixels flattens, with at most 100,000,000 pixels in all.
void TestRender::flattenedSizes() {
    QFETCH(QSize, size);
    QFETCH(bool, flattens);
    // Two colours keep the source small; the flattened pixels are full RGB.
    QImage source(size, QImage::Format_Mono);
    source.setColorTable({kWhite, kBlack});
    source.fill(0);
    const QByteArray png = Imaging::encodePng(source, Imaging::PngEffort::Fast);
    source = QImage();
    QString failure;
    try {
        const QImage image =
            ImageRenderer::flattenImage(png, {mark(MarkKind::FilledRectangle, 0, 0, 1, 1, MarkColor::Green)});
        QCOMPARE(image.size(), size);
        QVERIFY(near(image.pixel(size.width() - 1, size.height() - 1), qRgb(20, 158, 87), 2));
    } catch (const AppFailure &error) {
        failure = error.errorDescription();
    }
    QCOMPARE(failure, flattens ? QString() : QStringLiteral("Das Bild ist für den Export zu groß."));
}

QTEST_MAIN(TestRender)
#include "tst_render.moc"
