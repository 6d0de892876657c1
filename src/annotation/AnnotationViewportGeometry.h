#pragma once

#include <QRectF>
#include <QSizeF>

#include <optional>

// Where the mark editor shows the image: the factor it is drawn at, the scrollable document
// around it (at least the viewport, and the image with a margin of 48 on every side) and the
// image's frame, centred in the document. A factor is view points per image pixel.
struct AnnotationViewportGeometry {
    static constexpr double kMargin = 96; // both sides together
    static constexpr double kMinimumZoom = 0.05;
    static constexpr double kMaximumZoom = 4.0;

    double scale = 1;
    QSizeF documentSize;
    QRectF imageFrame;

    // `zoom` none fits the image into the viewport less the margin (never above 4.0, with no
    // lower bound); a factor is clamped to 0.05 … 4.0, and one that is not finite counts as 1.
    // An empty image counts as 1 × 1.
    static AnnotationViewportGeometry make(QSizeF image, QSizeF viewport, std::optional<double> zoom);
};
