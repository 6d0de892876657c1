#include "backup/BackupArchive.h"

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
    }
    void validName() {
        QFETCH(QString, name);
        QFETCH(bool, valid);
        QCOMPARE(BackupArchive::validName(name), valid);
    }
};

QTEST_GUILESS_MAIN(TestBackupArchive)
#include "tst_backuparchive.moc"
