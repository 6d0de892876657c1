// HEIC images through libheif, behind a check of the file's boxes.
#include "imaging/ImageSources.h"

#include "imaging/ImageImport.h"

#include <QList>
#include <QSet>

#include <libheif/heif.h>

namespace Imaging {

namespace {

// libheif 1.15 without its later security fixes allocates an item's declared extent length before
// it reads the data, so a 500-byte file can claim gigabytes. Every extent must lie inside the file
// (or inside its idat box) before libheif sees it, whichever build is installed.
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
    return version == 0 && ImageImport::supportedDimensions(qint64(width), qint64(height));
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

class HeifSource final : public Decoder::Source {
public:
    explicit HeifSource(QByteArray data) : m_data(std::move(data)), m_context(heif_context_alloc()) {
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

    qint64 fullBytes() override {
        const auto size = storedSize();
        return size ? qint64(size->width()) * size->height() * 4 : 0;
    }

    QImage read(QSize, BandedRead &) override {
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

} // namespace

std::unique_ptr<Decoder::Source> makeHeifSource(QByteArray bytes) {
    return std::make_unique<HeifSource>(std::move(bytes));
}

} // namespace Imaging
