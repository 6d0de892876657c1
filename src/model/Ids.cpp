#include "model/Ids.h"

#include <QDateTime>

QString uuidText(const QUuid &id) {
    return id.toString(QUuid::WithoutBraces).toUpper();
}

namespace {
bool isHex(char16_t c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

template <typename Char> bool hasUuidShape(const Char *s, size_t n) {
    if (n != 36)
        return false;
    for (size_t i = 0; i < 36; ++i) {
        const bool hyphen = i == 8 || i == 13 || i == 18 || i == 23;
        if (hyphen ? s[i] != '-' : !isHex(char16_t(static_cast<unsigned char>(s[i]))))
            return false;
    }
    return true;
}
} // namespace

std::optional<QUuid> parseUuid(QStringView text) {
    if (text.size() != 36)
        return std::nullopt;
    for (qsizetype i = 0; i < 36; ++i) {
        const bool hyphen = i == 8 || i == 13 || i == 18 || i == 23;
        const char16_t c = text[i].unicode();
        if (hyphen ? c != u'-' : !isHex(c))
            return std::nullopt;
    }
    return QUuid::fromString(text);
}

std::optional<QUuid> parseUuid(const char *text, size_t length) {
    if (!hasUuidShape(text, length))
        return std::nullopt;
    return QUuid::fromString(QLatin1StringView(text, qsizetype(length)));
}

double referenceSecondsNow() {
    return double(QDateTime::currentMSecsSinceEpoch()) / 1000.0 - kReferenceDateUnixOffset;
}
