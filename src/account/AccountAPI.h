#pragma once

// The authentication service as the account store talks to it.
class AccountAPI {
public:
    virtual ~AccountAPI() = default;
};
