#include "model/SpaceKeyOpener.h"
#include "RopeModelFixture.h"
#include "platform/UserDefaults.h"

#include <QTest>
#include <gtest/gtest.h>

using namespace vennimo;
using namespace vennimo::test;

TEST(SpaceKeyOpener, ReadsAndWritesItsStoredForm) {
    struct Case {
        std::optional<QString> stored;
        SpaceKeyOpener opener;
    };
    for (const Case& c :
         {Case{std::nullopt, SpaceKeyOpener::preview()}, Case{"preview", SpaceKeyOpener::preview()},
          Case{"default", SpaceKeyOpener::defaultApp()},
          Case{"/usr/share/applications/viewer.desktop",
               SpaceKeyOpener::app("/usr/share/applications/viewer.desktop")},
          Case{"/gone/app.desktop", SpaceKeyOpener::app("/gone/app.desktop")},
          Case{"", SpaceKeyOpener::preview()}, Case{"viewer.desktop", SpaceKeyOpener::preview()},
          Case{"Default", SpaceKeyOpener::preview()}})
        EXPECT_EQ(SpaceKeyOpener::fromStoredValue(c.stored), c.opener)
            << c.stored.value_or("(none)").toStdString();

    UserDefaults defaults(makeFolder("defaults") + "/defaults.json");
    const QString key = UserDefaults::kSpaceKeyOpenerKey;
    SpaceKeyOpener::app("/opt/viewer.desktop").save(defaults);
    EXPECT_EQ(defaults.stringValue(key), "/opt/viewer.desktop");
    EXPECT_EQ(SpaceKeyOpener::load(defaults), SpaceKeyOpener::app("/opt/viewer.desktop"));
    SpaceKeyOpener::defaultApp().save(defaults);
    EXPECT_EQ(defaults.stringValue(key), "default");
    SpaceKeyOpener::preview().save(defaults);
    EXPECT_EQ(defaults.stringValue(key), std::nullopt) << "the preview removes the key";
}

TEST(SpaceKeyOpener, OpensAllPhotosInOneLaunchInOrderAndMarksThemOnlyWhenItSucceeded) {
    RopeModel rope(3);
    GalleryModel& model = *rope;
    QList<std::pair<QString, QStringList>> launches;
    std::function<void(std::optional<Error>)> finish;
    SpaceKeyLaunchSeams& seams = model.spaceKeyLaunch();
    seams.applicationExists = [](const QString& app) { return app == "/apps/viewer.desktop"; };
    seams.displayName = [](const QString&) { return QString("Viewer.app"); };
    seams.openWithApplication = [&](const QString& app, const QStringList& files, auto done) {
        launches.append({app, files});
        finish = done;
    };
    const QList<Photo> photos{rope.photos[2], rope.photos[0], rope.photos[1]};

    model.openWithSpaceKeyApp(photos, SpaceKeyOpener::preview());
    model.openWithSpaceKeyApp({}, SpaceKeyOpener::app("/apps/viewer.desktop"));
    EXPECT_TRUE(launches.isEmpty()) << "the preview and an empty list open nothing";

    model.openWithSpaceKeyApp(photos, SpaceKeyOpener::app("/apps/gone.desktop"));
    EXPECT_TRUE(launches.isEmpty());
    EXPECT_EQ(model.actionError(), "找不到空格键设置的应用，请在设置 › 快捷键中重新选择。");
    model.dismissErrors();

    model.openWithSpaceKeyApp(photos, SpaceKeyOpener::app("/apps/viewer.desktop"));
    ASSERT_EQ(launches.size(), 1) << "one launch for all";
    EXPECT_EQ(launches[0].second, (QStringList{photos[0].path, photos[1].path, photos[2].path}));
    finish(Error::make("Vennimo.Launch", 3, "程序无法启动。"));
    QCoreApplication::processEvents();
    EXPECT_EQ(model.actionError(), "无法用 Viewer 打开：程序无法启动。");
    EXPECT_TRUE(model.usedCopyIDs().isEmpty()) << "a failed launch marks nothing";

    model.openWithSpaceKeyApp(photos, SpaceKeyOpener::app("/apps/viewer.desktop"));
    finish(std::nullopt);
    EXPECT_TRUE(model.usedCopyIDs().isEmpty()) << "the answer is taken on the main loop";
    QCoreApplication::processEvents();
    EXPECT_EQ(model.usedCopyIDs().size(), 3);

    // The default application: each file on its own, one that fails is passed over silently.
    RopeModel other(3);
    QStringList opened;
    other->spaceKeyLaunch().openWithDefault = [&](const QString& path) {
        opened.append(path);
        return path != other.photos[1].path;
    };
    other->openWithSpaceKeyApp(other.photos, SpaceKeyOpener::defaultApp());
    EXPECT_EQ(opened, (QStringList{other.photos[0].path, other.photos[1].path, other.photos[2].path}));
    EXPECT_EQ(other->usedCopyIDs(),
              (QSet<QString>{other.photos[0].recordKey(), other.photos[2].recordKey()}));
    EXPECT_EQ(other->actionError(), std::nullopt);
}
