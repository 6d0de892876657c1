#include "look/Icons.h"

#include <QFile>
#include <QPainter>
#include <QPixmapCache>

namespace {
QString iconPath(const QString &name) {
    return QStringLiteral(":/icons/") + name + QStringLiteral(".svg");
}
} // namespace

QIcon symbolIcon(const QString &name) {
    const QString path = iconPath(name);
    if (!QFile::exists(path))
        return {};
    return QIcon(path);
}

// Views paint their symbols on every repaint; rendering the SVG each time would cost more than the
// rest of the frame.
QPixmap symbolPixmap(const QString &name, QSize size, const QColor &color, qreal devicePixelRatio) {
    const QString key = QStringLiteral("symbol|%1|%2x%3|%4|%5")
                            .arg(name)
                            .arg(size.width())
                            .arg(size.height())
                            .arg(color.rgba())
                            .arg(devicePixelRatio);
    QPixmap pixmap;
    if (QPixmapCache::find(key, &pixmap))
        return pixmap;
    const QIcon icon = symbolIcon(name);
    if (icon.isNull())
        return {};
    pixmap = icon.pixmap(size, devicePixelRatio);
    {
        QPainter painter(&pixmap);
        painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
        painter.fillRect(pixmap.rect(), color);
    }
    QPixmapCache::insert(key, pixmap);
    return pixmap;
}

QIcon symbolIcon(const QString &name, const QColor &color) {
    if (symbolIcon(name).isNull())
        return {};
    QIcon icon;
    for (const int side : {16, 20, 24, 32})
        for (const qreal ratio : {1.0, 2.0})
            icon.addPixmap(symbolPixmap(name, QSize(side, side), color, ratio));
    return icon;
}
