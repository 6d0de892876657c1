#include "store/ImageClipboard.h"

#include <QBuffer>
#include <QClipboard>
#include <QGuiApplication>
#include <QImage>
#include <QImageWriter>
#include <QMimeData>

std::optional<QByteArray> SystemImageClipboard::imageData() {
    QClipboard *clipboard = QGuiApplication::clipboard();
    const QMimeData *mime = clipboard->mimeData();
    if (!mime)
        return std::nullopt;
    // Only types the owner offers are asked for, and their bytes are taken as they are: asked for
    // an image or another type, Qt converts what the owner has and decodes it here, on the window's
    // thread, before the checks of its header.
    const QStringList offered = mime->formats();
    for (const char *type : {"image/png", "image/tiff", "image/jpeg", "image/bmp", "image/gif"}) {
        const QString name = QString::fromLatin1(type);
        if (offered.contains(name)) {
            if (QByteArray bytes = mime->data(name); !bytes.isEmpty())
                return bytes;
        }
    }
    // An image this program put there is held decoded already; uncompressed TIFF passes it on at
    // the speed of a copy. Qt also lists such an image for another program that offers any image
    // format it can read: what another program announced comes as Qt's platform data. (A platform
    // without a shared clipboard never reports ownership.)
    const bool ours = clipboard->ownsClipboard() || !mime->inherits("QInternalMimeData");
    if (!ours || !offered.contains(QStringLiteral("application/x-qt-image")))
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
