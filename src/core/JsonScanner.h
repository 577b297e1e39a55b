#pragma once

#include <QByteArray>
#include <QString>

namespace vennimo {

// A cursor over JSON text in a form known in advance. Every read answers false on anything it does
// not expect, and the caller gives up then: being stricter than the JSON reader only costs its
// slower path.
class JsonScanner {
public:
    explicit JsonScanner(const QByteArray& bytes)
        : m_at(bytes.constData())
        , m_end(bytes.constData() + bytes.size()) {}

    bool atEnd() const { return m_at == m_end; }

    bool literal(const char* text);

    // `,"key":` or, for the first member, `"key":`.
    bool key(const char* name, bool first) { return (first || literal(",")) && literal(name); }

    bool peekKey(const char* name) const;

    bool boolean(bool& value);

    // The JSON reader keeps a number written as an integer that fits 64 bits as that integer and
    // reads any other as a double; its value as a double is the same either way.
    bool number(double& value);

    bool integer(qint64& value);

    bool string(QString& value);

private:
    static int hexValue(char c);

    // Only the escapes that stand for one ASCII character, as the encoder writes them.
    bool skipEscape();

    // The length of the well-formed UTF-8 sequence at the cursor, or 0. Noncharacters and the
    // byte order mark count as ill-formed here, so that no question of how the JSON reader takes
    // them arises.
    int sequenceLength() const;

    // The JSON number grammar; `integral` tells whether it has neither fraction nor exponent.
    bool scanNumber(bool& integral);

    const char* m_at;
    const char* m_end;
};

} // namespace vennimo
