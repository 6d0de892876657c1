#include "imaging/ImageDecoder.h"

#include "imaging/AreaScaler.h"
#include "imaging/ImageImport.h"
#include "imaging/ImageSources.h"
#include "imaging/PngEncoder.h"
#include "imaging/RegularFile.h"

#include <QBuffer>
#include <QImageReader>
#include <QTransform>

#include <libheif/heif.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <utility>

namespace Imaging {

namespace {

// A few screenshots at a time; an image of more than 32 megapixels is decoded alone.
constexpr qint64 kPixelShare = 256'000'000;

QByteArray formatName(Format format) {
    switch (format) {
    case Png:
        return QByteArrayLiteral("png");
    case Jpeg:
        return QByteArrayLiteral("jpeg");
    case Tiff:
        return QByteArrayLiteral("tiff");
    case Bmp:
        return QByteArrayLiteral("bmp");
    case Gif:
        return QByteArrayLiteral("gif");
    case Heic:
        break;
    }
    return {};
}

// Reads a device front to back in blocks, for the checks that walk a file's structure.
class ByteStream {
public:
    explicit ByteStream(QIODevice *device) : m_device(device) {}

    // The next byte, or -1 at the end.
    int next() {
        if (m_at == m_buffer.size() && !refill())
            return -1;
        return uchar(m_buffer[m_at++]);
    }
    bool skip(qint64 count) {
        while (count > 0) {
            if (m_at == m_buffer.size() && !refill())
                return false;
            const qint64 step = std::min<qint64>(count, m_buffer.size() - m_at);
            m_at += step;
            count -= step;
        }
        return true;
    }
    // Moves on to the next 0xFF byte without taking it; false when there is none.
    bool findFF() {
        for (;;) {
            if (m_at == m_buffer.size() && !refill())
                return false;
            const char *begin = m_buffer.constData() + m_at;
            if (const void *hit = std::memchr(begin, 0xFF, size_t(m_buffer.size() - m_at))) {
                m_at += static_cast<const char *>(hit) - begin;
                return true;
            }
            m_at = m_buffer.size();
        }
    }

private:
    bool refill() {
        m_buffer = m_device->read(1 << 16);
        m_at = 0;
        return !m_buffer.isEmpty();
    }

    QIODevice *m_device;
    QByteArray m_buffer;
    qsizetype m_at = 0;
};

// libjpeg fills the rows after a premature end with grey, after doing all the work of a full
// decode. The stream is complete when its end-of-image marker follows every segment and every
// scan; inside a scan 0xFF is always followed by a stuffed 0x00 or a restart marker.
bool jpegComplete(ByteStream &in) {
    if (in.next() != 0xFF || in.next() != 0xD8)
        return false;
    int marker = -1; // a marker already read at the end of a scan
    for (;;) {
        if (marker < 0) {
            if (in.next() != 0xFF)
                return false;
            do
                marker = in.next();
            while (marker == 0xFF);
        }
        if (marker < 0)
            return false;
        if (marker == 0xD9)
            return true;
        const int code = std::exchange(marker, -1);
        if (code == 0x01 || (code >= 0xD0 && code <= 0xD7))
            continue;
        const int high = in.next(), low = in.next();
        const int length = high << 8 | low;
        if (high < 0 || low < 0 || length < 2 || !in.skip(length - 2))
            return false;
        if (code != 0xDA)
            continue;
        while (marker < 0) {
            if (!in.findFF())
                return false;
            in.next();
            int after = 0;
            do
                after = in.next();
            while (after == 0xFF);
            if (after < 0)
                return false;
            if (after != 0x00 && !(after >= 0xD0 && after <= 0xD7))
                marker = after;
        }
    }
}

// Qt allocates a PNG's full image before it finds out that the data stops short. Every chunk must
// lie inside the data, up to the closing IEND chunk; only the chunk headers are read.
bool pngComplete(QIODevice *device) {
    const qint64 start = device->pos();
    qint64 at = start + 8;
    for (;;) {
        if (!device->seek(at))
            return false;
        const QByteArray header = device->read(8);
        if (header.size() < 8)
            return false;
        const quint32 length = quint32(uchar(header[0])) << 24 | quint32(uchar(header[1])) << 16 |
                               quint32(uchar(header[2])) << 8 | uchar(header[3]);
        if (length > 0x7FFFFFFFu)
            return false;
        at += 8 + qint64(length) + 4;
        if (at > device->size())
            return false;
        if (header.mid(4) == "IEND")
            return true;
    }
}

// Whether a chunk of `type` comes before the image data; only chunk headers are read, from the
// device's position at the PNG's start, which is put back.
bool pngChunkBeforeData(QIODevice *device, QByteArrayView type) {
    const qint64 start = device->pos();
    qint64 at = start + 8;
    bool found = false;
    for (;;) {
        if (!device->seek(at))
            break;
        const QByteArray header = device->read(8);
        if (header.size() < 8 || header.mid(4) == "IDAT")
            break;
        if (header.mid(4) == type) {
            found = true;
            break;
        }
        const quint32 length = quint32(uchar(header[0])) << 24 | quint32(uchar(header[1])) << 16 |
                               quint32(uchar(header[2])) << 8 | uchar(header[3]);
        at += 8 + qint64(length) + 4;
    }
    device->seek(start);
    return found;
}

// The image turned and mirrored as the file's orientation says, the way Qt's reader does it.
QImage transformed(QImage image, QImageIOHandler::Transformations transformation) {
    if (image.isNull() || transformation == QImageIOHandler::TransformationNone)
        return image;
    if (transformation == QImageIOHandler::TransformationRotate270)
        return image.transformed(QTransform().rotate(270));
    image = std::move(image).mirrored(transformation & QImageIOHandler::TransformationMirror,
                                      transformation & QImageIOHandler::TransformationFlip);
    if (transformation & QImageIOHandler::TransformationRotate90)
        image = image.transformed(QTransform().rotate(90));
    return image;
}

class QtSource final : public Decoder::Source {
public:
    // `bytes`, when not null, are what the device reads.
    QtSource(QIODevice *device, Format format, const QByteArray &bytes)
        : m_device(device), m_start(device->pos()), m_format(format), m_bytes(bytes),
          m_reader(device, formatName(format)) {
        ImageImport::raiseAllocationLimit();
        m_reader.setAutoDetectImageFormat(false);
        m_reader.setAutoTransform(true);
        if (format == Gif)
            m_gifScreen = gifScreen(device->peek(10));
        if (format == Png) {
            const QByteArray header = device->peek(33);
            m_wideSize = widePngSize(header);
            m_interlaced = header.size() >= 33 && header[28] != 0;
            // Qt 6.4 reads a 16-bit RGB PNG with a transparent colour into RGBA rows without
            // expanding them: every pixel after the first comes out shifted, interlaced or not.
            m_qtMisreads = header.size() >= 33 && header[24] == 16 && header[25] == 2 &&
                           pngChunkBeforeData(device, "tRNS");
        }
    }

    std::optional<QSize> storedSize() override {
        // Qt's reader would only complain about such a header.
        if (m_wideSize)
            return m_wideSize;
        QSize size = m_reader.size();
        if (!size.isValid() || size.width() < 1 || size.height() < 1)
            return std::nullopt;
        if (m_format == Gif) {
            if (!m_gifScreen)
                return std::nullopt;
            // Qt states the first frame's size but paints the frame onto the whole logical screen.
            size = size.expandedTo(*m_gifScreen);
        }
        return size;
    }

    qint64 fullBytes() override {
        const auto size = storedSize();
        if (!size)
            return 0;
        const QImage::Format format = m_reader.imageFormat();
        const qint64 bits =
            format == QImage::Format_Invalid ? 32 : QImage::toPixelFormat(format).bitsPerPixel();
        // Rows are padded to 32 bits.
        return (qint64(size->width()) * bits + 31) / 32 * 4 * size->height();
    }

    bool scalesWhileDecoding() override {
        switch (m_format) {
        case Jpeg:
            return jpegLines().usable();
        case Png:
            return true;
        case Tiff:
            return tiffBands().usable();
        default:
            return false;
        }
    }

    qint64 scaledBytes(QSize target) override {
        switch (m_format) {
        case Jpeg:
            return jpegLines().heldBytes(target);
        case Png: {
            const auto size = storedSize();
            return size ? scaledPngBytes(*size, m_interlaced, target) : 0;
        }
        case Tiff:
            return tiffBands().heldBytes(target);
        default:
            return 0;
        }
    }

    bool complete() override {
        if (m_format != Png && m_format != Jpeg)
            return true;
        const qint64 position = m_device->pos();
        bool whole = false;
        if (m_device->seek(m_start)) {
            if (m_format == Png) {
                whole = pngComplete(m_device);
            } else {
                ByteStream stream(m_device);
                whole = jpegComplete(stream);
            }
        }
        return m_device->seek(position) && whole;
    }

    QImage read(QSize scaled, BandedRead &progress) override {
        if (!scaled.isValid()) {
            // Qt reads a 16-bit RGB PNG with a transparent colour wrongly, and takes the alpha of TIFFs
            // by rules of its own: every TIFF with alpha comes through one reader at every size.
            if ((m_format == Png && m_qtMisreads) ||
                (m_format == Tiff && tiffBands().usable() && tiffBands().hasAlpha())) {
                if (const auto size = storedSize())
                    scaled = *size;
            }
        }
        if (scaled.isValid() && scalesWhileDecoding()) {
            // Qt's reader scales only 8-bit colour PNGs itself, averaging alpha unweighted, and
            // other kinds after decoding them whole, with their palettes lost below half the size;
            // it reads JPEGs in one go, whatever they hold meanwhile, and asks no cancellation.
            switch (m_format) {
            case Png:
                if (!m_device->seek(m_start))
                    return {};
                return readScaledPng(m_device, scaled, progress);
            case Tiff: {
                QImage image = transformed(tiffBands().read(scaled, progress), m_reader.transformation());
                // Its buffers and the stored strip it read go now, before the copies are made.
                m_tiffBands.reset();
                return image;
            }
            case Jpeg:
                return transformed(jpegLines().read(scaled, progress), m_reader.transformation());
            default:
                break;
            }
        }
        QImage image;
        // A PNG that fails part way still hands back the rows it had: only the result counts.
        if (!m_reader.read(&image))
            return {};
        return image;
    }

private:
    // The logical screen a GIF's header states in bytes 6 to 9, little-endian.
    static std::optional<QSize> gifScreen(const QByteArray &header) {
        if (header.size() < 10)
            return std::nullopt;
        const auto at = [&](int i) { return int(uchar(header[i])) | int(uchar(header[i + 1])) << 8; };
        return QSize(at(6), at(8));
    }

    // The band readers open the image from its start, each when first asked.
    TiffBands &tiffBands() {
        if (!m_tiffBands) {
            const qint64 position = m_device->pos();
            m_device->seek(m_start);
            m_tiffBands = std::make_unique<TiffBands>(m_device, m_bytes);
            m_device->seek(position);
        }
        return *m_tiffBands;
    }
    JpegLines &jpegLines() {
        if (!m_jpegLines) {
            const qint64 position = m_device->pos();
            m_device->seek(m_start);
            m_jpegLines = std::make_unique<JpegLines>(m_device);
            m_device->seek(position);
        }
        return *m_jpegLines;
    }

    QIODevice *m_device;
    qint64 m_start;
    Format m_format;
    QByteArray m_bytes;
    QImageReader m_reader;
    std::optional<QSize> m_gifScreen;
    bool m_qtMisreads = false;
    std::optional<QSize> m_wideSize; // of a PNG beyond what libpng takes by default
    bool m_interlaced = false;
    std::unique_ptr<TiffBands> m_tiffBands;
    std::unique_ptr<JpegLines> m_jpegLines;
};

// Copies and stored snips are 8 bits a channel: Qt decodes 16-bit PNG and TIFF at eight bytes a
// pixel, and every later copy would be twice the size. An opaque image converts in place.
QImage eightBit(QImage image) {
    if (image.isNull() || image.depth() <= 32)
        return image;
    image.convertTo(image.hasAlphaChannel() ? QImage::Format_ARGB32 : QImage::Format_RGB32);
    return image;
}

// A palette image as 32-bit pixels, ready to be scaled and drawn: Qt's smooth scaling below half
// the size drops a 1-bit image's palette and ignores the alpha of an indexed one. Null when memory
// runs out.
QImage withoutPalette(QImage image) {
    switch (image.format()) {
    case QImage::Format_Mono:
    case QImage::Format_MonoLSB:
    case QImage::Format_Indexed8:
        return image.convertToFormat(image.hasAlphaChannel() ? QImage::Format_ARGB32 : QImage::Format_RGB32);
    default:
        return image;
    }
}

// The image at full size through decode() and withoutPalette(); null with *problem set, which
// is TooLarge when only the conversion ran out of memory.
QImage wholeImage(Decoder &decoder, qint64 maximumSide, Problem *problem) {
    QImage image = withoutPalette(decoder.decode(0, maximumSide));
    if (problem)
        *problem =
            image.isNull() && decoder.problem() == Problem::None ? Problem::TooLarge : decoder.problem();
    return image;
}

struct PixelShare {
    std::mutex mutex;
    std::condition_variable released;
    qint64 inUse = 0;
};

PixelShare &pixelShare() {
    static PixelShare share;
    return share;
}

thread_local bool tHoldsReservation = false;

// Whether decode(longestEdge) makes a smaller copy of an image of `size`.
bool shrinks(QSize size, int longestEdge) {
    return longestEdge > 0 && std::max(size.width(), size.height()) > longestEdge;
}

// Whether decode(longestEdge) takes an image of that many pixels: a smaller copy is made from up to
// maximumReducedSourcePixels, an image at its own size has at most maximumPixels. Asked before any
// size in bytes is worked out, so those stay far inside 64 bits whatever a header claims.
bool pixelCountTaken(QSize size, int longestEdge) {
    return double(size.width()) * double(size.height()) <=
           double(shrinks(size, longestEdge) ? ImageImport::maximumReducedSourcePixels
                                             : ImageImport::maximumPixels);
}

std::atomic<qint64> gHeldPixelBytes = 0;
std::atomic<qint64> gPeakPixelBytes = 0;

} // namespace

void HeldPixels::resize(qint64 bytes) {
    const qint64 now = gHeldPixelBytes += bytes - std::exchange(m_bytes, bytes);
    for (qint64 peak = gPeakPixelBytes; now > peak && !gPeakPixelBytes.compare_exchange_weak(peak, now);) {
    }
}

qint64 peakPixelBytes() {
    return gPeakPixelBytes;
}

void resetPeakPixelBytes() {
    gPeakPixelBytes = gHeldPixelBytes.load();
}

std::optional<Format> sniffFormat(QByteArrayView head) {
    if (head.startsWith(QByteArrayView("\x89PNG\r\n\x1a\n", 8)))
        return Png;
    if (head.startsWith(QByteArrayView("\xff\xd8\xff", 3)))
        return Jpeg;
    if (head.startsWith(QByteArrayView("II*\0", 4)) || head.startsWith(QByteArrayView("MM\0*", 4)))
        return Tiff;
    if (head.startsWith("GIF87a") || head.startsWith("GIF89a"))
        return Gif;
    if (head.size() >= 14 && head.startsWith("BM"))
        return Bmp;
    if (head.size() >= 12) {
        const auto *bytes = reinterpret_cast<const uint8_t *>(head.data());
        const int length = int(std::min<qsizetype>(head.size(), 4096));
        const char *mime = heif_get_file_mime_type(bytes, length);
        // Brand "heic" (HEVC-coded stills), also when it is only listed beside a generic "mif1".
        if (mime && (std::strcmp(mime, "image/heic") == 0 ||
                     (std::strcmp(mime, "image/heif") == 0 &&
                      (heif_has_compatible_brand(bytes, length, "heic") == 1 ||
                       heif_has_compatible_brand(bytes, length, "heix") == 1))))
            return Heic;
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

PixelReservation::PixelReservation(qint64 bytes) {
    if (tHoldsReservation)
        return;
    m_bytes = std::max<qint64>(bytes, 1);
    PixelShare &share = pixelShare();
    std::unique_lock lock(share.mutex);
    // Whoever holds a share is decoding and gives it back without waiting for anything.
    share.released.wait(lock, [&] { return share.inUse == 0 || share.inUse + m_bytes <= kPixelShare; });
    share.inUse += m_bytes;
    tHoldsReservation = true;
}

PixelReservation::~PixelReservation() {
    if (m_bytes == 0)
        return;
    PixelShare &share = pixelShare();
    {
        std::lock_guard lock(share.mutex);
        share.inUse -= m_bytes;
    }
    tHoldsReservation = false;
    share.released.notify_all();
}

Decoder::Decoder(const QByteArray &bytes, Formats accepted) {
    auto buffer = std::make_unique<QBuffer>();
    buffer->setData(bytes);
    buffer->open(QIODevice::ReadOnly);
    m_buffer = std::move(buffer);
    open(m_buffer.get(), accepted, bytes);
}

Decoder::Decoder(QIODevice *device, Formats accepted) {
    open(device, accepted, {});
}

Decoder::~Decoder() = default;

void Decoder::open(QIODevice *device, Formats accepted, const QByteArray &bytes) {
    m_format = sniffFormat(device->peek(4096));
    if (!m_format || !(*m_format & accepted)) {
        m_format.reset();
        fail(Problem::UnknownFormat);
        return;
    }
    if (*m_format == Heic) {
        // No more than any image may be: a file may grow while it is read.
        const QByteArray whole = bytes.isNull() ? device->read(ImageImport::maximumSourceBytes) : bytes;
        if (whole.isEmpty()) {
            fail(Problem::Unreadable);
            return;
        }
        m_source = makeHeifSource(whole);
    } else {
        m_source = std::make_unique<QtSource>(device, *m_format, bytes);
    }
}

void Decoder::fail(Problem problem) {
    if (m_problem == Problem::None)
        m_problem = problem;
}

std::optional<QSize> Decoder::storedSize() {
    if (m_problem != Problem::None)
        return std::nullopt;
    const auto size = m_source->storedSize();
    if (!size)
        fail(Problem::NoSize);
    return size;
}

qint64 Decoder::decodedBytes(int longestEdge) {
    const auto size = storedSize();
    if (!size || !pixelCountTaken(*size, longestEdge))
        return 0;
    if (shrinks(*size, longestEdge)) {
        const QSize scaled = fittedSize(*size, longestEdge);
        return m_source->scalesWhileDecoding()
                   ? m_source->scaledBytes(scaled)
                   : m_source->fullBytes() + qint64(scaled.width()) * scaled.height() * 4;
    }
    return std::max(qint64(size->width()) * size->height() * 4, m_source->fullBytes());
}

QImage Decoder::decode(int longestEdge, qint64 maximumSide) {
    const auto size = storedSize();
    if (!size)
        return {};
    const bool smaller = shrinks(*size, longestEdge);
    if (!pixelCountTaken(*size, longestEdge) ||
        (longestEdge <= 0 && !ImageImport::withinPixelLimits(size->width(), size->height(), maximumSide))) {
        fail(Problem::TooLarge);
        return {};
    }
    // Asked only now: a TIFF opens its directory and a JPEG reads its header to answer.
    const bool scales = smaller && m_source->scalesWhileDecoding();
    const qint64 needed = decodedBytes(longestEdge);
    if (smaller && needed > ImageImport::reductionBudget) {
        fail(Problem::TooLarge);
        return {};
    }
    if (!m_source->complete()) {
        fail(Problem::Unreadable);
        return {};
    }
    const PixelReservation reservation(needed);
    BandedRead progress{m_cancelCheck};
    QImage image = m_source->read(scales ? fittedSize(*size, longestEdge) : QSize(), progress);
    if (progress.stopped) {
        fail(Problem::Cancelled);
        return {};
    }
    // A source that could not scale while decoding came whole; it shrinks here, its palette and
    // alpha kept.
    const HeldPixels whole(scales ? 0 : image.sizeInBytes());
    if (smaller && !image.isNull()) {
        const QSize target = fittedSize(image.size(), longestEdge);
        if (image.size() != target)
            image = shrunk(image, target);
    }
    image = eightBit(std::move(image));
    if (image.isNull())
        fail(Problem::Unreadable);
    return image;
}

QImage decode(const QByteArray &bytes, Formats accepted, Problem *problem, qint64 maximumSide) {
    Decoder decoder(bytes, accepted);
    return wholeImage(decoder, maximumSide, problem);
}

QImage decodeFile(const QString &path, Formats accepted, Problem *problem) {
    try {
        RegularFile file(path);
        Decoder decoder(file.device(), accepted);
        return wholeImage(decoder, ImageImport::maximumEdge, problem);
    } catch (const RegularFile::Failure &) {
        if (problem)
            *problem = Problem::Unreadable;
        return {};
    }
}

QByteArray reencodeAsPng(QByteArray bytes, Formats accepted, Problem *problem) {
    std::optional<Decoder> decoder(std::in_place, bytes, accepted);
    // The decoded image and its PNG are held together.
    const PixelReservation reservation(decoder->decodedBytes() * 2);
    QImage image = decoder->decode();
    const Problem found = decoder->problem();
    decoder.reset();
    bytes = QByteArray();
    QByteArray png = image.isNull() ? QByteArray() : encodePng(image, PngEffort::Compact);
    if (problem)
        *problem = found != Problem::None || !png.isEmpty() ? found : Problem::Unreadable;
    return png;
}

} // namespace Imaging
