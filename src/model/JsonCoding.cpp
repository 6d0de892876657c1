#include "model/JsonCoding.h"
#include "model/JsonCodingDetail.h"

#include <QStringEncoder>

#include <algorithm>
#include <array>
#include <cmath>

namespace json {

namespace {
[[noreturn]] void fail(const char *reason, const char *key = nullptr) {
    std::string text = reason;
    if (key) {
        text += ": ";
        text += key;
    }
    throw DecodeError(text);
}
} // namespace

using simdjson::dom::element_type;

void requireObject(const Value &v, const char *what) {
    if (!v.is_object())
        fail("expected an object", what);
}

Value member(const Value &object, const char *key) {
    requireObject(object, key);
    Value value;
    if (object.at_key(key).get(value) != simdjson::SUCCESS)
        fail("missing key", key);
    if (value.is_null())
        fail("null value", key);
    return value;
}

std::optional<Value> optionalMember(const Value &object, const char *key) {
    requireObject(object, key);
    Value value;
    if (object.at_key(key).get(value) != simdjson::SUCCESS || value.is_null())
        return std::nullopt;
    return value;
}

QString readString(const Value &v) {
    std::string_view text;
    if (v.get_string().get(text) != simdjson::SUCCESS)
        fail("expected a string");
    return QString::fromUtf8(text.data(), qsizetype(text.size()));
}

QUuid readUuid(const Value &v) {
    std::string_view text;
    if (v.get_string().get(text) != simdjson::SUCCESS)
        fail("expected a UUID string");
    const auto id = parseUuid(text.data(), text.size());
    if (!id)
        fail("malformed UUID");
    return *id;
}

double readDouble(const Value &v) {
    double d = 0;
    if (!v.is_number() || v.get_double().get(d) != simdjson::SUCCESS)
        fail("expected a number");
    return d;
}

qint64 readInt(const Value &v) {
    switch (v.type()) {
    case element_type::INT64:
        return qint64(v.get_int64().value_unsafe());
    case element_type::DOUBLE: {
        // An integral number written with a fraction part ("3.0") still names an integer.
        const double d = v.get_double().value_unsafe();
        if (std::isfinite(d) && d == std::trunc(d) && d >= -9.2233720368547758e18 &&
            d < 9.2233720368547758e18)
            return qint64(d);
        break;
    }
    default:
        break;
    }
    fail("expected an integer");
}

bool readBool(const Value &v) {
    bool b = false;
    if (v.get_bool().get(b) != simdjson::SUCCESS)
        fail("expected a boolean");
    return b;
}

QByteArray readBase64(const Value &v) {
    std::string_view text;
    if (v.get_string().get(text) != simdjson::SUCCESS)
        fail("expected Base64 text");
    // Qt's decoder also takes text without its padding ("QUI" as "AB"); only whole groups of four
    // characters, with at most two "=" closing the last one, are Base64 here.
    const size_t padding = text.size() - std::min(text.find_last_not_of('=') + 1, text.size());
    if (text.size() % 4 != 0 || padding > 2 || text.find('=') < text.size() - padding)
        fail("bad Base64");
    auto result = QByteArray::fromBase64Encoding(QByteArray::fromRawData(text.data(), qsizetype(text.size())),
                                                 QByteArray::AbortOnBase64DecodingErrors);
    if (!result)
        fail("bad Base64");
    return std::move(result.decoded);
}

Value parseDocument(simdjson::dom::parser &parser, QByteArrayView data) {
    // An empty view may carry a null pointer, which simdjson would hand to memcpy.
    if (data.isEmpty())
        throw DecodeError("invalid JSON: empty document");
    Value root;
    const auto error = parser.parse(data.data(), size_t(data.size())).get(root);
    if (error != simdjson::SUCCESS)
        throw DecodeError(std::string("invalid JSON: ") + simdjson::error_message(error));
    return root;
}

namespace {
template <typename T>
std::optional<T> optionalOf(const Value &object, const char *key, T (*read)(const Value &)) {
    if (const auto v = optionalMember(object, key))
        return read(*v);
    return std::nullopt;
}

simdjson::dom::array array(const Value &v, const char *what) {
    simdjson::dom::array a;
    if (v.get_array().get(a) != simdjson::SUCCESS)
        fail("expected an array", what);
    return a;
}
} // namespace

namespace {
template <typename Enum, size_t N>
std::array<QByteArray, N> rawNames(const std::array<Enum, N> &cases, QString (*raw)(Enum)) {
    std::array<QByteArray, N> names;
    for (size_t i = 0; i < N; ++i)
        names[i] = raw(cases[i]).toUtf8();
    return names;
}

const std::array<QByteArray, 13> &kindNames() {
    static const auto names = rawNames(MarkKinds::all(), MarkKinds::rawValue);
    return names;
}
const std::array<QByteArray, 7> &colorNames() {
    static const auto names = rawNames(MarkColors::all(), MarkColors::rawValue);
    return names;
}
const std::array<QByteArray, 2> &modeNames() {
    static const auto names = rawNames(CollectionModes::all(), CollectionModes::rawValue);
    return names;
}

// Matches the text against the raw values byte for byte, so case and spelling must be exact.
template <typename Enum, size_t N>
Enum readEnum(const Value &v, const std::array<Enum, N> &cases, const std::array<QByteArray, N> &names,
              const char *what) {
    std::string_view text;
    if (v.get_string().get(text) != simdjson::SUCCESS)
        fail("expected a string", what);
    const QByteArrayView view(text.data(), qsizetype(text.size()));
    for (size_t i = 0; i < N; ++i) {
        if (names[i] == view)
            return cases[i];
    }
    fail("unknown raw value", what);
}

MarkKind readKind(const Value &v) {
    return readEnum(v, MarkKinds::all(), kindNames(), "kind");
}
MarkColor readColor(const Value &v) {
    return readEnum(v, MarkColors::all(), colorNames(), "color");
}
CollectionMode readMode(const Value &v) {
    return readEnum(v, CollectionModes::all(), modeNames(), "mode");
}

// Reads the members of one object. This program writes keys in sorted order and the readers below
// ask for them in that order, so the member after the last one found is nearly always the one asked
// for next; anything else falls back to a search from the start (the first of equal keys wins).
class Members {
public:
    Members(const Value &object, const char *what) {
        if (object.get_object().get(m_object) != simdjson::SUCCESS)
            fail("expected an object", what);
        m_next = m_object.begin();
    }

    template <size_t N> Value required(const char (&key)[N]) {
        const std::optional<Value> v = find(std::string_view(key, N - 1));
        if (!v)
            fail("missing key", key);
        if (v->is_null())
            fail("null value", key);
        return *v;
    }

    // Absent or null: nothing.
    template <typename T, size_t N>
    std::optional<T> optional(const char (&key)[N], T (*read)(const Value &)) {
        const std::optional<Value> v = find(std::string_view(key, N - 1));
        if (!v || v->is_null())
            return std::nullopt;
        return read(*v);
    }

    template <typename T, size_t N> QList<T> list(const char (&key)[N], T (*read)(const Value &)) {
        simdjson::dom::array values;
        if (required(key).get_array().get(values) != simdjson::SUCCESS)
            fail("expected an array", key);
        QList<T> result;
        result.reserve(qsizetype(values.size()));
        for (const Value e : values)
            result.append(read(e));
        return result;
    }

private:
    std::optional<Value> find(std::string_view key) {
        const auto end = m_object.end();
        if (m_next != end && m_next.key_equals(key)) {
            const Value value = m_next.value();
            ++m_next;
            return value;
        }
        for (auto it = m_object.begin(); it != end; ++it) {
            if (it.key_equals(key)) {
                m_next = it;
                ++m_next;
                return it.value();
            }
        }
        return std::nullopt;
    }

    simdjson::dom::object m_object;
    simdjson::dom::object::iterator m_next;
};
} // namespace

QByteArrayView rawText(MarkKind kind) {
    return kindNames()[size_t(kind)];
}
QByteArrayView rawText(MarkColor color) {
    return colorNames()[size_t(color)];
}
QByteArrayView rawText(CollectionMode mode) {
    return modeNames()[size_t(mode)];
}

void uuidChars(const QUuid &id, char *out) {
    static constexpr char digits[] = "0123456789ABCDEF";
    const auto hex = [&](quint64 value, int count) {
        for (int i = count - 1; i >= 0; --i, value >>= 4)
            out[i] = digits[value & 0xF];
        out += count;
    };
    hex(id.data1, 8);
    *out++ = '-';
    hex(id.data2, 4);
    *out++ = '-';
    hex(id.data3, 4);
    *out++ = '-';
    hex(quint64(id.data4[0]) << 8 | id.data4[1], 4);
    *out++ = '-';
    quint64 tail = 0;
    for (int i = 2; i < 8; ++i)
        tail = tail << 8 | id.data4[i];
    hex(tail, 12);
}

QByteArrayView utf8(QStringView s) {
    thread_local QByteArray buffer;
    const qsizetype needed = s.size() * 3;
    if (buffer.size() < needed)
        buffer.resize(needed);
    QStringEncoder encoder(QStringConverter::Utf8);
    char *end = encoder.appendToBuffer(buffer.data(), s);
    return QByteArrayView(buffer.constData(), end - buffer.constData());
}

// Fields are read in key order, then the record is built with every field given, so the defaults
// (a fresh random UUID, the current time) are never computed only to be overwritten: drawing
// random UUIDs used to dominate loading.
Mark readMark(const Value &v) {
    Members m(v, "mark");
    const auto blurRadius = m.optional("blurRadius", readDouble);
    const auto color = m.optional("color", readColor);
    const auto fixedTextBox = m.optional("fixedTextBox", readBool);
    const QUuid id = readUuid(m.required("id"));
    const MarkKind kind = readKind(m.required("kind"));
    const auto number = m.optional("number", readInt);
    const auto strokeWidth = m.optional("strokeWidth", readDouble);
    auto text = m.optional("text", readString);
    const auto tipX = m.optional("tipX", readDouble);
    const auto tipY = m.optional("tipY", readDouble);
    const double x1 = readDouble(m.required("x1"));
    const double x2 = readDouble(m.required("x2"));
    const double y1 = readDouble(m.required("y1"));
    const double y2 = readDouble(m.required("y2"));
    return Mark{
        .id = id,
        .kind = kind,
        .x1 = x1,
        .y1 = y1,
        .x2 = x2,
        .y2 = y2,
        .text = std::move(text),
        .color = color,
        .strokeWidth = strokeWidth,
        .blurRadius = blurRadius,
        .number = number,
        .fixedTextBox = fixedTextBox,
        .tipX = tipX,
        .tipY = tipY,
    };
}

Snip readSnip(const Value &v) {
    Members m(v, "snip");
    const auto cloudLocalOnly = m.optional("cloudLocalOnly", readBool);
    const double createdAt = readDouble(m.required("createdAt"));
    const QUuid id = readUuid(m.required("id"));
    QString imageFile = readString(m.required("imageFile"));
    QList<Mark> marks = m.list("marks", readMark);
    QString note = readString(m.required("note"));
    QString title = readString(m.required("title"));
    return Snip{
        .id = id,
        .title = std::move(title),
        .note = std::move(note),
        .imageFile = std::move(imageFile),
        .cloudLocalOnly = cloudLocalOnly,
        .createdAt = createdAt,
        .marks = std::move(marks),
    };
}

SnipCollection readCollection(const Value &v) {
    Members m(v, "collection");
    const double createdAt = readDouble(m.required("createdAt"));
    const QUuid id = readUuid(m.required("id"));
    QList<Snip> items = m.list("items", readSnip);
    const CollectionMode mode = readMode(m.required("mode"));
    QString subtitle = readString(m.required("subtitle"));
    QString title = readString(m.required("title"));
    return SnipCollection{
        .id = id,
        .title = std::move(title),
        .subtitle = std::move(subtitle),
        .mode = mode,
        .createdAt = createdAt,
        .items = std::move(items),
    };
}

CaptureSession readSession(const Value &v) {
    requireObject(v, "session");
    return {readUuid(member(v, "collectionID")), readBool(member(v, "isPaused"))};
}

DeletedCollection readDeleted(const Value &v) {
    requireObject(v, "deleted collection");
    return {readCollection(member(v, "collection")), readInt(member(v, "index"))};
}

QList<SnipCollection> readCollectionList(const Value &v) {
    const auto collections = array(v, "collections");
    QList<SnipCollection> list;
    list.reserve(qsizetype(collections.size()));
    for (const Value c : collections)
        list.append(readCollection(c));
    return list;
}

SavedLibrary readLibrary(const Value &v) {
    requireObject(v, "library");
    SavedLibrary l;
    l.version = readInt(member(v, "version"));
    l.selectedID = optionalOf(v, "selectedID", readUuid);
    l.collections = readCollectionList(member(v, "collections"));
    l.session = optionalOf(v, "session", readSession);
    if (const auto d = optionalMember(v, "deletedCollections")) {
        const auto entries = array(*d, "deletedCollections");
        QList<DeletedCollection> list;
        list.reserve(qsizetype(entries.size()));
        for (const Value e : entries)
            list.append(readDeleted(e));
        l.deletedCollections = std::move(list);
    }
    return l;
}

PortableCollection readPortable(const Value &v) {
    requireObject(v, "project");
    PortableCollection p;
    p.version = readInt(member(v, "version"));
    p.collection = readCollection(member(v, "collection"));
    simdjson::dom::object images;
    if (member(v, "images").get_object().get(images) != simdjson::SUCCESS)
        fail("expected an object", "images");
    for (const auto field : images)
        p.images.insert(QString::fromUtf8(field.key.data(), qsizetype(field.key.size())),
                        readBase64(field.value));
    return p;
}

} // namespace json

namespace {
template <typename T> struct Coder;
#define VB_CODER(Type, readFn, writeFn)                                                                      \
    template <> struct Coder<Type> {                                                                         \
        static Type read(const json::Value &v) { return json::readFn(v); }                                   \
        template <typename W> static bool write(W &w, const Type &t) { return json::writeFn(w, t); }         \
    };
VB_CODER(Mark, readMark, writeMark)
VB_CODER(Snip, readSnip, writeSnip)
VB_CODER(SnipCollection, readCollection, writeCollection)
VB_CODER(CaptureSession, readSession, writeSession)
VB_CODER(DeletedCollection, readDeleted, writeDeleted)
VB_CODER(SavedLibrary, readLibrary, writeLibrary)
VB_CODER(PortableCollection, readPortable, writePortable)
VB_CODER(QList<SnipCollection>, readCollectionList, writeCollectionList)
#undef VB_CODER
} // namespace

template <typename T> std::optional<QByteArray> encodeJson(const T &value, JsonStyle style) {
    rapidjson::StringBuffer buffer;
    bool ok;
    if (style == JsonStyle::Pretty) {
        rapidjson::PrettyWriter<rapidjson::StringBuffer> writer(buffer);
        writer.SetIndent(' ', 2);
        ok = Coder<T>::write(writer, value);
    } else {
        rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
        ok = Coder<T>::write(writer, value);
    }
    if (!ok)
        return std::nullopt;
    return QByteArray(buffer.GetString(), qsizetype(buffer.GetSize()));
}

template <typename T> std::optional<T> decodeJson(QByteArrayView data, QString *error) {
    try {
        simdjson::dom::parser parser;
        return Coder<T>::read(json::parseDocument(parser, data));
    } catch (const json::DecodeError &e) {
        if (error)
            *error = QString::fromUtf8(e.what());
        return std::nullopt;
    }
}

#define VB_INSTANTIATE(Type)                                                                                 \
    template std::optional<QByteArray> encodeJson<Type>(const Type &, JsonStyle);                            \
    template std::optional<Type> decodeJson<Type>(QByteArrayView, QString *);
VB_INSTANTIATE(Mark)
VB_INSTANTIATE(Snip)
VB_INSTANTIATE(SnipCollection)
VB_INSTANTIATE(CaptureSession)
VB_INSTANTIATE(DeletedCollection)
VB_INSTANTIATE(SavedLibrary)
VB_INSTANTIATE(PortableCollection)
VB_INSTANTIATE(QList<SnipCollection>)
#undef VB_INSTANTIATE
