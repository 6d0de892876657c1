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
    // Bytes as another program offers them: decoding them here would hold up the window, and the
    // checks of their header come first.
    for (const char *type : {"image/png", "image/tiff", "image/jpeg", "image/bmp", "image/gif"}) {
        const QString name = QString::fromLatin1(type);
        if (mime->hasFormat(name)) {
            if (QByteArray bytes = mime->data(name); !bytes.isEmpty())
                return bytes;
        }
    }
    // An image this program put there is held decoded already; uncompressed TIFF passes it on at
    // the speed of a copy.
    if (!mime->formats().contains(QStringLiteral("application/x-qt-image")))
        return std::nullopt;
    const QImage image = qvariant_cast<QImage>(mime->imageData());
    if (image.isNull())
        return std::nullopt;
    QByteArray tiff;
    QBuffer buffer(&tiff);
    if (!buffer.open(QIODevice::WriteOnly) || !QImageWriter(&buffer, "tiff").write(image))
        return std::nullopt;
    return tiff;
}
