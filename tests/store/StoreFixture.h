#pragma once

#include "support/FileSupport.h"

#include "model/AppFailure.h"
#include "store/CollectionStore.h"
#include "store/FileErrors.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <atomic>
#include <functional>
#include <memory>
#include <optional>

// File panels and alerts that keep the answer for the test to give.
struct FakePanels final : FilePanels {
    std::optional<OpenRequest> openRequest;
    SaveAnswer saveAnswer;
    OpenAnswer openAnswer;
    void chooseSaveFile(const SaveRequest &, SaveAnswer answer) override { saveAnswer = std::move(answer); }
    void chooseOpenFiles(const OpenRequest &request, OpenAnswer answer) override {
        openRequest = request;
        openAnswer = std::move(answer);
    }
};

struct FakeAlerts final : AlertPresenter {
    QList<Alert> shown;
    Answer pending;
    void show(const Alert &alert, Answer answer) override {
        shown.append(alert);
        pending = std::move(answer);
    }
};

// A store in a temporary folder with a settable clock, fake panels and alerts, and a writer that
// counts writes and fails once allowedWrites has run down to 0; while holdLibrary is set, a write
// of the library waits, its outcome decided already. The store writes from the background pool
// too, so the counts are atomic.
struct StoreFixture {
    QTemporaryDir dir;
    double clock = 1000.0;
    std::atomic<int> writes = 0;
    std::atomic<int> allowedWrites = -1; // -1: all succeed
    std::atomic<bool> holdLibrary = false;
    std::unique_ptr<CollectionStore> store;
    FakePanels *panels = new FakePanels;
    FakeAlerts *alerts = new FakeAlerts;

    StoreFixture() {
        store = std::make_unique<CollectionStore>(dir.path(), [this] { return clock; });
        store->setFilePanels(std::unique_ptr<FilePanels>(panels));
        store->setAlertPresenter(std::unique_ptr<AlertPresenter>(alerts));
        store->setFileWriter([this](const QString &path, const QByteArray &bytes) {
            ++writes;
            int allowed = allowedWrites;
            while (allowed > 0 && !allowedWrites.compare_exchange_weak(allowed, allowed - 1)) {
            }
            while (holdLibrary && path.endsWith(QStringLiteral("library.json")))
                QThread::msleep(5);
            if (allowed == 0)
                return QStringLiteral("Die Datei konnte nicht geschrieben werden.");
            return FileErrors::writeAtomically(path, bytes);
        });
    }
    // The store waits for its saves as it goes.
    ~StoreFixture() { holdLibrary = false; }

    // Waits until no import, paste, project or restore is under way; false after 20 s.
    bool idle() {
        return QTest::qWaitFor(
            [&] {
                return !store->isImporting() && !store->isOpeningProject() && !store->isSavingProject() &&
                       !store->isRestoring();
            },
            20000);
    }

    // Starts an operation that answers through a callback and waits for the answer: empty on
    // success, else the failure's sentence; "(keine Antwort)" when none came within 20 s.
    using Done = std::function<void(const QString &failure)>;
    static QString answerOf(const std::function<void(QObject *receiver, Done done)> &start) {
        auto answer = std::make_shared<std::optional<QString>>();
        QObject receiver;
        start(&receiver, [answer](const QString &failure) { *answer = failure; });
        if (!QTest::qWaitFor([&] { return answer->has_value(); }, 20000))
            return QStringLiteral("(keine Antwort)");
        return **answer;
    }

    // Replaces the library with collections titled as given, the first selected; the snips of
    // "A" are titled "A0", "A1", ….
    void setUp(const QList<QPair<QString, int>> &shape) {
        QList<SnipCollection> list;
        for (const auto &[title, count] : shape) {
            list.append(SnipCollection{});
            list.last().title = title;
            for (int i = 0; i < count; ++i) {
                list.last().items.append(Snip::make(title + QString::number(i) + QStringLiteral(".png")));
                list.last().items.last().title = title + QString::number(i);
            }
        }
        store->setCollections(list);
        store->setSelectedID(list.isEmpty() ? OptionalUuid() : OptionalUuid(list.first().id));
        store->saveAtExit();
        writes = 0;
    }
    // The id of the collection or snip with this title.
    OptionalUuid id(const QString &title) const {
        for (const SnipCollection &c : store->collections()) {
            if (c.title == title)
                return c.id;
            for (const Snip &s : c.items) {
                if (s.title == title)
                    return s.id;
            }
        }
        return std::nullopt;
    }
    const SnipCollection &collection(qsizetype i) const { return store->collections().at(i); }
    QString titles() const { return titlesOf(store->collections()); }
    QString snips(qsizetype i) const { return titlesOf(collection(i).items); }
    template <typename List> static QString titlesOf(const List &list) {
        QStringList t;
        for (const auto &item : list)
            t << item.title;
        return t.join(u' ');
    }
    QStringList images() const {
        return QDir(store->imagesDirectory()).entryList(QDir::Files | QDir::Hidden);
    }
};

inline QImage filled(int width, int height) {
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(Qt::darkCyan);
    return image;
}

inline QByteArray encoded(const QImage &image, const char *format = "png") {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    image.save(&buffer, format);
    return bytes;
}

inline QByteArray le16(quint16 value) {
    return QByteArray(1, char(value & 0xFF)) + char(value >> 8);
}

// A GIF of a few bytes whose screen and image claim width x height.
inline QByteArray gifDeclaring(quint16 width, quint16 height) {
    return "GIF89a" + le16(width) + le16(height) + QByteArray("\x80\0\0\0\0\0\xff\xff\xff,\0\0\0\0", 15) +
           le16(width) + le16(height) + QByteArray("\0\x02\x02\x44\x01\0;", 7);
}

// A whole GIF of one white pixel (Qt writes no GIF).
inline const QByteArray kOnePixelGif(
    "GIF89a\x01\0\x01\0\x80\0\0\xff\xff\xff\0\0\0!\xf9\x04\0\0\0\0\0,\0\0\0\0\x01\0\x01\0\0\x02\x02"
    "D\x01\0;",
    43);

inline bool isNewImageName(const QString &name) {
    static const QRegularExpression form(QStringLiteral("^[0-9A-F]{8}(-[0-9A-F]{4}){3}-[0-9A-F]{12}\\.png$"));
    return form.match(name).hasMatch();
}

// The sentence of the failure the call throws; empty when it throws none.
template <typename Failure = AppFailure, typename Call> QString failureOf(Call &&call) {
    try {
        call();
    } catch (const Failure &failure) {
        return failure.errorDescription();
    }
    return {};
}
