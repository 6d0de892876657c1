#pragma once

#include <QColor>
#include <QList>
#include <QPointF>
#include <QString>
#include <QUuid>

#include <array>
#include <optional>

enum class MarkKind {
    Arrow,
    Line,
    Rectangle,
    Ellipse,
    FilledRectangle,
    FilledEllipse,
    Number,
    Cloud,
    Highlight,
    Redact,
    Blur,
    Text,
    Callout,
};

namespace MarkKinds {
// Every kind, in the order the tool palette and the layer list use.
const std::array<MarkKind, 13> &all();
QString rawValue(MarkKind kind);
std::optional<MarkKind> fromRawValue(QStringView text);
QString title(MarkKind kind);
QString symbol(MarkKind kind);
bool isShape(MarkKind kind);
bool supportsStroke(MarkKind kind);
bool isTextBox(MarkKind kind);
} // namespace MarkKinds

enum class MarkColor { Blue, Coral, Green, Yellow, Purple, Black, White };

struct ColorComponents {
    double red;
    double green;
    double blue;
};

namespace MarkColors {
const std::array<MarkColor, 7> &all();
QString rawValue(MarkColor color);
std::optional<MarkColor> fromRawValue(QStringView text);
QString title(MarkColor color);
ColorComponents components(MarkColor color);
QColor color(MarkColor color, double alpha = 1.0);
} // namespace MarkColors

// The drag handles of a selected mark; never stored.
enum class MarkHandle { Start, End, Tip };

struct Mark {
    QUuid id = QUuid::createUuid();
    MarkKind kind = MarkKind::Arrow;
    double x1 = 0;
    double y1 = 0;
    double x2 = 0;
    double y2 = 0;
    std::optional<QString> text;
    std::optional<MarkColor> color;
    std::optional<double> strokeWidth; // thousandths of the image width
    std::optional<double> blurRadius;  // thousandths of the image width
    std::optional<qint64> number;      // any integer a file holds; valid 1 to 9999
    std::optional<bool> fixedTextBox;
    std::optional<double> tipX;
    std::optional<double> tipY;

    static constexpr double kDefaultBlurRadius = 18;

    static Mark make(MarkKind kind, double x1, double y1, double x2, double y2) {
        Mark m;
        m.kind = kind;
        m.x1 = x1;
        m.y1 = y1;
        m.x2 = x2;
        m.y2 = y2;
        return m;
    }

    bool isValid() const;
    double effectiveBlurRadius() const { return blurRadius.value_or(kDefaultBlurRadius); }
    MarkColor displayColor() const;
    int layerGroup() const;
    bool obscuresText() const { return kind == MarkKind::Redact || kind == MarkKind::Blur; }
    QPointF arrowTip() const;
    QString label() const;

    bool operator==(const Mark &other) const = default;
};

using MarkList = QList<Mark>;
