#pragma once

#include <QByteArray>
#include <QObject>

#include <functional>

// Where the signed-in session survives a restart. Operations complete in the order they were
// asked; results arrive on the main thread and are dropped when the receiver is gone.
class AccountVault {
public:
    enum class Status {
        Done,        // written or removed (removing a missing item is done too)
        Found,       // read: data holds the item
        Missing,     // read: there is no item
        Unavailable, // the desktop offers no secret store
        Failed,      // the secret store refused or failed
    };
    struct Result {
        Status status = Status::Failed;
        QByteArray data;
    };
    using Done = std::function<void(Result)>;

    virtual ~AccountVault() = default;
    virtual void read(QObject *receiver, Done done) = 0;
    virtual void write(const QByteArray &data, QObject *receiver, Done done) = 0;
    virtual void remove(QObject *receiver, Done done) = 0;
};
