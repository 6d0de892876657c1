#include "store/ImageClipboard.h"

#include <QBuffer>
#include <QClipboard>
#include <QGuiApplication>
#include <QImage>
#include <QImageWriter>
#include <QMimeData>

std::optional<QByteArray> SystemImageClipboard::imageData() {
    const QMimeData *mime = QGuiApplication::clipboard()->mimeData();
    if (!mime)
        return std::nullopt;
    for (const QString &type : {QStringLiteral("image/png"), QStringLiteral("image/tiff")}) {
        if (mime->hasFormat(type)) {
            if (QByteArray bytes = mime->data(type); !bytes.isEmpty())
                return bytes;
        }
    }
    if (!mime->hasImage())
        return std::nullopt;
    const QImage image = qvariant_cast<QImage>(mime->imageData());
    if (image.isNull())
        return std::nullopt;
    QByteArray png;
    QBuffer buffer(&png);
    if (!buffer.open(QIODevice::WriteOnly) || !QImageWriter(&buffer, "png").write(image))
        return std::nullopt;
    return png;
}
