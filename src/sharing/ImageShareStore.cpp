#include "sharing/ImageShareStore.h"

#include "backup/BackupAPI.h"

// Placeholder until link sharing is built.
ImageShareStore::ImageShareStore(AccountStore *, std::unique_ptr<BackupAPI>,
                                 std::function<void(const QUrl &)>, QObject *parent)
    : QObject(parent) {}

ImageShareStore::~ImageShareStore() = default;
