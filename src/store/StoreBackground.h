#pragma once

// Only for the store's own source files.
#include "common/Background.h"
#include "store/CollectionStore.h"

#include <QCoreApplication>
#include <QString>

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>

namespace StoreWork {
// Runs one step of background work: an empty text when it returned, else the German sentence of
// what it threw (an AppFailure's own; when memory ran out `outOfMemory`, by default the sentence
// for an image). Nothing escapes.
QString attempt(const std::function<void()> &step, const QString &outOfMemory = {});
} // namespace StoreWork

// Finished steps wait here for the main thread, in the order they finished: picked up by the
// event loop, or at once by finishPendingWork without running anything else.
struct CollectionStore::WorkLine {
    std::mutex mutex;
    std::condition_variable ready;
    std::deque<std::function<void()>> results;
};

template <typename Work, typename Apply> void CollectionStore::inBackground(Work work, Apply apply) {
    // The application outlives the store; the store itself may be gone when the result comes.
    QPointer<CollectionStore> self(this);
    ++m_pendingWork;
    Background::pool()->start(
        [line = m_workLine, self, work = std::move(work), apply = std::move(apply)]() mutable {
            auto result = work();
            std::function<void()> finished = [self, apply = std::move(apply),
                                              result = std::move(result)]() mutable {
                if (self)
                    --self->m_pendingWork;
                apply(self.data(), std::move(result));
            };
            {
                std::lock_guard lock(line->mutex);
                line->results.push_back(std::move(finished));
                line->ready.notify_all();
            }
            QMetaObject::invokeMethod(
                QCoreApplication::instance(), [line] { applyFinished(*line); }, Qt::QueuedConnection);
        });
}
