#include "backup/CloudBackupView.h"

// Placeholder until the backup sheet is built.
CloudBackupView::CloudBackupView(CloudBackupStore *, AccountStore *, QWidget *parent) : QDialog(parent) {}

CloudBackupView::~CloudBackupView() = default;
