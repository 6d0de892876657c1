#include "views/SnipCardLayout.h"

#include "look/Theme.h"

#include <QAbstractTextDocumentLayout>
#include <QFontMetrics>
#include <QHash>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>

#include <cmath>

namespace SnipCardLayout {

namespace {

constexpr int kBlockSpacing = 10;
constexpr int kMarksGap = 6;
constexpr int kCommentLineGap = 5;

int measure(const QString &text, int width) {
    QTextDocument document;
    configureComment(&document);
    document.setPlainText(text);
    configureComment(&document);
    document.setTextWidth(std::max(1, width));
    return int(std::ceil(document.documentLayout()->documentSize().height()));
}

// The preview panel for a column of `width`, with the image fitted inside.
void placePreview(const Input &input, QPoint origin, int width, Geometry &g) {
    const int inner = std::max(1, width - 2 * kPreviewInset);
    if (input.imageSize && !input.imageSize->isValid()) {
        g.preview = QRect(origin, QSize(width, kMissingImageHeight + 2 * kPreviewInset));
        g.image = QRect();
        return;
    }
    const QSize image = input.imageSize.value_or(QSize(16, 9));
    const int maxHeight = input.compact ? kMaxCompactPreviewHeight : kMaxPreviewHeight;
    // Full width unless that would pass the height limit; then narrower, centred.
    int h = int(std::lround(double(inner) * image.height() / std::max(1, image.width())));
    int w = inner;
    if (h > maxHeight) {
        h = maxHeight;
        w = std::max(1, int(std::lround(double(maxHeight) * image.width() / std::max(1, image.height()))));
    }
    h = std::max(1, h);
    g.preview = QRect(origin, QSize(width, h + 2 * kPreviewInset));
    g.image = QRect(origin.x() + kPreviewInset + (inner - w) / 2, origin.y() + kPreviewInset, w, h);
}

// The comment column from its top; returns its height.
int placeComment(const Input &input, QPoint origin, int width, Geometry &g) {
    const int line = smallLineHeight();
    int y = origin.y();
    g.localOnly = QRect();
    if (input.localOnly) {
        g.localOnly = QRect(origin.x(), y, width, line);
        y += line + kBlockSpacing;
    }
    g.caption = QRect(origin.x(), y, width, line);
    y += line + kBlockSpacing;
    g.comment = QRect(origin.x(), y, width, input.commentHeight);
    y += input.commentHeight;
    g.marks = QRect();
    if (input.hasMarks) {
        y += kBlockSpacing + kMarksGap;
        g.marks = QRect(origin.x(), y, width, line);
        y += line;
    }
    return y - origin.y();
}

} // namespace

int smallLineHeight() {
    static const int height = QFontMetrics(Theme::font(12, QFont::DemiBold)).height();
    return height;
}

int headingHeight() {
    static const int height = QFontMetrics(Theme::font(16, QFont::DemiBold)).height() + 6;
    return height;
}

void configureComment(QTextDocument *document) {
    document->setDefaultFont(Theme::font(15));
    document->setDocumentMargin(0);
    QTextBlockFormat format;
    format.setLineHeight(kCommentLineGap, QTextBlockFormat::LineDistanceHeight);
    QTextCursor cursor(document);
    cursor.select(QTextCursor::Document);
    cursor.mergeBlockFormat(format);
}

int commentHeight(const QString &text, int width) {
    static const int minimum = measure(QStringLiteral("\n"), 1000);
    static const int maximum = measure(QStringLiteral("\n").repeated(49), 1000);
    if (text.isEmpty())
        return minimum;
    static QHash<QString, int> cache;
    const QString key = QString::number(width) + u'|' + text;
    if (const auto it = cache.constFind(key); it != cache.constEnd())
        return *it;
    if (cache.size() > 4096)
        cache.clear();
    const int height = std::clamp(measure(text, width), minimum, maximum);
    cache.insert(key, height);
    return height;
}

Geometry compute(const Input &input) {
    Geometry g;
    const int width = std::max(input.width, 2 * kPadding + 100);

    // Header row: handle, badge, heading, edit button, remove button; 12 between each.
    const int rowTop = kPadding;
    const int rowHeight = kHeaderControlHeight;
    int x = kPadding;
    g.handle = QRect(x, rowTop + (rowHeight - 30) / 2, 20, 30);
    x += 20 + 12;
    g.badge = QRect(x, rowTop, 20, rowHeight);
    x += 20 + 12;
    const int right = width - kPadding;
    g.removeButton = QRect(right - 30, rowTop, 30, rowHeight);
    g.editButton =
        QRect(g.removeButton.left() - 12 - input.editButtonWidth, rowTop, input.editButtonWidth, rowHeight);
    g.heading = QRect(x, rowTop + (rowHeight - headingHeight()) / 2,
                      std::max(20, g.editButton.left() - 12 - x), headingHeight());
    int y = rowTop + rowHeight + kPadding;
    g.headerDivider = QRect(0, y, width, 1);
    y += 1;

    const int inner = width - 2 * kPadding;
    if (input.wide) {
        const int previewWidth =
            input.compact ? kCompactPreviewColumn : inner - kCommentColumn - kBodySpacing;
        const int commentColumn = commentWidth(input.width, true, input.compact);
        const QPoint top(kPadding, y + kPadding);
        placePreview(input, top, std::max(1, previewWidth), g);
        const int comment =
            placeComment(input, QPoint(kPadding + previewWidth + kBodySpacing, top.y()), commentColumn, g);
        y = top.y() + std::max(g.preview.height(), comment) + kPadding;
        g.bodyDivider = QRect();
    } else {
        placePreview(input, QPoint(kPadding, y + kPadding), inner, g);
        y = g.preview.bottom() + 1 + kPadding;
        g.bodyDivider = QRect(0, y, width, 1);
        y += 1;
        const int comment = placeComment(input, QPoint(kPadding, y + kPadding), inner, g);
        y += kPadding + comment + kPadding;
    }
    g.height = y;
    return g;
}

int commentWidth(int width, bool wide, bool compact) {
    const int inner = std::max(width, 2 * kPadding + 100) - 2 * kPadding;
    if (!wide)
        return inner;
    return compact ? std::max(1, inner - kCompactPreviewColumn - kBodySpacing) : kCommentColumn;
}

} // namespace SnipCardLayout
