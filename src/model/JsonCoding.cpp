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

void requireObject(const Value &v, const char *what) {
    if (!v.IsObject())
        fail("expected an object", what);
}

const Value &member(const Value &object, const char *key) {
    requireObject(object, key);
    const auto it = object.FindMember(key);
    if (it == object.MemberEnd())
        fail("missing key", key);
    if (it->value.IsNull())
        fail("null value", key);
    return it->value;
}

const Value *optionalMember(const Value &object, const char *key) {
    requireObject(object, key);
    const auto it = object.FindMember(key);
    if (it == object.MemberEnd() || it->value.IsNull())
        return nullptr;
    return &it->value;
}

QString readString(const Value &v) {
    if (!v.IsString())
        fail("expected a string");
    return QString::fromUtf8(v.GetString(), qsizetype(v.GetStringLength()));
}

QUuid readUuid(const Value &v) {
    if (!v.IsString())
        fail("expected a UUID string");
    const auto id = parseUuid(v.GetString(), v.GetStringLength());
    if (!id)
        fail("malformed UUID");
    return *id;
}

double readDouble(const Value &v) {
    if (!v.IsNumber())
        fail("expected a number");
    return v.GetDouble();
}

qint64 readInt(const Value &v) {
    if (v.IsInt64())
        return v.GetInt64();
    if (v.IsDouble()) {
        // An integral number written with a fraction part ("3.0") still names an integer.
        const double d = v.GetDouble();
        if (std::isfinite(d) && d == std::trunc(d) && d >= -9.2233720368547758e18 && d < 9.2233720368547758e18)
            return qint64(d);
    }
    fail("expected an integer");
}

bool readBool(const Value &v) {
    if (!v.IsBool())
        fail("expected a boolean");
    return v.GetBool();
}

QByteArray readBase64(const Value &v) {
    if (!v.IsString())
        fail("expected Base64 text");
    auto result = QByteArray::fromBase64Encoding(QByteArray::fromRawData(v.GetString(), qsizetype(v.GetStringLength())),
                                                 QByteArray::AbortOnBase64DecodingErrors);
    if (!result)
        fail("bad Base64");
    return std::move(result.decoded);
}

namespace {
template <typename T> std::optional<T> optionalOf(const Value &object, const char *key, T (*read)(const Value &)) {
    if (const Value *v = optionalMember(object, key))
        return read(*v);
    return std::nullopt;
}

const Value &array(const Value &object, const char *key) {
    const Value &v = member(object, key);
    if (!v.IsArray())
        fail("expected an array", key);
    return v;
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
    if (const Value *c = optionalMember(v, "color")) {
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
    const Value &marks = array(v, "marks");
    s.marks.reserve(marks.Size());
    for (const Value &m : marks.GetArray())
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
    const Value &items = array(v, "items");
    c.items.reserve(items.Size());
    for (const Value &s : items.GetArray())
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

namespace {
QList<SnipCollection> readCollectionList(const Value &v) {
    if (!v.IsArray())
        fail("expected an array of collections");
    QList<SnipCollection> list;
    list.reserve(v.Size());
    for (const Value &c : v.GetArray())
        list.append(readCollection(c));
    return list;
}
} // namespace

SavedLibrary readLibrary(const Value &v) {
    requireObject(v, "library");
    SavedLibrary l;
    l.version = readInt(member(v, "version"));
    l.selectedID = optionalOf(v, "selectedID", readUuid);
    l.collections = readCollectionList(member(v, "collections"));
    l.session = optionalOf(v, "session", readSession);
    if (const Value *d = optionalMember(v, "deletedCollections")) {
        if (!d->IsArray())
            fail("expected an array", "deletedCollections");
        QList<DeletedCollection> list;
        list.reserve(d->Size());
        for (const Value &e : d->GetArray())
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
    const Value &images = member(v, "images");
    if (!images.IsObject())
        fail("expected an object", "images");
    for (auto it = images.MemberBegin(); it != images.MemberEnd(); ++it)
        p.images.insert(readString(it->name), readBase64(it->value));
    return p;
}

} // namespace json

namespace {
template <typename T> struct Coder;
#define VB_CODER(Type, readFn, writeFn)                                                                            \
    template <> struct Coder<Type> {                                                                               \
        static Type read(const json::Value &v) { return json::readFn(v); }                                        \
        template <typename W> static bool write(W &w, const Type &t) { return json::writeFn(w, t); }               \
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
    rapidjson::Document document;
    // rapidjson needs a terminated buffer only for in-situ parsing; length-bounded parsing is safe.
    document.Parse<json::kParseFlags>(data.data(), size_t(data.size()));
    if (document.HasParseError()) {
        if (error)
            *error = QStringLiteral("invalid JSON at offset %1").arg(document.GetErrorOffset());
        return std::nullopt;
    }
    try {
        return Coder<T>::read(document);
    } catch (const json::DecodeError &e) {
        if (error)
            *error = QString::fromUtf8(e.what());
        return std::nullopt;
    }
}

#define VB_INSTANTIATE(Type)                                                                                       \
    template std::optional<QByteArray> encodeJson<Type>(const Type &, JsonStyle);                                 \
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
