#include "annotation/AnnotationViewportGeometry.h"

#include <algorithm>
#include <cmath>

AnnotationViewportGeometry AnnotationViewportGeometry::make(QSizeF image, QSizeF viewport,
                                                            std::optional<double> zoom) {
    const double w = std::max(image.width(), 1.0);
    const double h = std::max(image.height(), 1.0);
    AnnotationViewportGeometry g;
    if (!zoom) {
        g.scale = std::min(std::max(viewport.width() - kMargin, 1.0) / w,
                           std::max(viewport.height() - kMargin, 1.0) / h);
        g.scale = std::min(g.scale, kMaximumZoom);
    } else {
        const double z = std::isfinite(*zoom) ? *zoom : 1.0;
        g.scale = std::clamp(z, kMinimumZoom, kMaximumZoom);
    }
    const double sw = w * g.scale, sh = h * g.scale;
    g.documentSize =
        QSizeF(std::max(viewport.width(), sw + kMargin), std::max(viewport.height(), sh + kMargin));
    g.imageFrame = QRectF((g.documentSize.width() - sw) / 2, (g.documentSize.height() - sh) / 2, sw, sh);
    return g;
}
