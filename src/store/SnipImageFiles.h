#pragma once

#include <QImage>
#include <QString>

// Reading stored snip images: PNG only, decided from the content, and the pixel size checked
// from the header before any pixels are decoded.
namespace SnipImageFiles {

// The decoded image, or a null image when the file is missing, not a PNG, too large or broken.
QImage read(const QString &path);

} // namespace SnipImageFiles
