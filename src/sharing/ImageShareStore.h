#pragma once

#include <QObject>
#include <QUrl>

#include <functional>
#include <memory>

class AccountStore;
class BackupAPI;

// Shares one annotated image as a link, keeps the links, copies and revokes them. Main thread.
class ImageShareStore : public QObject {
    Q_OBJECT

public:
    // Without an api the production client is made; without copyURL the clipboard is used.
    explicit ImageShareStore(AccountStore *account, std::unique_ptr<BackupAPI> api = {},
                             std::function<void(const QUrl &)> copyURL = {}, QObject *parent = nullptr);
    ~ImageShareStore() override;
};
