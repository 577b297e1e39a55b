#include "dragdrop/XdsPromiseReceiver.h"

#include "dragdrop/ExternalImageDrop.h"
#include "platform/X11Connection.h"
#include "platform/X11DropTime.h"
#include "platform/X11SelectionReader.h"

#include <QMimeData>
#include <QUrl>

#include <cstdlib>
#include <string>
#include <xcb/xcb.h>

namespace vennimo {

namespace {

constexpr auto kDefaultName = "dropped-image";

Error noFile() {
    return Error::failure(QStringLiteral("来源应用没有生成图片文件。"));
}

} // namespace

QString XdsPromiseReceiver::safeFileName(const QByteArray& suggested) {
    QByteArray name = suggested;
    if (const qsizetype nul = name.indexOf('\0'); nul >= 0)
        name.truncate(nul);
    QString text = QString::fromUtf8(name);
    text = text.mid(text.lastIndexOf(QLatin1Char('/')) + 1);
    text = text.mid(text.lastIndexOf(QLatin1Char('\\')) + 1);
    // Whole code points, so that characters beyond the first plane (emoji) survive.
    std::u32string kept;
    for (uint c : text.toUcs4())
        if (QChar::isPrint(char32_t(c)))
            kept.push_back(char32_t(c));
    QString clean = QString::fromUcs4(kept.data(), qsizetype(kept.size()));
    // Spaces around a leading dot must not leave a hidden name behind.
    for (QString previous; previous != clean;) {
        previous = clean;
        clean = clean.trimmed();
        while (clean.startsWith(QLatin1Char('.')))
            clean.remove(0, 1);
    }
    if (clean.toUtf8().size() > kMaxNameBytes) {
        std::u32string points;
        for (uint c : clean.toUcs4())
            points.push_back(char32_t(c));
        qsizetype bytes = clean.toUtf8().size();
        while (bytes > kMaxNameBytes) {
            bytes -= QString::fromUcs4(&points.back(), 1).toUtf8().size();
            points.pop_back();
        }
        clean = QString::fromUcs4(points.data(), qsizetype(points.size())).trimmed();
    }
    return clean.isEmpty() ? QString::fromLatin1(kDefaultName) : clean;
}

std::shared_ptr<XdsPromiseReceiver> XdsPromiseReceiver::forCurrentDrop(const QMimeData& data,
                                                                       QDeadlineTimer deadline) {
    xcb_connection_t* c = X11Connection::get();
    if (c == nullptr || !data.hasFormat(QLatin1String(ExternalImageDrop::kDirectSaveType)))
        return nullptr;
    // The drag source's window owns the drop's selection and carries the suggested name.
    xcb_get_selection_owner_reply_t* owner = xcb_get_selection_owner_reply(
        c, xcb_get_selection_owner(c, X11Connection::atom(c, "XdndSelection")), nullptr);
    const xcb_window_t window = owner ? owner->owner : xcb_window_t(XCB_WINDOW_NONE);
    std::free(owner);
    // A drag of our own (a peg carrying an original) answers the promise by moving the file into
    // the folder we name: never ask that of it, the drop folder is deleted after use.
    const xcb_setup_t* setup = xcb_get_setup(c);
    if (window == XCB_WINDOW_NONE || (window & ~setup->resource_id_mask) == setup->resource_id_base)
        return nullptr;
    xcb_get_property_reply_t* property = xcb_get_property_reply(
        c,
        xcb_get_property(c, 0, window, X11Connection::atom(c, ExternalImageDrop::kDirectSaveType),
                         XCB_GET_PROPERTY_TYPE_ANY, 0, kMaxNameBytes),
        nullptr);
    if (property == nullptr)
        return nullptr;
    QByteArray suggested;
    if (property->format == 8)
        suggested = QByteArray(static_cast<const char*>(xcb_get_property_value(property)),
                               xcb_get_property_value_length(property));
    std::free(property);
    return std::shared_ptr<XdsPromiseReceiver>(
        new XdsPromiseReceiver(data, window, safeFileName(suggested), deadline));
}

void XdsPromiseReceiver::receive(const QString& directory, Reader reader) {
    xcb_connection_t* c = X11Connection::get();
    if (c == nullptr || m_data == nullptr) {
        reader(noFile());
        return;
    }
    const QString path = directory + QLatin1Char('/') + m_name;
    const QByteArray uri = QUrl::fromLocalFile(path).toEncoded();
    const xcb_atom_t directSave = X11Connection::atom(c, ExternalImageDrop::kDirectSaveType);
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, m_window, directSave, X11Connection::atom(c, "text/plain"),
                        8, uint32_t(uri.size()), uri.constData());
    xcb_flush(c);
    QByteArray answer = this->answer();
    m_data = nullptr;
    if (const qsizetype nul = answer.indexOf('\0'); nul >= 0)
        answer.truncate(nul);
    xcb_delete_property(c, m_window, directSave);
    xcb_flush(c);
    if (answer.trimmed() == "S")
        reader(path);
    else
        reader(noFile());
}

QByteArray XdsPromiseReceiver::answer() {
    const std::optional<std::uint32_t> time = X11DropTime::last();
    std::unique_ptr<X11SelectionReader> reader =
        m_deadline.isForever() || !time ? nullptr : X11SelectionReader::open();
    if (!reader)
        return m_data->data(QLatin1String(ExternalImageDrop::kDirectSaveType));
    // The source reads the folder we named from its window as soon as it is asked: the name must
    // be there before the request, which goes over another connection.
    xcb_connection_t* c = X11Connection::get();
    std::free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));
    return reader->read("XdndSelection", ExternalImageDrop::kDirectSaveType, *time, m_deadline, kMaxNameBytes)
        .value_or(QByteArray());
}

} // namespace vennimo
