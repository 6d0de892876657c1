#include "imaging/ImageImport.h"

#include "imaging/AreaScaler.h"
#include "imaging/ImageDecoder.h"
#include "imaging/PngEncoder.h"
#include "imaging/RegularFile.h"

#include <QImage>
#include <QImageReader>

#include <algorithm>
#include <mutex>

namespace ImageImport {

namespace {

const QString kTooLarge = QStringLiteral(
    "Bilder dürfen beim Import höchstens 200 MB groß sein. Bitte verkleinere die Datei zuerst.");
const QString kFileUnreadable = QStringLiteral("Die Bilddatei konnte nicht gelesen werden.");
const QString kUnknownFormat = QStringLiteral("Das Bildformat konnte nicht gelesen werden.");
const QString kNoResolution = QStringLiteral("Das Bild enthält keine gültige Auflösung.");
const QString kNotProcessed = QStringLiteral("Das Bild konnte nicht verarbeitet werden.");
const QString kNoCloudCopy =
    QStringLiteral("Für dieses Bild konnte keine passende Cloud-Kopie erstellt werden.");
const QString kCloudRefused = QStringLiteral(
    "Dieses Bild überschreitet die Cloud-Grenze von 25 MB bzw. die unterstützte Auflösung oder ist "
    "ungültig. Importiere eine verkleinerte Kopie oder wähle im Bild-Kontextmenü „Nur lokal "
    "speichern“.");

constexpr int kLargestReducedEdge = 4096;
// Enough for a 100-megapixel image at eight bytes a pixel, as Qt decodes 16-bit PNG and TIFF;
// Qt's default stops near 33 megapixels.
constexpr int kAllocationLimitMB = 1024;

void checkCancelled(const CancelCheck &isCancelled) {
    if (isCancelled && isCancelled())
        throw Cancelled();
}

// Data that cannot be decoded is the render step's failure; "cannot be read" is kept for a path
// that is no regular file.
[[noreturn]] void failWith(Imaging::Problem problem) {
    switch (problem) {
    case Imaging::Problem::UnknownFormat:
        throw AppFailure::message(kUnknownFormat);
    case Imaging::Problem::NoSize:
        throw AppFailure::message(kNoResolution);
    case Imaging::Problem::Cancelled:
        throw Cancelled();
    default:
        throw AppFailure::message(kNotProcessed);
    }
}

QImage fitted(const QImage &image, int longestEdge) {
    return Imaging::shrunk(image, Imaging::fittedSize(image.size(), longestEdge));
}

Image render(const QImage &decoded, int longestEdge) {
    if (decoded.isNull())
        throw AppFailure::message(kNotProcessed);
    const QImage image = fitted(decoded, longestEdge);
    if (image.isNull() || !supportedDimensions(image.width(), image.height()))
        throw AppFailure::message(kNotProcessed);
    QByteArray png = Imaging::encodePng(image, Imaging::PngEffort::Compact);
    if (png.isEmpty())
        throw AppFailure::message(kNotProcessed);
    return Image{std::move(png), image.width(), image.height()};
}

// An image decoded already, reviewed like a source.
class DecodedSource {
public:
    explicit DecodedSource(QImage image) : m_image(std::move(image)) {}
    std::optional<QSize> storedSize() { return m_image.size(); }
    qint64 decodedBytes(int) { return 0; }
    QImage decode(int) { return m_image; }
    void setCancelCheck(const CancelCheck &) {}
    Imaging::Problem problem() const { return Imaging::Problem::None; }

private:
    QImage m_image;
};

template <typename Source>
Review reviewSource(Source &source, qint64 cloudLimit, const CancelCheck &isCancelled) {
    if (cloudLimit < 1)
        throw AppFailure::message(kNoResolution);
    const auto size = source.storedSize();
    if (!size)
        failWith(source.problem());

    Review review;
    review.width = size->width();
    review.height = size->height();
    const int longest = std::max(review.width, review.height);
    const int start = std::min(longest, kLargestReducedEdge);
    const bool supported = supportedDimensions(review.width, review.height);
    // The decode and every copy made from it count against the pixel memory of decodes: a copy and
    // its PNG beside the decoded image.
    const QSize copySize = Imaging::fittedSize(*size, start);
    const Imaging::PixelReservation reservation(
        supported ? source.decodedBytes(0) * 2
                  : source.decodedBytes(start) + qint64(copySize.width()) * copySize.height() * 4 * 2);

    // Every reduced copy is made from this one decode, never from the source again.
    QImage base;
    // A copy at the original's own size would be the same PNG again, known to be too large.
    int knownTooLarge = 0;
    if (supported) {
        const QImage full = source.decode(longest);
        if (full.isNull())
            failWith(source.problem());
        Image original = render(full, longest);
        if (original.png.size() <= cloudLimit) {
            review.original = std::move(original);
            return review;
        }
        if (original.png.size() <= maximumSourceBytes)
            review.original = std::move(original);
        knownTooLarge = longest;
        base = fitted(full, start);
    }
    checkCancelled(isCancelled);
    if (base.isNull()) {
        source.setCancelCheck(isCancelled);
        base = source.decode(start);
        if (base.isNull())
            failWith(source.problem());
    }

    for (const int edge : reductionEdges(start)) {
        if (edge != knownTooLarge) {
            Image copy = render(base, edge);
            if (copy.png.size() <= cloudLimit) {
                review.reduced = std::move(copy);
                return review;
            }
        }
        if (edge == 1)
            break;
        checkCancelled(isCancelled);
    }
    throw AppFailure::message(kNoCloudCopy);
}

} // namespace

void raiseAllocationLimit() {
    static std::once_flag once;
    std::call_once(once, [] {
        if (QImageReader::allocationLimit() != 0 && QImageReader::allocationLimit() < kAllocationLimitMB)
            QImageReader::setAllocationLimit(kAllocationLimitMB);
    });
}

QString Image::description() const {
    return QString::number(width) + QStringLiteral(" × ") + QString::number(height) +
           QStringLiteral(" Pixel · ") + byteCountText(png.size());
}

void validateSourceSize(qint64 byteCount) {
    if (byteCount < 1 || byteCount > maximumSourceBytes)
        throw AppFailure::message(kTooLarge);
}

bool supportedDimensions(qint64 width, qint64 height) {
    return withinPixelLimits(width, height, maximumEdge);
}

bool withinPixelLimits(qint64 width, qint64 height, qint64 maximumSide) {
    return width >= 1 && width <= maximumSide && height >= 1 && height <= maximumSide &&
           double(width) * double(height) <= double(maximumPixels);
}

Review review(const QByteArray &data, qint64 cloudLimit, const CancelCheck &isCancelled) {
    validateSourceSize(data.size());
    Imaging::Decoder decoder(data, Imaging::kSnipFormats);
    return reviewSource(decoder, cloudLimit, isCancelled);
}

Review reviewPasted(const QByteArray &data, qint64 cloudLimit, const CancelCheck &isCancelled) {
    validateSourceSize(data.size());
    const auto format = Imaging::sniffFormat(data);
    if (!format || (*format & Imaging::kSnipFormats))
        return review(data, cloudLimit, isCancelled);
    // Qt cannot decode these into a smaller size: only a supported size is decoded at all.
    Imaging::Decoder decoder(data, Imaging::Bmp | Imaging::Gif);
    DecodedSource decoded(decoder.decode());
    if (decoder.problem() != Imaging::Problem::None)
        failWith(decoder.problem());
    return reviewSource(decoded, cloudLimit, isCancelled);
}

Review review(const QString &filePath, const CancelCheck &isCancelled) {
    try {
        RegularFile file(filePath);
        validateSourceSize(file.size());
        Imaging::Decoder decoder(file.device(), Imaging::kSnipFormats);
        return reviewSource(decoder, maximumCloudBytes, isCancelled);
    } catch (const RegularFile::Failure &) {
        throw AppFailure::message(kFileUnreadable);
    }
}

void validateCloudPNG(const QString &filePath) {
    try {
        // A symbolic link is refused even when it points at a valid PNG.
        RegularFile file(filePath, RegularFile::Links::Refuse);
        if (file.size() < 1 || file.size() > maximumCloudBytes)
            throw AppFailure::message(kCloudRefused);
        Imaging::Decoder decoder(file.device(), Imaging::Png);
        const auto size = decoder.storedSize();
        if (!size || !supportedDimensions(size->width(), size->height()))
            throw AppFailure::message(kCloudRefused);
    } catch (const RegularFile::Failure &failure) {
        throw AppFailure::message(failure.notRegular() ? kCloudRefused : kFileUnreadable);
    }
}

QList<int> reductionEdges(int start) {
    QList<int> edges;
    if (start < 1)
        return edges;
    for (int edge = start;; edge = std::max(1, int(double(edge) * 0.7))) {
        edges.append(edge);
        if (edge == 1)
            break;
    }
    return edges;
}

// Decimal units as file sizes are shown to the user: below 1000 bytes the exact count ("1 Byte",
// "12 Bytes"); then whole kilobytes ("812 KB"); from 1000 KB on megabytes with one decimal
// ("25,3 MB"), and gigabytes likewise ("1,2 GB"). Each step rounds half up, a value that would
// round to 1000 moves on to the next unit, and a zero decimal is left out ("25 MB").
QString byteCountText(qint64 bytes) {
    bytes = std::max<qint64>(bytes, 0);
    const auto withTenths = [](qint64 tenths, const char *unit) {
        QString text = QString::number(tenths / 10);
        if (tenths % 10 != 0)
            text += u',' + QString::number(tenths % 10);
        return text + u' ' + QLatin1StringView(unit);
    };
    if (bytes < 1000)
        return QString::number(bytes) + (bytes == 1 ? QStringLiteral(" Byte") : QStringLiteral(" Bytes"));
    const qint64 kilobytes = (bytes + 500) / 1000;
    if (kilobytes < 1000)
        return QString::number(kilobytes) + QStringLiteral(" KB");
    const qint64 megabyteTenths = (bytes + 50'000) / 100'000;
    if (megabyteTenths < 10'000)
        return withTenths(megabyteTenths, "MB");
    return withTenths((bytes + 50'000'000) / 100'000'000, "GB");
}

} // namespace ImageImport
