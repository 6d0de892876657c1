#include "backup/BackupArchive.h"
#include "imaging/ImageImport.h"

#include <QTest>

using namespace Qt::StringLiterals;

class TestBackupArchive : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void validName_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("valid");
        const QString uuid = u"3F2504E0-4F89-41D3-9A0C-0305E82C3301"_s;
        QTest::newRow("library file") << u"library.json"_s << true;
        QTest::newRow("upper-case UUID") << uuid + u".png"_s << true;
        QTest::newRow("lower-case UUID") << uuid.toLower() + u".png"_s << true;
        QTest::newRow("upper-case extension") << uuid + u".PNG"_s << false;
        QTest::newRow("slash inside") << u"3F2504E0/4F89-41D3-9A0C-0305E82C3301.png"_s << false;
        QTest::newRow("library file upper case") << u"Library.json"_s << false;
        // The whole name is 40 characters: a UUID with anything more before the extension is not.
        QTest::newRow("text after the UUID") << uuid + u"-copy.png"_s << false;
        QTest::newRow("one character after the UUID") << uuid + u"x.png"_s << false;
        QTest::newRow("UUID in braces") << u"{"_s + uuid + u"}.png"_s << false;
        QTest::newRow("UUID without hyphens, padded to 40")
            << u"3F2504E04F8941D39A0C0305E82C3301abcd.png"_s << false;
        QTest::newRow("not hexadecimal") << u"3F2504E0-4F89-41D3-9A0C-0305E82C330G.png"_s << false;
        QTest::newRow("extension only") << u".png"_s << false;
    }
    void validName() {
        QFETCH(QString, name);
        QFETCH(bool, valid);
        QCOMPARE(BackupArchive::validName(name), valid);
    }

    // Sizes of snapshots and imports: bytes, whole kilobytes, then tenths of megabytes and
    // gigabytes, rounding half up and moving on to the next unit at 1000.
    void byteCountText_data() {
        QTest::addColumn<qint64>("bytes");
        QTest::addColumn<QString>("text");
        QTest::newRow("nothing") << qint64(0) << u"0 Bytes"_s;
        QTest::newRow("negative") << qint64(-5) << u"0 Bytes"_s;
        QTest::newRow("one byte") << qint64(1) << u"1 Byte"_s;
        QTest::newRow("999 bytes") << qint64(999) << u"999 Bytes"_s;
        QTest::newRow("1000 bytes") << qint64(1000) << u"1 KB"_s;
        QTest::newRow("1499 bytes rounds down") << qint64(1499) << u"1 KB"_s;
        QTest::newRow("1500 bytes rounds up") << qint64(1500) << u"2 KB"_s;
        QTest::newRow("812 kB") << qint64(812'345) << u"812 KB"_s;
        QTest::newRow("999.499 kB") << qint64(999'499) << u"999 KB"_s;
        QTest::newRow("999.5 kB moves on") << qint64(999'500) << u"1 MB"_s;
        QTest::newRow("a tenth of a MB") << qint64(25'300'000) << u"25,3 MB"_s;
        QTest::newRow("a zero tenth is left out") << qint64(25'000'000) << u"25 MB"_s;
        QTest::newRow("tenths round half up") << qint64(1'050'000) << u"1,1 MB"_s;
        QTest::newRow("999.95 MB moves on") << qint64(999'950'000) << u"1 GB"_s;
        QTest::newRow("gigabytes") << qint64(1'234'567'890) << u"1,2 GB"_s;
    }
    void byteCountText() {
        QFETCH(qint64, bytes);
        QFETCH(QString, text);
        QCOMPARE(ImageImport::byteCountText(bytes), text);
    }
};

QTEST_GUILESS_MAIN(TestBackupArchive)
#include "tst_backuparchive.moc"
