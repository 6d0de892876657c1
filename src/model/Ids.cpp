#include "model/Ids.h"

#include <QDateTime>

#include <array>

QString uuidText(const QUuid &id) {
    return id.toString(QUuid::WithoutBraces).toUpper();
}

namespace {
bool isHex(char16_t c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
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
    // One pass with a digit table: the library file holds one UUID per snip and mark.
    static constexpr auto digits = [] {
        std::array<signed char, 256> table{};
        table.fill(-1);
        for (int c = '0'; c <= '9'; ++c)
            table[size_t(c)] = static_cast<signed char>(c - '0');
        for (int c = 'a'; c <= 'f'; ++c) {
            table[size_t(c)] = static_cast<signed char>(c - 'a' + 10);
            table[size_t(c - 'a' + 'A')] = static_cast<signed char>(c - 'a' + 10);
        }
        return table;
    }();
    if (length != 36 || text[8] != '-' || text[13] != '-' || text[18] != '-' || text[23] != '-')
        return std::nullopt;
    uchar bytes[16];
    size_t i = 0;
    for (uchar &byte : bytes) {
        if (i == 8 || i == 13 || i == 18 || i == 23)
            ++i;
        const int high = digits[static_cast<unsigned char>(text[i])];
        const int low = digits[static_cast<unsigned char>(text[i + 1])];
        if (high < 0 || low < 0)
            return std::nullopt;
        byte = uchar(high << 4 | low);
        i += 2;
    }
    return QUuid::fromRfc4122(QByteArrayView(reinterpret_cast<const char *>(bytes), 16));
}

double referenceSecondsNow() {
    return double(QDateTime::currentMSecsSinceEpoch()) / 1000.0 - kReferenceDateUnixOffset;
}
