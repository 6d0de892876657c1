#pragma once

#include "model/Mark.h"

#include <QList>

#include <optional>

// The undo and redo history of one snip's marks while the snip is open in the mark editor. Every
// entry is a complete copy of the mark list; the cap on undo steps bounds the memory held. A plain
// value, never saved.
//
// Construction: `AnnotationHistory{}` gives both stacks empty, `AnnotationHistory{past, future}`
// takes them as given.
struct AnnotationHistory {
    static constexpr qsizetype kMaxUndoSteps = 100;

    // Earlier states of the whole mark list, oldest first, newest last; at most kMaxUndoSteps.
    QList<MarkList> past;
    // States undone, the most recently undone last.
    QList<MarkList> future;

    // Records one edit of the mark list. An edit that changes nothing (equal lists, mark by mark
    // over all fields) leaves both stacks untouched, so the redo stack survives it. Otherwise
    // `before` joins the undo stack, the oldest entry goes when the stack would exceed
    // kMaxUndoSteps, and the redo stack is emptied.
    void record(const MarkList &before, const MarkList &after);

    // The list to show instead of `current`, or none when there is nothing to undo; `current`
    // goes onto the redo stack.
    std::optional<MarkList> undo(const MarkList &current);

    // The mirror of undo(): the list to show instead of `current`, or none when there is nothing
    // to redo; `current` goes back onto the undo stack. No cap is applied here: undo and redo only
    // move entries between the stacks, so together they never hold more than record() allows.
    std::optional<MarkList> redo(const MarkList &current);

    bool canUndo() const { return !past.isEmpty(); }
    bool canRedo() const { return !future.isEmpty(); }

    bool operator==(const AnnotationHistory &other) const = default;
};
