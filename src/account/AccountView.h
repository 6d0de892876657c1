#pragma once

#include <QDialog>

#include <functional>

class AccountStore;

// The account sheet. `openBackups` runs after the sheet has closed when the user asks for the
// cloud backup.
class AccountView : public QDialog {
    Q_OBJECT

public:
    AccountView(AccountStore *account, std::function<void()> openBackups, QWidget *parent = nullptr);
    ~AccountView() override;
};
