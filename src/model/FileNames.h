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

// The library file a backup carries next to its images.
inline const QString kBackupLibraryName = QStringLiteral("library.json");

// The name a backup gives a snip image: a UUID followed by ".png" (lower case), 40 characters in
// all. Backups, their restore and the store's intake of restored collections accept no other image
// name: any other could reach outside the backup folder or collide with the library file.
bool isBackupImageName(QStringView name);

// The files a backup may carry: the library file and backup image names.
bool isBackupFileName(QStringView name);
