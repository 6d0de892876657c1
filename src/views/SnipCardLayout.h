#pragma once

#include <QRect>
#include <QSize>
#include <QString>

#include <optional>

class QTextDocument;

// The geometry of a snip card, computed without a widget: the collection document needs the
// height of every card to place the few it shows, and the card places its children from the same
// numbers, so the two never disagree.
namespace SnipCardLayout {

constexpr int kWideThreshold = 780; // wider than this, preview and comment sit side by side
constexpr int kPadding = 18;
constexpr int kBodySpacing = 22;
constexpr int kCommentColumn = 240;
constexpr int kCompactPreviewColumn = 260;
constexpr int kPreviewInset = 12;
constexpr int kMaxPreviewHeight = 340;
constexpr int kMaxCompactPreviewHeight = 180;
constexpr int kMissingImageHeight = 140;
constexpr int kHeaderControlHeight = 34;

struct Input {
    int width = 0;
    bool wide = false;
    bool compact = false;
    // The image's pixel size: none while unknown (a 16:9 frame stands in), invalid when the
    // image cannot be read (the placeholder).
    std::optional<QSize> imageSize;
    bool localOnly = false;
    bool hasMarks = false;
    int commentHeight = 0;
    int editButtonWidth = 0;

    bool operator==(const Input &other) const = default;
};

struct Geometry {
    int height = 0;
    QRect handle;
    QRect badge;
    QRect heading;
    QRect editButton;
    QRect removeButton;
    QRect headerDivider;
    QRect preview;     // the rounded canvas panel, the whole click target
    QRect image;       // where the image goes inside it; empty for the placeholder
    QRect bodyDivider; // only stacked
    QRect localOnly;   // empty unless local-only
    QRect caption;
    QRect comment;
    QRect marks; // empty without marks

    bool operator==(const Geometry &other) const = default;
};

Geometry compute(const Input &input);
// The comment column's width for a card width, which decides the comment's line breaks.
int commentWidth(int width, bool wide, bool compact);

// Text heights the layout depends on, from the fonts the card uses.
int smallLineHeight();
int headingHeight();

// The comment field: the one configuration of its document, so measuring and editing agree.
void configureComment(QTextDocument *document);
// The field's height for a text at a width: between 2 and 50 lines, as the text needs.
int commentHeight(const QString &text, int width);

} // namespace SnipCardLayout
