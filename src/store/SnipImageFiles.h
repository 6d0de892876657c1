#pragma once

#include <QImage>
#include <QString>

// Reading stored snip images: PNG only, decided from the content, and the pixel size checked
// from the header before any pixels are decoded.
namespace SnipImageFiles {

// Qt refuses images above 128 MiB of pixels by default, yet a snip may have 100 megapixels.
// Idempotent; the application calls it at start-up and the store when it is made.
void raiseAllocationLimit();

// 1 to 20,000 pixels per side and at most 100,000,000 pixels in all.
bool supportedDimensions(qint64 width, qint64 height);

// The decoded image, or a null image when the file is missing, not a PNG, too large or broken.
QImage read(const QString &path);

} // namespace SnipImageFiles
