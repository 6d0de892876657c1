#pragma once

#include <QCoreApplication>
#include <QMetaObject>
#include <QPointer>
#include <QThreadPool>

#include <functional>
#include <type_traits>
#include <utility>

// The application's one pool for background work (decoding, encoding, recognition, hashing,
// export). Everything that must not run on the main thread goes here, so the machine's cores are
// shared instead of each feature starting threads of its own.
//
// Rule for code on the pool: never block waiting for another task of the pool that may not have
// started yet (on one or two cores that deadlocks). Use parallelFor, which lets the caller do the
// work itself, or hand results back to the main thread with run().
namespace Background {

// Bounded by the machine's cores, at least two threads.
QThreadPool *pool();

// Runs `work` on the pool and hands its result to `done` on the main thread, unless `receiver`
// has been destroyed by then (the result is then dropped). `work` must not throw.
template <typename Work, typename Done> void run(QObject *receiver, Work work, Done done) {
    QPointer<QObject> guard(receiver);
    pool()->start([guard, work = std::move(work), done = std::move(done)]() mutable {
        if constexpr (std::is_void_v<std::invoke_result_t<Work &>>) {
            work();
            QMetaObject::invokeMethod(
                QCoreApplication::instance(),
                [guard, done = std::move(done)]() mutable {
                    if (guard)
                        done();
                },
                Qt::QueuedConnection);
        } else {
            auto result = work();
            QMetaObject::invokeMethod(
                QCoreApplication::instance(),
                [guard, done = std::move(done), result = std::move(result)]() mutable {
                    if (guard)
                        done(std::move(result));
                },
                Qt::QueuedConnection);
        }
    });
}

// Runs body(0) … body(count − 1), spread over the idle threads of the pool with the calling thread
// working too, and returns when all have finished. Safe from a pool thread: it never waits for a
// task that has not started. The first exception thrown by a body is rethrown here after the rest
// have finished.
void parallelFor(int count, const std::function<void(int)> &body);

} // namespace Background
