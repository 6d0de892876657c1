#include "export/ImageRenderer.h"

#include "export/BlurRenderer.h"
#include "export/MarkRenderer.h"
#include "imaging/ImageDecoder.h"
#include "imaging/PngEncoder.h"
#include "model/AppFailure.h"

#include <QColorSpace>
#include <QPainter>

#include <algorithm>

namespace {
[[noreturn]] void fail(const char16_t *sentence) {
    throw AppFailure(QString::fromUtf16(sentence));
}

// The library's own decoder, so the export reads exactly the images the library shows.
QImage decode(const QByteArray &bytes) {
    Imaging::Problem problem = Imaging::Problem::None;
    QImage image =
        Imaging::decode(bytes, Imaging::kSnipFormats, &problem, ImageRenderer::kMaximumFlattenedSide);
    if (problem == Imaging::Problem::TooLarge)
        fail(u"Das Bild ist für den Export zu groß.");
    if (image.isNull())
        fail(u"Ein Ausschnitt enthält kein lesbares Bild.");
    return image;
}
} // namespace

QImage ImageRenderer::flattenImage(const QByteArray &bytes, const MarkList &marks) {
    QImage decoded = decode(bytes);
    const bool alpha = decoded.hasAlphaChannel();
    QImage bitmap = std::move(decoded).convertToFormat(alpha ? QImage::Format_ARGB32 : QImage::Format_RGB32);
    // Marks are sRGB colours and a PDF takes its pixels as sRGB: an image of another colour space
    // (Display P3, Adobe RGB) is converted before anything is drawn, so every document shows the
    // same colours. Straight values convert without the rounding of premultiplied ones.
    const QColorSpace srgb(QColorSpace::SRgb);
    if (!bitmap.isNull() && bitmap.colorSpace().isValid() && bitmap.colorSpace() != srgb)
        bitmap.convertToColorSpace(srgb);
    if (alpha)
        bitmap = std::move(bitmap).convertToFormat(QImage::Format_ARGB32_Premultiplied);
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

FlattenedImage ImageRenderer::flatten(const QByteArray &bytes, const MarkList &marks) {
    const QImage image = flattenImage(bytes, marks);
    // Shared images count against the upload limit.
    return {Imaging::encodePng(image, Imaging::PngEffort::Compact), image.width(), image.height()};
}
