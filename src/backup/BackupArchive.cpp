#include "backup/BackupArchive.h"

#include "model/FileNames.h"
#include "model/Ids.h"

namespace BackupArchive {

bool validName(const QString &name) {
    if (name == u"library.json")
        return true;
    return name.size() == 40 && isImageFileName(name) && name.endsWith(u".png", Qt::CaseSensitive) &&
           parseUuid(QStringView(name).first(36)).has_value();
}

} // namespace BackupArchive
