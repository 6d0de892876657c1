// Pasting what another program holds on the X11 clipboard: only the types it offers are asked
// for, their bytes come as they are, and the image checks see the header before anything decodes.
#include "StoreFixture.h"

#include "support/ClipboardOwner.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QMimeData>
#include <QProcess>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {
const QString kNotProcessed = u"Das Bild konnte nicht verarbeitet werden."_s;
const QString kNoImage = u"Die Zwischenablage enthält kein Bild."_s;

qint64 statusKilobytes(const char *key) {
    QFile status(u"/proc/self/status"_s);
    const QByteArray text = status.open(QIODevice::ReadOnly) ? status.readAll() : QByteArray();
    const qsizetype at = text.indexOf(key);
    return at < 0 ? -1 : text.mid(at + qstrlen(key)).trimmed().split(' ').value(0).toLongLong();
}

// An XPM picture: Qt reads it, but it is no format a snip may come from.
const QByteArray kXpm =
    "/* XPM */\nstatic char *p[] = {\n\"2 2 1 1\",\n\". c #336699\",\n\"..\",\n\"..\"};\n";
} // namespace

class TestForeignPaste : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase() { QCOMPARE(QGuiApplication::platformName(), u"xcb"_s); }

    void paste_data() {
        QTest::addColumn<QStringList>("types");
        QTest::addColumn<QList<QByteArray>>("data");
        QTest::addColumn<QString>("failure");
        QTest::addColumn<QSize>("stored");
        const auto row = [](const char *name, const QStringList &types, const QList<QByteArray> &data,
                            const QString &failure,
                            QSize stored = {}) { QTest::newRow(name) << types << data << failure << stored; };
        // First, while the peak of the process is still its present size.
        row("GIF declaring 14000 x 14000", {"image/gif"}, {gifDeclaring(14000, 14000)}, kNotProcessed);
        row("PNG", {"image/png"}, {encoded(filled(10, 10))}, {}, {10, 10});
        row("PNG before TIFF", {"image/tiff", "image/png"},
            {encoded(filled(20, 20), "tiff"), encoded(filled(10, 10))}, {}, {10, 10});
        row("GIF", {"image/gif"}, {kOnePixelGif}, {}, {1, 1});
        // Qt would decode these itself, on the spot, when asked for an image.
        row("PPM declaring 14000 x 14000", {"image/ppm"}, {"P6\n14000 14000\n255\n\x10\x20\x30"}, kNoImage);
        row("GIF declaring 14000 x 14000 offered as WebP", {"image/webp"}, {gifDeclaring(14000, 14000)},
            kNoImage);
        row("XPM only", {"image/xpm"}, {kXpm}, kNoImage);
        row("text only", {"text/plain"}, {"Hallo"}, kNoImage);
    }
    void paste() {
        QFETCH(QStringList, types);
        QFETCH(QList<QByteArray>, data);
        QFETCH(QString, failure);
        QFETCH(QSize, stored);
        QTemporaryDir files;
        QStringList arguments;
        for (qsizetype i = 0; i < types.size(); ++i) {
            const QString path = files.filePath(QString::number(i));
            QVERIFY(writeFile(path, data[i]));
            arguments << types[i] << path;
        }
        QProcess owner;
        QVERIFY2(ClipboardOwner::start(owner, QStringLiteral(CLIPBOARD_OWNER_PATH), arguments),
                 "the other program did not take the clipboard");
        // The change of owner reaches this program as an event.
        QTRY_VERIFY_WITH_TIMEOUT(
            QGuiApplication::clipboard()->mimeData() &&
                QGuiApplication::clipboard()->mimeData()->formats().contains(types.first()),
            30'000);
        QVERIFY(!QGuiApplication::clipboard()->ownsClipboard());

        StoreFixture f;
        // Against the peak so far: an earlier row that failed does not fail this one too.
        const qint64 before = statusKilobytes("VmPeak:");
        f.store->pasteImage();
        QVERIFY2(f.idle(), "the paste did not end");
        const qint64 grown = statusKilobytes("VmPeak:") - before;
        ClipboardOwner::stop(owner);
        QCOMPARE(f.store->error(), failure);
        QCOMPARE(f.collection(0).items.size(), stored.isValid() ? 1 : 0);
        if (stored.isValid())
            QCOMPARE(f.store->image(f.collection(0).items.first()).size(), stored);
        // A decode at a declared 14000 x 14000 would take 784 MB.
        QVERIFY2(grown < 400'000, qPrintable(u"%1 kB"_s.arg(grown)));
    }
};

QTEST_MAIN(TestForeignPaste)
#include "tst_foreignpaste.moc"
