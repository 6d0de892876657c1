#include "look/TextDirection.h"

namespace TextDirection {

QString isolated(const QString &text) {
    if (!QStringView(text).isRightToLeft())
        return text;
    return QChar(0x2067) + text + QChar(0x2069);
}

QString openIsolates(QStringView text) {
    QString open;
    for (const QChar c : text) {
        switch (c.direction()) {
        case QChar::DirLRI:
        case QChar::DirRLI:
        case QChar::DirFSI:
            open += c;
            break;
        case QChar::DirPDI:
            open.chop(1);
            break;
        default:
            break;
        }
    }
    return open;
}

} // namespace TextDirection
