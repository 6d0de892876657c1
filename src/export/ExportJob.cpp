#include "export/ExportJob.h"

#include "export/DOCXExporter.h"
#include "export/ImageRenderer.h"
#include "export/PDFExporter.h"
#include "export/ZipArchive.h"
#include "model/AppFailure.h"
#include "model/FileNames.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFuture>
#include <QSaveFile>
#include <QThread>
#include <QThreadPool>
#include <QtConcurrent/QtConcurrentRun>

#include <deque>
#include <mutex>

#ifdef __GLIBC__
#include <malloc.h>
#endif

namespace {
[[noreturn]] void fail(const char16_t *sentence) {
    throw AppFailure(QString::fromUtf16(sentence));
}

// A prepared snip, or the sentence of its failure: exceptions do not cross QFuture.
struct Prepared {
    ExportSnip item;
    std::optional<quint32> crc;
    QString error;
};

// The two documents behind one face, so the loop below does not care which it writes.
class Document {
public:
    Document(ExportFormat format, const SnipCollection &collection, QIODevice *device) {
        if (format == ExportFormat::Pdf)
            m_pdf.emplace(collection, collection.items.size(), device);
        else
            m_docx.emplace(collection, collection.items.size(), device);
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
} // namespace

ExportJob::ExportJob(SnipCollection collection, ExportFormat format, QString destination,
                     QString imagesDirectory)
    : m_collection(std::move(collection)), m_format(format), m_destination(std::move(destination)),
      m_imagesDirectory(std::move(imagesDirectory)) {}

int ExportJob::lookahead() {
    return std::clamp(QThread::idealThreadCount(), 2, 6);
}

bool ExportJob::validImageName(const QString &name) {
    return isImageFileName(name);
}

ExportSnip ExportJob::prepareSnip(const SnipCollection &collection, qsizetype index,
                                  const QString &imagesDirectory, ExportFormat format) {
    const Snip &snip = collection.items.at(index);
    if (!validImageName(snip.imageFile))
        fail(u"Ungültiger Bildpfad.");
    QFile file(QDir(imagesDirectory).filePath(snip.imageFile));
    if (!file.open(QIODevice::ReadOnly))
        fail(u"Ein Bild der Sammlung konnte nicht gelesen werden.");
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        fail(u"Ein Bild der Sammlung konnte nicht gelesen werden.");
    file.close();

    ExportSnip item;
    item.title = snip.heading(index, collection.mode);
    item.note = snip.note;
    if (format == ExportFormat::Pdf) {
        item.image = ImageRenderer::flattenImage(bytes, snip.marks);
        item.width = item.image.width();
        item.height = item.image.height();
    } else {
        const FlattenedImage flat = ImageRenderer::flatten(bytes, snip.marks);
        item.png = flat.png;
        item.width = flat.width;
        item.height = flat.height;
    }
    return item;
}

ExportJob::Outcome ExportJob::run() {
#ifdef __GLIBC__
    // Every snip brings pixel buffers of tens of megabytes on several threads. After the first of
    // them is freed glibc raises its mmap threshold and from then on keeps such buffers in
    // per-thread heaps, which grow with the number of snips; a fixed threshold returns them.
    static std::once_flag threshold;
    std::call_once(threshold, [] { mallopt(M_MMAP_THRESHOLD, 1024 * 1024); });
#endif
    Outcome outcome;
    // A pool of its own: the job itself may run on a thread of the global pool, and with one or
    // two cores its snips would wait behind it.
    QThreadPool pool;
    pool.setMaxThreadCount(lookahead());
    std::deque<QFuture<Prepared>> pending;
    qsizetype next = 0;
    const qsizetype count = m_collection.items.size();
    const SnipCollection &collection = m_collection;
    auto submit = [&] {
        const qsizetype index = next++;
        pending.push_back(QtConcurrent::run(&pool, [collection, index, directory = m_imagesDirectory,
                                                    format = m_format, cancelled = m_cancelled] {
            Prepared p;
            if (cancelled->load())
                return p;
            try {
                p.item = prepareSnip(collection, index, directory, format);
                if (format == ExportFormat::Docx)
                    p.crc = ZipArchive::crc32(p.item.png);
            } catch (const AppFailure &failure) {
                p.error = failure.errorDescription();
            } catch (const std::bad_alloc &) {
                p.error = QStringLiteral("Das Bild ist für den Export zu groß.");
            }
            return p;
        }));
    };

    try {
        QSaveFile file(m_destination);
        if (!file.open(QIODevice::WriteOnly))
            fail(u"Die Exportdatei konnte nicht angelegt werden.");
        Document document(m_format, m_collection, &file);
        while (next < count && qsizetype(pending.size()) < lookahead())
            submit();
        while (!pending.empty()) {
            if (m_cancelled->load())
                break;
            const Prepared prepared = pending.front().result();
            pending.pop_front();
            if (!prepared.error.isEmpty())
                throw AppFailure(prepared.error);
            if (m_cancelled->load())
                break;
            document.add(prepared);
            if (next < count)
                submit();
        }
        if (m_cancelled->load()) {
            outcome.cancelled = true;
            file.cancelWriting();
        } else {
            document.finish();
            if (!file.commit())
                fail(u"Die Exportdatei konnte nicht gespeichert werden.");
        }
    } catch (const AppFailure &failure) {
        outcome.error = failure.errorDescription();
    } catch (const std::bad_alloc &) {
        outcome.error = QStringLiteral("Der Export ist zu groß.");
    }
    // Snips still being flattened finish before the job returns, so nothing outlives it.
    m_cancelled->store(true);
    for (QFuture<Prepared> &f : pending)
        f.waitForFinished();
    return outcome;
}
