#pragma once

#include "dragdrop/ExternalImageDrop.h"
#include "dragdrop/FilePromiseReceiver.h"

#include <QByteArray>
#include <QColor>
#include <QSizeF>

#include <functional>

#include <ostream>

inline void PrintTo(const QString& text, std::ostream* os) {
    *os << '"' << text.toStdString() << '"';
}

namespace vennimo::test {

QByteArray pngBytes(int width = 8, int height = 6, QColor color = Qt::darkCyan);
QByteArray jpegBytes(int width = 8, int height = 6);
QByteArray tiffBytes(int width = 8, int height = 6);
// A PNG signature and header chunk claiming the size, with no pixel data at all.
QByteArray pngHeaderClaiming(quint32 width, quint32 height);
QByteArray pdfBytes(int pages, QSizeF pointSize);

ExternalImageDrop::Result materializeOffMain(const ExternalImageDrop::Snapshot& snapshot,
                                             const QString& storage,
                                             const ExternalImageDrop::ImportOptions& options = {});

// A promise source played by the test: it announces names and, when asked to receive, runs the
// script with the folder and the reader.
class FakePromiseReceiver : public FilePromiseReceiver {
public:
    using Script = std::function<void(const QString& directory, Reader reader)>;
    FakePromiseReceiver(QStringList names, Script script)
        : m_names(std::move(names))
        , m_script(std::move(script)) {}
    QStringList fileNames() const override { return m_names; }
    void receive(const QString& directory, Reader reader) override { m_script(directory, std::move(reader)); }

private:
    QStringList m_names;
    Script m_script;
};

} // namespace vennimo::test
