#include "core/LibraryEncoding.h"

#include <charconv>
#include <cmath>
#include <cstdio>

namespace vennimo {

namespace {

void appendEscaped(QByteArray& out, unsigned char byte) {
    switch (byte) {
    case '"':
        out += "\\\"";
        break;
    case '\\':
        out += "\\\\";
        break;
    case '\b':
        out += "\\b";
        break;
    case '\f':
        out += "\\f";
        break;
    case '\n':
        out += "\\n";
        break;
    case '\r':
        out += "\\r";
        break;
    case '\t':
        out += "\\t";
        break;
    default: {
        char escaped[8];
        std::snprintf(escaped, sizeof escaped, "\\u%04x", byte);
        out += escaped;
    }
    }
}

void appendString(QByteArray& out, const QString& text) {
    const QByteArray utf8 = text.toUtf8();
    out += '"';
    // Runs of bytes that need no escape are copied whole.
    qsizetype run = 0;
    for (qsizetype i = 0; i < utf8.size(); ++i) {
        const auto byte = static_cast<unsigned char>(utf8[i]);
        if (byte >= 0x20 && byte != '"' && byte != '\\')
            continue;
        out.append(utf8.constData() + run, i - run);
        appendEscaped(out, byte);
        run = i + 1;
    }
    out.append(utf8.constData() + run, utf8.size() - run);
    out += '"';
}

void appendDouble(QByteArray& out, double value) {
    // JSON has no infinities; QJsonDocument writes them as null too.
    if (!std::isfinite(value)) {
        out += "null";
        return;
    }
    char buffer[64];
    const auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, value);
    out.append(buffer, ec == std::errc() ? end - buffer : 0);
}

// Appends `"key":` with the separating comma when the object already has members.
void appendKey(QByteArray& out, bool& first, const char* key) {
    if (!first)
        out += ',';
    first = false;
    out += '"';
    out += key;
    out += "\":";
}

void appendPhotosOrigin(QByteArray& out, const PhotosOrigin& origin) {
    bool first = true;
    out += '{';
    if (origin.libraryPath) {
        appendKey(out, first, "libraryPath");
        appendString(out, *origin.libraryPath);
    }
    if (origin.localIdentifier) {
        appendKey(out, first, "localIdentifier");
        appendString(out, *origin.localIdentifier);
    }
    out += '}';
}

void appendPhoto(QByteArray& out, const Photo& photo) {
    bool first = true;
    out += '{';
    appendKey(out, first, "added");
    appendDouble(out, photo.added);
    if (photo.baselineImported) {
        appendKey(out, first, "baselineImported");
        out += *photo.baselineImported ? "true" : "false";
    }
    if (photo.created) {
        appendKey(out, first, "created");
        appendDouble(out, *photo.created);
    }
    appendKey(out, first, "id");
    appendString(out, photo.id);
    appendKey(out, first, "modified");
    appendDouble(out, photo.modified);
    appendKey(out, first, "path");
    appendString(out, photo.path);
    if (photo.photosOrigin) {
        appendKey(out, first, "photosOrigin");
        appendPhotosOrigin(out, *photo.photosOrigin);
    }
    appendKey(out, first, "size");
    out += QByteArray::number(photo.size);
    appendKey(out, first, "source");
    appendString(out, photo.source);
    if (photo.sourceRoot) {
        appendKey(out, first, "sourceRoot");
        appendString(out, *photo.sourceRoot);
    }
    appendKey(out, first, "thumbnail");
    appendString(out, photo.thumbnail);
    if (photo.thumbnailModified) {
        appendKey(out, first, "thumbnailModified");
        appendDouble(out, *photo.thumbnailModified);
    }
    if (photo.usageID) {
        appendKey(out, first, "usageID");
        appendString(out, *photo.usageID);
    }
    out += '}';
}

} // namespace

QByteArray encodeLibrary(const Library& library) {
    QByteArray out;
    out.reserve(64 + library.photos.size() * 400);
    out += "{\"initialized\":";
    out += library.initialized ? "true" : "false";
    if (library.pendingBaselineRoots) {
        out += ",\"pendingBaselineRoots\":[";
        for (qsizetype i = 0; i < library.pendingBaselineRoots->size(); ++i) {
            if (i > 0)
                out += ',';
            appendString(out, library.pendingBaselineRoots->at(i));
        }
        out += ']';
    }
    out += ",\"photos\":[";
    for (qsizetype i = 0; i < library.photos.size(); ++i) {
        if (i > 0)
            out += ',';
        appendPhoto(out, library.photos[i]);
    }
    out += "]}";
    return out;
}

} // namespace vennimo
