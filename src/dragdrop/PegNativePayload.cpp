#include "dragdrop/PegNativePayload.h"

#include "dragdrop/ExternalImageDrop.h"

#include <QFileInfo>
#include <QSet>

namespace vennimo {

std::optional<PegNativePayload> PegNativePayload::make(const QList<Photo>& photos, qsizetype leaderIndex) {
    if (photos.isEmpty() || leaderIndex < 0 || leaderIndex >= photos.size())
        return std::nullopt;
    PegNativePayload payload;
    QSet<QString> seen;
    payload.m_ids.append(photos[leaderIndex].id);
    for (qsizetype i = 0; i < photos.size(); ++i)
        if (i != leaderIndex)
            payload.m_ids.append(photos[i].id);
    for (const QString& id : std::as_const(payload.m_ids)) {
        if (id.isEmpty() || seen.contains(id))
            return std::nullopt;
        seen.insert(id);
    }
    payload.m_suggestedName = QFileInfo(photos[leaderIndex].path).fileName();
    return payload;
}

std::unique_ptr<PegDirectSaveMimeData>
PegNativePayload::makeMimeData(std::shared_ptr<PegFolderDelivery> delivery,
                               PegDirectSaveMimeData::Answered answered) const {
    return std::make_unique<PegDirectSaveMimeData>(m_ids, m_suggestedName, std::move(delivery),
                                                   std::move(answered));
}

bool PegNativePayload::complete(const QMimeData& data) const {
    const auto* own = dynamic_cast<const PegDirectSaveMimeData*>(&data);
    return own && own->ids() == m_ids && own->delivery() &&
           data.formats() == QStringList{QString::fromLatin1(ExternalImageDrop::kDirectSaveType)};
}

} // namespace vennimo
