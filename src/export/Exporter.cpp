#include "export/Exporter.h"

#include "common/Background.h"
#include "model/FileNames.h"
#include "store/CollectionStore.h"
#include "store/FilePanels.h"

#include <QtConcurrent/QtConcurrentRun>

Exporter::Exporter(CollectionStore *store, QObject *parent) : QObject(parent), m_store(store) {}

Exporter::~Exporter() {
    shutdown();
}

void Exporter::present(ExportFormat format) {
    if (!m_store || !m_store->filePanels() || m_panelOpen)
        return;
    const std::optional<SnipCollection> collection = m_store->current();
    if (!collection || collection->items.isEmpty() || m_store->isBusy())
        return;
    const QString extension = ExportFormats::fileExtension(format);
    FilePanels::SaveRequest request;
    request.title = ExportFormats::panelTitle(format);
    request.suggestedName = safeFilename(collection->title) + u'.' + extension;
    request.defaultSuffix = extension;
    request.nameFilters = {ExportFormats::nameFilter(format)};
    m_panelOpen = true;
    QPointer<Exporter> self(this);
    // The copy taken now is what gets exported.
    m_store->filePanels()->chooseSaveFile(request,
                                          [self, snapshot = *collection, format](const QString &path) {
                                              if (!self)
                                                  return;
                                              self->m_panelOpen = false;
                                              if (!path.isEmpty())
                                                  self->start(snapshot, format, path);
                                          });
}

void Exporter::start(const SnipCollection &collection, ExportFormat format, const QString &path) {
    // The panel was open for a while: an export or a capture may have begun meanwhile.
    if (!m_store || m_store->isBusy() || m_job)
        return;
    m_store->save(); // a failed save reports itself and does not stop the export
    m_store->setIsExporting(true);
    m_job = std::make_shared<ExportJob>(collection, format, path, m_store->imagesDirectory());
    disconnect(&m_watcher, nullptr, this, nullptr);
    connect(&m_watcher, &QFutureWatcher<ExportJob::Outcome>::finished, this,
            [this, format, path] { complete(m_watcher.result(), format, path); });
    m_watcher.setFuture(QtConcurrent::run(Background::pool(), [job = m_job] { return job->run(); }));
}

void Exporter::complete(const ExportJob::Outcome &outcome, ExportFormat format, const QString &path) {
    m_job.reset();
    if (m_store) {
        m_store->setIsExporting(false);
        if (!outcome.cancelled) {
            if (outcome.error.isEmpty()) {
                m_store->setExportURL(path);
                m_store->setStatus(ExportFormats::successStatus(format));
            } else {
                m_store->setError(QStringLiteral("Export fehlgeschlagen: ") + outcome.error);
            }
        }
    }
    Q_EMIT finished();
}

void Exporter::shutdown() {
    if (!m_job)
        return;
    m_job->cancel();
    disconnect(&m_watcher, nullptr, this, nullptr);
    m_watcher.waitForFinished();
    m_job.reset();
    if (m_store)
        m_store->setIsExporting(false);
}
