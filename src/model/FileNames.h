#pragma once

#include <QString>

// The longest extension an exporter appends (".vellumbox"); the stem leaves room for it.
constexpr qsizetype kLongestExportSuffixBytes = 10;
constexpr qsizetype kMaxFileNameBytes = 200;

// The file-name form of a collection title, without extension.
QString safeFilename(const QString &title);

// Cuts text to at most maxGraphemes user-perceived characters and maxUtf8Bytes bytes, never
// inside a character.
QString cutAtGraphemes(const QString &text, qsizetype maxGraphemes, qsizetype maxUtf8Bytes = -1);
