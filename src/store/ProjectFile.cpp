#include "store/ProjectFile.h"

#include "model/AppFailure.h"
#include "model/JsonCodingDetail.h"
#include "shell/ImageImport.h"
#include "store/RegularFile.h"

#include <QBuffer>
#include <QFile>
#include <QHash>
#include <QImage>
#include <QImageReader>
#include <QImageWriter>
#include <QMap>
#include <QThreadPool>
#include <QtConcurrent/QtConcurrentMap>

#include <cstring>
#include <new>

namespace {

const QString kFileTooLarge = QStringLiteral("Die Projektdatei ist größer als 200 MB.");
const QString kProjectTooLarge =
    QStringLiteral("Das Projekt überschreitet 200 MB. Bitte teile es in kleinere Sammlungen auf.");
const QString kUnknownVersion = QStringLiteral("Unbekannte Projektversion.");
const QString kBrokenImage = QStringLiteral("Ein Bild fehlt oder ist beschädigt.");
const QString kInvalidMarks = QStringLiteral("Die Datei enthält ungültige Markierungen.");
const QString kNotAProject = QStringLiteral("Die Datei ist keine gültige Projektdatei.");
const QString kOutOfMemory = QStringLiteral("Für die Datei ist nicht genug Arbeitsspeicher frei.");
const QString kUnwritableNumber =
    QStringLiteral("Die Sammlung enthält einen Zahlenwert, der nicht gespeichert werden kann.");

// zlib level 4: a third of the default level's time on busy screenshots for 2 % more bytes.
constexpr int kPngQuality = 50;

[[noreturn]] void fail(const QString &sentence) {
    throw AppFailure(sentence);
}

// A HEIC image through the import checks: its full-size PNG copy when the size is supported. The
// search for a reduced copy is stopped before it starts.
QByteArray heicAsPng(const QByteArray &bytes) {
    try {
        const ImageImport::Review review =
            ImageImport::review(bytes, ImageImport::maximumSourceBytes, [] { return true; });
        if (review.original && !review.reduced)
            return review.original->png;
    } catch (const AppFailure &) {
    } catch (const ImageImport::Cancelled &) {
    }
    return {};
}

// Parses a document held in a buffer that has simdjson's padding behind it.
json::Value parsePadded(simdjson::dom::parser &parser, const char *data, size_t size) {
    json::Value root;
    const auto error = parser.parse(data, size, false).get(root);
    if (error == simdjson::MEMALLOC)
        throw std::bad_alloc();
    if (error != simdjson::SUCCESS)
        throw json::DecodeError(std::string("invalid JSON: ") + simdjson::error_message(error));
    return root;
}

// One value of the images object: its Base64 text checked and, when a snip uses it, turned
// into a checked PNG.
struct ImageJob {
    json::Value base64;
    bool used = false;
    QByteArray png;
    bool badBase64 = false;
    bool outOfMemory = false;
};

void runImageJob(ImageJob &job) {
    try {
        const QByteArray bytes = json::readBase64(job.base64);
        if (job.used)
            job.png = ProjectFile::reencodeAsPng(bytes);
    } catch (const json::DecodeError &) {
        job.badBase64 = true;
    } catch (const std::bad_alloc &) {
        job.outOfMemory = true;
    }
}

// Two images at a time: re-encoding dominates opening, and each job holds a decoded image, so
// more workers would cost more memory than they save time.
QThreadPool &imagePool() {
    static QThreadPool *pool = [] {
        auto *p = new QThreadPool;
        p->setMaxThreadCount(2);
        return p;
    }();
    return *pool;
}

// Checks the parsed document with the failures in this order: structure (every Base64 value
// included), version, then each snip's image and marks in snip order. The input buffer is already
// released, so only the parser's copy of the text and the images in work are held besides the
// results.
ProjectFile::Contents checkDocument(const json::Value &root) {
    json::requireObject(root, "project");
    const qint64 version = json::readInt(json::member(root, "version"));
    SnipCollection collection = json::readCollection(json::member(root, "collection"));
    simdjson::dom::object images;
    if (json::member(root, "images").get_object().get(images) != simdjson::SUCCESS)
        throw json::DecodeError("expected an object: images");

    QList<ImageJob> jobs;
    QHash<QString, qsizetype> jobByName; // a repeated key: the last one counts, as in any decoder
    for (const auto field : images) {
        jobByName.insert(QString::fromUtf8(field.key.data(), qsizetype(field.key.size())), jobs.size());
        ImageJob job;
        job.base64 = field.value;
        jobs.append(job);
    }
    for (const Snip &snip : std::as_const(collection.items)) {
        if (const auto job = jobByName.constFind(snip.imageFile); job != jobByName.cend())
            jobs[*job].used = true;
    }
    QtConcurrent::blockingMap(&imagePool(), jobs, runImageJob);
    for (const ImageJob &job : std::as_const(jobs)) {
        if (job.badBase64)
            throw json::DecodeError("bad Base64");
        if (job.outOfMemory)
            throw std::bad_alloc();
    }

    if (version != 1)
        fail(kUnknownVersion);

    ProjectFile::Contents contents;
    collection.id = QUuid::createUuid();
    for (Snip &snip : collection.items) {
        const auto job = jobByName.constFind(snip.imageFile);
        if (job == jobByName.cend() || jobs[*job].png.isEmpty())
            fail(kBrokenImage);
        for (const Mark &mark : std::as_const(snip.marks)) {
            if (!mark.isValid())
                fail(kInvalidMarks);
        }
        // Two snips that share an image still get a file each.
        const QString name = uuidText(QUuid::createUuid()) + QStringLiteral(".png");
        snip.id = QUuid::createUuid();
        snip.imageFile = name;
        contents.images.append({name, jobs[*job].png});
    }
    contents.collection = std::move(collection);
    return contents;
}

template <typename Parse> ProjectFile::Contents decodeGuarded(Parse &&parse) {
    try {
        simdjson::dom::parser parser;
        return checkDocument(parse(parser));
    } catch (const json::DecodeError &) {
        fail(kNotAProject);
    } catch (const std::bad_alloc &) {
        fail(kOutOfMemory);
    }
}

qint64 base64Length(qint64 bytes) {
    return (bytes + 2) / 3 * 4;
}

} // namespace

const QString &ProjectFile::suffix() {
    static const QString text = QStringLiteral("vellumbox");
    return text;
}

QByteArray ProjectFile::reencodeAsPng(const QByteArray &bytes) {
    const QByteArray format = ImageImport::rasterFormat(bytes);
    if (format.isEmpty())
        return {};
    if (format == "heic")
        return heicAsPng(bytes);
    ImageImport::raiseAllocationLimit();
    QBuffer source;
    source.setData(bytes);
    if (!source.open(QIODevice::ReadOnly))
        return {};
    QImageReader reader(&source, format);
    reader.setAutoDetectImageFormat(false);
    const QSize size = reader.size();
    if (!size.isValid() || !ImageImport::supportedDimensions(size.width(), size.height()))
        return {};
    QImage image;
    if (!reader.read(&image) || !ImageImport::supportedDimensions(image.width(), image.height()))
        return {};

    QByteArray png;
    QBuffer target(&png);
    if (!target.open(QIODevice::WriteOnly))
        return {};
    QImageWriter writer(&target, "png");
    writer.setQuality(kPngQuality);
    if (!writer.write(image))
        return {};
    return png;
}

ProjectFile::Contents ProjectFile::read(const QString &path) {
    return decodeGuarded([&](simdjson::dom::parser &parser) {
        simdjson::padded_string buffer;
        size_t length = 0;
        {
            RegularFile file(path);
            if (file.size() > maximumBytes)
                fail(kFileTooLarge);
            buffer = simdjson::padded_string(size_t(file.size()));
            if (!buffer.data())
                throw std::bad_alloc();
            length = size_t(file.readInto(buffer.data(), file.size()));
            std::memset(buffer.data() + length, 0, buffer.size() - length);
        }
        const json::Value root = parsePadded(parser, buffer.data(), length);
        // The parser holds its own copy of every string; the file's bytes are no longer needed.
        buffer = simdjson::padded_string();
        return root;
    });
}

ProjectFile::Contents ProjectFile::decode(QByteArrayView document) {
    if (document.size() > maximumBytes)
        fail(kFileTooLarge);
    return decodeGuarded([&](simdjson::dom::parser &parser) {
        const simdjson::padded_string buffer(document.data(), size_t(document.size()));
        if (!buffer.data())
            throw std::bad_alloc();
        return parsePadded(parser, buffer.data(), buffer.size());
    });
}

QByteArray ProjectFile::encode(const SnipCollection &collection, const ImagePath &imagePath) {
    struct Entry {
        QString path;
        QByteArray key; // the name as a JSON string, quotes included
        qint64 size = 0;
    };
    // Keys in sorted order; a later snip with the same name stands for the same file.
    QMap<QString, Entry> entries;
    for (const Snip &snip : collection.items) {
        Entry entry;
        entry.path = imagePath(snip.imageFile);
        entry.size = RegularFile(entry.path).size();
        rapidjson::StringBuffer key;
        rapidjson::Writer<rapidjson::StringBuffer> writer(key);
        json::writeString(writer, snip.imageFile);
        entry.key = QByteArray(key.GetString(), qsizetype(key.GetSize()));
        entries.insert(snip.imageFile, entry);
    }

    rapidjson::StringBuffer body;
    rapidjson::Writer<rapidjson::StringBuffer> writer(body);
    if (!json::writeCollection(writer, collection))
        fail(kUnwritableNumber);

    static constexpr QByteArrayView head = R"({"collection":)";
    static constexpr QByteArrayView middle = R"(,"images":{)";
    static constexpr QByteArrayView tail = R"(},"version":1})";
    qint64 total = head.size() + qint64(body.GetSize()) + middle.size() + tail.size();
    for (const Entry &entry : std::as_const(entries))
        total += entry.key.size() + 3 + base64Length(entry.size); // colon and two quotes
    total += std::max<qint64>(0, entries.size() - 1);             // commas
    if (total > maximumBytes)
        fail(kProjectTooLarge);

    QByteArray document;
    try {
        document.reserve(total);
        document.append(head).append(body.GetString(), qsizetype(body.GetSize())).append(middle);
        bool first = true;
        for (const Entry &entry : std::as_const(entries)) {
            RegularFile file(entry.path);
            // A file that grew since its size was taken is caught by the final check.
            const qint64 capacity = std::min<qint64>(file.size(), maximumBytes);
            QByteArray bytes(capacity, Qt::Uninitialized);
            bytes.truncate(file.readInto(bytes.data(), capacity));
            if (!first)
                document.append(',');
            first = false;
            document.append(entry.key).append(":\"").append(bytes.toBase64()).append('"');
        }
        document.append(tail);
    } catch (const std::bad_alloc &) {
        fail(kOutOfMemory);
    }
    if (document.size() > maximumBytes)
        fail(kProjectTooLarge);
    return document;
}
