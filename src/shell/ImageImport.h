#pragma once

#include "model/AppFailure.h"

#include <QByteArray>
#include <QString>

#include <exception>
#include <functional>
#include <optional>

// Decides whether an image may enter the library and in which form: size, format and pixel
// checks, a full-size PNG copy and, when that is over the cloud limit, a reduced copy that fits.
// Stateless and thread-safe; failures are thrown as AppFailure with one German sentence.
namespace ImageImport {

constexpr qint64 maximumSourceBytes = 200'000'000;
constexpr qint64 maximumCloudBytes = 25'000'000;
constexpr qint64 maximumPixels = 100'000'000;
constexpr qint64 maximumEdge = 20'000;

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

void validateSourceSize(qint64 byteCount);
bool supportedDimensions(qint64 width, qint64 height);
Review review(const QByteArray &data, qint64 cloudLimit, const CancelCheck &isCancelled = {});
Review review(const QString &filePath, const CancelCheck &isCancelled = {});
void validateCloudPNG(const QString &filePath);

} // namespace ImageImport
