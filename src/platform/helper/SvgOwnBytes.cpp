#include "SvgOwnBytes.h"

#include "platform/FileDescriptor.h"

#include <QBuffer>
#include <QFile>
#include <QImageReader>
#include <QXmlStreamReader>
#include <QXmlStreamWriter>

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <zlib.h>

namespace vennimo::SvgOwnBytes {

namespace {

constexpr qsizetype kReadChunkBytes = 64 << 10;
// An svgz and one more layer inside it, which Qt's plugin would inflate itself: both are inflated
// here, so that the plugin is handed only what the filter below has read. A layer inside those
// is refused, as the plugin refused it.
constexpr int kMaxGzipLayers = 2;

bool isGzip(const QByteArray& bytes) {
    return bytes.size() >= 2 && uchar(bytes[0]) == 0x1f && uchar(bytes[1]) == 0x8b;
}

std::optional<QByteArray> inflated(const QByteArray& compressed, qint64 maxBytes) {
    z_stream stream{};
    // 16 over the window bits: a gzip header and trailer around the deflate data.
    if (inflateInit2(&stream, 16 + MAX_WBITS) != Z_OK)
        return std::nullopt;
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(compressed.constData()));
    stream.avail_in = uInt(compressed.size());
    QByteArray out;
    int status = Z_OK;
    while (status == Z_OK) {
        if (out.size() + kReadChunkBytes > maxBytes)
            break;
        const qsizetype before = out.size();
        out.resize(before + kReadChunkBytes);
        stream.next_out = reinterpret_cast<Bytef*>(out.data() + before);
        stream.avail_out = uInt(kReadChunkBytes);
        status = inflate(&stream, Z_NO_FLUSH);
        out.resize(before + kReadChunkBytes - qsizetype(stream.avail_out));
    }
    inflateEnd(&stream);
    if (status != Z_STREAM_END)
        return std::nullopt;
    return out;
}

// Where Qt's plugin looks for a picture's bytes: inside the value when it begins with "data",
// else in the file it names.
bool isOwnPicture(QStringView link) {
    const QStringView value = link.trimmed();
    if (!value.startsWith(QLatin1String("data")))
        return false;
    const qsizetype at = value.lastIndexOf(QLatin1String("base64,"));
    if (at < 0)
        return true;
    QByteArray picture = QByteArray::fromBase64(value.mid(at + 7).toLatin1());
    QBuffer buffer(&picture);
    buffer.open(QIODevice::ReadOnly);
    // An SVG inside is drawn with no document around it to say where it came from.
    const QByteArray format = QImageReader::imageFormat(&buffer);
    return !format.startsWith("svg");
}

// The name after any prefix: the plugin reads names as written, so a prefix is no guarantee.
QStringView localPart(QStringView name) {
    const qsizetype colon = name.lastIndexOf(QLatin1Char(':'));
    return colon < 0 ? name : name.mid(colon + 1);
}

bool isOutsideLink(QStringView element, const QXmlStreamAttribute& attribute) {
    return localPart(element) == QLatin1String("image") &&
           localPart(attribute.qualifiedName()) == QLatin1String("href") && !isOwnPicture(attribute.value());
}

// Read as Qt's plugin reads it, names as written.
void prepare(QXmlStreamReader& xml) {
    xml.setNamespaceProcessing(false);
}

// Whether the bytes alone rule out every link, without reading the document as XML, which takes a
// third of the plugin's own time. A link needs an attribute named "href" or a processing
// instruction written out as such, unless an entity or an encoding other than an ASCII one makes
// them of other bytes.
bool mayLinkOutside(const QByteArray& document) {
    QByteArrayView rest(document);
    if (rest.startsWith("\xEF\xBB\xBF"))
        rest = rest.sliced(3);
    if (rest.size() >= 2 && (rest.startsWith("\xFE\xFF") || rest.startsWith("\xFF\xFE") ||
                             rest.first(std::min<qsizetype>(rest.size(), 4)).contains('\0')))
        return true;
    if (rest.startsWith("<?xml") && rest.size() > 5 && QByteArrayView(" \t\r\n").contains(rest[5])) {
        const qsizetype end = rest.indexOf("?>");
        if (end < 0)
            return true;
        const QByteArray declaration = rest.first(end).toByteArray().toLower();
        const qsizetype encoding = declaration.indexOf("encoding");
        if (encoding >= 0) {
            const QByteArray name = declaration.mid(encoding + 8).trimmed().mid(1).trimmed().mid(1);
            if (!name.startsWith("utf-8") && !name.startsWith("us-ascii") && !name.startsWith("iso-8859-1"))
                return true;
        }
        rest = rest.sliced(end + 2);
    }
    return rest.contains("href") || rest.contains("<?") || rest.contains("<!ENTITY");
}

bool hasOutsideReferences(const QByteArray& document) {
    if (!mayLinkOutside(document))
        return false;
    QXmlStreamReader xml(document);
    prepare(xml);
    while (!xml.atEnd()) {
        switch (xml.readNext()) {
        case QXmlStreamReader::ProcessingInstruction:
            return true;
        case QXmlStreamReader::StartElement:
            for (const QXmlStreamAttribute& attribute : xml.attributes())
                if (isOutsideLink(xml.qualifiedName(), attribute))
                    return true;
            break;
        default:
            break;
        }
    }
    return false;
}

} // namespace

std::optional<QByteArray> read(const QString& path, qint64 maxBytes) {
    const FileDescriptor fd(::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    struct stat st {};
    if (fd.get() < 0 || ::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_size > maxBytes)
        return std::nullopt;
    QByteArray bytes(qsizetype(st.st_size), Qt::Uninitialized);
    qsizetype got = 0;
    while (got < bytes.size()) {
        const ssize_t n = ::read(fd.get(), bytes.data() + got, size_t(bytes.size() - got));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return std::nullopt;
        if (n == 0)
            break;
        got += n;
    }
    bytes.truncate(got);
    for (int layer = 0; isGzip(bytes); ++layer) {
        std::optional<QByteArray> inner = layer < kMaxGzipLayers ? inflated(bytes, maxBytes) : std::nullopt;
        if (!inner)
            return std::nullopt;
        bytes = std::move(*inner);
    }
    return bytes;
}

QByteArray withoutOutsideReferences(const QByteArray& document) {
    if (!hasOutsideReferences(document))
        return document;
    // Written anew from what the reader saw: entities come expanded and the DTD, comments and
    // processing instructions stay out, none of which the plugin draws.
    QByteArray own;
    QXmlStreamWriter out(&own);
    QXmlStreamReader xml(document);
    prepare(xml);
    while (!xml.atEnd()) {
        switch (xml.readNext()) {
        case QXmlStreamReader::StartDocument:
            out.writeStartDocument();
            break;
        case QXmlStreamReader::StartElement:
            out.writeStartElement(xml.qualifiedName().toString());
            for (const QXmlStreamAttribute& attribute : xml.attributes())
                if (!isOutsideLink(xml.qualifiedName(), attribute))
                    out.writeAttribute(attribute.qualifiedName().toString(), attribute.value().toString());
            break;
        case QXmlStreamReader::EndElement:
            out.writeEndElement();
            break;
        case QXmlStreamReader::Characters:
            if (xml.isCDATA())
                out.writeCDATA(xml.text().toString());
            else
                out.writeCharacters(xml.text().toString());
            break;
        default:
            break;
        }
    }
    // A document the reader gave up on ends there for the plugin too.
    return own;
}

} // namespace vennimo::SvgOwnBytes
