#pragma once

#include "platform/ClotheslineWindowPosition.h"
#include "platform/GalleryShortcut.h"
#include "platform/Result.h"

#include <QObject>
#include <QSettings>
#include <QString>
#include <QVariantMap>

#include <memory>
#include <optional>

namespace vennimo {

// The user's settings as typed values in one JSON file (a Bool stays a Bool). Nothing is
// registered with defaults: every reader applies its own default when a key is absent or holds
// another type, so a fresh installation stores nothing until the user changes a setting.
// Values are read from the file on demand, so another process's change is seen at the next
// read. Main thread only.
class UserDefaults : public QObject {
    Q_OBJECT

public:
    static constexpr auto kGalleryQuickOpenShortcutKey = "galleryQuickOpenShortcut";
    static constexpr auto kGalleryAlwaysOnTopKey = "GalleryAlwaysOnTop";
    static constexpr auto kClotheslineOffCenterPegKey = "ClotheslineOffCenterPeg";
    static constexpr auto kClotheslineStrictVerticalKey = "ClotheslineStrictVertical";
    static constexpr auto kClotheslineWindowPositionKey = "ClotheslineWindowPosition";
    static constexpr auto kSpaceKeyOpenerKey = "spaceKeyOpener";
    static constexpr auto kClotheslineLayerRenderingKey = "ClotheslineLayerRendering";
    // Larger files are not settings this application wrote.
    static constexpr qint64 kMaxFileBytes = 1 << 20;
    // How long a write waits for the settings file's lock before it gives up.
    static constexpr qint64 kLockWaitMs = 2000;

    // A store over the given file. A file that cannot be read as settings is moved aside (to
    // the same name with ".corrupt" and a number when needed) and reported by loadStatus(),
    // so the first write does not replace it with an empty store. While the file cannot be
    // read (it could not be moved aside, or turned unreadable later) nothing is written.
    explicit UserDefaults(const QString& filePath, QObject* parent = nullptr);
    ~UserDefaults() override;

    // The application's store, $XDG_CONFIG_HOME/VennimoGallery/defaults.json, made on first use.
    static UserDefaults& standard();
    static QString standardFilePath();

    QString filePath() const;
    Status loadStatus() const;
    // The last change's outcome: one that would make the file larger than kMaxFileBytes, whose
    // lock file cannot be taken within kLockWaitMs, or that the folder does not let through
    // (read-only, full), is refused (the file keeps its content) and reported here.
    Status writeStatus() const;

    bool contains(const QString& key) const;
    // Each answers nothing when the key is absent or holds another type.
    std::optional<bool> boolValue(const QString& key) const;
    std::optional<QString> stringValue(const QString& key) const;
    std::optional<QByteArray> dataValue(const QString& key) const;
    std::optional<QVariantMap> dictionaryValue(const QString& key) const;

    // Each writes at once and answers whether the file now holds the value (writeStatus() says
    // why not). changed(key) follows only a write that changed the stored value; after a
    // refused one, readers keep seeing what the file holds.
    bool setBool(const QString& key, bool value);
    bool setString(const QString& key, const QString& value);
    bool setData(const QString& key, const QByteArray& value);
    bool setDictionary(const QString& key, const QVariantMap& value);
    bool remove(const QString& key);

    // The application's keys with their defaults.
    GalleryShortcut galleryQuickOpenShortcut() const;
    bool setGalleryQuickOpenShortcut(const GalleryShortcut& shortcut);
    bool galleryAlwaysOnTop() const;
    bool setGalleryAlwaysOnTop(bool value);
    bool clotheslineOffCenterPeg() const;
    bool setClotheslineOffCenterPeg(bool value);
    bool clotheslineStrictVertical() const;
    bool setClotheslineStrictVertical(bool value);
    // Absent when incomplete, not finite or narrower than the rope window's minimum width.
    std::optional<ClotheslineWindowPosition> clotheslineWindowPosition() const;
    bool setClotheslineWindowPosition(const ClotheslineWindowPosition& position);
    std::optional<QString> spaceKeyOpener() const;
    bool clotheslineLayerRendering() const;

Q_SIGNALS:
    void changed(const QString& key);

private:
    QVariant read(const QString& key) const;
    bool write(const QString& key, const QVariant& value);
    bool refuse(Error error);

    QString m_filePath;
    Status m_loadStatus;
    Status m_writeStatus;
    bool m_writable = true;
    std::unique_ptr<QSettings> m_settings;
};

} // namespace vennimo
