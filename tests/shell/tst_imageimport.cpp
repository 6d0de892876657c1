#include "shell/ImageImport.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QImageWriter>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>

#include <libheif/heif.h>

#include <sys/stat.h>

using ImageImport::Image;
using ImageImport::Review;

// x265, which encodes the HEIC samples, keeps one allocation for the life of the process.
extern "C" const char *__lsan_default_suppressions() {
    return "leak:libx265\n";
}

namespace {

const QString kTooLarge = QStringLiteral(
    "Bilder dürfen beim Import höchstens 200 MB groß sein. Bitte verkleinere die Datei zuerst.");
const QString kFileUnreadable = QStringLiteral("Die Bilddatei konnte nicht gelesen werden.");
const QString kUnknownFormat = QStringLiteral("Das Bildformat konnte nicht gelesen werden.");
const QString kNoResolution = QStringLiteral("Das Bild enthält keine gültige Auflösung.");
const QString kNotProcessed = QStringLiteral("Das Bild konnte nicht verarbeitet werden.");
const QString kNoCloudCopy =
    QStringLiteral("Für dieses Bild konnte keine passende Cloud-Kopie erstellt werden.");
const QString kCloudRefused = QStringLiteral(
    "Dieses Bild überschreitet die Cloud-Grenze von 25 MB bzw. die unterstützte Auflösung oder ist ungültig. "
    "Importiere eine verkleinerte Kopie oder wähle im Bild-Kontextmenü „Nur lokal speichern“.");

QImage noise(int width, int height) {
    QImage image(width, height, QImage::Format_RGB32);
    auto *random = QRandomGenerator::global();
    for (int y = 0; y < height; ++y) {
        auto *line = reinterpret_cast<quint32 *>(image.scanLine(y));
        for (int x = 0; x < width; ++x)
            line[x] = 0xff000000u | (random->generate() & 0xffffffu);
    }
    return image;
}

QImage gradient(int width, int height) {
    QImage image(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            image.setPixel(x, y, qRgb(x * 255 / width, y * 255 / height, 128));
    return image;
}

// The smallest GIF: one white pixel. Qt reads GIF but cannot write it.
const QByteArray
    kGif("GIF89a\x01\0\x01\0\x80\0\0\xff\xff\xff\0\0\0!\xf9\x04\x01\0\0\0\0,\0\0\0\0\x01\0\x01\0\0\x02\x02"
         "D\x01\0;",
         43);

QByteArray encoded(const QImage &image, const char *format) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, format);
    if (!writer.write(image))
        qFatal("cannot encode %s", format);
    return bytes;
}

quint32 crc32Of(const QByteArray &bytes) {
    quint32 crc = 0xffffffffu;
    for (const char c : bytes) {
        crc ^= quint8(c);
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc >> 1) ^ (0xedb88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

QByteArray pngChunk(const char *type, const QByteArray &data) {
    QByteArray chunk(4, '\0');
    qToBigEndian(quint32(data.size()), chunk.data());
    const QByteArray body = QByteArray(type, 4) + data;
    QByteArray crc(4, '\0');
    qToBigEndian(crc32Of(body), crc.data());
    return chunk + body + crc;
}

// A PNG whose header claims the given size, followed by a few compressed rows of black and no end.
QByteArray pngClaiming(quint32 width, quint32 height) {
    QByteArray header(13, '\0');
    qToBigEndian(width, header.data());
    qToBigEndian(height, header.data() + 4);
    header[8] = 8; // bit depth
    header[9] = 2; // RGB
    const QByteArray rows(qsizetype(std::min<quint32>(width, 4096)) * 3 + 1, '\0');
    const QByteArray compressed = qCompress(rows + rows + rows).mid(4); // zlib stream without Qt's length
    return QByteArray("\x89PNG\r\n\x1a\n", 8) + pngChunk("IHDR", header) + pngChunk("IDAT", compressed);
}

// A JPEG with an Exif orientation tag; 6 turns the stored image a quarter clockwise.
QByteArray jpegWithOrientation(const QImage &image, quint16 orientation) {
    const QByteArray plain = encoded(image, "jpeg");
    QByteArray tiff("MM\0*\0\0\0\x08", 8);
    QByteArray entry(2 + 12 + 4, '\0');
    qToBigEndian(quint16(1), entry.data());          // one entry
    qToBigEndian(quint16(0x0112), entry.data() + 2); // Orientation
    qToBigEndian(quint16(3), entry.data() + 4);      // SHORT
    qToBigEndian(quint32(1), entry.data() + 6);      // count
    qToBigEndian(orientation, entry.data() + 10);    // value, left-justified
    const QByteArray payload = QByteArray("Exif\0\0", 6) + tiff + entry;
    QByteArray segment("\xff\xe1", 2);
    QByteArray length(2, '\0');
    qToBigEndian(quint16(payload.size() + 2), length.data());
    return plain.left(2) + segment + length + payload + plain.mid(2);
}

QByteArray tiffTurned(const QImage &image) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "tiff");
    writer.setTransformation(QImageIOHandler::TransformationRotate90);
    if (!writer.write(image))
        qFatal("cannot encode tiff");
    return bytes;
}

heif_error appendTo(heif_context *, const void *data, size_t size, void *target) {
    static_cast<QByteArray *>(target)->append(static_cast<const char *>(data), qsizetype(size));
    return heif_error{heif_error_Ok, heif_suberror_Unspecified, "ok"};
}

// An HEVC-coded HEIC; empty when this libheif has no HEVC encoder.
QByteArray heic(int width, int height) {
    if (!heif_have_encoder_for_format(heif_compression_HEVC))
        return {};
    heif_context *context = heif_context_alloc();
    heif_encoder *encoder = nullptr;
    heif_image *image = nullptr;
    QByteArray bytes;
    if (heif_context_get_encoder_for_format(context, heif_compression_HEVC, &encoder).code == heif_error_Ok &&
        heif_image_create(width, height, heif_colorspace_RGB, heif_chroma_interleaved_RGB, &image).code ==
            heif_error_Ok &&
        heif_image_add_plane(image, heif_channel_interleaved, width, height, 8).code == heif_error_Ok) {
        int stride = 0;
        uint8_t *plane = heif_image_get_plane(image, heif_channel_interleaved, &stride);
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width * 3; ++x)
                plane[y * stride + x] = uint8_t(x + y);
        heif_encoder_set_lossy_quality(encoder, 50);
        heif_writer writer{1, &appendTo};
        if (heif_context_encode_image(context, image, encoder, nullptr, nullptr).code == heif_error_Ok)
            heif_context_write(context, &writer, &bytes);
    }
    if (image)
        heif_image_release(image);
    if (encoder)
        heif_encoder_release(encoder);
    heif_context_free(context);
    return bytes;
}

QString failureOf(const std::function<void()> &action) {
    try {
        action();
    } catch (const AppFailure &failure) {
        return failure.errorDescription();
    }
    return {};
}

qint64 statusKilobytes(const char *key) {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith(key))
            return line.mid(qsizetype(strlen(key))).trimmed().split(' ').value(0).toLongLong();
    return -1;
}

bool writeFile(const QString &path, const QByteArray &bytes, qint64 paddedSize = -1) {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
        return false;
    return paddedSize < 0 || file.resize(paddedSize); // a sparse tail costs no disk
}

} // namespace

class TestImageImport : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void hugeHeaderAllocatesLittle();
    void supportedDimensions_data();
    void supportedDimensions();
    void sourceSize_data();
    void sourceSize();
    void filePaths_data();
    void filePaths();
    void refusedFormats_data();
    void refusedFormats();
    void reviewed_data();
    void reviewed();
    void heicRoundTrip();
    void cloudLimitBoundary_data();
    void cloudLimitBoundary();
    void reductionEdges_data();
    void reductionEdges();
    void reducedCopy();
    void cancellation();
    void validateCloudPNG_data();
    void validateCloudPNG();
    void byteCountText_data();
    void byteCountText();
    void description();

private:
    QTemporaryDir m_dir;
};

// First, while the process's peak is still its present size: a decode at the claimed size would
// need 12 GB.
void TestImageImport::hugeHeaderAllocatesLittle() {
    const qint64 before = statusKilobytes("VmSize:");
    const QString failure = failureOf([] { ImageImport::review(pngClaiming(65535, 65535), 25'000'000); });
    const qint64 peak = statusKilobytes("VmPeak:");
    QVERIFY(before > 0 && peak > 0);
    QCOMPARE(failure, kNotProcessed);
    QVERIFY2(peak - before < 2'000'000, qPrintable(QString::number(peak - before) + QStringLiteral(" kB")));
}

void TestImageImport::supportedDimensions_data() {
    QTest::addColumn<qint64>("width");
    QTest::addColumn<qint64>("height");
    QTest::addColumn<bool>("supported");
    QTest::newRow("20000 x 5000, exactly 100 MP") << qint64(20000) << qint64(5000) << true;
    QTest::newRow("5000 x 20000") << qint64(5000) << qint64(20000) << true;
    QTest::newRow("20000 x 5001") << qint64(20000) << qint64(5001) << false;
    QTest::newRow("20001 x 1") << qint64(20001) << qint64(1) << false;
    QTest::newRow("1 x 20001") << qint64(1) << qint64(20001) << false;
    QTest::newRow("10000 x 10000") << qint64(10000) << qint64(10000) << true;
    QTest::newRow("10000 x 10001") << qint64(10000) << qint64(10001) << false;
    QTest::newRow("1 x 1") << qint64(1) << qint64(1) << true;
    QTest::newRow("0 x 10") << qint64(0) << qint64(10) << false;
    QTest::newRow("10 x -1") << qint64(10) << qint64(-1) << false;
    QTest::newRow("product beyond 64 bits") << qint64(1) << std::numeric_limits<qint64>::max() << false;
}

void TestImageImport::supportedDimensions() {
    QFETCH(qint64, width);
    QFETCH(qint64, height);
    QFETCH(bool, supported);
    QCOMPARE(ImageImport::supportedDimensions(width, height), supported);
}

void TestImageImport::sourceSize_data() {
    QTest::addColumn<qint64>("bytes");
    QTest::addColumn<bool>("accepted");
    QTest::newRow("empty") << qint64(0) << false;
    QTest::newRow("negative") << qint64(-1) << false;
    QTest::newRow("one byte") << qint64(1) << true;
    QTest::newRow("exactly 200,000,000") << qint64(200'000'000) << true;
    QTest::newRow("200,000,001") << qint64(200'000'001) << false;
}

void TestImageImport::sourceSize() {
    QFETCH(qint64, bytes);
    QFETCH(bool, accepted);
    QCOMPARE(failureOf([&] { ImageImport::validateSourceSize(bytes); }), accepted ? QString() : kTooLarge);
}

void TestImageImport::filePaths_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<qint64>("paddedSize");
    QTest::addColumn<QString>("expected");
    QTest::newRow("folder") << QStringLiteral("folder") << QByteArray() << qint64(-1) << kFileUnreadable;
    QTest::newRow("missing") << QStringLiteral("missing") << QByteArray() << qint64(-1) << kFileUnreadable;
    QTest::newRow("pipe") << QStringLiteral("pipe") << QByteArray() << qint64(-1) << kFileUnreadable;
    QTest::newRow("0 bytes") << QStringLiteral("empty.png") << QByteArray() << qint64(0) << kTooLarge;
    // The size check passes, so the zeros reach the format check.
    QTest::newRow("exactly 200,000,000 bytes")
        << QStringLiteral("max.png") << QByteArray() << qint64(200'000'000) << kUnknownFormat;
    QTest::newRow("200,000,001 bytes")
        << QStringLiteral("over.png") << encoded(gradient(4, 4), "png") << qint64(200'000'001) << kTooLarge;
    QTest::newRow("GIF named .png") << QStringLiteral("gif.png") << kGif << qint64(-1) << kUnknownFormat;
    QTest::newRow("PNG named .txt") << QStringLiteral("png.txt") << encoded(gradient(4, 4), "png")
                                    << qint64(-1) << QString();
    if (const QByteArray photo = heic(64, 32); !photo.isEmpty())
        QTest::newRow("HEIC named .jpg") << QStringLiteral("heic.jpg") << photo << qint64(-1) << QString();
}

void TestImageImport::filePaths() {
    QFETCH(QString, name);
    QFETCH(QByteArray, content);
    QFETCH(qint64, paddedSize);
    QFETCH(QString, expected);
    const QString path = m_dir.filePath(name);
    if (name == QStringLiteral("folder"))
        QVERIFY(QDir(m_dir.path()).mkpath(name));
    else if (name == QStringLiteral("pipe"))
        QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
    else if (name != QStringLiteral("missing"))
        QVERIFY(writeFile(path, content, paddedSize));
    QCOMPARE(failureOf([&] { ImageImport::review(path); }), expected);
}

void TestImageImport::refusedFormats_data() {
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("expected");
    QTest::newRow("SVG") << QByteArray(
                                "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"10\" height=\"10\"/>")
                         << kUnknownFormat;
    QTest::newRow("BMP") << encoded(gradient(8, 8), "bmp") << kUnknownFormat;
    QTest::newRow("GIF") << kGif << kUnknownFormat;
    QTest::newRow("XPM") << encoded(gradient(8, 8), "xpm") << kUnknownFormat;
    QTest::newRow("WebP") << encoded(gradient(8, 8), "webp") << kUnknownFormat;
    QTest::newRow("ICO") << encoded(gradient(8, 8), "ico") << kUnknownFormat;
    QTest::newRow("text") << QByteArray("just some text") << kUnknownFormat;
    QTest::newRow("empty") << QByteArray() << kTooLarge;
    QTest::newRow("PNG signature only") << QByteArray("\x89PNG\r\n\x1a\n", 8) << kNoResolution;
    QTest::newRow("PNG claiming 0 x 10") << pngClaiming(0, 10) << kNoResolution;
    QTest::newRow("JPEG cut before its scan") << encoded(gradient(64, 64), "jpeg").left(200) << kNoResolution;
    QTest::newRow("HEIC brand, no image") << QByteArray("\0\0\0\x18"
                                                        "ftypheic\0\0\0\0mif1heic",
                                                        24) +
                                                 QByteArray(64, 'x')
                                          << kNoResolution;
}

void TestImageImport::refusedFormats() {
    QFETCH(QByteArray, bytes);
    QFETCH(QString, expected);
    QCOMPARE(failureOf([&] { ImageImport::review(bytes, 25'000'000); }), expected);
}

void TestImageImport::reviewed_data() {
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QSize>("stored");
    QTest::addColumn<QSize>("original"); // invalid: absent
    QTest::addColumn<QSize>("reduced");  // invalid: absent
    const QSize none;
    QTest::newRow("PNG") << encoded(gradient(40, 30), "png") << QSize(40, 30) << QSize(40, 30) << none;
    QTest::newRow("JPEG") << encoded(gradient(40, 30), "jpeg") << QSize(40, 30) << QSize(40, 30) << none;
    QTest::newRow("TIFF") << encoded(gradient(40, 30), "tiff") << QSize(40, 30) << QSize(40, 30) << none;
    QTest::newRow("JPEG turned by Exif")
        << jpegWithOrientation(gradient(40, 24), 6) << QSize(40, 24) << QSize(24, 40) << none;
    QTest::newRow("TIFF turned by its tag")
        << tiffTurned(gradient(30, 10)) << QSize(30, 10) << QSize(10, 30) << none;
    QImage plain(8000, 5000, QImage::Format_RGB32);
    plain.fill(Qt::darkCyan);
    QTest::newRow("PNG beyond Qt's default allocation limit")
        << encoded(plain, "png") << QSize(8000, 5000) << QSize(8000, 5000) << none;
    // Beyond the supported size: no original, and the reduced copy starts at 4096.
    QTest::newRow("PNG 20001 x 1") << encoded(gradient(20001, 1), "png") << QSize(20001, 1) << none
                                   << QSize(4096, 1);
    QTest::newRow("JPEG 20001 x 16 turned")
        << jpegWithOrientation(gradient(20001, 16), 6) << QSize(20001, 16) << none << QSize(3, 4096);
    QTest::newRow("TIFF 20001 x 2") << encoded(gradient(20001, 2), "tiff") << QSize(20001, 2) << none
                                    << QSize(4096, 1);
}

void TestImageImport::reviewed() {
    QFETCH(QByteArray, bytes);
    QFETCH(QSize, stored);
    QFETCH(QSize, original);
    QFETCH(QSize, reduced);
    const Review review = ImageImport::review(bytes, 25'000'000);
    QCOMPARE(QSize(review.width, review.height), stored);
    QCOMPARE(review.original.has_value(), original.isValid());
    QCOMPARE(review.reduced.has_value(), reduced.isValid());
    QCOMPARE(review.requiresChoice(), reduced.isValid());
    for (const auto &[copy, size] :
         {std::pair{review.original, original}, std::pair{review.reduced, reduced}}) {
        if (!copy)
            continue;
        QCOMPARE(QSize(copy->width, copy->height), size);
        QImage decoded;
        QVERIFY(decoded.loadFromData(copy->png, "png"));
        QCOMPARE(decoded.size(), size);
    }
}

void TestImageImport::heicRoundTrip() {
    const QByteArray bytes = heic(64, 32);
    if (bytes.isEmpty())
        QSKIP("libheif has no HEVC encoder here");
    const Review review = ImageImport::review(bytes, 25'000'000);
    QCOMPARE(QSize(review.width, review.height), QSize(64, 32));
    QVERIFY(review.original);
    QCOMPARE(QSize(review.original->width, review.original->height), QSize(64, 32));
    QVERIFY(review.original->png.startsWith("\x89PNG"));
    // Recognised by its content, but its coded picture is blank, or the file ends early.
    QByteArray damaged = bytes;
    const qsizetype coded = damaged.indexOf("mdat") + 4;
    damaged.replace(coded, damaged.size() - coded, QByteArray(damaged.size() - coded, '\0'));
    QCOMPARE(failureOf([&] { ImageImport::review(damaged, 25'000'000); }), kNotProcessed);
    QCOMPARE(failureOf([&] { ImageImport::review(bytes.left(bytes.size() - 40), 25'000'000); }),
             kNoResolution);
}

void TestImageImport::cloudLimitBoundary_data() {
    QTest::addColumn<qint64>("slack"); // cloud limit minus the original's size
    QTest::addColumn<bool>("reduced");
    QTest::newRow("original exactly at the limit") << qint64(0) << false;
    QTest::newRow("one byte of room") << qint64(1) << false;
    QTest::newRow("one byte over") << qint64(-1) << true;
}

void TestImageImport::cloudLimitBoundary() {
    QFETCH(qint64, slack);
    QFETCH(bool, reduced);
    const QByteArray bytes = encoded(noise(120, 80), "png");
    const qint64 originalSize = ImageImport::review(bytes, 25'000'000).original->png.size();
    const Review review = ImageImport::review(bytes, originalSize + slack);
    QVERIFY(review.original);
    QCOMPARE(review.original->png.size(), originalSize);
    QCOMPARE(review.requiresChoice(), reduced);
    if (reduced)
        QVERIFY(review.reduced->png.size() <= originalSize + slack);
}

void TestImageImport::reductionEdges_data() {
    QTest::addColumn<int>("start");
    QTest::addColumn<QList<int>>("edges");
    QTest::newRow("4096") << 4096 << QList<int>{4096, 2867, 2006, 1404, 982, 687, 480, 336, 235, 164, 114,
                                                79,   55,   38,   26,   18,  12,  8,   5,   3,   2,   1};
    QTest::newRow("3000") << 3000 << QList<int>{3000, 2100, 1470, 1029, 720, 503, 352, 246, 172, 120, 84,
                                                58,   40,   28,   19,   13,  9,   6,   4,   2,   1};
    QTest::newRow("2") << 2 << QList<int>{2, 1};
    QTest::newRow("1") << 1 << QList<int>{1};
}

void TestImageImport::reductionEdges() {
    QFETCH(int, start);
    QFETCH(QList<int>, edges);
    QCOMPARE(ImageImport::reductionEdges(start), edges);
}

void TestImageImport::reducedCopy() {
    const QByteArray bytes = encoded(noise(600, 400), "png");
    const Review review = ImageImport::review(bytes, 100'000);
    QVERIFY(review.original);
    QCOMPARE(QSize(review.original->width, review.original->height), QSize(600, 400));
    QVERIFY(review.reduced);
    QVERIFY(review.reduced->png.size() <= 100'000);
    const int edge = review.reduced->width;
    QVERIFY(edge < 600);
    QVERIFY(ImageImport::reductionEdges(600).contains(edge));
    QCOMPARE(review.reduced->height, qRound(400.0 * edge / 600));

    QCOMPARE(failureOf([&] { ImageImport::review(bytes, 1); }), kNoCloudCopy);
    QCOMPARE(failureOf([&] { ImageImport::review(bytes, 0); }), kNoResolution);
}

void TestImageImport::cancellation() {
    const QByteArray bytes = encoded(noise(200, 100), "png");
    int asked = 0;
    const auto cancelled = [&] { return ++asked > 0; };

    ImageImport::review(bytes, 25'000'000, cancelled); // a fitting original never asks
    QCOMPARE(asked, 0);
    QVERIFY_THROWS_EXCEPTION(ImageImport::Cancelled, ImageImport::review(bytes, 1000, cancelled));
    QCOMPARE(asked, 1);

    // Once before the first copy, then after each copy that did not fit, except the last.
    asked = 0;
    QCOMPARE(failureOf([&] { ImageImport::review(bytes, 1, [&] { return ++asked < 0; }); }), kNoCloudCopy);
    QCOMPARE(asked, ImageImport::reductionEdges(200).size());
}

void TestImageImport::validateCloudPNG_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<qint64>("paddedSize");
    QTest::addColumn<QString>("expected");
    const QByteArray png = encoded(gradient(16, 8), "png");
    QTest::newRow("small PNG") << QStringLiteral("small.png") << png << qint64(-1) << QString();
    QTest::newRow("PNG of exactly 25,000,000 bytes")
        << QStringLiteral("padded.png") << png << qint64(25'000'000) << QString();
    QTest::newRow("PNG of 25,000,001 bytes")
        << QStringLiteral("over.png") << png << qint64(25'000'001) << kCloudRefused;
    QTest::newRow("symbolic link to a PNG")
        << QStringLiteral("link.png") << png << qint64(-1) << kCloudRefused;
    QTest::newRow("JPEG") << QStringLiteral("photo.png") << encoded(gradient(16, 8), "jpeg") << qint64(-1)
                          << kCloudRefused;
    QTest::newRow("empty file") << QStringLiteral("empty.png") << QByteArray() << qint64(-1) << kCloudRefused;
    QTest::newRow("PNG of 20001 x 1")
        << QStringLiteral("wide.png") << encoded(gradient(20001, 1), "png") << qint64(-1) << kCloudRefused;
    QTest::newRow("PNG signature only") << QStringLiteral("signature.png")
                                        << QByteArray("\x89PNG\r\n\x1a\n", 8) << qint64(-1) << kCloudRefused;
    QTest::newRow("folder") << QStringLiteral("folder.png") << QByteArray() << qint64(-1) << kCloudRefused;
    QTest::newRow("missing") << QStringLiteral("missing.png") << QByteArray() << qint64(-1)
                             << kFileUnreadable;
}

void TestImageImport::validateCloudPNG() {
    QFETCH(QString, name);
    QFETCH(QByteArray, content);
    QFETCH(qint64, paddedSize);
    QFETCH(QString, expected);
    QTemporaryDir dir;
    const QString path = dir.filePath(name);
    if (name == QStringLiteral("link.png")) {
        QVERIFY(writeFile(dir.filePath(QStringLiteral("target.png")), content));
        QVERIFY(QFile::link(dir.filePath(QStringLiteral("target.png")), path));
    } else if (name == QStringLiteral("folder.png")) {
        QVERIFY(QDir(dir.path()).mkpath(name));
    } else if (name != QStringLiteral("missing.png")) {
        QVERIFY(writeFile(path, content, paddedSize));
    }
    QCOMPARE(failureOf([&] { ImageImport::validateCloudPNG(path); }), expected);
}

void TestImageImport::byteCountText_data() {
    QTest::addColumn<qint64>("bytes");
    QTest::addColumn<QString>("text");
    QTest::newRow("1") << qint64(1) << QStringLiteral("1 Byte");
    QTest::newRow("12") << qint64(12) << QStringLiteral("12 Bytes");
    QTest::newRow("999") << qint64(999) << QStringLiteral("999 Bytes");
    QTest::newRow("1000") << qint64(1000) << QStringLiteral("1 KB");
    QTest::newRow("1499") << qint64(1499) << QStringLiteral("1 KB");
    QTest::newRow("1500") << qint64(1500) << QStringLiteral("2 KB");
    QTest::newRow("812,400") << qint64(812'400) << QStringLiteral("812 KB");
    QTest::newRow("999,499") << qint64(999'499) << QStringLiteral("999 KB");
    QTest::newRow("999,500 rounds up a unit") << qint64(999'500) << QStringLiteral("1 MB");
    QTest::newRow("25,000,000") << qint64(25'000'000) << QStringLiteral("25 MB");
    QTest::newRow("25,349,999") << qint64(25'349'999) << QStringLiteral("25,3 MB");
    QTest::newRow("25,350,000") << qint64(25'350'000) << QStringLiteral("25,4 MB");
    QTest::newRow("200,000,000") << qint64(200'000'000) << QStringLiteral("200 MB");
    QTest::newRow("999,949,999") << qint64(999'949'999) << QStringLiteral("999,9 MB");
    QTest::newRow("999,950,000") << qint64(999'950'000) << QStringLiteral("1 GB");
    QTest::newRow("1,234,567,890") << qint64(1'234'567'890) << QStringLiteral("1,2 GB");
    QTest::newRow("12,000,000,000") << qint64(12'000'000'000) << QStringLiteral("12 GB");
}

void TestImageImport::byteCountText() {
    QFETCH(qint64, bytes);
    QFETCH(QString, text);
    QCOMPARE(ImageImport::byteCountText(bytes), text);
}

void TestImageImport::description() {
    const Image image{QByteArray(25'300'000, '\0'), 4096, 2731};
    QCOMPARE(image.description(), QStringLiteral("4096 × 2731 Pixel · 25,3 MB"));
}

QTEST_GUILESS_MAIN(TestImageImport)
#include "tst_imageimport.moc"
