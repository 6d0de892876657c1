#include "shell/ImageImport.h"

#include <QBuffer>
#include <QFile>
#include <QImage>
#include <QImageReader>
#include <QImageWriter>
#include <QSet>

#include <libheif/heif.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <memory>
#include <mutex>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

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

enum class Format { Png, Jpeg, Tiff, Heic };

// The content decides, never the name: Qt would also decode SVG, XPM, TGA, WebP and more.
std::optional<Format> sniffFormat(QByteArrayView head) {
    if (head.startsWith(QByteArrayView("\x89PNG\r\n\x1a\n", 8)))
        return Format::Png;
    if (head.startsWith(QByteArrayView("\xff\xd8\xff", 3)))
        return Format::Jpeg;
    if (head.startsWith(QByteArrayView("II*\0", 4)) || head.startsWith(QByteArrayView("MM\0*", 4)))
        return Format::Tiff;
    if (head.size() >= 12) {
        const auto *bytes = reinterpret_cast<const uint8_t *>(head.data());
        const int length = int(std::min<qsizetype>(head.size(), 4096));
        const char *mime = heif_get_file_mime_type(bytes, length);
        // Brand "heic" (HEVC-coded stills), also when it is only listed beside a generic "mif1".
        if (mime && (std::strcmp(mime, "image/heic") == 0 ||
                     (std::strcmp(mime, "image/heif") == 0 &&
                      (heif_has_compatible_brand(bytes, length, "heic") == 1 ||
                       heif_has_compatible_brand(bytes, length, "heix") == 1))))
            return Format::Heic;
    }
    return std::nullopt;
}

QSize fittedSize(QSize size, int longestEdge) {
    const int longest = std::max(size.width(), size.height());
    if (longest <= longestEdge)
        return size;
    const auto shorter = [&](int side) {
        return std::max(1, int(std::lround(double(side) * longestEdge / longest)));
    };
    return size.width() >= size.height() ? QSize(longestEdge, shorter(size.height()))
                                         : QSize(shorter(size.width()), longestEdge);
}

// Copies and stored snips are 8 bits a channel: a 16-bit decode would double every later copy.
QImage eightBit(QImage image) {
    if (image.isNull() || image.depth() <= 32)
        return image;
    return image.convertToFormat(image.hasAlphaChannel() ? QImage::Format_ARGB32 : QImage::Format_RGB32);
}

QImage fitted(const QImage &image, int longestEdge) {
    const QSize target = fittedSize(image.size(), longestEdge);
    if (target == image.size())
        return image;
    return image.scaled(target, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
}

// One opened image source: its header and one decode of its first image.
class Decoder {
public:
    virtual ~Decoder() = default;
    // The pixel size as the header states it, before any orientation; nothing is decoded.
    virtual std::optional<QSize> storedSize() = 0;
    // Decodes the first image with its orientation applied. When the image is larger than
    // longestEdge the decoder may scale while decoding, so the full size never sits in memory; the
    // caller still fits the result. A null image means the decode failed.
    virtual QImage decode(int longestEdge) = 0;
};

class QtDecoder final : public Decoder {
public:
    QtDecoder(QIODevice *device, Format format)
        : m_reader(device, formatName(format)), m_scalesWhileDecoding(format != Format::Tiff) {
        raiseAllocationLimit();
        m_reader.setAutoDetectImageFormat(false);
        m_reader.setAutoTransform(true);
    }

    std::optional<QSize> storedSize() override {
        const QSize size = m_reader.size();
        if (!size.isValid() || size.width() < 1 || size.height() < 1)
            return std::nullopt;
        return size;
    }

    QImage decode(int longestEdge) override {
        const auto size = storedSize();
        if (!size)
            return {};
        if (std::max(size->width(), size->height()) > longestEdge) {
            // PNG and JPEG decode straight into the smaller size. Rotation only swaps the sides, so
            // fitting the stored size fits the turned one too.
            if (m_scalesWhileDecoding)
                m_reader.setScaledSize(fittedSize(*size, longestEdge));
            else if (double(size->width()) * double(size->height()) > double(maximumPixels))
                return {};
        }
        return m_reader.read();
    }

private:
    static QByteArray formatName(Format format) {
        switch (format) {
        case Format::Png:
            return QByteArrayLiteral("png");
        case Format::Jpeg:
            return QByteArrayLiteral("jpeg");
        default:
            return QByteArrayLiteral("tiff");
        }
    }

    QImageReader m_reader;
    bool m_scalesWhileDecoding;
};

// libheif 1.15 allocates an item's declared extent length before it reads the data, so a
// 500-byte file can claim gigabytes. Every extent must lie inside the file (or inside its idat
// box) before libheif sees it.
class BoxReader {
public:
    BoxReader(const uchar *data, quint64 size) : m_data(data), m_size(size) {}

    bool read(int bytes, quint64 &value) {
        value = 0;
        if (bytes < 0 || bytes > 8 || m_pos + quint64(bytes) > m_size)
            return false;
        for (int i = 0; i < bytes; ++i)
            value = (value << 8) | m_data[m_pos++];
        return true;
    }
    quint64 position() const { return m_pos; }
    quint64 size() const { return m_size; }
    const uchar *data() const { return m_data; }

private:
    const uchar *m_data;
    quint64 m_size;
    quint64 m_pos = 0;
};

struct Box {
    quint32 type = 0;
    quint64 payload = 0; // offset of the payload in the reader's data
    quint64 payloadSize = 0;
};

// The boxes directly inside data[begin, end).
std::optional<QList<Box>> childBoxes(const uchar *data, quint64 begin, quint64 end) {
    QList<Box> boxes;
    quint64 at = begin;
    while (at < end) {
        BoxReader r(data + at, end - at);
        quint64 size = 0, type = 0;
        if (!r.read(4, size) || !r.read(4, type))
            return std::nullopt;
        quint64 header = 8;
        if (size == 1) {
            if (!r.read(8, size))
                return std::nullopt;
            header = 16;
        } else if (size == 0) {
            size = end - at;
        }
        if (size < header || size > end - at)
            return std::nullopt;
        boxes.append({quint32(type), at + header, size - header});
        at += size;
    }
    return boxes;
}

constexpr quint32 fourCC(const char (&t)[5]) {
    return quint32(uchar(t[0])) << 24 | quint32(uchar(t[1])) << 16 | quint32(uchar(t[2])) << 8 | uchar(t[3]);
}

// The grid record of a derived image: its output size decides what libheif allocates, whatever
// the image's own size property says.
bool gridWithinLimits(const uchar *record, quint64 size) {
    BoxReader r(record, size);
    quint64 version = 0, flags = 0, rows = 0, columns = 0, width = 0, height = 0;
    if (!r.read(1, version) || !r.read(1, flags) || !r.read(1, rows) || !r.read(1, columns))
        return false;
    const int fieldSize = (flags & 1) ? 4 : 2;
    if (!r.read(fieldSize, width) || !r.read(fieldSize, height))
        return false;
    return version == 0 && supportedDimensions(qint64(width), qint64(height));
}

bool heifExtentsInside(const QByteArray &file) {
    const auto *data = reinterpret_cast<const uchar *>(file.constData());
    const quint64 fileSize = quint64(file.size());
    const auto top = childBoxes(data, 0, fileSize);
    if (!top)
        return false;
    for (const Box &meta : *top) {
        if (meta.type != fourCC("meta"))
            continue;
        if (meta.payloadSize < 4) // version and flags
            return false;
        const auto inner = childBoxes(data, meta.payload + 4, meta.payload + meta.payloadSize);
        if (!inner)
            return false;
        Box idat;
        QSet<quint64> grids;
        for (const Box &b : *inner) {
            if (b.type == fourCC("idat"))
                idat = b;
            if (b.type != fourCC("iinf") || b.payloadSize < 4)
                continue;
            BoxReader r(data + b.payload, b.payloadSize);
            quint64 version = 0, flags = 0, count = 0;
            if (!r.read(1, version) || !r.read(3, flags) || !r.read(version == 0 ? 2 : 4, count))
                return false;
            const auto entries = childBoxes(data, b.payload + r.position(), b.payload + b.payloadSize);
            if (!entries)
                return false;
            for (const Box &infe : *entries) {
                BoxReader e(data + infe.payload, infe.payloadSize);
                quint64 infeVersion = 0, id = 0, protection = 0, type = 0;
                if (infe.type != fourCC("infe") || !e.read(1, infeVersion) || !e.read(3, flags) ||
                    infeVersion < 2)
                    continue;
                if (e.read(infeVersion == 2 ? 2 : 4, id) && e.read(2, protection) && e.read(4, type) &&
                    type == fourCC("grid"))
                    grids.insert(id);
            }
        }
        for (const Box &iloc : *inner) {
            if (iloc.type != fourCC("iloc"))
                continue;
            BoxReader r(data + iloc.payload, iloc.payloadSize);
            quint64 version = 0, flags = 0, sizes = 0, sizes2 = 0, count = 0;
            if (!r.read(1, version) || !r.read(3, flags) || !r.read(1, sizes) || !r.read(1, sizes2) ||
                version > 2)
                return false;
            const int offsetSize = int(sizes >> 4), lengthSize = int(sizes & 15), baseSize = int(sizes2 >> 4);
            const int indexSize = version >= 1 ? int(sizes2 & 15) : 0;
            if (!r.read(version < 2 ? 2 : 4, count))
                return false;
            for (quint64 item = 0; item < count; ++item) {
                quint64 id = 0, method = 0, reference = 0, base = 0, extents = 0;
                if (!r.read(version < 2 ? 2 : 4, id) || (version >= 1 && !r.read(2, method)) ||
                    !r.read(2, reference) || !r.read(baseSize, base) || !r.read(2, extents))
                    return false;
                method &= 15;
                if (method > 1)
                    return false; // data taken from other items: not used by still images
                const quint64 start = method == 0 ? 0 : idat.payload;
                const quint64 limit = method == 0 ? fileSize : idat.payloadSize;
                for (quint64 e = 0; e < extents; ++e) {
                    quint64 index = 0, offset = 0, length = 0;
                    if (!r.read(indexSize, index) || !r.read(offsetSize, offset) ||
                        !r.read(lengthSize, length))
                        return false;
                    if (base > limit || offset > limit - base || length > limit - base - offset)
                        return false;
                    if (grids.contains(id) && !gridWithinLimits(data + start + base + offset,
                                                                length ? length : limit - base - offset))
                        return false;
                }
            }
        }
    }
    return true;
}

class HeifDecoder final : public Decoder {
public:
    explicit HeifDecoder(QByteArray data) : m_data(std::move(data)), m_context(heif_context_alloc()) {
        if (!m_context || !heifExtentsInside(m_data))
            return;
        const heif_error read = heif_context_read_from_memory_without_copy(
            m_context.get(), m_data.constData(), size_t(m_data.size()), nullptr);
        if (read.code != heif_error_Ok)
            return;
        heif_image_handle *handle = nullptr;
        if (heif_context_get_primary_image_handle(m_context.get(), &handle).code == heif_error_Ok)
            m_handle.reset(handle);
    }

    std::optional<QSize> storedSize() override {
        if (!m_handle)
            return std::nullopt;
        const QSize size(heif_image_handle_get_ispe_width(m_handle.get()),
                         heif_image_handle_get_ispe_height(m_handle.get()));
        if (size.width() < 1 || size.height() < 1)
            return std::nullopt;
        return size;
    }

    QImage decode(int) override {
        const auto size = storedSize();
        // libheif cannot decode into a smaller size: refuse what would not fit in memory.
        if (!size || double(size->width()) * double(size->height()) > double(maximumPixels))
            return {};
        const bool alpha = heif_image_handle_has_alpha_channel(m_handle.get());
        std::unique_ptr<heif_decoding_options, decltype(&heif_decoding_options_free)> options(
            heif_decoding_options_alloc(), &heif_decoding_options_free);
        if (!options)
            return {};
        options->convert_hdr_to_8bit = 1;
        heif_image *image = nullptr;
        const heif_error decoded = heif_decode_image(
            m_handle.get(), &image, heif_colorspace_RGB,
            alpha ? heif_chroma_interleaved_RGBA : heif_chroma_interleaved_RGB, options.get());
        if (decoded.code != heif_error_Ok || !image) {
            if (image)
                heif_image_release(image);
            return {};
        }
        int stride = 0;
        const uint8_t *plane = heif_image_get_plane_readonly(image, heif_channel_interleaved, &stride);
        const int width = heif_image_get_width(image, heif_channel_interleaved);
        const int height = heif_image_get_height(image, heif_channel_interleaved);
        if (!plane || width < 1 || height < 1 || stride < 1) {
            heif_image_release(image);
            return {};
        }
        // The image keeps libheif's pixels until it is destroyed: no copy of up to 400 MB.
        QImage result(
            plane, width, height, stride, alpha ? QImage::Format_RGBA8888 : QImage::Format_RGB888,
            [](void *info) { heif_image_release(static_cast<heif_image *>(info)); }, image);
        if (result.isNull())
            heif_image_release(image);
        return result;
    }

private:
    struct ContextFree {
        void operator()(heif_context *context) const { heif_context_free(context); }
    };
    struct HandleRelease {
        void operator()(heif_image_handle *handle) const { heif_image_handle_release(handle); }
    };

    QByteArray m_data; // read in place by the context
    std::unique_ptr<heif_context, ContextFree> m_context;
    std::unique_ptr<heif_image_handle, HandleRelease> m_handle;
};

std::optional<QByteArray> encodePng(const QImage &image) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    if (!buffer.open(QIODevice::WriteOnly))
        return std::nullopt;
    QImageWriter writer(&buffer, QByteArrayLiteral("png"));
    if (!writer.write(image))
        return std::nullopt;
    buffer.close();
    return bytes;
}

Image render(const QImage &decoded, int longestEdge) {
    if (decoded.isNull())
        throw AppFailure::message(kNotProcessed);
    const QImage image = fitted(decoded, longestEdge);
    if (image.isNull() || !supportedDimensions(image.width(), image.height()))
        throw AppFailure::message(kNotProcessed);
    auto png = encodePng(image);
    if (!png)
        throw AppFailure::message(kNotProcessed);
    return Image{std::move(*png), image.width(), image.height()};
}

Review reviewSource(Decoder &decoder, qint64 cloudLimit, const CancelCheck &isCancelled) {
    if (cloudLimit < 1)
        throw AppFailure::message(kNoResolution);
    const auto size = decoder.storedSize();
    if (!size)
        throw AppFailure::message(kNoResolution);

    Review review;
    review.width = size->width();
    review.height = size->height();
    const int longest = std::max(review.width, review.height);
    const int start = std::min(longest, kLargestReducedEdge);

    // Every reduced copy is made from this one decode, never from the source again.
    QImage base;
    // A copy at the original's own size would be the same PNG again, known to be too large.
    int knownTooLarge = 0;
    if (supportedDimensions(review.width, review.height)) {
        QImage full = eightBit(decoder.decode(longest));
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
        base = eightBit(decoder.decode(start));
        if (base.isNull())
            throw AppFailure::message(kNotProcessed);
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

std::unique_ptr<Decoder> makeDecoder(Format format, QIODevice *device, const QByteArray &bytes) {
    if (format == Format::Heic)
        return std::make_unique<HeifDecoder>(bytes);
    return std::make_unique<QtDecoder>(device, format);
}

// Opens without blocking on a pipe or a device; the caller checks the kind of file on the open
// descriptor, so the name cannot be swapped between check and read.
int openForReading(const QString &filePath, int extraFlags) {
    if (filePath.isEmpty()) {
        errno = ENOENT;
        return -1;
    }
    return ::open(QFile::encodeName(filePath).constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | extraFlags);
}

} // namespace

QByteArray rasterFormat(QByteArrayView head) {
    static const char *const names[] = {"png", "jpeg", "tiff", "heic"};
    const auto format = sniffFormat(head);
    return format ? QByteArray(names[int(*format)]) : QByteArray();
}

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
    return width >= 1 && width <= maximumEdge && height >= 1 && height <= maximumEdge &&
           double(width) * double(height) <= double(maximumPixels);
}

Review review(const QByteArray &data, qint64 cloudLimit, const CancelCheck &isCancelled) {
    validateSourceSize(data.size());
    const auto format = sniffFormat(data);
    if (!format)
        throw AppFailure::message(kUnknownFormat);
    QBuffer buffer;
    buffer.setData(data);
    if (!buffer.open(QIODevice::ReadOnly))
        throw AppFailure::message(kNotProcessed);
    const auto decoder = makeDecoder(*format, &buffer, data);
    return reviewSource(*decoder, cloudLimit, isCancelled);
}

Review review(const QString &filePath, const CancelCheck &isCancelled) {
    const int fd = openForReading(filePath, 0);
    if (fd < 0)
        throw AppFailure::message(kFileUnreadable);
    QFile file;
    if (!file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        throw AppFailure::message(kFileUnreadable);
    }
    struct stat status {};
    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode))
        throw AppFailure::message(kFileUnreadable);
    validateSourceSize(status.st_size);

    const auto format = sniffFormat(file.peek(4096));
    if (!format)
        throw AppFailure::message(kUnknownFormat);
    QByteArray bytes;
    if (*format == Format::Heic) {
        // No more than was measured: the file may grow while it is read.
        bytes = file.read(status.st_size);
        if (bytes.isEmpty())
            throw AppFailure::message(kFileUnreadable);
    }
    const auto decoder = makeDecoder(*format, &file, bytes);
    return reviewSource(*decoder, maximumCloudBytes, isCancelled);
}

void validateCloudPNG(const QString &filePath) {
    // A symbolic link is refused even when it points at a valid PNG.
    const int fd = openForReading(filePath, O_NOFOLLOW);
    if (fd < 0)
        throw AppFailure::message(errno == ELOOP ? kCloudRefused : kFileUnreadable);
    QFile file;
    if (!file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        throw AppFailure::message(kFileUnreadable);
    }
    struct stat status {};
    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode) || status.st_size < 1 ||
        status.st_size > maximumCloudBytes)
        throw AppFailure::message(kCloudRefused);
    if (sniffFormat(file.peek(16)) != Format::Png)
        throw AppFailure::message(kCloudRefused);
    QtDecoder decoder(&file, Format::Png);
    const auto size = decoder.storedSize();
    if (!size || !supportedDimensions(size->width(), size->height()))
        throw AppFailure::message(kCloudRefused);
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
