#pragma once

#include "model/Snip.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <optional>

// Strict JSON coding of the library records: keys are the field names, optional fields are left
// out when absent and never written as null; any missing key, null, wrong type, unknown
// enumeration text, malformed UUID or bad Base64 fails the whole document.
enum class JsonStyle {
    Compact,
    Pretty, // two-space indentation; keys are always written in sorted order
};

template <typename T>
std::optional<QByteArray> encodeJson(const T &value, JsonStyle style = JsonStyle::Compact);

// On failure returns nothing and, when given, fills error with a short English reason for
// debugging; callers show their own German sentence.
template <typename T> std::optional<T> decodeJson(QByteArrayView json, QString *error = nullptr);

// Supported T: Mark, Snip, SnipCollection, CaptureSession, DeletedCollection, SavedLibrary,
// PortableCollection, QList<SnipCollection>.
