#include "core/LibraryDecoding.h"

#include <charconv>
#include <cstring>

namespace vennimo {

namespace {

// A cursor over the bytes. Every read answers false on anything it does not expect, and the whole
// decode gives up then: being stricter than the JSON reader only costs the slower path.
class Reader {
public:
    explicit Reader(const QByteArray& bytes)
        : m_at(bytes.constData())
        , m_end(bytes.constData() + bytes.size()) {}

    bool atEnd() const { return m_at == m_end; }

    bool literal(const char* text) {
        const std::size_t length = std::strlen(text);
        if (static_cast<std::size_t>(m_end - m_at) < length || std::memcmp(m_at, text, length) != 0)
            return false;
        m_at += length;
        return true;
    }

    // `,"key":` or, for the first member, `"key":`.
    bool key(const char* name, bool first) { return (first || literal(",")) && literal(name); }

    bool peekKey(const char* name) const {
        const std::size_t length = std::strlen(name);
        return static_cast<std::size_t>(m_end - m_at) > length && *m_at == ',' &&
               std::memcmp(m_at + 1, name, length) == 0;
    }

    bool boolean(bool& value) {
        if (literal("true"))
            value = true;
        else if (literal("false"))
            value = false;
        else
            return false;
        return true;
    }

    // The JSON reader keeps a number written as an integer that fits 64 bits as that integer and
    // reads any other as a double; its value as a double is the same either way.
    bool number(double& value) {
        const char* start = m_at;
        bool integral = true;
        if (!scanNumber(integral))
            return false;
        if (integral) {
            qint64 whole = 0;
            const auto [end, ec] = std::from_chars(start, m_at, whole);
            if (ec == std::errc() && end == m_at) {
                value = static_cast<double>(whole);
                return true;
            }
        }
        const auto [end, ec] = std::from_chars(start, m_at, value);
        return ec == std::errc() && end == m_at;
    }

    bool integer(qint64& value) {
        const char* start = m_at;
        bool integral = true;
        if (!scanNumber(integral) || !integral)
            return false;
        const auto [end, ec] = std::from_chars(start, m_at, value);
        return ec == std::errc() && end == m_at;
    }

    bool string(QString& value) {
        if (!literal("\""))
            return false;
        const char* start = m_at;
        bool ascii = true;
        bool escaped = false;
        while (true) {
            if (m_at == m_end)
                return false;
            const auto byte = static_cast<unsigned char>(*m_at);
            if (byte == '"')
                break;
            if (byte < 0x20)
                return false;
            if (byte == '\\') {
                escaped = true;
                if (!skipEscape())
                    return false;
            } else if (byte < 0x80) {
                ++m_at;
            } else {
                ascii = false;
                const int length = sequenceLength();
                if (length == 0)
                    return false;
                m_at += length;
            }
        }
        const char* stop = m_at++;
        if (!escaped) {
            value = ascii ? QString::fromLatin1(start, stop - start) : QString::fromUtf8(start, stop - start);
            return true;
        }
        QByteArray text;
        text.reserve(stop - start);
        for (const char* at = start; at < stop; ++at) {
            if (*at != '\\') {
                text += *at;
                continue;
            }
            ++at;
            switch (*at) {
            case 'b':
                text += '\b';
                break;
            case 'f':
                text += '\f';
                break;
            case 'n':
                text += '\n';
                break;
            case 'r':
                text += '\r';
                break;
            case 't':
                text += '\t';
                break;
            case 'u':
                text += static_cast<char>(hexValue(at[3]) * 16 + hexValue(at[4]));
                at += 4;
                break;
            default: // '"', '\\' and '/' stand for themselves
                text += *at;
            }
        }
        value = QString::fromUtf8(text);
        return true;
    }

private:
    static int hexValue(char c) {
        if (c >= '0' && c <= '9')
            return c - '0';
        if (c >= 'a' && c <= 'f')
            return c - 'a' + 10;
        if (c >= 'A' && c <= 'F')
            return c - 'A' + 10;
        return -1;
    }

    // Only the escapes that stand for one ASCII character, as the encoder writes them.
    bool skipEscape() {
        if (m_end - m_at < 2)
            return false;
        const char kind = m_at[1];
        if (kind == 'u') {
            if (m_end - m_at < 6 || m_at[2] != '0' || m_at[3] != '0' || hexValue(m_at[4]) < 0 ||
                hexValue(m_at[4]) > 7 || hexValue(m_at[5]) < 0)
                return false;
            m_at += 6;
            return true;
        }
        if (std::strchr("\"\\/bfnrt", kind) == nullptr || kind == '\0')
            return false;
        m_at += 2;
        return true;
    }

    // The length of the well-formed UTF-8 sequence at the cursor, or 0. Noncharacters and the
    // byte order mark count as ill-formed here, so that no question of how the JSON reader takes
    // them arises.
    int sequenceLength() const {
        const auto* at = reinterpret_cast<const unsigned char*>(m_at);
        const std::ptrdiff_t left = m_end - m_at;
        const auto continuation = [&](int i, unsigned char low = 0x80, unsigned char high = 0xBF) {
            return i < left && at[i] >= low && at[i] <= high;
        };
        char32_t code = 0;
        int length = 0;
        if (at[0] >= 0xC2 && at[0] <= 0xDF) {
            if (!continuation(1))
                return 0;
            return 2;
        }
        if (at[0] >= 0xE0 && at[0] <= 0xEF) {
            const unsigned char low = at[0] == 0xE0 ? 0xA0 : 0x80;
            const unsigned char high = at[0] == 0xED ? 0x9F : 0xBF;
            if (!continuation(1, low, high) || !continuation(2))
                return 0;
            code = (char32_t(at[0] & 0x0F) << 12) | (char32_t(at[1] & 0x3F) << 6) | (at[2] & 0x3F);
            length = 3;
        } else if (at[0] >= 0xF0 && at[0] <= 0xF4) {
            const unsigned char low = at[0] == 0xF0 ? 0x90 : 0x80;
            const unsigned char high = at[0] == 0xF4 ? 0x8F : 0xBF;
            if (!continuation(1, low, high) || !continuation(2) || !continuation(3))
                return 0;
            code = (char32_t(at[0] & 0x07) << 18) | (char32_t(at[1] & 0x3F) << 12) |
                   (char32_t(at[2] & 0x3F) << 6) | (at[3] & 0x3F);
            length = 4;
        } else {
            return 0;
        }
        if ((code & 0xFFFE) == 0xFFFE || (code >= 0xFDD0 && code <= 0xFDEF) || code == 0xFEFF)
            return 0;
        return length;
    }

    // The JSON number grammar; `integral` tells whether it has neither fraction nor exponent.
    bool scanNumber(bool& integral) {
        const auto digit = [this] { return m_at < m_end && *m_at >= '0' && *m_at <= '9'; };
        if (m_at < m_end && *m_at == '-')
            ++m_at;
        if (!digit())
            return false;
        if (*m_at == '0') {
            ++m_at;
        } else {
            while (digit())
                ++m_at;
        }
        integral = true;
        if (m_at < m_end && *m_at == '.') {
            integral = false;
            ++m_at;
            if (!digit())
                return false;
            while (digit())
                ++m_at;
        }
        if (m_at < m_end && (*m_at == 'e' || *m_at == 'E')) {
            integral = false;
            ++m_at;
            if (m_at < m_end && (*m_at == '+' || *m_at == '-'))
                ++m_at;
            if (!digit())
                return false;
            while (digit())
                ++m_at;
        }
        return true;
    }

    const char* m_at;
    const char* m_end;
};

template <typename T, typename Read>
bool optionalMember(Reader& reader, const char* name, std::optional<T>& field, Read read) {
    if (!reader.peekKey(name))
        return true;
    T value{};
    if (!reader.key(name, false) || !(reader.*read)(value))
        return false;
    field = std::move(value);
    return true;
}

bool photosOrigin(Reader& reader, PhotosOrigin& origin) {
    if (!reader.literal("{"))
        return false;
    const bool hasLibraryPath = reader.literal("\"libraryPath\":");
    if (hasLibraryPath) {
        origin.libraryPath.emplace();
        if (!reader.string(*origin.libraryPath))
            return false;
    }
    if (reader.literal(hasLibraryPath ? ",\"localIdentifier\":" : "\"localIdentifier\":")) {
        origin.localIdentifier.emplace();
        if (!reader.string(*origin.localIdentifier))
            return false;
    }
    return reader.literal("}");
}

bool photo(Reader& reader, Photo& photo) {
    if (!reader.literal("{\"added\":") || !reader.number(photo.added) ||
        !optionalMember(reader, "\"baselineImported\":", photo.baselineImported, &Reader::boolean) ||
        !optionalMember(reader, "\"created\":", photo.created, &Reader::number) ||
        !reader.key("\"id\":", false) || !reader.string(photo.id) || !reader.key("\"modified\":", false) ||
        !reader.number(photo.modified) || !reader.key("\"path\":", false) || !reader.string(photo.path))
        return false;
    if (reader.peekKey("\"photosOrigin\":")) {
        PhotosOrigin origin;
        if (!reader.key("\"photosOrigin\":", false) || !photosOrigin(reader, origin))
            return false;
        photo.photosOrigin = std::move(origin);
    }
    return reader.key("\"size\":", false) && reader.integer(photo.size) && reader.key("\"source\":", false) &&
           reader.string(photo.source) &&
           optionalMember(reader, "\"sourceRoot\":", photo.sourceRoot, &Reader::string) &&
           reader.key("\"thumbnail\":", false) && reader.string(photo.thumbnail) &&
           optionalMember(reader, "\"thumbnailModified\":", photo.thumbnailModified, &Reader::number) &&
           optionalMember(reader, "\"usageID\":", photo.usageID, &Reader::string) && reader.literal("}");
}

} // namespace

std::optional<Library> decodeLibrary(const QByteArray& bytes) {
    Reader reader(bytes);
    Library library;
    if (!reader.literal("{\"initialized\":") || !reader.boolean(library.initialized))
        return std::nullopt;
    if (reader.literal(",\"pendingBaselineRoots\":[")) {
        QStringList roots;
        for (bool first = true; !reader.literal("]"); first = false) {
            QString root;
            if ((!first && !reader.literal(",")) || !reader.string(root))
                return std::nullopt;
            roots.append(std::move(root));
        }
        library.pendingBaselineRoots = std::move(roots);
    }
    if (!reader.literal(",\"photos\":["))
        return std::nullopt;
    // Every record, and nothing else, begins so (a quote inside a string is escaped).
    const QByteArrayView recordStart("{\"added\":");
    qsizetype records = 0;
    for (qsizetype at = bytes.indexOf(recordStart); at >= 0; at = bytes.indexOf(recordStart, at + 1))
        ++records;
    library.photos.reserve(records);
    for (bool first = true; !reader.literal("]"); first = false) {
        Photo record;
        if ((!first && !reader.literal(",")) || !photo(reader, record))
            return std::nullopt;
        library.photos.append(std::move(record));
    }
    if (!reader.literal("}") || !reader.atEnd())
        return std::nullopt;
    return library;
}

} // namespace vennimo
