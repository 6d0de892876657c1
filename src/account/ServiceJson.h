#pragma once

#include "model/JsonCodingDetail.h"

#include <QByteArrayView>

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
