#pragma once

#include "model/Mark.h"

#include <QMetaType>
#include <QString>
#include <QTest>

#include <optional>

Q_DECLARE_METATYPE(Mark)
Q_DECLARE_METATYPE(MarkHandle)
Q_DECLARE_METATYPE(std::optional<MarkHandle>)

inline Mark makeMark(MarkKind kind, double x1, double y1, double x2, double y2) {
    return Mark::make(kind, x1, y1, x2, y2);
}

inline QString describe(const Mark &m) {
    QString s = MarkKinds::rawValue(m.kind) + QLatin1Char(' ');
    s +=
        QString::number(m.x1, 'g', 17) + QLatin1Char(',') + QString::number(m.y1, 'g', 17) + QLatin1Char(' ');
    s += QString::number(m.x2, 'g', 17) + QLatin1Char(',') + QString::number(m.y2, 'g', 17);
    if (m.number)
        s += QStringLiteral(" #") + QString::number(*m.number);
    if (m.tipX || m.tipY)
        s += QStringLiteral(" tip ") + (m.tipX ? QString::number(*m.tipX, 'g', 17) : QStringLiteral("-")) +
             QLatin1Char(',') + (m.tipY ? QString::number(*m.tipY, 'g', 17) : QStringLiteral("-"));
    if (m.fixedTextBox)
        s += QStringLiteral(" fixed=") + (*m.fixedTextBox ? QStringLiteral("true") : QStringLiteral("false"));
    return s;
}

// Lets QCOMPARE print marks when they differ.
inline char *toString(const Mark &m) {
    return QTest::toString(describe(m));
}
