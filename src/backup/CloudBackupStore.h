#pragma once

#include <QObject>

#include <memory>

class AccountStore;
class BackupAPI;
class CollectionStore;
class QSettings;

// Backs the library up to the backup service, lists, restores and deletes snapshots. Main thread.
class CloudBackupStore : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool showSheet READ showSheet WRITE setShowSheet NOTIFY showSheetChanged)

public:
    // Without an api the production client is made; without settings the application's are used.
    CloudBackupStore(AccountStore *account, CollectionStore *library, std::unique_ptr<BackupAPI> api = {},
                     QSettings *defaults = nullptr, bool available = true, QObject *parent = nullptr);
    ~CloudBackupStore() override;

    bool showSheet() const { return m_showSheet; }
    void setShowSheet(bool value);

Q_SIGNALS:
    void showSheetChanged();

private:
    bool m_showSheet = false;
};
