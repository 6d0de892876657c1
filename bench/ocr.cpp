// Text recognition on screenshot-like pictures against the tesseract command line on the same
// pictures: character error rate and time per picture, per set. Arguments: runs per picture
// (3). OCR_BENCH_SHOW=1 prints both texts of every picture to stderr.
#include "BenchSupport.h"

#include "annotation/TextRecognition.h"
#include "imaging/PngEncoder.h"
#include "platform/TextRecognizer.h"

#include <QFontMetrics>
#include <QGuiApplication>
#include <QProcess>
#include <QTemporaryDir>

#include <atomic>
#include <thread>

namespace {

struct Style {
    const char *name;
    QColor background;
    QColor text;
};

// The texts keep to characters the installed language data can name: it has no "…" or "×" and
// always reads them as "..." and "x", on our side and on the command line's alike.
struct Sample {
    QImage image;
    QString reference; // the drawn text in reading order
};

const QStringList germanLines{
    QStringLiteral("Einstellungen"),
    QStringLiteral("Beim Start das letzte Fenster wieder öffnen"),
    QStringLiteral("Bildschirmfotos werden im Ordner Bilder gespeichert."),
    QStringLiteral("Größe: 1920 x 1080 Pixel, 24 Bit Farbtiefe"),
    QStringLiteral("Zuletzt geändert am 14.03.2024 um 09:41 Uhr"),
    QStringLiteral("Änderungen übernehmen oder verwerfen?"),
    QStringLiteral("Datei exportieren (PDF, Word) ..."),
    QStringLiteral("Straße und Hausnummer: Hauptstraße 12b"),
    QStringLiteral("Benachrichtigungen für neue Nachrichten anzeigen"),
    QStringLiteral("Tastenkürzel: Strg+Umschalt+Leertaste"),
    QStringLiteral("Speicherplatz: 3,2 GB von 128 GB belegt"),
    QStringLiteral("Sammlung „Rechnungen März“ löschen?"),
    QStringLiteral("Neue Sammlung anlegen"),
    QStringLiteral("Ausschnitt in die Zwischenablage kopieren"),
    QStringLiteral("Export abgeschlossen: 14 Seiten, 2 Bilder übersprungen"),
    QStringLiteral("Die Datei konnte nicht gespeichert werden."),
    QStringLiteral("Automatisch speichern alle 5 Minuten"),
    QStringLiteral("Papierkorb leeren (7 Elemente)"),
    QStringLiteral("Angemeldet als julia.weber@beispiel.de"),
    QStringLiteral("Sicherung in der Cloud: zuletzt heute, 08:15"),
};

const QStringList englishLines{
    QStringLiteral("Preferences"),
    QStringLiteral("Open the last window again at startup"),
    QStringLiteral("Screenshots are saved to the Pictures folder."),
    QStringLiteral("Size: 1920 x 1080 pixels, 24-bit colour depth"),
    QStringLiteral("Last modified on 03/14/2024 at 9:41 AM"),
    QStringLiteral("Apply your changes or discard them?"),
    QStringLiteral("Export file (PDF, Word) ..."),
    QStringLiteral("Email: support@example.com, reply within 2 days"),
    QStringLiteral("Show notifications for new messages"),
    QStringLiteral("Keyboard shortcut: Ctrl+Shift+Space"),
    QStringLiteral("Storage: 3.2 GB of 128 GB used"),
    QStringLiteral("Delete the collection \"Invoices March\"?"),
    QStringLiteral("Create a new collection"),
    QStringLiteral("Copy the capture to the clipboard"),
    QStringLiteral("Export finished: 14 pages, 2 images skipped"),
    QStringLiteral("The file could not be saved."),
    QStringLiteral("Save automatically every 5 minutes"),
    QStringLiteral("Empty the trash (7 items)"),
    QStringLiteral("Signed in as julia.weber@example.org"),
    QStringLiteral("Cloud backup: last run today, 8:15 AM"),
};

QFont uiFont(const QString &family, int pixels, QFont::Weight weight = QFont::Normal) {
    QFont font(family);
    font.setPixelSize(pixels);
    font.setWeight(weight);
    font.setHintingPreference(QFont::PreferFullHinting);
    return font;
}

// A settings-like window: title bar, a heading and rows of text on panels with separators.
Sample uiPanel(const QStringList &lines, const QString &family, int pixels, const Style &style) {
    const int rowHeight = pixels * 2 + 6;
    QImage image(pixels * 46, 60 + rowHeight * int(lines.size()) + 30, QImage::Format_RGB32);
    image.fill(style.background);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);
    const QColor chrome =
        style.background.lightness() > 128 ? style.background.darker(106) : style.background.lighter(130);
    p.fillRect(0, 0, image.width(), 34, chrome);
    for (int i = 0; i < 3; ++i) {
        p.setBrush(QColor::fromHsv(i * 40, 180, 230));
        p.setPen(Qt::NoPen);
        p.drawEllipse(QPointF(18 + i * 20, 17), 6, 6);
    }
    int y = 60;
    for (int i = 0; i < lines.size(); ++i) {
        const bool heading = i == 0;
        p.setFont(uiFont(family, heading ? pixels + 4 : pixels, heading ? QFont::DemiBold : QFont::Normal));
        p.setPen(style.text);
        p.drawText(QPoint(28, y + pixels), lines[i]);
        p.setPen(QPen(chrome, 1));
        p.drawLine(24, y + rowHeight - 4, image.width() - 24, y + rowHeight - 4);
        y += rowHeight;
    }
    return {image, lines.join(QLatin1Char('\n'))};
}

// Running text cut into lines of one column's width.
QStringList wrap(const QString &text, const QFontMetrics &metrics, int width) {
    QStringList lines;
    QString current;
    for (const QString &word : text.split(QLatin1Char(' '))) {
        const QString candidate = current.isEmpty() ? word : current + QLatin1Char(' ') + word;
        if (metrics.horizontalAdvance(candidate) > width && !current.isEmpty()) {
            lines.append(current);
            current = word;
        } else {
            current = candidate;
        }
    }
    if (!current.isEmpty())
        lines.append(current);
    return lines;
}

// A 1920 × 1080 page of three columns of running text, German and English, read column by column.
Sample densePage(const Style &style) {
    const QString german = QStringLiteral("Die Sammlung enthält alle Ausschnitte eines Arbeitstages. Jeder "
                                          "Ausschnitt kann markiert, beschriftet "
                                          "und exportiert werden. Schwärzungen werden vor dem Export in das "
                                          "Bild gebrannt, damit verdeckter Text "
                                          "nicht wiederhergestellt werden kann. Die Texterkennung läuft "
                                          "vollständig auf diesem Gerät; kein Bild "
                                          "verlässt den Rechner. Gefundene Zeilen lassen sich durchsuchen, "
                                          "kopieren und als Markierung anlegen. ");
    const QString english = QStringLiteral(
        "Every capture is stored next to its notes and marks. Redactions are burnt into the picture before "
        "it "
        "is exported, so hidden text cannot be recovered from the file. Text recognition runs entirely on "
        "this "
        "device and never sends a picture anywhere. Recognised lines can be searched, copied and turned into "
        "highlights with a single drag of the text marker. ");
    QImage image(1920, 1080, QImage::Format_RGB32);
    image.fill(style.background);
    QPainter p(&image);
    p.setRenderHint(QPainter::TextAntialiasing);
    const QFont font = uiFont(QStringLiteral("Inter"), 13);
    const QFontMetrics metrics(font);
    p.setFont(font);
    p.setPen(style.text);
    QStringList reference;
    const int columnWidth = 560;
    const int lineHeight = 19;
    for (int column = 0; column < 3; ++column) {
        QString text;
        for (int i = 0; i < 4; ++i)
            text += (column + i) % 2 ? english : german;
        int y = 60;
        for (const QString &line : wrap(text.trimmed(), metrics, columnWidth)) {
            if (y > 1080 - 40)
                break;
            p.drawText(QPoint(60 + column * (columnWidth + 60), y), line);
            reference.append(line);
            y += lineHeight;
        }
    }
    return {image, reference.join(QLatin1Char('\n'))};
}

QString normalised(const QString &text) {
    return text.simplified();
}

int levenshtein(const QString &a, const QString &b) {
    std::vector<int> previous(b.size() + 1), current(b.size() + 1);
    for (qsizetype j = 0; j <= b.size(); ++j)
        previous[j] = int(j);
    for (qsizetype i = 1; i <= a.size(); ++i) {
        current[0] = int(i);
        for (qsizetype j = 1; j <= b.size(); ++j)
            current[j] = std::min(
                {previous[j] + 1, current[j - 1] + 1, previous[j - 1] + (a[i - 1] == b[j - 1] ? 0 : 1)});
        std::swap(previous, current);
    }
    return previous[b.size()];
}

struct Tally {
    qint64 errors = 0;
    qint64 length = 0;
    void add(const QString &found, const QString &reference) {
        errors += levenshtein(normalised(found), normalised(reference));
        length += normalised(reference).size();
    }
    double percent() const { return length ? 100.0 * errors / length : 0; }
};

QString joined(const RecognizedTextLines &lines) {
    QStringList texts;
    for (const RecognizedTextLine &line : lines)
        texts.append(line.text);
    return texts.join(QLatin1Char('\n'));
}

// The command line's text and wall time, or a null string when it failed.
QString runCli(const QString &path, double *ms) {
    QElapsedTimer timer;
    timer.start();
    QProcess process;
    process.start(QStringLiteral("tesseract"),
                  {path, QStringLiteral("stdout"), QStringLiteral("-l"), QStringLiteral("deu+eng"),
                   QStringLiteral("--psm"), QStringLiteral("3")});
    if (!finishBounded(process) || process.exitCode() != 0)
        return QString();
    *ms = timer.nsecsElapsed() / 1e6;
    return QString::fromUtf8(process.readAllStandardOutput());
}

// How long a pass takes to return once cancelled, at a few points of its run.
double worstCancelLatency(TextRecognizer &recognizer, const QByteArray &png, double passMs) {
    double worst = 0;
    for (double fraction : {0.05, 0.2, 0.4, 0.6, 0.8}) {
        std::atomic<bool> stop{false};
        QElapsedTimer sinceStop;
        std::thread worker(
            [&] { TextRecognition::recognize(recognizer, png, {}, [&] { return stop.load(); }); });
        std::this_thread::sleep_for(std::chrono::milliseconds(qint64(passMs * fraction)));
        sinceStop.start();
        stop = true;
        worker.join();
        worst = std::max(worst, sinceStop.nsecsElapsed() / 1e6);
    }
    return worst;
}

} // namespace

int main(int argc, char **argv) {
    QGuiApplication app(argc, argv);
    const int runs = argc > 1 ? std::max(1, atoi(argv[1])) : 3;
    const std::vector<Style> styles{
        {"light", QColor(255, 255, 255), QColor(29, 29, 31)},
        {"dark", QColor(30, 30, 32), QColor(229, 229, 234)},
        {"grey", QColor(250, 250, 252), QColor(138, 138, 142)},
    };
    struct Set {
        QString name;
        std::vector<Sample> samples;
    };
    std::vector<Set> sets;
    for (const Style &style : styles) {
        for (int pixels : {11, 13, 16}) {
            sets.push_back({QStringLiteral("%1_%2").arg(QLatin1String(style.name)).arg(pixels),
                            {uiPanel(germanLines, QStringLiteral("Inter"), pixels, style),
                             uiPanel(englishLines, QStringLiteral("DejaVu Sans"), pixels, style)}});
        }
    }
    sets.push_back({QStringLiteral("dense"), {densePage(styles[0])}});

    QTemporaryDir dir;
    std::unique_ptr<TextRecognizer> recognizer = TextRecognizer::createTesseract();
    double worstCer = 0;
    double worstCerRatio = 0;
    double worstTimeRatio = 0;
    for (const Set &set : sets) {
        Tally ours;
        Tally cli;
        std::vector<double> ourTimes;
        std::vector<double> cliTimes;
        for (std::size_t i = 0; i < set.samples.size(); ++i) {
            const Sample &sample = set.samples[i];
            const QByteArray png = Imaging::encodePng(sample.image, Imaging::PngEffort::Fast);
            const QString path = dir.filePath(QStringLiteral("%1_%2.png").arg(set.name).arg(i));
            sample.image.save(path, "PNG");
            QString found;
            for (int run = 0; run < runs; ++run) {
                QElapsedTimer timer;
                timer.start();
                found = joined(TextRecognition::recognize(*recognizer, png, {}));
                ourTimes.push_back(timer.nsecsElapsed() / 1e6);
            }
            ours.add(found, sample.reference);
            QString cliText;
            for (int run = 0; run < runs; ++run) {
                double ms = 0;
                cliText = runCli(path, &ms);
                if (cliText.isNull()) {
                    std::fprintf(stderr, "tesseract failed on %s\n", qPrintable(path));
                    return 1;
                }
                cliTimes.push_back(ms);
            }
            cli.add(cliText, sample.reference);
            if (qEnvironmentVariableIsSet("OCR_BENCH_SHOW"))
                std::fprintf(stderr, "== %s %zu\n%s\n-- cli\n%s\n", qPrintable(set.name), i,
                             qPrintable(found), qPrintable(cliText));
        }
        const QByteArray key = set.name.toUtf8();
        const double ourMs = median(ourTimes);
        const double cliMs = median(cliTimes);
        std::printf("%s_cer_percent: %.2f\n", key.constData(), ours.percent());
        std::printf("%s_ms_median: %.0f\n", key.constData(), ourMs);
        std::printf("%s_tesseract_cli_cer_percent: %.2f\n", key.constData(), cli.percent());
        std::printf("%s_tesseract_cli_ms: %.0f\n", key.constData(), cliMs);
        worstCer = std::max(worstCer, ours.percent());
        if (cli.percent() > 0)
            worstCerRatio = std::max(worstCerRatio, ours.percent() / cli.percent());
        worstTimeRatio = std::max(worstTimeRatio, ourMs / cliMs);
        std::fflush(stdout);
    }
    std::printf("cer_percent_max: %.2f\n", worstCer);
    std::printf("cer_ratio_to_cli_max: %.2f\n", worstCerRatio);
    std::printf("time_ratio_to_cli_max: %.2f\n", worstTimeRatio);

    const QByteArray dense = Imaging::encodePng(sets.back().samples.front().image, Imaging::PngEffort::Fast);
    QElapsedTimer timer;
    timer.start();
    TextRecognition::recognize(*recognizer, dense, {});
    std::printf("dense_cancel_ms_max: %.0f\n",
                worstCancelLatency(*recognizer, dense, timer.nsecsElapsed() / 1e6));
    return 0;
}
