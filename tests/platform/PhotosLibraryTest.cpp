#include "platform/PhotosLibrary.h"

#include <gtest/gtest.h>

using namespace vennimo;

TEST(PhotosLibrary, DeletionIsRefusedAndPasteboardReferencesAreReadStrictly) {
    auto library = PhotosLibrary::shared();
    EXPECT_EQ(library->deleteAssets({QStringLiteral("A/L0/001")}).error().domain,
              QStringLiteral("Vennimo.Photos"));
    EXPECT_EQ(library->pasteboardReferences(
                  R"([{"localIdentifier":"A","libraryURL":"file:///x"},7,{"localIdentifier":3}])"),
              (QList<std::optional<PhotosAssetReference>>{PhotosAssetReference{"A", "file:///x"},
                                                          std::nullopt, PhotosAssetReference{}}))
        << "an entry that is no object is absent, ill-typed fields are absent";
    EXPECT_EQ(library->pasteboardReferences(R"({"localIdentifier":"B"})").value(0),
              (PhotosAssetReference{"B", std::nullopt}));
    EXPECT_TRUE(
        library->pasteboardReferences(QByteArray(PhotosLibrary::kMaxReferenceBytes + 1, ' ')).isEmpty());
}
