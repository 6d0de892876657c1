#pragma once

#include "model/Snip.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>

#include <functional>

// The .vellumbox project file: one collection with the PNG bytes of its images as Base64 text in
// one compact JSON object. Everything here throws AppFailure carrying one German sentence.
namespace ProjectFile {

constexpr qint64 maximumBytes = 199'999'999;
const QString &suffix(); // "vellumbox", without the dot

// One checked image, to be written into the Images folder under its new name.
struct NewImage {
    QString fileName;
    QByteArray png;
};

// A project ready to enter the library: the collection under a new id, each snip under a new id
// and a new image name, and the images to write, one per snip in snip order.
struct Contents {
    SnipCollection collection;
    QList<NewImage> images;
};

// Reads and checks the project file at path. Only a regular file of at most maximumBytes is read;
// every image is checked (raster format, header size, complete data), re-encoded as an upright
// 8-bit PNG, and every mark is validated. The images are decoded in parallel, large ones one at a
// time. Nothing is written. Runs on any thread.
Contents read(const QString &path);

// The same checks on a project document held in memory.
Contents decode(QByteArrayView document);

// Maps a snip's image file name to its path; throws AppFailure for a name that must not be used.
using ImagePath = std::function<QString(const QString &name)>;

// The project document for the collection, its images read through imagePath. The size is
// worked out from the file sizes before any image is read, so an oversized project fails early.
QByteArray encode(const SnipCollection &collection, const ImagePath &imagePath);

} // namespace ProjectFile
