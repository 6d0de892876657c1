#include "model/JsonCoding.h"
#include "model/JsonCodingDetail.h"

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
    auto result = QByteArray::fromBase64Encoding(QByteArray::fromRawData(text.data(), qsizetype(text.size())),
                                                 QByteArray::AbortOnBase64DecodingErrors);
    if (!result)
        fail("bad Base64");
    return std::move(result.decoded);
}

Value parseDocument(simdjson::dom::parser &parser, QByteArrayView data) {
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

Mark readMark(const Value &v) {
    requireObject(v, "mark");
    Mark m;
    m.id = readUuid(member(v, "id"));
    const auto kind = MarkKinds::fromRawValue(readString(member(v, "kind")));
    if (!kind)
        fail("unknown mark kind");
    m.kind = *kind;
    m.x1 = readDouble(member(v, "x1"));
    m.y1 = readDouble(member(v, "y1"));
    m.x2 = readDouble(member(v, "x2"));
    m.y2 = readDouble(member(v, "y2"));
    m.text = optionalOf(v, "text", readString);
    if (const auto c = optionalMember(v, "color")) {
        const auto color = MarkColors::fromRawValue(readString(*c));
        if (!color)
            fail("unknown mark colour");
        m.color = *color;
    }
    m.strokeWidth = optionalOf(v, "strokeWidth", readDouble);
    m.blurRadius = optionalOf(v, "blurRadius", readDouble);
    m.number = optionalOf(v, "number", readInt);
    m.fixedTextBox = optionalOf(v, "fixedTextBox", readBool);
    m.tipX = optionalOf(v, "tipX", readDouble);
    m.tipY = optionalOf(v, "tipY", readDouble);
    return m;
}

Snip readSnip(const Value &v) {
    requireObject(v, "snip");
    Snip s;
    s.id = readUuid(member(v, "id"));
    s.title = readString(member(v, "title"));
    s.note = readString(member(v, "note"));
    s.imageFile = readString(member(v, "imageFile"));
    s.cloudLocalOnly = optionalOf(v, "cloudLocalOnly", readBool);
    s.createdAt = readDouble(member(v, "createdAt"));
    const auto marks = array(member(v, "marks"), "marks");
    s.marks.reserve(qsizetype(marks.size()));
    for (const Value m : marks)
        s.marks.append(readMark(m));
    return s;
}

SnipCollection readCollection(const Value &v) {
    requireObject(v, "collection");
    SnipCollection c;
    c.id = readUuid(member(v, "id"));
    c.title = readString(member(v, "title"));
    c.subtitle = readString(member(v, "subtitle"));
    const auto mode = CollectionModes::fromRawValue(readString(member(v, "mode")));
    if (!mode)
        fail("unknown collection mode");
    c.mode = *mode;
    c.createdAt = readDouble(member(v, "createdAt"));
    const auto items = array(member(v, "items"), "items");
    c.items.reserve(qsizetype(items.size()));
    for (const Value s : items)
        c.items.append(readSnip(s));
    return c;
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
