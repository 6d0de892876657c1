#include "export/MarkRenderer.h"

#include "model/MarkGeometry.h"
#include "model/MarkLayers.h"
#include "model/TextLines.h"

#include <QCoreApplication>
#include <QFontMetricsF>
#include <QTextLayout>
#include <QThread>

#include <algorithm>
#include <cmath>
#include <limits>
#include <map>
#include <memory>

namespace {
// Text is laid out with integer pixel sizes this many times finer than drawn, so fractional font
// sizes keep their metrics on every screen; the painter scales back.
constexpr double kTextScale = 16;
constexpr double kBoxFontSize = 28;
constexpr double kBoxPadding = 12;
const QColor kTextColor = QColor::fromRgbF(0.08f, 0.08f, 0.08f);

struct TextBlock {
    std::unique_ptr<QTextLayout> layout;
    double width = 0; // widest line
    double height = 0;
};

int pixelSizeFor(double fontSize) {
    return std::max(1, int(std::lround(fontSize * kTextScale)));
}

// Lays out text at `fontSize`; lines break where the text breaks and wrap at `wrapWidth` (at word
// boundaries, inside a word only when it does not fit alone) unless it is infinite. Sizes are in
// the caller's units. Stops after the first line that ends below `stopBelow`: whatever follows
// can neither be seen nor make the text fit, and a long text would cost its whole length.
TextBlock layoutText(const QString &text, double fontSize, QFont::Weight weight, double wrapWidth,
                     double stopBelow = std::numeric_limits<double>::infinity()) {
    TextBlock block;
    QFont font = MarkRenderer::systemFont(weight);
    font.setPixelSize(pixelSizeFor(fontSize));
    // QTextLayout breaks only at the Unicode line separator; a line feed would be drawn as nothing
    // and a vertical tab as a box.
    block.layout =
        std::make_unique<QTextLayout>(TextLines::split(text).join(QChar(QChar::LineSeparator)), font);
    QTextOption option;
    option.setWrapMode(std::isfinite(wrapWidth) ? QTextOption::WrapAtWordBoundaryOrAnywhere
                                                : QTextOption::NoWrap);
    block.layout->setTextOption(option);
    block.layout->setCacheEnabled(true);
    const double lineWidth = std::isfinite(wrapWidth) ? std::max(wrapWidth, 0.0) * kTextScale : 1e9;
    block.layout->beginLayout();
    double y = 0;
    for (QTextLine line = block.layout->createLine(); line.isValid(); line = block.layout->createLine()) {
        line.setLeadingIncluded(true);
        line.setLineWidth(lineWidth);
        line.setPosition(QPointF(0, y));
        y += line.height();
        block.width = std::max(block.width, line.naturalTextWidth() / kTextScale);
        if (y / kTextScale > stopBelow)
            break;
    }
    block.layout->endLayout();
    block.height = y / kTextScale;
    return block;
}

// The last fitted sizes and laid-out text boxes, so that a canvas painting the same boxes again
// measures nothing.
struct FitKey {
    QString text;
    QSizeF content;
    bool operator==(const FitKey &other) const { return content == other.content && text == other.text; }
};

struct BoxKey {
    QString text;
    int pixelSize = 0;
    double wrapWidth = 0;
    double stopBelow = 0;
    bool operator==(const BoxKey &other) const {
        return pixelSize == other.pixelSize && wrapWidth == other.wrapWidth && stopBelow == other.stopBelow &&
               text == other.text;
    }
};

// A few recent entries, the newest first; beyond `capacity` entries or `characters` of text in
// all, the oldest go.
template <typename Key, typename Value> class RecentCache {
public:
    RecentCache(qsizetype capacity, qsizetype characters) : m_capacity(capacity), m_characters(characters) {}

    const Value *find(const Key &key) {
        for (qsizetype i = 0; i < m_entries.size(); ++i) {
            if (m_entries[i].first == key) {
                m_entries.move(i, 0);
                return &m_entries.first().second;
            }
        }
        return nullptr;
    }
    const Value &insert(Key key, Value value) {
        m_held += key.text.size();
        m_entries.prepend({std::move(key), std::move(value)});
        while (m_entries.size() > 1 && (m_entries.size() > m_capacity || m_held > m_characters)) {
            m_held -= m_entries.last().first.text.size();
            m_entries.removeLast();
        }
        return m_entries.first().second;
    }

private:
    QList<std::pair<Key, Value>> m_entries;
    qsizetype m_capacity;
    qsizetype m_characters;
    qsizetype m_held = 0;
};

thread_local RecentCache<FitKey, double> tFittedSizes(64, 4'000'000);

// Layouts are kept for the window's thread only, where the canvas paints, and are never destroyed:
// they hold font engines, which must not be let go of after the application's fonts.
RecentCache<BoxKey, std::shared_ptr<const TextBlock>> *windowBoxLayouts() {
    const QCoreApplication *application = QCoreApplication::instance();
    if (!application || QThread::currentThread() != application->thread())
        return nullptr;
    static auto *layouts = new RecentCache<BoxKey, std::shared_ptr<const TextBlock>>(64, 1'000'000);
    return layouts;
}

// The text of a box laid out for drawing, down to the first line below the box.
std::shared_ptr<const TextBlock> boxLayout(const QString &text, double fontSize, QSizeF content) {
    auto *layouts = windowBoxLayouts();
    BoxKey key{text, pixelSizeFor(fontSize), content.width(), content.height()};
    if (layouts) {
        if (const auto *found = layouts->find(key))
            return *found;
    }
    auto block = std::make_shared<const TextBlock>(
        layoutText(text, fontSize, QFont::Medium, content.width(), content.height()));
    return layouts ? layouts->insert(std::move(key), std::move(block)) : block;
}

void drawBlock(QPainter &painter, const TextBlock &block, QPointF topLeft) {
    painter.save();
    painter.translate(topLeft);
    painter.scale(1 / kTextScale, 1 / kTextScale);
    block.layout->draw(&painter, QPointF(0, 0));
    painter.restore();
}

QPen strokePen(const Mark &mark, double width, double scale, double defaultLineWidth) {
    const double lineWidth = mark.strokeWidth ? std::max(*mark.strokeWidth * scale, 0.75) : defaultLineWidth;
    return QPen(MarkColors::color(mark.displayColor()), lineWidth, Qt::SolidLine, Qt::RoundCap,
                Qt::RoundJoin);
}

// The rectangle widened outward to whole pixels.
QRect integral(const QRectF &r) {
    const int left = int(std::floor(r.left()));
    const int top = int(std::floor(r.top()));
    const int right = int(std::ceil(r.right()));
    const int bottom = int(std::ceil(r.bottom()));
    return QRect(QPoint(left, top), QPoint(right - 1, bottom - 1));
}

void drawNumber(QPainter &painter, const Mark &mark, QSizeF size) {
    const QRectF disc = MarkGeometry::circleBounds(mark, size);
    const MarkColor color = mark.displayColor();
    painter.setPen(Qt::NoPen);
    painter.setBrush(MarkColors::color(color));
    painter.drawEllipse(disc);

    const QString numeral = QString::number(mark.number.value_or(1));
    const ColorComponents c = MarkColors::components(color);
    const double luminance = 0.2126 * c.red + 0.7152 * c.green + 0.0722 * c.blue;
    const double factor = numeral.size() <= 2 ? 0.5 : 0.32;
    const double fontSize = std::max(disc.width() * factor, 1.0);
    // The line's height and baseline as any text of this size; the width comes from the cells.
    const TextBlock block =
        layoutText(numeral, fontSize, QFont::Bold, std::numeric_limits<double>::infinity());
    const double ascent = block.layout->lineCount() > 0 ? block.layout->lineAt(0).ascent() : 0;

    // Monospaced digits: each digit centred in a cell as wide as the widest one, so "11" is as
    // wide as "88". Qt cannot switch on the font's own tabular figures.
    QFont font = MarkRenderer::systemFont(QFont::Bold);
    font.setPixelSize(pixelSizeFor(fontSize));
    const QFontMetricsF metrics(font);
    double digitCell = 0;
    for (char16_t digit = u'0'; digit <= u'9'; ++digit)
        digitCell = std::max(digitCell, metrics.horizontalAdvance(QChar(digit)));
    const auto cellOf = [&](QChar c) { return c.isDigit() ? digitCell : metrics.horizontalAdvance(c); };
    double width = 0;
    for (const QChar c : numeral)
        width += cellOf(c);

    const QPointF centre = disc.center();
    painter.setPen(luminance <= 0.65 ? Qt::white : Qt::black);
    painter.setFont(font);
    painter.translate(centre.x() - width / kTextScale / 2, centre.y() - block.height / 2);
    painter.scale(1 / kTextScale, 1 / kTextScale);
    double x = 0;
    for (const QChar c : numeral) {
        const double cell = cellOf(c);
        painter.drawText(QPointF(x + (cell - metrics.horizontalAdvance(c)) / 2, ascent), QString(c));
        x += cell;
    }
}

void drawTextBox(QPainter &painter, const Mark &mark, QSizeF size) {
    const double w = size.width();
    const double scale = w / 1000;
    const QRectF box = MarkGeometry::bounds(mark, size);
    painter.setPen(Qt::NoPen);
    painter.fillRect(box, MarkRenderer::textBoxTint(mark));

    const bool fixed = mark.fixedTextBox.value_or(false);
    double padding = 0.012 * w;
    if (fixed)
        padding = std::min(padding, 0.15 * std::min(box.width(), box.height()));
    const QRectF inner = box.adjusted(padding, padding, -padding, -padding);
    if (!(inner.width() > 0) || !(inner.height() > 0) || !(scale > 0))
        return;
    const QSizeF content(inner.width() / scale, inner.height() / scale);
    const QString text = mark.text.value_or(QString());
    const double fontSize = fixed ? MarkRenderer::fittingFontSize(text, content) : kBoxFontSize;

    painter.setClipRect(inner, Qt::IntersectClip);
    painter.translate(inner.topLeft());
    painter.scale(scale, scale);
    painter.setPen(kTextColor);
    drawBlock(painter, *boxLayout(text, fontSize, content), QPointF(0, 0));
}

void drawMark(QPainter &painter, const Mark &mark, QSizeF size, const BlurLookup &blurImage) {
    const double w = size.width();
    const double h = size.height();
    const double scale = w / 1000;
    const double defaultLineWidth = std::max(w / 250, 2.0);
    const QPointF p1(w * mark.x1, h * mark.y1);
    const QPointF p2(w * mark.x2, h * mark.y2);
    const QRectF r = MarkGeometry::bounds(mark, size);
    const QColor color = MarkColors::color(mark.displayColor());

    painter.setRenderHint(QPainter::Antialiasing, true);
    painter.setPen(strokePen(mark, w, scale, defaultLineWidth));
    painter.setBrush(Qt::NoBrush);

    switch (mark.kind) {
    case MarkKind::Arrow:
        painter.drawPath(MarkGeometry::arrowPath(p1, p2, MarkGeometry::arrowHeadLength(w)));
        break;
    case MarkKind::Line:
        painter.drawLine(p1, p2);
        break;
    case MarkKind::Rectangle:
        painter.drawRect(r);
        break;
    case MarkKind::Ellipse:
        painter.drawEllipse(r);
        break;
    case MarkKind::FilledRectangle:
        painter.fillRect(r, color);
        break;
    case MarkKind::FilledEllipse:
        painter.setPen(Qt::NoPen);
        painter.setBrush(color);
        painter.drawEllipse(r);
        break;
    case MarkKind::Number:
        drawNumber(painter, mark, size);
        break;
    case MarkKind::Cloud:
        painter.drawPath(MarkGeometry::cloudPath(mark, size));
        break;
    case MarkKind::Highlight:
        painter.fillRect(r, MarkColors::color(mark.displayColor(), 0.3));
        break;
    case MarkKind::Redact:
        painter.setRenderHint(QPainter::Antialiasing, false);
        painter.fillRect(integral(r), Qt::black);
        break;
    case MarkKind::Blur: {
        painter.setClipRect(r, Qt::IntersectClip);
        const std::optional<BlurPatch> patch =
            blurImage ? blurImage(mark.effectiveBlurRadius(), integral(r)) : std::nullopt;
        if (!patch || patch->image.isNull()) {
            painter.fillRect(r, QColor::fromRgbF(0.75f, 0.75f, 0.75f));
        } else if (patch->size.isEmpty()) {
            painter.drawImage(QPointF(patch->origin), patch->image);
        } else {
            painter.setRenderHint(QPainter::SmoothPixmapTransform, true);
            painter.drawImage(QRectF(QPointF(patch->origin), patch->size), patch->image);
        }
        break;
    }
    case MarkKind::Text:
        drawTextBox(painter, mark, size);
        break;
    case MarkKind::Callout:
        painter.drawPath(MarkGeometry::calloutPointerPath(mark, size));
        drawTextBox(painter, mark, size);
        break;
    }
}
} // namespace

QRectF MarkRenderer::drawnBounds(const Mark &mark, QSizeF imageSize) {
    const double w = imageSize.width();
    QRectF r = MarkGeometry::bounds(mark, imageSize);
    double head = 0;
    if (mark.kind == MarkKind::Arrow)
        head = MarkGeometry::arrowHeadLength(w);
    if (mark.kind == MarkKind::Callout) {
        head = MarkGeometry::calloutHeadLength(w);
        const QPointF tip = mark.arrowTip();
        const double tx = tip.x() * w, ty = tip.y() * imageSize.height();
        // QRectF::united ignores empty rectangles, and a box or its tip may well be one.
        r = QRectF(QPointF(std::min(r.left(), tx), std::min(r.top(), ty)),
                   QPointF(std::max(r.right(), tx), std::max(r.bottom(), ty)));
    }
    const double lineWidth =
        mark.strokeWidth ? std::max(*mark.strokeWidth * w / 1000, 0.75) : std::max(w / 250, 2.0);
    const double margin = lineWidth + head + 2;
    return r.adjusted(-margin, -margin, margin, margin);
}

QFont MarkRenderer::systemFont(QFont::Weight weight) {
    QFont font;
    font.setFamilies({QStringLiteral("Inter"), QStringLiteral("DejaVu Sans"), QStringLiteral("Noto Sans")});
    font.setWeight(weight);
    font.setHintingPreference(QFont::PreferNoHinting);
    return font;
}

QColor MarkRenderer::textBoxTint(const Mark &mark) {
    if (!mark.color)
        return QColor::fromRgbF(1.0f, 0.94f, 0.66f);
    const ColorComponents c = MarkColors::components(*mark.color);
    auto tint = [](double v) { return float(0.72 + 0.28 * v); };
    return QColor::fromRgbF(tint(c.red), tint(c.green), tint(c.blue));
}

void MarkRenderer::draw(const MarkList &marks, QPainter &painter, QSizeF imageSize,
                        const BlurLookup &blurImage) {
    if (!(imageSize.width() > 0) || !(imageSize.height() > 0))
        return;
    for (const Mark &mark : Marks::renderingOrder(marks)) {
        if (!mark.isValid())
            continue;
        painter.save();
        drawMark(painter, mark, imageSize, blurImage);
        painter.restore();
    }
}

double MarkRenderer::fittingFontSize(const QString &text, QSizeF content) {
    FitKey key{text, content};
    if (const double *found = tFittedSizes.find(key))
        return *found;
    // Bisection over the font size; sizes that come to the same pixel size lay out alike, so each
    // is measured once. A size that does not fit stops measuring below the box.
    std::map<int, bool> fitsAt;
    double lo = 0.1;
    double hi = kBoxFontSize;
    const double wrap = std::max(content.width() - 1, 0.1);
    for (int step = 0; step < 12; ++step) {
        const double m = (lo + hi) / 2;
        const auto [at, measure] = fitsAt.try_emplace(pixelSizeFor(m), false);
        if (measure) {
            const TextBlock block = layoutText(text, m, QFont::Medium, wrap, content.height());
            at->second = block.height <= content.height() && block.width <= content.width();
        }
        if (at->second)
            lo = m;
        else
            hi = m;
    }
    return tFittedSizes.insert(std::move(key), lo);
}

std::optional<Mark> MarkRenderer::fittingText(const Mark &mark, const QString &text, QSizeF imageSize) {
    const double W = imageSize.width();
    const double H = imageSize.height();
    if (!(W > 0) || !(H > 0))
        return std::nullopt;
    const QString trimmed = text.trimmed();
    if (trimmed.isEmpty())
        return std::nullopt;
    Mark copy = mark;
    copy.text = trimmed;
    if (mark.fixedTextBox.value_or(false)) {
        if (W * std::abs(mark.x2 - mark.x1) > 1 && H * std::abs(mark.y2 - mark.y1) > 1)
            return copy;
        return std::nullopt;
    }
    const double boxWidth = std::max(std::abs(mark.x2 - mark.x1), 0.25);
    const double left = std::min(std::min(mark.x1, mark.x2), 1 - boxWidth);
    const TextBlock block =
        layoutText(trimmed, kBoxFontSize, QFont::Medium, boxWidth * 1000 - 2 * kBoxPadding - 1);
    const double boxHeight = W * (std::ceil(block.height) + 2 * kBoxPadding + 2) / 1000 / H;
    if (boxHeight > 1)
        return std::nullopt;
    copy.x1 = left;
    copy.x2 = left + boxWidth;
    copy.y1 = std::min(std::min(mark.y1, mark.y2), 1 - boxHeight);
    copy.y2 = copy.y1 + boxHeight;
    return copy;
}
