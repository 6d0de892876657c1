#include "look/FieldText.h"

#include <QTextDocument>

namespace FieldText {

namespace {

// The characters a document turns into a paragraph break: CR, LF, the paragraph separator and
// the two frame marks.
bool isBreak(QChar c) {
    return c == u'\n' || c == u'\r' || c == QChar::ParagraphSeparator || c == QChar(0xFDD0) ||
           c == QChar(0xFDD1);
}

} // namespace

QString shown(const QString &text) {
    QString result;
    result.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n')
            continue;
        result += isBreak(c) ? QChar(u'\n') : c;
    }
    return result;
}

QString typed(const QTextDocument *document) {
    QString text = document->toRawText();
    text.replace(QChar::ParagraphSeparator, u'\n');
    return text;
}

bool holds(const QTextDocument *document, const QString &text) {
    return typed(document) == shown(text);
}

} // namespace FieldText
