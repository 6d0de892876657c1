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

// The image (PNG, JPEG, TIFF or HEIC bytes, within the library's image limits) converted to sRGB
// with its marks drawn, as a newly encoded compact PNG of the same pixel size; also for an empty
// mark list. One invalid mark fails the whole image.
FlattenedImage flatten(const QByteArray &bytes, const MarkList &marks);

// The same pixels without the PNG step: RGB32 for an opaque source, premultiplied ARGB32 otherwise.
QImage flattenImage(const QByteArray &bytes, const MarkList &marks);

} // namespace ImageRenderer
