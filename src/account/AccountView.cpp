#include "account/AccountView.h"

// Placeholder until the account sheet is built.
AccountView::AccountView(AccountStore *, std::function<void()>, QWidget *parent) : QDialog(parent) {}

AccountView::~AccountView() = default;
