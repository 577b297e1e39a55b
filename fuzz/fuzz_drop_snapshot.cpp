#include "FuzzSupport.h"

#include "dragdrop/ExternalImageDrop.h"

#include <QByteArray>
#include <QMimeData>
#include <QStringList>

#include <cstddef>
#include <cstdint>

// The input is a list of drag entries: one byte choosing the type, two bytes of length, the value.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    vennimo::fuzz::initialize();
    static const QStringList types{QStringLiteral("text/uri-list"),
                                   QStringLiteral("text/x-moz-url"),
                                   QStringLiteral("_NETSCAPE_URL"),
                                   QStringLiteral("image/png"),
                                   QStringLiteral("image/jpeg"),
                                   QStringLiteral("image/heic"),
                                   QStringLiteral("application/pdf"),
                                   QStringLiteral("application/octet-stream"),
                                   QStringLiteral("XdndDirectSave0"),
                                   QStringLiteral("application/x-com.apple.photos.object-reference.asset"),
                                   QStringLiteral("application/x-com.apple.photos.other"),
                                   QStringLiteral("text/plain")};
    QMimeData mime;
    std::size_t at = 0;
    while (at + 3 <= size) {
        const QString& type = types[data[at] % types.size()];
        const std::size_t length =
            std::min<std::size_t>(size - at - 3, std::size_t(data[at + 1]) << 8 | data[at + 2]);
        mime.setData(type, QByteArray(reinterpret_cast<const char*>(data + at + 3), qsizetype(length)));
        at += 3 + length;
    }
    (void)vennimo::ExternalImageDrop::canRead(mime);
    const auto snapshot = vennimo::ExternalImageDrop::snapshot(
        mime, [](const QMimeData&) { return QList<std::shared_ptr<vennimo::FilePromiseReceiver>>{}; });
    if (snapshot.items.size() > vennimo::ExternalImageDrop::kMaxDropItems)
        __builtin_trap();
    return 0;
}
