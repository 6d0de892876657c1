#pragma once

// Where the account's session is kept between runs.
class AccountVault {
public:
    virtual ~AccountVault() = default;
};
