#include "common/Background.h"

#include <QThread>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <exception>
#include <memory>
#include <mutex>

#ifdef __GLIBC__
#include <malloc.h>
#endif

namespace Background {

QThreadPool *pool() {
    static QThreadPool *const instance = [] {
#ifdef __GLIBC__
        // Background work passes buffers of megabytes between several threads. Once the first of
        // them is freed glibc raises its mmap threshold, keeps such buffers in per-thread heaps
        // from then on and hardly ever returns them; a fixed threshold does.
        mallopt(M_MMAP_THRESHOLD, 1024 * 1024);
#endif
        QThreadPool *p = QThreadPool::globalInstance();
        p->setMaxThreadCount(std::max(2, QThread::idealThreadCount()));
        return p;
    }();
    return instance;
}

namespace {

struct ForState {
    explicit ForState(int n, const std::function<void(int)> &b) : count(n), body(b) {}
    const int count;
    const std::function<void(int)> &body; // valid while the caller waits, i.e. while indices remain
    std::atomic<int> next{0};
    std::mutex mutex;
    std::condition_variable allDone;
    int finished = 0;
    std::exception_ptr failure;

    // Takes indices until none is left; returns after finishing the last one it took.
    void work() {
        for (;;) {
            const int i = next.fetch_add(1);
            if (i >= count)
                return;
            std::exception_ptr caught;
            try {
                body(i);
            } catch (...) {
                caught = std::current_exception();
            }
            std::lock_guard lock(mutex);
            if (caught && !failure)
                failure = caught;
            if (++finished == count)
                allDone.notify_all();
        }
    }
};

} // namespace

void parallelFor(int count, const std::function<void(int)> &body) {
    if (count <= 0)
        return;
    if (count == 1) {
        body(0);
        return;
    }
    auto state = std::make_shared<ForState>(count, body);
    const int helpers = std::min(count - 1, pool()->maxThreadCount());
    for (int h = 0; h < helpers; ++h) {
        // Only idle threads join; a queued helper could start after the caller returned.
        if (!pool()->tryStart([state] { state->work(); }))
            break;
    }
    state->work();
    std::unique_lock lock(state->mutex);
    state->allDone.wait(lock, [&] { return state->finished == count; });
    if (state->failure)
        std::rethrow_exception(state->failure);
}

} // namespace Background
