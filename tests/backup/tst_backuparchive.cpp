#include "imaging/ImageImport.h"

#include <QTest>

using namespace Qt::StringLiterals;

class TestBackupArchive : public QObject {
    Q_OBJECT
private Q_SLOTS:
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
