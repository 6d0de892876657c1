#include "export/PDFImages.h"

#include "model/AppFailure.h"

#include <QDir>
#include <QFile>

#include <qpdf/Pipeline.hh>
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFWriter.hh>

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <map>
#include <unistd.h>
#include <vector>

namespace {
// The placeholder's first pixel: not grey, so no writer could store it as a grey image, and
// unlike anything a layout would draw.
constexpr QRgb kMarker = 0xFFA55AC3;
constexpr int kMaxNumber = 0xFFFFFE;

[[noreturn]] void fail(const char16_t *sentence) {
    throw AppFailure(QString::fromUtf16(sentence));
}

// An unnamed file in `directory`, or −1. Without O_TMPFILE support the file is named for an
// instant and unlinked at once.
int anonymousFile(const QString &directory) {
    const QByteArray path = QFile::encodeName(directory);
    if (path.isEmpty())
        return -1;
    int fd = ::open(path.constData(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (fd >= 0)
        return fd;
    QByteArray name = path + "/.vellumbox-export-XXXXXX";
    fd = ::mkostemp(name.data(), O_CLOEXEC);
    if (fd >= 0)
        ::unlink(name.constData());
    return fd;
}

void writeAll(int fd, const char *data, qint64 size, qint64 offset) {
    while (size > 0) {
        const ssize_t n = ::pwrite(fd, data, size_t(size), offset);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            fail(u"Die Exportdatei konnte nicht geschrieben werden.");
        data += n;
        size -= n;
        offset += n;
    }
}

// Feeds each replaced stream from the temporary file, a slice at a time.
class SpoolProvider : public QPDFObjectHandle::StreamDataProvider {
public:
    explicit SpoolProvider(int fd) : m_fd(fd) {}
    void set(QPDFObjGen object, PDFImages::Extent extent) { m_extents[object] = extent; }

    using StreamDataProvider::provideStreamData;
    void provideStreamData(QPDFObjGen const &object, Pipeline *pipeline) override {
        const PDFImages::Extent extent = m_extents.at(object);
        std::vector<unsigned char> slice(size_t(std::min<qint64>(extent.size, 1 << 20)));
        for (qint64 done = 0; done < extent.size;) {
            const ssize_t n = ::pread(m_fd, slice.data(),
                                      size_t(std::min<qint64>(extent.size - done, qint64(slice.size()))),
                                      extent.offset + done);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                fail(u"Die Exportdatei konnte nicht geschrieben werden.");
            pipeline->write(slice.data(), size_t(n));
            done += n;
        }
        pipeline->finish();
    }

private:
    int m_fd;
    std::map<QPDFObjGen, PDFImages::Extent> m_extents;
};

class DevicePipeline : public Pipeline {
public:
    explicit DevicePipeline(QIODevice *device) : Pipeline("export", nullptr), m_device(device) {}
    void write(unsigned char const *data, size_t size) override {
        if (m_device->write(reinterpret_cast<const char *>(data), qint64(size)) != qint64(size))
            fail(u"Die Exportdatei konnte nicht geschrieben werden.");
    }
    void finish() override {}

private:
    QIODevice *m_device;
};

// The number a placeholder stands for, or −1 for any other image.
int placeholderNumber(QPDFObjectHandle image) {
    QPDFObjectHandle dict = image.getDict();
    if (!dict.getKey("/Width").isInteger() || dict.getKey("/Width").getIntValue() != 2 ||
        !dict.getKey("/Height").isInteger() || dict.getKey("/Height").getIntValue() != 1)
        return -1;
    const std::shared_ptr<Buffer> data = image.getStreamData(qpdf_dl_generalized);
    if (data->getSize() != 6)
        return -1;
    const unsigned char *p = data->getBuffer();
    if (qRgb(p[0], p[1], p[2]) != kMarker)
        return -1;
    return ((p[3] << 16) | (p[4] << 8) | p[5]) - 1;
}

QPDFObjectHandle predictorParameters(int colors, int width) {
    QPDFObjectHandle parameters = QPDFObjectHandle::newDictionary();
    parameters.replaceKey("/Predictor", QPDFObjectHandle::newInteger(15));
    parameters.replaceKey("/Colors", QPDFObjectHandle::newInteger(colors));
    parameters.replaceKey("/BitsPerComponent", QPDFObjectHandle::newInteger(8));
    parameters.replaceKey("/Columns", QPDFObjectHandle::newInteger(width));
    return parameters;
}

void describeImage(QPDFObjectHandle dict, const PDFImages::Entry &entry, const char *colorSpace) {
    dict.replaceKey("/Type", QPDFObjectHandle::newName("/XObject"));
    dict.replaceKey("/Subtype", QPDFObjectHandle::newName("/Image"));
    dict.replaceKey("/Width", QPDFObjectHandle::newInteger(entry.width));
    dict.replaceKey("/Height", QPDFObjectHandle::newInteger(entry.height));
    dict.replaceKey("/ColorSpace", QPDFObjectHandle::newName(colorSpace));
    dict.replaceKey("/BitsPerComponent", QPDFObjectHandle::newInteger(8));
    for (const char *key : {"/SMask", "/Mask", "/Decode", "/ImageMask"})
        dict.removeKey(key);
}
} // namespace

PDFImages::PDFImages(const QString &directory) {
    m_fd = anonymousFile(directory);
    if (m_fd < 0)
        m_fd = anonymousFile(QDir::tempPath());
    if (m_fd < 0)
        fail(u"Die Exportdatei konnte nicht angelegt werden.");
}

PDFImages::~PDFImages() {
    ::close(m_fd);
}

PDFImages::Extent PDFImages::append(const QByteArray &bytes) {
    const Extent extent{m_end, bytes.size()};
    writeAll(m_fd, bytes.constData(), bytes.size(), m_end);
    m_end += bytes.size();
    return extent;
}

int PDFImages::add(const FlateImage &image) {
    if (qsizetype(m_entries.size()) >= kMaxNumber)
        fail(u"PDF konnte nicht erstellt werden.");
    Entry entry{image.width, image.height, append(image.color), {}};
    if (!image.alpha.isEmpty())
        entry.alpha = append(image.alpha);
    m_entries.push_back(entry);
    return int(m_entries.size()) - 1;
}

QImage PDFImages::placeholder(int number) {
    QImage image(2, 1, QImage::Format_RGB32);
    image.setPixel(0, 0, kMarker);
    image.setPixel(1, 0, 0xFF000000u | quint32(number + 1));
    return image;
}

void PDFImages::write(const QByteArray &layout, QIODevice *device) const {
    try {
        QPDF pdf;
        pdf.setSuppressWarnings(true);
        pdf.processMemoryFile("layout", layout.constData(), size_t(layout.size()));
        auto provider = std::make_shared<SpoolProvider>(m_fd);
        std::vector<bool> placed(m_entries.size(), false);
        for (QPDFObjectHandle object : pdf.getAllObjects()) {
            if (!object.isStreamOfType("/XObject", "/Image"))
                continue;
            const int number = placeholderNumber(object);
            if (number < 0 || size_t(number) >= m_entries.size() || placed[size_t(number)])
                fail(u"PDF konnte nicht erstellt werden.");
            placed[size_t(number)] = true;
            const Entry &entry = m_entries[size_t(number)];
            describeImage(object.getDict(), entry, "/DeviceRGB");
            provider->set(object.getObjGen(), entry.color);
            object.replaceStreamData(provider, QPDFObjectHandle::newName("/FlateDecode"),
                                     predictorParameters(3, entry.width));
            if (entry.alpha.size > 0) {
                QPDFObjectHandle mask = pdf.newStream();
                describeImage(mask.getDict(), entry, "/DeviceGray");
                provider->set(mask.getObjGen(), entry.alpha);
                mask.replaceStreamData(provider, QPDFObjectHandle::newName("/FlateDecode"),
                                       predictorParameters(1, entry.width));
                object.getDict().replaceKey("/SMask", mask);
            }
        }
        if (std::find(placed.begin(), placed.end(), false) != placed.end())
            fail(u"PDF-Bild fehlt.");
        DevicePipeline output(device);
        QPDFWriter writer(pdf);
        writer.setOutputPipeline(&output);
        // The image streams are final; nothing is decoded or compressed again.
        writer.setDecodeLevel(qpdf_dl_none);
        writer.write();
    } catch (const AppFailure &) {
        throw;
    } catch (const std::bad_alloc &) {
        throw;
    } catch (const std::exception &) {
        fail(u"PDF konnte nicht erstellt werden.");
    }
}
