#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

namespace vennimo::SvgOwnBytes {

// The document at `path`, inflated when it is gzip-compressed (svgz, up to a layer inside that),
// read through a descriptor that never waits: nothing when it is not a regular file, cannot be
// read, or it or a layer inflated from it passes maxBytes.
std::optional<QByteArray> read(const QString& path, qint64 maxBytes);

// The document as Qt's SVG plugin would draw it from its own bytes alone. The plugin follows an
// <image>'s link to any file, relative to the document's folder or absolute, and an
// <?xml-stylesheet?>'s to a style sheet, both opened by name (a FIFO or a terminal holds it until
// it is killed), and draws an SVG embedded as a data: picture with the same trust. Those links
// are left out, so what they name draws as absent; a document without any is returned as it is.
QByteArray withoutOutsideReferences(const QByteArray& document);

} // namespace vennimo::SvgOwnBytes
