#include "platform/UserDefaults.h"

#include "platform/FileIdentity.h"
#include "platform/FileMove.h"
#include "platform/Logging.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLockFile>
#include <QStandardPaths>

#include <cerrno>
#include <cmath>
#include <fcntl.h>
#include <sys/stat.h>

namespace vennimo {

namespace {

constexpr auto kDefaultsErrorDomain = "Vennimo.Defaults";
// JSON has no bytes: a data value is an object holding only this key with strict Base64.
constexpr auto kDataTag = "@data";

std::optional<QVariant> variantFromJson(const QJsonValue& value);

std::optional<QVariant> variantFromJsonObject(const QJsonObject& object) {
    if (object.size() == 1 && object.contains(QLatin1String(kDataTag))) {
        const QJsonValue tagged = object.value(QLatin1String(kDataTag));
        if (!tagged.isString())
            return std::nullopt;
        const auto decoded = QByteArray::fromBase64Encoding(tagged.toString().toLatin1(),
                                                            QByteArray::AbortOnBase64DecodingErrors);
        if (!decoded)
            return std::nullopt;
        return QVariant(decoded.decoded);
    }
    QVariantMap map;
    for (auto it = object.begin(); it != object.end(); ++it) {
        if (std::optional<QVariant> inner = variantFromJson(it.value()))
            map.insert(it.key(), *inner);
    }
    return QVariant(map);
}

std::optional<QVariant> variantFromJson(const QJsonValue& value) {
    switch (value.type()) {
    case QJsonValue::Bool:
        return QVariant(value.toBool());
    case QJsonValue::Double:
        return QVariant(value.toDouble());
    case QJsonValue::String:
        return QVariant(value.toString());
    case QJsonValue::Object:
        return variantFromJsonObject(value.toObject());
    case QJsonValue::Array: {
        QVariantList list;
        for (const QJsonValue& item : value.toArray()) {
            if (std::optional<QVariant> inner = variantFromJson(item))
                list.append(*inner);
        }
        return QVariant(list);
    }
    case QJsonValue::Null:
    case QJsonValue::Undefined:
        break;
    }
    return std::nullopt;
}

QJsonValue jsonFromVariant(const QVariant& value) {
    switch (value.typeId()) {
    case QMetaType::Bool:
        return value.toBool();
    case QMetaType::QString:
        return value.toString();
    case QMetaType::QByteArray:
        return QJsonObject{{QLatin1String(kDataTag), QString::fromLatin1(value.toByteArray().toBase64())}};
    case QMetaType::QVariantMap: {
        QJsonObject object;
        const QVariantMap map = value.toMap();
        for (auto it = map.begin(); it != map.end(); ++it)
            object.insert(it.key(), jsonFromVariant(it.value()));
        return object;
    }
    case QMetaType::QVariantList: {
        QJsonArray array;
        for (const QVariant& item : value.toList())
            array.append(jsonFromVariant(item));
        return array;
    }
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::Float:
    case QMetaType::Double:
        return value.toDouble();
    default:
        return QJsonValue::Null;
    }
}

bool parseSettings(const QByteArray& bytes, QSettings::SettingsMap& map) {
    if (bytes.size() > UserDefaults::kMaxFileBytes)
        return false;
    // An empty file is an empty store (QSettings creates one before its first write).
    if (bytes.trimmed().isEmpty())
        return true;
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(bytes, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return false;
    const QJsonObject object = document.object();
    for (auto it = object.begin(); it != object.end(); ++it) {
        if (std::optional<QVariant> value = variantFromJson(it.value()))
            map.insert(it.key(), *value);
    }
    return true;
}

bool readSettings(QIODevice& device, QSettings::SettingsMap& map) {
    return parseSettings(device.read(UserDefaults::kMaxFileBytes + 1), map);
}

QByteArray encodeSettings(const QSettings::SettingsMap& map) {
    QJsonObject object;
    for (auto it = map.begin(); it != map.end(); ++it) {
        const QJsonValue value = jsonFromVariant(it.value());
        if (!value.isNull())
            object.insert(it.key(), value);
    }
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

bool writeSettings(QIODevice& device, const QSettings::SettingsMap& map) {
    const QByteArray bytes = encodeSettings(map);
    // Never write what the next start would refuse to read: the old file stays.
    if (bytes.size() > UserDefaults::kMaxFileBytes)
        return false;
    return device.write(bytes) == bytes.size();
}

QSettings::Format jsonFormat() {
    static const QSettings::Format format =
        QSettings::registerFormat(QStringLiteral("json"), readSettings, writeSettings);
    return format;
}

bool isNumber(const QVariant& value) {
    switch (value.typeId()) {
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::Float:
    case QMetaType::Double:
        return true;
    default:
        return false;
    }
}

std::optional<double> finiteNumber(const QVariantMap& map, const QString& key) {
    const QVariant value = map.value(key);
    if (!isNumber(value))
        return std::nullopt;
    const double number = value.toDouble();
    return std::isfinite(number) ? std::optional(number) : std::nullopt;
}

// Opening a FIFO or a device under the file's name could block for good, so only a regular file
// (or none yet) is ever opened, as with the state files.
bool regularOrMissing(const QString& path) {
    const auto file = FileIdentity::readFollowingLinks(path);
    return file ? file->isRegularFile() : file.error().sysErrno == ENOENT;
}

// A missing file counts as readable: it is an empty store.
bool fileReadable(const QString& path) {
    if (!regularOrMissing(path))
        return false;
    // Non-blocking and checked again on what was opened, in case the name changed hands.
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return errno == ENOENT;
    QFile file;
    struct stat st {};
    if (!file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return false;
    }
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))
        return false;
    QSettings::SettingsMap probe;
    return readSettings(file, probe);
}

// Keeps an unreadable settings file beside the new one instead of losing it.
Result<QString> moveAside(const QString& path) {
    for (int attempt = 0; attempt < 100; ++attempt) {
        const QString target = path + QStringLiteral(".corrupt") +
                               (attempt == 0 ? QString() : QStringLiteral("-%1").arg(attempt));
        const Status moved = FileMove::moveNoReplace(path, target);
        if (moved)
            return target;
        if (!moved.error().isFileExists())
            return moved.error();
    }
    return Error::fromErrno(EEXIST, path);
}

// QSettings waits for its lock file without a bound, and cannot take one that is a folder or
// another process keeps: take it here first, for a moment, and give up when it does not come.
// What stays held past that is not a write of this program in progress.
Status lockFree(const QString& settingsPath) {
    const QString lockPath = settingsPath + QStringLiteral(".lock");
    const auto existing = FileIdentity::read(lockPath);
    const bool missing = !existing && existing.error().sysErrno == ENOENT;
    bool free = missing;
    if (!missing && existing && existing->isRegularFile()) {
        QLockFile lock(lockPath);
        free = lock.tryLock(int(UserDefaults::kLockWaitMs));
    }
    if (free)
        return {};
    const QString message = QStringLiteral("设置文件的锁 %1 无法取得，这次更改没有保存。").arg(lockPath);
    return Error::make(QString::fromLatin1(kDefaultsErrorDomain), 3, message);
}

} // namespace

UserDefaults::UserDefaults(const QString& filePath, QObject* parent)
    : QObject(parent)
    , m_filePath(filePath) {
    if (!fileReadable(filePath)) {
        const Result<QString> kept = moveAside(filePath);
        m_writable = kept.ok();
        const QString message =
            kept ? QStringLiteral("设置文件无法读取，已另存为 %1，设置恢复为默认值。").arg(kept.value())
                 : QStringLiteral("设置文件无法读取，设置恢复为默认值，更改暂不保存：%1").arg(filePath);
        m_loadStatus = Error::make(QString::fromLatin1(kDefaultsErrorDomain), 1, message);
        qCWarning(lcApp, "%s", qUtf8Printable(message));
    }
    m_settings = std::make_unique<QSettings>(filePath, jsonFormat());
}

UserDefaults::~UserDefaults() = default;

UserDefaults& UserDefaults::standard() {
    // Lives for the whole process so that late readers at shutdown still find it.
    static UserDefaults* defaults = new UserDefaults(standardFilePath());
    return *defaults;
}

QString UserDefaults::standardFilePath() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/VennimoGallery/defaults.json");
}

QString UserDefaults::filePath() const {
    return m_filePath;
}

Status UserDefaults::loadStatus() const {
    return m_loadStatus;
}

Status UserDefaults::writeStatus() const {
    return m_writeStatus;
}

QVariant UserDefaults::read(const QString& key) const {
    if (!regularOrMissing(m_filePath))
        return {};
    // Picks up a change another process wrote since the last read.
    m_settings->sync();
    return m_settings->value(key);
}

bool UserDefaults::refuse(Error error) {
    qCWarning(lcApp, "user defaults not written: %s", qUtf8Printable(error.message));
    m_writeStatus = std::move(error);
    return false;
}

bool UserDefaults::write(const QString& key, const QVariant& value) {
    const QString domain = QString::fromLatin1(kDefaultsErrorDomain);
    // Writing now would replace a file that cannot be read with this store's values alone.
    // Checked on the file itself: the settings object keeps an old read error, and its shared
    // cache may not notice a file spoilt within the same second.
    if (!m_writable || !fileReadable(m_filePath))
        return refuse(Error::make(
            domain, 5, QStringLiteral("设置文件 %1 无法读取，这次更改没有保存。").arg(m_filePath)));
    // Its status keeps the first error it met, also one of an earlier read: start clean so that
    // the status after this write speaks of this write.
    if (m_settings->status() != QSettings::NoError)
        m_settings = std::make_unique<QSettings>(m_filePath, jsonFormat());
    m_settings->sync();
    const QVariant old = m_settings->value(key);
    const bool same = old.isValid() == value.isValid() && old.typeId() == value.typeId() && old == value;
    if (same) {
        m_writeStatus = {};
        return true;
    }
    QSettings::SettingsMap next;
    for (const QString& stored : m_settings->allKeys())
        next.insert(stored, m_settings->value(stored));
    if (value.isValid())
        next.insert(key, value);
    else
        next.remove(key);
    if (encodeSettings(next).size() > kMaxFileBytes)
        return refuse(Error::make(domain, 2, QStringLiteral("设置内容超过 1 MB，这次更改没有保存。")));
    if (const Status lock = lockFree(m_filePath); !lock)
        return refuse(lock.error());
    m_writeStatus = {};
    QDir().mkpath(QFileInfo(m_filePath).absolutePath());
    if (value.isValid())
        m_settings->setValue(key, value);
    else
        m_settings->remove(key);
    m_settings->sync();
    if (m_settings->status() != QSettings::NoError) {
        // The settings object keeps a change it could not write and would answer it to every
        // reader: put the old value back, so this process sees what the file holds. Its next
        // sync writes that value again, which the file already has.
        if (old.isValid())
            m_settings->setValue(key, old);
        else
            m_settings->remove(key);
        m_settings = std::make_unique<QSettings>(m_filePath, jsonFormat());
        return refuse(Error::make(
            domain, 4, QStringLiteral("设置文件 %1 无法写入，这次更改没有保存。").arg(m_filePath)));
    }
    Q_EMIT changed(key);
    return true;
}

bool UserDefaults::contains(const QString& key) const {
    return read(key).isValid();
}

std::optional<bool> UserDefaults::boolValue(const QString& key) const {
    const QVariant value = read(key);
    return value.typeId() == QMetaType::Bool ? std::optional(value.toBool()) : std::nullopt;
}

std::optional<QString> UserDefaults::stringValue(const QString& key) const {
    const QVariant value = read(key);
    return value.typeId() == QMetaType::QString ? std::optional(value.toString()) : std::nullopt;
}

std::optional<QByteArray> UserDefaults::dataValue(const QString& key) const {
    const QVariant value = read(key);
    return value.typeId() == QMetaType::QByteArray ? std::optional(value.toByteArray()) : std::nullopt;
}

std::optional<QVariantMap> UserDefaults::dictionaryValue(const QString& key) const {
    const QVariant value = read(key);
    return value.typeId() == QMetaType::QVariantMap ? std::optional(value.toMap()) : std::nullopt;
}

bool UserDefaults::setBool(const QString& key, bool value) {
    return write(key, QVariant(value));
}

bool UserDefaults::setString(const QString& key, const QString& value) {
    return write(key, QVariant(value));
}

bool UserDefaults::setData(const QString& key, const QByteArray& value) {
    return write(key, QVariant(value));
}

bool UserDefaults::setDictionary(const QString& key, const QVariantMap& value) {
    return write(key, QVariant(value));
}

bool UserDefaults::remove(const QString& key) {
    return write(key, QVariant());
}

GalleryShortcut UserDefaults::galleryQuickOpenShortcut() const {
    // An invalid stored combination is ignored but left stored.
    if (std::optional<QByteArray> data = dataValue(QLatin1String(kGalleryQuickOpenShortcutKey))) {
        Result<GalleryShortcut> decoded = galleryShortcutFromJson(*data);
        if (decoded && decoded->isValid())
            return decoded.value();
    }
    return GalleryShortcut{};
}

bool UserDefaults::setGalleryQuickOpenShortcut(const GalleryShortcut& shortcut) {
    return setData(QLatin1String(kGalleryQuickOpenShortcutKey), toJson(shortcut));
}

bool UserDefaults::galleryAlwaysOnTop() const {
    return boolValue(QLatin1String(kGalleryAlwaysOnTopKey)).value_or(true);
}

bool UserDefaults::setGalleryAlwaysOnTop(bool value) {
    return setBool(QLatin1String(kGalleryAlwaysOnTopKey), value);
}

bool UserDefaults::clotheslineOffCenterPeg() const {
    return boolValue(QLatin1String(kClotheslineOffCenterPegKey)).value_or(false);
}

bool UserDefaults::setClotheslineOffCenterPeg(bool value) {
    return setBool(QLatin1String(kClotheslineOffCenterPegKey), value);
}

bool UserDefaults::clotheslineStrictVertical() const {
    return boolValue(QLatin1String(kClotheslineStrictVerticalKey)).value_or(true);
}

bool UserDefaults::setClotheslineStrictVertical(bool value) {
    return setBool(QLatin1String(kClotheslineStrictVerticalKey), value);
}

std::optional<ClotheslineWindowPosition> UserDefaults::clotheslineWindowPosition() const {
    const std::optional<QVariantMap> map = dictionaryValue(QLatin1String(kClotheslineWindowPositionKey));
    if (!map)
        return std::nullopt;
    const std::optional<double> x = finiteNumber(*map, QStringLiteral("x"));
    const std::optional<double> ropeY = finiteNumber(*map, QStringLiteral("ropeY"));
    const std::optional<double> width = finiteNumber(*map, QStringLiteral("width"));
    if (!x || !ropeY || !width || *width < ClotheslineWindowPosition::kMinimumWidthPoints)
        return std::nullopt;
    return ClotheslineWindowPosition{*x, *ropeY, *width};
}

bool UserDefaults::setClotheslineWindowPosition(const ClotheslineWindowPosition& position) {
    return setDictionary(QLatin1String(kClotheslineWindowPositionKey),
                         QVariantMap{{QStringLiteral("x"), position.x},
                                     {QStringLiteral("ropeY"), position.ropeY},
                                     {QStringLiteral("width"), position.width}});
}

std::optional<QString> UserDefaults::spaceKeyOpener() const {
    return stringValue(QLatin1String(kSpaceKeyOpenerKey));
}

bool UserDefaults::clotheslineLayerRendering() const {
    return boolValue(QLatin1String(kClotheslineLayerRenderingKey)).value_or(true);
}

} // namespace vennimo
