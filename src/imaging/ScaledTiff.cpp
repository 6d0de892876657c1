// A smaller copy of a TIFF read a band of rows at a time through libtiff.
#include "imaging/ImageSources.h"

#include "imaging/AreaScaler.h"

#include <QColorSpace>
#include <QIODevice>

#include <tiffio.h>

#include <algorithm>
#include <climits>
#include <vector>

namespace Imaging {

namespace {

// One band of decoded RGBA rows, and anything libtiff allocates at once for decoded pixels, stays
// below this.
constexpr qint64 kLargestBand = 64 * 1024 * 1024;
// Bands of at least this many rows, so files of one row a strip are not read a row at a time; also
// the rows read one at a time between two questions whether to stop.
constexpr quint32 kShortestBand = 64;

struct Stream {
    QIODevice *device;
    qint64 start;
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

int noMapping(thandle_t, void **, toff_t *) {
    return 0;
}

void noUnmapping(thandle_t, void *, toff_t) {}

// Broken files are expected here; their complaints stay out of the application's output.
int quiet(TIFF *, void *, const char *, const char *, va_list) {
    return 1;
}

// Premultiplied RGBA from libtiff, red in the lowest byte, as the scaler takes it.
void toPixels(const quint32 *in, QRgb *out, int width) {
    for (int x = 0; x < width; ++x)
        out[x] =
            qRgba(int(TIFFGetR(in[x])), int(TIFFGetG(in[x])), int(TIFFGetB(in[x])), int(TIFFGetA(in[x])));
}

// Closes what TIFFRGBAImageBegin opened, on every way out.
struct RgbaImage {
    TIFFRGBAImage image{};
    bool begun = false;
    ~RgbaImage() {
        if (begun)
            TIFFRGBAImageEnd(&image);
    }
};

} // namespace

struct TiffBands::Handle {
    Stream stream;
    TIFF *tiff = nullptr;
};

TiffBands::TiffBands(QIODevice *device) : m_handle(std::make_unique<Handle>()) {
    m_handle->stream = {device, device->pos()};
    TIFFOpenOptions *options = TIFFOpenOptionsAlloc();
    if (!options)
        return;
    // A strip read a row at a time is first read whole as it is stored, which may take up to the
    // file's size.
    TIFFOpenOptionsSetMaxSingleMemAlloc(options, std::max(kLargestBand, device->size() - device->pos()));
    TIFFOpenOptionsSetErrorHandlerExtR(options, quiet, nullptr);
    TIFFOpenOptionsSetWarningHandlerExtR(options, quiet, nullptr);
    m_handle->tiff = TIFFClientOpenExt("image", "rm", &m_handle->stream, readProc, writeProc, seekProc,
                                       closeProc, sizeProc, noMapping, noUnmapping, options);
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
    if (unitBytes <= kLargestBand && qint64(width) * bandRows * 4 <= kLargestBand) {
        m_bandRows = bandRows;
        m_unitBytes = unitBytes;
        m_size = QSize(int(width), int(height));
        return;
    }
    // Larger strips libtiff decodes a row at a time, as long as its conversion to RGBA takes single
    // rows: samples interleaved, and no YCbCr subsampling other than JPEG's, which libjpeg undoes.
    quint16 planar = PLANARCONFIG_CONTIG, samples = 1, photometric = 0, compression = COMPRESSION_NONE;
    quint16 horizontal = 1, vertical = 1;
    TIFFGetFieldDefaulted(m_handle->tiff, TIFFTAG_PLANARCONFIG, &planar);
    TIFFGetFieldDefaulted(m_handle->tiff, TIFFTAG_SAMPLESPERPIXEL, &samples);
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
    m_size = QSize(int(width), int(height));
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
    char message[1024] = {};
    RgbaImage rgba;
    if (!TIFFRGBAImageBegin(&rgba.image, m_handle->tiff, 1, message))
        return {};
    rgba.begun = true;
    TIFFRGBAImage &image = rgba.image;
    // The rows as stored, top to bottom: the caller turns the copy as the file says.
    image.req_orientation = image.orientation;
    const int width = m_size.width(), height = m_size.height();
    AreaScaler scaler(m_size, target, image.alpha != 0);
    if (scaler.isNull())
        return {};
    std::vector<quint32> raster(size_t(width) * m_bandRows);
    std::vector<QRgb> pixels(static_cast<size_t>(width));
    const HeldPixels held(qint64(raster.size()) * 4 + qint64(width) * 4 + m_unitBytes);
    for (qint64 y = 0; y < height; y += m_bandRows) {
        if (progress.shouldStop())
            return {};
        const qint64 rows = std::min<qint64>(m_bandRows, height - y);
        image.row_offset = int(y);
        image.col_offset = 0;
        if (TIFFRGBAImageGet(&image, raster.data(), quint32(width), quint32(rows)) != 1)
            return {};
        for (qint64 r = 0; r < rows; ++r) {
            toPixels(raster.data() + size_t(r) * width, pixels.data(), width);
            scaler.addRow(pixels.data());
        }
    }
    return scaler.take();
}

QImage TiffBands::readRows(QSize target, BandedRead &progress) {
    TIFF *tiff = m_handle->tiff;
    char message[1024] = {};
    RgbaImage rgba;
    if (!TIFFRGBAImageBegin(&rgba.image, tiff, 1, message))
        return {};
    rgba.begun = true;
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
    std::vector<QRgb> pixels(static_cast<size_t>(width));
    const HeldPixels held(qint64(scanline) + qint64(width) * 8);
    for (qint64 y = 0; y < height; ++y) {
        if (y % kShortestBand == 0 && progress.shouldStop())
            return {};
        if (TIFFReadScanline(tiff, samples.data(), quint32(y), 0) != 1)
            return {};
        image.put.contig(&image, raster.data(), 0, quint32(y), quint32(width), 1, 0, 0, samples.data());
        toPixels(raster.data(), pixels.data(), width);
        scaler.addRow(pixels.data());
    }
    return scaler.take();
}

} // namespace Imaging
