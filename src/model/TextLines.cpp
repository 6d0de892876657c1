#include "model/TextLines.h"

namespace TextLines {

bool isBreak(char16_t c) {
    switch (c) {
    case 0x000A:
    case 0x000B:
    case 0x000C:
    case 0x000D:
    case 0x0085:
    case 0x2028:
    case 0x2029:
        return true;
    default:
        return false;
    }
}

namespace {
bool isDroppedControl(char16_t c) {
    return (c < 0x20 && c != u'\t') || (c >= 0x7F && c <= 0x9F);
}
} // namespace

QStringList split(QStringView text) {
    QStringList lines;
    QString line;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t c = text[i].unicode();
        if (isBreak(c)) {
            lines.append(line);
            line.clear();
            if (c == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n')
                ++i;
        } else if (!isDroppedControl(c)) {
            line.append(QChar(c));
        }
    }
    lines.append(line);
    return lines;
}

} // namespace TextLines
