#include "views/Icons.h"

#include <QFile>

QIcon symbolIcon(const QString &name) {
    const QString path = QStringLiteral(":/icons/") + name + QStringLiteral(".svg");
    if (!QFile::exists(path))
        return {};
    return QIcon(path);
}
