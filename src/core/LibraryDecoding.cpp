#include "core/LibraryDecoding.h"

#include "core/JsonScanner.h"

namespace vennimo {

namespace {

template <typename T, typename Read>
bool optionalMember(JsonScanner& reader, const char* name, std::optional<T>& field, Read read) {
    if (!reader.peekKey(name))
        return true;
    T value{};
    if (!reader.key(name, false) || !(reader.*read)(value))
        return false;
    field = std::move(value);
    return true;
}

bool photosOrigin(JsonScanner& reader, PhotosOrigin& origin) {
    if (!reader.literal("{"))
        return false;
    const bool hasLibraryPath = reader.literal("\"libraryPath\":");
    if (hasLibraryPath) {
        origin.libraryPath.emplace();
        if (!reader.string(*origin.libraryPath))
            return false;
    }
    if (reader.literal(hasLibraryPath ? ",\"localIdentifier\":" : "\"localIdentifier\":")) {
        origin.localIdentifier.emplace();
        if (!reader.string(*origin.localIdentifier))
            return false;
    }
    return reader.literal("}");
}

bool photo(JsonScanner& reader, Photo& photo) {
    if (!reader.literal("{\"added\":") || !reader.number(photo.added) ||
        !optionalMember(reader, "\"baselineImported\":", photo.baselineImported, &JsonScanner::boolean) ||
        !optionalMember(reader, "\"created\":", photo.created, &JsonScanner::number) ||
        !reader.key("\"id\":", false) || !reader.string(photo.id) || !reader.key("\"modified\":", false) ||
        !reader.number(photo.modified) || !reader.key("\"path\":", false) || !reader.string(photo.path))
        return false;
    if (reader.peekKey("\"photosOrigin\":")) {
        PhotosOrigin origin;
        if (!reader.key("\"photosOrigin\":", false) || !photosOrigin(reader, origin))
            return false;
        photo.photosOrigin = std::move(origin);
    }
    return reader.key("\"size\":", false) && reader.integer(photo.size) && reader.key("\"source\":", false) &&
           reader.string(photo.source) &&
           optionalMember(reader, "\"sourceRoot\":", photo.sourceRoot, &JsonScanner::string) &&
           reader.key("\"thumbnail\":", false) && reader.string(photo.thumbnail) &&
           optionalMember(reader, "\"thumbnailModified\":", photo.thumbnailModified, &JsonScanner::number) &&
           optionalMember(reader, "\"usageID\":", photo.usageID, &JsonScanner::string) && reader.literal("}");
}

} // namespace

std::optional<Library> decodeLibrary(const QByteArray& bytes) {
    JsonScanner reader(bytes);
    Library library;
    if (!reader.literal("{\"initialized\":") || !reader.boolean(library.initialized))
        return std::nullopt;
    if (reader.literal(",\"pendingBaselineRoots\":[")) {
        QStringList roots;
        for (bool first = true; !reader.literal("]"); first = false) {
            QString root;
            if ((!first && !reader.literal(",")) || !reader.string(root))
                return std::nullopt;
            roots.append(std::move(root));
        }
        library.pendingBaselineRoots = std::move(roots);
    }
    if (!reader.literal(",\"photos\":["))
        return std::nullopt;
    // Every record, and nothing else, begins so (a quote inside a string is escaped).
    const QByteArrayView recordStart("{\"added\":");
    qsizetype records = 0;
    for (qsizetype at = bytes.indexOf(recordStart); at >= 0; at = bytes.indexOf(recordStart, at + 1))
        ++records;
    library.photos.reserve(records);
    for (bool first = true; !reader.literal("]"); first = false) {
        Photo record;
        if ((!first && !reader.literal(",")) || !photo(reader, record))
            return std::nullopt;
        library.photos.append(std::move(record));
    }
    if (!reader.literal("}") || !reader.atEnd())
        return std::nullopt;
    return library;
}

} // namespace vennimo
