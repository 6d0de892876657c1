#pragma once

#include <QStringList>
#include <QStringView>

// The one rule for line breaks in user text (titles, notes, text boxes), shared by every layout
// so the canvas, the PDF and the Word document break a text in the same places.
namespace TextLines {

// Mandatory breaks: line feed, carriage return, CR LF (one break), vertical tab, form feed, next
// line, and the Unicode line and paragraph separators.
bool isBreak(char16_t c);

// The lines of a text. Control characters that are not breaks are dropped (a tab is kept), so no
// layout draws them as boxes. An empty text is one empty line.
QStringList split(QStringView text);

} // namespace TextLines
