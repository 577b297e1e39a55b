#include "DropTestHelpers.h"

#include "dragdrop/PegFolderDelivery.h"
#include "dragdrop/PegNativePayload.h"

#include <QDir>
#include <QMimeData>
#include <QUrl>
#include <gtest/gtest.h>

using namespace vennimo;
using namespace vennimo::test;

namespace {

Photo photo(const QString& id, const QString& path) {
    Photo p;
    p.id = id;
    p.path = path;
    return p;
}

} // namespace

TEST(PegNativePayload, PutsTheLeaderFirstAndRefusesABadLeaderAMissingIdOrTheSamePhotoTwice) {
    const QList<Photo> photos{photo("a", "/x/a.jpg"), photo("b", "/x/b.png"), photo("c", "/x/c")};
    const auto payload = PegNativePayload::make(photos, 1);
    ASSERT_TRUE(payload);
    EXPECT_EQ(payload->ids(), (QStringList{"b", "a", "c"}));
    EXPECT_EQ(payload->suggestedName(), "b.png") << "the pressed print's own file name";

    EXPECT_FALSE(PegNativePayload::make({}, 0));
    EXPECT_FALSE(PegNativePayload::make(photos, -1));
    EXPECT_FALSE(PegNativePayload::make(photos, 3));
    EXPECT_FALSE(PegNativePayload::make({photo("a", "/x/a.jpg"), photo("", "/x/b.jpg")}, 0));
    EXPECT_FALSE(PegNativePayload::make({photo("a", "/x/a.jpg"), photo("a", "/x/a.jpg")}, 0));
}

TEST(PegNativePayload, OffersTheDirectSavePromiseAloneAndKnowsItsOwnData) {
    const auto payload = PegNativePayload::make({photo("a", "/x/a.jpg"), photo("b", "/x/b.jpg")}, 0);
    ASSERT_TRUE(payload);
    const auto delivery = std::make_shared<PegFolderDelivery>(QList<Photo>{}, QString(), nullptr);
    const auto data = payload->makeMimeData(delivery, {});
    // Beside a file list, a file manager would move or copy the file itself and never say where.
    EXPECT_EQ(data->formats(), QStringList{"XdndDirectSave0"});
    EXPECT_FALSE(data->hasFormat("text/uri-list"));
    EXPECT_TRUE(payload->complete(*data));

    QMimeData plain;
    plain.setData("XdndDirectSave0", "x");
    EXPECT_FALSE(payload->complete(plain));
    const auto other = PegNativePayload::make({photo("b", "/x/b.jpg"), photo("a", "/x/a.jpg")}, 0);
    EXPECT_FALSE(other->complete(*data)) << "another drag's ids";
    EXPECT_FALSE(payload->complete(*payload->makeMimeData(nullptr, {}))) << "no delivery to answer with";
}

TEST(PegNativePayload, TheTargetsFileUriNamesTheFolderThatIsMovedIntoAndRefusalsAreAnsweredE) {
    EXPECT_EQ(PegDirectSaveMimeData::folderUri("file:///home/u/Album/a.jpg"), "file:///home/u/Album");
    EXPECT_EQ(PegDirectSaveMimeData::folderUri(QByteArray("file:///home/u/a.jpg\0", 21)), "file:///home/u");
    EXPECT_EQ(PegDirectSaveMimeData::folderUri("file:///a.jpg"), "file:///");
    EXPECT_EQ(PegDirectSaveMimeData::folderUri("a.jpg"), "a.jpg");

    const QString storage = makeFolder("payload-storage");
    const QString folder = makeFolder("payload-target");
    QStringList movedTo;
    const auto delivery = std::make_shared<PegFolderDelivery>(
        QList<Photo>{photo("a", "/x/a.jpg")}, storage, [&](const QList<Photo>&, const QString& into, int) {
            movedTo.append(into);
            return std::optional<QStringList>(QStringList{"a.jpg"});
        });
    QList<std::pair<QByteArray, QString>> answers;
    const auto payload = PegNativePayload::make(delivery->photos(), 0);
    const auto data = payload->makeMimeData(delivery, [&](const QByteArray& answer, const QString& error) {
        answers.append({answer, error});
    });

    EXPECT_EQ(data->answerFor(QUrl::fromLocalFile(storage + "/a.jpg").toEncoded()), "E")
        << "never into the storage folder";
    EXPECT_EQ(data->answerFor(QUrl::fromLocalFile(folder + "/../payload-target/a.jpg").toEncoded()), "E");
    EXPECT_EQ(data->answerFor(QByteArray()), "E") << "no destination written";
    // A raw NUL before the end would name the folder before it once the file name is split off.
    QDir().mkpath(folder + "/sub");
    EXPECT_EQ(data->answerFor(QUrl::fromLocalFile(folder + "/sub").toEncoded() + QByteArray("\0/a.jpg", 7)),
              "E");
    EXPECT_EQ(data->answerFor(QUrl::fromLocalFile(folder + "/sub").toEncoded() + QByteArray("/a\0.jpg", 7)),
              "E");
    EXPECT_TRUE(PegDirectSaveMimeData::folderUri(QByteArray("file:///home\0/a.jpg", 19)).isEmpty());
    EXPECT_TRUE(movedTo.isEmpty());
    ASSERT_EQ(answers.size(), 5);
    EXPECT_FALSE(answers[0].second.isEmpty()) << "the user learns why; the file manager shows nothing";

    EXPECT_EQ(data->answerFor(QUrl::fromLocalFile(folder + "/a.jpg").toEncoded() + '\0'), "S");
    EXPECT_EQ(data->answerFor(QUrl::fromLocalFile(folder + "/a.jpg").toEncoded()), "S");
    EXPECT_EQ(movedTo, QStringList{QDir(folder).canonicalPath()}) << "one move per drop";

    // Off X11 nobody wrote a destination on the drag's selection owner, so asking moves nothing.
    const auto unanswered = payload->makeMimeData(
        std::make_shared<PegFolderDelivery>(delivery->photos(), storage,
                                            [&](const QList<Photo>&, const QString& into, int) {
                                                movedTo.append(into);
                                                return std::optional<QStringList>(QStringList{"a.jpg"});
                                            }),
        {});
    EXPECT_EQ(unanswered->data("XdndDirectSave0"), "E");
    EXPECT_EQ(movedTo.size(), 1);
}
