#include "shell/SourceStore.h"

#include "platform/Bookmark.h"
#include "platform/JsonFile.h"
#include "support/ShownText.h"
#include "support/TestEnvironment.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QTimer>
#include <gtest/gtest.h>

using namespace vennimo;
using namespace vennimo::test;

namespace {

QString home() {
    return qEnvironmentVariable("HOME");
}

void writeUserDirs(const QByteArray& lines) {
    writeFile(qEnvironmentVariable("XDG_CONFIG_HOME") + QStringLiteral("/user-dirs.dirs"), lines);
}

Photo photoAt(const QString& path) {
    Photo photo;
    photo.id = path;
    photo.path = path;
    return photo;
}

SourceFolder chosen(const QString& id, const QString& path, bool enabled = true) {
    return {id, std::nullopt, path, std::nullopt, enabled};
}

} // namespace

TEST(SourceStoreTest, UnreadableListSurvivesStartAndFailedSaveByteForByte) {
    const QString storage = storageFolder();
    const QString file = storage + QStringLiteral("/sources.json");
    const QList<QByteArray> corrupt{
        "[{\"id\":\"desktop\",\"path\":",   // cut short
        "{\"id\":\"desktop\"}",             // not an array
        "[{\"id\":\"a\",\"path\":\"/x\"}]", // "enabled" missing
        "[{\"id\":\"a\",\"path\":\"/x\",\"enabled\":true,\"bookmark\":\"*not base64*\"}]",
    };
    for (const QByteArray& bytes : corrupt) {
        SCOPED_TRACE(bytes.toStdString());
        writeFile(file, bytes);
        SourceStore store(storage, home());
        EXPECT_TRUE(store.folders().isEmpty());
        ASSERT_TRUE(store.message().has_value());
        EXPECT_TRUE(store.message()->startsWith(QString::fromUtf8(SourceStore::kLoadErrorPrefix)));
        EXPECT_TRUE(store.resolvedRoots().isEmpty());
        EXPECT_EQ(readFile(file), bytes);

        store.setFileWriter(
            [](const QString& path, const QByteArray&) -> Status { return Error::fromErrno(ENOSPC, path); });
        const QString folder = makeFolder(QStringLiteral("Pictures"));
        EXPECT_FALSE(store.save({chosen(QStringLiteral("A"), folder)}).ok());
        EXPECT_EQ(readFile(file), bytes);
        EXPECT_TRUE(store.message().has_value());

        // Saving the very list it already holds (empty) still writes while the load failed.
        store.setFileWriter(JsonFile::writeAtomically);
        ASSERT_TRUE(store.save({}).ok());
        EXPECT_EQ(readFile(file), QByteArray("[]"));
        EXPECT_FALSE(store.message().has_value());
    }
}

TEST(SourceStoreTest, UserDirsFileDecidesTheDefaultFolders) {
    const QString storage = storageFolder();
    struct Case {
        const char* name;
        QByteArray userDirs;
        QStringList made;
        QList<SourceRoot> roots;
    };
    const QList<Case> cases{
        {"no user-dirs file: the home's Desktop and Downloads",
         {},
         {QStringLiteral("Desktop"), QStringLiteral("Downloads")},
         {{QStringLiteral("桌面"), home() + QStringLiteral("/Desktop")},
          {QStringLiteral("下载"), home() + QStringLiteral("/Downloads")}}},
        {"renamed folders",
         "XDG_DESKTOP_DIR=\"$HOME/Schreibtisch\"\nXDG_DOWNLOAD_DIR=\"$HOME/Downloads/Web\"\n",
         {QStringLiteral("Schreibtisch"), QStringLiteral("Downloads/Web")},
         {{QStringLiteral("下载"), home() + QStringLiteral("/Downloads/Web")},
          {QStringLiteral("桌面"), home() + QStringLiteral("/Schreibtisch")}}},
        {"a missing folder is handed on but not created",
         "XDG_DESKTOP_DIR=\"$HOME/Gone\"\nXDG_DOWNLOAD_DIR=\"$HOME/Here\"\n",
         {QStringLiteral("Here")},
         {{QStringLiteral("桌面"), home() + QStringLiteral("/Gone")},
          {QStringLiteral("下载"), home() + QStringLiteral("/Here")}}},
        {"a folder switched off by pointing at the home is not watched",
         "XDG_DESKTOP_DIR=\"$HOME/\"\nXDG_DOWNLOAD_DIR=\"$HOME/Dl\"\n",
         {QStringLiteral("Dl")},
         {{QStringLiteral("下载"), home() + QStringLiteral("/Dl")}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QDir(home()).removeRecursively();
        QDir().mkpath(home());
        QFile::remove(storage + QStringLiteral("/sources.json"));
        if (!c.userDirs.isEmpty())
            writeUserDirs(c.userDirs);
        else
            QFile::remove(qEnvironmentVariable("XDG_CONFIG_HOME") + QStringLiteral("/user-dirs.dirs"));
        for (const QString& made : c.made)
            QDir(home()).mkpath(made);

        SourceStore store(storage, home());
        ASSERT_EQ(store.folders().size(), 2);
        EXPECT_EQ(store.folders()[0].kind, QStringLiteral("desktop"));
        EXPECT_EQ(store.folders()[1].kind, QStringLiteral("downloads"));
        EXPECT_FALSE(QFile::exists(storage + QStringLiteral("/sources.json")));
        EXPECT_EQ(store.resolvedRoots(), c.roots);
        EXPECT_FALSE(QDir(home() + QStringLiteral("/Gone")).exists());
        for (const SourceRoot& root : c.roots) {
            const bool missing = !QFileInfo(root.path).isDir();
            const QString id =
                root.name == QStringLiteral("桌面") ? QStringLiteral("desktop") : QStringLiteral("downloads");
            EXPECT_EQ(store.issues().value(id),
                      missing ? QString::fromUtf8(SourceStore::kUnreachableIssue) : QString());
        }
        // The first resolution stores the list; a later start reads it back.
        ASSERT_TRUE(QFile::exists(storage + QStringLiteral("/sources.json")));
        SourceStore again(storage, home());
        EXPECT_EQ(again.folders(), store.folders());
        EXPECT_FALSE(again.message().has_value());
    }
}

TEST(SourceStoreTest, BuiltInFolderFollowsTheUserDirWhateverPathWasStored) {
    const QString storage = storageFolder();
    writeUserDirs("XDG_DESKTOP_DIR=\"$HOME/Desk\"\n");
    QDir(home()).mkpath(QStringLiteral("Desk"));
    const QByteArray stale =
        R"([{"id":"desktop","kind":"desktop","path":"/Users/old/Desktop","enabled":true},)"
        R"({"id":"downloads","kind":"downloads","path":"/Users/old/Downloads","enabled":false}])";
    writeFile(storage + QStringLiteral("/sources.json"), stale);
    SourceStore store(storage, home());
    EXPECT_EQ(store.resolvedRoots(),
              (QList<SourceRoot>{{QStringLiteral("桌面"), home() + QStringLiteral("/Desk")}}));

    // The grant check looks in the same place, so the stale stored path refuses nothing.
    std::optional<SourceStore::GrantRequest> asked;
    store.setChooseFolder([&](const SourceStore::GrantRequest& request) {
        asked = request;
        return std::optional<QString>(request.directory);
    });
    store.setAlert([](const QString& message, const QString&) { ADD_FAILURE() << message.toStdString(); });
    const QString photo = home() + QStringLiteral("/Desk/a.jpg");
    EXPECT_TRUE(store.authorizeDeletion({photoAt(photo), photoAt(home() + QStringLiteral("/Desk/b.jpg"))}));
    ASSERT_TRUE(asked.has_value());
    EXPECT_EQ(asked->title, QStringLiteral("授权删除「桌面」中的照片"));
    EXPECT_EQ(asked->prompt, QStringLiteral("授权并继续删除"));
    EXPECT_EQ(store.folders()[0].kind, QStringLiteral("desktop"));
    EXPECT_TRUE(store.folders()[0].bookmark.has_value());
    // Granted once: the next trash asks nothing.
    asked.reset();
    EXPECT_TRUE(store.authorizeDeletion({photoAt(photo)}));
    EXPECT_FALSE(asked.has_value());
    // A photo in no enabled folder (Downloads is off) is refused with the message.
    EXPECT_FALSE(store.authorizeDeletion({photoAt(home() + QStringLiteral("/Downloads/c.jpg"))}));
    EXPECT_EQ(store.message(), QString::fromUtf8(SourceStore::kSourceChangedMessage));
}

TEST(SourceStoreTest, GrantCheckAsksOncePerDeepestFolderAndRefusesOtherChoices) {
    const QString storage = storageFolder();
    const QString outer = makeFolder(QStringLiteral("outer"));
    const QString inner = makeFolder(QStringLiteral("outer/inner"));
    const QString elsewhere = makeFolder(QStringLiteral("elsewhere"));
    const QString link = TestEnvironment::root() + QStringLiteral("/link-to-inner");
    ASSERT_TRUE(QFile::link(inner, link));

    struct Case {
        const char* name;
        std::optional<QString> answer;
        bool granted;
        QString alert;
    };
    const QList<Case> cases{
        {"cancelled", std::nullopt, false, {}},
        {"another folder", elsewhere, false, QStringLiteral("未删除照片")},
        {"the folder through a link", link, true, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QFile::remove(storage + QStringLiteral("/sources.json"));
        SourceStore store(storage, home());
        ASSERT_TRUE(
            store.save({chosen(QStringLiteral("O"), outer), chosen(QStringLiteral("I"), inner)}).ok());
        QStringList directories;
        store.setChooseFolder([&](const SourceStore::GrantRequest& request) {
            directories.append(request.directory);
            return c.answer;
        });
        QString alert;
        store.setAlert([&](const QString& message, const QString& informative) {
            alert = message;
            EXPECT_EQ(informative, QStringLiteral("请选择原来的源文件夹：") + inner);
        });
        const bool answer = store.authorizeDeletion(
            {photoAt(inner + QStringLiteral("/a.jpg")), photoAt(inner + QStringLiteral("/deeper/b.jpg"))});
        EXPECT_EQ(answer, c.granted);
        EXPECT_EQ(directories, QStringList{inner});
        EXPECT_EQ(alert, c.alert);
        if (c.granted) {
            EXPECT_EQ(store.folders()[1].path, link);
            EXPECT_TRUE(store.folders()[1].bookmark.has_value());
            SourceStore reread(storage, home());
            EXPECT_EQ(reread.folders(), store.folders());
        } else {
            EXPECT_FALSE(store.folders()[1].bookmark.has_value());
        }
    }
}

// The alert the store shows by itself names the folder's path as it is written, even a path
// that looks like markup.
TEST(SourceStoreTest, TheOwnAlertShowsTheFolderPathAsWritten) {
    const QString storage = storageFolder();
    const QString folder = makeFolder(QStringLiteral("<b>相册 & <i>旧"));
    SourceStore store(storage, home());
    ASSERT_TRUE(store.save({chosen(QStringLiteral("F"), folder)}).ok());
    store.setChooseFolder(
        [](const SourceStore::GrantRequest&) { return makeFolder(QStringLiteral("other")); });
    QStringList shown;
    QTimer::singleShot(0, [&shown] {
        auto* alert = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        ASSERT_NE(alert, nullptr);
        shown = shownTexts(*alert);
        alert->buttons().constFirst()->click();
    });
    EXPECT_FALSE(store.authorizeDeletion({photoAt(folder + QStringLiteral("/a.jpg"))}));
    EXPECT_TRUE(shown.contains(QStringLiteral("请选择原来的源文件夹：") + folder))
        << shown.join(u'|').toStdString();
}

TEST(SourceStoreTest, SavingNotifiesAndAddingMergesListedFolders) {
    const QString storage = storageFolder();
    const QString a = makeFolder(QStringLiteral("a"));
    const QString b = makeFolder(QStringLiteral("b"));
    SourceStore store(storage, home());
    QList<QList<SourceRoot>> told;
    store.setOnChange([&](const QList<SourceRoot>& roots) { told.append(roots); });
    const QList<SourceFolder> list{chosen(QStringLiteral("A"), a, false)};
    ASSERT_TRUE(store.save(list).ok());
    ASSERT_TRUE(store.save(list).ok()); // unchanged: nothing happens
    ASSERT_EQ(told.size(), 1);
    EXPECT_TRUE(told[0].isEmpty());

    writeFile(TestEnvironment::root() + QStringLiteral("/plain-file"), "x");
    auto merged = store.adding({a, b, TestEnvironment::root() + QStringLiteral("/plain-file")}, list);
    ASSERT_TRUE(merged.ok());
    ASSERT_EQ(merged->size(), 2);
    EXPECT_TRUE((*merged)[0].enabled);
    EXPECT_EQ((*merged)[0].id, QStringLiteral("A"));
    EXPECT_TRUE((*merged)[0].bookmark.has_value());
    EXPECT_EQ((*merged)[1].path, b);
    EXPECT_EQ((*merged)[1].id, (*merged)[1].id.toUpper());
    EXPECT_FALSE(store.adding({TestEnvironment::root() + QStringLiteral("/missing")}, list).ok());

    ASSERT_TRUE(store.save(*merged).ok());
    ASSERT_EQ(told.size(), 2);
    EXPECT_EQ(told[1].size(), 2);
    EXPECT_EQ(Bookmark::openAccessCount() > 0, true);
}
