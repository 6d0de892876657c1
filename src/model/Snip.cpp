#include "model/Snip.h"

#include <QHashFunctions>

const std::array<CollectionMode, 2> &CollectionModes::all() {
    static const std::array<CollectionMode, 2> modes = {CollectionMode::Steps, CollectionMode::Notes};
    return modes;
}

QString CollectionModes::rawValue(CollectionMode mode) {
    return mode == CollectionMode::Steps ? QStringLiteral("steps") : QStringLiteral("notes");
}

std::optional<CollectionMode> CollectionModes::fromRawValue(QStringView text) {
    if (text == u"steps")
        return CollectionMode::Steps;
    if (text == u"notes")
        return CollectionMode::Notes;
    return std::nullopt;
}

QString CollectionModes::title(CollectionMode mode) {
    return mode == CollectionMode::Steps ? QStringLiteral("Ablauf erklären")
                                         : QStringLiteral("Punkte sammeln");
}

QString CollectionModes::symbol(CollectionMode mode) {
    return mode == CollectionMode::Steps ? QStringLiteral("list.number") : QStringLiteral("square.grid.2x2");
}

size_t qHash(const CaptureChoice &choice, size_t seed) {
    if (choice.kind == CaptureChoice::Kind::NewCollection)
        return qHashMulti(seed, 0);
    return qHashMulti(seed, 1, choice.id);
}

QString Snip::heading(qsizetype index, CollectionMode mode) const {
    const QString t = title.trimmed();
    const QString position = QString::number(index + 1);
    if (mode == CollectionMode::Steps)
        return position + QStringLiteral(". ") + (t.isEmpty() ? QStringLiteral("Schritt") : t);
    return t.isEmpty() ? QStringLiteral("Ausschnitt ") + position : t;
}
