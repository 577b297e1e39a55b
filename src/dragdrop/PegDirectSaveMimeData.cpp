#include "dragdrop/PegDirectSaveMimeData.h"

#include "dragdrop/ExternalImageDrop.h"
#include "dragdrop/PegFolderDelivery.h"
#include "platform/X11Selection.h"

namespace vennimo {

PegDirectSaveMimeData::PegDirectSaveMimeData(QStringList ids, QString suggestedName,
                                             std::shared_ptr<PegFolderDelivery> delivery, Answered answered)
    : m_ids(std::move(ids))
    , m_suggestedName(std::move(suggestedName))
    , m_delivery(std::move(delivery))
    , m_answered(std::move(answered)) {}

PegDirectSaveMimeData::~PegDirectSaveMimeData() {
    if (m_window && X11Selection::ownWindow(*m_window))
        X11Selection::deleteProperty(*m_window, ExternalImageDrop::kDirectSaveType);
}

bool PegDirectSaveMimeData::offerName() {
    if (m_window)
        return true;
    const std::optional<unsigned> owner = X11Selection::owner(kSelection);
    if (!owner || !X11Selection::ownWindow(*owner))
        return false;
    X11Selection::setProperty(*owner, ExternalImageDrop::kDirectSaveType, "text/plain",
                              m_suggestedName.toUtf8());
    m_window = owner;
    return true;
}

QByteArray PegDirectSaveMimeData::folderUri(const QByteArray& fileUri) {
    QByteArray uri = fileUri;
    while (uri.endsWith('\0'))
        uri.chop(1);
    // A NUL inside would end the name early for anything reading it as a C string: splitting the
    // file name off after it would hand over some other folder, so such a URI names none.
    if (uri.contains('\0'))
        return {};
    const qsizetype slash = uri.lastIndexOf('/');
    if (slash < 0)
        return uri;
    // "file:///name" names a file in the root folder.
    return uri.left(slash).endsWith("//") ? uri.left(slash + 1) : uri.left(slash);
}

QByteArray PegDirectSaveMimeData::answerFor(const QByteArray& fileUri) {
    if (!m_delivery)
        return QByteArrayLiteral("E");
    const QByteArray answer = m_delivery->answer(folderUri(fileUri));
    if (m_answered)
        m_answered(answer, m_delivery->lastError());
    return answer;
}

QStringList PegDirectSaveMimeData::formats() const {
    return {QString::fromLatin1(ExternalImageDrop::kDirectSaveType)};
}

bool PegDirectSaveMimeData::hasFormat(const QString& mimeType) const {
    return mimeType == QLatin1String(ExternalImageDrop::kDirectSaveType);
}

QVariant PegDirectSaveMimeData::retrieveData(const QString& mimeType, QMetaType) const {
    if (mimeType != QLatin1String(ExternalImageDrop::kDirectSaveType))
        return {};
    // Qt asks for the data only when a target requests the promise through the selection: the
    // target has written the destination onto the owner window just before.
    const std::optional<unsigned> window = m_window ? m_window : X11Selection::owner(kSelection);
    std::optional<QByteArray> uri;
    if (window && X11Selection::ownWindow(*window))
        uri = X11Selection::property(*window, ExternalImageDrop::kDirectSaveType,
                                     PegFolderDelivery::kMaxUriBytes + 1);
    auto* self = const_cast<PegDirectSaveMimeData*>(this);
    return self->answerFor(uri.value_or(QByteArray()));
}

} // namespace vennimo
