#pragma once

#include "core/Photo.h"
#include "dragdrop/PegDirectSaveMimeData.h"

#include <QList>
#include <QStringList>

#include <memory>
#include <optional>

namespace vennimo {

class PegFolderDelivery;

// What a drag of prints lifted by their pegs carries once it leaves for the system: the photos'
// ids in item order with the pressed print's first, and the name a file manager is offered for
// the promised file (the pressed print's own file name).
class PegNativePayload {
public:
    // Nothing for a leader index out of range, no photos, a photo without an id or the same photo
    // twice.
    static std::optional<PegNativePayload> make(const QList<Photo>& photos, qsizetype leaderIndex);

    const QStringList& ids() const { return m_ids; }
    const QString& suggestedName() const { return m_suggestedName; }

    std::unique_ptr<PegDirectSaveMimeData> makeMimeData(std::shared_ptr<PegFolderDelivery> delivery,
                                                        PegDirectSaveMimeData::Answered answered) const;
    // Whether the running drag carries exactly this payload, and nothing a target could take
    // instead of the promise.
    bool complete(const QMimeData& data) const;

private:
    QStringList m_ids;
    QString m_suggestedName;
};

} // namespace vennimo
