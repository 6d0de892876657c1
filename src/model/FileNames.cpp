#include "model/FileNames.h"

#include "model/Ids.h"

#include <QTextBoundaryFinder>

namespace {
bool isForbidden(QChar c) {
    switch (c.unicode()) {
    case u'/':
    case u'\\':
    case u':':
    case u'?':
    case u'%':
    case u'*':
    case u'|':
    case u'"':
    case u'<':
    case u'>':
    case u'\n':
    case u'\r':
        return true;
    default:
        return false;
    }
}

qsizetype utf8Length(QStringView text) {
    qsizetype bytes = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t c = text[i].unicode();
        if (c < 0x80)
            bytes += 1;
        else if (c < 0x800)
            bytes += 2;
        else if (QChar::isHighSurrogate(c) && i + 1 < text.size() &&
                 QChar::isLowSurrogate(text[i + 1].unicode())) {
            bytes += 4;
            ++i;
        } else
            bytes += 3;
    }
    return bytes;
}
} // namespace

QString cutAtGraphemes(const QString &text, qsizetype maxGraphemes, qsizetype maxUtf8Bytes) {
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    qsizetype count = 0;
    qsizetype lastGood = 0;
    qsizetype bytes = 0;
    qsizetype position = 0;
    while ((position = finder.toNextBoundary()) != -1) {
        if (++count > maxGraphemes)
            break;
        bytes += utf8Length(QStringView(text).mid(lastGood, position - lastGood));
        if (maxUtf8Bytes >= 0 && bytes > maxUtf8Bytes)
            break;
        lastGood = position;
    }
    return text.left(lastGood);
}

QString safeFilename(const QString &title) {
    QString replaced = title;
    for (QChar &c : replaced)
        if (isForbidden(c))
            c = u'-';
    QString result = replaced.trimmed();
    if (result.isEmpty())
        result = QStringLiteral("Sammlung");
    return cutAtGraphemes(result, 100, kMaxFileNameBytes - kLongestExportSuffixBytes);
}

bool isImageFileName(QStringView name) {
    return !name.contains(u'/') && !name.contains(QChar(u'\0')) && !name.contains(u"..") &&
           name.endsWith(u".png", Qt::CaseInsensitive);
}

bool isBackupImageName(QStringView name) {
    return name.size() == 40 && isImageFileName(name) && name.endsWith(u".png", Qt::CaseSensitive) &&
           parseUuid(name.first(36)).has_value();
}

bool isBackupFileName(QStringView name) {
    return name == kBackupLibraryName || isBackupImageName(name);
}
