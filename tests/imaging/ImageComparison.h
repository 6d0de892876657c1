#pragma once

#include <QImage>

#include <algorithm>
#include <cstdlib>
#include <utility>

// The mean and the largest difference of two images' premultiplied channels, 0 to 255; 255 when
// their sizes differ.
inline std::pair<double, int> difference(const QImage &a, const QImage &b) {
    if (a.size() != b.size() || a.isNull())
        return {255, 255};
    const QImage x = a.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    const QImage y = b.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    double sum = 0;
    int most = 0;
    for (int row = 0; row < x.height(); ++row)
        for (int column = 0; column < x.width(); ++column) {
            const QRgb p = x.pixel(column, row), q = y.pixel(column, row);
            for (const int d :
                 {qRed(p) - qRed(q), qGreen(p) - qGreen(q), qBlue(p) - qBlue(q), qAlpha(p) - qAlpha(q)}) {
                sum += std::abs(d);
                most = std::max(most, std::abs(d));
            }
        }
    return {sum / (4.0 * x.width() * x.height()), most};
}

// The pixels scaled by Qt's smooth scaling of premultiplied pixels.
inline QImage smoothlyScaled(const QImage &pixels, QSize size) {
    return pixels.convertToFormat(QImage::Format_ARGB32_Premultiplied)
        .scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
}
