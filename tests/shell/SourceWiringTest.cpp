#include "shell/SourceWiring.h"

#include "model/GalleryModel.h"
#include "shell/SourceStore.h"
#include "support/TestEnvironment.h"

#include <gtest/gtest.h>

using namespace vennimo;
using namespace vennimo::test;

TEST(SourceWiringTest, ModelFollowsTheListAndAsksTheStoreBeforeATrash) {
    const QString pictures = makeFolder(QStringLiteral("Pictures"));
    auto store = std::make_unique<SourceStore>(storageFolder(), qEnvironmentVariable("HOME"));
    GalleryModel model(std::make_unique<Indexer>(store->resolvedRoots(), storageFolder()), true);
    connectSourceStore(*store, model);

    ASSERT_TRUE(store->save({{QStringLiteral("P"), std::nullopt, pictures, std::nullopt, true}}).ok());
    EXPECT_EQ(model.configuredRoots(), (QList<SourceRoot>{{QStringLiteral("Pictures"), pictures}}));

    Photo inside;
    inside.id = inside.path = pictures + QStringLiteral("/a.jpg");
    Photo outside;
    outside.id = outside.path = TestEnvironment::root() + QStringLiteral("/elsewhere/b.jpg");
    int asked = 0;
    store->setChooseFolder([&](const SourceStore::GrantRequest& request) {
        ++asked;
        return std::optional<QString>(request.directory);
    });
    ASSERT_TRUE(model.authorizeTrash());
    EXPECT_TRUE(model.authorizeTrash()({inside}));
    EXPECT_EQ(asked, 1);
    EXPECT_FALSE(model.authorizeTrash()({inside, outside}));
    EXPECT_EQ(store->message(), QString::fromUtf8(SourceStore::kSourceChangedMessage));

    // Without the store every trash is refused.
    store.reset();
    EXPECT_FALSE(model.authorizeTrash()({inside}));
}
