#include "platform/PhotosLibrary.h"

#include <QMimeData>
#include <gtest/gtest.h>

using namespace vennimo;

TEST(PhotosLibrary, DeletionIsRefusedAndPasteboardReferencesAreReadStrictly) {
    auto library = PhotosLibrary::shared();
    EXPECT_EQ(library->deleteAssets({QStringLiteral("A/L0/001")}).error().domain,
              QStringLiteral("Vennimo.Photos"));
    QMimeData data;
    data.setData(PhotosLibrary::pasteboardType(),
                 R"([{"localIdentifier":"A","libraryURL":"file:///x"},7,{"localIdentifier":3}])");
    EXPECT_EQ(library->pasteboardReferences(data),
              (QList<std::optional<PhotosAssetReference>>{PhotosAssetReference{"A", "file:///x"},
                                                          std::nullopt, PhotosAssetReference{}}))
        << "an entry that is no object is absent, ill-typed fields are absent";
    data.setData(PhotosLibrary::pasteboardType(), R"({"localIdentifier":"B"})");
    EXPECT_EQ(library->pasteboardReferences(data).value(0), (PhotosAssetReference{"B", std::nullopt}));
}
