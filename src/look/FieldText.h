#pragma once

#include <QString>

class QTextDocument;

// How a multi-line field holds a stored text. A text document keeps no-break spaces and line
// separators, but makes one paragraph break of every CR LF, CR, LF and paragraph separator, and
// its plain text turns no-break spaces into spaces. Comparing and writing in the document's own
// form keeps a refresh from resetting the caret and a keystroke from rewriting what was not typed.
namespace FieldText {

// The text as a field shows it: each break one line feed, everything else as it is.
QString shown(const QString &text);
// The document's text as typed: no-break spaces and line separators kept, breaks as line feeds.
QString typed(const QTextDocument *document);
// Whether the document shows this text already.
bool holds(const QTextDocument *document, const QString &text);

} // namespace FieldText
