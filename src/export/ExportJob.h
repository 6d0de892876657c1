#pragma once

#include "export/ExportRecords.h"

#include <QString>

#include <atomic>
#include <functional>
#include <memory>

// The background part of one export: flattens and compresses the snips in parallel on the
// background pool, hands them to the document in order as they are ready and writes the file
// atomically. Neither the document nor all flattened images are ever held in memory at once.
// Works only on its own copies and the image files.
class ExportJob {
public:
    struct Outcome {
        bool cancelled = false;
        QString error; // the failure's German sentence; empty on success or when cancelled
    };

    ExportJob(SnipCollection collection, ExportFormat format, QString destination, QString imagesDirectory);

    // Runs on the calling thread until the file is written, a failure stops it or it is cancelled;
    // never throws. On failure or cancellation the destination is left as it was.
    Outcome run();

    // Safe from any thread; checked between snips.
    void cancel() { m_cancelled->store(true); }
    std::shared_ptr<std::atomic<bool>> cancelFlag() const { return m_cancelled; }

    // Called on the job's thread after the document has taken each snip (its index), for instance
    // to cancel at a known point.
    void setAfterSnip(std::function<void(qsizetype)> afterSnip) { m_afterSnip = std::move(afterSnip); }

    // Checks the image name, reads the file and flattens the snip at `index` for `format`.
    // Throws AppFailure.
    static ExportSnip prepareSnip(const SnipCollection &collection, qsizetype index,
                                  const QString &imagesDirectory, ExportFormat format);
    // The library's rule for image file names (isImageFileName).
    static bool validImageName(const QString &name);

private:
    SnipCollection m_collection;
    ExportFormat m_format;
    QString m_destination;
    QString m_imagesDirectory;
    std::shared_ptr<std::atomic<bool>> m_cancelled = std::make_shared<std::atomic<bool>>(false);
    std::function<void(qsizetype)> m_afterSnip;
};
