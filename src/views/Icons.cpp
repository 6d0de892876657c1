#include "views/Icons.h"

#include <QFile>
#include <QPainter>

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

QPixmap symbolPixmap(const QString &name, QSize size, const QColor &color, qreal devicePixelRatio) {
    const QIcon icon = symbolIcon(name);
    if (icon.isNull())
        return {};
    QPixmap pixmap = icon.pixmap(size, devicePixelRatio);
    QPainter painter(&pixmap);
    painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
    painter.fillRect(pixmap.rect(), color);
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
