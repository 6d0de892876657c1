#pragma once

#include "annotation/RecognizedText.h"
#include "model/Mark.h"

#include <QImage>
#include <QRectF>
#include <QUuid>

#include <functional>
#include <optional>

// What an AnnotationCanvas shows and whom it tells about edits. A read-only preview fills in only
// the image and the marks; the editor fills in the rest. The canvas never changes marks itself: it
// reports each edit through exactly one of the callbacks, which all default to doing nothing.
struct AnnotatedCapture {
    QImage image;
    MarkList marks;
    std::optional<MarkKind> tool; // none: select and move
    // The selected mark; the canvas asks for a change through `select`.
    std::optional<QUuid> selection;
    std::function<void(const std::optional<QUuid> &)> select = [](const std::optional<QUuid> &) {};
    bool editable = false;
    std::optional<MarkColor> drawingColor;
    std::optional<double> drawingWidth;
    double drawingBlurRadius = Mark::kDefaultBlurRadius;
    std::optional<QRectF> focusRect;     // normalised; the focused recognised line
    RecognizedTextLines recognizedLines; // non-empty switches the canvas into text-marker mode
    std::function<void(const QList<QRectF> &)> highlightText = [](const QList<QRectF> &) {};
    std::function<void(const Mark &)> updateMark = [](const Mark &) {};
    std::function<void()> deleteSelected = [] {};
    std::function<void(const Mark &)> editText = [](const Mark &) {};
    std::function<void()> undo = [] {};
    std::function<void()> redo = [] {};
    std::function<void()> activate = [] {};
    std::function<void()> cancel = [] {};
    std::function<void(const Mark &)> addMark = [](const Mark &) {};
};
