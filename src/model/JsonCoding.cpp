#include "model/JsonCoding.h"
#include "model/JsonCodingDetail.h"

#include <QStringEncoder>

#include <cmath>
#include <cstring>

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
    if (!v.IsString())
        fail("expected a string", what);
    const QByteArrayView text(v.GetString(), qsizetype(v.GetStringLength()));
    for (size_t i = 0; i < N; ++i) {
        if (names[i] == text)
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

namespace {
// Reads the members of one object. This program writes keys in sorted order and the readers below
// ask for them in that order, so the member after the last one found is nearly always the one asked
// for next; anything else falls back to a search from the start (the first of equal keys wins).
class Members {
public:
    Members(const Value &object, const char *what) : m_object(object) {
        requireObject(object, what);
        m_next = object.MemberBegin();
    }

    template <size_t N> const Value &required(const char (&key)[N]) {
        const Value *v = find(key, N - 1);
        if (!v)
            fail("missing key", key);
        if (v->IsNull())
            fail("null value", key);
        return *v;
    }

    // Absent or null: nothing.
    template <typename T, size_t N>
    std::optional<T> optional(const char (&key)[N], T (*read)(const Value &)) {
        const Value *v = find(key, N - 1);
        if (!v || v->IsNull())
            return std::nullopt;
        return read(*v);
    }

    template <typename T, size_t N> QList<T> list(const char (&key)[N], T (*read)(const Value &)) {
        const Value &values = required(key);
        if (!values.IsArray())
            fail("expected an array", key);
        QList<T> result;
        result.reserve(values.Size());
        for (const Value &e : values.GetArray())
            result.append(read(e));
        return result;
    }

private:
    const Value *find(const char *key, size_t length) {
        const auto matches = [&](Value::ConstMemberIterator it) {
            return it->name.GetStringLength() == length &&
                   std::memcmp(it->name.GetString(), key, length) == 0;
        };
        const auto end = m_object.MemberEnd();
        if (m_next != end && matches(m_next))
            return &(m_next++)->value;
        for (auto it = m_object.MemberBegin(); it != end; ++it) {
            if (matches(it)) {
                m_next = it + 1;
                return &it->value;
            }
        }
        return nullptr;
    }

    const Value &m_object;
    Value::ConstMemberIterator m_next;
};
} // namespace

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

namespace {
// One pass over the whole text instead of RapidJSON's check per character: JSON outside strings is
// ASCII, so a valid buffer means valid strings. Overlong forms, surrogates and code points above
// U+10FFFF are refused.
bool isValidUtf8(QByteArrayView data) {
    const auto *s = reinterpret_cast<const unsigned char *>(data.data());
    const size_t n = size_t(data.size());
    size_t i = 0;
    while (i < n) {
        while (i + 8 <= n) {
            quint64 word;
            std::memcpy(&word, s + i, 8);
            if (word & 0x8080808080808080ULL)
                break;
            i += 8;
        }
        if (i >= n)
            break;
        const unsigned char c = s[i];
        if (c < 0x80) {
            ++i;
            continue;
        }
        size_t length;
        char32_t code;
        if (c >= 0xC2 && c <= 0xDF) {
            length = 2;
            code = c & 0x1F;
        } else if (c >= 0xE0 && c <= 0xEF) {
            length = 3;
            code = c & 0x0F;
        } else if (c >= 0xF0 && c <= 0xF4) {
            length = 4;
            code = c & 0x07;
        } else {
            return false;
        }
        if (n - i < length)
            return false;
        for (size_t k = 1; k < length; ++k) {
            const unsigned char next = s[i + k];
            if ((next & 0xC0) != 0x80)
                return false;
            code = (code << 6) | (next & 0x3F);
        }
        if (length == 3 && (code < 0x800 || (code >= 0xD800 && code <= 0xDFFF)))
            return false;
        if (length == 4 && (code < 0x10000 || code > 0x10FFFF))
            return false;
        i += length;
    }
    return true;
}
} // namespace

template <typename T> std::optional<T> decodeJson(QByteArrayView data, QString *error) {
    const auto refuse = [error](const QString &reason) -> std::optional<T> {
        if (error)
            *error = reason;
        return std::nullopt;
    };
    // RapidJSON's fast reader works on terminated text. A NUL byte is never valid JSON and would end
    // the text early, so it is refused before the copy is made.
    if (!data.isEmpty() && std::memchr(data.data(), 0, size_t(data.size())))
        return refuse(QStringLiteral("NUL byte in the text"));
    if (!isValidUtf8(data))
        return refuse(QStringLiteral("invalid UTF-8"));
    // The vectorised scanner reads whole aligned 16-byte blocks, so the terminator gets padding.
    // The copy is parsed in place, which spares copying every string once more.
    QByteArray text(data.size() + 16, '\0');
    if (!data.isEmpty())
        std::memcpy(text.data(), data.data(), size_t(data.size()));
    rapidjson::Document document;
    document.ParseInsitu<rapidjson::kParseFullPrecisionFlag | rapidjson::kParseIterativeFlag>(text.data());
    if (document.HasParseError())
        return refuse(QStringLiteral("invalid JSON at offset %1").arg(document.GetErrorOffset()));
    try {
        return Coder<T>::read(document);
    } catch (const json::DecodeError &e) {
        return refuse(QString::fromUtf8(e.what()));
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
