#include "core/LibraryEncoding.h"
#include "platform/JsonFile.h"

#include <QJsonDocument>
#include <gtest/gtest.h>

using namespace vennimo;

TEST(LibraryEncoding, MatchesTheRecordCodingForEveryField) {
    Photo bare{"1-2", "/p/a.jpg", "Src", 1.5, 2.25, 3, "/s/thumbnails/1-2.jpg"};
    Photo full = bare;
    full.id = "66306-1097016";
    full.path = QString::fromUtf8("/图片/quote\" back\\slash\ttab\x01ctl é.jpg");
    full.added = 818287123.264244441;
    full.modified = -0.000001;
    full.size = 9'007'199'254'740'993;
    full.thumbnailModified = 1e-9;
    full.sourceRoot = "/root";
    full.created = 1234567890.123456789;
    full.usageID = "ABCD-1097016";
    full.baselineImported = false;
    full.photosOrigin = PhotosOrigin{"local/id", "/lib.photoslibrary"};
    Photo halfOrigin = bare;
    halfOrigin.photosOrigin = PhotosOrigin{std::nullopt, "/only/path"};
    halfOrigin.baselineImported = true;

    for (const Library& library :
         {Library{}, Library{{bare, full, halfOrigin}, true, QStringList{"/a", "/b\"c"}},
          Library{{full}, false, QStringList{}}}) {
        const QByteArray bytes = encodeLibrary(library);
        QJsonParseError error{};
        const QJsonDocument document = QJsonDocument::fromJson(bytes, &error);
        ASSERT_EQ(error.error, QJsonParseError::NoError) << bytes.toStdString();
        EXPECT_EQ(document.object(), toJson(library)) << "same members and values as toJson";
        EXPECT_EQ(libraryFromJson(document.object()).value(), library) << "every value reads back exactly";
    }

    // With plain texts and numbers both encoders agree byte for byte, so the keys are in order.
    Photo plain = halfOrigin;
    plain.created = 7.5;
    plain.thumbnailModified = 818287123.25;
    plain.sourceRoot = "/root";
    plain.usageID = "U-2";
    plain.photosOrigin = PhotosOrigin{"id", "/lib"};
    const Library simple{{plain, bare}, true, QStringList{"/x"}};
    EXPECT_EQ(encodeLibrary(simple), JsonFile::encode(toJson(simple)));
}
