#pragma once

#include <QString>
#include <QUuid>

#include <optional>

// UUIDs are written upper case and read in either case; QUuid::fromString alone is too lenient
// (braces, trailing junk) and cannot tell bad text from the all-zero UUID.
QString uuidText(const QUuid &id);
std::optional<QUuid> parseUuid(QStringView text);
std::optional<QUuid> parseUuid(const char *text, size_t length);

// Library dates: seconds since 2001-01-01 00:00:00 UTC, kept as a double for exact round trips.
constexpr double kReferenceDateUnixOffset = 978307200.0;
double referenceSecondsNow();
