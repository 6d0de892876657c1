#pragma once

#include "store/CollectionStore.h"
#include "store/FileErrors.h"

#include <QThread>

#include <atomic>
#include <memory>

// A writer for a store that holds every write of a snip image until released (at the latest when
// this goes, so a failed check cannot leave a write hanging): meanwhile the store is taking a
// captured or imported image in.
class HeldImageWrites {
public:
    HeldImageWrites() = default;
    ~HeldImageWrites() { release(); }
    Q_DISABLE_COPY(HeldImageWrites)

    void release() { m_state->held = false; }
    // How many image writes have begun.
    int waiting() const { return m_state->waiting; }
    CollectionStore::FileWriter writer() const {
        return [state = m_state](const QString &path, const QByteArray &bytes) {
            if (path.endsWith(QStringLiteral(".png"))) {
                ++state->waiting;
                while (state->held)
                    QThread::msleep(5);
            }
            return FileErrors::writeAtomically(path, bytes);
        };
    }

private:
    struct State {
        std::atomic<bool> held = true;
        std::atomic<int> waiting = 0;
    };
    std::shared_ptr<State> m_state = std::make_shared<State>();
};
