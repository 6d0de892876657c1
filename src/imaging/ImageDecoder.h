#pragma once

#include "imaging/ImageImport.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QImage>
#include <QSize>
#include <QString>

#include <memory>
#include <optional>

class QIODevice;

// The one way images are decoded, by every path that reads them (stored snips, captures, imports,
// pastes, project files, export): the content names the format, never a file name; the size in
// the header is checked before any pixel is decoded; data that ends before its last row is
// refused; what comes out is upright (the stored orientation applied) and 8 bits a channel; and
// large decodes wait for each other, so only a bounded amount of pixel memory is being decoded
// at any time. Thread-safe.
namespace Imaging {

enum Format : unsigned {
    Png = 1,
    Jpeg = 2,
    Tiff = 4,
    Heic = 8,
    Bmp = 16,
    Gif = 32,
};
using Formats = unsigned;
// What snips may come in as. BMP and GIF are taken only from the clipboard.
inline constexpr Formats kSnipFormats = Png | Jpeg | Tiff | Heic;

enum class Problem {
    None,
    UnknownFormat, // the content is none of the accepted formats
    NoSize,        // the header states no usable pixel size
    TooLarge,      // beyond the limits, or too large to decode in memory
    Unreadable,    // broken or truncated data, or a file that could not be read
    Cancelled,     // the cancel check said stop
};

// The format the first bytes of an image name, of all the formats above.
std::optional<Format> sniffFormat(QByteArrayView head);

// One image source. Each step may fail; problem() then says why and the later steps fail too.
class Decoder {
public:
    // The bytes of an image, or an open device positioned at its start (read whole for HEIC).
    Decoder(const QByteArray &bytes, Formats accepted);
    Decoder(QIODevice *device, Formats accepted);
    ~Decoder();
    Decoder(const Decoder &) = delete;
    Decoder &operator=(const Decoder &) = delete;

    Problem problem() const { return m_problem; }
    std::optional<Format> format() const { return m_format; }

    // The pixel size the header states, before any orientation; nothing is decoded.
    std::optional<QSize> storedSize();

    // About how many bytes decode(longestEdge) holds at its peak; 0 when it would fail.
    qint64 decodedBytes(int longestEdge = 0);

    // Decodes the first image. With longestEdge 0 the image comes at its full size, which must
    // be within the limits: sides up to maximumSide, ImageImport::maximumPixels in all. With a
    // longer stored edge than longestEdge, the image comes with its longest edge at longestEdge,
    // the area of the source averaged, from at most ImageImport::maximumReducedSourcePixels: PNG,
    // JPEG and TIFF in strips or tiles are scaled while they decode (the full size never sits in
    // memory), others are decoded whole first. Either way a source whose decoding would hold more
    // than ImageImport::reductionBudget is TooLarge, known from its header. Null on failure.
    QImage decode(int longestEdge = 0, qint64 maximumSide = ImageImport::maximumEdge);

    // Asked between the bands of rows of a source that is scaled while it decodes, and while the
    // scans of a progressive JPEG are taken in; true stops it, and the problem is then Cancelled.
    void setCancelCheck(ImageImport::CancelCheck check) { m_cancelCheck = std::move(check); }

    class Source;

private:
    void open(QIODevice *device, Formats accepted, const QByteArray &bytes);
    void fail(Problem problem);

    std::unique_ptr<QIODevice> m_buffer; // the bytes' device; outlives the source reading it
    std::unique_ptr<Source> m_source;
    std::optional<Format> m_format;
    Problem m_problem = Problem::None;
    ImageImport::CancelCheck m_cancelCheck;
};

// The most bytes of pixel buffers that decodes held at once since the last reset: decoded images,
// the rows and bands being read and the smaller copies being made from them, added over all
// threads. For tests and benchmarks.
qint64 peakPixelBytes();
void resetPeakPixelBytes();

// A share of the pixel memory that decodes may use at once, held while a decoded image is worked
// on. A reservation larger than the whole share waits until it runs alone. decode() makes one
// for itself unless the calling thread holds one already.
class PixelReservation {
public:
    explicit PixelReservation(qint64 bytes);
    ~PixelReservation();
    PixelReservation(const PixelReservation &) = delete;
    PixelReservation &operator=(const PixelReservation &) = delete;

private:
    qint64 m_bytes = 0; // 0: nested in a reservation of the same thread
};

// The size with its longest edge at most longestEdge, the aspect kept (each side at least 1).
QSize fittedSize(QSize size, int longestEdge);

// The image at full size, ready to be shown, scaled and drawn on (a palette image as 32-bit
// pixels), or a null image with *problem set. Sides may be up to maximumSide.
QImage decode(const QByteArray &bytes, Formats accepted, Problem *problem = nullptr,
              qint64 maximumSide = ImageImport::maximumEdge);
// The same for a file, read only when it is a regular file; a file that cannot be read is
// Unreadable.
QImage decodeFile(const QString &path, Formats accepted, Problem *problem = nullptr);

// The image as a new compact PNG at full size, decoded and encoded within one pixel reservation;
// empty with *problem set on failure. The bytes are let go of before the encoding starts.
QByteArray reencodeAsPng(QByteArray bytes, Formats accepted, Problem *problem = nullptr);

} // namespace Imaging
