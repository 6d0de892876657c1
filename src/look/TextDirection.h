#pragma once

#include <QString>
#include <QStringView>

// The one rule for a text that may run right to left inside the windows' left-to-right German: it
// keeps the direction of its first letter that has one, so the punctuation and digits at its ends
// stay beside it ("!" after a Hebrew title is drawn on the title's left, not at the far end).
namespace TextDirection {

// A text that starts right to left wrapped in an isolate of that direction; any other text as it
// is. Runs isolated already do not count, so a sentence that isolates a title is not turned over.
QString isolated(const QString &text);
// The isolates opened and not yet closed by the end of `text`: a line that goes on from there
// starts with them, so it lays out as it did as part of the whole.
QString openIsolates(QStringView text);

} // namespace TextDirection
