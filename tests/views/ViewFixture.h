#pragma once

#include "OnlineStubs.h"
#include "store/StoreFixture.h"

#include "export/Exporter.h"
#include "views/CollectionDocument.h"
#include "views/EditorView.h"
#include "views/LibraryState.h"
#include "views/PreviewCache.h"
#include "views/SnipCard.h"
#include "views/WindowAlerts.h"

#include <QApplication>
#include <QCoreApplication>
#include <QMap>
#include <QMessageBox>
#include <QSettings>
#include <QStandardPaths>
#include <QTest>

// The main window over a real store in a temporary folder, with closures that count their calls.
struct ViewFixture : StoreFixture {
    AccountStore account{AccountConfiguration::clientID};
    CloudBackupStore backup{&account, store.get(), {}, nullptr, true};
    Exporter exporter{store.get()};
    QMap<QString, int> calls;
    std::unique_ptr<EditorView> view;
    bool active = false;

    explicit ViewFixture(QSize size = QSize(1380, 920)) {
        QStandardPaths::setTestModeEnabled(true);
        QSettings().remove(QLatin1String(LibraryState::kCompactLayoutKey));
        const auto count = [this](const char *name) {
            return [this, name] { ++calls[QLatin1String(name)]; };
        };
        view = std::make_unique<EditorView>(store.get(), &account, &backup, &exporter, count("capture"),
                                            count("quickCapture"), count("showPanel"), count("finish"),
                                            count("pause"));
        view->resize(size);
        view->show();
        // Keys and focus go to the active window only; a busy machine or a display without a
        // window manager activates it late or not by itself.
        view->activateWindow();
        active = QTest::qWaitForWindowActive(view.get());
        settle();
    }
    ~ViewFixture() { view.reset(); }

    // Lets the coalesced refresh and the queued work of this turn run.
    static void settle() {
        for (int i = 0; i < 4; ++i)
            QCoreApplication::processEvents();
    }
    // Writes a small PNG under the snip's file name, so its preview can be made.
    void writeImage(const QString &name, QSize size = QSize(160, 90)) const {
        QImage image(size, QImage::Format_RGB32);
        image.fill(Qt::darkCyan);
        image.save(store->imagesDirectory() + u'/' + name, "PNG");
    }
    void writeImages() const {
        for (const SnipCollection &c : store->collections())
            for (const Snip &s : c.items)
                writeImage(s.imageFile);
    }
    CollectionDocument *document() const { return view->document(); }
    // The card of a snip, scrolled on screen.
    SnipCard *card(const QString &snipTitle) const {
        settle();
        return document()->showCard(*id(snipTitle));
    }
    QString closure() const {
        QStringList names = calls.keys();
        return names.join(u',');
    }
    QMessageBox *openBox() const {
        settle();
        return view->alerts()->openBox();
    }
    // Presses the box's button with this text; false when there is none.
    bool press(const QString &text) const {
        QMessageBox *box = openBox();
        if (!box)
            return false;
        for (QAbstractButton *button : box->buttons()) {
            if (button->text() == text) {
                button->click();
                settle();
                return true;
            }
        }
        return false;
    }
    QStringList buttonTexts() const {
        QStringList texts;
        if (QMessageBox *box = openBox()) {
            QList<QAbstractButton *> buttons = box->buttons();
            std::sort(buttons.begin(), buttons.end(), [](auto *a, auto *b) { return a->x() < b->x(); });
            for (QAbstractButton *b : buttons)
                texts << b->text();
        }
        return texts;
    }
};
