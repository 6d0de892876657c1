#include "backup/BackupArchive.h"

#include <QTest>

class TestBackupArchive : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void validName_data();
    void validName();
};

void TestBackupArchive::validName_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("valid");
    const QString uuid = QStringLiteral("3F2504E0-4F89-41D3-9A0C-0305E82C3301");
    QTest::newRow("library file") << QStringLiteral("library.json") << true;
    QTest::newRow("upper-case UUID") << uuid + QStringLiteral(".png") << true;
    QTest::newRow("lower-case UUID") << uuid.toLower() + QStringLiteral(".png") << true;
    QTest::newRow("all-zero UUID") << QStringLiteral("00000000-0000-0000-0000-000000000000.png") << true;
    QTest::newRow("upper-case extension") << uuid + QStringLiteral(".PNG") << false;
    QTest::newRow("other extension") << uuid + QStringLiteral(".jpg") << false;
    QTest::newRow("no extension") << uuid << false;
    QTest::newRow("braces") << QLatin1Char('{') + uuid + QStringLiteral("}.png") << false;
    QTest::newRow("no hyphens") << QString(uuid).remove(u'-') + QStringLiteral("xxxx.png") << false;
    QTest::newRow("hyphen moved") << QStringLiteral("3F2504E04-F89-41D3-9A0C-0305E82C3301.png") << false;
    QTest::newRow("not hex") << QStringLiteral("3F2504E0-4F89-41D3-9A0C-0305E82C330G.png") << false;
    QTest::newRow("path in front") << QStringLiteral("../") + uuid + QStringLiteral(".png") << false;
    QTest::newRow("slash inside") << QStringLiteral("3F2504E0/4F89-41D3-9A0C-0305E82C3301.png") << false;
    QTest::newRow("double extension") << uuid + QStringLiteral(".png.png") << false;
    QTest::newRow("library file upper case") << QStringLiteral("Library.json") << false;
    QTest::newRow("library file in a folder") << QStringLiteral("x/library.json") << false;
    QTest::newRow("empty") << QString() << false;
    QTest::newRow("extension only") << QStringLiteral(".png") << false;
    QTest::newRow("full-width digit")
        << QStringLiteral("3F2504E0-4F89-41D3-9A0C-0305E82C330\uFF11.png") << false;
}

void TestBackupArchive::validName() {
    QFETCH(QString, name);
    QFETCH(bool, valid);
    QCOMPARE(BackupArchive::validName(name), valid);
}

QTEST_GUILESS_MAIN(TestBackupArchive)
#include "tst_backuparchive.moc"
