// The real programs on a display of their own: vellumbox and vellumbox-screencapture, driven
// from outside as a user would, with the keyboard and the mouse. The functions run in order and
// share one running program.

#include "support/X11TestSupport.h"

#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QScopeGuard>
#include <QTemporaryDir>

#include <climits>

#include <fcntl.h>
#include <unistd.h>

using namespace Qt::StringLiterals;
using namespace X11TestSupport;

namespace {

const QRect kRegion(300, 300, 400, 300); // the drag, from its top left to its bottom right

QJsonObject readLibrary(const QString &path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QJsonDocument::fromJson(file.readAll()).object();
}

QJsonArray snips(const QJsonObject &library) {
    QJsonArray all;
    for (const QJsonValue &collection : library[u"collections"_s].toArray())
        for (const QJsonValue &snip : collection[u"items"_s].toArray())
            all.append(snip);
    return all;
}

QString activeWindowName() {
    QProcess process;
    process.start(u"xdotool"_s, {u"getactivewindow"_s, u"getwindowname"_s});
    process.waitForFinished(kPatienceMs);
    return QString::fromUtf8(process.readAllStandardOutput()).trimmed();
}

// The active window's frame on screen, from the window manager's point of view.
QRect activeWindowGeometry() {
    QProcess process;
    process.start(u"xdotool"_s, {u"getactivewindow"_s, u"getwindowgeometry"_s, u"--shell"_s});
    process.waitForFinished(kPatienceMs);
    QHash<QString, int> values;
    for (const QString &line : QString::fromUtf8(process.readAllStandardOutput()).split(u'\n')) {
        const qsizetype equals = line.indexOf(u'=');
        if (equals > 0)
            values.insert(line.left(equals), line.mid(equals + 1).toInt());
    }
    return QRect(values.value(u"X"_s), values.value(u"Y"_s), values.value(u"WIDTH"_s),
                 values.value(u"HEIGHT"_s));
}

QImage screenImage() {
    return QGuiApplication::primaryScreen()->grabWindow(0).toImage().convertToFormat(QImage::Format_RGB32);
}

// A pixel of the captured part of the pattern, scaled or not: strong red or green over little
// blue. The application's own colours are greys, its blue accent and white.
bool looksCaptured(QRgb pixel) {
    const int blue = qBlue(pixel);
    return blue <= 40 && std::max(qRed(pixel), qGreen(pixel)) - blue >= 60;
}

// The longest run of consecutive true entries, as first and last index; empty when none.
std::pair<int, int> longestRun(const QList<bool> &flags) {
    std::pair<int, int> best{0, -1};
    int start = -1;
    for (int i = 0; i <= flags.size(); ++i) {
        if (i < flags.size() && flags[i]) {
            if (start < 0)
                start = i;
        } else if (start >= 0) {
            if (i - 1 - start > best.second - best.first)
                best = {start, i - 1};
            start = -1;
        }
    }
    return best;
}

// Where the captured picture shows inside `area` of the screen (a card's preview or the editor's
// canvas): the largest block of rows and columns full of its colours. Small icons do not count.
QRect capturedPictureOnScreen(const QImage &screen, const QRect &area) {
    constexpr int kMinimumRun = 40;
    const QRect within = area & screen.rect();
    // Line by line: the test runs under the sanitizers, where a call per pixel is slow.
    QList<QList<bool>> hits(within.height());
    QList<bool> rows(within.height(), false);
    for (int y = 0; y < within.height(); ++y) {
        const auto *line =
            reinterpret_cast<const QRgb *>(screen.constScanLine(within.top() + y)) + within.left();
        hits[y].resize(within.width());
        int count = 0;
        for (int x = 0; x < within.width(); ++x)
            count += hits[y][x] = looksCaptured(line[x]);
        rows[y] = count >= kMinimumRun;
    }
    const auto [top, bottom] = longestRun(rows);
    if (bottom - top + 1 < kMinimumRun)
        return {};
    QList<int> counts(within.width(), 0);
    for (int y = top; y <= bottom; ++y)
        for (int x = 0; x < within.width(); ++x)
            counts[x] += hits[y][x];
    QList<bool> columns(within.width(), false);
    for (int x = 0; x < within.width(); ++x)
        columns[x] = counts[x] >= kMinimumRun;
    const auto [left, right] = longestRun(columns);
    if (right - left + 1 < kMinimumRun)
        return {};
    return QRect(QPoint(within.left() + left, within.top() + top),
                 QPoint(within.left() + right, within.top() + bottom));
}

// The mark editor's active tool button inside `area`: the one square in the editor's accent.
QRect activeToolButton(const QImage &screen, const QRect &area) {
    const QRgb accent = QColor::fromRgbF(0.078f, 0.42f, 0.961f).rgb();
    const auto close = [accent](QRgb pixel) {
        return qAbs(qRed(pixel) - qRed(accent)) <= 2 && qAbs(qGreen(pixel) - qGreen(accent)) <= 2 &&
               qAbs(qBlue(pixel) - qBlue(accent)) <= 2;
    };
    const QRect within = area & screen.rect();
    int left = INT_MAX, top = INT_MAX, right = INT_MIN, bottom = INT_MIN;
    for (int y = within.top(); y <= within.bottom(); ++y) {
        const auto *line = reinterpret_cast<const QRgb *>(screen.constScanLine(y));
        for (int x = within.left(); x <= within.right(); ++x)
            if (close(line[x])) {
                left = std::min(left, x);
                right = std::max(right, x);
                top = std::min(top, y);
                bottom = std::max(bottom, y);
            }
    }
    const QRect found(QPoint(left, top), QPoint(right, bottom));
    // A tool button is 42 points square.
    if (right < left || qAbs(found.width() - 42) > 4 || qAbs(found.height() - 42) > 4)
        return {};
    return found;
}

// A mouse drag from `from` to `to` with a stop half-way, as a hand makes it.
bool drag(QPoint from, QPoint to) {
    const QPoint half = (from + to) / 2;
    return xdotool(u"mousemove %1 %2 mousedown 1 mousemove %3 %4 mousemove %5 %6 mouseup 1"_s.arg(from.x())
                       .arg(from.y())
                       .arg(half.x())
                       .arg(half.y())
                       .arg(to.x())
                       .arg(to.y()));
}

bool click(QPoint at) {
    return xdotool(u"mousemove %1 %2 click 1"_s.arg(at.x()).arg(at.y()));
}

// Opens the n-th menu of the main window's menu bar from the keyboard and picks its item-th item.
bool pickMenuItem(int menu, int item) {
    QStringList keys{u"key alt"_s};
    for (int i = 0; i < menu; ++i)
        keys << u"key Right"_s;
    keys << u"key Down"_s;
    for (int i = 0; i < item; ++i)
        keys << u"key Down"_s;
    keys << u"key Return"_s;
    for (const QString &key : keys) {
        if (!xdotool(key))
            return false;
        QTest::qWait(150);
    }
    return true;
}

} // namespace

class TestEndToEnd : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase() {
        QVERIFY2(QGuiApplication::platformName() == "xcb", "needs an X server with a window manager");
        QVERIFY(m_home.isValid());
        QVERIFY(QDir(m_home.path()).mkpath(u"runtime"_s));
        QFile(m_home.filePath(u"runtime"_s))
            .setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        QVERIFY(m_pattern.showAndSettle());

        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(u"HOME"_s, m_home.path());
        environment.insert(u"XDG_RUNTIME_DIR"_s, m_home.filePath(u"runtime"_s));
        // No keyring for the account here.
        environment.insert(u"VELLUMBOX_TESTING"_s, u"1"_s);
        for (const QString &key : {u"XDG_DATA_HOME"_s, u"XDG_CONFIG_HOME"_s, u"XDG_CACHE_HOME"_s})
            environment.remove(key);
        // The launch benchmark's cue: a byte on this pipe once the main window's first frame is
        // painted. A descriptor far above the ones QProcess uses while starting the program.
        int frame[2];
        QVERIFY(::pipe2(frame, O_CLOEXEC | O_NONBLOCK) == 0);
        constexpr int kFrameDescriptor = 100;
        environment.insert(u"VELLUMBOX_FIRST_FRAME_FD"_s, QString::number(kFrameDescriptor));
        m_app.setProcessEnvironment(environment);
        m_app.setProcessChannelMode(QProcess::ForwardedChannels);
        // A process group of its own: the capture tool it runs ends with it, whatever fails here.
        m_app.setChildProcessModifier([writeEnd = frame[1]] {
            ::setsid();
            ::dup2(writeEnd, kFrameDescriptor); // the copy is inherited
        });
        m_app.start(QStringLiteral(VELLUMBOX), {});
        ::close(frame[1]);
        const auto closeFrame = qScopeGuard([&] { ::close(frame[0]); });
        QVERIFY(m_app.waitForStarted(kPatienceMs));
        QTRY_COMPARE_WITH_TIMEOUT(activeWindowName(), u"Vellumbox"_s, kPatienceMs);
        char byte = 0;
        ssize_t got = -1; // −1 while nothing has come, 0 once the program closed it without a word
        QVERIFY2(QTest::qWaitFor([&] { return (got = ::read(frame[0], &byte, 1)) >= 0; }, kPatienceMs),
                 "no word from vellumbox about its first frame");
        QVERIFY2(got == 1, "vellumbox did not announce its first frame");
        m_library = m_home.filePath(u".local/share/Vellumbox/library.json"_s);
    }

    void cleanupTestCase() {
        if (m_app.state() != QProcess::NotRunning) {
            m_app.terminate();
            if (!m_app.waitForFinished(kPatienceMs)) {
                std::fprintf(stderr, "vellumbox did not end on SIGTERM; killing it and its tool\n");
                ::kill(-pid_t(m_app.processId()), SIGKILL);
                m_app.waitForFinished(kPatienceMs);
            }
        }
    }

    void captureWithTheShortcut() {
        QVERIFY(xdotool(u"key ctrl+shift+space"_s));
        QVERIFY(waitForForeignGrab(m_app));
        QVERIFY(drag(kRegion.topLeft(), kRegion.bottomRight() + QPoint(1, 1)));
        QTRY_COMPARE_WITH_TIMEOUT(snips(readLibrary(m_library)).size(), 1, kPatienceMs);
        const QString file = snips(readLibrary(m_library)).first()[u"imageFile"_s].toString();
        const QImage captured(m_home.filePath(u".local/share/Vellumbox/Images/"_s + file));
        QVERIFY(!captured.isNull());
        // Every position of the pattern has its own colour: the first pixel tells where the
        // capture begins.
        const QRgb first = captured.pixel(0, 0);
        const QPoint origin((qBlue(first) >> 4) << 8 | qRed(first), (qBlue(first) & 15) << 8 | qGreen(first));
        QVERIFY2((origin - kRegion.topLeft()).manhattanLength() <= 2,
                 qPrintable(u"%1,%2"_s.arg(origin.x()).arg(origin.y())));
        QVERIFY(qAbs(captured.width() - kRegion.width()) <= 2 &&
                qAbs(captured.height() - kRegion.height()) <= 2);
        QCOMPARE(captured.convertToFormat(QImage::Format_RGB32),
                 m_pattern.image.copy(QRect(origin, captured.size())));
        m_captured = captured.convertToFormat(QImage::Format_RGB32);
    }

    // Opens the snip from its card, draws an arrow on it and goes back to the library; whatever
    // is drawn adds to m_expectedMarks, which the export and the library file are checked against.
    void editInTheMarkEditor() {
        // The pattern, beyond the window manager's stacking, would cover the windows clicked below.
        m_pattern.hide();
        // After a capture the panel shows; its Ctrl+1 ("Sammlung bearbeiten") brings the main window.
        QTRY_VERIFY_WITH_TIMEOUT(
            xdotool(u"search --onlyvisible --name ^Ausschnitt.aufnehmen$ windowactivate --sync"_s),
            kPatienceMs);
        QVERIFY(xdotool(u"key ctrl+1"_s));
        QTRY_COMPARE_WITH_TIMEOUT(activeWindowName(), u"Vellumbox"_s, kPatienceMs);
        const QRect window = activeWindowGeometry();
        QVERIFY2(window.width() > 600 && window.height() > 400, "the main window's frame");

        // Looking at the screen is slow under the sanitizers: these waits count real time, where
        // QTRY_* counts its polls.
        const auto waitFor = [](auto shown) { return QTest::qWaitFor(shown, kPatienceMs); };
        // The picture once it stays in place: layouts settle, and pictures are scaled late.
        const auto settledPicture = [&](QRect &found, const QRect &before) {
            QRect last;
            return waitFor([&] {
                found = capturedPictureOnScreen(screenImage(), window);
                const bool settled = !found.isEmpty() && found != before && found == last;
                last = found;
                return settled;
            });
        };

        // The card's preview opens the editor; it shows once the thumbnail is drawn.
        QRect preview;
        QVERIFY2(settledPicture(preview, QRect()), "the snip's preview on its card");
        QVERIFY(click(preview.center()));

        // The editor opens with "Auswählen", the first tool, active at the top of its tool column
        // (64 wide; the search allows for the window's frame).
        const QRect toolColumn(window.left(), window.top(), 64 + 16, window.height());
        QRect select;
        QVERIFY2(waitFor([&] { return !(select = activeToolButton(screenImage(), toolColumn)).isEmpty(); }),
                 "the editor's active tool");
        QRect canvas;
        QVERIFY2(settledPicture(canvas, preview), "the picture on the editor's canvas");

        // Below "Auswählen", 7 apart: the hand, a divider in gaps of 7, the shape menu, the arrow.
        const QPoint arrowButton = select.center() + QPoint(0, 3 * (42 + 7) + (7 + 1 + 7) + 7);
        QVERIFY(click(arrowButton));
        QVERIFY2(waitFor([&] { return activeToolButton(screenImage(), toolColumn).contains(arrowButton); }),
                 "the arrow tool active");

        const QPoint from = onScreen(canvas, kArrowFrom), to = onScreen(canvas, kArrowTo);
        QVERIFY(drag(from, to));
        // Drawing ends the tool: "Auswählen" is active again.
        QVERIFY2(waitFor([&] { return activeToolButton(screenImage(), toolColumn) == select; }),
                 "the editor back at selecting");

        // "Zur Sammlung" starts the editor's header, 20 in from the left; the header is 64 high and
        // ends a divider and the tool column's inset of 10 above "Auswählen".
        const QPoint back(select.left() - 10 + 20 + 24, select.top() - 10 - 1 - 64 / 2);
        QVERIFY(click(back));
        // Leaving saves at once and shows the card again, with the arrow in its preview.
        QTRY_VERIFY2_WITH_TIMEOUT(marksOfTheSnip() == QStringList{u"arrow"_s},
                                  "the arrow in the library file", kPatienceMs);
        QRect shown;
        QVERIFY2(settledPicture(shown, canvas), "the card's preview again");
        m_expectedMarks = 1;
    }

    void exportAsPDF() {
        QTRY_COMPARE_WITH_TIMEOUT(activeWindowName(), u"Vellumbox"_s, kPatienceMs);
        const QString pdf = m_home.filePath(u"Sammlung.pdf"_s);
        QVERIFY(pickMenuItem(1, 8)); // "Ablage", "Als PDF exportieren …"
        QTRY_VERIFY_WITH_TIMEOUT(activeWindowName() != u"Vellumbox"_s, kPatienceMs); // the file dialog
        QTest::qWait(300);
        QVERIFY(xdotool(u"key ctrl+a"_s));
        QVERIFY(xdotool(u"type --delay 5 "_s + pdf));
        QVERIFY(xdotool(u"key Return"_s));
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(pdf).size() > 0, kPatienceMs);
        QProcess images;
        QTRY_VERIFY_WITH_TIMEOUT(
            [&] {
                images.start(u"pdfimages"_s, {u"-list"_s, pdf});
                images.waitForFinished(kPatienceMs);
                return images.exitCode() == 0;
            }(),
            kPatienceMs);
        const QStringList rows =
            QString::fromUtf8(images.readAllStandardOutput()).split(u'\n', Qt::SkipEmptyParts);
        QVERIFY2(rows.size() == 3, qPrintable(rows.join(u'\n'))); // two header lines and the one image
        const QStringList columns = rows.last().simplified().split(u' ');
        QCOMPARE(columns.at(3).toInt(), m_captured.width());
        QCOMPARE(columns.at(4).toInt(), m_captured.height());

        // The picture in the PDF is the capture with the arrow drawn in: changed along the arrow,
        // untouched far from it.
        const QString prefix = m_home.filePath(u"extracted"_s);
        QProcess extract;
        extract.start(u"pdfimages"_s, {u"-png"_s, pdf, prefix});
        QVERIFY(extract.waitForFinished(kPatienceMs) && extract.exitCode() == 0);
        const QImage exported = QImage(prefix + u"-000.png"_s).convertToFormat(QImage::Format_RGB32);
        QCOMPARE(exported.size(), m_captured.size());
        const auto inImage = [&](QPointF fraction) {
            return QPoint(int(fraction.x() * m_captured.width()), int(fraction.y() * m_captured.height()));
        };
        if (m_expectedMarks > 0) {
            const QRect alongTheArrow =
                QRect(inImage((kArrowFrom + kArrowTo) / 2), QSize(1, 1)).adjusted(-4, -4, 4, 4);
            QVERIFY2(exported.copy(alongTheArrow) != m_captured.copy(alongTheArrow), "the arrow in the PDF");
        }
        for (const QRectF far : {QRectF(0.8, 0, 0.2, 0.2), QRectF(0, 0.85, 0.12, 0.15)}) {
            const QRect area(inImage(far.topLeft()), inImage(far.bottomRight()) - QPoint(1, 1));
            QVERIFY2(exported.copy(area) == m_captured.copy(area), "the capture far from the arrow");
        }
    }

    void quitThroughTheMenu() {
        QTRY_COMPARE_WITH_TIMEOUT(activeWindowName(), u"Vellumbox"_s, kPatienceMs);
        QVERIFY(pickMenuItem(0, 1)); // "Vellumbox", "Vellumbox beenden"
        QTRY_COMPARE_WITH_TIMEOUT(m_app.state(), QProcess::NotRunning, kPatienceMs);
        QCOMPARE(m_app.exitStatus(), QProcess::NormalExit);
        QCOMPARE(m_app.exitCode(), 0);
        const QJsonObject library = readLibrary(m_library);
        const QJsonArray all = snips(library);
        QCOMPARE(all.size(), 1);
        QCOMPARE(all.first()[u"marks"_s].toArray().size(), m_expectedMarks);
        QVERIFY(library[u"session"_s][u"isPaused"_s].toBool());
    }

private:
    // The arrow's ends as fractions of the picture.
    static constexpr QPointF kArrowFrom{0.25, 0.3};
    static constexpr QPointF kArrowTo{0.6, 0.7};

    static QPoint onScreen(const QRect &picture, QPointF fraction) {
        return picture.topLeft() +
               QPoint(int(fraction.x() * picture.width()), int(fraction.y() * picture.height()));
    }

    // The kinds of the first snip's marks, as the library file holds them.
    QStringList marksOfTheSnip() const {
        QStringList kinds;
        const QJsonArray all = snips(readLibrary(m_library));
        if (!all.isEmpty())
            for (const QJsonValue &mark : all.first()[u"marks"_s].toArray())
                kinds << mark[u"kind"_s].toString();
        return kinds;
    }

    QTemporaryDir m_home;
    PatternWindow m_pattern;
    QProcess m_app;
    QString m_library;
    QImage m_captured;
    int m_expectedMarks = 0;
};

QTEST_MAIN(TestEndToEnd)
#include "tst_endtoend.moc"
