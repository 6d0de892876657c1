#pragma once

#include "store/StoreFixture.h"
#include "support/MarkTestSupport.h"

#include "annotation/AnnotationCanvas.h"
#include "annotation/AnnotationSession.h"
#include "annotation/AnnotationViewport.h"
#include "annotation/AnnotationWorkspace.h"
#include "platform/TextRecognizer.h"

#include <QScrollBar>
#include <QTest>
#include <QToolButton>

#include <functional>
#include <memory>

// A mark told apart by its text, which is also its row in the layer list.
inline Mark named(MarkKind kind, const QString &name) {
    Mark m = mk(kind, 0.1, 0.1, 0.3, 0.3);
    m.text = name;
    return m;
}

// Texts in stored order; a number mark with its number ("N#3").
inline QString names(const MarkList &marks) {
    QStringList list;
    for (const Mark &m : marks)
        list << m.text.value_or(QStringLiteral("?")) +
                    (m.number ? QStringLiteral("#") + QString::number(*m.number) : QString());
    return list.join(u' ');
}

// The tool button in `in` that screen readers call `name`.
inline QToolButton *toolButton(QWidget *in, const QString &name) {
    for (QToolButton *button : in->findChildren<QToolButton *>())
        if (button->accessibleName() == name)
            return button;
    return nullptr;
}

// A store with one collection "A" holding one snip "A0" whose PNG exists, and an editor on it.
struct Editor {
    StoreFixture f;
    int closed = 0;
    std::unique_ptr<AnnotationWorkspace> workspace;
    QUuid snip;

    explicit Editor(MarkList marks = {}, QSize image = QSize(1000, 500),
                    std::function<std::unique_ptr<TextRecognizer>()> recognizer = {}) {
        f.setUp({{QStringLiteral("A"), 1}});
        snip = *f.id(QStringLiteral("A0"));
        QImage png(image, QImage::Format_RGB32);
        png.fill(Qt::white);
        png.save(f.store->imagesDirectory() + QStringLiteral("/A0.png"));
        f.store->editSnip(snip, [&](Snip &s) { s.marks = marks; });
        workspace = std::make_unique<AnnotationWorkspace>(
            f.store.get(), snip, [this] { ++closed; }, nullptr, std::move(recognizer));
        workspace->resize(1380, 920);
        workspace->show();
    }
    AnnotationSession *session() const { return workspace->session(); }
    AnnotationCanvas *canvas() const { return workspace->viewport()->canvas(); }
    MarkList marks() const { return session()->marks(); }
    bool waitForCanvas() {
        return QTest::qWaitFor([&] { return workspace->viewport() && canvas()->width() > 0; });
    }
    QPointF at(double x, double y) const { return {x * canvas()->width(), y * canvas()->height()}; }
    // The image point (in image pixels) in the middle of the view.
    QPointF centrePoint() const {
        AnnotationViewport *v = workspace->viewport();
        const auto &g = *v->layoutGeometry();
        return {
            (v->horizontalScrollBar()->value() + v->viewport()->width() / 2.0 - g.imageFrame.x()) / g.scale,
            (v->verticalScrollBar()->value() + v->viewport()->height() / 2.0 - g.imageFrame.y()) / g.scale};
    }
};
