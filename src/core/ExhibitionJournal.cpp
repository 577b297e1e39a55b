#include "core/ExhibitionJournal.h"

#include "platform/JsonFile.h"

#include <QFile>
#include <QJsonObject>

#include <cerrno>
#include <sys/stat.h>

namespace vennimo {

const QStringList& ExhibitionJournal::files() {
    static const QStringList names{QStringLiteral("clothesline-positions.json"),
                                   QStringLiteral("clothesline.json"), QStringLiteral("exhibition.json")};
    return names;
}

QString ExhibitionJournal::path(const QString& storage) {
    return storage + QLatin1Char('/') + QLatin1String(kExhibitionJournalFileName);
}

QByteArray ExhibitionJournal::encode(const JournalData& data) {
    QJsonObject object;
    for (auto it = data.cbegin(); it != data.cend(); ++it)
        object.insert(it.key(), QString::fromLatin1(it.value().toBase64()));
    return JsonFile::encode(object);
}

Result<JournalData> ExhibitionJournal::decode(const QByteArray& bytes) {
    auto object = JsonFile::parse(bytes);
    if (!object)
        return object.error();
    JournalData data;
    for (auto it = object->constBegin(); it != object->constEnd(); ++it) {
        if (!it.value().isString())
            return decodeError(it.key());
        auto content = QByteArray::fromBase64Encoding(it.value().toString().toLatin1(),
                                                      QByteArray::AbortOnBase64DecodingErrors);
        if (!content)
            return decodeError(it.key());
        data.insert(it.key(), *content);
    }
    return data;
}

Status ExhibitionJournal::write(const QString& journalPath, const JournalData& data) {
    return JsonFile::writeAtomically(journalPath, encode(data));
}

Status ExhibitionJournal::create(const QString& storage, const JournalData& data) {
    if (exists(storage))
        return pendingError();
    return write(path(storage), data);
}

Error ExhibitionJournal::pendingError() {
    return Error::failure(QStringLiteral("上次的展览保存尚未完成，请重启应用恢复。"));
}

bool ExhibitionJournal::exists(const QString& storage) {
    struct stat st {};
    // Anything under the name counts, even what cannot be inspected: refusing is the safe answer.
    return ::lstat(QFile::encodeName(path(storage)).constData(), &st) == 0 || errno != ENOENT;
}

} // namespace vennimo
