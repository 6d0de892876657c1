#include "model/AppFailure.h"
#include "model/FileNames.h"
#include "model/Snip.h"

#include <QTest>

class TestText : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void heading_data();
    void heading();
    void safeFilename_data();
    void safeFilename();
    void appFailure();
};

void TestText::heading_data() {
    QTest::addColumn<QString>("title");
    QTest::addColumn<int>("index");
    QTest::addColumn<bool>("steps");
    QTest::addColumn<QString>("expected");
    QTest::newRow("steps trims") << QStringLiteral("  Wort \n") << 0 << true << QStringLiteral("1. Wort");
    QTest::newRow("steps empty") << QString() << 4 << true << QStringLiteral("5. Schritt");
    QTest::newRow("steps spaces only") << QStringLiteral("   ") << 4 << true << QStringLiteral("5. Schritt");
    QTest::newRow("steps inner spaces kept")
        << QStringLiteral("a  b") << 9 << true << QStringLiteral("10. a  b");
    QTest::newRow("steps no-break space trimmed")
        << QStringLiteral("\u00a0x\u2003") << 0 << true << QStringLiteral("1. x");
    QTest::newRow("notes empty") << QString() << 2 << false << QStringLiteral("Ausschnitt 3");
    QTest::newRow("notes titled") << QStringLiteral("Menü") << 2 << false << QStringLiteral("Menü");
    QTest::newRow("notes large index") << QString() << 99999 << false << QStringLiteral("Ausschnitt 100000");
}

void TestText::heading() {
    QFETCH(QString, title);
    QFETCH(int, index);
    QFETCH(bool, steps);
    QFETCH(QString, expected);
    Snip s = Snip::make(QStringLiteral("a.png"));
    s.title = title;
    QCOMPARE(s.heading(index, steps ? CollectionMode::Steps : CollectionMode::Notes), expected);
}

void TestText::safeFilename_data() {
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("expected");
    QTest::newRow("slash and question mark")
        << QStringLiteral("Login/Ablauf?") << QStringLiteral("Login-Ablauf-");
    QTest::newRow("two slashes") << QStringLiteral("a//b") << QStringLiteral("a--b");
    QTest::newRow("leading slash") << QStringLiteral("/a") << QStringLiteral("-a");
    QTest::newRow("spaces only") << QStringLiteral("   ") << QStringLiteral("Sammlung");
    QTest::newRow("empty") << QString() << QStringLiteral("Sammlung");
    QTest::newRow("only forbidden") << QStringLiteral("???") << QStringLiteral("---");
    QTest::newRow("all twelve") << QStringLiteral("/\\:?%*|\"<>\n\r") << QString(12, u'-');
    QTest::newRow("umlauts kept") << QStringLiteral("Übersicht Straße") << QStringLiteral("Übersicht Straße");
    QTest::newRow("leading dot kept") << QStringLiteral(".hidden") << QStringLiteral(".hidden");
    QTest::newRow("trim after replace") << QStringLiteral("  a  \t") << QStringLiteral("a");
    QTest::newRow("150 letters") << QString(150, u'x') << QString(100, u'x');
    QTest::newRow("cut may end in a space")
        << QString(99, u'x') + QStringLiteral(" yyy") << QString(99, u'x') + u' ';
    // 100 emoji are 400 bytes: the name is cut to fit 200 bytes with the longest extension.
    QString emoji;
    for (int i = 0; i < 100; ++i)
        emoji += QStringLiteral("👍🏽");
    QString fortyseven;
    for (int i = 0; i < 23; ++i)
        fortyseven += QStringLiteral("👍🏽"); // 8 bytes each: 23 × 8 = 184 ≤ 190 < 192
    QTest::newRow("emoji with modifiers stay whole") << emoji << fortyseven;
    QTest::newRow("100 CJK characters") << QString(100, QChar(0x6F22)) << QString(63, QChar(0x6F22));
}

void TestText::safeFilename() {
    QFETCH(QString, title);
    QFETCH(QString, expected);
    const QString result = ::safeFilename(title);
    QCOMPARE(result, expected);
    QVERIFY((result + QStringLiteral(".vellumbox")).toUtf8().size() <= 200);
}

void TestText::appFailure() {
    const QString sentence = QStringLiteral("Ein Bild fehlt oder ist beschädigt.");
    try {
        throw AppFailure::message(sentence);
    } catch (const AppFailure &failure) {
        QCOMPARE(failure.errorDescription(), sentence);
    }
}

QTEST_GUILESS_MAIN(TestText)
#include "tst_text.moc"
