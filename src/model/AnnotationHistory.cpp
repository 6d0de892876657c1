#include "model/AnnotationHistory.h"

void AnnotationHistory::record(const MarkList &before, const MarkList &after) {
    if (before == after)
        return;
    past.append(before);
    // A history built from given stacks may already hold more; trim it down to the cap.
    while (past.size() > kMaxUndoSteps)
        past.removeFirst();
    future.clear();
}

std::optional<MarkList> AnnotationHistory::undo(const MarkList &current) {
    if (past.isEmpty())
        return std::nullopt;
    MarkList previous = past.takeLast();
    future.append(current);
    return previous;
}

std::optional<MarkList> AnnotationHistory::redo(const MarkList &current) {
    if (future.isEmpty())
        return std::nullopt;
    MarkList next = future.takeLast();
    past.append(current);
    return next;
}
