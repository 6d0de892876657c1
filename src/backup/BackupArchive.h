#pragma once

#include <QString>

// The files a backup carries: the library file and the snip images.
namespace BackupArchive {

// True for "library.json" and for a snip image name: a UUID followed by ".png" (lower case), 40
// characters in all. Every other name could reach outside the backup folder or collide with it.
bool validName(const QString &name);

} // namespace BackupArchive
