#include "ScreenStill.h"

#include "platform/XcbSupport.h"

#include <QScopeGuard>

#include <xcb/shm.h>
#include <xcb/xcb.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdlib>
#include <sys/ipc.h>
#include <sys/shm.h>

QImage ScreenStill::region(const QRect &imageRect) const {
    const QImage cropped = image.copy(imageRect).convertToFormat(QImage::Format_RGB32);
    if (cropped.isNull() || !area.isValid())
        return cropped;
    const double stillScaleX = double(image.width()) / area.width();
    const double stillScaleY = double(image.height()) / area.height();
    const QRectF covered(area.x() + imageRect.x() / stillScaleX, area.y() + imageRect.y() / stillScaleY,
                         imageRect.width() / stillScaleX, imageRect.height() / stillScaleY);
    double scale = 0;
    for (const Output &output : outputs) {
        if (QRectF(output.geometry).intersects(covered))
            scale = std::max(scale, output.scale);
    }
    const double factor = scale / std::max(stillScaleX, stillScaleY);
    // Rounding aside, the still's own scale: nothing to undo.
    if (scale <= 0 || factor > 0.999)
        return cropped;
    const QSize size(std::max(1, int(std::lround(cropped.width() * factor))),
                     std::max(1, int(std::lround(cropped.height() * factor))));
    // Area averaging undoes the portal's enlargement of the smaller-scale outputs best.
    return cropped.scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
        .convertToFormat(QImage::Format_RGB32);
}

namespace X11Still {
namespace {

const xcb_visualtype_t *findVisual(const xcb_screen_t *screen, xcb_visualid_t id) {
    for (auto depths = xcb_screen_allowed_depths_iterator(screen); depths.rem; xcb_depth_next(&depths)) {
        for (auto visuals = xcb_depth_visuals_iterator(depths.data); visuals.rem;
             xcb_visualtype_next(&visuals)) {
            if (visuals.data->visual_id == id)
                return visuals.data;
        }
    }
    return nullptr;
}

const xcb_format_t *findFormat(const xcb_setup_t *setup, uint8_t depth) {
    for (auto formats = xcb_setup_pixmap_formats_iterator(setup); formats.rem; xcb_format_next(&formats)) {
        if (formats.data->depth == depth)
            return formats.data;
    }
    return nullptr;
}

// The channel value scaled to 8 bits.
inline quint32 channel(quint32 pixel, quint32 mask) {
    if (mask == 0)
        return 0;
    const int shift = std::countr_zero(mask);
    const int bits = std::popcount(mask);
    const quint32 value = (pixel & mask) >> shift;
    if (bits >= 8)
        return value >> (bits - 8);
    return (value * 255 + ((1u << bits) - 1) / 2) / ((1u << bits) - 1);
}

struct Layout {
    int width = 0;
    int height = 0;
    int bitsPerPixel = 0;
    int bytesPerLine = 0;
};

QImage convert(const uchar *data, const Layout &layout, const xcb_setup_t *setup,
               const xcb_visualtype_t *visual) {
    return fromZPixmap(data, layout.width, layout.height, layout.bitsPerPixel, layout.bytesPerLine,
                       setup->image_byte_order == XCB_IMAGE_ORDER_MSB_FIRST, visual->red_mask,
                       visual->green_mask, visual->blue_mask);
}

// Through shared memory the server writes the pixels once, instead of streaming 33 MB of a 4K
// screen through the socket. Null when the server or the kernel does not play along.
QImage grabShared(xcb_connection_t *connection, const xcb_screen_t *screen, const Layout &layout,
                  const xcb_visualtype_t *visual) {
    const xcb_query_extension_reply_t *extension = xcb_get_extension_data(connection, &xcb_shm_id);
    if (!extension || !extension->present)
        return {};
    const size_t size = size_t(layout.bytesPerLine) * size_t(layout.height);
    const int id = shmget(IPC_PRIVATE, size, IPC_CREAT | 0600);
    if (id < 0)
        return {};
    void *memory = shmat(id, nullptr, SHM_RDONLY);
    const xcb_shm_seg_t segment = xcb_generate_id(connection);
    xcb_generic_error_t *attachError =
        memory == reinterpret_cast<void *>(-1)
            ? nullptr
            : xcb_request_check(connection, xcb_shm_attach_checked(connection, segment, uint32_t(id), false));
    // Marked for removal at once: the segment goes away with its last user, even after a crash.
    shmctl(id, IPC_RMID, nullptr);
    if (memory == reinterpret_cast<void *>(-1))
        return {};
    const auto detach = qScopeGuard([memory] { shmdt(memory); });
    if (attachError) {
        std::free(attachError);
        return {};
    }
    xcb_shm_get_image_reply_t *reply = xcb_shm_get_image_reply(
        connection,
        xcb_shm_get_image(connection, screen->root, 0, 0, uint16_t(layout.width), uint16_t(layout.height),
                          ~0u, XCB_IMAGE_FORMAT_Z_PIXMAP, segment, 0),
        nullptr);
    xcb_shm_detach(connection, segment);
    xcb_flush(connection);
    if (!reply)
        return {};
    std::free(reply);
    return convert(static_cast<const uchar *>(memory), layout, xcb_get_setup(connection), visual);
}

} // namespace

QImage fromZPixmap(const uchar *data, int width, int height, int bitsPerPixel, int bytesPerLine,
                   bool msbFirst, quint32 redMask, quint32 greenMask, quint32 blueMask) {
    if (width <= 0 || height <= 0 || (bitsPerPixel != 32 && bitsPerPixel != 16))
        return {};
    QImage image(width, height, QImage::Format_RGB32);
    if (image.isNull())
        return {};
    const bool common =
        bitsPerPixel == 32 && !msbFirst && redMask == 0xff0000 && greenMask == 0xff00 && blueMask == 0xff;
    for (int y = 0; y < height; ++y) {
        const uchar *src = data + qsizetype(y) * bytesPerLine;
        auto *dst = reinterpret_cast<quint32 *>(image.scanLine(y));
        if (common) {
            // The pad byte is undefined; RGB32 wants it opaque.
            const auto *pixels = reinterpret_cast<const quint32 *>(src);
            for (int x = 0; x < width; ++x)
                dst[x] = pixels[x] | 0xff000000u;
            continue;
        }
        const int bytes = bitsPerPixel / 8;
        for (int x = 0; x < width; ++x) {
            const uchar *p = src + qsizetype(x) * bytes;
            quint32 pixel = 0;
            for (int i = 0; i < bytes; ++i)
                pixel |= quint32(p[msbFirst ? bytes - 1 - i : i]) << (8 * i);
            dst[x] = 0xff000000u | channel(pixel, redMask) << 16 | channel(pixel, greenMask) << 8 |
                     channel(pixel, blueMask);
        }
    }
    return image;
}

Grab grabRoot() {
    int screenNumber = 0;
    xcb_connection_t *connection = xcb_connect(nullptr, &screenNumber);
    const auto disconnect = qScopeGuard([connection] { xcb_disconnect(connection); });
    if (xcb_connection_has_error(connection))
        return {};
    if (XcbSupport::isXWayland(connection))
        return {Server::XWayland, {}};

    const xcb_setup_t *setup = xcb_get_setup(connection);
    auto roots = xcb_setup_roots_iterator(setup);
    for (int i = 0; i < screenNumber && roots.rem; ++i)
        xcb_screen_next(&roots);
    if (!roots.rem)
        return {};
    const xcb_screen_t *screen = roots.data;
    const xcb_visualtype_t *visual = findVisual(screen, screen->root_visual);
    const xcb_format_t *format = findFormat(setup, screen->root_depth);
    if (!visual || !format || visual->_class != XCB_VISUAL_CLASS_TRUE_COLOR)
        return {Server::Plain, {}};

    const int width = screen->width_in_pixels;
    const int height = screen->height_in_pixels;
    const int pad = format->scanline_pad;
    const Layout layout{width, height, format->bits_per_pixel,
                        ((width * format->bits_per_pixel + pad - 1) / pad) * pad / 8};
    if (QImage shared = grabShared(connection, screen, layout, visual); !shared.isNull())
        return {Server::Plain, shared};

    xcb_generic_error_t *error = nullptr;
    xcb_get_image_reply_t *reply =
        xcb_get_image_reply(connection,
                            xcb_get_image(connection, XCB_IMAGE_FORMAT_Z_PIXMAP, screen->root, 0, 0,
                                          uint16_t(width), uint16_t(height), ~0u),
                            &error);
    const auto release = qScopeGuard([reply, error] {
        std::free(reply);
        std::free(error);
    });
    if (!reply)
        return {Server::Plain, {}};

    if (qint64(layout.bytesPerLine) * height > xcb_get_image_data_length(reply))
        return {Server::Plain, {}};
    return {Server::Plain, convert(xcb_get_image_data(reply), layout, setup, visual)};
}

} // namespace X11Still
