#pragma once

#include "core/PhotoIdentity.h"
#include "dragdrop/ExternalImageDrop.h"
#include "dragdrop/FilePromiseReceiver.h"
#include "dragdrop/PromisedImage.h"
#include "platform/FileIdentity.h"
#include "support/TestEnvironment.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QImageWriter>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>
#include <QtEndian>

#include <future>
#include <ostream>

inline void PrintTo(const QString& text, std::ostream* os) {
    *os << '"' << text.toStdString() << '"';
}

namespace vennimo::test {

using namespace Qt::StringLiterals;

using Source = ExternalImageDrop::Source;
using Items = QList<QList<Source>>;

inline const QString kSizeMessage = u"图片为空或超过 64 MB。"_s;
inline const QString kNotImageMessage = u"来源提供的内容不是可读取的图片。"_s;
inline const QString kNoDataMessage = u"来源应用没有提供图片数据。"_s;

inline QString written(const QString& path, const QByteArray& bytes) {
    writeFile(path, bytes);
    return path;
}

// The photo record of the file at `path`, as the index would make it.
inline Photo photoOf(const QString& path) {
    const auto id = currentIdentity(path);
    const auto file = FileIdentity::read(path);
    return {
        .id = id->id, .path = path, .modified = file->modified, .size = file->size, .created = id->created};
}

template <class T>
QString message(const vennimo::Result<T>& result) {
    return result.ok() ? u"<ok>"_s : result.error().message;
}

inline QByteArray encoded(const char* format, int width = 8, int height = 6, QColor color = Qt::darkCyan) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter(&buffer, format).write(makeImage(width, height, color));
    return bytes;
}

inline QByteArray pngBytes(int width = 8, int height = 6, QColor color = Qt::darkCyan) {
    return encoded("png", width, height, color);
}

// A real PNG whose header chunk claims another size.
inline QByteArray pngHeaderClaiming(quint32 width, quint32 height) {
    QByteArray png = pngBytes(1, 1);
    qToBigEndian(width, png.data() + 16);
    qToBigEndian(height, png.data() + 20);
    quint32 crc = 0xFFFFFFFFu;
    for (char ch : png.mid(12, 17)) {
        crc ^= quint8(ch);
        for (int k = 0; k < 8; ++k)
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    qToBigEndian(~crc, png.data() + 29);
    return png;
}

inline QByteArray pdfBytes(int pages, QSizeF pointSize) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QPdfWriter writer(&buffer);
    writer.setPageSize(QPageSize(pointSize, QPageSize::Point));
    writer.setPageMargins(QMarginsF());
    QPainter painter(&writer);
    for (int page = 0; page < pages; ++page) {
        if (page > 0)
            writer.newPage();
        painter.fillRect(QRectF(0, 0, 100, 100), Qt::red);
    }
    painter.end();
    return bytes;
}

// Runs `work` off the main thread, as the application does, while the main thread serves its
// events (a loopback server's, say).
template <class Work>
auto offMain(Work work) {
    auto future = std::async(std::launch::async, std::move(work));
    while (future.wait_for(std::chrono::milliseconds(1)) != std::future_status::ready)
        QCoreApplication::processEvents();
    return future.get();
}

inline ExternalImageDrop::Result materializeOffMain(const ExternalImageDrop::Snapshot& snapshot,
                                                    const ExternalImageDrop::ImportOptions& options = {}) {
    return offMain([&] { return ExternalImageDrop::materialize(snapshot, storageFolder(), options); });
}

// A promise source played by the test: it announces names and, when asked to receive, runs the
// script with the folder and the reader.
struct FakePromiseReceiver : FilePromiseReceiver {
    using Script = std::function<void(const QString& directory, Reader reader)>;
    FakePromiseReceiver(QStringList names, Script script)
        : names(std::move(names))
        , script(std::move(script)) {}
    QStringList fileNames() const override { return names; }
    void receive(const QString& directory, Reader reader) override { script(directory, std::move(reader)); }
    QStringList names;
    Script script;
};

// A source that declines, as browsers answer an X Direct Save request.
inline const FakePromiseReceiver::Script kDecline = [](const QString&, FilePromiseReceiver::Reader reader) {
    reader(Error::failure(u"F"_s));
};

inline Source promised(QStringList names, FakePromiseReceiver::Script script) {
    return Source::fromPromise(std::make_shared<PromisedImage>(
        std::make_shared<FakePromiseReceiver>(std::move(names), std::move(script)),
        PromiseDirectory::create().value()));
}

} // namespace vennimo::test
