#include "imaging/AreaScaler.h"

#include <QColorSpace>

#include <algorithm>

namespace Imaging {

namespace {

// Sides beyond this would let the 64-bit sums overflow; no image the application takes comes near.
constexpr int kLargestSide = 1 << 24;
// Each source column costs 40 bytes of sums and tables: wider sources would cost more than the
// rows they come in.
constexpr int kWidestSource = 1 << 20;
constexpr int kBandRows = 64;

} // namespace

AreaScaler::AreaScaler(QSize source, QSize target, bool alpha) : m_source(source), m_target(target) {
    if (source.width() < 1 || source.height() < 1 || target.width() < 1 || target.height() < 1 ||
        target.width() > source.width() || target.height() > source.height() ||
        source.width() > kWidestSource || source.height() > kLargestSide)
        return;
    m_image = QImage(target, alpha ? QImage::Format_ARGB32_Premultiplied : QImage::Format_RGB32);
    if (m_image.isNull())
        return;
    const int sw = source.width(), tw = target.width();
    m_sums.assign(size_t(sw) * 4, 0);
    m_column.resize(size_t(sw));
    m_part.resize(size_t(sw));
    m_row.assign(size_t(tw) * 4, 0);
    m_held.resize(m_image.sizeInBytes() + qint64(sw) * 40 + qint64(tw) * 32);
    // Source column x covers [x * tw, (x + 1) * tw) and target column c covers [c * sw, (c + 1) * sw):
    // a source column lies in one target column or is split between two neighbours.
    for (int x = 0; x < sw; ++x) {
        const quint64 start = quint64(x) * quint64(tw);
        const quint64 column = start / quint64(sw);
        const quint64 boundary = (column + 1) * quint64(sw);
        m_column[size_t(x)] = int(column);
        m_part[size_t(x)] = quint32(std::min(start + quint64(tw), boundary) - start);
    }
}

void AreaScaler::addRow(const QRgb *row) {
    if (m_image.isNull() || m_targetRow >= m_target.height())
        return;
    const quint64 sourceHeight = quint64(m_source.height());
    const int width = m_source.width();
    quint64 remaining = quint64(m_target.height());
    while (remaining > 0) {
        const quint64 part = std::min(remaining, sourceHeight - m_filled);
        quint64 *sum = m_sums.data();
        for (int x = 0; x < width; ++x, sum += 4) {
            const QRgb p = row[x];
            sum[0] += part * qAlpha(p);
            sum[1] += part * qRed(p);
            sum[2] += part * qGreen(p);
            sum[3] += part * qBlue(p);
        }
        m_filled += part;
        remaining -= part;
        if (m_filled == sourceHeight)
            finishRow();
    }
}

void AreaScaler::finishRow() {
    const int tw = m_target.width();
    const int width = m_source.width();
    std::fill(m_row.begin(), m_row.end(), 0);
    const int *columns = m_column.data();
    const quint32 *parts = m_part.data();
    quint64 *row = m_row.data();
    for (int x = 0; x < width; ++x) {
        const quint64 *sum = m_sums.data() + size_t(x) * 4;
        const quint64 first = parts[x];
        const quint64 second = quint64(tw) - first;
        quint64 *out = row + size_t(columns[x]) * 4;
        for (int k = 0; k < 4; ++k)
            out[k] += first * sum[k];
        if (second > 0) {
            for (int k = 0; k < 4; ++k)
                out[4 + k] += second * sum[k];
        }
    }
    const quint64 area = quint64(m_source.width()) * quint64(m_source.height());
    const quint64 half = area / 2;
    const bool opaque = m_image.format() == QImage::Format_RGB32;
    auto *line = reinterpret_cast<QRgb *>(m_image.scanLine(int(m_targetRow)));
    for (int c = 0; c < tw; ++c) {
        const quint64 *v = m_row.data() + size_t(c) * 4;
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
    m_held.resize(qint64(m_source.width()) * 40 + qint64(m_target.width()) * 32);
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
