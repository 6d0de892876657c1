#pragma once

#include "backup/BackupManifest.h"

#include <QDialog>

#include <optional>

class AccountStore;
class CloudBackupStore;
class CoalescedRefresh;
class QCheckBox;
class QLabel;
class QPushButton;
class QWidget;
class RowList;

// The cloud backup sheet.
class CloudBackupView : public QDialog {
    Q_OBJECT

public:
    CloudBackupView(CloudBackupStore *backup, AccountStore *account, QWidget *parent = nullptr);
    ~CloudBackupView() override;

    // "07.12.2026, 14:05 · 201 Dateien · 1 GB"
    static QString snapshotText(const BackupSnapshot &snapshot);

protected:
    void showEvent(QShowEvent *event) override;

private:
    static constexpr int kSignedInHeight = 520;

    void refresh();
    void showState();
    void rebuildSnapshots();
    void confirm(const QString &title, const QString &text, const QString &action,
                 std::function<void()> then);

    CloudBackupStore *m_backup;
    AccountStore *m_account;
    CoalescedRefresh *m_refresh;
    std::optional<QString> m_shownOwner;
    QList<BackupSnapshot> m_shownSnapshots;
    bool m_snapshotButtonsEnabled = true;

    QWidget *m_signedOut;
    QLabel *m_unavailable;
    QWidget *m_signedIn;
    QCheckBox *m_enabled;
    QCheckBox *m_automatic;
    QPushButton *m_backUpNow;
    QLabel *m_lastSuccess;
    QWidget *m_busy;
    QLabel *m_activity;
    QLabel *m_failure;
    QLabel *m_notice;
    RowList *m_snapshots;
};
