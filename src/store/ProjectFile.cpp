#include "store/ProjectFile.h"

#include "common/Background.h"
#include "imaging/ImageDecoder.h"
#include "imaging/RegularFile.h"
#include "model/AppFailure.h"
#include "model/JsonCodingDetail.h"

#include <QHash>
#include <QMap>
#include <QSet>

#include <algorithm>
#include <cstring>
#include <new>
#include <vector>

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

[[noreturn]] void fail(const QString &sentence) {
    throw AppFailure(sentence);
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

// What the checks need of a parsed document once the parser is gone: the images that snips use,
// as bytes.
struct Parsed {
    qint64 version = 0;
    SnipCollection collection;
    QHash<QString, QByteArray> images;
};

// Every Base64 value is checked here, so a broken one fails the document as a whole, before its
// version; the bytes of images no snip uses are not kept.
Parsed parseDocument(const json::Value &root) {
    json::requireObject(root, "project");
    Parsed parsed;
    parsed.version = json::readInt(json::member(root, "version"));
    parsed.collection = json::readCollection(json::member(root, "collection"));
    simdjson::dom::object images;
    if (json::member(root, "images").get_object().get(images) != simdjson::SUCCESS)
        throw json::DecodeError("expected an object: images");
    QSet<QString> used;
    for (const Snip &snip : std::as_const(parsed.collection.items))
        used.insert(snip.imageFile);
    for (const auto field : images) {
        const QString name = QString::fromUtf8(field.key.data(), qsizetype(field.key.size()));
        QByteArray bytes = json::readBase64(field.value);
        // A repeated key: the last one counts, as in any decoder.
        if (used.contains(name))
            parsed.images.insert(name, std::move(bytes));
    }
    return parsed;
}

// The failures come in this order: version, then each snip's image and marks in snip order. Only
// the images up to the first snip that fails without decoding are re-encoded, in parallel and
// within the pixel memory that decodes may use at once.
ProjectFile::Contents checkContents(Parsed parsed) {
    if (parsed.version != 1)
        fail(kUnknownVersion);
    QList<Snip> &items = parsed.collection.items;
    qsizetype checked = items.size();
    for (qsizetype i = 0; i < items.size() && checked == items.size(); ++i) {
        const bool marksValid = std::all_of(items[i].marks.cbegin(), items[i].marks.cend(),
                                            [](const Mark &mark) { return mark.isValid(); });
        if (!parsed.images.contains(items[i].imageFile) || !marksValid)
            checked = i + 1;
    }

    struct Job {
        QString name;
        QByteArray bytes;
        QByteArray png;
    };
    std::vector<Job> jobs;
    QHash<QString, size_t> jobByName;
    for (qsizetype i = 0; i < checked; ++i) {
        const QString &name = items[i].imageFile;
        if (parsed.images.contains(name) && !jobByName.contains(name)) {
            jobByName.insert(name, jobs.size());
            jobs.push_back({name, parsed.images.take(name), {}});
        }
    }
    parsed.images.clear();
    Background::parallelFor(int(jobs.size()), [&jobs](int i) {
        jobs[size_t(i)].png =
            Imaging::reencodeAsPng(std::exchange(jobs[size_t(i)].bytes, {}), Imaging::kSnipFormats);
    });

    ProjectFile::Contents contents;
    for (qsizetype i = 0; i < checked; ++i) {
        Snip &snip = items[i];
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
    parsed.collection.id = QUuid::createUuid();
    contents.collection = std::move(parsed.collection);
    return contents;
}

template <typename Parse> ProjectFile::Contents decodeGuarded(Parse &&parse) {
    try {
        Parsed parsed;
        {
            simdjson::dom::parser parser;
            parsed = parseDocument(parse(parser));
        }
        return checkContents(std::move(parsed));
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
