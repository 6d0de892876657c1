#include "model/Mark.h"

#include <algorithm>
#include <cmath>

namespace {
struct KindInfo {
    MarkKind kind;
    const char16_t *raw;
    const char16_t *title;
    const char16_t *symbol;
    bool isShape;
    bool supportsStroke;
    bool isTextBox;
};

constexpr KindInfo kKinds[] = {
    {MarkKind::Arrow, u"arrow", u"Pfeil", u"arrow.up.right", false, true, false},
    {MarkKind::Line, u"line", u"Linie", u"line.diagonal", true, true, false},
    {MarkKind::Rectangle, u"rectangle", u"Rahmen", u"rectangle", true, true, false},
    {MarkKind::Ellipse, u"ellipse", u"Ellipse / Kreis", u"circle", true, true, false},
    {MarkKind::FilledRectangle, u"filledRectangle", u"Gefülltes Rechteck", u"square.fill", true, false,
     false},
    {MarkKind::FilledEllipse, u"filledEllipse", u"Gefüllte Ellipse / Kreis", u"circle.fill", true, false,
     false},
    {MarkKind::Number, u"number", u"Nummerierung", u"1.circle.fill", false, false, false},
    {MarkKind::Cloud, u"cloud", u"Änderungswolke", u"cloud", false, true, false},
    {MarkKind::Highlight, u"highlight", u"Hervorheben", u"highlighter", false, false, false},
    {MarkKind::Redact, u"redact", u"Schwärzen", u"rectangle.fill", false, false, false},
    {MarkKind::Blur, u"blur", u"Blur", u"drop.halffull", false, false, false},
    {MarkKind::Text, u"text", u"Textfeld", u"text.bubble", false, false, true},
    {MarkKind::Callout, u"callout", u"Textfeld mit Pfeil", u"text.bubble.fill", false, true, true},
};

const KindInfo &info(MarkKind kind) {
    return kKinds[static_cast<int>(kind)];
}

struct ColorInfo {
    const char16_t *raw;
    const char16_t *title;
    ColorComponents components;
};

constexpr ColorInfo kColors[] = {
    {u"blue", u"Blau", {0.078, 0.42, 0.961}},
    {u"coral", u"Koralle", {0.94, 0.25, 0.23}},
    {u"green", u"Grün", {0.08, 0.62, 0.34}},
    {u"yellow", u"Gelb", {1, 0.85, 0}},
    {u"purple", u"Violett", {0.58, 0.28, 0.84}},
    {u"black", u"Schwarz", {0.08, 0.10, 0.14}},
    {u"white", u"Weiß", {1, 1, 1}},
};

bool unitInterval(double v) {
    return std::isfinite(v) && v >= 0.0 && v <= 1.0;
}
bool optionalWithin(const std::optional<double> &v, double low, double high) {
    return !v || (std::isfinite(*v) && *v >= low && *v <= high);
}
} // namespace

const std::array<MarkKind, 13> &MarkKinds::all() {
    static const std::array<MarkKind, 13> kinds = [] {
        std::array<MarkKind, 13> a{};
        for (size_t i = 0; i < a.size(); ++i)
            a[i] = kKinds[i].kind;
        return a;
    }();
    return kinds;
}

QString MarkKinds::rawValue(MarkKind kind) {
    return QString::fromUtf16(info(kind).raw);
}

std::optional<MarkKind> MarkKinds::fromRawValue(QStringView text) {
    for (const KindInfo &k : kKinds)
        if (text == QStringView(k.raw))
            return k.kind;
    return std::nullopt;
}

QString MarkKinds::title(MarkKind kind) {
    return QString::fromUtf16(info(kind).title);
}
QString MarkKinds::symbol(MarkKind kind) {
    return QString::fromUtf16(info(kind).symbol);
}
bool MarkKinds::isShape(MarkKind kind) {
    return info(kind).isShape;
}
bool MarkKinds::supportsStroke(MarkKind kind) {
    return info(kind).supportsStroke;
}
bool MarkKinds::isTextBox(MarkKind kind) {
    return info(kind).isTextBox;
}

const std::array<MarkColor, 7> &MarkColors::all() {
    static const std::array<MarkColor, 7> colors = {MarkColor::Blue,   MarkColor::Coral,  MarkColor::Green,
                                                    MarkColor::Yellow, MarkColor::Purple, MarkColor::Black,
                                                    MarkColor::White};
    return colors;
}

QString MarkColors::rawValue(MarkColor color) {
    return QString::fromUtf16(kColors[int(color)].raw);
}

std::optional<MarkColor> MarkColors::fromRawValue(QStringView text) {
    for (MarkColor c : all())
        if (text == QStringView(kColors[int(c)].raw))
            return c;
    return std::nullopt;
}

QString MarkColors::title(MarkColor color) {
    return QString::fromUtf16(kColors[int(color)].title);
}
ColorComponents MarkColors::components(MarkColor color) {
    return kColors[int(color)].components;
}

QColor MarkColors::color(MarkColor color, double alpha) {
    const ColorComponents c = components(color);
    return QColor::fromRgbF(float(c.red), float(c.green), float(c.blue), float(std::clamp(alpha, 0.0, 1.0)));
}

bool Mark::isValid() const {
    if (!unitInterval(x1) || !unitInterval(y1) || !unitInterval(x2) || !unitInterval(y2))
        return false;
    if (!optionalWithin(strokeWidth, 1, 12))
        return false;
    if (!optionalWithin(blurRadius, 4, 40))
        return false;
    if (number && (*number < 1 || *number > 9999))
        return false;
    return optionalWithin(tipX, 0, 1) && optionalWithin(tipY, 0, 1);
}

MarkColor Mark::displayColor() const {
    if (color)
        return *color;
    switch (kind) {
    case MarkKind::Highlight:
    case MarkKind::Text:
    case MarkKind::Callout:
        return MarkColor::Yellow;
    default:
        return MarkColor::Blue;
    }
}

int Mark::layerGroup() const {
    switch (kind) {
    case MarkKind::Blur:
        return 0;
    case MarkKind::Redact:
        return 2;
    default:
        return 1;
    }
}

QPointF Mark::arrowTip() const {
    const double x = tipX ? *tipX : (x1 + x2) / 2;
    const double y = tipY ? *tipY : std::min(std::max(y1, y2) + 0.12, 1.0);
    return {x, y};
}

QString Mark::label() const {
    if (kind == MarkKind::Number)
        return QStringLiteral("Nummer ") + QString::number(number.value_or(1));
    if (text)
        return *text;
    return MarkKinds::title(kind);
}
