// A smaller copy of a JPEG read a band of rows at a time through libjpeg.
#include "imaging/ImageSources.h"

#include "imaging/AreaScaler.h"

#include <QColorSpace>
#include <QIODevice>

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <vector>

#include <jpeglib.h>

namespace Imaging {

namespace {

constexpr size_t kReadBlock = 64 * 1024;
// Rows of the decoded image between two questions whether to stop.
constexpr int kBandRows = 16;
// While libjpeg takes in the scans of a progressive file it reports each row of blocks; it is asked
// whether to stop every so many of them.
constexpr long kReportsPerQuestion = 16;
// A colour profile longer than this is left out; real ones are far smaller.
constexpr qsizetype kLongestProfile = 4 * 1024 * 1024;
// libjpeg's own tables and buffers besides rows and coefficients.
constexpr qint64 kDecoderBytes = 1024 * 1024;
constexpr int kBytesPerCoefficientBlock = DCTSIZE2 * int(sizeof(JCOEF));

// Pixels come out as QRgb in memory, opaque.
#if Q_BYTE_ORDER == Q_LITTLE_ENDIAN
constexpr J_COLOR_SPACE kPixels = JCS_EXT_BGRA;
#else
constexpr J_COLOR_SPACE kPixels = JCS_EXT_ARGB;
#endif

// Everything one pass through the file holds, made before libjpeg may leave by its long jump and
// freed after it.
struct Read {
    jpeg_decompress_struct info{};
    jpeg_error_mgr errors{};
    jpeg_source_mgr source{};
    jpeg_progress_mgr monitor{};
    std::jmp_buf jump{};
    bool created = false;
    QIODevice *device = nullptr;
    qint64 offset = 0; // of the next block in the device
    std::vector<JOCTET> block = std::vector<JOCTET>(kReadBlock);
    BandedRead *progress = nullptr;
    long reports = 0;
    QByteArray profile;
    bool profileLeftOut = false;
    std::optional<AreaScaler> scaler;
    std::vector<QRgb> rows;
    HeldPixels held;

    ~Read() {
        if (created)
            jpeg_destroy_decompress(&info);
    }
};

Read &readOf(j_common_ptr info) {
    return *static_cast<Read *>(info->client_data);
}

[[noreturn]] void leave(j_common_ptr info) {
    std::longjmp(readOf(info).jump, 1);
}

void quiet(j_common_ptr) {}

void noSourceStep(j_decompress_ptr) {}

// Each block is read from its own offset, so the device's position stays the caller's business.
boolean fillBlock(j_decompress_ptr info) {
    Read &read = readOf(reinterpret_cast<j_common_ptr>(info));
    const qint64 n = read.device->seek(read.offset)
                         ? read.device->read(reinterpret_cast<char *>(read.block.data()), qint64(kReadBlock))
                         : -1;
    // The data was checked to reach its end marker: running out means it is broken.
    if (n <= 0)
        leave(reinterpret_cast<j_common_ptr>(info));
    read.offset += n;
    info->src->next_input_byte = read.block.data();
    info->src->bytes_in_buffer = size_t(n);
    return TRUE;
}

void skipBytes(j_decompress_ptr info, long count) {
    if (count <= 0)
        return;
    jpeg_source_mgr &source = *info->src;
    if (size_t(count) <= source.bytes_in_buffer) {
        source.next_input_byte += count;
        source.bytes_in_buffer -= size_t(count);
        return;
    }
    readOf(reinterpret_cast<j_common_ptr>(info)).offset += qint64(size_t(count) - source.bytes_in_buffer);
    source.bytes_in_buffer = 0;
}

int nextByte(j_decompress_ptr info) {
    if (info->src->bytes_in_buffer == 0)
        fillBlock(info);
    --info->src->bytes_in_buffer;
    return *info->src->next_input_byte++;
}

// The ICC profile in APP2 segments, in the order they come, as Qt's reader takes it for the whole
// image.
boolean readProfilePart(j_decompress_ptr info) {
    Read &read = readOf(reinterpret_cast<j_common_ptr>(info));
    const int high = nextByte(info);
    const int low = nextByte(info);
    long length = std::max(0, (high << 8 | low) - 2);
    char head[14] = {};
    int got = 0;
    for (; got < 14 && length > 0; ++got, --length)
        head[got] = char(nextByte(info));
    const bool profile = got == 14 && std::memcmp(head, "ICC_PROFILE", 12) == 0;
    if (profile && read.profile.size() + length > kLongestProfile)
        read.profileLeftOut = true;
    if (!profile || read.profileLeftOut) {
        skipBytes(info, length);
        return TRUE;
    }
    while (length > 0) {
        if (info->src->bytes_in_buffer == 0)
            fillBlock(info);
        const size_t step = std::min(size_t(length), info->src->bytes_in_buffer);
        read.profile.append(reinterpret_cast<const char *>(info->src->next_input_byte), qsizetype(step));
        info->src->next_input_byte += step;
        info->src->bytes_in_buffer -= step;
        length -= long(step);
    }
    return TRUE;
}

void report(j_common_ptr info) {
    Read &read = readOf(info);
    if (read.progress && ++read.reports % kReportsPerQuestion == 0 && read.progress->shouldStop())
        leave(info);
}

// Starts a decompressor on the JPEG at `start`; from here on libjpeg may leave by the long jump.
void begin(Read &read, QIODevice *device, qint64 start) {
    read.device = device;
    read.offset = start;
    read.info.err = jpeg_std_error(&read.errors);
    read.errors.error_exit = leave;
    read.errors.output_message = quiet;
    read.info.client_data = &read;
    jpeg_create_decompress(&read.info);
    read.created = true;
    read.source.init_source = noSourceStep;
    read.source.fill_input_buffer = fillBlock;
    read.source.skip_input_data = skipBytes;
    read.source.resync_to_restart = jpeg_resync_to_restart;
    read.source.term_source = noSourceStep;
    read.info.src = &read.source;
    read.monitor.progress_monitor = report;
    read.info.progress = &read.monitor;
    // Never more than a reduced copy may hold, whatever the header promised.
    read.info.mem->max_memory_to_use = long(ImageImport::reductionBudget);
}

bool turnsIntoRgb(const jpeg_decompress_struct &info) {
    switch (info.jpeg_color_space) {
    case JCS_GRAYSCALE:
        return info.num_components == 1;
    case JCS_YCbCr:
    case JCS_RGB:
        return info.num_components == 3;
    case JCS_CMYK:
    case JCS_YCCK:
        return info.num_components == 4;
    default:
        return false;
    }
}

// What libjpeg scales to on its own, in eighths: the smallest size that still covers the target.
int eighths(QSize size, QSize target) {
    for (int n = 1; n < 8; ++n) {
        const qint64 width = (qint64(size.width()) * n + 7) / 8, height = (qint64(size.height()) * n + 7) / 8;
        if (width >= target.width() && height >= target.height())
            return n;
    }
    return 8;
}

} // namespace

JpegLines::JpegLines(QIODevice *device) : m_device(device), m_start(device->pos()) {
    const auto read = std::make_unique<Read>();
    if (setjmp(read->jump)) {
        m_device->seek(m_start);
        return;
    }
    begin(*read, device, m_start);
    jpeg_read_header(&read->info, TRUE);
    const jpeg_decompress_struct &info = read->info;
    if (!turnsIntoRgb(info) || info.image_width < 1 || info.image_height < 1) {
        m_device->seek(m_start);
        return;
    }
    // Scans that each hold part of the image keep every block's coefficients until the last one.
    if (jpeg_has_multiple_scans(&read->info)) {
        for (int c = 0; c < info.num_components; ++c) {
            const jpeg_component_info &component = info.comp_info[c];
            const auto roundedUp = [](qint64 value, qint64 step) { return (value + step - 1) / step * step; };
            m_coefficientBytes += roundedUp(component.width_in_blocks, component.h_samp_factor) *
                                  roundedUp(component.height_in_blocks, component.v_samp_factor) *
                                  kBytesPerCoefficientBlock;
        }
    }
    m_components = info.num_components;
    m_size = QSize(int(info.image_width), int(info.image_height));
    m_device->seek(m_start);
}

qint64 JpegLines::heldBytes(QSize target) const {
    const int n = eighths(m_size, target);
    const qint64 width = (qint64(m_size.width()) * n + 7) / 8;
    // The band of rows handed over, and libjpeg's rows of samples for each component.
    return m_coefficientBytes + width * 4 * kBandRows + width * m_components * 64 + qint64(kReadBlock) +
           kLongestProfile + kDecoderBytes + AreaScaler::heldBytes(target);
}

QImage JpegLines::read(QSize target, BandedRead &progress) {
    if (!usable())
        return {};
    const qint64 position = m_device->pos();
    QImage image = readLines(target, progress);
    m_device->seek(position);
    return image;
}

QImage JpegLines::readLines(QSize target, BandedRead &progress) {
    // libjpeg leaves by a long jump to here: all that is ours lives in `read`.
    const auto read = std::make_unique<Read>();
    if (setjmp(read->jump))
        return {};
    begin(*read, m_device, m_start);
    read->progress = &progress;
    jpeg_set_marker_processor(&read->info, JPEG_APP0 + 2, readProfilePart);
    jpeg_read_header(&read->info, TRUE);
    jpeg_decompress_struct &info = read->info;
    const bool cmyk = info.jpeg_color_space == JCS_CMYK || info.jpeg_color_space == JCS_YCCK;
    info.out_color_space = cmyk ? JCS_CMYK : kPixels;
    info.scale_num = unsigned(eighths(m_size, target));
    info.scale_denom = 8;
    jpeg_calc_output_dimensions(&info);
    const QSize decoded(int(info.output_width), int(info.output_height));
    if (info.output_components != 4 || decoded.width() < target.width() || decoded.height() < target.height())
        return {};
    read->scaler.emplace(decoded, target, false);
    if (read->scaler->isNull())
        return {};
    read->rows.resize(size_t(decoded.width()) * kBandRows);
    read->held.resize(heldBytes(target) - AreaScaler::heldBytes(target));
    if (progress.shouldStop())
        return {};
    jpeg_start_decompress(&info);
    JSAMPROW band[kBandRows];
    for (int r = 0; r < kBandRows; ++r)
        band[r] = reinterpret_cast<JSAMPROW>(read->rows.data() + size_t(r) * decoded.width());
    while (info.output_scanline < info.output_height) {
        if (progress.shouldStop())
            return {};
        int rows = 0;
        while (rows < kBandRows && info.output_scanline < info.output_height)
            rows += int(jpeg_read_scanlines(&info, band + rows, JDIMENSION(kBandRows - rows)));
        for (int r = 0; r < rows; ++r) {
            QRgb *row = read->rows.data() + size_t(r) * decoded.width();
            if (cmyk) {
                // Inverted CMYK as Adobe writes it, turned into RGB as Qt's reader does.
                for (int x = 0; x < decoded.width(); ++x) {
                    const auto *ink = reinterpret_cast<const uchar *>(row + x);
                    const int k = ink[3];
                    row[x] = qRgb(k * ink[0] / 255, k * ink[1] / 255, k * ink[2] / 255);
                }
            }
            read->scaler->addRow(row);
        }
    }
    QImage image = read->scaler->take();
    if (!image.isNull() && !read->profile.isEmpty())
        image.setColorSpace(QColorSpace::fromIccProfile(read->profile));
    return image;
}

} // namespace Imaging
