#include "platform/TextRecognizer.h"

#include "model/AppFailure.h"

#include <QPainter>

#include <tesseract/baseapi.h>
#include <tesseract/ocrclass.h>
#include <tesseract/resultiterator.h>

#include <dlfcn.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

// Pictures up to this longer side are read at twice their size: screen text of 11 to 13 pixels is
// below the glyph size the language models were trained on, and doubling cuts its error rate
// several-fold. Larger pictures are already slow enough.
constexpr int kUpscaleLimit = 2560;

[[noreturn]] void fail(const char16_t *sentence) {
    throw AppFailure(QString::fromUtf16(sentence));
}

// Tesseract's OpenMP regions ask for several threads each, and OMP_THREAD_LIMIT is read when the
// runtime is loaded, long before main(). The allowed nesting depth, however, is a setting of the
// calling thread: at zero every parallel region started from this thread runs on it alone. Looked
// up at run time so that a build without OpenMP needs nothing.
void keepOpenMPOnThisThread() {
    using SetMaxActiveLevels = void (*)(int);
    static const auto setMaxActiveLevels =
        reinterpret_cast<SetMaxActiveLevels>(dlsym(RTLD_DEFAULT, "omp_set_max_active_levels"));
    if (setMaxActiveLevels)
        setMaxActiveLevels(0);
}

bool askCancelled(void *context, int) {
    const auto *cancelled = static_cast<const TextRecognizer::Cancelled *>(context);
    return *cancelled && (*cancelled)();
}

struct Prepared {
    QImage grey;
    double scale = 1;
};

// Most pixels darker than mid-grey: a dark theme, whose light text reads as well as dark text on
// light once inverted. Left as it is, the recogniser reads every line twice, the second time
// inverted.
bool mostlyDark(const QImage &grey) {
    qint64 dark = 0;
    for (int y = 0; y < grey.height(); ++y) {
        const uchar *line = grey.constScanLine(y);
        for (int x = 0; x < grey.width(); ++x)
            dark += line[x] < 128;
    }
    return dark * 2 > qint64(grey.width()) * grey.height();
}

Prepared prepare(const QImage &image) {
    QImage opaque;
    if (image.hasAlphaChannel()) {
        opaque = QImage(image.size(), QImage::Format_RGB32);
        if (opaque.isNull())
            fail(u"Das Bild konnte nicht für die Texterkennung vorbereitet werden.");
        opaque.fill(Qt::white);
        QPainter painter(&opaque);
        painter.drawImage(0, 0, image);
    } else {
        opaque = image;
    }
    Prepared prepared;
    if (std::max(image.width(), image.height()) <= kUpscaleLimit) {
        prepared.scale = 2;
        opaque = opaque.convertToFormat(QImage::Format_RGB32)
                     .scaled(image.size() * 2, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    }
    prepared.grey = opaque.convertToFormat(QImage::Format_Grayscale8);
    if (prepared.grey.isNull())
        fail(u"Das Bild konnte nicht für die Texterkennung vorbereitet werden.");
    if (mostlyDark(prepared.grey))
        prepared.grey.invertPixels();
    return prepared;
}

QString takeText(char *utf8) {
    QString text = QString::fromUtf8(utf8);
    delete[] utf8;
    return text;
}

class TesseractRecognizer final : public TextRecognizer {
public:
    TesseractRecognizer() {
        keepOpenMPOnThisThread();
        if (m_api.Init(nullptr, "deu+eng", tesseract::OEM_LSTM_ONLY) != 0)
            fail(u"Die Sprachdaten für Deutsch und Englisch sind nicht installiert.");
        // Init succeeds with whatever part of the list it found.
        std::vector<std::string> loaded;
        m_api.GetLoadedLanguagesAsVector(&loaded);
        const bool german = std::find(loaded.begin(), loaded.end(), "deu") != loaded.end();
        const bool english = std::find(loaded.begin(), loaded.end(), "eng") != loaded.end();
        if (!german && !english)
            fail(u"Die Sprachdaten für Deutsch und Englisch sind nicht installiert.");
        if (!german)
            fail(u"Die Sprachdaten für Deutsch sind nicht installiert.");
        if (!english)
            fail(u"Die Sprachdaten für Englisch sind nicht installiert.");
        m_api.SetPageSegMode(tesseract::PSM_AUTO);
        // Its progress notes would only clutter the application's output.
        m_api.SetVariable("debug_file", "/dev/null");
    }

    QList<Line> recognize(const QImage &image, const Cancelled &cancelled) override {
        keepOpenMPOnThisThread();
        if (image.isNull())
            fail(u"Das Bild konnte nicht für die Texterkennung vorbereitet werden.");
        const Prepared prepared = prepare(image);
        if (cancelled && cancelled())
            return {};
        m_api.SetImage(prepared.grey.constBits(), prepared.grey.width(), prepared.grey.height(), 1,
                       int(prepared.grey.bytesPerLine()));
        tesseract::ETEXT_DESC monitor;
        monitor.cancel = &askCancelled;
        monitor.cancel_this = const_cast<Cancelled *>(&cancelled);
        const int status = m_api.Recognize(&monitor);
        if (cancelled && cancelled()) {
            m_api.Clear();
            return {};
        }
        if (status != 0) {
            m_api.Clear();
            fail(u"Der Text im Bild konnte nicht gelesen werden.");
        }
        QList<Line> lines = collect(prepared.scale);
        // The page and its copy of the picture are not needed until the next pass.
        m_api.Clear();
        return lines;
    }

private:
    QList<Line> collect(double scale) {
        QList<Line> lines;
        std::unique_ptr<tesseract::ResultIterator> it(m_api.GetIterator());
        if (!it)
            return lines;
        const auto box = [&](tesseract::PageIteratorLevel level) {
            int left = 0, top = 0, right = 0, bottom = 0;
            it->BoundingBox(level, &left, &top, &right, &bottom);
            return QRectF(left / scale, top / scale, (right - left) / scale, (bottom - top) / scale);
        };
        do {
            if (it->Empty(tesseract::RIL_TEXTLINE))
                continue;
            Line line{box(tesseract::RIL_TEXTLINE), {}};
            do {
                if (!it->Empty(tesseract::RIL_WORD))
                    line.words.append(
                        Word{takeText(it->GetUTF8Text(tesseract::RIL_WORD)), box(tesseract::RIL_WORD)});
                if (it->IsAtFinalElement(tesseract::RIL_TEXTLINE, tesseract::RIL_WORD))
                    break;
            } while (it->Next(tesseract::RIL_WORD));
            lines.append(std::move(line));
        } while (it->Next(tesseract::RIL_TEXTLINE));
        return lines;
    }

    tesseract::TessBaseAPI m_api;
};

} // namespace

std::unique_ptr<TextRecognizer> TextRecognizer::createTesseract() {
    return std::make_unique<TesseractRecognizer>();
}
