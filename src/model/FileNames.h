#pragma once

#include <QString>
#include <QStringView>

// The longest extension an exporter appends (".vellumbox"); the stem leaves room for it.
constexpr qsizetype kLongestExportSuffixBytes = 10;
constexpr qsizetype kMaxFileNameBytes = 200;

// The file-name form of a collection title, without extension.
QString safeFilename(const QString &title);

// Cuts text to at most maxGraphemes user-perceived characters and maxUtf8Bytes bytes, never
// inside a character.
QString cutAtGraphemes(const QString &text, qsizetype maxGraphemes, qsizetype maxUtf8Bytes = -1);

// The one rule for the file name of a snip's image inside the Images folder, kept alike by the
// store, the export, the project files and the backup: a bare name (no folder part, no "..", no
// NUL character) that ends in ".png" in any case ("Bild.PNG" is one). Looks at the text only.
bool isImageFileName(QStringView name);
