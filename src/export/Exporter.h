#pragma once

#include "export/ExportJob.h"
#include "export/ExportRecords.h"

#include <QFutureWatcher>
#include <QObject>
#include <QPointer>
#include <QString>

#include <functional>
#include <memory>

class CollectionStore;

// Exports the current collection: asks for a destination, saves the library, then renders and
// writes the document off the main thread. Reports only through the store's isExporting,
// exportURL, status and error. Main thread only.
class Exporter : public QObject {
    Q_OBJECT

public:
    // Asks for the destination through the store's file panels; without them it does nothing.
    explicit Exporter(CollectionStore *store, QObject *parent = nullptr);
    ~Exporter() override;

    // Returns at once; does nothing without a current collection with snips, while an export or a
    // capture runs, or while a save panel is open.
    void present(ExportFormat format);

    // For quitting: stops a running export between two snips and waits for it, so no worker
    // outlives the store. Leaves no partial file.
    void shutdown();

    bool isRunning() const { return m_job != nullptr; }

Q_SIGNALS:
    // After the store has been told the outcome.
    void finished();

private:
    void start(const SnipCollection &collection, ExportFormat format, const QString &path);
    void complete(const ExportJob::Outcome &outcome, ExportFormat format, const QString &path);

    QPointer<CollectionStore> m_store;
    bool m_panelOpen = false;
    std::shared_ptr<ExportJob> m_job;
    QFutureWatcher<ExportJob::Outcome> m_watcher;
};
