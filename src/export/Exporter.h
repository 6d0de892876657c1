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

// What the save panel shows and proposes.
struct SavePanelRequest {
    QString title;
    QString fileName; // proposed name, with extension
    QString nameFilter;
    QString suffix; // appended when the user types a name without it
};

// Shows a save panel without blocking and later calls `done` once with the chosen path, or an
// empty string when the user cancelled. Tests pass a fake; the application a QFileDialog.
using SavePanel =
    std::function<void(const SavePanelRequest &request, std::function<void(const QString &path)> done)>;

// Exports the current collection: asks for a destination, saves the library, then renders and
// writes the document off the main thread. Reports only through the store's isExporting,
// exportURL, status and error. Main thread only.
class Exporter : public QObject {
    Q_OBJECT

public:
    Exporter(CollectionStore *store, SavePanel savePanel, QObject *parent = nullptr);
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
    SavePanel m_savePanel;
    bool m_panelOpen = false;
    std::shared_ptr<ExportJob> m_job;
    QFutureWatcher<ExportJob::Outcome> m_watcher;
};
