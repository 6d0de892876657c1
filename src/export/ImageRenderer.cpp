#include "export/ImageRenderer.h"

#include "export/BlurRenderer.h"
#include "export/MarkRenderer.h"
#include "model/AppFailure.h"

#include <QBuffer>
#include <QImageReader>
#include <QImageWriter>
#include <QPainter>

#include <algorithm>

namespace {
[[noreturn]] void fail(const char16_t *sentence) {
    throw AppFailure(QString::fromUtf16(sentence));
}

bool supportedFormat(const QByteArray &format) {
    return format == "png" || format == "jpeg" || format == "jpg" || format == "tiff" || format == "tif" ||
           format == "heic" || format == "heif";
}

QImage decode(const QByteArray &bytes) {
    QBuffer buffer;
    buffer.setData(bytes);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);
    reader.setAutoTransform(false);
    reader.setDecideFormatFromContent(true);
    if (!reader.canRead() || !supportedFormat(reader.format()))
        fail(u"Ein Ausschnitt enthält kein lesbares Bild.");
    // The header's size is checked before any pixel is decoded.
    const QSize announced = reader.size();
    if (announced.isValid()) {
        if (announced.width() < 1 || announced.height() < 1 || announced.width() > ImageRenderer::kMaxEdge ||
            announced.height() > ImageRenderer::kMaxEdge ||
            double(announced.width()) * double(announced.height()) > double(ImageRenderer::kMaxPixels))
            fail(u"Das Bild ist für den Export zu groß.");
    }
    QImage image = reader.read();
    if (image.isNull())
        fail(u"Ein Ausschnitt enthält kein lesbares Bild.");
    return image;
}
} // namespace

QImage ImageRenderer::flattenImage(const QByteArray &bytes, const MarkList &marks) {
    const QImage decoded = decode(bytes);
    const qint64 w = decoded.width();
    const qint64 h = decoded.height();
    if (w < 1 || h < 1 || w > kMaxEdge || h > kMaxEdge || w * h > kMaxPixels)
        fail(u"Das Bild ist für den Export zu groß.");
    const QImage::Format format =
        decoded.hasAlphaChannel() ? QImage::Format_ARGB32_Premultiplied : QImage::Format_RGB32;
    QImage bitmap = decoded.convertToFormat(format);
    if (bitmap.isNull())
        fail(u"Das Bild ist für den Export zu groß.");
    if (std::any_of(marks.begin(), marks.end(), [](const Mark &m) { return !m.isValid(); }))
        fail(u"Eine Markierung enthält ungültige Koordinaten.");
    if (marks.isEmpty())
        return bitmap;

    // Blurs read the untouched source, never pixels drawn by an earlier mark.
    const bool hasBlur =
        std::any_of(marks.begin(), marks.end(), [](const Mark &m) { return m.kind == MarkKind::Blur; });
    const QImage source = hasBlur ? bitmap : QImage();
    bool blurFailed = false;
    const BlurLookup lookup = [&](double radius, const QRect &area) -> std::optional<BlurPatch> {
        const QRect clipped = area & source.rect();
        if (clipped.isEmpty())
            return BlurPatch{};
        QImage patch =
            BlurRenderer::blurRegion(source, clipped, BlurRenderer::sigmaFor(radius, source.width()));
        if (patch.isNull()) {
            blurFailed = true;
            return std::nullopt;
        }
        return BlurPatch{std::move(patch), clipped.topLeft()};
    };
    QPainter painter;
    if (!painter.begin(&bitmap))
        fail(u"Bild konnte nicht gerendert werden.");
    MarkRenderer::draw(marks, painter, QSizeF(bitmap.size()), lookup);
    painter.end();
    if (blurFailed)
        fail(u"Blur konnte nicht gerendert werden.");
    return bitmap;
}

QByteArray ImageRenderer::encodePng(const QImage &image) {
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "png");
    // zlib level 2: lossless like every level, about 40 % faster than the default on screenshots
    // and a few percent larger.
    writer.setQuality(70);
    if (!writer.write(image) || png.isEmpty())
        fail(u"PNG-Export fehlgeschlagen.");
    return png;
}

FlattenedImage ImageRenderer::flatten(const QByteArray &bytes, const MarkList &marks) {
    const QImage image = flattenImage(bytes, marks);
    return {encodePng(image), image.width(), image.height()};
}
