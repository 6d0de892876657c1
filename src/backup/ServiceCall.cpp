#include "backup/ServiceCall.h"

#include "account/AccountStore.h"

void ServiceCall::send(BackupRequest request, std::function<void(const QByteArray &)> next) const {
    const ServiceCall call = *this;
    account->backupAccessToken(
        owner, receiver, [call, request = std::move(request), next](AccessTokenResult token) mutable {
            if (!call.stillCurrent())
                return;
            if (!token.succeeded())
                return call.failed(token.failure);
            request.token = token.token;
            call.api->request(std::move(request), call.receiver, [call, next](BackupResponse response) {
                if (!call.stillCurrent())
                    return;
                if (!response.succeeded())
                    return call.failed(response.failure);
                next(response.body);
            });
        });
}
