#pragma once

// The record-level readers and writers behind JsonCoding.h, for code that builds or streams its
// own documents around the records (project files, backups).

#include "model/Snip.h"

#define RAPIDJSON_HAS_STDSTRING 0
#if defined(__SSE2__) && !defined(RAPIDJSON_SSE2)
#define RAPIDJSON_SSE2 // vectorised string scanning in the writers
#endif
#include <rapidjson/prettywriter.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>
#include <simdjson.h>

#include <stdexcept>

namespace json {

// Documents are parsed with simdjson (exact numbers, validated UTF-8, bounded depth) and written
// with rapidjson's writers.
struct DecodeError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

using Value = simdjson::dom::element;

Value member(const Value &object, const char *key);                        // required, not null
std::optional<Value> optionalMember(const Value &object, const char *key); // absent or null: none
void requireObject(const Value &v, const char *what);
QString readString(const Value &v);
QUuid readUuid(const Value &v);
double readDouble(const Value &v);
qint64 readInt(const Value &v);
bool readBool(const Value &v);
QByteArray readBase64(const Value &v);

Mark readMark(const Value &v);
Snip readSnip(const Value &v);
SnipCollection readCollection(const Value &v);
CaptureSession readSession(const Value &v);
DeletedCollection readDeleted(const Value &v);
SavedLibrary readLibrary(const Value &v);
PortableCollection readPortable(const Value &v);
QList<SnipCollection> readCollectionList(const Value &v);

// Parses a whole document; throws DecodeError on malformed JSON. The parser owns the tape the
// returned root points into, so it must outlive every use of the root.
Value parseDocument(simdjson::dom::parser &parser, QByteArrayView data);

// The raw value texts as UTF-8, for writing without a conversion per value.
QByteArrayView rawText(MarkKind kind);
QByteArrayView rawText(MarkColor color);
QByteArrayView rawText(CollectionMode mode);

// The upper-case hyphenated text of id, 36 characters.
void uuidChars(const QUuid &id, char *out);

// Converts s to UTF-8 in a buffer reused across calls on this thread; valid until the next call.
QByteArrayView utf8(QStringView s);

// Writers return false when a value cannot be written (a NaN or infinite number).
template <typename W> bool key(W &w, const char *k) {
    return w.Key(k);
}

template <typename W> bool writeString(W &w, const QString &s) {
    const QByteArrayView text = utf8(s);
    return w.String(text.data(), rapidjson::SizeType(text.size()));
}

template <typename W> bool writeRaw(W &w, QByteArrayView text) {
    return w.String(text.data(), rapidjson::SizeType(text.size()));
}

template <typename W> bool writeUuid(W &w, const QUuid &id) {
    char text[36];
    uuidChars(id, text);
    return w.String(text, 36);
}

template <typename W> bool writeDouble(W &w, double d) {
    return w.Double(d);
}

template <typename W> bool writeMark(W &w, const Mark &m) {
    bool ok = w.StartObject();
    if (m.blurRadius)
        ok = ok && key(w, "blurRadius") && writeDouble(w, *m.blurRadius);
    if (m.color)
        ok = ok && key(w, "color") && writeRaw(w, rawText(*m.color));
    if (m.fixedTextBox)
        ok = ok && key(w, "fixedTextBox") && w.Bool(*m.fixedTextBox);
    ok = ok && key(w, "id") && writeUuid(w, m.id);
    ok = ok && key(w, "kind") && writeRaw(w, rawText(m.kind));
    if (m.number)
        ok = ok && key(w, "number") && w.Int64(*m.number);
    if (m.strokeWidth)
        ok = ok && key(w, "strokeWidth") && writeDouble(w, *m.strokeWidth);
    if (m.text)
        ok = ok && key(w, "text") && writeString(w, *m.text);
    if (m.tipX)
        ok = ok && key(w, "tipX") && writeDouble(w, *m.tipX);
    if (m.tipY)
        ok = ok && key(w, "tipY") && writeDouble(w, *m.tipY);
    ok = ok && key(w, "x1") && writeDouble(w, m.x1);
    ok = ok && key(w, "x2") && writeDouble(w, m.x2);
    ok = ok && key(w, "y1") && writeDouble(w, m.y1);
    ok = ok && key(w, "y2") && writeDouble(w, m.y2);
    return ok && w.EndObject();
}

template <typename W> bool writeSnip(W &w, const Snip &s) {
    bool ok = w.StartObject();
    if (s.cloudLocalOnly)
        ok = ok && key(w, "cloudLocalOnly") && w.Bool(*s.cloudLocalOnly);
    ok = ok && key(w, "createdAt") && writeDouble(w, s.createdAt);
    ok = ok && key(w, "id") && writeUuid(w, s.id);
    ok = ok && key(w, "imageFile") && writeString(w, s.imageFile);
    ok = ok && key(w, "marks") && w.StartArray();
    for (const Mark &m : s.marks)
        ok = ok && writeMark(w, m);
    ok = ok && w.EndArray();
    ok = ok && key(w, "note") && writeString(w, s.note);
    ok = ok && key(w, "title") && writeString(w, s.title);
    return ok && w.EndObject();
}

template <typename W> bool writeCollection(W &w, const SnipCollection &c) {
    bool ok = w.StartObject();
    ok = ok && key(w, "createdAt") && writeDouble(w, c.createdAt);
    ok = ok && key(w, "id") && writeUuid(w, c.id);
    ok = ok && key(w, "items") && w.StartArray();
    for (const Snip &s : c.items)
        ok = ok && writeSnip(w, s);
    ok = ok && w.EndArray();
    ok = ok && key(w, "mode") && writeRaw(w, rawText(c.mode));
    ok = ok && key(w, "subtitle") && writeString(w, c.subtitle);
    ok = ok && key(w, "title") && writeString(w, c.title);
    return ok && w.EndObject();
}

template <typename W> bool writeSession(W &w, const CaptureSession &s) {
    return w.StartObject() && key(w, "collectionID") && writeUuid(w, s.collectionID) && key(w, "isPaused") &&
           w.Bool(s.isPaused) && w.EndObject();
}

template <typename W> bool writeDeleted(W &w, const DeletedCollection &d) {
    return w.StartObject() && key(w, "collection") && writeCollection(w, d.collection) && key(w, "index") &&
           w.Int64(d.index) && w.EndObject();
}

template <typename W> bool writeCollectionList(W &w, const QList<SnipCollection> &list) {
    bool ok = w.StartArray();
    for (const SnipCollection &c : list)
        ok = ok && writeCollection(w, c);
    return ok && w.EndArray();
}

template <typename W> bool writeLibrary(W &w, const SavedLibrary &l) {
    bool ok = w.StartObject();
    ok = ok && key(w, "collections") && writeCollectionList(w, l.collections);
    if (l.deletedCollections) {
        ok = ok && key(w, "deletedCollections") && w.StartArray();
        for (const DeletedCollection &d : *l.deletedCollections)
            ok = ok && writeDeleted(w, d);
        ok = ok && w.EndArray();
    }
    if (l.selectedID)
        ok = ok && key(w, "selectedID") && writeUuid(w, *l.selectedID);
    if (l.session)
        ok = ok && key(w, "session") && writeSession(w, *l.session);
    ok = ok && key(w, "version") && w.Int64(l.version);
    return ok && w.EndObject();
}

template <typename W> bool writePortable(W &w, const PortableCollection &p) {
    bool ok = w.StartObject();
    ok = ok && key(w, "collection") && writeCollection(w, p.collection);
    ok = ok && key(w, "images") && w.StartObject();
    for (auto it = p.images.cbegin(); ok && it != p.images.cend(); ++it) {
        const QByteArray name = it.key().toUtf8();
        const QByteArray base64 = it.value().toBase64();
        ok = w.Key(name.constData(), rapidjson::SizeType(name.size())) &&
             w.String(base64.constData(), rapidjson::SizeType(base64.size()));
    }
    ok = ok && w.EndObject();
    ok = ok && key(w, "version") && w.Int64(p.version);
    return ok && w.EndObject();
}

} // namespace json
