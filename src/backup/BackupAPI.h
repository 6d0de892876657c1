#pragma once

// The one HTTP client interface of the backup and share services.
class BackupAPI {
public:
    virtual ~BackupAPI() = default;
};
