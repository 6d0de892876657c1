// A smaller copy of a TIFF read a band of rows at a time through libtiff.
#include "imaging/ImageSources.h"

#include "imaging/AreaScaler.h"

#include <QColorSpace>
#include <QIODevice>

#include <tiffio.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <vector>

namespace Imaging {

namespace {

// One band of decoded RGBA rows, and anything libtiff allocates at once for decoded pixels, stays
// below this.
constexpr qint64 kLargestBand = 64 * 1024 * 1024;
// Bands of at least this many rows, so files of one row a strip are not read a row at a time.
constexpr quint32 kShortestBand = 64;

// Beyond this many strips or tiles they are not measured one by one: the file's size bounds each.
constexpr quint32 kMostUnitsCounted = 1 << 20;

struct Stream {
    QIODevice *device;
    qint64 start;
    QByteArray bytes; // what the device reads, when it is held in memory already
};

tmsize_t readProc(thandle_t handle, void *data, tmsize_t size) {
    return tmsize_t(static_cast<Stream *>(handle)->device->read(static_cast<char *>(data), qint64(size)));
}

tmsize_t writeProc(thandle_t, void *, tmsize_t) {
    return 0;
}

toff_t seekProc(thandle_t handle, toff_t offset, int whence) {
    auto *stream = static_cast<Stream *>(handle);
    qint64 to = 0;
    switch (whence) {
    case SEEK_SET:
        to = stream->start + qint64(offset);
        break;
    case SEEK_CUR:
        to = stream->device->pos() + qint64(offset);
        break;
    case SEEK_END:
        to = stream->device->size() + qint64(offset);
        break;
    default:
        return toff_t(-1);
    }
    if (to < stream->start || !stream->device->seek(to))
        return toff_t(-1);
    return toff_t(to - stream->start);
}

int closeProc(thandle_t) {
    return 0;
}

toff_t sizeProc(thandle_t handle) {
    auto *stream = static_cast<Stream *>(handle);
    return toff_t(std::max<qint64>(0, stream->device->size() - stream->start));
}

// libtiff reads strips straight from bytes that are in memory already, instead of copying each.
int mapBytes(thandle_t handle, void **base, toff_t *size) {
    auto *stream = static_cast<Stream *>(handle);
    if (stream->bytes.isNull() || stream->start > stream->bytes.size())
        return 0;
    *base = const_cast<char *>(stream->bytes.constData() + stream->start);
    *size = toff_t(stream->bytes.size() - stream->start);
    return 1;
}

void noUnmapping(thandle_t, void *, toff_t) {}

// Broken files are expected here; their complaints stay out of the application's output.
int quiet(TIFF *, void *, const char *, const char *, va_list) {
    return 1;
}

// RGBA from libtiff, red in the lowest byte, as the scaler takes it: premultiplied, once, where
// libtiff hands the colour over as stored and it was stored straight; stored premultiplied values
// are kept to what their alpha allows.
void toPixels(const quint32 *in, QRgb *out, int width, bool straight) {
    for (int x = 0; x < width; ++x) {
        const int alpha = int(TIFFGetA(in[x]));
        const int red = int(TIFFGetR(in[x])), green = int(TIFFGetG(in[x])), blue = int(TIFFGetB(in[x]));
        out[x] = straight ? qPremultiply(qRgba(red, green, blue, alpha))
                          : qRgba(std::min(red, alpha), std::min(green, alpha), std::min(blue, alpha), alpha);
    }
}

// Grey and alpha samples of 8 or 16 bits, handed over as stored: libtiff's own conversion drops
// the alpha of 16-bit ones and, in tiles cut off at the right, skips too few samples of 8-bit
// ones. `fromSkew` counts pixels, as in libtiff's conversions of colour samples.
void putGreyAndAlpha(TIFFRGBAImage *image, quint32 *out, quint32, quint32, quint32 width, quint32 height,
                     qint32 fromSkew, qint32 toSkew, unsigned char *in) {
    const bool wide = image->bitspersample == 16;
    const bool inverted = image->photometric == PHOTOMETRIC_MINISWHITE;
    const qint64 step = qint64(image->samplesperpixel) * (wide ? 2 : 1);
    const auto sample = [wide](const unsigned char *at, int index) {
        if (!wide)
            return int(at[index]);
        quint16 value = 0;
        std::memcpy(&value, at + 2 * index, 2);
        return (int(value) + 128) / 257;
    };
    for (; height > 0; --height) {
        for (quint32 x = 0; x < width; ++x, in += step) {
            const int grey = inverted ? 255 - sample(in, 0) : sample(in, 0);
            *out++ = quint32(grey) | quint32(grey) << 8 | quint32(grey) << 16 | quint32(sample(in, 1)) << 24;
        }
        out += toSkew;
        in += fromSkew * step;
    }
}

// libtiff's conversion to RGBA, closed on every way out, with the one rule for alpha: colours
// stored with associated alpha are premultiplied, every other kind (unassociated, unspecified or
// none stated) is straight and premultiplied once here, as Qt's reader takes them for the whole
// image.
struct RgbaImage {
    TIFFRGBAImage image{};
    bool begun = false;
    bool straight = false; // the colours come over as stored, straight
    ~RgbaImage() {
        if (begun)
            TIFFRGBAImageEnd(&image);
    }

    bool begin(TIFF *tiff) {
        char message[1024] = {};
        begun = TIFFRGBAImageBegin(&image, tiff, 1, message) == 1;
        if (!begun)
            return false;
        // The rows as stored, top to bottom: the caller turns the copy as the file says.
        image.req_orientation = image.orientation;
        quint16 count = 0;
        quint16 *kinds = nullptr;
        const int stored =
            TIFFGetField(tiff, TIFFTAG_EXTRASAMPLES, &count, &kinds) && count > 0 && kinds ? kinds[0] : -1;
        const bool greyAndAlpha =
            image.alpha != 0 && image.isContig && image.samplesperpixel == 2 &&
            (image.bitspersample == 8 || image.bitspersample == 16) &&
            (image.photometric == PHOTOMETRIC_MINISBLACK || image.photometric == PHOTOMETRIC_MINISWHITE);
        if (greyAndAlpha)
            image.put.contig = putGreyAndAlpha;
        // libtiff premultiplies unassociated colour samples itself and hands the rest over as stored.
        straight = image.alpha != 0 && stored != EXTRASAMPLE_ASSOCALPHA &&
                   !(stored == EXTRASAMPLE_UNASSALPHA && !greyAndAlpha);
        return true;
    }
};

} // namespace

struct TiffBands::Handle {
    Stream stream;
    TIFF *tiff = nullptr;
};

TiffBands::TiffBands(QIODevice *device, const QByteArray &bytes) : m_handle(std::make_unique<Handle>()) {
    m_handle->stream = {device, device->pos(), bytes};
    TIFFOpenOptions *options = TIFFOpenOptionsAlloc();
    if (!options)
        return;
    const qint64 available = std::max<qint64>(0, device->size() - device->pos());
    // A strip is read whole as it is stored before it is decoded, unless libtiff takes it from the
    // bytes in memory as they are: up to the data's size, in a buffer rounded up to whole kilobytes.
    TIFFOpenOptionsSetMaxSingleMemAlloc(options, std::max(kLargestBand, available + 1024));
    TIFFOpenOptionsSetErrorHandlerExtR(options, quiet, nullptr);
    TIFFOpenOptionsSetWarningHandlerExtR(options, quiet, nullptr);
    m_handle->tiff = TIFFClientOpenExt("image", "r", &m_handle->stream, readProc, writeProc, seekProc,
                                       closeProc, sizeProc, mapBytes, noUnmapping, options);
    TIFFOpenOptionsFree(options);
    device->seek(m_handle->stream.start);
    if (!m_handle->tiff)
        return;
    char message[1024] = {};
    quint32 width = 0, height = 0, unit = 0;
    TIFFGetField(m_handle->tiff, TIFFTAG_IMAGEWIDTH, &width);
    TIFFGetField(m_handle->tiff, TIFFTAG_IMAGELENGTH, &height);
    if (TIFFIsTiled(m_handle->tiff))
        TIFFGetField(m_handle->tiff, TIFFTAG_TILELENGTH, &unit);
    else
        TIFFGetFieldDefaulted(m_handle->tiff, TIFFTAG_ROWSPERSTRIP, &unit);
    const tmsize_t unitBytes =
        TIFFIsTiled(m_handle->tiff) ? TIFFTileSize(m_handle->tiff) : TIFFStripSize(m_handle->tiff);
    if (width < 1 || height < 1 || width > quint32(INT_MAX) || height > quint32(INT_MAX) || unit < 1 ||
        unitBytes < 1 || !TIFFRGBAImageOK(m_handle->tiff, message))
        return;
    // Bands start where strips or tiles start, so each is decoded once.
    unit = std::min(unit, height);
    const quint32 bandRows = unit * ((std::min(kShortestBand, height) + unit - 1) / unit);
    quint16 planar = PLANARCONFIG_CONTIG, samples = 1;
    TIFFGetFieldDefaulted(m_handle->tiff, TIFFTAG_PLANARCONFIG, &planar);
    TIFFGetFieldDefaulted(m_handle->tiff, TIFFTAG_SAMPLESPERPIXEL, &samples);
    if (unitBytes <= kLargestBand && qint64(width) * bandRows * 4 <= kLargestBand) {
        m_bandRows = bandRows;
        // Samples in separate planes come a strip of each plane at a time.
        m_unitBytes = unitBytes * (planar == PLANARCONFIG_SEPARATE ? samples : 1);
        finishOpening(QSize(int(width), int(height)), available);
        return;
    }
    // Larger strips libtiff decodes a row at a time, as long as its conversion to RGBA takes single
    // rows: samples interleaved, and no YCbCr subsampling other than JPEG's, which libjpeg undoes.
    quint16 photometric = 0, compression = COMPRESSION_NONE;
    quint16 horizontal = 1, vertical = 1;
    TIFFGetFieldDefaulted(m_handle->tiff, TIFFTAG_COMPRESSION, &compression);
    TIFFGetField(m_handle->tiff, TIFFTAG_PHOTOMETRIC, &photometric);
    TIFFGetFieldDefaulted(m_handle->tiff, TIFFTAG_YCBCRSUBSAMPLING, &horizontal, &vertical);
    const bool subsampled = photometric == PHOTOMETRIC_YCBCR && compression != COMPRESSION_JPEG &&
                            (horizontal != 1 || vertical != 1);
    const tmsize_t scanline = TIFFScanlineSize(m_handle->tiff);
    if (TIFFIsTiled(m_handle->tiff) || (planar == PLANARCONFIG_SEPARATE && samples > 1) || subsampled ||
        scanline < 1 || scanline > kLargestBand || qint64(width) * 4 > kLargestBand)
        return;
    m_unitBytes = scanline;
    finishOpening(QSize(int(width), int(height)), available);
}

void TiffBands::finishOpening(QSize size, qint64 available) {
    TIFF *tiff = m_handle->tiff;
    RgbaImage probe;
    if (!probe.begin(tiff))
        return;
    m_alpha = probe.image.alpha != 0;
    // A strip or tile is read whole before it is decoded, unless libtiff takes it from the bytes in
    // memory as they are (it copies those whose bits it must reverse).
    quint16 fillOrder = FILLORDER_MSB2LSB;
    TIFFGetFieldDefaulted(tiff, TIFFTAG_FILLORDER, &fillOrder);
    if (m_handle->stream.bytes.isNull() || fillOrder != FILLORDER_MSB2LSB) {
        const quint32 units = TIFFIsTiled(tiff) ? TIFFNumberOfTiles(tiff) : TIFFNumberOfStrips(tiff);
        qint64 largest = units > kMostUnitsCounted ? available : 0;
        for (quint32 unit = 0; unit < units && largest < available; ++unit)
            largest = std::max(largest, qint64(TIFFGetStrileByteCount(tiff, unit)));
        m_rawBytes = std::min(largest, available);
    }
    m_size = size;
}

qint64 TiffBands::heldBytes(QSize target) const {
    const qint64 width = m_size.width();
    // A band of RGBA rows and the strips or tiles decoded for it, or a row of samples; a row of
    // pixels; the stored strip or tile.
    const qint64 rows =
        m_bandRows > 0 ? width * m_bandRows * 4 + m_unitBytes : std::max(m_unitBytes, width * 4) + width * 4;
    return rows + width * 4 + m_rawBytes + AreaScaler::heldBytes(target);
}

TiffBands::~TiffBands() {
    if (m_handle->tiff)
        TIFFClose(m_handle->tiff);
}

QImage TiffBands::read(QSize target, BandedRead &progress) {
    if (!usable())
        return {};
    QImage result = m_bandRows > 0 ? readBands(target, progress) : readRows(target, progress);
    m_handle->stream.device->seek(m_handle->stream.start);
    quint32 length = 0;
    void *profile = nullptr;
    if (!result.isNull() && TIFFGetField(m_handle->tiff, TIFFTAG_ICCPROFILE, &length, &profile) && profile &&
        length > 0)
        result.setColorSpace(
            QColorSpace::fromIccProfile(QByteArray(static_cast<const char *>(profile), qsizetype(length))));
    return result;
}

QImage TiffBands::readBands(QSize target, BandedRead &progress) {
    RgbaImage rgba;
    if (!rgba.begin(m_handle->tiff))
        return {};
    TIFFRGBAImage &image = rgba.image;
    const int width = m_size.width(), height = m_size.height();
    AreaScaler scaler(m_size, target, image.alpha != 0);
    if (scaler.isNull())
        return {};
    std::vector<quint32> raster(size_t(width) * m_bandRows);
    std::vector<QRgb> pixels(static_cast<size_t>(width));
    const HeldPixels held(heldBytes(target) - AreaScaler::heldBytes(target));
    for (qint64 y = 0; y < height; y += m_bandRows) {
        if (progress.shouldStop())
            return {};
        const qint64 rows = std::min<qint64>(m_bandRows, height - y);
        image.row_offset = int(y);
        image.col_offset = 0;
        if (TIFFRGBAImageGet(&image, raster.data(), quint32(width), quint32(rows)) != 1)
            return {};
        for (qint64 r = 0; r < rows; ++r) {
            toPixels(raster.data() + size_t(r) * width, pixels.data(), width, rgba.straight);
            scaler.addRow(pixels.data());
        }
    }
    return scaler.take();
}

QImage TiffBands::readRows(QSize target, BandedRead &progress) {
    TIFF *tiff = m_handle->tiff;
    RgbaImage rgba;
    if (!rgba.begin(tiff))
        return {};
    TIFFRGBAImage &image = rgba.image;
    // libtiff's own conversion of a strip, handed one row at a time as it comes from the file.
    if (!image.isContig || !image.put.contig)
        return {};
    const int width = m_size.width(), height = m_size.height();
    AreaScaler scaler(m_size, target, image.alpha != 0);
    if (scaler.isNull())
        return {};
    // Asked again: reading JPEG as RGB changes the size of a row.
    const tmsize_t scanline = TIFFScanlineSize(tiff);
    if (scanline < 1 || scanline > kLargestBand)
        return {};
    std::vector<uchar> samples(static_cast<size_t>(scanline));
    std::vector<quint32> raster(static_cast<size_t>(width));
    const qint64 rowsPerQuestion = BandedRead::rowsPerQuestion(width);
    std::vector<QRgb> pixels(static_cast<size_t>(width));
    const HeldPixels held(heldBytes(target) - AreaScaler::heldBytes(target) + scanline - m_unitBytes);
    for (qint64 y = 0; y < height; ++y) {
        if (y % rowsPerQuestion == 0 && progress.shouldStop())
            return {};
        if (TIFFReadScanline(tiff, samples.data(), quint32(y), 0) != 1)
            return {};
        image.put.contig(&image, raster.data(), 0, quint32(y), quint32(width), 1, 0, 0, samples.data());
        toPixels(raster.data(), pixels.data(), width, rgba.straight);
        scaler.addRow(pixels.data());
    }
    return scaler.take();
}

} // namespace Imaging
