#include "platform/UserDefaults.h"
#include "support/TestEnvironment.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSignalSpy>
#include <QStandardPaths>
#include <gtest/gtest.h>

#include <limits>

namespace vennimo {
namespace {

using test::readFile;
using test::writeFile;

QString defaultsPath(const QString& folder = QStringLiteral("config")) {
    return test::makeFolder(folder) + QStringLiteral("/VennimoGallery/defaults.json");
}

QJsonObject storedObject(const QString& path) {
    return QJsonDocument::fromJson(readFile(path)).object();
}

TEST(UserDefaults, EmptyStoreGivesEveryDefaultAndWritesNothing) {
    const QString path = defaultsPath();
    UserDefaults defaults(path);
    EXPECT_TRUE(defaults.loadStatus().ok());
    EXPECT_EQ(defaults.galleryQuickOpenShortcut(), GalleryShortcut{}) << "Control-Option-P";
    EXPECT_TRUE(defaults.galleryAlwaysOnTop());
    EXPECT_FALSE(defaults.clotheslineOffCenterPeg());
    EXPECT_TRUE(defaults.clotheslineStrictVertical());
    EXPECT_EQ(defaults.clotheslineWindowPosition(), std::nullopt);
    EXPECT_EQ(defaults.spaceKeyOpener(), std::nullopt);
    EXPECT_TRUE(defaults.clotheslineLayerRendering());
    EXPECT_FALSE(QFile::exists(path)) << "reading stores nothing";

    EXPECT_EQ(UserDefaults::standardFilePath(),
              QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
                  QStringLiteral("/VennimoGallery/defaults.json"));
    EXPECT_TRUE(UserDefaults::standardFilePath().startsWith(test::TestEnvironment::root()))
        << "tests never see the real settings";
    EXPECT_EQ(UserDefaults::standard().filePath(), UserDefaults::standardFilePath());
}

TEST(UserDefaults, ValuesKeepTheirTypesInTheFile) {
    const QString path = defaultsPath();
    {
        UserDefaults defaults(path);
        defaults.setGalleryAlwaysOnTop(false);
        defaults.setClotheslineOffCenterPeg(true);
        defaults.setString(QLatin1String(UserDefaults::kSpaceKeyOpenerKey), QStringLiteral("/usr/bin/gimp"));
        defaults.setGalleryQuickOpenShortcut(GalleryShortcut{0, 0x1100});
        defaults.setClotheslineWindowPosition({-120.5, 840, 1024});
    }
    const QJsonObject stored = storedObject(path);
    EXPECT_TRUE(stored.value(QLatin1String("GalleryAlwaysOnTop")).isBool());
    EXPECT_EQ(stored.value(QLatin1String("ClotheslineOffCenterPeg")).toBool(false), true);
    EXPECT_EQ(stored.value(QLatin1String("spaceKeyOpener")).toString(), QStringLiteral("/usr/bin/gimp"));
    const QJsonObject position = stored.value(QLatin1String("ClotheslineWindowPosition")).toObject();
    EXPECT_EQ(position.value(QLatin1String("x")).toDouble(), -120.5);
    EXPECT_EQ(position.value(QLatin1String("ropeY")).toDouble(), 840);
    EXPECT_EQ(position.value(QLatin1String("width")).toDouble(), 1024);
    const QJsonObject shortcut = stored.value(QLatin1String("galleryQuickOpenShortcut")).toObject();
    EXPECT_EQ(QByteArray::fromBase64(shortcut.value(QLatin1String("@data")).toString().toLatin1()),
              QByteArray(R"({"keyCode":0,"modifiers":4352})"))
        << "the shortcut is stored as the bytes of its JSON";

    UserDefaults reopened(path);
    EXPECT_FALSE(reopened.galleryAlwaysOnTop());
    EXPECT_TRUE(reopened.clotheslineOffCenterPeg());
    EXPECT_TRUE(reopened.clotheslineStrictVertical());
    EXPECT_EQ(reopened.spaceKeyOpener(), QStringLiteral("/usr/bin/gimp"));
    EXPECT_EQ(reopened.galleryQuickOpenShortcut(), (GalleryShortcut{0, 0x1100}));
    EXPECT_EQ(reopened.clotheslineWindowPosition(), (ClotheslineWindowPosition{-120.5, 840, 1024}));
    EXPECT_EQ(reopened.dataValue(QLatin1String("spaceKeyOpener")), std::nullopt) << "a string is not data";
    EXPECT_EQ(reopened.stringValue(QLatin1String("GalleryAlwaysOnTop")), std::nullopt);
}

TEST(UserDefaults, IllTypedValuesReadAsAbsent) {
    const QString path = defaultsPath();
    writeFile(path, R"({
        "GalleryAlwaysOnTop": "false",
        "ClotheslineOffCenterPeg": 1,
        "ClotheslineStrictVertical": "no",
        "ClotheslineLayerRendering": 0,
        "spaceKeyOpener": 5,
        "galleryQuickOpenShortcut": {"keyCode": 0, "modifiers": 4352},
        "ClotheslineWindowPosition": [1, 2, 3],
        "unrelated": null
    })");
    UserDefaults defaults(path);
    ASSERT_TRUE(defaults.loadStatus().ok());
    EXPECT_TRUE(defaults.galleryAlwaysOnTop());
    EXPECT_FALSE(defaults.clotheslineOffCenterPeg());
    EXPECT_TRUE(defaults.clotheslineStrictVertical());
    EXPECT_TRUE(defaults.clotheslineLayerRendering());
    EXPECT_EQ(defaults.spaceKeyOpener(), std::nullopt);
    EXPECT_EQ(defaults.galleryQuickOpenShortcut(), GalleryShortcut{}) << "an object, not data";
    EXPECT_EQ(defaults.clotheslineWindowPosition(), std::nullopt);
    EXPECT_FALSE(defaults.contains(QStringLiteral("unrelated")));

    writeFile(
        path,
        R"({"galleryQuickOpenShortcut": {"@data": "not base64!"}, "ClotheslineLayerRendering": false})");
    UserDefaults second(path);
    EXPECT_EQ(second.galleryQuickOpenShortcut(), GalleryShortcut{});
    EXPECT_FALSE(second.clotheslineLayerRendering()) << "the one way to draw prints in software";
}

TEST(UserDefaults, InvalidShortcutIsIgnoredAndLeftStored) {
    const QString path = defaultsPath();
    UserDefaults defaults(path);
    const QByteArray optionOnly = toJson(GalleryShortcut{35, 0x800});
    const QByteArray functionKey = toJson(GalleryShortcut{122, 0x1000});
    for (const QByteArray& data :
         {optionOnly, functionKey, QByteArray("{\"keyCode\":35}"), QByteArray("junk")}) {
        defaults.setData(QLatin1String(UserDefaults::kGalleryQuickOpenShortcutKey), data);
        EXPECT_EQ(defaults.galleryQuickOpenShortcut(), GalleryShortcut{}) << data.toStdString();
        EXPECT_EQ(UserDefaults(path).dataValue(QLatin1String(UserDefaults::kGalleryQuickOpenShortcutKey)),
                  data)
            << "left as stored";
    }
}

TEST(UserDefaults, WindowPositionNeedsThreeFiniteNumbersAndWidth760) {
    const QString path = defaultsPath();
    UserDefaults defaults(path);
    const QString key = QLatin1String(UserDefaults::kClotheslineWindowPositionKey);
    const double inf = std::numeric_limits<double>::infinity();
    const auto store = [&](QVariantMap map) {
        defaults.setDictionary(key, map);
        return defaults.clotheslineWindowPosition();
    };
    EXPECT_EQ(store({{"x", 10}, {"ropeY", 20}, {"width", 760}}), (ClotheslineWindowPosition{10, 20, 760}));
    EXPECT_EQ(store({{"x", 10}, {"ropeY", 20}, {"width", 759.5}}), std::nullopt) << "narrower than 760";
    EXPECT_EQ(store({{"x", 10}, {"width", 900}}), std::nullopt) << "incomplete";
    EXPECT_EQ(store({{"x", 10}, {"ropeY", "20"}, {"width", 900}}), std::nullopt) << "a string is no number";
    EXPECT_EQ(store({{"x", 10}, {"ropeY", true}, {"width", 900}}), std::nullopt) << "nor is a Bool";
    EXPECT_EQ(store({{"x", inf}, {"ropeY", 20}, {"width", 900}}), std::nullopt) << "not finite";
    EXPECT_EQ(store({{"x", 10}, {"ropeY", 20}, {"width", inf}}), std::nullopt);

    writeFile(path, R"({"ClotheslineWindowPosition": {"x": 1e999, "ropeY": 2, "width": 800}})");
    EXPECT_EQ(UserDefaults(path).clotheslineWindowPosition(), std::nullopt)
        << "an overflowing number in the file";
}

TEST(UserDefaults, ChangesAreAnnouncedAndSeenByOtherReaders) {
    const QString path = defaultsPath();
    UserDefaults defaults(path);
    UserDefaults other(path);
    EXPECT_TRUE(other.galleryAlwaysOnTop());

    QSignalSpy spy(&defaults, &UserDefaults::changed);
    defaults.setGalleryAlwaysOnTop(false);
    ASSERT_EQ(spy.count(), 1);
    EXPECT_EQ(spy.at(0).at(0).toString(), QStringLiteral("GalleryAlwaysOnTop"));
    EXPECT_FALSE(other.galleryAlwaysOnTop()) << "read from the file on demand";

    defaults.setGalleryAlwaysOnTop(false);
    EXPECT_EQ(spy.count(), 1) << "writing the same value changes nothing";
    defaults.setString(QLatin1String(UserDefaults::kGalleryAlwaysOnTopKey), QStringLiteral("false"));
    EXPECT_EQ(spy.count(), 2) << "a change of type is a change";
    EXPECT_TRUE(defaults.galleryAlwaysOnTop());

    defaults.remove(QLatin1String(UserDefaults::kGalleryAlwaysOnTopKey));
    EXPECT_EQ(spy.count(), 3);
    defaults.remove(QLatin1String(UserDefaults::kGalleryAlwaysOnTopKey));
    EXPECT_EQ(spy.count(), 3) << "removing an absent key changes nothing";
    EXPECT_FALSE(storedObject(path).contains(QLatin1String("GalleryAlwaysOnTop")));

    other.setClotheslineStrictVertical(false);
    EXPECT_FALSE(defaults.clotheslineStrictVertical());
}

TEST(UserDefaults, UnreadableFileIsKeptAsideAndReported) {
    const QString path = defaultsPath();
    const QByteArray broken = "{\"GalleryAlwaysOnTop\": fal";
    writeFile(path, broken);
    writeFile(path + QStringLiteral(".corrupt"), "an older broken file");
    {
        UserDefaults defaults(path);
        ASSERT_FALSE(defaults.loadStatus().ok());
        EXPECT_TRUE(defaults.loadStatus().error().message.contains(QStringLiteral(".corrupt-1")))
            << defaults.loadStatus().error().message.toStdString();
        EXPECT_TRUE(defaults.galleryAlwaysOnTop());
        defaults.setGalleryAlwaysOnTop(false);
    }
    EXPECT_EQ(readFile(path + QStringLiteral(".corrupt-1")), broken) << "kept byte for byte";
    EXPECT_EQ(readFile(path + QStringLiteral(".corrupt")), QByteArray("an older broken file"));
    EXPECT_FALSE(UserDefaults(path).galleryAlwaysOnTop()) << "new settings go to a fresh file";

    const QString other = defaultsPath(QStringLiteral("other"));
    writeFile(other, "[true, false]");
    EXPECT_FALSE(UserDefaults(other).loadStatus().ok()) << "the top level must be an object";
    writeFile(other, "{\"x\": \"" + QByteArray(UserDefaults::kMaxFileBytes, 'a') + "\"}");
    EXPECT_FALSE(UserDefaults(other).loadStatus().ok()) << "oversized";
    writeFile(other, "");
    EXPECT_TRUE(UserDefaults(other).loadStatus().ok()) << "an empty file is an empty store";

    // Spoilt while in use, by hand or by another program: left alone, defaults apply.
    UserDefaults live(other);
    live.setClotheslineOffCenterPeg(true);
    const QByteArray junk = "{ this is not JSON, nor the settings it once held }";
    writeFile(other, junk);
    EXPECT_FALSE(live.clotheslineOffCenterPeg());
    live.setGalleryAlwaysOnTop(false);
    EXPECT_EQ(readFile(other), junk) << "an unreadable file is never written over";
    writeFile(other, R"({"ClotheslineOffCenterPeg": true})");
    EXPECT_TRUE(live.clotheslineOffCenterPeg()) << "readable again";
    live.setGalleryAlwaysOnTop(false);
    EXPECT_FALSE(UserDefaults(other).galleryAlwaysOnTop()) << "and written again";
}

} // namespace
} // namespace vennimo
