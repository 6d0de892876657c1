#include "model/FileNames.h"
#include "model/Snip.h"
#include "model/TextLines.h"

#include <QTest>

class TestText : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void heading_data();
    void heading();
    void safeFilename_data();
    void safeFilename();
    void backupFileName_data();
    void backupFileName();
    void lines_data();
    void lines();
};

void TestText::heading_data() {
    QTest::addColumn<QString>("title");
    QTest::addColumn<CollectionMode>("mode");
    QTest::addColumn<QString>("expected"); // of the third snip
    QTest::newRow("steps, trimmed") << "  Wort \n" << CollectionMode::Steps << "3. Wort";
    QTest::newRow("steps, spaces only") << "   " << CollectionMode::Steps << "3. Schritt";
    QTest::newRow("notes, untitled") << "" << CollectionMode::Notes << "Ausschnitt 3";
    QTest::newRow("notes, titled") << " Menü " << CollectionMode::Notes << "Menü";
}

void TestText::heading() {
    QFETCH(QString, title);
    QFETCH(CollectionMode, mode);
    QFETCH(QString, expected);
    Snip s;
    s.title = title;
    QCOMPARE(s.heading(2, mode), expected);
}

void TestText::safeFilename_data() {
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("expected");
    // Trimmed after replacing, so the final line break stays as a hyphen.
    QTest::newRow("forbidden characters") << QStringLiteral(" a/\\:?%*|\"<>\rb\n") << "a-----------b-";
    QTest::newRow("spaces only") << QStringLiteral("   ") << "Sammlung";
    QTest::newRow("at most 100 characters") << QString(150, u'x') << QString(100, u'x');
    // 👍🏽 is one character of 8 bytes: 23 fit into the 190 bytes left beside the longest extension.
    QTest::newRow("emoji") << QStringLiteral("👍🏽").repeated(100)
                           << QStringLiteral("👍🏽").repeated(23);
    QTest::newRow("CJK, 3 bytes each") << QString(100, QChar(0x6F22)) << QString(63, QChar(0x6F22));
}

void TestText::safeFilename() {
    QFETCH(QString, title);
    QFETCH(QString, expected);
    const QString result = ::safeFilename(title);
    QCOMPARE(result, expected);
    QVERIFY((result + QStringLiteral(".vellumbox")).toUtf8().size() <= 200);
}

// Backups carry the library file and images named by a UUID; every other name is refused, the
// library file also where only an image may stand.
void TestText::backupFileName_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("file");
    QTest::addColumn<bool>("image");
    const QString uuid = QStringLiteral("3F2504E0-4F89-41D3-9A0C-0305E82C3301");
    QTest::newRow("library file") << QStringLiteral("library.json") << true << false;
    QTest::newRow("upper-case UUID") << uuid + QStringLiteral(".png") << true << true;
    QTest::newRow("lower-case UUID") << uuid.toLower() + QStringLiteral(".png") << true << true;
    QTest::newRow("upper-case extension") << uuid + QStringLiteral(".PNG") << false << false;
    QTest::newRow("slash inside") << QStringLiteral("3F2504E0/4F89-41D3-9A0C-0305E82C3301.png") << false
                                  << false;
    QTest::newRow("library file upper case") << QStringLiteral("Library.json") << false << false;
    QTest::newRow("library file in a folder") << QStringLiteral("x/library.json") << false << false;
    // The whole name is 40 characters: a UUID with anything more before the extension is not.
    QTest::newRow("text after the UUID") << uuid + QStringLiteral("-copy.png") << false << false;
    QTest::newRow("one character after the UUID") << uuid + QStringLiteral("x.png") << false << false;
    QTest::newRow("UUID in braces") << QStringLiteral("{") + uuid + QStringLiteral("}.png") << false << false;
    QTest::newRow("UUID without hyphens, padded to 40")
        << QStringLiteral("3F2504E04F8941D39A0C0305E82C3301abcd.png") << false << false;
    QTest::newRow("not hexadecimal") << QStringLiteral("3F2504E0-4F89-41D3-9A0C-0305E82C330G.png") << false
                                     << false;
    QTest::newRow("extension only") << QStringLiteral(".png") << false << false;
}

void TestText::backupFileName() {
    QFETCH(QString, name);
    QFETCH(bool, file);
    QFETCH(bool, image);
    QCOMPARE(isBackupFileName(name), file);
    QCOMPARE(isBackupImageName(name), image);
}

void TestText::lines_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QStringList>("expected");
    QTest::newRow("empty") << QString() << QStringList{QString()};
    QTest::newRow("LF, CR LF, CR") << QStringLiteral("a\nb\r\nc\rd") << QStringList{"a", "b", "c", "d"};
    QTest::newRow("CR CR LF is two breaks") << QStringLiteral("a\r\r\nb") << QStringList{"a", "", "b"};
    QTest::newRow("separators and vertical tab")
        << QStringLiteral("a\u2028b\u2029c\vd") << QStringList{"a", "b", "c", "d"};
    QTest::newRow("other controls dropped, tab kept")
        << QStringLiteral("a\x01\tb\x7F\u009Bc") << QStringList{QStringLiteral("a\tbc")};
    QTest::newRow("trailing break") << QStringLiteral("Erste Zeile\n") << QStringList{"Erste Zeile", ""};
}

void TestText::lines() {
    QFETCH(QString, text);
    QFETCH(QStringList, expected);
    QCOMPARE(TextLines::split(text), expected);
}

QTEST_GUILESS_MAIN(TestText)
#include "tst_text.moc"
