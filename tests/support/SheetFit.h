#pragma once

#include <QLabel>
#include <QLayout>
#include <QWidget>

#include <algorithm>

// Why the sheet does not show exactly its content, or empty: a word-wrapped text lower than its
// lines need is clipped; a sheet higher than its layout asks for at its width (or the floor)
// has blank space.
inline QString sheetFitProblem(const QWidget &sheet, int floor = 0) {
    for (const QLabel *label : sheet.findChildren<QLabel *>()) {
        if (!label->isVisibleTo(&sheet) || !label->wordWrap() || label->text().isEmpty())
            continue;
        const int needed = label->heightForWidth(label->width());
        if (label->height() < needed)
            return QStringLiteral("clipped: \"%1\" is %2 high, needs %3")
                .arg(label->text())
                .arg(label->height())
                .arg(needed);
    }
    const int wanted = std::max(floor, sheet.layout()->totalHeightForWidth(sheet.width()));
    if (sheet.height() != wanted)
        return QStringLiteral("the sheet is %1 high, its content %2").arg(sheet.height()).arg(wanted);
    return {};
}
