#pragma once

#include "model/JsonCodingDetail.h"

#include <QByteArrayView>
#include <QDateTime>

#include <optional>

// Reads a JSON document of a service or the keyring with `read`, which throws json::DecodeError
// for anything missing, mistyped or out of bounds; gives nothing then.
template <typename T, typename Read> std::optional<T> readServiceJson(QByteArrayView data, Read read) {
    try {
        simdjson::dom::parser parser;
        return read(json::parseDocument(parser, data));
    } catch (const json::DecodeError &) {
        return std::nullopt;
    }
}

// A date of a service reply: ISO 8601 with a time zone ("Z" or an offset). A date without one
// would be read as local time, which the service never means; it fails the reply.
inline QDateTime readServiceDate(const json::Value &value) {
    const QDateTime date = QDateTime::fromString(json::readString(value), Qt::ISODateWithMs);
    if (!date.isValid() || date.timeSpec() == Qt::LocalTime)
        throw json::DecodeError("date without a time zone");
    return date;
}
