#pragma once

#include "model/AppFailure.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <exception>
#include <functional>
#include <optional>

// Decides whether an image may enter the library and in which form: size, format and pixel
// checks, a full-size PNG copy and, when that is over the cloud limit, a reduced copy that fits.
// Its limits are the ones every image of the application keeps. Stateless and thread-safe;
// failures are thrown as AppFailure with one German sentence.
namespace ImageImport {

constexpr qint64 maximumSourceBytes = 200'000'000;
constexpr qint64 maximumCloudBytes = 25'000'000;
constexpr qint64 maximumPixels = 100'000'000;
constexpr qint64 maximumEdge = 20'000;
// The most pixels a reduced copy is made from: reading more would keep a decode busy for more than
// a few seconds, so a larger source is refused from its header.
constexpr qint64 maximumReducedSourcePixels = 1'000'000'000;
// The most memory that making a reduced copy holds at once: compressed input read into memory,
// the decoder's own state, rows and the copies. A source whose decoding would need more is refused
// from its header.
constexpr qint64 reductionBudget = 300'000'000;

// One PNG copy of an image.
struct Image {
    QByteArray png;
    int width = 0;
    int height = 0;

    // "W × H Pixel · SIZE", shown when the user chooses between copies.
    QString description() const;
};

// The result of checking one image.
struct Review {
    int width = 0; // as the source's properties state it, before orientation
    int height = 0;
    std::optional<Image> original;
    std::optional<Image> reduced;

    bool requiresChoice() const { return reduced.has_value(); }
};

// Thrown when the caller's cancellation check says stop during the search for a reduced copy.
struct Cancelled : std::exception {
    const char *what() const noexcept override { return "cancelled"; }
};

using CancelCheck = std::function<bool()>;

// Throws the 200 MB sentence unless 1 <= byteCount <= maximumSourceBytes.
// Qt refuses images above 128 MiB of pixels by default, yet a supported image may have 100
// megapixels. Idempotent and thread-safe; the application calls it at start-up.
void raiseAllocationLimit();

void validateSourceSize(qint64 byteCount);
// At most maximumEdge per side and maximumPixels in all (the product taken in double).
bool supportedDimensions(qint64 width, qint64 height);
// The same with another longest side: 1 to maximumSide per side, at most maximumPixels in all.
bool withinPixelLimits(qint64 width, qint64 height, qint64 maximumSide);

// Checks image bytes: PNG, JPEG, TIFF or HEIC, recognised by their content. isCancelled is asked
// before the first reduced copy, between the bands of rows the source is read in for it, and after
// every copy that did not fit; true throws Cancelled.
Review review(const QByteArray &data, qint64 cloudLimit, const CancelCheck &isCancelled = {});
// The same for bytes from the clipboard, which may also be BMP or GIF: those are decoded only when
// their header states a supported size, and then reviewed like the others.
Review reviewPasted(const QByteArray &data, qint64 cloudLimit, const CancelCheck &isCancelled = {});
// Checks an image file against maximumCloudBytes; only a regular file is read.
Review review(const QString &filePath, const CancelCheck &isCancelled = {});
// Returns when the stored PNG may go to the cloud backup: a regular file (not a symbolic link) of
// 1 to 25,000,000 bytes with PNG content and a supported pixel size.
void validateCloudPNG(const QString &filePath);

// The longest edges the search for a reduced copy tries from start: each 70 % of the one before,
// truncated, down to 1.
QList<int> reductionEdges(int start);
// A byte count as the size of a file is shown to the user ("812 KB", "25,3 MB").
QString byteCountText(qint64 bytes);

} // namespace ImageImport
