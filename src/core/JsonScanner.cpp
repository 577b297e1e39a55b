#include "core/JsonScanner.h"

#include <charconv>
#include <cstring>

namespace vennimo {

bool JsonScanner::literal(const char* text) {
    const std::size_t length = std::strlen(text);
    if (static_cast<std::size_t>(m_end - m_at) < length || std::memcmp(m_at, text, length) != 0)
        return false;
    m_at += length;
    return true;
}

bool JsonScanner::peekKey(const char* name) const {
    const std::size_t length = std::strlen(name);
    return static_cast<std::size_t>(m_end - m_at) > length && *m_at == ',' &&
           std::memcmp(m_at + 1, name, length) == 0;
}

bool JsonScanner::boolean(bool& value) {
    if (literal("true"))
        value = true;
    else if (literal("false"))
        value = false;
    else
        return false;
    return true;
}

bool JsonScanner::number(double& value) {
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

bool JsonScanner::integer(qint64& value) {
    const char* start = m_at;
    bool integral = true;
    if (!scanNumber(integral) || !integral)
        return false;
    const auto [end, ec] = std::from_chars(start, m_at, value);
    return ec == std::errc() && end == m_at;
}

bool JsonScanner::string(QString& value) {
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

int JsonScanner::hexValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

bool JsonScanner::skipEscape() {
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

int JsonScanner::sequenceLength() const {
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

bool JsonScanner::scanNumber(bool& integral) {
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

} // namespace vennimo
