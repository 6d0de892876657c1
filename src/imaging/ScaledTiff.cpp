// A smaller copy of a TIFF read a band of rows at a time through libtiff.
#include "imaging/ImageSources.h"

#include "imaging/AreaScaler.h"

#include <QColorSpace>
#include <QIODevice>

#include <tiffio.h>

#include <algorithm>
#include <vector>

namespace Imaging {

namespace {

// One band of decoded RGBA rows, and anything libtiff allocates at once, stays below this.
constexpr qint64 kLargestBand = 64 * 1024 * 1024;
// Bands of at least this many rows, so files of one row a strip are not read a row at a time.
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
    TIFFOpenOptionsSetMaxSingleMemAlloc(options, kLargestBand);
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
    if (width < 1 || height < 1 || unit < 1 || unitBytes < 1 || unitBytes > kLargestBand ||
        !TIFFRGBAImageOK(m_handle->tiff, message))
        return;
    // Bands start where strips or tiles start, so each is decoded once.
    unit = std::min(unit, height);
    m_bandRows = unit * ((std::min(kShortestBand, height) + unit - 1) / unit);
    if (qint64(width) * m_bandRows * 4 > kLargestBand)
        return;
    m_size = QSize(int(width), int(height));
}

TiffBands::~TiffBands() {
    if (m_handle->tiff)
        TIFFClose(m_handle->tiff);
}

QImage TiffBands::read(QSize target) {
    if (!usable())
        return {};
    TIFF *tiff = m_handle->tiff;
    QIODevice *device = m_handle->stream.device;
    char message[1024] = {};
    TIFFRGBAImage image;
    if (!TIFFRGBAImageBegin(&image, tiff, 1, message))
        return {};
    // The rows as stored, top to bottom: the caller turns the copy as the file says.
    image.req_orientation = image.orientation;
    const int width = m_size.width(), height = m_size.height();
    AreaScaler scaler(m_size, target, image.alpha != 0);
    std::vector<quint32> raster(size_t(width) * m_bandRows);
    std::vector<QRgb> pixels(static_cast<size_t>(width));
    bool ok = true;
    for (int y = 0; ok && y < height; y += int(m_bandRows)) {
        const int rows = std::min(int(m_bandRows), height - y);
        image.row_offset = y;
        image.col_offset = 0;
        ok = TIFFRGBAImageGet(&image, raster.data(), quint32(width), quint32(rows)) == 1;
        for (int r = 0; ok && r < rows; ++r) {
            // Premultiplied RGBA, red in the lowest byte.
            const quint32 *in = raster.data() + size_t(r) * width;
            QRgb *out = pixels.data();
            for (int x = 0; x < width; ++x)
                out[x] = qRgba(int(TIFFGetR(in[x])), int(TIFFGetG(in[x])), int(TIFFGetB(in[x])),
                               int(TIFFGetA(in[x])));
            scaler.addRow(out);
        }
    }
    TIFFRGBAImageEnd(&image);
    device->seek(m_handle->stream.start);
    if (!ok)
        return {};
    QImage result = scaler.take();
    quint32 length = 0;
    void *profile = nullptr;
    if (!result.isNull() && TIFFGetField(tiff, TIFFTAG_ICCPROFILE, &length, &profile) && profile &&
        length > 0)
        result.setColorSpace(
            QColorSpace::fromIccProfile(QByteArray(static_cast<const char *>(profile), qsizetype(length))));
    return result;
}

} // namespace Imaging
