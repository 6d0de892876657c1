#pragma once

// The account store takes its service client and keyring vault as unique_ptr arguments with
// defaults, so whoever constructs one needs both classes complete. Where their own headers are not
// there yet, these empty interfaces stand in; the tests never pass one.
#if __has_include("account/AccountAPI.h")
#include "account/AccountAPI.h"
#else
class AccountAPI {
public:
    virtual ~AccountAPI() = default;
};
#endif
#if __has_include("platform/AccountVault.h")
#include "platform/AccountVault.h"
#else
class AccountVault {
public:
    virtual ~AccountVault() = default;
};
#endif
#include "account/AccountStore.h"
#include "backup/BackupAPI.h"
#include "backup/CloudBackupStore.h"
