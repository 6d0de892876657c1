#include "annotation/BlurPreviews.h"

#include "annotation/ImageLevels.h"
#include "export/BlurRenderer.h"

#include <algorithm>
#include <cmath>

namespace {
// The blur's standard deviation in pixels of the reduced copy: at 4 pixels, stretching the copy
// with bilinear filtering differs from a blur at full size by less than one 8-bit level.
constexpr double kMinimumSigma = 4;
constexpr qsizetype kMaxRadii = 3;
} // namespace

double BlurPreviews::quantised(double radius) {
    return std::max(1.0, std::round(radius));
}

QSize BlurPreviews::blurSize(QSize imageSize, QSize deviceSize, double radius) {
    if (imageSize.isEmpty() || deviceSize.isEmpty())
        return {};
    const double needed = std::ceil(kMinimumSigma * 1000 / quantised(radius));
    const int width =
        int(std::min({double(deviceSize.width()), double(imageSize.width()), std::max(needed, 1.0)}));
    const int height = std::max(1, int(std::lround(double(width) * imageSize.height() / imageSize.width())));
    return {width, height};
}

std::optional<BlurPatch> BlurPreviews::lookup(ImageLevels &levels, double radius, QSizeF shown,
                                              QSize deviceSize) {
    const QImage &image = levels.image();
    if (image.isNull() || !std::isfinite(radius))
        return std::nullopt;
    if (image.cacheKey() != m_imageKey) {
        m_imageKey = image.cacheKey();
        m_entries.clear();
    }
    const double q = quantised(radius);
    const QSize size = blurSize(image.size(), deviceSize, q);
    const auto found =
        std::find_if(m_entries.begin(), m_entries.end(), [&](const Entry &e) { return e.radius == q; });
    if (found != m_entries.end() && found->size == size)
        return BlurPatch{found->image, QPoint(0, 0), shown};

    const QImage source = levels.reduced(size);
    if (source.isNull())
        return std::nullopt;
    QImage blurred = BlurRenderer::make(source, q);
    if (blurred.isNull())
        return std::nullopt;
    ++m_made;
    if (found != m_entries.end())
        m_entries.erase(found);
    else if (m_entries.size() >= kMaxRadii)
        m_entries.clear();
    m_entries.append({q, size, blurred});
    return BlurPatch{std::move(blurred), QPoint(0, 0), shown};
}
