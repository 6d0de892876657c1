#pragma once

#include <QDialog>

#include <functional>

class AccountStore;
class CoalescedRefresh;
class QLabel;
class QPushButton;
class QWidget;

// The account sheet. `openBackups` runs after the sheet has closed when the user asks for the
// cloud backup.
class AccountView : public QDialog {
    Q_OBJECT

public:
    AccountView(AccountStore *account, std::function<void()> openBackups, QWidget *parent = nullptr);
    ~AccountView() override;

protected:
    void showEvent(QShowEvent *event) override;

private:
    void refresh();

    AccountStore *m_account;
    std::function<void()> m_openBackups;
    CoalescedRefresh *m_refresh;
    QLabel *m_heading;
    QLabel *m_explanation;
    QWidget *m_busy;
    QLabel *m_keyringNote;
    QLabel *m_message;
    QPushButton *m_signIn;
    QPushButton *m_cancel;
    QPushButton *m_manage;
    QPushButton *m_backups;
    QPushButton *m_signOut;
};
