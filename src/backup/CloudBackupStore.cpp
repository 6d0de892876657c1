#include "backup/CloudBackupStore.h"

#include "backup/BackupAPI.h"

// Placeholder until the cloud backup is built.
CloudBackupStore::CloudBackupStore(AccountStore *, CollectionStore *, std::unique_ptr<BackupAPI>, QSettings *,
                                   bool, QObject *parent)
    : QObject(parent) {}

CloudBackupStore::~CloudBackupStore() = default;

void CloudBackupStore::setShowSheet(bool value) {
    if (m_showSheet == value)
        return;
    m_showSheet = value;
    Q_EMIT showSheetChanged();
}
