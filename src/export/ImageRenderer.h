#pragma once

#include "model/Mark.h"

#include <QByteArray>
#include <QImage>

// A snip's image with its marks burnt in.
struct FlattenedImage {
    QByteArray png;
    int width = 0;
    int height = 0;
};

// Burns a mark list into an image. Stateless and safe on any thread; failures are thrown as
// AppFailure with one German sentence.
namespace ImageRenderer {

// Sides of up to 30,000 pixels flatten, within the library's 100,000,000 pixels: longer than a
// snip may be, which keeps its own limits.
inline constexpr int kMaximumFlattenedSide = 30'000;

// The image (PNG, JPEG, TIFF or HEIC bytes within the limits above) converted to sRGB with its
// marks drawn, as a newly encoded compact PNG of the same pixel size; also for an empty mark list.
// One invalid mark fails the whole image.
FlattenedImage flatten(const QByteArray &bytes, const MarkList &marks);

// The same pixels without the PNG step: RGB32 for an opaque source, premultiplied ARGB32 otherwise.
QImage flattenImage(const QByteArray &bytes, const MarkList &marks);

} // namespace ImageRenderer
