#include "export/BlurRenderer.h"

#include "common/Background.h"

#include <QThread>

#include <algorithm>
#include <array>
#include <cmath>
#include <functional>
#include <numeric>
#include <vector>

namespace {
// Four passes stay within about one 8-bit level of a true Gaussian at the radii blur marks use;
// at very small sigma the box cascade drifts further.
constexpr int kPasses = 4;
// Intermediate values carry 8 fractional bits so rounding does not add up over the passes.
constexpr int kFraction = 8;

struct Boxes {
    std::array<int, kPasses> radius{};
    int reach() const { return std::accumulate(radius.begin(), radius.end(), 0); }
};

// Box widths whose variances add up to sigma² (odd widths, two neighbouring sizes).
Boxes boxesFor(double sigma) {
    Boxes boxes;
    const double n = kPasses;
    const double ideal = std::sqrt(12.0 * sigma * sigma / n + 1.0);
    int lower = int(std::floor(ideal));
    if (lower % 2 == 0)
        --lower;
    lower = std::max(lower, 1);
    const int upper = lower + 2;
    const double m =
        (12.0 * sigma * sigma - n * lower * lower - 4.0 * n * lower - 3.0 * n) / (-4.0 * lower - 4.0);
    const int smaller = std::clamp(int(std::lround(m)), 0, kPasses);
    for (int i = 0; i < kPasses; ++i)
        boxes.radius[i] = ((i < smaller ? lower : upper) - 1) / 2;
    return boxes;
}

// Calls body(first, last) for consecutive ranges covering 0 … count − 1, spread over the idle
// threads of the background pool. Blurs run inside pool tasks of the export too; the caller works
// itself, so with every thread busy the blur simply runs on it.
void parallelRanges(int count, const std::function<void(int, int)> &body) {
    const int chunks = std::min(count, QThread::idealThreadCount() * 4);
    Background::parallelFor(chunks, [&](int chunk) {
        body(int(qint64(count) * chunk / chunks), int(qint64(count) * (chunk + 1) / chunks));
    });
}

// One box pass along a line of `n` samples with 4 channels each, `stride` values apart;
// clamped at both ends. `in` and `out` must not overlap.
inline void boxLine(const quint16 *in, quint16 *out, int n, qsizetype stride, int r) {
    const int width = 2 * r + 1;
    const quint64 inverse = (quint64(1) << 32) / quint64(width);
    auto at = [&](int i) { return in + qsizetype(std::clamp(i, 0, n - 1)) * stride; };
    quint32 sum[4];
    for (int c = 0; c < 4; ++c) {
        quint32 s = quint32(in[c]) * quint32(r + 1);
        for (int j = 1; j <= r; ++j)
            s += at(j)[c];
        sum[c] = s;
    }
    for (int i = 0; i < n; ++i) {
        quint16 *o = out + qsizetype(i) * stride;
        const quint16 *add = at(i + r + 1);
        const quint16 *sub = at(i - r);
        for (int c = 0; c < 4; ++c) {
            o[c] = quint16((quint64(sum[c]) * inverse + (quint64(1) << 31)) >> 32);
            sum[c] += add[c];
            sum[c] -= sub[c];
        }
    }
}

// Blurs the whole buffer in place as if its border pixels continued outward without end. Each
// line is padded once by the cascade's full reach with copies of its end pixels, so clamping inside
// the passes only ever touches the padding; rows first, then columns, which for a separable filter
// is the same as padding the image on all sides.
void blurBuffer(std::vector<quint16> &data, int w, int h, const Boxes &boxes) {
    const qsizetype rowValues = qsizetype(w) * 4;
    const int pad = boxes.reach();
    static_assert(kPasses % 2 == 0, "the passes must end in the first buffer");
    // Rows: every pass on a row while it is in the cache.
    parallelRanges(h, [&](int first, int last) {
        const qsizetype padded = qsizetype(w + 2 * pad) * 4;
        std::vector<quint16> a(padded), b(padded);
        for (int y = first; y < last; ++y) {
            quint16 *row = data.data() + y * rowValues;
            for (int i = 0; i < pad; ++i) {
                std::copy_n(row, 4, a.data() + qsizetype(i) * 4);
                std::copy_n(row + rowValues - 4, 4, a.data() + qsizetype(pad + w + i) * 4);
            }
            std::copy_n(row, rowValues, a.data() + qsizetype(pad) * 4);
            for (int p = 0; p < kPasses; ++p)
                boxLine(p % 2 == 0 ? a.data() : b.data(), p % 2 == 0 ? b.data() : a.data(), w + 2 * pad, 4,
                        boxes.radius[p]);
            std::copy_n(a.data() + qsizetype(pad) * 4, rowValues, row);
        }
    });
    // Columns: strips narrow enough that all passes over a strip stay in the cache.
    constexpr int kStrip = 32;
    const int strips = (w + kStrip - 1) / kStrip;
    Background::parallelFor(strips, [&](int strip) {
        const int x0 = strip * kStrip;
        const int sw = std::min(kStrip, w - x0);
        const qsizetype stripValues = qsizetype(sw) * 4;
        const int n = h + 2 * pad;
        std::vector<quint16> a(stripValues * n), b(stripValues * n);
        for (int y = 0; y < n; ++y) {
            const int source = std::clamp(y - pad, 0, h - 1);
            std::copy_n(data.data() + source * rowValues + x0 * 4, stripValues, a.data() + y * stripValues);
        }
        for (int p = 0; p < kPasses; ++p) {
            const quint16 *from = p % 2 == 0 ? a.data() : b.data();
            quint16 *to = p % 2 == 0 ? b.data() : a.data();
            for (int x = 0; x < sw; ++x)
                boxLine(from + x * 4, to + x * 4, n, stripValues, boxes.radius[p]);
        }
        for (int y = 0; y < h; ++y)
            std::copy_n(a.data() + (y + pad) * stripValues, stripValues,
                        data.data() + y * rowValues + x0 * 4);
    });
}

QImage blurred(const QImage &source, const QRect &area, const QRect &region, double sigma) {
    const Boxes boxes = boxesFor(sigma);
    const int w = area.width();
    const int h = area.height();
    std::vector<quint16> data(qsizetype(w) * h * 4);
    parallelRanges(h, [&](int first, int last) {
        for (int y = first; y < last; ++y) {
            const auto *line =
                reinterpret_cast<const uchar *>(source.constScanLine(area.top() + y)) + area.left() * 4;
            quint16 *out = data.data() + qsizetype(y) * w * 4;
            for (qsizetype i = 0; i < qsizetype(w) * 4; ++i)
                out[i] = quint16(line[i] << kFraction);
        }
    });
    blurBuffer(data, w, h, boxes);
    QImage result(region.size(), QImage::Format_ARGB32_Premultiplied);
    if (result.isNull())
        return {};
    const int dx = region.left() - area.left();
    const int dy = region.top() - area.top();
    const int rows = region.height();
    parallelRanges(rows, [&](int first, int last) {
        for (int y = first; y < last; ++y) {
            const quint16 *in = data.data() + (qsizetype(y + dy) * w + dx) * 4;
            uchar *out = result.scanLine(y);
            for (qsizetype i = 0; i < qsizetype(region.width()) * 4; ++i)
                out[i] = uchar(std::min<int>((in[i] + (1 << (kFraction - 1))) >> kFraction, 255));
        }
    });
    return result;
}
} // namespace

double BlurRenderer::sigmaFor(double radius, int imageWidth) {
    return radius * imageWidth / 1000.0;
}

int BlurRenderer::reach(double sigma) {
    return boxesFor(sigma).reach();
}

QImage BlurRenderer::blurRegion(const QImage &image, const QRect &region, double sigma) {
    if (image.isNull() || !std::isfinite(sigma) || sigma <= 0)
        return {};
    const QRect clipped = region & image.rect();
    if (clipped.isEmpty())
        return {};
    // RGB32 has the byte layout of opaque premultiplied ARGB32 and is taken as it is.
    const bool direct =
        image.format() == QImage::Format_ARGB32_Premultiplied || image.format() == QImage::Format_RGB32;
    const QImage source = direct ? image : image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    if (source.isNull())
        return {};
    const int r = reach(sigma) + 1;
    const QRect area = clipped.adjusted(-r, -r, r, r) & source.rect();
    return blurred(source, area, clipped, sigma);
}

QImage BlurRenderer::make(const QImage &image, double radius) {
    if (image.isNull() || !std::isfinite(radius) || radius <= 0)
        return {};
    return blurRegion(image, image.rect(), sigmaFor(radius, image.width()));
}
