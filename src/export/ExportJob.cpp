#include "export/ExportJob.h"

#include "common/Background.h"
#include "export/DOCXExporter.h"
#include "export/ImageRenderer.h"
#include "export/PDFExporter.h"
#include "export/ZipArchive.h"
#include "imaging/PngEncoder.h"
#include "imaging/RegularFile.h"
#include "model/AppFailure.h"
#include "model/FileNames.h"
#include "store/DurableFile.h"
#include "store/FileErrors.h"

#include <QDir>
#include <QFileInfo>

#include <cerrno>

#include <condition_variable>
#include <map>
#include <mutex>

namespace {
[[noreturn]] void fail(const char16_t *sentence) {
    throw AppFailure(QString::fromUtf16(sentence));
}

// The export's own sentence, unless the disk or the quota is full: the user can act on that.
[[noreturn]] void failWriting(const DurableFile &file, const char16_t *sentence) {
    const int error = file.systemError();
    if (error == ENOSPC || error == EDQUOT)
        throw AppFailure(FileErrors::describeSystemError(error));
    fail(sentence);
}

// A prepared snip, or the sentence of its failure, which is raised only when the document reaches
// that snip, so an earlier failure always wins.
struct Prepared {
    ExportSnip item;
    std::optional<quint32> crc;
    QString error;
};

// The two documents behind one face, so the loop below does not care which it writes.
class Document {
public:
    Document(ExportFormat format, const SnipCollection &collection, DurableFile *file) {
        if (format == ExportFormat::Pdf)
            m_pdf.emplace(collection, collection.items.size(), file, QFileInfo(file->path()).absolutePath());
        else
            m_docx.emplace(collection, collection.items.size(), file);
    }
    void add(const Prepared &p) {
        if (m_pdf)
            m_pdf->add(p.item);
        else
            m_docx->add(p.item, p.crc);
    }
    void finish() {
        if (m_pdf)
            m_pdf->finish();
        else
            m_docx->finish();
    }

private:
    std::optional<PDFExporter> m_pdf;
    std::optional<DOCXExporter> m_docx;
};

// Prepares the snips on the background pool and hands them to the document in order. The thread
// that runs the job works too and only ever waits for a snip that a running thread has taken, so
// it cannot wait for pool threads that are all busy, however few cores there are. At most
// kMaxInFlight snips are worked on at once (each holds a few full-size pixel buffers), and at most
// `window` are prepared ahead of the one the document takes next (those hold compressed bytes).
constexpr int kMaxInFlight = 8;

struct Pipeline {
    Pipeline(const SnipCollection &c, QString d, ExportFormat f, std::shared_ptr<std::atomic<bool>> stop)
        : collection(c), directory(std::move(d)), format(f), cancelled(std::move(stop)),
          count(c.items.size()) {}

    const SnipCollection &collection; // outlives the pipeline: finish() waits for every helper
    const QString directory;
    const ExportFormat format;
    const std::shared_ptr<std::atomic<bool>> cancelled;
    const qsizetype count;
    const qsizetype window = 2 * kMaxInFlight;

    std::mutex mutex;
    std::condition_variable changed;
    qsizetype next = 0;     // the next snip nobody has taken
    qsizetype consumed = 0; // snips the document has taken
    int helpers = 0;
    bool stopped = false;
    std::map<qsizetype, Prepared> ready;

    // Under the lock.
    std::optional<qsizetype> take() {
        if (stopped || cancelled->load() || next >= count || next >= consumed + window)
            return std::nullopt;
        return next++;
    }

    void prepare(qsizetype index) {
        Prepared p;
        try {
            p.item = ExportJob::prepareSnip(collection, index, directory, format);
            if (format == ExportFormat::Docx)
                p.crc = ZipArchive::crc32(p.item.png);
        } catch (const AppFailure &failure) {
            p.error = failure.errorDescription();
        } catch (const std::bad_alloc &) {
            p.error = QStringLiteral("Das Bild ist für den Export zu groß.");
        }
        std::lock_guard lock(mutex);
        ready.emplace(index, std::move(p));
        changed.notify_all();
    }

    void help() {
        for (;;) {
            std::optional<qsizetype> index;
            {
                std::lock_guard lock(mutex);
                index = take();
                if (!index) {
                    --helpers;
                    changed.notify_all();
                    return;
                }
            }
            prepare(*index);
        }
    }

    // Starts helpers on idle pool threads only: a queued helper could wait behind this very job.
    static void topUp(const std::shared_ptr<Pipeline> &self) {
        std::lock_guard lock(self->mutex);
        const int most = std::min(Background::pool()->maxThreadCount(), kMaxInFlight) - 1;
        while (self->helpers < most && !self->stopped &&
               self->next < std::min(self->count, self->consumed + self->window)) {
            if (!Background::pool()->tryStart([self] { self->help(); }))
                break;
            ++self->helpers;
        }
    }

    // The next snip in order, prepared here or by a helper; nullopt once cancelled.
    std::optional<Prepared> nextInOrder() {
        std::unique_lock lock(mutex);
        for (;;) {
            if (cancelled->load())
                return std::nullopt;
            if (const auto found = ready.find(consumed); found != ready.end()) {
                Prepared p = std::move(found->second);
                ready.erase(found);
                ++consumed;
                return p;
            }
            if (const std::optional<qsizetype> index = take()) {
                lock.unlock();
                prepare(*index);
                lock.lock();
                continue;
            }
            changed.wait(lock);
        }
    }

    void finish() {
        std::unique_lock lock(mutex);
        stopped = true;
        changed.wait(lock, [&] { return helpers == 0; });
        ready.clear();
    }
};
} // namespace

ExportJob::ExportJob(SnipCollection collection, ExportFormat format, QString destination,
                     QString imagesDirectory)
    : m_collection(std::move(collection)), m_format(format), m_destination(std::move(destination)),
      m_imagesDirectory(std::move(imagesDirectory)) {}

bool ExportJob::validImageName(const QString &name) {
    return isImageFileName(name);
}

ExportSnip ExportJob::prepareSnip(const SnipCollection &collection, qsizetype index,
                                  const QString &imagesDirectory, ExportFormat format) {
    const Snip &snip = collection.items.at(index);
    if (!validImageName(snip.imageFile))
        fail(u"Ungültiger Bildpfad.");
    QByteArray bytes;
    try {
        // A FIFO or device in the image folder is refused instead of blocking the export.
        bytes = RegularFile::readAll(QDir(imagesDirectory).filePath(snip.imageFile));
    } catch (const AppFailure &) {
        fail(u"Ein Bild der Sammlung konnte nicht gelesen werden.");
    }

    ExportSnip item;
    item.title = snip.heading(index, collection.mode);
    item.note = snip.note;
    const QImage image = ImageRenderer::flattenImage(bytes, snip.marks);
    bytes.clear();
    item.width = image.width();
    item.height = image.height();
    if (format == ExportFormat::Pdf)
        item.pixels = FlateImage::make(image);
    else
        item.png = Imaging::encodePng(image, Imaging::PngEffort::Fast);
    return item;
}

ExportJob::Outcome ExportJob::run() {
    Outcome outcome;
    auto pipeline = std::make_shared<Pipeline>(m_collection, m_imagesDirectory, m_format, m_cancelled);
    try {
        DurableFile file(m_destination);
        if (!file.open())
            failWriting(file, u"Die Exportdatei konnte nicht angelegt werden.");
        Document document(m_format, m_collection, &file);
        for (qsizetype taken = 0; taken < pipeline->count; ++taken) {
            Pipeline::topUp(pipeline);
            const std::optional<Prepared> prepared = pipeline->nextInOrder();
            if (!prepared)
                break;
            if (!prepared->error.isEmpty())
                throw AppFailure(prepared->error);
            document.add(*prepared);
            if (m_afterSnip)
                m_afterSnip(taken);
        }
        if (m_cancelled->load()) {
            outcome.cancelled = true;
            file.discard();
        } else {
            document.finish();
            if (!file.commit())
                failWriting(file, file.failedStep() == DurableFile::Step::Replace
                                      ? u"Die Exportdatei konnte nicht gespeichert werden."
                                      : u"Die Exportdatei konnte nicht geschrieben werden.");
        }
    } catch (const AppFailure &failure) {
        outcome.error = failure.errorDescription();
    } catch (const std::bad_alloc &) {
        outcome.error = QStringLiteral("Der Export ist zu groß.");
    }
    // Snips still being flattened finish before the job returns, so nothing outlives it.
    pipeline->finish();
    return outcome;
}
