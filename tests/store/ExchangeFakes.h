#pragma once

#include "store/AlertPresenter.h"
#include "store/CollectionStore.h"
#include "store/FilePanels.h"
#include "store/ImageClipboard.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <memory>

// File panels that remember what they were asked and answer when the test says so.
struct FakePanels final : FilePanels {
    std::optional<SaveRequest> saveRequest;
    std::optional<OpenRequest> openRequest;
    SaveAnswer saveAnswer;
    OpenAnswer openAnswer;

    void chooseSaveFile(const SaveRequest &request, SaveAnswer answer) override {
        saveRequest = request;
        saveAnswer = std::move(answer);
    }
    void chooseOpenFiles(const OpenRequest &request, OpenAnswer answer) override {
        openRequest = request;
        openAnswer = std::move(answer);
    }
    void answerSave(const QString &path) { std::exchange(saveAnswer, {})(path); }
    void answerOpen(const QStringList &paths) { std::exchange(openAnswer, {})(paths); }
};

struct FakeAlerts final : AlertPresenter {
    QList<Alert> shown;
    Answer pending;
    void show(const Alert &alert, Answer answer) override {
        shown.append(alert);
        pending = std::move(answer);
    }
    void press(int button) { std::exchange(pending, {})(button); }
};

// A store in a temporary folder whose writes can be told to fail.
struct ExchangeFixture {
    QTemporaryDir dir;
    std::unique_ptr<CollectionStore> store;
    FakePanels *panels = nullptr;
    FakeAlerts *alerts = nullptr;
    int writes = 0;
    int allowedImageWrites = -1;   // image writes that still succeed; -1: all
    int allowedLibraryWrites = -1; // the same for library.json

    ExchangeFixture() {
        store = std::make_unique<CollectionStore>(dir.path(), [] { return 1000.0; });
        auto p = std::make_unique<FakePanels>();
        panels = p.get();
        store->setFilePanels(std::move(p));
        auto a = std::make_unique<FakeAlerts>();
        alerts = a.get();
        store->setAlertPresenter(std::move(a));
        store->setFileWriter([this](const QString &path, const QByteArray &bytes) {
            ++writes;
            int &allowed =
                path.endsWith(QStringLiteral("library.json")) ? allowedLibraryWrites : allowedImageWrites;
            if (allowed == 0)
                return QStringLiteral("Die Datei konnte nicht geschrieben werden.");
            if (allowed > 0)
                --allowed;
            QFile file(path);
            if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
                return QStringLiteral("Die Datei konnte nicht geschrieben werden.");
            return QString();
        });
    }

    QString imagesDir() const { return store->imagesDirectory(); }
    QStringList images() const { return QDir(imagesDir()).entryList(QDir::Files | QDir::Hidden, QDir::Name); }
    QStringList titles() const {
        QStringList t;
        for (const SnipCollection &c : store->collections())
            t << c.title;
        return t;
    }

    // Stores the image as a library file and returns its name.
    QString addImageFile(const QByteArray &bytes, QString name = {}) {
        if (name.isEmpty())
            name = uuidText(QUuid::createUuid()) + QStringLiteral(".png");
        QFile f(imagesDir() + u'/' + name);
        if (f.open(QIODevice::WriteOnly))
            f.write(bytes);
        return name;
    }
};

inline QByteArray encodedImage(const QImage &image, const char *format = "png") {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, format);
    return bytes;
}

inline QImage filledImage(int width, int height, QColor color = Qt::darkCyan) {
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(color);
    return image;
}

inline QByteArray readFile(const QString &path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

inline bool isNewImageName(const QString &name) {
    static const QRegularExpression form(QStringLiteral("^[0-9A-F]{8}(-[0-9A-F]{4}){3}-[0-9A-F]{12}\\.png$"));
    return form.match(name).hasMatch();
}

inline quint32 crc32(QByteArrayView data) {
    quint32 crc = 0xffffffffu;
    for (const char c : data) {
        crc ^= quint8(c);
        for (int k = 0; k < 8; ++k)
            crc = (crc >> 1) ^ (0xedb88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

inline QByteArray pngChunk(const QByteArray &type, const QByteArray &data) {
    QByteArray chunk;
    const auto be32 = [&](quint32 v) {
        chunk.append(char(v >> 24)).append(char(v >> 16)).append(char(v >> 8)).append(char(v));
    };
    be32(quint32(data.size()));
    chunk.append(type).append(data);
    be32(crc32(type + data));
    return chunk;
}

// A PNG whose header claims a size without the pixels to back it.
inline QByteArray pngDeclaring(quint32 width, quint32 height) {
    QByteArray header;
    for (quint32 v : {width, height})
        header.append(char(v >> 24)).append(char(v >> 16)).append(char(v >> 8)).append(char(v));
    header.append("\x08\x06\x00\x00\x00", 5);
    return QByteArray("\x89PNG\r\n\x1a\n", 8) + pngChunk("IHDR", header) + pngChunk("IDAT", "x") +
           pngChunk("IEND", {});
}
