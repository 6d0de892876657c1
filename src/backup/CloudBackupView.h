#pragma once

#include <QDialog>

class AccountStore;
class CloudBackupStore;

// The cloud backup sheet.
class CloudBackupView : public QDialog {
    Q_OBJECT

public:
    CloudBackupView(CloudBackupStore *backup, AccountStore *account, QWidget *parent = nullptr);
    ~CloudBackupView() override;
};
