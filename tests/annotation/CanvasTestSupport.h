#pragma once

#include "annotation/AnnotatedCapture.h"

#include <QCoreApplication>
#include <QMouseEvent>
#include <QStringList>
#include <QWidget>

// Every callback of a canvas configuration, counted and kept.
struct Recorder {
    QStringList calls; // in order: "select", "add", "update", "delete", "edit", "undo", "redo",
                       // "activate", "cancel", "highlight"
    MarkList added;
    MarkList updated;
    MarkList edited;
    QList<std::optional<QUuid>> selections;
    QList<QList<QRectF>> highlights;

    qsizetype count(const QString &call) const { return calls.count(call); }
    // Calls other than the press bookkeeping (activate, select).
    QStringList edits() const {
        QStringList result;
        for (const QString &call : calls)
            if (call != QStringLiteral("activate") && call != QStringLiteral("select"))
                result << call;
        return result;
    }
};

inline AnnotatedCapture recording(Recorder &r, QImage image, MarkList marks,
                                  std::optional<MarkKind> tool = {}) {
    AnnotatedCapture c;
    c.image = std::move(image);
    c.marks = std::move(marks);
    c.tool = tool;
    c.editable = true;
    c.select = [&r](const std::optional<QUuid> &id) {
        r.calls << QStringLiteral("select");
        r.selections << id;
    };
    c.addMark = [&r](const Mark &m) {
        r.calls << QStringLiteral("add");
        r.added << m;
    };
    c.updateMark = [&r](const Mark &m) {
        r.calls << QStringLiteral("update");
        r.updated << m;
    };
    c.editText = [&r](const Mark &m) {
        r.calls << QStringLiteral("edit");
        r.edited << m;
    };
    c.highlightText = [&r](const QList<QRectF> &regions) {
        r.calls << QStringLiteral("highlight");
        r.highlights << regions;
    };
    c.deleteSelected = [&r] { r.calls << QStringLiteral("delete"); };
    c.undo = [&r] { r.calls << QStringLiteral("undo"); };
    c.redo = [&r] { r.calls << QStringLiteral("redo"); };
    c.activate = [&r] { r.calls << QStringLiteral("activate"); };
    c.cancel = [&r] { r.calls << QStringLiteral("cancel"); };
    return c;
}

// Mouse events with explicit buttons, sent straight to the widget.
inline void sendMouse(QWidget *w, QEvent::Type type, QPointF at, Qt::MouseButton button,
                      Qt::MouseButtons buttons, Qt::KeyboardModifiers modifiers = {}) {
    QMouseEvent event(type, at, w->mapToGlobal(at), button, buttons, modifiers);
    QCoreApplication::sendEvent(w, &event);
}

// Press at `from`, two moves, release at `to`, with the button held throughout.
inline void drag(QWidget *w, QPointF from, QPointF to, Qt::KeyboardModifiers modifiers = {},
                 Qt::MouseButton button = Qt::LeftButton) {
    sendMouse(w, QEvent::MouseButtonPress, from, button, button, modifiers);
    sendMouse(w, QEvent::MouseMove, (from + to) / 2, Qt::NoButton, button, modifiers);
    sendMouse(w, QEvent::MouseMove, to, Qt::NoButton, button, modifiers);
    sendMouse(w, QEvent::MouseButtonRelease, to, button, Qt::NoButton, modifiers);
}

inline void click(QWidget *w, QPointF at, Qt::KeyboardModifiers modifiers = {}) {
    sendMouse(w, QEvent::MouseButtonPress, at, Qt::LeftButton, Qt::LeftButton, modifiers);
    sendMouse(w, QEvent::MouseButtonRelease, at, Qt::LeftButton, Qt::NoButton, modifiers);
}

inline void doubleClickAt(QWidget *w, QPointF at) {
    click(w, at);
    sendMouse(w, QEvent::MouseButtonDblClick, at, Qt::LeftButton, Qt::LeftButton);
    sendMouse(w, QEvent::MouseButtonRelease, at, Qt::LeftButton, Qt::NoButton);
}

inline QImage pattern(int width, int height) {
    QImage image(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            image.setPixel(
                x, y, ((x / 8 + y / 8) % 2) ? qRgb(230, 235, 240) : qRgb(40, 60, 90 + (x * 120) / width));
    return image;
}
