#include "ExportTestSupport.h"

#include "export/BlurRenderer.h"

#include <QTest>

#include <cmath>
#include <vector>

class TestBlur : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void matchesGaussian_data();
    void matchesGaussian();
    void edgesClamped();
    void regionEqualsWhole_data();
    void regionEqualsWhole();
    void scalesWithWidth();
    void refusesNothing();
};

namespace {
// Separable convolution with a sampled Gaussian in doubles, edges clamped: the reference.
std::vector<double> referenceBlur(const QImage &image, int channel, double sigma) {
    const int w = image.width();
    const int h = image.height();
    const int radius = int(std::ceil(4 * sigma));
    std::vector<double> kernel(2 * radius + 1);
    double total = 0;
    for (int i = -radius; i <= radius; ++i)
        total += kernel[i + radius] = std::exp(-0.5 * i * i / (sigma * sigma));
    for (double &k : kernel)
        k /= total;
    std::vector<double> src(size_t(w) * h), tmp(size_t(w) * h), out(size_t(w) * h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            src[size_t(y) * w + x] = (image.pixel(x, y) >> (8 * channel)) & 0xFF;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            double s = 0;
            for (int i = -radius; i <= radius; ++i)
                s += kernel[i + radius] * src[size_t(y) * w + std::clamp(x + i, 0, w - 1)];
            tmp[size_t(y) * w + x] = s;
        }
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            double s = 0;
            for (int i = -radius; i <= radius; ++i)
                s += kernel[i + radius] * tmp[size_t(std::clamp(y + i, 0, h - 1)) * w + x];
            out[size_t(y) * w + x] = s;
        }
    return out;
}
} // namespace

void TestBlur::matchesGaussian_data() {
    QTest::addColumn<double>("sigma");
    QTest::newRow("small") << 2.0;
    QTest::newRow("medium") << 7.5;
    QTest::newRow("wide, beyond the image edges") << 40.0;
}

void TestBlur::matchesGaussian() {
    QFETCH(double, sigma);
    const QImage image = sampleImage(160, 90);
    const QImage blurred = BlurRenderer::blurRegion(image, image.rect(), sigma);
    QCOMPARE(blurred.size(), image.size());
    double sum = 0;
    double worst = 0;
    for (int channel = 0; channel < 3; ++channel) {
        const std::vector<double> expected = referenceBlur(image, channel, sigma);
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x) {
                const double d = std::abs(((blurred.pixel(x, y) >> (8 * channel)) & 0xFF) -
                                          expected[size_t(y) * image.width() + x]);
                sum += d;
                worst = std::max(worst, d);
            }
    }
    const double mean = sum / (3.0 * image.width() * image.height());
    QVERIFY2(mean < 1.0, qPrintable(QString::number(mean)));
    QVERIFY2(worst < 6.0, qPrintable(QString::number(worst)));
    QCOMPARE(qAlpha(blurred.pixel(10, 10)), 255);
}

void TestBlur::edgesClamped() {
    // A flat image stays flat right up to its border: nothing fades in from outside.
    QImage flat(120, 80, QImage::Format_RGB32);
    flat.fill(qRgb(200, 40, 90));
    const QImage blurred = BlurRenderer::make(flat, 40);
    for (const QPoint p : {QPoint(0, 0), QPoint(119, 79), QPoint(60, 0), QPoint(0, 40), QPoint(60, 40)})
        QCOMPARE(blurred.pixel(p), qRgb(200, 40, 90));
}

void TestBlur::regionEqualsWhole_data() {
    QTest::addColumn<QRect>("region");
    QTest::newRow("inside") << QRect(50, 30, 40, 20);
    QTest::newRow("at the corner") << QRect(0, 0, 25, 25);
    QTest::newRow("at the far edge") << QRect(130, 60, 30, 30);
    QTest::newRow("overhanging the image") << QRect(140, 70, 50, 50);
}

void TestBlur::regionEqualsWhole() {
    QFETCH(QRect, region);
    const QImage image = sampleImage(160, 90);
    const double sigma = 6;
    const QImage whole = BlurRenderer::blurRegion(image, image.rect(), sigma);
    const QImage part = BlurRenderer::blurRegion(image, region, sigma);
    const QRect clipped = region & image.rect();
    QCOMPARE(part.size(), clipped.size());
    QCOMPARE(part, whole.copy(clipped));
}

void TestBlur::scalesWithWidth() {
    QCOMPARE(BlurRenderer::sigmaFor(18, 1000), 18.0);
    QCOMPARE(BlurRenderer::sigmaFor(18, 4000), 72.0);
    // The same radius looks the same on a copy four times as wide.
    const QImage small = sampleImage(100, 60);
    const QImage large = small.scaled(400, 240);
    const QImage a = BlurRenderer::make(small, 40);
    const QImage b =
        BlurRenderer::make(large, 40).scaled(100, 60, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    double sum = 0;
    for (int y = 0; y < 60; ++y)
        for (int x = 0; x < 100; ++x)
            sum += std::abs(qGreen(a.pixel(x, y)) - qGreen(b.pixel(x, y)));
    QVERIFY(sum / 6000 < 3);
}

void TestBlur::refusesNothing() {
    QVERIFY(BlurRenderer::make(QImage(), 18).isNull());
    QVERIFY(BlurRenderer::make(sampleImage(10, 10), std::nan("")).isNull());
    QVERIFY(BlurRenderer::blurRegion(sampleImage(10, 10), QRect(20, 20, 5, 5), 3).isNull());
}

QTEST_MAIN(TestBlur)
#include "tst_blur.moc"
