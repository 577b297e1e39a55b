#include "shell/GalleryWindowLayer.h"
#include "platform/UserDefaults.h"
#include "shell/UpdateWindowPresenter.h"

#include <QWidget>
#include <gtest/gtest.h>

#include <memory>

using namespace vennimo;

namespace {

void setAlwaysOnTop(std::optional<QVariant> value) {
    UserDefaults::standard().remove(UserDefaults::kGalleryAlwaysOnTopKey);
    if (value && value->typeId() == QMetaType::Bool)
        UserDefaults::standard().setBool(UserDefaults::kGalleryAlwaysOnTopKey, value->toBool());
    else if (value)
        UserDefaults::standard().setString(UserDefaults::kGalleryAlwaysOnTopKey, value->toString());
}

bool floats(const QWidget& w) {
    return w.windowFlags().testFlag(Qt::WindowStaysOnTopHint);
}

TEST(GalleryWindowLayer, LevelsFollowTheAlwaysOnTopSetting) {
    struct Case {
        const char* name;
        std::optional<QVariant> setting;
        int gallery, auxiliary;
    } cases[] = {
        {"absent floats", std::nullopt, 3, 4},
        {"a string counts as absent", QVariant(QStringLiteral("no")), 3, 4},
        {"on", QVariant(true), 3, 4},
        {"off", QVariant(false), 0, 0},
    };
    for (const Case& c : cases) {
        setAlwaysOnTop(c.setting);
        QWidget gallery, settings;
        GalleryWindowLayer::registerWindow(&gallery, false);
        GalleryWindowLayer::registerWindow(&settings, true);
        EXPECT_EQ(GalleryWindowLayer::level(&gallery), c.gallery) << c.name;
        EXPECT_EQ(GalleryWindowLayer::level(&settings), c.auxiliary) << c.name;
        EXPECT_EQ(floats(gallery), c.gallery > 0) << c.name;
        EXPECT_EQ(GalleryWindowLayer::onAllWorkspaces(&gallery), c.gallery > 0) << c.name;
    }
    setAlwaysOnTop(std::nullopt);
}

TEST(GalleryWindowLayer, RefreshMovesEveryLiveWindowAtOnce) {
    setAlwaysOnTop(QVariant(true));
    QWidget gallery;
    auto settings = std::make_unique<QWidget>();
    auto preview = std::make_unique<QWidget>();
    GalleryWindowLayer::registerWindow(&gallery, false);
    GalleryWindowLayer::registerWindow(settings.get(), true);
    GalleryWindowLayer::registerWindow(preview.get(), true);
    // A later registration keeps the first auxiliary flag.
    GalleryWindowLayer::registerWindow(preview.get(), false);
    EXPECT_EQ(GalleryWindowLayer::level(preview.get()), 4);

    settings.reset();
    setAlwaysOnTop(QVariant(false));
    GalleryWindowLayer::refresh();
    EXPECT_FALSE(GalleryWindowLayer::isRegistered(settings.get()));
    EXPECT_EQ(GalleryWindowLayer::level(&gallery), 0);
    EXPECT_EQ(GalleryWindowLayer::level(preview.get()), 0);
    EXPECT_FALSE(GalleryWindowLayer::onAllWorkspaces(&gallery));
    EXPECT_FALSE(floats(gallery));

    setAlwaysOnTop(QVariant(true));
    GalleryWindowLayer::refresh();
    EXPECT_EQ(GalleryWindowLayer::level(&gallery), 3);
    EXPECT_EQ(GalleryWindowLayer::level(preview.get()), 4);
    setAlwaysOnTop(std::nullopt);
}

TEST(UpdateWindowPresenter, LiftsUpdaterWindowsOnlyWhileACheckRunsAndPutsThemBack) {
    QWidget offer, ownWindow, high;
    GalleryWindowLayer::applyLevel(&offer, 0, false);
    GalleryWindowLayer::applyLevel(&high, 8, false);
    UpdateWindowPresenter presenter([&](QWidget* w) { return w == &offer || w == &high; });

    offer.show();
    ownWindow.show();
    EXPECT_EQ(GalleryWindowLayer::level(&offer), 0) << "no check asked for: left alone";

    presenter.setForegroundRequested(true);
    presenter.bringExistingUpdateForward();
    EXPECT_EQ(GalleryWindowLayer::level(&offer), 5);
    EXPECT_TRUE(GalleryWindowLayer::onAllWorkspaces(&offer));
    EXPECT_EQ(GalleryWindowLayer::level(&ownWindow), 0) << "not an updater window";

    high.show();
    presenter.bringExistingUpdateForward();
    EXPECT_EQ(GalleryWindowLayer::level(&high), 8) << "a higher level is kept";

    presenter.willFinishUpdateSession();
    EXPECT_FALSE(presenter.foregroundRequested());
    EXPECT_EQ(GalleryWindowLayer::level(&offer), 0) << "the state from before the first lift";
    EXPECT_FALSE(GalleryWindowLayer::onAllWorkspaces(&offer));
    EXPECT_EQ(GalleryWindowLayer::level(&high), 8);

    UpdateWindowPresenter blind;
    blind.setForegroundRequested(true);
    blind.bringExistingUpdateForward();
    EXPECT_EQ(GalleryWindowLayer::level(&offer), 0) << "without a recogniser nothing is the updater's";
}

} // namespace
