#include "imaging/AreaScaler.h"

#include <QColorSpace>

#include <algorithm>

namespace Imaging {

namespace {

// Each target pixel sums its area's source pixels, weighted so that the weights add up to the
// source's area: 255 times that area must fit the 64-bit sums.
constexpr double kLargestArea = double(quint64(1) << 56);
constexpr int kBandRows = 64;

} // namespace

AreaScaler::AreaScaler(QSize source, QSize target, bool alpha) : m_source(source), m_target(target) {
    if (source.width() < 1 || source.height() < 1 || target.width() < 1 || target.height() < 1 ||
        target.width() > source.width() || target.height() > source.height() ||
        double(source.width()) * double(source.height()) > kLargestArea)
        return;
    m_image = QImage(target, alpha ? QImage::Format_ARGB32_Premultiplied : QImage::Format_RGB32);
    if (m_image.isNull())
        return;
    m_row.assign(size_t(target.width()) * 4, 0);
    m_sums.assign(size_t(target.width()) * 4, 0);
    m_held.resize(heldBytes(target));
}

qint64 AreaScaler::heldBytes(QSize target) {
    return qint64(target.width()) * target.height() * 4 + qint64(target.width()) * 64;
}

void AreaScaler::addRow(const QRgb *row) {
    if (m_image.isNull() || m_targetRow >= m_target.height())
        return;
    // Source column x covers [x * tw, (x + 1) * tw) and target column c covers [c * sw, (c + 1) * sw):
    // a source column lies in one target column or is split between two neighbours.
    const quint64 sw = quint64(m_source.width()), tw = quint64(m_target.width());
    quint64 *out = m_row.data();
    quint64 a = 0, r = 0, g = 0, b = 0;
    quint64 at = 0, boundary = sw;
    for (quint64 x = 0; x < sw; ++x) {
        const QRgb p = row[x];
        const quint64 end = at + tw;
        if (end < boundary) {
            a += tw * qAlpha(p);
            r += tw * qRed(p);
            g += tw * qGreen(p);
            b += tw * qBlue(p);
        } else {
            const quint64 first = boundary - at, second = end - boundary;
            out[0] = a + first * qAlpha(p);
            out[1] = r + first * qRed(p);
            out[2] = g + first * qGreen(p);
            out[3] = b + first * qBlue(p);
            out += 4;
            boundary += sw;
            a = second * qAlpha(p);
            r = second * qRed(p);
            g = second * qGreen(p);
            b = second * qBlue(p);
        }
        at = end;
    }
    const quint64 sourceHeight = quint64(m_source.height());
    quint64 remaining = quint64(m_target.height());
    while (remaining > 0) {
        const quint64 part = std::min(remaining, sourceHeight - m_filled);
        quint64 *sum = m_sums.data();
        const quint64 *column = m_row.data();
        for (size_t i = 0, n = m_sums.size(); i < n; ++i)
            sum[i] += part * column[i];
        m_filled += part;
        remaining -= part;
        if (m_filled == sourceHeight)
            finishRow();
    }
}

void AreaScaler::finishRow() {
    const quint64 area = quint64(m_source.width()) * quint64(m_source.height());
    const quint64 half = area / 2;
    const bool opaque = m_image.format() == QImage::Format_RGB32;
    auto *line = reinterpret_cast<QRgb *>(m_image.scanLine(int(m_targetRow)));
    for (int c = 0; c < m_target.width(); ++c) {
        const quint64 *v = m_sums.data() + size_t(c) * 4;
        const auto channel = [&](int k) { return int((v[k] + half) / area); };
        line[c] = qRgba(channel(1), channel(2), channel(3), opaque ? 255 : channel(0));
    }
    std::fill(m_sums.begin(), m_sums.end(), 0);
    m_filled = 0;
    ++m_targetRow;
}

QImage AreaScaler::take() {
    if (m_targetRow != m_target.height())
        return {};
    m_held.resize(qint64(m_target.width()) * 64);
    return std::move(m_image);
}

QImage shrunk(const QImage &image, QSize target) {
    if (image.isNull() || target.isEmpty())
        return {};
    if (target == image.size())
        return image;
    QImage result;
    const QImage::Format format = image.format();
    if (format == QImage::Format_RGB32 || format == QImage::Format_ARGB32_Premultiplied ||
        target.width() > image.width() || target.height() > image.height()) {
        result = image.scaled(target, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    } else {
        const bool alpha = image.hasAlphaChannel();
        AreaScaler scaler(image.size(), target, alpha);
        for (int y = 0; y < image.height(); y += kBandRows) {
            const int rows = std::min(kBandRows, image.height() - y);
            const QImage band =
                image.copy(0, y, image.width(), rows)
                    .convertToFormat(alpha ? QImage::Format_ARGB32_Premultiplied : QImage::Format_RGB32);
            if (band.isNull())
                return {};
            for (int r = 0; r < rows; ++r)
                scaler.addRow(reinterpret_cast<const QRgb *>(band.constScanLine(r)));
        }
        result = scaler.take();
    }
    if (!result.isNull())
        result.setColorSpace(image.colorSpace());
    return result;
}

} // namespace Imaging
