#include "platform/PhotosLibrary.h"

#include <QMimeData>
#include <gtest/gtest.h>

using namespace vennimo;

TEST(PhotosLibrary, DefaultIsRestrictedAndReferencesAreReadStrictly) {
    auto library = PhotosLibrary::shared();
    EXPECT_EQ(library->authorizationStatus(), PhotosAuthorization::Restricted);
    EXPECT_EQ(library->requestAuthorization(), PhotosAuthorization::Restricted);
    const Status deleted = library->deleteAssets({QStringLiteral("A/L0/001")});
    ASSERT_FALSE(deleted.ok());
    EXPECT_EQ(deleted.error().domain, QStringLiteral("Vennimo.Photos"));

    QMimeData data;
    data.setData(PhotosLibrary::pasteboardType(),
                 R"([{"localIdentifier":"A","libraryURL":"file:///x"},7,{"localIdentifier":3}])");
    const auto references = library->pasteboardReferences(data);
    ASSERT_EQ(references.size(), 3);
    EXPECT_EQ(references[0], (PhotosAssetReference{QStringLiteral("A"), QStringLiteral("file:///x")}));
    EXPECT_FALSE(references[1].has_value()) << "an entry that is no object";
    EXPECT_EQ(references[2], PhotosAssetReference{}) << "ill-typed fields are absent";
    data.setData(PhotosLibrary::pasteboardType(), R"({"localIdentifier":"B"})");
    EXPECT_EQ(library->pasteboardReferences(data).value(0),
              (PhotosAssetReference{QStringLiteral("B"), std::nullopt}));
    data.setData(PhotosLibrary::pasteboardType(), "{not json");
    EXPECT_TRUE(library->pasteboardReferences(data).isEmpty());
}
