#pragma once

// Only for the store's own source files.
#include "common/Background.h"
#include "store/CollectionStore.h"

#include <QCoreApplication>
#include <QString>

#include <functional>

namespace StoreWork {
// Runs one step of background work: an empty text when it returned, else the German sentence of
// what it threw (an AppFailure's own; when memory ran out `outOfMemory`, by default the sentence
// for an image). Nothing escapes.
QString attempt(const std::function<void()> &step, const QString &outOfMemory = {});
} // namespace StoreWork

template <typename Work, typename Apply> void CollectionStore::inBackground(Work work, Apply apply) {
    // The application outlives the store; the store itself may be gone when the result comes.
    QPointer<CollectionStore> self(this);
    ++m_pendingWork;
    Background::run(QCoreApplication::instance(), std::move(work),
                    [self, apply = std::move(apply)](auto result) mutable {
                        if (self)
                            --self->m_pendingWork;
                        apply(self.data(), std::move(result));
                    });
}
